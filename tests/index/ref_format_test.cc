// Reference entries: the compression layouts, and the encoder's choices checked by
// decoding what it writes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "index/format.h"
#include "index/ref_encoder.h"
#include "index_test_util.h"

namespace quarn {
namespace {

using index_test::decode_list;

TEST(DecodeOffsets, EveryRowOfTheLayoutTable) {
  struct Row {
    unsigned bits;  // bits 36-32
    uint8_t mask;
    std::vector<uint32_t> slots;
  };
  const Row rows[] = {
      {0x0F, 0xF, {0x11, 0x22, 0x33, 0x44}},
      {0x1E, 0x7, {0x11, 0x22, 0x33, 0}},
      {0x0E, 0x7, {0x11, 0x22, 0x3344, 0}},
      {0x0A, 0x5, {0x1122, 0, 0x3344, 0}},
      {0x18, 0x1, {0x11, 0, 0, 0}},
      {0x08, 0x1, {0x1122, 0, 0, 0}},
      {0x19, 0x9, {0x1122, 0, 0, 0x44}},
  };
  for (const Row& r : rows) {
    const uint64_t e = REF_OTHER | (static_cast<uint64_t>(r.bits) << 32) | 0x11223344u;
    RefOffsets d = decode_offsets(e);
    SCOPED_TRACE(r.bits);
    EXPECT_EQ(d.mask, r.mask);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(d.slot[i], r.slots[i]) << "slot " << i;
  }
  EXPECT_EQ(decode_offsets(REF_OTHER | 0x11223344u).count, 0);  // no slot: invalid entry
}

TEST(RefEntries, ReadWriteAndTheWorkedExamples) {
  uint8_t b[5];
  ref_write(b, 0x2C0A030000ull);
  EXPECT_EQ(b[0], 0x2C);
  EXPECT_EQ(b[4], 0x00);
  EXPECT_EQ(ref_read(b), 0x2C0A030000ull);

  // 100, then slots 0x0A and 0x0300: lines 100, 110, 878.
  std::vector<uint8_t> list(10);
  ref_write(list.data(), 0x0000000064ull);
  ref_write(list.data() + 5, 0x2C0A030000ull);
  std::vector<uint64_t> lines;
  ASSERT_TRUE(decode_list(list.data(), 2, &lines));
  EXPECT_EQ(lines, (std::vector<uint64_t>{100, 110, 878}));

  ref_write(list.data(), 0x8000000005ull);
  ref_write(list.data() + 5, 0x4000000009ull);
  ASSERT_TRUE(decode_list(list.data(), 2, &lines));
  EXPECT_EQ(lines, (std::vector<uint64_t>{5, 6, 7, 8, 9}));
  EXPECT_EQ(ref_value(0x8000000005ull), 5u);
}

TEST(EncodeOffsets, EveryLayoutDecodesBackToItsGaps) {
  const std::vector<std::vector<uint64_t>> cases = {
      {1, 2, 3, 255},  {1, 1, 1},       {255, 255, 65535}, {65535, 7, 9},
      {3, 65535, 4},   {65535, 65535},  {1, 1},            {256, 300},
  };
  for (const auto& g : cases) {
    uint64_t e = 0;
    ASSERT_TRUE(encode_offsets(g.data(), static_cast<int>(g.size()), &e)) << g[0];
    RefOffsets d = decode_offsets(e);
    std::vector<uint64_t> got;
    for (int i = 0; i < 4; ++i)
      if ((d.mask >> i) & 1) got.push_back(d.slot[i]);
    EXPECT_EQ(got, g);
  }
  const std::vector<std::vector<uint64_t>> refused = {
      {256, 1, 1, 1}, {65536, 1}, {256, 256, 1}, {0, 1}};
  for (const auto& g : refused) {
    uint64_t e = 0;
    EXPECT_FALSE(encode_offsets(g.data(), static_cast<int>(g.size()), &e)) << g[0];
  }
}

std::vector<uint64_t> round_trip(const std::vector<uint64_t>& lines, uint64_t* entries) {
  std::string out;
  *entries = encode_ref_list(lines.data(), lines.size(), &out);
  EXPECT_EQ(out.size(), *entries * kRefSize);
  std::vector<uint64_t> back;
  EXPECT_TRUE(decode_list(reinterpret_cast<const uint8_t*>(out.data()), *entries, &back));
  return back;
}

TEST(EncodeRefList, RunsBecomeTenByteRanges) {
  std::vector<uint64_t> run;
  for (uint64_t x = 1000; x < 1000000; ++x) run.push_back(x);
  uint64_t entries = 0;
  EXPECT_EQ(round_trip(run, &entries), run);
  EXPECT_EQ(entries, 2u);

  // A run after scattered lines, and a short run packed into one compression entry.
  std::vector<uint64_t> mixed = {3, 5, 6, 7, 8, 9, 12, 13, 14, 15, 100000, 100001};
  EXPECT_EQ(round_trip(mixed, &entries), mixed);
  EXPECT_LE(entries, 6u);
}

TEST(EncodeRefList, RandomListsRoundTripAndStayCompact) {
  std::mt19937_64 rng(42);
  for (int iter = 0; iter < 300; ++iter) {
    std::vector<uint64_t> lines;
    uint64_t x = rng() % 1000;
    const int n = static_cast<int>(rng() % 400) + 1;
    const uint64_t spread = uint64_t{1} << (rng() % 20);
    for (int i = 0; i < n; ++i) {
      lines.push_back(x);
      // Mix of consecutive runs, small gaps and huge jumps.
      const unsigned kind = rng() % 4;
      x += kind == 0 ? 1 : kind == 3 ? (rng() % (uint64_t{1} << 30)) + 1 : (rng() % spread) + 1;
    }
    uint64_t entries = 0;
    ASSERT_EQ(round_trip(lines, &entries), lines) << "iteration " << iter;
    EXPECT_LE(entries, lines.size());
  }
  // The largest line number still fits.
  std::vector<uint64_t> top = {kMaxLineNumber - 1, kMaxLineNumber};
  uint64_t entries = 0;
  EXPECT_EQ(round_trip(top, &entries), top);
}

}  // namespace
}  // namespace quarn
