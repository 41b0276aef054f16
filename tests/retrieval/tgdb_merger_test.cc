// The record merger over real index files written with the project's writer: merging of
// observations across indexes, the result filter, the time-fence tests and shortcuts,
// aborts, rdata keys, and the counters it feeds.
#include "retrieval/tgdb_merger.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "index/crafted_index.h"
#include "index/name_order.h"
#include "index/tgdb.h"
#include "retrieval/rdata_order.h"
#include "retrieval/search_context.h"

namespace quarn {
namespace {

using testing::LogCapture;
using testing::ScratchDir;

class MergerTest : public ::testing::Test {
 protected:
  TgdbRef index(const std::string& text, IndexWriterOptions options = {}) {
    const std::string path = dir_.file("i" + std::to_string(serial_++) + ".idx");
    if (options.kind == IndexKind::kRdata && !options.compare)
      options.compare = [](std::string_view a, std::string_view b) {
        return rdata_line_compare(a, b);
      };
    testing::write_index(path, text, options);
    TgdbRef t = tgdb_load(path);
    EXPECT_TRUE(t);
    return t;
  }

  static IndexWriterOptions fenced(uint32_t earliest, uint32_t latest) {
    IndexWriterOptions o;
    o.timefence = true;
    o.earliest_seen = earliest;
    o.latest_seen = latest;
    return o;
  }

  static std::vector<std::unique_ptr<result_entry>> drain(tgdb_merger& m) {
    std::vector<std::unique_ptr<result_entry>> out;
    while (auto r = m.next()) out.push_back(std::move(r));
    return out;
  }

  static std::vector<std::string> keys(tgdb_merger& m) {
    std::vector<std::string> out;
    for (auto& r : drain(m)) out.push_back(r->key);
    return out;
  }

  ScratchDir dir_;
  int serial_ = 0;
};

TEST(KeyEqualityTest, FastOwnerNameEqualityAgreesWithTheNameOrder) {
  // Short texts over the characters that matter to the key split: blanks inside and at
  // the end, dots, tabs and line feeds.
  std::mt19937 rng(99);
  const char alphabet[] = {'a', 'b', '.', ' ', '\t', '\n'};
  size_t equal_pairs = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string a, b;
    for (size_t n = rng() % 7; n > 0; --n) a += alphabet[rng() % 6];
    if (rng() % 3 == 0) {
      b = a;
      if (!b.empty()) b[rng() % b.size()] = alphabet[rng() % 6];
    } else {
      for (size_t n = rng() % 7; n > 0; --n) b += alphabet[rng() % 6];
    }
    const bool same = name_order(a, b) == 0;
    equal_pairs += same;
    ASSERT_EQ(rrname_keys_equal(a, b), same) << "[" << a << "] [" << b << "]";
  }
  EXPECT_GT(equal_pairs, 1000u);
}

TEST_F(MergerTest, SameNameInTwoIndexesMergesIntoOneResult) {
  // A: count 2, first 100, last 200 / count 3, first 50, last 150; NS only in the first.
  TgdbRef a = index("com\t4:10:1\nexample.com\t4:64,64:2 n:70:1\nzed.example.com\t4:10:1\n");
  TgdbRef b = index("example.com\t4:32,64:3\nmail.example.com\tc:20:4\n");
  search_context ctx;
  tgdb_merger m(ctx, false);
  m.add_index(a.get());
  m.add_index(b.get());
  auto results = drain(m);
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(results[0]->key, "com");
  EXPECT_EQ(results[1]->key, "example.com");
  // A shorter label sorts first: zed before mail.
  EXPECT_EQ(results[2]->key, "zed.example.com");
  EXPECT_EQ(results[3]->key, "mail.example.com");
  const result_entry& r = *results[1];
  ASSERT_EQ(r.auxdata.size(), 2u);
  EXPECT_EQ(r.auxdata[0], (rrtype_summary{1, 5, 50, 200}));
  EXPECT_EQ(r.auxdata[1], (rrtype_summary{2, 1, 0x70, 0x70}));
  EXPECT_FALSE(r.raw_rdata.has_value());
  EXPECT_EQ(m.next(), nullptr);  // stays finished
}

TEST_F(MergerTest, KeysWithASuffixMeetTheSameNameWithout) {
  TgdbRef a = index("example.com\t4:10:1\nexample.com y\t4:10:4\n");
  TgdbRef b = index("example.com x\t4:10:2\n");
  search_context ctx;
  tgdb_merger m(ctx, false);
  m.add_index(a.get());
  m.add_index(b.get());
  auto results = drain(m);
  // "example.com" equals both suffixed keys, so the three lines meet in one result.
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->auxdata[0].count, 7u);
}

