// Reference entries: the compression layouts, and the encoder's choices checked by
// decoding what it writes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "index/format.h"
#include "index/ref_encoder.h"
#include "index_test_util.h"
#include "ref_oracle.h"

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

// Lists built from runs of every length around the range threshold, separated by gaps
// chosen at the edges of the compression layouts, some ending at the largest line.
std::vector<uint64_t> shaped_list(std::mt19937_64& rng) {
  static const uint64_t kGaps[] = {2, 3, 200, 255, 256, 257, 1000, 65535, 65536, 65537};
  static const size_t kRuns[] = {1, 1, 1, 2, 3, 4, 4, 5, 5, 6, 7, 8, 9, 12, 40};
  const size_t target = rng() % 8 == 0 ? 2000 + rng() % 3000 : rng() % 60;
  std::vector<uint64_t> l;
  uint64_t x = rng() % 3 == 0 ? kMaxLineNumber - 600000 - rng() % 1000 : rng() % 70000;
  while (l.size() < target) {
    const size_t run = kRuns[rng() % (sizeof kRuns / sizeof kRuns[0])];
    for (size_t i = 0; i < run && x <= kMaxLineNumber; ++i) l.push_back(x++);
    const unsigned pick = rng() % 12;
    x += pick < 10 ? kGaps[pick] - 1 : (pick == 10 ? rng() % 300 : rng() % 2000000);
    if (x > kMaxLineNumber) break;
  }
  if (!l.empty() && rng() % 4 == 0 && l.back() < kMaxLineNumber) {
    l.push_back(kMaxLineNumber);  // the largest line, often right after a near one
  }
  return l;
}

TEST(RefEncoder, MakesTheWholeListChoicesOneLineAtATime) {
  std::string got;
  int sink_calls = 0;
  RefEncoder enc([&](const char* data, size_t len) {
    EXPECT_EQ(len % kRefSize, 0u);
    got.append(data, len);
    ++sink_calls;
    return true;
  });
  std::mt19937_64 rng(11);
  uint64_t total_entries = 0;
  for (int iter = 0; iter < 1500; ++iter) {
    const std::vector<uint64_t> l = shaped_list(rng);
    got.clear();
    for (uint64_t x : l) ASSERT_TRUE(enc.add(x));  // one encoder for every list
    ASSERT_TRUE(enc.finish());
    const std::string want = index_test::oracle_encode(l);
    ASSERT_EQ(got, want) << "list " << iter << " of " << l.size() << " lines";
    EXPECT_EQ(enc.entries() * kRefSize, want.size());
    EXPECT_EQ(enc.lines(), l.size());
    std::string whole;
    EXPECT_EQ(encode_ref_list(l.data(), l.size(), &whole), enc.entries());
    EXPECT_EQ(whole, want);
    total_entries += enc.entries();
  }
  // Long lists went out in several blocks, not as one.
  EXPECT_GT(static_cast<uint64_t>(sink_calls), 1500u);
  EXPECT_GT(total_entries, 100000u);

  // A finish() with no line since the last is an empty list and writes nothing.
  got.clear();
  EXPECT_TRUE(enc.finish());
  EXPECT_EQ(enc.entries(), 0u);
  EXPECT_EQ(enc.lines(), 0u);
  EXPECT_TRUE(got.empty());
}

TEST(RefEncoder, EveryShortListOfEdgeGaps) {
  // Exhaustive over lists of ten lines whose nine gaps are each a run continuation (1),
  // a byte gap (2), a gap that needs 16 bits (256) or one that fits no layout (65536):
  // runs of four, five and six meet every compression choice at every place of the
  // window, with full windows and at the list's end.
  static const uint64_t kSteps[] = {1, 2, 256, 65536};
  constexpr int kGapCount = 9;
  std::string got;
  RefEncoder enc([&](const char* data, size_t len) {
    got.append(data, len);
    return true;
  });
  std::vector<uint64_t> l;
  for (uint32_t code = 0; code < (1u << (2 * kGapCount)); ++code) {
    l.assign(1, 1000);
    for (int i = 0; i < kGapCount; ++i) l.push_back(l.back() + kSteps[(code >> (2 * i)) & 3]);
    got.clear();
    for (uint64_t x : l) enc.add(x);
    enc.finish();
    ASSERT_EQ(got, index_test::oracle_encode(l)) << "gap code " << code;
  }
}

TEST(RefEncoder, StopsAtTheFirstSinkFailure) {
  int calls = 0;
  RefEncoder enc([&](const char*, size_t) { return ++calls < 2; });
  bool ok = true;
  uint64_t x = 0;
  // Gaps too large for any layout: one plain entry per line, several blocks' worth.
  for (int i = 0; i < 5000 && ok; ++i, x += 70000) ok = enc.add(x);
  EXPECT_FALSE(ok);
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(enc.finish());
  EXPECT_FALSE(enc.add(1));
  EXPECT_FALSE(enc.finish());
  EXPECT_EQ(calls, 2);  // nothing more reached the sink
}

}  // namespace
}  // namespace quarn
