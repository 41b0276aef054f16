#include "forge/run_spiller.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <random>
#include <string>

#include "forge/merge_ops.h"
#include "forge/store_output.h"

namespace quarn {
namespace {

std::string fresh_dir(const char* tag) {
  std::string d = std::string(testing::TempDir()) + "/" + tag + "-" + std::to_string(getpid());
  mkdir(d.c_str(), 0700);
  return d;
}

size_t files_in(const std::string& dir) {
  size_t n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

// Store values keep the first bailiwick added, so they also show that equal keys fold
// in the order they were added, across runs and the merges of groups of runs.
TEST(RunSpiller, ManyRunsMergeToTheSameFoldAsMemory) {
  const std::string dir = fresh_dir("spill");
  std::map<std::string, CountValue> expect;
  std::map<std::string, std::string> first_bailiwick;
  {
    TempFiles temps(dir);
    // The smallest budget makes a dozen runs, over the fan-in of 3: groups of runs
    // are merged (twice over) before the final merge; batches sort on three threads.
    const size_t fan_in = 3;
    RunSpiller spiller(temps, kMinSortBudget, merge_store_values, fan_in, 3);
    std::mt19937 rng(3);
    std::string value;
    std::string error;
    const std::string pad(200, 'p');
    for (int i = 0; i < 40000; ++i) {
      const std::string key = pad + std::to_string(rng() % 5000);
      const CountValue v{1 + static_cast<uint32_t>(rng() % 1000), 2000, 1};
      const std::string bailiwick = "b" + std::to_string(i);
      value.clear();
      encode_store_value(v, bailiwick, value);
      ASSERT_TRUE(spiller.add(key, value, &error)) << error;
      first_bailiwick.emplace(key, bailiwick);
      auto [it, fresh] = expect.emplace(key, v);
      if (!fresh) {
        it->second.first = std::min(it->second.first, v.first);
        it->second.count += 1;
      }
    }
    ASSERT_TRUE(spiller.finish(&error)) << error;
    EXPECT_GT(spiller.runs_written(), 2 * fan_in);
    EXPECT_LE(spiller.runs().size(), fan_in);
    SortabMerger merger(merge_store_values);
    for (const auto& r : spiller.runs()) merger.add_source(SortabReader::open(r, &error));
    size_t n = 0;
    while (merger.next()) {
      CountValue v;
      std::string_view bailiwick;
      ASSERT_TRUE(decode_store_value(merger.value(), &v, &bailiwick));
      const std::string key(merger.key());
      const auto& want = expect.at(key);
      ASSERT_EQ(v.first, want.first);
      ASSERT_EQ(v.count, want.count);
      ASSERT_EQ(bailiwick, first_bailiwick.at(key));
      ++n;
    }
    EXPECT_FALSE(merger.failed());
    EXPECT_EQ(n, expect.size());
  }
  // Every run is gone once the TempFiles owner is.
  EXPECT_EQ(files_in(dir), 0u);
  rmdir(dir.c_str());
}

}  // namespace
}  // namespace quarn
