// A build on several threads gives the outputs and reports of a one-thread build.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "forge/build.h"
#include "forge/line_input.h"
#include "forge/run_spiller.h"
#include "support/scratch_dir.h"

namespace quarn {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string stream_text(FILE* f) {
  fflush(f);
  rewind(f);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  return out;
}

// Observations whose names recur far apart (in other batches and runs) with a new
// bailiwick each time, so that the first one seen must win; malformed lines, bad rdata
// elements and blank lines spread through.
std::string observations(int n, int seed) {
  std::string out;
  char line[512];
  for (int i = 0; i < n; ++i) {
    const int k = (i * 7919 + seed) % 2500;
    if (i % 997 == 5) {
      out += "{\"rrname\": broken\n";
    } else if (i % 1499 == 7) {
      out += "\n";
    } else {
      const char* extra = i % 1201 == 3 ? ",\"not an address\"" : "";
      snprintf(line, sizeof line,
               "{\"rrname\":\"h%d.z%d.example.\",\"rrtype\":\"%s\",\"rdata\":[\"10.%d.%d.1\"%s],"
               "\"time_first\":%d,\"time_last\":%d,\"count\":%d,\"bailiwick\":\"b%d.%d.example\"}\n",
               k, k % 97, "A", k % 7, k % 5, extra, 1600000000 + i, 1600100000 + i, 1 + i % 9,
               seed, i);
      out += line;
    }
  }
  return out;
}

class BuildThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(::testing::TempDir()) + "/gfthreads-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    tmp_ = dir_ + "/tmp";
    mkdir(dir_.c_str(), 0700);
    mkdir(tmp_.c_str(), 0700);
    std::ofstream(dir_ + "/a.json", std::ios::binary)
        << observations(30000, 1) << std::string(kMaxInputLine + 10, 'x') << "\n"
        << observations(10000, 2);
    const std::string b = observations(20000, 3);
    gzFile gz = gzopen((dir_ + "/b.json.gz").c_str(), "wb");
    gzwrite(gz, b.data(), static_cast<unsigned>(b.size()));
    gzclose(gz);
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
  }

  // Everything a build with this many threads writes and reports, as one text.
  std::string build(size_t threads, bool strict = false) {
    const std::string tag = dir_ + "/t" + std::to_string(threads);
    BuildOptions o;
    o.inputs = {dir_ + "/a.json", dir_ + "/b.json.gz"};
    o.rrname_out = tag + "-names.idx";
    o.rdata_out = tag + "-rdata.idx";
    o.records_out = tag + ".store";
    o.rejects_out = tag + ".rejects";
    o.tmpdir = tmp_;
    o.memory_budget = kMinSortBudget;  // a run every few thousand lines
    o.progress = false;
    o.strict = strict;
    o.threads = threads;
    FILE* report = tmpfile();
    o.report = report;
    BuildStats stats;
    std::string error;
    const bool ok = run_build(o, &stats, &error);
    stats.read_seconds = stats.total_seconds = 0;
    print_build_summary(report, o, stats);
    std::string all = (ok ? "ok\n" : "failed: " + error + "\n") + stream_text(report);
    fclose(report);
    // The summary names the outputs, whose names differ by thread count.
    for (size_t at; (at = all.find(tag)) != std::string::npos;) all.erase(at, tag.size());
    if (!strict) {
      EXPECT_GT(stats.runs, 4u);
    }
    for (const std::string& out : {o.rrname_out, o.rdata_out, o.records_out, o.rejects_out}) {
      all += "\n== " + out.substr(tag.size()) + "\n" + slurp(out);
    }
    EXPECT_EQ(quarn::testing::count_dir_entries(tmp_), 0u);
    return all;
  }

  std::string dir_, tmp_;
};

TEST_F(BuildThreadsTest, OutputsAndReportsAreTheSameForEveryThreadCount) {
  const std::string one = build(1);
  ASSERT_EQ(one.substr(0, 3), "ok\n");
  EXPECT_EQ(build(2), one);
  EXPECT_EQ(build(7), one);
}

TEST_F(BuildThreadsTest, StrictStopsAtTheSameLineAndLeavesNothing) {
  const std::string one = build(1, true);
  ASSERT_EQ(one.substr(0, 8), "failed: ");
  EXPECT_EQ(build(7, true), one);
}

}  // namespace
}  // namespace quarn
