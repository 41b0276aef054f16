#include "forge/run_spiller.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <map>
#include <random>
#include <string>

#include "forge/line_input.h"
#include "forge/merge_ops.h"

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

TEST(RunSpiller, ManyRunsMergeToTheSameFoldAsMemory) {
  const std::string dir = fresh_dir("spill");
  std::map<std::string, CountValue> expect;
  {
    TempFiles temps(dir);
    // The smallest budget makes a dozen runs, over the fan-in of 4: groups of runs
    // are merged (twice over) before the final merge.
    const size_t fan_in = 4;
    RunSpiller spiller(temps, kMinSortBudget, merge_counts, fan_in);
    std::mt19937 rng(3);
    std::string value;
    std::string error;
    const std::string pad(200, 'p');
    for (int i = 0; i < 40000; ++i) {
      const std::string key = pad + std::to_string(rng() % 5000);
      const CountValue v{1 + static_cast<uint32_t>(rng() % 1000), 2000, 1};
      value.clear();
      encode_count_value(v, value);
      ASSERT_TRUE(spiller.add(key, value, &error)) << error;
      auto [it, fresh] = expect.emplace(key, v);
      if (!fresh) {
        it->second.first = std::min(it->second.first, v.first);
        it->second.count += 1;
      }
    }
    ASSERT_TRUE(spiller.finish(&error)) << error;
    EXPECT_GT(spiller.runs_written(), 2 * fan_in);
    EXPECT_LE(spiller.runs().size(), fan_in);
    SortabMerger merger(merge_counts);
    for (const auto& r : spiller.runs()) merger.add_source(SortabReader::open(r, &error));
    size_t n = 0;
    while (merger.next()) {
      CountValue v;
      ASSERT_TRUE(decode_count_value(merger.value(), &v));
      const auto& want = expect.at(std::string(merger.key()));
      ASSERT_EQ(v.first, want.first);
      ASSERT_EQ(v.count, want.count);
      ++n;
    }
    EXPECT_FALSE(merger.failed());
    EXPECT_EQ(n, expect.size());
  }
  // Every run is gone once the TempFiles owner is.
  EXPECT_EQ(files_in(dir), 0u);
  rmdir(dir.c_str());
}

TEST(LineInput, PlainGzipLongLinesAndMissingFiles) {
  const std::string dir = fresh_dir("lines");
  const std::string text = "one\r\ntwo\n\n" + std::string(kMaxInputLine + 10, 'x') + "\nlast";
  const std::string plain = dir + "/plain.txt", packed = dir + "/packed";
  FILE* f = fopen(plain.c_str(), "wb");
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  gzFile gz = gzopen(packed.c_str(), "wb");
  gzwrite(gz, text.data(), static_cast<unsigned>(text.size()));
  gzclose(gz);

  for (const std::string& path : {plain, packed}) {
    std::string error;
    auto in = LineInput::open(path, &error);
    ASSERT_TRUE(in) << error;
    std::vector<std::string> lines;
    std::vector<bool> longs;
    std::string_view line;
    while (in->next(&line)) {
      lines.emplace_back(line);
      longs.push_back(in->too_long());
    }
    EXPECT_FALSE(in->failed()) << in->error();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "one");
    EXPECT_EQ(lines[1], "two");
    EXPECT_EQ(lines[2], "");
    EXPECT_TRUE(longs[3]);
    EXPECT_EQ(lines[3].size(), kMaxInputLine);
    EXPECT_EQ(lines[4], "last");
    EXPECT_FALSE(longs[4]);
    EXPECT_EQ(in->line_number(), 5u);
  }

  // A gzip stream cut short is a read error, not a quiet end.
  std::string packed_data;
  {
    FILE* p = fopen(packed.c_str(), "rb");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) packed_data.append(buf, n);
    fclose(p);
  }
  FILE* p = fopen(packed.c_str(), "wb");
  fwrite(packed_data.data(), 1, packed_data.size() / 2, p);
  fclose(p);
  std::string error;
  auto in = LineInput::open(packed, &error);
  ASSERT_TRUE(in);
  std::string_view line;
  while (in->next(&line)) {
  }
  EXPECT_TRUE(in->failed());

  EXPECT_FALSE(LineInput::open(dir + "/missing", &error));
  EXPECT_NE(error.find("missing"), std::string::npos);
  unlink(plain.c_str());
  unlink(packed.c_str());
  rmdir(dir.c_str());
}

}  // namespace
}  // namespace quarn
