// Builds the sparse line index of a string table while its lines are written.
//
// Call add_line(offset) once per non-empty line, in order, with the line's byte offset
// from the start of the string table, then finish() once; bytes() is then the complete
// line index. Memory: 14 bytes per 64 lines. The layout is the one format.h describes:
// line 64k appends its uint64 offset; lines 64k+16, +32, +48 append a uint16 step, half
// the distance from the previous recorded position rounded down, or 0 when that distance
// is 131,072 bytes or more; finish pads the steps to a multiple of three, or appends six
// zero bytes when there is no step at all.
//
// A writer that cannot keep the whole line index in memory takes bytes() away in pieces
// as it grows (clear_bytes() after storing them); the pieces in order, followed by
// bytes() after finish(), are the line index.
#pragma once

#include <cstdint>
#include <string>

namespace quarn {

class LineIndexBuilder {
 public:
  void add_line(uint64_t offset);
  void finish();
  const std::string& bytes() const { return bytes_; }
  // Forgets the bytes built so far (the caller has stored them); building goes on.
  void clear_bytes() { bytes_.clear(); }
  uint64_t lines() const { return lines_; }

 private:
  std::string bytes_;
  uint64_t lines_ = 0;
  uint64_t steps_ = 0;
  uint64_t prev_ = 0;  // last recorded position
  bool finished_ = false;
};

}  // namespace quarn
