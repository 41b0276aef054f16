#include "forge/run_spiller.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <random>
#include <string>

#include "forge/merge_ops.h"
#include "forge/store_output.h"
#include "support/scratch_dir.h"

namespace quarn {
namespace {

std::string fresh_dir(const char* tag) {
  std::string d = std::string(::testing::TempDir()) + "/" + tag + "-" + std::to_string(getpid());
  mkdir(d.c_str(), 0700);
  return d;
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
      encode_store_value(v, 0, bailiwick, value);
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
      uint64_t name_count = 0;
      std::string_view bailiwick;
      ASSERT_TRUE(decode_store_value(merger.value(), &v, &name_count, &bailiwick));
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
  EXPECT_EQ(quarn::testing::count_dir_entries(dir), 0u);
  rmdir(dir.c_str());
}

// The sort decides on the key bytes entries carry, then on eight more at a time, then
// by plain comparison: keys of bytes that pad like a missing byte (00) or compare high
// (ff), ending before, at and after each of those depths, and keys sharing a beginning
// past the last, must still come out in plain bytewise order, each once.
TEST(RunSpiller, SortsKeysBytewiseAroundThePrefixWords) {
  const std::string dir = fresh_dir("prefix");
  TempFiles temps(dir);
  RunSpiller spiller(temps, kMinSortBudget, merge_counts, kMaxFanIn, 2);
  std::mt19937 rng(5);
  const char alphabet[] = {'\0', '\1', 'a', '\xff'};
  std::map<std::string, int> expect;
  std::string value, error;
  encode_count_value(CountValue{1, 2, 1}, value);
  // Few enough to stay one batch in memory (the entry table holds about 10,000).
  const std::string long_start(300, 'z');
  for (int i = 0; i < 8000; ++i) {
    std::string key(1 + rng() % 30, 'a');
    for (char& c : key) c = alphabet[rng() % 4];
    if (i % 5 == 0) key = long_start.substr(0, 250 + rng() % 50) + key;
    ASSERT_TRUE(spiller.add(key, value, &error)) << error;
    ++expect[key];
  }
  EXPECT_FALSE(spiller.add("k", std::string(256, 'v'), &error));
  EXPECT_EQ(error, kSpillErrValue);
  ASSERT_TRUE(spiller.finish(&error, size_t{1} << 30)) << error;
  auto run = spiller.take_memory_run();
  ASSERT_NE(run, nullptr);
  auto want = expect.begin();
  for (; run->next(); ++want) {
    ASSERT_NE(want, expect.end());
    ASSERT_EQ(run->key(), want->first);
    CountValue v;
    ASSERT_TRUE(decode_count_value(run->value(), &v));
    EXPECT_EQ(v.count, static_cast<uint64_t>(want->second));
  }
  EXPECT_EQ(want, expect.end());
  rmdir(dir.c_str());
}

}  // namespace
}  // namespace quarn
