#include "retrieval/rdata_order.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/strfmt.h"
#include "support/log_capture.h"
#include "retrieval/annotation.h"
#include "retrieval/records_messages.h"

namespace quarn {
namespace {

using testing::LogCapture;

int sign(int v) { return (v > 0) - (v < 0); }

// A well-formed rdata line for the given bytes and type.
std::string line(const std::vector<uint8_t>& bytes, const char* code,
                 const char* times = "5e0be100:1") {
  std::string s = "key\t";
  append_fmt(s, "%zu/", bytes.size());
  for (uint8_t b : bytes) append_fmt(s, "%02x", b);
  append_fmt(s, " %s:%s", code, times);
  return s;
}

TEST(RdataOrder, SameBytesOrderByTypeAndIgnoreTimes) {
  const std::string a4 = line({192, 0, 2, 1}, "4");
  const std::string a6 = line({192, 0, 2, 1}, "6");
  EXPECT_LT(rdata_line_compare(a4, a6), 0);
  EXPECT_GT(rdata_line_compare(a6, a4), 0);
  EXPECT_EQ(rdata_line_compare(a4, line({192, 0, 2, 1}, "4", "1,2:9")), 0);
  // Case of the digits does not matter; the key text before the tab does not either.
  EXPECT_EQ(rdata_line_compare("x\t2/ABCD 4:1:1", "y\t2/abcd 4:7:7"), 0);
  // The line ends at its line feed.
  EXPECT_EQ(rdata_line_compare("x\t1/00 4:1:1\nz\t1/00 6:1", "x\t1/00 4:2:2"), 0);
}

TEST(RdataOrder, BytesDecideBeforeType) {
  EXPECT_LT(rdata_line_compare(line({1, 2}, "6"), line({1, 3}, "4")), 0);
  EXPECT_GT(rdata_line_compare(line({0xff}, "4"), line({0x0f}, "65280")), 0);
}

TEST(RdataOrder, PrefixValuesUseTheTypeAsOneMoreByte) {
  // Shorter value {1} type A (1) against longer {1, 5}: 1 < 5, shorter first.
  EXPECT_LT(rdata_line_compare(line({1}, "4"), line({1, 5}, "4")), 0);
  EXPECT_GT(rdata_line_compare(line({1, 5}, "4"), line({1}, "4")), 0);
  // Type 16 (TXT) against next byte 5: the longer value sorts first.
  EXPECT_GT(rdata_line_compare(line({1}, "t"), line({1, 5}, "4")), 0);
  EXPECT_LT(rdata_line_compare(line({1, 5}, "4"), line({1}, "t")), 0);
  // Type equal to the next byte: the longer value sorts first.
  EXPECT_GT(rdata_line_compare(line({1}, "4"), line({1, 1}, "4")), 0);
}

TEST(RdataOrder, EmptyAndMalformedLines) {
  EXPECT_EQ(rdata_line_compare("", ""), 0);
  EXPECT_EQ(rdata_line_compare(static_cast<const char*>(nullptr), nullptr), 0);
  EXPECT_LT(rdata_line_compare("", line({1}, "4")), 0);
  EXPECT_GT(rdata_line_compare(line({1}, "4"), ""), 0);

  const char* bad_prefix[] = {"k\tc0 4:1", "k\t/00 4:1", "k\t0/00 4:1", "k\t65536/00 4:1",
                              "k\t123456/00 4:1", "k\t1x/00 4:1"};
  const std::string good = line({0}, "4");
  for (const char* bad : bad_prefix) {
    EXPECT_LT(rdata_line_compare(bad, good), 0) << bad;
    EXPECT_GT(rdata_line_compare(good, bad), 0) << bad;
    EXPECT_EQ(rdata_line_compare(bad, "k\t/"), 0) << bad;
  }
  LogCapture log(LOG_FAILURE);
  EXPECT_LT(rdata_line_compare("no tab here", good), 0);
  EXPECT_GT(rdata_line_compare(good, "no tab\nk\t1/00 4:1"), 0);
  EXPECT_EQ(log.text(), std::string(kMsgRdataNoTabA) + "\n" + kMsgRdataNoTabB + "\n");
}

TEST(RdataOrder, UnparsableTypesCompareEqualWithAMessage) {
  {
    LogCapture log(LOG_ERROR);
    EXPECT_EQ(rdata_line_compare("k\t1/00 q:1", "k\t1/00 4:1"), 0);
    EXPECT_EQ(rdata_line_compare("k\t1/00 4:1", "k\t1/00"), 0);
    EXPECT_EQ(log.text(), std::string(kMsgEqualParseA) + "\n" + kMsgEqualParseB + "\n");
  }
  {
    LogCapture log(LOG_ERROR);
    EXPECT_EQ(rdata_line_compare("k\t1/00 bogus", "k\t2/0001 4:1"), 0);
    EXPECT_EQ(rdata_line_compare("k\t1/00 4:1", "k\t2/000 4:1"), 0);  // odd digit count
    EXPECT_EQ(log.text(), std::string(kMsgPrefixParseA) + "\n" + kMsgPrefixParseB + "\n");
  }
}

TEST(RdataOrder, IsAStrictWeakOrderOverRandomLines) {
  std::mt19937 rng(99);
  const char* codes[] = {"4", "n", "6", "t", "300", "1", "2:", "c"};
  std::vector<std::string> lines;
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> bytes(1 + rng() % 3);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng() % 4);  // small alphabet: many prefixes
    std::string code = codes[rng() % 8];
    if (code.back() == ':') code.pop_back();
    lines.push_back(line(bytes, code.c_str()));
  }
  for (const auto& a : lines) {
    EXPECT_EQ(rdata_line_compare(a, a), 0);
    for (const auto& b : lines) ASSERT_EQ(sign(rdata_line_compare(a, b)), -sign(rdata_line_compare(b, a)));
  }
  // Transitive over a sample of triples (all 300 would be 27 million comparisons).
  const size_t sample = 60;
  for (size_t i = 0; i < sample; ++i)
    for (size_t j = 0; j < sample; ++j) {
      if (rdata_line_compare(lines[i], lines[j]) > 0) continue;
      for (size_t k = 0; k < sample; ++k) {
        if (rdata_line_compare(lines[j], lines[k]) > 0) continue;
        ASSERT_LE(rdata_line_compare(lines[i], lines[k]), 0)
            << lines[i] << " / " << lines[j] << " / " << lines[k];
      }
    }
}

TEST(RdataOrder, EqualExactlyWhenBytesAndTypeAreEqual) {
  std::mt19937 rng(5);
  for (int i = 0; i < 2000; ++i) {
    std::vector<uint8_t> x(1 + rng() % 2), y(1 + rng() % 2);
    for (auto& b : x) b = static_cast<uint8_t>(rng() % 3);
    for (auto& b : y) b = static_cast<uint8_t>(rng() % 3);
    const char* tx = rng() % 2 ? "4" : "n";
    const char* ty = rng() % 2 ? "4" : "n";
    const bool same = x == y && std::string(tx) == ty;
    EXPECT_EQ(rdata_line_compare(line(x, tx), line(y, ty)) == 0, same);
  }
}

}  // namespace
}  // namespace quarn