TEST_F(MergerTest, KeyInEveryIndexIsConfirmedOnce) {
  const std::string text = "a.example\t4:10:1\nb.example\t4:10:1\nc.example\t4:10:1\n";
  TgdbRef a = index(text), b = index(text), c = index(text);
  search_context ctx;
  tgdb_merger m(ctx, false);
  for (auto* t : {a.get(), b.get(), c.get()}) m.add_index(t);
  uint64_t tested = 0, matched = 0, bytes = 0, pages = 0;
  std::vector<std::string> got;
  while (auto r = m.next()) {
    got.push_back(r->key);
    EXPECT_EQ(r->auxdata[0].count, 3u);
    tested += ctx.counters().trigram_matches;
    matched += ctx.counters().pattern_matches;
    bytes += ctx.counters().bytes_read;
    pages += ctx.counters().pages_read;
  }
  EXPECT_EQ(got, (std::vector<std::string>{"a.example", "b.example", "c.example"}));
  EXPECT_EQ(tested, 3u);
  EXPECT_EQ(matched, 3u);
  // Every line but the three first ones (counted while the indexes were added, before
  // the first call reset the counters) is counted with its line feed.
  EXPECT_EQ(bytes, 3 * (text.size() - 17));
  EXPECT_EQ(pages, 0u);  // every line lies on each table's first page, counted at add
}

TEST_F(MergerTest, PagesAreCountedOncePerPageWalked) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "host" + std::to_string(100000 + i) + ".example\t4:10:1\n";
  TgdbRef t = index(text);
  search_context ctx;
  tgdb_merger m(ctx, false);
  m.add_index(t.get());
  uint64_t pages = 0, results = 0;
  while (auto r = m.next()) {
    pages += ctx.counters().pages_read;
    ++results;
  }
  EXPECT_EQ(results, 3000u);
  // The table spans ceil(size / 4096) pages; the first was counted while adding.
  const uint64_t spanned = (text.size() + 4095) / 4096;
  EXPECT_EQ(pages, spanned - 1);
}

TEST_F(MergerTest, ResultFilterKeepsPassingElementsAndNormalisesThem) {
  search_context ctx;
  ctx.set_time_last_after(150);
  result_entry r;
  r.auxdata = {{1, 0, 100, 0}, {2, 4, 100, 200}, {5, 0, 300, 0}};
  ASSERT_TRUE(result_filter(ctx, &r));
  // A: last 0 becomes 100 < 150, dropped. NS passes. CNAME: last becomes 300, count 1.
  ASSERT_EQ(r.auxdata.size(), 2u);
  EXPECT_EQ(r.auxdata[0], (rrtype_summary{2, 4, 100, 200}));
  EXPECT_EQ(r.auxdata[1], (rrtype_summary{5, 1, 300, 300}));

  search_context counts;
  counts.set_count_range(2, 0);  // maximum 0: no upper bound
  result_entry c;
  c.auxdata = {{1, 0, 10, 10}, {2, 1000000, 10, 10}};
  ASSERT_TRUE(result_filter(counts, &c));
  ASSERT_EQ(c.auxdata.size(), 1u);
  EXPECT_EQ(c.auxdata[0].rrtype, 2u);

  search_context types;
  types.set_rrtype(28);
  result_entry t;
  t.auxdata = {{1, 1, 10, 10}};
  EXPECT_FALSE(result_filter(types, &t));
  EXPECT_FALSE(result_filter(types, nullptr));
}

TEST_F(MergerTest, FilteredOutKeyIsPassedOverWithinOneCall) {
  TgdbRef a = index("a.example\t4:10:1\nb.example\t4:500:0\nc.example\t4:20:1\n");
  search_context ctx;
  ctx.set_time_first_after(0x100);
  tgdb_merger m(ctx, false);
  m.add_index(a.get());
  auto r = m.next();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->key, "b.example");
  EXPECT_EQ(r->auxdata[0].count, 1u);  // count 0 is reported as 1
  EXPECT_EQ(ctx.counters().trigram_matches, 2u);
  EXPECT_EQ(m.next(), nullptr);
}

