// Block scans: engine matches mapped back to the lines whose keys they lie in.
#include "pattern/block_matcher.h"

#include <algorithm>
#include <cstring>

#include "common/strfmt.h"
#include "pattern/block_render.h"
#include "pattern/collapse.h"

namespace quarn {

namespace {

// The line the last report fell in, cached: reports come mostly in ascending end order
// and often several in one line (or its annotation), so most of them cost a few
// compares. Only the results are promised by the engine, not their order.
struct scan_state {
  const char* base;
  size_t length;
  std::vector<found_line>* out;
  size_t first_out;        // out's size when the block scan began
  bool have_line = false;  // the fields below describe a line
  bool taken = false;      // that line is already in out
  size_t line_start = 0;
  size_t line_end = 0;   // offset of its line feed, or the block length
  size_t key_limit = 0;  // largest end offset of a match inside the key
  bool unordered = false;
  size_t reports = 0;
};

void locate_line(scan_state& s, size_t end) {
  // Past the cached line, its line feed bounds the backward search; otherwise (a report
  // out of order) the block start does.
  const size_t floor = s.have_line && end > s.line_end ? s.line_end + 1 : 0;
  const void* nl = memrchr(s.base + floor, '\n', end - floor);
  s.line_start = nl ? static_cast<size_t>(static_cast<const char*>(nl) - s.base) + 1 : floor;
  const void* next = std::memchr(s.base + end, '\n', s.length - end);
  s.line_end = next ? static_cast<size_t>(static_cast<const char*>(next) - s.base) : s.length;
  const void* tab = std::memchr(s.base + s.line_start, '\t', s.line_end - s.line_start);
  // A match may end just past the key's tab: an end anchor consumed it.
  s.key_limit = tab ? static_cast<size_t>(static_cast<const char*>(tab) - s.base) + 1
                    : s.line_end;
  s.have_line = true;
  s.taken = false;
}

int on_block_match(unsigned int, unsigned long long, unsigned long long to, unsigned int,
                   void* context) {
  scan_state& s = *static_cast<scan_state*>(context);
  ++s.reports;
  const size_t end = static_cast<size_t>(to);
  if (!s.have_line || end < s.line_start || end > s.line_end) locate_line(s, end);
  if (s.taken || end > s.key_limit) return 0;  // a line already found, or an annotation
  s.taken = true;
  const char* line = s.base + s.line_start;
  if (s.out->size() > s.first_out && s.out->back().text >= line) s.unordered = true;
  s.out->push_back(found_line{line, s.line_end - s.line_start});
  return 0;
}

}  // namespace

bool block_matcher::compile(const re_elem& tree, std::string& reason) {
  db_.reset();
  const uint64_t cost = pattern_cost(&tree);
  if (cost > kCompileBudget) {
    reason = str_fmt(block_matcher_error::kTooComplex, static_cast<unsigned long long>(cost),
                     static_cast<unsigned long long>(kCompileBudget));
    return false;
  }
  if (!block_render(tree, &text_)) {
    reason = block_matcher_error::kNoRendering;
    return false;
  }
  if (!pattern_compile_multiline(text_, db_, reason)) return false;
  std::vector<found_line> found;
  scan_state s{"", 0, &found, 0};
  empty_key_matches_ = db_.scan("", 0, on_block_match, &s) && !found.empty();
  return true;
}

bool block_matcher::share(const block_matcher& compiled, std::string& error) {
  if (!db_.adopt(compiled.db_.database(), error)) return false;
  text_ = compiled.text_;
  empty_key_matches_ = compiled.empty_key_matches_;
  return true;
}

bool block_matcher::scan(const char* block, size_t length, std::vector<found_line>& out) {
  // The engine's '^' does not match after a line feed that ends its text, so empty lines
  // at the block's end are left out of the scan and take the answer for an empty key.
  size_t trailing = 0;
  while (trailing < length && block[length - 1 - trailing] == '\n') ++trailing;
  const size_t scanned = length - trailing;
  scan_state s{block, scanned, &out, out.size()};
  const bool ok = db_.scan(block, scanned, on_block_match, &s);
  last_reports_ = s.reports;
  if (!ok) {
    out.resize(s.first_out);
    return false;
  }
  if (empty_key_matches_) {
    for (size_t i = 1; i <= trailing; ++i) out.push_back(found_line{block + scanned + i, 0});
  }
  if (s.unordered) {
    // The engine does not promise end-offset order; restore block order, each line once.
    auto first = out.begin() + static_cast<std::ptrdiff_t>(s.first_out);
    std::sort(first, out.end(),
              [](const found_line& a, const found_line& b) { return a.text < b.text; });
    out.erase(std::unique(first, out.end(),
                          [](const found_line& a, const found_line& b) { return a.text == b.text; }),
              out.end());
  }
  return true;
}

}  // namespace quarn
