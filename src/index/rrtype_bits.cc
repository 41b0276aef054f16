#include "index/rrtype_bits.h"

namespace quarn {

namespace {
// The common types with a bit of their own, in bit order (bit i = 1 << i).
constexpr uint32_t kTypesByBit[] = {1,  2,  5,  6,  10, 11, 12, 13, 15, 16, 17,
                                    28, 29, 33, 35, 39, 44, 52, 59, 60, 99, 257};
constexpr int kTypeBits = sizeof(kTypesByBit) / sizeof(kTypesByBit[0]);
}  // namespace

uint32_t rrtype_bit(uint32_t rrtype) {
  if (rrtype == 0) return 0;
  for (int i = 0; i < kTypeBits; ++i)
    if (kTypesByBit[i] == rrtype) return 1u << i;
  if (rrtype >= 65280 && rrtype <= 65534) return kRrtypeBitPrivate;
  return kRrtypeBitOther;
}

uint32_t rrtype_of_bit(uint32_t bit) {
  for (int i = 0; i < kTypeBits; ++i)
    if (bit == (1u << i)) return kTypesByBit[i];
  return 0;
}

}  // namespace quarn
