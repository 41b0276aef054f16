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
// Ownership: a compiled_pattern owns its database and its scratch space and releases
// both when destroyed or recompiled. It is movable, not copyable; hold it by value or by
// unique_ptr. One compiled_pattern serves one scan at a time (the scratch space is
// per-object), so a search context on one thread needs no locking.
//
// Failures: pattern_compile returns false with one of the three error texts below; after
// a failed compile the object holds no database (a failed scratch allocation keeps the
// new database, released with the object). pattern_match never fails and allocates
// nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct hs_database;
struct hs_scratch;

namespace quarn {

namespace matcher_error {
inline constexpr const char* kPlatform = "Internal regexp initialization error: platform";
inline constexpr const char* kCompile = "Internal regexp error: %s (%s)";
inline constexpr const char* kScratch = "Internal regexp initialization error: scratch";
}  // namespace matcher_error

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

  // Whether the text matches; false when not ready.
  bool matches(const char* text, size_t len);

  // Releases the database and the scratch space.
  void reset();

 private:
  friend bool pattern_compile(std::string_view pattern, compiled_pattern& out,
                              std::string& err);
  hs_database* db_ = nullptr;
  hs_scratch* scratch_ = nullptr;
};

// Compiles `pattern` (caseless, single match, empty match allowed, block mode) into
// `out`, replacing what it held. Returns false with an error text in `err` on failure.
bool pattern_compile(std::string_view pattern, compiled_pattern& out, std::string& err);

// Whether a candidate text passes: with no usable `match` pattern (null or not ready)
// every text passes; otherwise the text must match `match` and, when `exclude` is given
// and ready, must not match `exclude`. Allocates nothing.
bool pattern_match(compiled_pattern* match, compiled_pattern* exclude, const char* text,
                   size_t len);

}  // namespace quarn
