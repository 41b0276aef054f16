// Index files as build inputs: merging built parts gives the bytes of a build from all
// their observations, damaged or mismatched inputs fail the build and leave nothing,
// and retention keeps exactly what a brute-force filter over the aggregates keeps.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/log.h"
#include "forge/build.h"
#include "forge/index_input.h"
#include "forge/run_spiller.h"
#include "index/index_writer.h"
#include "index/tgdb.h"
#include "retrieval/annotation.h"
#include "support/scratch_dir.h"

namespace quarn {
namespace {

constexpr uint32_t kDay0 = 1717977600;  // 2024-06-10 00:00:00 UTC
constexpr uint32_t kDay = 86400;

struct Observation {
  std::string name, type;
  uint32_t first, last;
  uint64_t count;
  std::string json;
};

// Keys from small pools, so that most are seen in several parts; times over 30 days.
std::vector<Observation> generate(unsigned seed, int n) {
  static const char* const kTypes[] = {"A", "AAAA", "NS", "MX", "TXT"};
  std::mt19937 rng(seed);
  std::vector<Observation> all;
  for (int i = 0; i < n; ++i) {
    Observation o;
    o.name = "h" + std::to_string(rng() % 400) + ".z" + std::to_string(rng() % 7) + ".example";
    o.type = kTypes[rng() % 5];
    const unsigned v = rng() % 60;
    const std::string rdata =
        o.type == "A"    ? "192.0.2." + std::to_string(v)
        : o.type == "AAAA" ? "2001:db8::" + std::to_string(v)
        : o.type == "NS"   ? "NS" + std::to_string(v % 9) + ".Example.NET."
        : o.type == "MX"   ? "10 mx" + std::to_string(v % 5) + ".example.org."
                           : "\\\"v=" + std::to_string(v) + "\\\"";
    o.first = kDay0 + static_cast<uint32_t>(rng() % (30 * kDay));
    o.last = rng() % 3 == 0 ? o.first : o.first + static_cast<uint32_t>(rng() % (3 * kDay));
    o.count = 1 + rng() % 20;
    o.json = "{\"rrname\":\"" + o.name + "\",\"rrtype\":\"" + o.type + "\",\"rdata\":\"" +
             rdata + "\",\"time_first\":" + std::to_string(o.first) +
             ",\"time_last\":" + std::to_string(o.last) +
             ",\"count\":" + std::to_string(o.count) + "}\n";
    all.push_back(std::move(o));
  }
  return all;
}

uint16_t type_of(const Observation& o) {
  return o.type == "A" ? 1 : o.type == "AAAA" ? 28 : o.type == "NS" ? 2 : o.type == "MX" ? 15 : 16;
}

// (owner name, type) -> (count, first, last)
using Aggregates = std::map<std::pair<std::string, uint16_t>, std::tuple<uint64_t, int64_t, int64_t>>;

void fold(Aggregates& into, const std::string& name, uint16_t type, uint64_t count,
          int64_t first, int64_t last) {
  auto [it, fresh] = into.try_emplace({name, type}, count, first, last);
  if (fresh) return;
  auto& [c, f, l] = it->second;
  c += count;
  f = std::min(f, first);
  l = std::max(l, last);
}

class IndexMergeTest : public ::testing::Test {
 protected:
  void SetUp() override { log_set_level(LOG_FAILURE); }

  std::string path(const std::string& name) const { return dir_.file(name); }

  std::string write(const std::string& name, const std::vector<Observation>& obs) {
    std::ofstream f(path(name), std::ios::binary);
    for (const Observation& o : obs) f << o.json;
    return path(name);
  }

