// Sums of counts that stop at the largest value instead of wrapping: a wrapped sum would
// turn the most-seen record into a rarely-seen one.
#pragma once

#include <cstdint>
#include <limits>

namespace quarn {

constexpr uint64_t saturating_add(uint64_t a, uint64_t b) {
  return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                       : a + b;
}

}  // namespace quarn
