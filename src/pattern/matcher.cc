// Hyperscan-backed confirmation of candidate strings.
#include "pattern/matcher.h"

#include <hs/hs.h>

#include <cstring>
#include <utility>

#include "common/strfmt.h"
#include "pattern/collapse.h"
#include "pattern/parse.h"

namespace quarn {

namespace {

// Caseless, at most one match reported per scan, and patterns that can match the empty
// string are accepted rather than refused.
constexpr unsigned kCompileFlags = HS_FLAG_CASELESS | HS_FLAG_SINGLEMATCH | HS_FLAG_ALLOWEMPTY;

// Block scans must see every match: the first one may lie outside any key.
constexpr unsigned kMultilineFlags = HS_FLAG_CASELESS | HS_FLAG_ALLOWEMPTY | HS_FLAG_MULTILINE;

int on_match(unsigned int, unsigned long long, unsigned long long, unsigned int, void* ctx) {
  *static_cast<bool*>(ctx) = true;
  return 1;  // stop the scan: one match is all we need
}

}  // namespace

compiled_pattern::~compiled_pattern() { reset(); }

compiled_pattern::compiled_pattern(compiled_pattern&& other) noexcept
    : db_(std::move(other.db_)), scratch_(std::exchange(other.scratch_, nullptr)) {}

compiled_pattern& compiled_pattern::operator=(compiled_pattern&& other) noexcept {
  if (this != &other) {
    reset();
    db_ = std::move(other.db_);
    scratch_ = std::exchange(other.scratch_, nullptr);
  }
  return *this;
}

void compiled_pattern::reset() {
  if (scratch_) hs_free_scratch(scratch_);
  scratch_ = nullptr;
  db_.reset();
}

size_t compiled_pattern::database_bytes() const {
  size_t bytes = 0;
  return db_ && hs_database_size(db_.get(), &bytes) == HS_SUCCESS ? bytes : 0;
}

bool compiled_pattern::adopt(std::shared_ptr<hs_database> db, std::string& err) {
  reset();
  db_ = std::move(db);
  if (!db_) return true;
  if (hs_alloc_scratch(db_.get(), &scratch_) != HS_SUCCESS) {
    scratch_ = nullptr;
    err = matcher_error::kScratch;
    return false;
  }
  return true;
}

bool compiled_pattern::matches(const char* text, size_t len) {
  if (!ready()) return false;
  bool matched = false;
  // The return code only tells whether on_match stopped the scan early, which is the
  // normal case; the flag carries the answer.
  hs_scan(db_.get(), text, static_cast<unsigned>(len), 0, scratch_, on_match, &matched);
  return matched;
}

bool compiled_pattern::scan(const char* text, size_t len, match_handler handler,
                            void* context) {
  if (!ready() || len > UINT32_MAX) return false;
  // HS_SCAN_TERMINATED (the handler stopped the scan) is a normal outcome.
  const hs_error_t rc =
      hs_scan(db_.get(), text, static_cast<unsigned>(len), 0, scratch_, handler, context);
  return rc == HS_SUCCESS || rc == HS_SCAN_TERMINATED;
}

// The library refuses any repetition bound above this at once, with its own message,
// before doing any costly work; such patterns are left to it.
constexpr uint32_t kLibraryMaxBound = 32767;

bool bound_over_library_limit(const re_elem& e) {
  if (e.min_repeat > kLibraryMaxBound) return true;
  if (e.max_repeat > kLibraryMaxBound && e.max_repeat != REPEAT_MAX) return true;
  for (const auto& child : e.children)
    if (bound_over_library_limit(*child)) return true;
  return false;
}

uint64_t pattern_text_cost(std::string_view pattern) {
  re_elem_ptr tree = regex_parse(pattern, nullptr);
  if (!tree || bound_over_library_limit(*tree)) return 0;
  return pattern_cost(tree.get());
}

bool compile_with_flags(std::string_view pattern, unsigned flags, compiled_pattern& out,
                        std::string& err) {
  hs_platform_info_t platform;
  if (hs_populate_platform(&platform) != HS_SUCCESS) {
    err = matcher_error::kPlatform;
    return false;
  }
  out.db_.reset();
  // The library reads a C string, so an embedded NUL would silently cut the pattern.
  const std::string text(pattern);
  hs_compile_error_t* compile_err = nullptr;
  if (text.size() != strlen(text.c_str())) {
    err = str_fmt(matcher_error::kCompile, "pattern contains a NUL byte", text.c_str());
    return false;
  }
  hs_database* db = nullptr;
  if (hs_compile(text.c_str(), flags, HS_MODE_BLOCK, &platform, &db, &compile_err) !=
      HS_SUCCESS) {
    err = str_fmt(matcher_error::kCompile,
                  compile_err && compile_err->message ? compile_err->message : "unknown",
                  text.c_str());
    if (compile_err) hs_free_compile_error(compile_err);
    return false;
  }
  return out.adopt(std::shared_ptr<hs_database>(db, hs_free_database), err);
}

bool pattern_compile(std::string_view pattern, compiled_pattern& out, std::string& err) {
  const uint64_t cost = pattern_text_cost(pattern);
  if (cost > kCompileBudget) {
    out.reset();
    err = str_fmt(matcher_error::kTooComplex, static_cast<unsigned long long>(cost),
                  static_cast<unsigned long long>(kCompileBudget));
    return false;
  }
  return compile_with_flags(pattern, kCompileFlags, out, err);
}

bool pattern_compile_multiline(std::string_view pattern, compiled_pattern& out,
                               std::string& err) {
  return compile_with_flags(pattern, kMultilineFlags, out, err);
}

bool pattern_match(compiled_pattern* match, compiled_pattern* exclude, const char* text,
                   size_t len) {
  if (!match || !match->has_database()) return true;
  if (!match->matches(text, len)) return false;
  if (exclude && exclude->ready() && exclude->matches(text, len)) return false;
  return true;
}

}  // namespace quarn
