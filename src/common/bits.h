// Bit helpers of the utility layer: population count of a 64-bit word, used by class
// sizes in the pattern tree and by trigram bitmaps in the planner.
#pragma once

#include <bit>
#include <cstdint>

namespace quarn {

inline int popcount64(uint64_t v) { return std::popcount(v); }

}  // namespace quarn
