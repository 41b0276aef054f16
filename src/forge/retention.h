// The retention window of a build: which observations a build keeps.
//
// A window has an inclusive lower bound `after` (--keep-after) and an inclusive upper
// bound `before` (--keep-before), in seconds since 1970; an unset bound is open. An
// observation or an aggregate seen from `first` to `last` is kept when [first, last]
// overlaps the window: last >= after and first <= before. These are the record tests of
// quarnsearch -A and -B, so a search with the same bounds over the kept data finds what
// it found before. An aggregate that only partly overlaps is kept whole, with its own
// times and count: its count cannot be split by time. One that does not overlap at all
// is dropped, and a key left with nothing is dropped with it.
//
// Bounds are kept as 64-bit seconds so that any parsed time argument, even one before
// 1970 or past 2106, compares exactly against the 32-bit index times.
#pragma once

#include <cstdint>
#include <limits>

namespace quarn {

struct RetentionWindow {
  int64_t after = std::numeric_limits<int64_t>::min();
  int64_t before = std::numeric_limits<int64_t>::max();

  bool limited() const {
    return after != std::numeric_limits<int64_t>::min() ||
           before != std::numeric_limits<int64_t>::max();
  }
  // False when no time at all lies inside the window.
  bool possible() const { return after <= before; }
  bool keeps(uint32_t first, uint32_t last) const {
    return static_cast<int64_t>(last) >= after && static_cast<int64_t>(first) <= before;
  }
};

}  // namespace quarn
