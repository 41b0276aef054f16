// The answer of a time-filtered search must not depend on how the observations are split
// into index files: the same observations built into one file and into three daily files
// give byte-identical raw and JSON output under every time filter the command line can
// state, for owner-name and rdata indexes. The bounds include the daily files' own fence
// times and exact record times, where the coarse test of a file's range changes its mind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/log.h"
#include "forge/build.h"
#include "output/output_buffer.h"
#include "retrieval/data_source.h"
#include "search/run_search.h"
#include "support/e2e_support.h"

namespace quarn::test {
namespace {

constexpr int64_t kDay0 = 1717977600;  // 2024-06-10 00:00:00 UTC
constexpr int64_t kDay = 86400;
constexpr int kDays = 3;

struct Observation {
  int day;
  int64_t first, last;
  std::string json;
};

// Names and values from small pools, so that most keys are seen on several days.
std::vector<Observation> observations() {
  static const char* const kTypes[] = {"A", "NS", "A"};
  std::mt19937 rng(11);
  std::vector<Observation> all;
  for (int i = 0; i < 90; ++i) {
    Observation o;
    o.day = i % kDays;
    o.first = kDay0 + o.day * kDay + static_cast<int64_t>(rng() % 40000);
    // A third of the records are seen once; all stay inside their day.
    const bool once = rng() % 3 == 0;
    o.last = once ? o.first : o.first + static_cast<int64_t>(rng() % 40000);
    const std::string type = kTypes[rng() % 3];
    const unsigned value = rng() % 5;
    const std::string rdata = type == "NS" ? "ns" + std::to_string(value % 3) + ".example.net"
                                           : "192.0.2." + std::to_string(value);
    const unsigned name = rng() % 12;
    const unsigned count = 1 + rng() % 9;
    o.json = "{\"rrname\":\"h" + std::to_string(name) + ".example.com\",\"rrtype\":\"" + type +
             "\",\"rdata\":\"" + rdata + "\",\"time_first\":" + std::to_string(o.first) +
             ",\"time_last\":" + std::to_string(o.last) + ",\"count\":" + std::to_string(count) +
             "}\n";
    all.push_back(o);
  }
  return all;
}

std::string contents(FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

struct Filter {
  bool after_set, before_set, complete;
  int64_t after, before;
};

class TimePartition : public ::testing::Test {
 protected:
  void SetUp() override {
    log_set_level(LOG_FAILURE);
    const std::vector<Observation> all = observations();
    std::string merged;
    std::vector<std::string> daily(kDays);
    for (const Observation& o : all) {
      merged += o.json;
      daily[o.day] += o.json;
    }
    build("all", merged, merged_);
    for (int d = 0; d < kDays; ++d) build("day" + std::to_string(d), daily[d], split_);
    bounds_ = fence_and_record_times(all);
  }

  // Adds the owner-name index to lists[0] and the rdata index to lists[1].
  void build(const std::string& tag, const std::string& text, index_list* lists) {
    const std::string input = dir_.file(tag + ".json");
    write_file(input, text);
    BuildOptions o;
    o.inputs = {input};
    o.rrname_out = dir_.file(tag + ".rrname");
    o.rdata_out = dir_.file(tag + ".rdata");
    o.tmpdir = dir_.path();
    o.progress = false;
    BuildStats stats;
    std::string error;
    ASSERT_TRUE(run_build(o, &stats, &error)) << error;
    ASSERT_TRUE(lists[0].add(o.rrname_out));
    ASSERT_TRUE(lists[1].add(o.rdata_out));
  }

  // Just outside and at every daily file's fence, and the times of two records lying
  // inside a day.
  static std::vector<int64_t> fence_and_record_times(const std::vector<Observation>& all) {
    std::vector<int64_t> t;
    for (int d = 0; d < kDays; ++d) {
      int64_t lo = INT64_MAX, hi = INT64_MIN;
      for (const Observation& o : all)
        if (o.day == d) lo = std::min(lo, o.first), hi = std::max(hi, o.last);
      t.insert(t.end(), {lo - 1, lo, hi, hi + 1});
    }
    for (size_t i = 4; i < all.size(); i += 44) t.insert(t.end(), {all[i].first, all[i].last});
    std::sort(t.begin(), t.end());
    t.erase(std::unique(t.begin(), t.end()), t.end());
    return t;
  }

  std::vector<Filter> filters() const {
    std::vector<Filter> f;
    for (bool complete : {false, true}) {
      for (int64_t t : bounds_) {
        f.push_back({true, false, complete, t, 0});
        f.push_back({false, true, complete, 0, t});
      }
      for (size_t i = 0; i < bounds_.size(); i += 3)
        for (size_t j = i + 1; j < bounds_.size(); j += 5)
          f.push_back({true, true, complete, bounds_[i], bounds_[j]});
    }
    return f;
  }

  std::string search(index_list& source, const Filter& f, bool json, const char* expr) {
    SearchOptions o;
    o.source = &source;
    o.limit = static_cast<uint64_t>(-1);
    o.raw = !json;
    o.json = json;
    o.after_set = f.after_set;
    o.before_set = f.before_set;
    o.complete = f.complete;
    o.after = f.after;
    o.before = f.before;
    FILE* out = std::tmpfile();
    std::string text;
    {
      OutputBuffer buffer(out);
      EXPECT_TRUE(run_search(o, expr, buffer));
      text = contents(out);
    }
    std::fclose(out);
    return text;
  }

  TempDir dir_;
  index_list merged_[2], split_[2];  // [0] owner names, [1] rdata
  std::vector<int64_t> bounds_;
};

TEST_F(TimePartition, OneFileAndDailyFilesAnswerAlike) {
  size_t nonempty = 0, cases = 0;
  for (int kind = 0; kind < 2; ++kind) {
    // Every key (a table scan), and a selective trigram query.
    for (const char* expr : {".", "h1[01]\\.|192\\.0\\.2\\.[13]"}) {
      for (const Filter& f : filters()) {
        for (bool json : {false, true}) {
          const std::string one = search(merged_[kind], f, json, expr);
          const std::string three = search(split_[kind], f, json, expr);
          ASSERT_EQ(one, three) << (kind ? "rdata" : "rrname") << " /" << expr << "/"
                                << (f.after_set ? " -A " + std::to_string(f.after) : "")
                                << (f.before_set ? " -B " + std::to_string(f.before) : "")
                                << (f.complete ? " -c" : "") << (json ? " -j" : " -r");
          ++cases;
          nonempty += !one.empty();
        }
      }
    }
  }
  // Most filters must keep something, or the comparison proves little.
  EXPECT_GT(nonempty, cases / 2);
}

}  // namespace
}  // namespace quarn::test