  bool build(std::vector<std::string> inputs, const std::string& names,
             const std::string& rdata, RetentionWindow window = {}) {
    BuildOptions o;
    o.inputs = std::move(inputs);
    o.rrname_out = names.empty() ? "" : path(names);
    o.rdata_out = rdata.empty() ? "" : path(rdata);
    o.tmpdir = dir_.path();
    o.memory_budget = kMinSortBudget;  // several sorted runs beside the index inputs
    o.progress = false;
    o.retention = window;
    o.report = stderr;
    error_.clear();
    BuildStats stats;
    return run_build(o, &stats, &error_);
  }

  static std::string slurp(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  size_t files() const {
    size_t n = 0;
    if (DIR* d = opendir(dir_.path().c_str())) {
      while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
      closedir(d);
    }
    return n;
  }

  // The owner-name index read back, and its time fence.
  static Aggregates read_names(const std::string& p, uint32_t* earliest, uint32_t* latest) {
    Aggregates out;
    TgdbRef t = tgdb_load(p);
    EXPECT_TRUE(t) << p;
    if (!t) return out;
    *earliest = t->earliest_seen();
    *latest = t->latest_seen();
    const std::string table(t->string_table(), t->string_table_size());
    std::vector<rrtype_summary> s;
    for (size_t at = 0; at < table.size();) {
      const size_t nl = table.find('\n', at), tab = table.find('\t', at);
      EXPECT_GT(parse_rrname_annotation(std::string_view(table).substr(tab + 1, nl - tab - 1), &s), 0u);
      for (const rrtype_summary& e : s) {
        fold(out, table.substr(at, tab - at), e.rrtype, e.count, e.time_first, e.time_last);
      }
      at = nl + 1;
    }
    return out;
  }

  quarn::testing::ScratchDir dir_;
  std::string error_;
};

TEST_F(IndexMergeTest, MergedPartsGiveTheBytesOfOneBuild) {
  const std::vector<Observation> all = generate(7, 30000);
  std::vector<std::vector<Observation>> parts(4);
  for (size_t i = 0; i < all.size(); ++i) parts[i % 4].push_back(all[i]);
  ASSERT_TRUE(build({write("all.json", all)}, "all-n.idx", "all-d.idx")) << error_;
  for (int p = 0; p < 3; ++p) {
    const std::string tag = "p" + std::to_string(p);
    ASSERT_TRUE(build({write(tag + ".json", parts[p])}, tag + "-n.idx", tag + "-d.idx")) << error_;
  }
  // A part that is itself a merge, then index files and observations together.
  ASSERT_TRUE(build({path("p0-n.idx"), path("p0-d.idx"), path("p1-d.idx"), path("p1-n.idx")},
                    "m01-n.idx", "m01-d.idx")) << error_;
  ASSERT_TRUE(build({path("m01-n.idx"), path("p2-n.idx"), write("p3.json", parts[3]),
                     path("p2-d.idx"), path("m01-d.idx")},
                    "final-n.idx", "final-d.idx")) << error_;
  EXPECT_TRUE(slurp(path("all-n.idx")) == slurp(path("final-n.idx")));
  EXPECT_TRUE(slurp(path("all-d.idx")) == slurp(path("final-d.idx")));
}

TEST_F(IndexMergeTest, DamagedOrMismatchedInputsFailAndLeaveNothing) {
  ASSERT_TRUE(build({write("a.json", generate(3, 2000))}, "a-n.idx", "a-d.idx")) << error_;
  const std::string good = slurp(path("a-n.idx"));
  TgdbRef t = tgdb_load(path("a-n.idx"));
  ASSERT_TRUE(t);
  const size_t table = static_cast<size_t>(t->string_table() - reinterpret_cast<const char*>(t->base()));
  t.reset();

  std::string no_tab = good;
  no_tab[no_tab.find('\t', table + 1000)] = 'x';
  std::ofstream(path("no-tab.idx"), std::ios::binary) << no_tab;
  std::ofstream(path("cut.idx"), std::ios::binary) << good.substr(0, good.size() / 2);
  IndexWriterOptions wo;
  wo.compare = [](std::string_view, std::string_view) { return -1; };  // lets any order in
  ASSERT_TRUE(write_index_from_text(path("order.idx"),
                                    "b.example\t4:66666666:1\na.example\t4:66666666:1\n", wo,
                                    &error_)) << error_;
  const size_t before = files();
  const struct {
    std::string input, error;
    bool rdata_out;
  } cases[] = {
      {"no-tab.idx", "input index " + path("no-tab.idx") + " is damaged at line", true},
      {"cut.idx", "input " + path("cut.idx") + " is not a readable index file", true},
      {"order.idx", "is damaged at line 2: keys out of order", true},
      {"a-d.idx", "input " + path("a-d.idx") + " is an rdata index, but no rdata index", false},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(build({path("a-n.idx"), path(c.input)}, "out-n.idx", c.rdata_out ? "out-d.idx" : ""))
        << c.input;
    EXPECT_NE(error_.find(c.error), std::string::npos) << error_;
    EXPECT_EQ(files(), before) << c.input;  // no output, no temporary file
  }
}

TEST_F(IndexMergeTest, RetentionKeepsWhatOverlapsTheWindow) {
  const std::vector<Observation> all = generate(5, 6000);
  std::vector<std::vector<Observation>> parts(3);
  for (size_t i = 0; i < all.size(); ++i) parts[i % 3].push_back(all[i]);
  std::vector<std::string> inputs;
  for (int p = 0; p < 3; ++p) {
    const std::string tag = "p" + std::to_string(p);
    ASSERT_TRUE(build({write(tag + ".json", parts[p])}, tag + "-n.idx", "")) << error_;
    inputs.push_back(path(tag + "-n.idx"));
  }
  // Bounds on exact record times too, where "overlaps" must include the end points.
  const RetentionWindow windows[] = {
      {all[0].last, all[1].first > all[0].last ? all[1].first : all[0].last + kDay},
      {kDay0 + 10 * kDay + 5000, kDay0 + 20 * kDay + 100},
      {kDay0 + 25 * kDay, RetentionWindow{}.before},
      {RetentionWindow{}.after, kDay0 + 2 * kDay},
  };
  for (const RetentionWindow& w : windows) {
    const auto overlaps = [&w](int64_t first, int64_t last) {
      return last >= w.after && first <= w.before;
    };
    // Index inputs: each part's aggregates are kept or dropped whole.
    Aggregates from_parts;
    for (const auto& part : parts) {
      Aggregates typed;
      for (const Observation& o : part) fold(typed, o.name, type_of(o), o.count, o.first, o.last);
      for (const auto& [k, v] : typed) {
        if (overlaps(std::get<1>(v), std::get<2>(v))) {
          fold(from_parts, k.first, k.second, std::get<0>(v), std::get<1>(v), std::get<2>(v));
        }
      }
    }
    // Observations: each is kept or dropped on its own.
    Aggregates from_observations;
    for (const Observation& o : all) {
      if (!overlaps(o.first, o.last)) continue;
      fold(from_observations, o.name, type_of(o), o.count, o.first, o.last);
    }
    const std::pair<std::vector<std::string>, const Aggregates*> runs[] = {
        {inputs, &from_parts}, {{write("all.json", all)}, &from_observations}};
    for (const auto& [in, expected] : runs) {
      std::remove(path("kept.idx").c_str());
      ASSERT_TRUE(build(in, "kept.idx", "", w)) << error_;
      uint32_t earliest = 0, latest = 0;
      EXPECT_TRUE(read_names(path("kept.idx"), &earliest, &latest) == *expected);
      int64_t lo = INT64_MAX, hi = 0;
      for (const auto& [k, v] : *expected) {
        lo = std::min(lo, std::get<1>(v));
        hi = std::max(hi, std::get<2>(v));
      }
      EXPECT_EQ(earliest, lo);
      EXPECT_EQ(latest, hi);
    }
  }
}

}  // namespace
}  // namespace quarn
