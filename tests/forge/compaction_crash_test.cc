// A compaction killed (SIGKILL) at each step that makes its results visible leaves the
// old set file and the old index files as they were and nothing incomplete under a
// final name, and searches through the set file answer the same before and after.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "index/tgdb.h"
#include "support/e2e_support.h"

namespace quarn::test {
namespace {

std::string gramforge_path() {
  const char* bin = getenv("QUARN_BIN_DIR");
  return std::string(bin != nullptr ? bin : "build/bin") + "/gramforge";
}

std::string observations(int day, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    const long t = 1717977600L + day * 86400L + i * 7L;
    s += "{\"rrname\":\"h" + std::to_string(i % 50) + ".example.com\",\"rrtype\":\"A\","
         "\"rdata\":\"192.0.2." + std::to_string(i % 40) + "\",\"time_first\":" +
         std::to_string(t) + ",\"time_last\":" + std::to_string(t + 60) + ",\"count\":3}\n";
  }
  return s;
}

bool exists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0;
}

TEST(CompactionCrash, KilledAtEveryStepLeavesTheOldSetIntact) {
  TempDir dir;
  std::vector<std::string> days;
  for (int d = 0; d < 2; ++d) {
    const std::string json = dir.file("day" + std::to_string(d) + ".json");
    write_file(json, observations(d, 400));
    days.push_back(dir.file("day" + std::to_string(d) + ".idx"));
    ASSERT_EQ(run_program(gramforge_path(), {"-q", "-o", days.back(), json}).status, 0);
  }
  const std::string set = dir.file("names.set");
  const std::string old_list = "day0.idx\nday1.idx\n";
  write_file(set, old_list);
  const std::vector<std::string> old_bytes = {read_file(days[0]), read_file(days[1])};
  const std::vector<std::string> search = {"-f", set, "-r", "-L", "-1", "-s", "."};
  const std::string answer = run_quarnsearch(search).out;
  ASSERT_FALSE(answer.empty());

  const std::string month = dir.file("month.idx");
  const std::vector<std::string> compact = {"-q", "--force", "-o", month, "--set", set,
                                            "--replace", days[0], days[1]};
  for (const char* step : {"staged", "published", "set-staged"}) {
    const RunResult r =
        run_program(gramforge_path(), compact, "", {std::string("GRAMFORGE_KILL_AT=") + step});
    EXPECT_EQ(r.status, 128 + 9) << step << ": " << r.err;
    EXPECT_EQ(read_file(set), old_list) << step;
    EXPECT_EQ(read_file(days[0]), old_bytes[0]) << step;
    EXPECT_EQ(read_file(days[1]), old_bytes[1]) << step;
    // Under its final name an output is either absent or complete.
    EXPECT_EQ(exists(month), std::string(step) != "staged") << step;
    if (exists(month)) {
      EXPECT_TRUE(tgdb_load(month)) << step;
    }
    EXPECT_EQ(run_quarnsearch(search).out, answer) << step;
  }
  const RunResult r = run_program(gramforge_path(), compact);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(set), "month.idx\n");
  EXPECT_EQ(run_quarnsearch(search).out, answer);
}

}  // namespace
}  // namespace quarn::test
