#include "common/trigram.h"

#include <gtest/gtest.h>

#include <string>

namespace quarn {
namespace {

TEST(Trigram, OrdinalsOfKnownTexts) {
  EXPECT_EQ(trigram_ordinal('a', 'b', 'c'), 3403u);
  EXPECT_EQ(trigram_ordinal('^', '^', 'a'), 1638u);
  EXPECT_EQ(trigram_ordinal('A', 'B', 'C'), trigram_ordinal('a', 'b', 'c'));
  EXPECT_EQ(trigram_ordinal('a', '*', 'c'), 5002u);
  EXPECT_EQ(trigram_ordinal(0xff, 0x80, 0), kTrigramCount - 1);
  EXPECT_EQ(trigram_ordinal('0', '9', '_'), 26u + 41u * 35u + 1681u * 38u);
}

TEST(Trigram, TextRoundTripsEveryOrdinal) {
  char text[4];
  for (uint32_t o = 0; o < kTrigramCount; ++o) {
    ASSERT_EQ(trigram_text(o, text), 0);
    ASSERT_EQ(trigram_ordinal(text[0], text[1], text[2]), o) << text;
  }
  ASSERT_EQ(trigram_text(68920, text), 0);
  EXPECT_STREQ(text, "@@@");
  EXPECT_EQ(trigram_text(kTrigramCount, text), -1);
}

}  // namespace
}  // namespace quarn
