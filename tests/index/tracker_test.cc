// Reference-list trackers: decoding of every list shape, every defect's log line, and
// the gallop-then-bisect seek checked against a brute-force lower bound.
#include "index/tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "index/crafted_index.h"
#include "index/format.h"
#include "index/search_hooks.h"
#include "index/tgdb.h"
#include "index/tracker_messages.h"

namespace quarn {
namespace {

using testing::LogCapture;
using testing::ScratchDir;

constexpr uint32_t kOrdinal = kTrigramCount - 1;

// A loadable index whose trigram kOrdinal has exactly the given entries.
class TrackerTest : public ::testing::Test {
 protected:
  TgdbRef load_with(const std::vector<uint64_t>& entries) {
    const std::string path = dir_.file("t" + std::to_string(serial_++) + ".idx");
    testing::write_index(path, "a.example\t4:10:1\nb.example\t4:10:1\n");
    testing::patch_list(path, kOrdinal, entries);
    TgdbRef t = tgdb_load(path);
    EXPECT_TRUE(t);
    return t;
  }

  // Every line the tracker yields when walked with get / seek(v + 1).
  static std::vector<uint64_t> walk(tracker& t) {
    std::vector<uint64_t> out;
    uint64_t v;
    while (tracker_get(t, &v)) {
      out.push_back(v);
      tracker_seek(t, v + 1);
    }
    return out;
  }