TEST_F(MergerTest, IndexOfTheOtherKindIsIgnoredSilently) {
  IndexWriterOptions rd;
  rd.kind = IndexKind::kRdata;
  TgdbRef names = index("a.example\t4:10:1\n");
  TgdbRef rdata = index("1.2.3.4\t4/01020304 4:10:1\n", rd);
  search_context ctx;
  LogCapture log(LOG_TRACE);
  tgdb_merger m(ctx, false);
  m.add_index(rdata.get());
  EXPECT_EQ(log.text(), "");
  m.add_index(names.get());
  EXPECT_EQ(keys(m), (std::vector<std::string>{"a.example"}));
}

TEST_F(MergerTest, CoarseTimeTestIsInclusiveAtBothBounds) {
  TgdbRef t = index("a.example\t4:3e8,3e8:1\n", fenced(1000, 2000));
  struct Case {
    const char* name;
    void (search_context::*set)(int64_t);
    int64_t bound;
    bool searched;
  };
  const Case cases[] = {
      {"first_before at earliest", &search_context::set_time_first_before, 1000, true},
      {"first_before below earliest", &search_context::set_time_first_before, 999, false},
      {"last_after at latest", &search_context::set_time_last_after, 2000, true},
      {"last_after above latest", &search_context::set_time_last_after, 2001, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    search_context ctx;
    (ctx.*c.set)(c.bound);
    EXPECT_EQ(ctx.index_may_match(1000, 2000), c.searched);
    LogCapture log(LOG_DEBUG);
    tgdb_merger m(ctx, false);
    m.add_index(t.get());
    EXPECT_EQ(log.contains("Skipping " + t->path() + " due to time filter"), !c.searched);
    // A record seen exactly at the bound is returned.
    EXPECT_EQ(keys(m).size(), c.searched ? 1u : 0u);
  }
}

TEST_F(MergerTest, OutOfRangeShortcutsNeedEveryIndexFenced) {
  TgdbRef in_fence = index("a.example\t4:3e8:1\n", fenced(1000, 2000));
  TgdbRef unfenced = index("b.example\t4:1388:1\n");  // first seen 5000
  {
    search_context ctx;
    ctx.set_time_first_after(2001);
    LogCapture log(LOG_DEBUG);
    tgdb_merger m(ctx, false);
    m.add_index(in_fence.get());
    EXPECT_EQ(m.next(), nullptr);
    EXPECT_TRUE(m.done());
    EXPECT_TRUE(log.contains("time_first_after out of range, finishing query"));
  }
  {
    search_context ctx;
    ctx.set_time_last_before(999);
    LogCapture log(LOG_DEBUG);
    tgdb_merger m(ctx, false);
    m.add_index(in_fence.get());
    EXPECT_EQ(m.next(), nullptr);
    EXPECT_TRUE(log.contains("time_last_before out of range, finishing query"));
  }
  {
    // The unfenced index may hold later records: they must still be found.
    search_context ctx;
    ctx.set_time_first_after(2001);
    tgdb_merger m(ctx, false);
    m.add_index(in_fence.get());
    m.add_index(unfenced.get());
    EXPECT_EQ(keys(m), (std::vector<std::string>{"b.example"}));
  }
  {
    // A fence starting at time 0 is a fence like any other, not "no fence yet".
    TgdbRef from_zero = index("z.example\t4:0:1\n", fenced(0, 0));
    search_context ctx;
    ctx.set_time_last_before(500);
    tgdb_merger m(ctx, false);
    m.add_index(from_zero.get());
    m.add_index(in_fence.get());
    EXPECT_EQ(keys(m), (std::vector<std::string>{"z.example"}));
  }
  {
    // No fenced index at all: nothing is cut short, every record is tested.
    search_context ctx;
    ctx.set_time_first_after(4000);
    tgdb_merger m(ctx, false);
    m.add_index(unfenced.get());
    EXPECT_EQ(keys(m), (std::vector<std::string>{"b.example"}));
  }
}

TEST_F(MergerTest, PassedDeadlineAbortsAndTheCallbackMayExtendIt) {
  TgdbRef t = index("a.example\t4:10:1\nb.example\t4:10:1\nc.example\t4:10:1\n");
  const TimePoint past{1, 0};
  {
    search_context ctx;
    tgdb_merger m(ctx, false);
    m.add_index(t.get());
    ctx.set_deadline(&past);
    EXPECT_EQ(m.next(), nullptr);
    EXPECT_TRUE(m.done());
    EXPECT_EQ(m.next(), nullptr);
  }
  {
    // Aborted while the index is being added: nothing to return.
    search_context ctx;
    ctx.set_deadline(&past);
    tgdb_merger m(ctx, false);
    m.add_index(t.get());
    EXPECT_TRUE(m.done());
    EXPECT_EQ(m.next(), nullptr);
  }
  {
    search_context ctx;
    int calls = 0;
    ctx.set_timeout_callback([&](TimePoint& deadline) {
      ++calls;
      deadline = time_add(my_gettime(), TimePoint{3600, 0});
      return true;
    });
    ctx.set_deadline(&past);
    tgdb_merger m(ctx, false);
    m.add_index(t.get());
    EXPECT_EQ(keys(m).size(), 3u);
    EXPECT_EQ(calls, 1);
  }
  {
    search_context ctx;
    bool timed_out = false;
    ctx.set_timeout_callback([&](TimePoint&) {
      timed_out = true;
      return false;
    });
    tgdb_merger m(ctx, false);
    m.add_index(t.get());
    ASSERT_TRUE(m.next());
    ctx.set_deadline(&past);
    EXPECT_EQ(m.next(), nullptr);
    EXPECT_TRUE(timed_out);
  }
}

TEST(DeadlineTest, DeadlineInTheCurrentSecondAbortsOnlyOncePassed) {
  search_context ctx;
  ctx.check_deadline();  // not armed
  TimePoint soon = time_add(my_gettime(), TimePoint{0, 200000000});
  ctx.set_deadline(&soon);
  EXPECT_NO_THROW(ctx.check_deadline());
  const TimePoint past{1, 999999999};
  ctx.set_deadline(&past);
  EXPECT_THROW(ctx.check_deadline(), search_aborted);
  ctx.set_deadline(nullptr);
  EXPECT_NO_THROW(ctx.check_deadline());
}

TEST(RecordTimeTest, BoundsAreInclusive) {
  search_context ctx;
  EXPECT_TRUE(ctx.index_may_match(1, 2));  // no filter
  ctx.set_time_first_after(100);
  EXPECT_TRUE(ctx.record_passes(100, 100));
  EXPECT_FALSE(ctx.record_passes(99, 200));
  ctx.set_time_first_before(200);
  EXPECT_TRUE(ctx.record_passes(200, 300));
  EXPECT_FALSE(ctx.record_passes(201, 300));
  ctx.set_time_last_before(300);
  EXPECT_TRUE(ctx.record_passes(150, 300));
  EXPECT_FALSE(ctx.record_passes(150, 301));
  ctx.set_time_last_after(250);
  EXPECT_TRUE(ctx.record_passes(150, 250));
  EXPECT_FALSE(ctx.record_passes(150, 249));
}

TEST_F(MergerTest, RdataResultsMergePerValueAndType) {
  IndexWriterOptions rd;
  rd.kind = IndexKind::kRdata;
  TgdbRef a = index(
      "1.2.3.4\t4/01020304 4:64,64:2\n"
      "1.2.3.4\t4/01020304 6:64:1\n"
      "ns.example\t12/026e73076578616d706c6500 n:10:1\n",
      rd);
  TgdbRef b = index("1.2.3.4\t4/01020304 4:32:3\n", rd);
  search_context ctx;
  tgdb_merger m(ctx, true);
  m.add_index(a.get());
  m.add_index(b.get());
  auto results = drain(m);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0]->key, "1.2.3.4");
  EXPECT_EQ(results[0]->auxdata[0], (rrtype_summary{1, 5, 50, 200}));
  EXPECT_EQ(*results[0]->raw_rdata, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_FALSE(results[0]->wildcard);
  EXPECT_EQ(results[1]->auxdata[0].rrtype, 28u);
  EXPECT_EQ(results[2]->key, "ns.example");
  EXPECT_EQ(results[2]->raw_rdata->size(), 12u);
}

