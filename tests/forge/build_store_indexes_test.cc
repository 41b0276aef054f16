// A build that also writes the record store (-R) writes the very owner-name and rdata
// indexes, and counts the very lines and values, of a build without it: on one thread
// or two, kept in memory or spilled in many runs, from observations, raw index lines,
// a retention window, index files and record stores.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "forge/build.h"
#include "forge/run_spiller.h"
#include "index/tgdb.h"
#include "support/scratch_dir.h"

namespace quarn {
namespace {

// Observation lines from a fixed seed. Names are zones, their hosts and the hosts' www
// children, spelled in two cases; each takes six record types with values from small
// pools, so one (name, type, value) recurs on many lines with other times and counts.
// Arrays hold 1-4 values, repeats among them; some counts are 0, some lines carry a
// bailiwick, some arrays a bad element, some values break the rdata text rules, and a
// few lines are malformed.
class Observations {
 public:
  explicit Observations(uint32_t seed) : x_(seed) {}

  std::vector<std::string> lines(int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back(line(i));
    return out;
  }

 private:
  uint32_t pick(uint32_t n) {
    x_ = x_ * 1103515245u + 12345u;
    return (x_ >> 8) % n;
  }

  std::string name() {
    const std::string zone = "z" + std::to_string(pick(4)) + ".example.";
    const std::string host = (pick(2) ? "h" : "H") + std::to_string(pick(30)) + ".";
    switch (pick(3)) {
      case 0: return zone;
      case 1: return host + zone;
      default: return "www." + host + zone;
    }
  }

  std::string value(uint32_t type) {
    const std::string j = std::to_string(pick(5));
    switch (type) {
      case 0: return "\"10.0." + std::to_string(pick(3)) + "." + j + "\"";
      case 1: return "\"2001:db8::" + j + "\"";
      case 2: return pick(2) ? "\"NS" + j + ".Example.NET.\"" : "\"ns" + j + ".example.net.\"";
      case 3: return "\"" + std::to_string(10 * pick(2)) + " mx" + j + ".example.\"";
      case 4:  // over 256 bytes now and then: left out by the rdata text rules
        return pick(30) ? "\"\\\"v=spf" + j + "\\\"\""
                        : "\"" + std::string(150, 'x') + " " + std::string(150, 'y') + "\"";
      default: return "\"t" + j + ".cdn.example.\"";
    }
  }

  std::string line(int i) {
    static const char* const kTypes[] = {"A", "AAAA", "NS", "MX", "TXT", "CNAME"};
    if (pick(90) == 0) return "{\"rrname\": broken\n";
    const std::string owner = name();
    const uint32_t type = pick(6);
    const std::string first_value = value(type);
    std::string rdata = first_value;
    for (uint32_t more = pick(4); more > 0; --more) {
      rdata += "," + (pick(3) == 0 ? first_value : value(type));
    }
    if (type == 0 && pick(10) == 0) rdata += pick(2) ? ",\"bad\"" : ",5";
    const uint32_t first = 1600000000 + pick(100000);
    const uint32_t last = pick(200) ? first + pick(50000) : first - 1;  // rarely malformed
    std::string out = "{\"rrname\":\"" + owner + "\",\"rrtype\":\"" + kTypes[type] +
                      "\",\"rdata\":[" + rdata + "],\"time_first\":" + std::to_string(first) +
                      ",\"time_last\":" + std::to_string(last) +
                      ",\"count\":" + std::to_string(pick(5));
    if (pick(3) == 0) out += ",\"bailiwick\":\"b" + std::to_string(i) + ".example.\"";
    return out + "}\n";
  }

  uint32_t x_;
};

// The stats that must not depend on whether the store is built. The count of what a
// window drops is not among them: each output counts its own entries outside it, so a
// build with the store counts the store's too.
std::array<uint64_t, 6> counted(const BuildStats& s) {
  return {s.rrname_lines, s.rdata_lines, s.rdata_skipped, s.rdata_skipped_records, s.records,
          s.lines};
}

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// Keeps every build here in one batch in memory, and is quicker to reserve than the
// default budget.
constexpr size_t kInMemory = size_t{32} << 20;
// Enough observations that a build at the least budget spills them in several runs.
constexpr size_t kObservationLines = 6000;

class BuildStoreIndexesTest : public ::testing::Test {
 protected:
  void SetUp() override { report_ = tmpfile(); }
  void TearDown() override { fclose(report_); }

  struct Built {
    std::string names, rdata;
    BuildStats stats;
  };

  // One build into a directory of its own, with the indexes, the store or both.
  Built build(const std::string& tag, std::vector<std::string> inputs, bool indexes,
              bool store, const RetentionWindow& window = {}, size_t threads = 1,
              size_t memory_budget = kInMemory) {
    const std::string dir = dir_.file(tag);
    std::filesystem::create_directory(dir);
    BuildOptions o;
    o.inputs = std::move(inputs);
    if (indexes) o.rrname_out = dir + "/names.idx";
    if (indexes) o.rdata_out = dir + "/rdata.idx";
    if (store) o.records_out = dir + "/records.qrs";
    o.tmpdir = dir;
    o.report = report_;
    o.progress = false;
    o.retention = window;
    o.threads = threads;
    o.memory_budget = memory_budget;
    Built b;
    std::string error;
    EXPECT_TRUE(run_build(o, &b.stats, &error)) << tag << ": " << error;
    if (indexes) b.names = slurp(o.rrname_out), b.rdata = slurp(o.rdata_out);
    return b;
  }

