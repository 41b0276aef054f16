// The record-type set: every common type has a bit of its own and maps back from it.
#include "index/rrtype_bits.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(RrtypeBits, CommonTypesOwnOneBitEachAndTheRestShareTwo) {
  const uint32_t types[] = {1,  2,  5,  6,  10, 11, 12, 13, 15, 16, 17,
                            28, 29, 33, 35, 39, 44, 52, 59, 60, 99, 257};
  uint32_t seen = 0;
  for (uint32_t type : types) {
    const uint32_t bit = rrtype_bit(type);
    EXPECT_EQ(bit & (bit - 1), 0u);
    EXPECT_EQ(seen & bit, 0u);
    seen |= bit;
    EXPECT_EQ(rrtype_of_bit(bit), type);
  }
  EXPECT_EQ(seen, 0x3FFFFFu);
  EXPECT_EQ(rrtype_bit(0), 0u);
  EXPECT_EQ(rrtype_bit(65535), kRrtypeBitOther);
  EXPECT_EQ(rrtype_bit(65280), kRrtypeBitPrivate);
  EXPECT_EQ(rrtype_bit(65534), kRrtypeBitPrivate);
  EXPECT_EQ(rrtype_bit(3), kRrtypeBitOther);
  EXPECT_EQ(rrtype_of_bit(kRrtypeBitPrivate), 0u);
  EXPECT_EQ(rrtype_of_bit(3), 0u);
}

}  // namespace
}  // namespace quarn
