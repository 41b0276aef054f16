// The line index: what the builder writes, and line_lookup over it, including the two
// places where a careless reader would read past the index or land on the wrong line.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "index/format.h"
#include "index/line_index_builder.h"
#include "index/line_lookup.h"

namespace quarn {
namespace {

// A string table of the given line lengths (text only; a line feed follows each) with
// its line index; remembers where every line starts.
struct Table {
  std::string text;
  std::string index;
  std::vector<uint64_t> starts;
  uint64_t serial;

  explicit Table(const std::vector<size_t>& lengths, uint64_t serial_number = 0)
      : serial(serial_number) {
    LineIndexBuilder b;
    for (size_t i = 0; i < lengths.size(); ++i) {
      starts.push_back(text.size());
      b.add_line(text.size());
      text.append(lengths[i], static_cast<char>('a' + i % 26));
      text.push_back('\n');
    }
    b.finish();
    index = b.bytes();
  }
  const char* lookup(uint64_t n) const {
    return line_lookup_sections(serial, text.data(), text.size(),
                                reinterpret_cast<const uint8_t*>(index.data()), index.size(), n);
  }
  const char* at(uint64_t n) const { return text.data() + starts[n]; }
};

uint64_t next_serial() {
  static uint64_t s = 1000;
  return ++s;
}

TEST(LineIndexBuilder, SizesOfSmallTables) {
  EXPECT_EQ(Table(std::vector<size_t>(80, 5)).index.size(), 22u);  // two offsets, three steps
  EXPECT_EQ(Table(std::vector<size_t>(40, 5)).index.size(), 14u);  // one offset, two steps + 0
  EXPECT_EQ(Table(std::vector<size_t>(10, 5)).index.size(), 14u);  // no step: six zero bytes
  EXPECT_EQ(Table(std::vector<size_t>(130, 5)).index.size(), 36u); // last entry cut to 8 bytes
}

TEST(LineLookup, EveryLineOfAssortedTables) {
  std::mt19937 rng(7);
  for (int variant = 0; variant < 8; ++variant) {
    std::vector<size_t> lengths;
    const int n = 1 + static_cast<int>(rng() % 700);
    // Short lines put several line feeds in one sixteen-byte block.
    const size_t longest = variant < 2 ? 6 : variant < 4 ? 40 : 3000;
    for (int i = 0; i < n; ++i) lengths.push_back(1 + rng() % longest);
    for (uint64_t serial : {uint64_t{0}, next_serial()}) {
      Table t(lengths, serial);
      // Random order first (no cache help), then sequential (cache path).
      for (int k = 0; k < 2 * n; ++k) {
        uint64_t i = rng() % n;
        ASSERT_EQ(t.lookup(i), t.at(i)) << "line " << i << " of " << n;
      }
      for (int i = 0; i < n; ++i) ASSERT_EQ(t.lookup(i), t.at(i)) << "line " << i;
      EXPECT_EQ(t.lookup(n), nullptr);
      EXPECT_EQ(t.lookup(n + 1), nullptr);
      EXPECT_EQ(t.lookup(uint64_t{1} << 40), nullptr);
    }
  }
}

TEST(LineLookup, EightyLineTable) {
  Table t(std::vector<size_t>(80, 9), next_serial());
  EXPECT_EQ(t.lookup(79), t.at(79));
  EXPECT_EQ(t.lookup(64), t.at(64));
  EXPECT_EQ(t.lookup(80), nullptr);
  EXPECT_EQ(t.lookup(127), nullptr);
}

TEST(LineLookup, DistantLinesAreNotRecordedButStillFound) {
  // Sixteen lines of 100,000 bytes: the distance to line 16 does not fit a step.
  std::vector<size_t> lengths(64, 10);
  for (int i = 0; i < 16; ++i) lengths[i] = 100000;
  Table t(lengths, next_serial());
  EXPECT_EQ(load_le16(reinterpret_cast<const uint8_t*>(t.index.data()) + 8), 0);
  EXPECT_NE(load_le16(reinterpret_cast<const uint8_t*>(t.index.data()) + 10), 0);
  for (uint64_t i = 0; i < 64; ++i) ASSERT_EQ(t.lookup(i), t.at(i)) << i;

  // A single line over 131,072 bytes between two recorded lines, followed by odd
  // distances (the recorded position is then the line feed before the line).
  std::vector<size_t> mixed(200, 6);
  mixed[20] = 140000;
  mixed[70] = 131071;
  mixed[130] = 65536 * 2 + 1;
  Table u(mixed, next_serial());
  for (uint64_t i = 0; i < 200; ++i) ASSERT_EQ(u.lookup(i), u.at(i)) << i;
}

TEST(LineLookup, EntryWhoseOffsetIsNotInTheIndexYieldsNone) {
  // 64 lines with three steps: the index is exactly one complete entry of 14 bytes; the
  // size-based bound would admit lines 64-127 and read a second entry past the end.
  Table t(std::vector<size_t>(64, 3), next_serial());
  ASSERT_EQ(t.index.size(), 14u);
  for (uint64_t n : {64u, 100u, 127u}) EXPECT_EQ(t.lookup(n), nullptr) << n;
  // The same on a table whose text goes on beyond the indexed lines.
  Table longer(std::vector<size_t>(100, 3), next_serial());
  longer.index.resize(14);
  EXPECT_EQ(longer.lookup(70), nullptr);
  EXPECT_EQ(longer.lookup(63), longer.at(63));
}

TEST(LineLookup, ZeroStepEndsTheUseOfLaterSteps) {
  // Line 16 is too far (step 1 = 0), lines 32 and 48 are close: step 2 is recorded
  // relative to an unrecorded position, so using it would land on the wrong line.
  std::vector<size_t> lengths(64, 4);
  lengths[5] = 200000;
  Table t(lengths, 0);
  const uint8_t* li = reinterpret_cast<const uint8_t*>(t.index.data());
  ASSERT_EQ(load_le16(li + 8), 0);
  ASSERT_NE(load_le16(li + 10), 0);
  for (uint64_t i = 0; i < 64; ++i) ASSERT_EQ(t.lookup(i), t.at(i)) << i;
}

TEST(LineLookup, CorruptIndexNeverReadsOutside) {
  Table t(std::vector<size_t>(100, 5), 0);
  std::string bad = t.index;
  store_le64(reinterpret_cast<uint8_t*>(bad.data()), ~uint64_t{0} - 3);  // offset far away
  store_le16(reinterpret_cast<uint8_t*>(bad.data()) + 8, 0xFFFF);
  for (uint64_t n : {0u, 17u, 40u, 63u})
    EXPECT_EQ(line_lookup_sections(0, t.text.data(), t.text.size(),
                                   reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), n),
              nullptr);
  // A step that jumps past the table's end.
  bad = t.index;
  store_le16(reinterpret_cast<uint8_t*>(bad.data()) + 10, 0xFFFF);
  EXPECT_EQ(line_lookup_sections(0, t.text.data(), t.text.size(),
                                 reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), 40),
            nullptr);
  // An index shorter than one offset.
  EXPECT_EQ(line_lookup_sections(0, t.text.data(), t.text.size(),
                                 reinterpret_cast<const uint8_t*>(bad.data()), 7, 0),
            nullptr);
}

TEST(LineLookup, CacheServesRepeatsAndFollowersAndIsPerIndex) {
  Table a(std::vector<size_t>(50, 3), next_serial());
  Table b(std::vector<size_t>(50, 7), next_serial());
  EXPECT_EQ(a.lookup(10), a.at(10));
  EXPECT_EQ(a.lookup(10), a.at(10));
  EXPECT_EQ(a.lookup(11), a.at(11));
  EXPECT_EQ(b.lookup(12), b.at(12));  // another index: must not continue from a's pointer
  EXPECT_EQ(a.lookup(12), a.at(12));
  EXPECT_EQ(a.lookup(49), a.at(49));
  EXPECT_EQ(a.lookup(50), nullptr);  // follower of the last line
  EXPECT_EQ(a.lookup(51), nullptr);
}

}  // namespace
}  // namespace quarn
