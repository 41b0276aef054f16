// The table scan: every line of a string table in file order, or only those whose keys
// the search's pattern matches, found block by block.
//
// With the search's scan filter (index/search_hooks.h) the scan either hands out every
// line (each unconfirmed, or each confirmed when the pattern matches any key), or cuts
// the table into blocks of about block_size bytes at line feeds, has the block matcher
// find the matching lines of each block and hands out only those, confirmed. A block the
// matcher cannot take (a line longer than one engine call allows) hands out its lines
// unconfirmed instead, and a block with many more reports than lines (see
// kBytesPerReport) hands the rest of the table out line by line, unconfirmed. Lines are
// found exactly as by splitting the table at line feeds:
// an empty line is a line, the table's last line needs no line feed.
//
// Order of use: construct over a table (borrowed: it must stay mapped) and a search
// (borrowed: it must outlive the scan), then next() until it returns false. The first
// next() asks the search for the filter, unless the scan was made with a fixed one
// (every_line or every_key: a caller that knows more about its lines than the pattern
// does, such as a short subtree run that does not repay compiling a block matcher, or
// one whose every line matches). next() checks the deadline at least once per block and
// may throw the search's abort exception; the scan stays destructible. next() allocates
// nothing once the found-line buffer has grown to a block's worth.
#pragma once

#include <cstddef>
#include <vector>

#include "index/search_hooks.h"
#include "pattern/block_matcher.h"

namespace quarn {

// Bytes per block: large enough that the engine's per-call cost vanishes next to the
// scan itself (a call costs about as much as scanning a few hundred bytes), small enough
// to stay in the second-level cache and to check the deadline every millisecond or so.
constexpr size_t kScanBlockSize = 256 * 1024;

// A block whose matcher reported more than one match per this many bytes turns the rest
// of the scan over to per-line matching. Each report costs about half of what matching
// one key alone does, and owner-name lines run near 48 bytes: a pattern that matches
// all over the annotations (a digit, a hex letter) reports several times per line and
// scans several times slower in blocks than line by line.
constexpr size_t kBytesPerReport = 16;

class table_scan {
 public:
  table_scan(const char* begin, const char* end, search_hooks& search,
             size_t block_size = kScanBlockSize, const scan_filter* fixed = nullptr);
  table_scan(const table_scan&) = delete;
  table_scan& operator=(const table_scan&) = delete;

  // The next line (without its line feed) and whether its key is known to match; false
  // when there is none left.
  bool next(const char** line, size_t* length, bool* confirmed);

 private:
  bool next_line(const char** line, size_t* length);
  void scan_block();

  search_hooks& search_;
  const char* end_;
  const size_t block_size_;
  bool prepared_ = false;
  scan_filter filter_;
  const char* next_ = nullptr;        // start of the next line or block; null: used up
  const char* next_check_ = nullptr;  // every_key: the next deadline check
  std::vector<found_line> found_;     // blocks: the current block's lines
  size_t found_next_ = 0;
  bool found_confirmed_ = true;
};

}  // namespace quarn
