// Full-match confirmation of candidate strings, compiled once per search.
//
// Candidates are single lines (string-table keys), so no text holds a line feed; '.'
// in a pattern is not promised to match one.
//
// Order of use: pattern_compile the rendered pattern text (pattern/render.h) into a
// compiled_pattern once; then call pattern_match once per candidate string. Matching is
// case-insensitive, stops at the first match, and accepts patterns that can match the
// empty string.
//
// Ownership: a compiled_pattern owns its scratch space and shares its database, which
// the library never writes once compiled: database() hands it to another
// compiled_pattern (adopt(), on any thread), which allocates scratch of its own, so one
// compilation can serve searches on many threads. The last holder releases it. It is
// movable, not copyable; hold it by value or by unique_ptr. One compiled_pattern serves
// one scan at a time (the scratch space is per-object), so a search context on one
// thread needs no locking.
//
// Budget: the library's compile cannot be interrupted and grows steeply with some
// shapes, so pattern_compile first estimates its cost (pattern_cost of the parsed
// pattern text, pattern/collapse.h) and refuses a pattern over kCompileBudget.
//
// Failures: pattern_compile returns false with one of the four error texts below; after
// a failed compile the object holds no database (a failed scratch allocation keeps the
// new database, released with the object). pattern_match never fails and allocates
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct hs_database;
struct hs_scratch;

namespace quarn {

namespace matcher_error {
inline constexpr const char* kPlatform = "Internal regexp initialization error: platform";
inline constexpr const char* kCompile = "Internal regexp error: %s (%s)";
inline constexpr const char* kScratch = "Internal regexp initialization error: scratch";
// estimated cost, limit
inline constexpr const char* kTooComplex =
    "expression too complex to compile: estimated cost %llu exceeds limit %llu";
}  // namespace matcher_error

// Largest estimated compile cost accepted. Set with bench/planner/compile_budget so
// that no accepted pattern of at most 4,095 bytes takes more than about 0.3 s to plan
// and compile on the reference machine (0.5 s is the promise), while long realistic
// expressions (alternations of several hundred names, [a-z]{25,}) stay well inside. A
// literal costs one per byte, so the limit is above the longest expression.
constexpr uint64_t kCompileBudget = 4200;

// The estimated compile cost of a pattern text; 0 when it is not in our dialect or has
// a repetition bound the library refuses outright (then it is left to the library).
uint64_t pattern_text_cost(std::string_view pattern);

class compiled_pattern {
 public:
  compiled_pattern() = default;
  ~compiled_pattern();
  compiled_pattern(const compiled_pattern&) = delete;
  compiled_pattern& operator=(const compiled_pattern&) = delete;
  compiled_pattern(compiled_pattern&& other) noexcept;
  compiled_pattern& operator=(compiled_pattern&& other) noexcept;

  // True once a database is held (even when its scratch allocation failed).
  bool has_database() const { return db_ != nullptr; }
  // True when the pattern is ready to scan.
  bool ready() const { return db_ != nullptr && scratch_ != nullptr; }

  // The compiled database, shareable with other threads; null when none is held.
  std::shared_ptr<hs_database> database() const { return db_; }
  // The bytes the database occupies; 0 when none is held.
  size_t database_bytes() const;
  // Holds `db` (shared, not copied) with scratch space of its own, replacing what was
  // held. False with kScratch in `err` when the scratch cannot be allocated (the
  // database is then held, not ready).
  bool adopt(std::shared_ptr<hs_database> db, std::string& err);

  // Whether the text matches; false when not ready.
  bool matches(const char* text, size_t len);

  // Called for each match of a scan with the end offset of the match; returning non-zero
  // stops the scan.
  using match_handler = int (*)(unsigned int id, unsigned long long from,
                                unsigned long long to, unsigned int flags, void* context);
  // Reports every match in the text to `handler` (a pattern compiled by
  // pattern_compile_multiline reports each end offset; see there). False when not ready
  // or the text is too long for one scan (more than 4 GiB - 1); allocates nothing.
  bool scan(const char* text, size_t len, match_handler handler, void* context);

  // Releases the database and the scratch space.
  void reset();

 private:
  friend bool compile_with_flags(std::string_view pattern, unsigned flags,
                                 compiled_pattern& out, std::string& err);
  std::shared_ptr<hs_database> db_;
  hs_scratch* scratch_ = nullptr;
};

// Compiles `pattern` (caseless, single match, empty match allowed, block mode) into
// `out`, replacing what it held. Returns false with an error text in `err` on failure.
bool pattern_compile(std::string_view pattern, compiled_pattern& out, std::string& err);

// Compiles `pattern` for scans over many lines at once: caseless, empty match allowed,
// every match end reported (not only the first), '^' and '$' also matching after and
// before each line feed. The text may use what the library reads beyond our dialect
// (\xHH escapes), so no cost estimate is made here: the caller checks the budget on
// the pattern tree it rendered. Failures as pattern_compile.
bool pattern_compile_multiline(std::string_view pattern, compiled_pattern& out,
                               std::string& err);

// Whether a candidate text passes: with no usable `match` pattern (null or not ready)
// every text passes; otherwise the text must match `match` and, when `exclude` is given
// and ready, must not match `exclude`. Allocates nothing.
bool pattern_match(compiled_pattern* match, compiled_pattern* exclude, const char* text,
                   size_t len);

}  // namespace quarn
