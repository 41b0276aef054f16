// A forward-only search by key over one string table: the lines of an index that hold a
// given key, for keys asked in ascending order.
//
// The record merger reads an index that the time filter kept out of candidate generation
// through this cursor: for every result key it wants that index's lines of the same key,
// and result keys come in the index kind's order. The cursor therefore only moves
// forward, and a lookup starts at the cursor: a key before the cursor's line costs one
// compare, a key at or before the next line one more, and anything else a compare with
// the table's last line, a gallop from the cursor by doubling byte distances and a
// bisection of the bytes it brackets. Lines are found from
// the table's own line feeds, not through the line index: the bisection needs line starts
// near a byte position, not line numbers, and it leaves the thread's line-lookup cache to
// the candidate sources that read the table in order.
//
// Order of use: construct over a mapped table (which must outlive the cursor), then
// seek(key) and next_equal(key) alternately with non-decreasing keys. Keys are line texts
// (key TAB annotations, or just the key); `compare` is the kind's line order (name_order
// for owner names, the rdata line order for rdata) and two lines hold the same key when it
// returns 0.
//
// Invariants: every line before the cursor orders before every key still to be asked;
// the cursor is a line start or the table's end. Nothing is allocated and nothing outside
// [table, table + size) is read, whatever the table holds: a table not ending in a line
// feed ends its last line at the table's end, and a table out of order gives lines that
// may miss some of the key's lines but never a read out of bounds or an endless walk
// (every bisection step narrows its range).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarn {

class key_cursor {
 public:
  using compare_fn = int (*)(std::string_view, std::string_view);

  key_cursor(const char* table, uint64_t size, compare_fn compare);

  // Moves the cursor to the first line that does not order before key. True, with that
  // line (without its line feed) in *line, when it holds key; false when no line does.
  bool seek(std::string_view key, std::string_view* line);
  // Steps past the line seek() or next_equal() handed out. True, with the next line in
  // *line, when it holds key too.
  bool next_equal(std::string_view key, std::string_view* line);

  // Lines compared so far, for the search statistics.
  uint64_t lines_compared() const { return compared_; }

 private:
  // The line starting at p (a line start before end_), without its line feed.
  std::string_view line_at(const char* p) const;
  // Start of the line after the one starting at p (end_ when it is the last).
  const char* after(const char* p) const;
  int compare_at(const char* p, std::string_view key);
  // First line start in (lo, hi] not ordering before key, given that lo orders before key
  // and hi (a line start) does not, with *order = compare(hi, key) on entry; on return
  // *order = compare(that line, key).
  const char* bisect(const char* lo, const char* hi, std::string_view key, int* order);
  // First line start after the cursor not ordering before key (end_ when none), given
  // that the cursor's line orders before key; *order = compare(that line, key), or 1 at
  // end_.
  const char* gallop(std::string_view key, int* order);

  const char* begin_;
  const char* end_;
  compare_fn compare_;
  const char* cursor_;
  // Start of the table's last line, found on the first gallop (nullptr until then).
  const char* last_ = nullptr;
  uint64_t compared_ = 0;
};

}  // namespace quarn
