#include "forge/merge_ops.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "forge/sortab_varint.h"

namespace quarn {
namespace {

std::string enc(uint32_t first, uint32_t last, uint64_t count) {
  std::string out;
  encode_count_value({first, last, count}, out);
  return out;
}

CountValue dec(const std::string& s) {
  CountValue v;
  EXPECT_TRUE(decode_count_value(s, &v));
  return v;
}

TEST(MergeCounts, EarliestFirstLatestLastCountsAdd) {
  std::string out;
  merge_counts("k", enc(100, 200, 3), enc(50, 150, 1ull << 40), out);
  CountValue v = dec(out);
  EXPECT_EQ(v.first, 50u);
  EXPECT_EQ(v.last, 200u);
  EXPECT_EQ(v.count, 3 + (1ull << 40));

  // A value that holds only its first varint adds only that time.
  std::string first_only;
  sortab_varint_append32(first_only, 10);
  out.clear();
  merge_counts("k", first_only, enc(50, 150, 2), out);
  v = dec(out);
  EXPECT_EQ(v.first, 10u);
  EXPECT_EQ(v.last, 150u);
  EXPECT_EQ(v.count, 2u);

  // An empty side must not drag the first-seen time down to 0.
  out.clear();
  merge_counts("k", "", enc(50, 150, 2), out);
  v = dec(out);
  EXPECT_EQ(v.first, 50u);
  EXPECT_EQ(v.count, 2u);

  out.clear();
  merge_counts("k", enc(1, 2, ~0ull - 1), enc(1, 2, 5), out);
  EXPECT_EQ(dec(out).count, ~0ull);

  // Record numbers add when tracked and leave untracked values three varints long.
  std::string a, b;
  encode_count_value({5, 6, 2, 1}, a);
  encode_count_value({4, 7, 3, 2}, b);
  out.clear();
  merge_counts("k", a, b, out);
  EXPECT_EQ(dec(out).observations, 3u);
  out.clear();
  merge_counts("k", enc(1, 2, 3), enc(1, 2, 3), out);
  EXPECT_EQ(out, enc(1, 2, 6));
}

}  // namespace
}  // namespace quarn