TEST_F(MergerTest, LinesWhoseAnnotationsDoNotParseAreIgnored) {
  std::unique_ptr<result_entry> r;
  merge_rrname(r, "a.example\t4:zz:1");
  EXPECT_EQ(r, nullptr);
  merge_rrname(r, "a.example\t4:10:2");
  ASSERT_TRUE(r);
  merge_rrname(r, "a.example\tbogus");
  EXPECT_EQ(r->auxdata, (std::vector<rrtype_summary>{{1, 2, 16, 16}}));

  std::unique_ptr<result_entry> d;
  merge_rdata(d, "1.2.3.4\t4/0102 4:10:1");  // too few digits for the length
  EXPECT_EQ(d, nullptr);
  merge_rdata(d, "1.2.3.4\t4/01020304 4:10:1");
  ASSERT_TRUE(d);
  // A line of another type is never folded in, even when handed over as the same key.
  merge_rdata(d, "1.2.3.4\t4/01020304 6:10:7");
  EXPECT_EQ(d->auxdata, (std::vector<rrtype_summary>{{1, 1, 16, 16}}));
  merge_rdata(d, "1.2.3.4\t4/01020304 6:10:7 4:1:1");  // two tokens: refused
  EXPECT_EQ(d->auxdata[0].count, 1u);
}