  ScratchDir dir_;
  int serial_ = 0;
};

uint64_t other(bool narrow, unsigned mask, uint32_t payload) {
  return REF_OTHER | (narrow ? REF_NARROW : 0) | (static_cast<uint64_t>(mask) << 32) | payload;
}

TEST_F(TrackerTest, PlainRangeAndPlainYieldEveryLineAndSeekLandsRight) {
  TgdbRef t = load_with({3, REF_START | 5, REF_END | 9, 12});
  tracker tr;
  ASSERT_EQ(tracker_init(tr, t.get(), nullptr, kOrdinal), 0);
  EXPECT_EQ(walk(tr), (std::vector<uint64_t>{3, 5, 6, 7, 8, 9, 12}));

  tracker s;
  ASSERT_EQ(tracker_init(s, t.get(), nullptr, kOrdinal), 0);
  tracker_seek(s, 7);
  uint64_t v = 0;
  ASSERT_TRUE(tracker_get(s, &v));
  EXPECT_EQ(v, 7u);
  tracker_seek(s, 10);
  ASSERT_TRUE(tracker_get(s, &v));
  EXPECT_EQ(v, 12u);
  tracker_seek(s, 5);  // backwards: no change
  ASSERT_TRUE(tracker_get(s, &v));
  EXPECT_EQ(v, 12u);
  tracker_seek(s, 13);
  EXPECT_FALSE(tracker_get(s, &v));
  EXPECT_TRUE(s.finished);
}

TEST_F(TrackerTest, CompressionEntriesCountFromTheEntryBefore) {
  // 100, then slots 0x0A and 0x0300 (narrow clear, slot 1 widens): 110 and 878.
  TgdbRef t = load_with({100, 0x2C0A030000ull});
  tracker tr;
  ASSERT_EQ(tracker_init(tr, t.get(), nullptr, kOrdinal), 0);
  EXPECT_EQ(walk(tr), (std::vector<uint64_t>{100, 110, 878}));

  tracker s;
  ASSERT_EQ(tracker_init(s, t.get(), nullptr, kOrdinal), 0);
  tracker_seek(s, 111);
  uint64_t v = 0;
  ASSERT_TRUE(tracker_get(s, &v));
  EXPECT_EQ(v, 878u);

  // After a range end, with REF_NARROW keeping the highest slot one byte wide.
  TgdbRef u = load_with({REF_START | 10, REF_END | 12, other(true, 0xE, 0x01020300), 40});
  tracker w;
  ASSERT_EQ(tracker_init(w, u.get(), nullptr, kOrdinal), 0);
  EXPECT_EQ(walk(w), (std::vector<uint64_t>{10, 11, 12, 13, 15, 18, 40}));
}

struct BadList {
  const char* name;
  std::vector<uint64_t> entries;
  const char* expected;  // a fragment of the log line
  bool fails_at_init;
};

TEST_F(TrackerTest, EveryDefectIsLoggedAndStopsTheTracker) {
  const std::vector<BadList> cases = {
      {"end first", {REF_END | 4, 9}, "contained bad start value: 4000000004 (@@@) @ 0/2", true},
      {"start last", {2, REF_START | 4}, "was missing range end value", false},
      {"start without end", {REF_START | 4, 9}, "had bad range end value: 9", true},
      {"range backwards", {REF_START | 9, REF_END | 4}, "had bad range end value: 4000000004", true},
      {"compression first", {other(false, 0x8, 0x01000000)}, "have no base entry", true},
      {"compression after compression",
       {1, other(true, 0x8, 0x01000000), other(true, 0x8, 0x01000000)},
       "offset values pointed back to bad value: 3801000000", false},
      {"compression without slots", {1, REF_OTHER}, "parsing trigram index offset values: 2000000000",
       false},
  };
  for (const BadList& c : cases) {
    SCOPED_TRACE(c.name);
    TgdbRef t = load_with(c.entries);
    LogCapture log(LOG_ERROR);
    tracker tr;
    const int rc = tracker_init(tr, t.get(), nullptr, kOrdinal);
    if (c.fails_at_init) {
      EXPECT_EQ(rc, -1);
    } else {
      ASSERT_EQ(rc, 0);
      // The defect is met while walking: the tracker yields what came before it, then ends.
      std::vector<uint64_t> got = walk(tr);
      EXPECT_TRUE(tr.finished);
      EXPECT_FALSE(got.empty());
    }
    EXPECT_TRUE(log.contains(c.expected)) << log.text();
  }
}

// Encodes an ascending set with a random mix of plain entries, ranges and compression
// entries of the three slot layouts.
std::vector<uint64_t> encode(const std::vector<uint64_t>& lines, std::mt19937_64& rng) {
  std::vector<uint64_t> out;
  size_t i = 0;
  bool can_compress = false;  // the last entry is a plain entry or a range end
  uint64_t base = 0;
  while (i < lines.size()) {
    size_t run = 1;
    while (i + run < lines.size() && lines[i + run] == lines[i] + run) ++run;
    const int pick = static_cast<int>(rng() % 4);
    if (run >= 2 && pick == 0) {
      out.push_back(REF_START | lines[i]);
      out.push_back(REF_END | lines[i + run - 1]);
      base = lines[i + run - 1];
      i += run;
      can_compress = true;
      continue;
    }
    if (can_compress && pick >= 2) {
      // Up to four byte-sized gaps with REF_NARROW set (slots 0..k-1).
      size_t k = 0;
      uint32_t payload = 0;
      uint64_t b = base;
      while (k < 4 && i + k < lines.size() && lines[i + k] - b <= 255) {
        payload |= static_cast<uint32_t>(lines[i + k] - b) << (24 - 8 * k);
        b = lines[i + k];
        ++k;
      }
      if (k > 0) {
        const unsigned mask = (0xFu << (4 - k)) & 0xFu;
        out.push_back(other(true, mask, payload));
        i += k;
        can_compress = false;
        continue;
      }
      // One or two 16-bit gaps (slots 0 and 2 widened, REF_NARROW clear).
      const uint64_t g0 = lines[i] - base;
      if (g0 <= 0xFFFF) {
        if (i + 1 < lines.size() && lines[i + 1] - lines[i] <= 0xFFFF) {
          const uint64_t g1 = lines[i + 1] - lines[i];
          out.push_back(other(false, 0xA, static_cast<uint32_t>((g0 << 16) | g1)));
          i += 2;
        } else {
          out.push_back(other(false, 0x8, static_cast<uint32_t>(g0 << 16)));
          i += 1;
        }
        can_compress = false;
        continue;
      }
    }
    out.push_back(lines[i]);
    base = lines[i];
    ++i;
    can_compress = true;
  }
  return out;
}

TEST_F(TrackerTest, SeekAgreesWithBruteForceOnRandomLists) {
  std::mt19937_64 rng(12345);
  size_t ranges = 0, narrow = 0, wide = 0;
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    std::set<uint64_t> set;
    const int n = 1 + static_cast<int>(rng() % 400);
    const uint64_t spread = (round % 3 == 0) ? 600 : (round % 3 == 1) ? 5000 : 300000;
    uint64_t at = rng() % 50;
    for (int k = 0; k < n; ++k) {
      // Clusters of consecutive lines make ranges; wide jumps force 16-bit gaps or plain.
      at += (rng() % 5 == 0) ? 1 + rng() % spread : 1;
      set.insert(at);
    }
    const std::vector<uint64_t> lines(set.begin(), set.end());
    const std::vector<uint64_t> entries = encode(lines, rng);
    for (uint64_t e : entries) {
      ranges += ref_is_start(e);
      narrow += ref_is_other(e) && (e & REF_NARROW);
      wide += ref_is_other(e) && !(e & REF_NARROW);
    }
    TgdbRef t = load_with(entries);

    tracker full;
    ASSERT_EQ(tracker_init(full, t.get(), nullptr, kOrdinal), 0);
    EXPECT_EQ(walk(full), lines);

    for (int trial = 0; trial < 5; ++trial) {
      tracker tr;
      ASSERT_EQ(tracker_init(tr, t.get(), nullptr, kOrdinal), 0);
      uint64_t target = 0;
      for (;;) {
        target += 1 + rng() % (trial == 0 ? 3 : spread / 4 + 2);
        tracker_seek(tr, target);
        auto it = std::lower_bound(lines.begin(), lines.end(), target);
        uint64_t v = 0;
        if (it == lines.end()) {
          EXPECT_FALSE(tracker_get(tr, &v));
          break;
        }
        ASSERT_TRUE(tracker_get(tr, &v));
        ASSERT_EQ(v, *it) << "seek to " << target;
        target = v;
      }
    }
  }
  // The lists must have exercised every shape.
  EXPECT_GT(ranges, 0u);
  EXPECT_GT(narrow, 0u);
  EXPECT_GT(wide, 0u);
}

TEST_F(TrackerTest, FarSeekDecodesLogarithmicallyManyEntries) {
  std::vector<uint64_t> entries;
  for (uint64_t k = 0; k < 100000; ++k) entries.push_back(k * 3);
  TgdbRef t = load_with(entries);
  SearchStats counters;
  tracker tr;
  ASSERT_EQ(tracker_init(tr, t.get(), nullptr, kOrdinal), 0);
  tr.counters = &counters;
  tracker_seek(tr, 3 * 77777 - 1);
  uint64_t v = 0;
  ASSERT_TRUE(tracker_get(tr, &v));
  EXPECT_EQ(v, 3u * 77777);
  EXPECT_LT(counters.entries_decoded, 60u);
}

}  // namespace
}  // namespace quarn