  std::string file(const std::string& name, const std::vector<std::string>& lines) {
    std::ofstream out(dir_.file(name), std::ios::binary);
    for (const std::string& l : lines) out << l;
    return dir_.file(name);
  }

  // The lines of an index file, each with its line feed, to read back as raw lines.
  static std::vector<std::string> index_lines(const std::string& path) {
    TgdbRef t = tgdb_load(path);
    EXPECT_TRUE(t) << path;
    std::vector<std::string> out;
    if (!t) return out;
    const std::string table(t->string_table(), t->string_table_size());
    for (size_t at = 0, nl; at < table.size(); at = nl + 1) {
      nl = table.find('\n', at);
      out.push_back(table.substr(at, nl - at + 1));
    }
    return out;
  }

  quarn::testing::ScratchDir dir_;
  FILE* report_ = nullptr;
};

TEST_F(BuildStoreIndexesTest, TheStoreChangesNoIndexByteAndNoCount) {
  // Earlier outputs over other observations of the same names: two index files, their
  // lines as raw input, and a record store.
  const std::string prior = file("prior.json", Observations(2).lines(600));
  build("earlier", {prior}, true, false);
  const std::string names_idx = dir_.file("earlier/names.idx");
  const std::string rdata_idx = dir_.file("earlier/rdata.idx");
  std::vector<std::string> raw = index_lines(names_idx);
  for (std::string& l : index_lines(rdata_idx)) raw.push_back(std::move(l));
  const uint64_t stored =
      build("stored", {file("stored.json", Observations(3).lines(600))}, false, true)
          .stats.store_records;
  const std::string store_in = dir_.file("stored/records.qrs");

  // The observations, alone and with a raw index line after every few of them.
  const std::vector<std::string> json = Observations(1).lines(kObservationLines);
  std::vector<std::string> with_raw;
  for (size_t i = 0, r = 0; i < json.size(); ++i) {
    with_raw.push_back(json[i]);
    if (i % 5 == 0 && r < raw.size()) with_raw.push_back(raw[r++]);
  }
  const std::string plain_in = file("plain.json", json);
  const std::string raw_in = file("raw.json", with_raw);
  RetentionWindow window;
  window.after = 1600010000;
  window.before = 1600095000;

  struct Mix {
    const char* name;
    std::vector<std::string> inputs;
    RetentionWindow window;
    std::vector<std::string> store_inputs;  // only a build with -R can take them
    uint64_t store_records;                 // counted as records read
  };
  const Mix mixes[] = {
      {"observations", {plain_in}, {}, {}, 0},
      {"raw lines and a retention window", {raw_in}, window, {}, 0},
      {"index files", {plain_in, names_idx, rdata_idx}, {}, {}, 0},
      {"index files and a store", {plain_in, names_idx, rdata_idx}, {}, {store_in}, stored},
  };
  struct Variant {
    const char* name;
    size_t threads;
    size_t budget;
  };
  // kMinSortBudget is the least any budget gets: every smaller one is raised to it.
  // One thread adds the records on the merge thread, two on threads of their own.
  const Variant variants[] = {{"one thread", 1, kInMemory},
                              {"spilled on two threads", 2, kMinSortBudget}};
  int n = 0;
  for (const Mix& mix : mixes) {
    SCOPED_TRACE(mix.name);
    Built want = build("want" + std::to_string(n), mix.inputs, true, false, mix.window);
    // The mix holds what it claims to.
    EXPECT_GT(want.stats.lines, want.stats.records);
    EXPECT_GT(want.stats.rdata_skipped, 0u);
    EXPECT_EQ(want.stats.retention_dropped > 0, mix.window.limited());
    want.stats.records += mix.store_records;
    std::vector<std::string> inputs = mix.inputs;
    inputs.insert(inputs.end(), mix.store_inputs.begin(), mix.store_inputs.end());
    uint64_t dropped = 0;  // by every build with the store alike
    for (const Variant& v : variants) {
      SCOPED_TRACE(v.name);
      const Built got = build("got" + std::to_string(n++), inputs, true, true, mix.window,
                              v.threads, v.budget);
      const bool spilled = v.budget == kMinSortBudget;
      EXPECT_TRUE(spilled ? got.stats.runs >= 2 : got.stats.runs == 0) << got.stats.runs;
      EXPECT_TRUE(got.names == want.names) << "owner-name index differs";
      EXPECT_TRUE(got.rdata == want.rdata) << "rdata index differs";
      EXPECT_EQ(counted(got.stats), counted(want.stats));
      if (&v == variants) dropped = got.stats.retention_dropped;
      EXPECT_EQ(got.stats.retention_dropped, dropped);
    }
  }
}

}  // namespace
}  // namespace quarn
