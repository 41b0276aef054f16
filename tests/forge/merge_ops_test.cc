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

  out.clear();
  merge_keys_only("k", "abc", "de", out);
  EXPECT_EQ(out.size(), 1u);
}

TEST(ParseKeyPrefix, SingleKeysRangesAndFaults) {
  auto p = parse_key_prefix("2/0aFF");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->first, std::string("\x0a\xff", 2));
  EXPECT_FALSE(p->second);

  p = parse_key_prefix("1/61-2/6263");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->first, "a");
  EXPECT_EQ(*p->second, "bc");
  p = parse_key_prefix("1/61:1/62");
  ASSERT_TRUE(p && p->second);
  EXPECT_EQ(*p->second, "b");

  for (const char* bad : {"", "61", "0/", "2/61", "1/6g", "1/61-", "1/61-x", "x/61",
                          "123456789012345/00"}) {
    EXPECT_FALSE(parse_key_prefix(bad)) << bad;
  }
  // Only the first 1,023 characters are read: a key running past them is cut and fails.
  std::string longer = "600/" + std::string(1200, '0');
  EXPECT_FALSE(parse_key_prefix(longer));
}

TEST(OpenSortabMerged, MergesFilesWithinThePrefix) {
  std::string error;
  std::vector<std::string> files;
  for (int t = 0; t < 2; ++t) {
    files.push_back(std::string(testing::TempDir()) + "/merged-" + std::to_string(getpid()) +
                    "-" + std::to_string(t));
    auto w = SortabWriter::create(files.back(), &error);
    ASSERT_TRUE(w) << error;
    ASSERT_TRUE(w->add("ab", enc(10 + t, 20 + t, 1), &error));
    ASSERT_TRUE(w->add("b", enc(5, 5, 1), &error));
    ASSERT_TRUE(w->finish(&error));
  }
  auto m = open_sortab_merged(files, "1/61", false);
  ASSERT_TRUE(m);
  ASSERT_TRUE(m->iter().next());
  EXPECT_EQ(m->iter().key(), "ab");
  CountValue v = dec(std::string(m->iter().value()));
  EXPECT_EQ(v.first, 10u);
  EXPECT_EQ(v.last, 21u);
  EXPECT_EQ(v.count, 2u);
  EXPECT_FALSE(m->iter().next());
  close_sortab_merged(m);
  EXPECT_FALSE(m);

  EXPECT_FALSE(open_sortab_merged(files, "nonsense", false));
  files.push_back("/nonexistent/table");
  EXPECT_FALSE(open_sortab_merged(files, "1/61", true));
  files.pop_back();
  for (const auto& f : files) unlink(f.c_str());
}

}  // namespace
}  // namespace quarn
