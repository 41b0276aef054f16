// Finding the matching keys of many string-table lines with one engine call.
//
// A block is a run of whole lines separated by line feeds, with no line feed after the
// last one (so the block's end is the end of its last line). Each line is a key, up to
// its first tab or its end. scan() reports every line whose key matches the pattern,
// with the same answer as matching each key alone (pattern/block_render.h says why the
// block rendering keeps that meaning): the engine reports match end offsets, and a
// match belongs to the line it ends in when it ends inside the key or just past the
// key's tab (which only an end anchor consumes).
//
// Order of use: compile() once per search (or share() another thread's compiled one),
// then scan() block after block. The object owns its scratch space and shares its
// database; one scan at a time (a search on one thread).
// Not copyable or movable: hold it by unique_ptr.
//
// Failures: compile() returns false with a reason when the tree has no block rendering,
// its estimated cost is over the compile budget, or the engine refuses it; the caller
// then confirms keys one by one. scan() returns false (appending nothing) when the block
// is too long for one engine call. Neither allocates per line: scan() appends to the
// caller's vector, which allocates only when it grows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "pattern/matcher.h"
#include "pattern/re_elem.h"

namespace quarn {

namespace block_matcher_error {
inline constexpr const char* kNoRendering = "pattern has no block rendering";
// estimated cost, limit
inline constexpr const char* kTooComplex = "estimated cost %llu exceeds limit %llu";
}  // namespace block_matcher_error

// A line found by a block scan: its first byte and its length without the line feed.
struct found_line {
  const char* text;
  size_t length;
};

class block_matcher {
 public:
  block_matcher() = default;
  block_matcher(const block_matcher&) = delete;
  block_matcher& operator=(const block_matcher&) = delete;

  // Renders and compiles the block form of `tree` (which must not match every key:
  // matches_every_key callers need no matcher). False with a reason on failure.
  bool compile(const re_elem& tree, std::string& reason);
  // Takes the compiled form of another (ready) matcher, sharing its database with
  // scratch space of its own, so threads of one search compile once. False with the
  // scratch error when that cannot be allocated.
  bool share(const block_matcher& compiled, std::string& error);
  bool ready() const { return db_.ready(); }
  // The rendering compiled (for logs and tests).
  const std::string& text() const { return text_; }

  // Appends every line of the block whose key matches, in block order, each once.
  bool scan(const char* block, size_t length, std::vector<found_line>& out);
  // Matches the engine reported in the last scan (lines found, repeats within a line and
  // matches in annotations): what the scan cost beyond reading the block.
  size_t last_reports() const { return last_reports_; }

 private:
  compiled_pattern db_;
  std::string text_;
  bool empty_key_matches_ = false;
  size_t last_reports_ = 0;
};

}  // namespace quarn
