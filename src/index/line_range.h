// Line ranges of a string table: the part of one index that one slice of a search reads.
//
// A search split by key reads, in every index file, the lines whose keys fall in its
// slice of the key order. A LineRange names those lines twice, as line numbers (for the
// reference-list iterators) and as the byte positions of the same lines (for table
// scans and key cursors): [first, end) and [begin, stop), where begin is the first byte
// of line `first` and stop the first byte of line `end` (or the table's end).
//
// first_line_not_before finds the first line of a table that does not order before a
// key by bisecting line numbers through the line index, so a range boundary costs about
// log2(lines) line lookups. Lines that the kind's order calls equal to each other order
// the same way against a key, so every line of one key lands on one side of a boundary.
//
// Invariants: begin and stop are line starts of the table (or its end), begin <= stop.
// Failures: a damaged line index gives false (the caller reads the index whole instead,
// where the damage is reported as for any search); nothing is allocated.
#pragma once

#include <cstdint>
#include <string_view>

namespace quarn {

class Tgdb;

struct LineRange {
  uint64_t first = 0;
  uint64_t end = UINT64_MAX;
  const char* begin = nullptr;
  const char* stop = nullptr;
};

// Every line of the index.
LineRange whole_table(const Tgdb& index);

// Upper bound of the index's line count: the line index has one entry per 64 lines.
uint64_t line_count_bound(const Tgdb& index);

using line_compare_fn = int (*)(std::string_view, std::string_view);

// The first line of the index that does not order before key under compare: its number
// in *line and its first byte in *pos (the table's end and the line count when every
// line orders before key). False when the line index turned out damaged.
bool first_line_not_before(const Tgdb& index, std::string_view key, line_compare_fn compare,
                           uint64_t* line, const char** pos);

}  // namespace quarn