// A handed-back result is reused for the next one: nothing of the earlier key (types,
// raw rdata, wildcard mark, a longer key text) may leak into it, also when the reused
// entry held a key the filter discarded.
TEST_F(MergerTest, RecycledResultsAreAssembledFresh) {
  IndexWriterOptions rd;
  rd.kind = IndexKind::kRdata;
  const std::string rrname_text =
      "a-rather-long-owner-name.a.example\t4:200:1 n:300:2 f:400:3\n"
      "b.example\t4:10:1\n"
      "c.example\tn:300:0\n"
      "d.example\t4:210:5\n";
  const std::string rdata_text =
      "1.2.3.4\t4/01020304 06:200:1\n"
      "1.2.3.5\t4/01020305 4:10:1\n"
      "ns.example\t12/026e73076578616d706c6500 n:300:1\n";
  for (int kind = 0; kind < 2; ++kind) {
    const bool rdata = kind == 1;
    TgdbRef a = rdata ? index(rdata_text, rd) : index(rrname_text);
    auto run = [&](bool recycle) {
      search_context ctx;
      ctx.set_time_first_after(0x100);  // drops b.example and 1.2.3.5 inside a call
      tgdb_merger m(ctx, rdata);
      m.add_index(a.get());
      std::vector<result_entry> out;
      while (auto r = m.next()) {
        out.push_back(*r);
        if (recycle) m.recycle(std::move(r));
      }
      return out;
    };
    const std::vector<result_entry> fresh = run(false);
    const std::vector<result_entry> reused = run(true);
    ASSERT_EQ(fresh.size(), rdata ? 2u : 3u);
    ASSERT_EQ(reused.size(), fresh.size());
    for (size_t i = 0; i < fresh.size(); ++i) {
      EXPECT_EQ(reused[i].key, fresh[i].key);
      EXPECT_EQ(reused[i].auxdata, fresh[i].auxdata);
      EXPECT_EQ(reused[i].raw_rdata, fresh[i].raw_rdata);
      EXPECT_EQ(reused[i].wildcard, fresh[i].wildcard);
    }
    if (rdata) {
      EXPECT_TRUE(fresh[0].wildcard);
      EXPECT_FALSE(fresh[1].wildcard);
    } else {
      EXPECT_EQ(fresh[1].key, "c.example");
      EXPECT_EQ(fresh[1].auxdata.size(), 1u);
    }
  }
}

// The merger holds lines where they lie in the mapped files. When the caller's own
// references are gone (as after a fileset reload), an index whose lines run out first
// must stay mapped while its last line is still the key being merged.
TEST_F(MergerTest, LinesOfAnExhaustedIndexStayReadable) {
  TgdbRef a = index("example.com\t4:10:1\n");
  TgdbRef b = index("example.com\t4:20:2\nzzz.example.com\t4:30:3\n");
  search_context ctx;
  tgdb_merger m(ctx, false);
  m.add_index(a.get());
  m.add_index(b.get());
  a = TgdbRef();
  b = TgdbRef();
  auto results = drain(m);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0]->key, "example.com");
  EXPECT_EQ(results[0]->auxdata[0], (rrtype_summary{1, 3, 16, 32}));
  EXPECT_EQ(results[1]->key, "zzz.example.com");
}

}  // namespace
}  // namespace quarn
