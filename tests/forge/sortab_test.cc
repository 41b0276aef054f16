#include "forge/sortab.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "forge/merge_ops.h"
#include "forge/sortab_varint.h"

namespace quarn {
namespace {

std::string temp_path(const char* tag) {
  static int n = 0;
  return std::string(testing::TempDir()) + "/sortab-" + std::to_string(getpid()) + "-" + tag +
         "-" + std::to_string(n++);
}

std::string write_table(const std::map<std::string, std::string>& entries) {
  const std::string path = temp_path("t");
  std::string error;
  auto w = SortabWriter::create(path, &error);
  EXPECT_TRUE(w) << error;
  for (const auto& [k, v] : entries) EXPECT_TRUE(w->add(k, v, &error)) << error;
  EXPECT_TRUE(w->finish(&error)) << error;
  return path;
}

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void spit(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << data;
}

std::map<std::string, std::string> read_all(SortabSource& s) {
  std::map<std::string, std::string> out;
  while (s.next()) out[std::string(s.key())] = std::string(s.value());
  return out;
}

TEST(SortabVarint, RoundTripsAndRejectsBadEncodings) {
  uint8_t buf[kVarint64Max];
  for (uint64_t v : {0ull, 1ull, 127ull, 128ull, 16383ull, 16384ull, 0xffffffffull,
                     0x100000000ull, ~0ull}) {
    const size_t n = sortab_varint_encode64(buf, v);
    uint64_t got = 0;
    EXPECT_EQ(sortab_varint_decode64(buf, buf + n, &got), n);
    EXPECT_EQ(got, v);
    // Any shorter limit is a truncated value.
    EXPECT_EQ(sortab_varint_decode64(buf, buf + n - 1, &got), 0u);
    if (v <= 0xffffffffull) {
      uint32_t got32 = 0;
      EXPECT_EQ(sortab_varint_encode32(buf, static_cast<uint32_t>(v)), n);
      EXPECT_EQ(sortab_varint_decode32(buf, buf + n, &got32), n);
      EXPECT_EQ(got32, v);
    }
  }
  // A 33-bit value is not a 32-bit varint; eleven continuation bytes are not a 64-bit one.
  const size_t n = sortab_varint_encode64(buf, 0x100000000ull);
  uint32_t v32 = 0;
  EXPECT_EQ(sortab_varint_decode32(buf, buf + n, &v32), 0u);
  const uint8_t endless[11] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 1};
  uint64_t v64 = 0;
  EXPECT_EQ(sortab_varint_decode64(endless, endless + 11, &v64), 0u);
}

TEST(Sortab, WriterRefusesDisorderAndReaderRoundTrips) {
  const std::string path = temp_path("order");
  std::string error;
  auto w = SortabWriter::create(path, &error);
  ASSERT_TRUE(w);
  EXPECT_TRUE(w->add("b", "1", &error));
  EXPECT_FALSE(w->add("a", "2", &error));
  EXPECT_FALSE(w->add("b", "2", &error));  // keys are distinct
  EXPECT_FALSE(w->add("", "2", &error));
  EXPECT_TRUE(w->add(std::string(70000, 'c'), std::string(300, 'v'), &error));
  EXPECT_TRUE(w->finish(&error));
  // An existing file is never overwritten by a new table.
  EXPECT_FALSE(SortabWriter::create(path, &error));

  auto r = SortabReader::open(path, &error);
  ASSERT_TRUE(r) << error;
  auto all = read_all(*r);
  EXPECT_FALSE(r->failed()) << r->error();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all["b"], "1");
  EXPECT_EQ(all[std::string(70000, 'c')], std::string(300, 'v'));
  unlink(path.c_str());
}

TEST(Sortab, DamagedFilesAreErrorsNotShortTables) {
  std::map<std::string, std::string> entries;
  for (int i = 0; i < 1000; ++i) entries["key" + std::to_string(1000 + i)] = "v";
  const std::string path = write_table(entries);
  const std::string good = slurp(path);
  std::string error;

  // Every cut of the file, whatever the position, is reported as an error.
  for (size_t cut : {size_t{0}, size_t{5}, size_t{8}, size_t{9}, good.size() / 2,
                     good.size() - 9, good.size() - 1}) {
    spit(path, good.substr(0, cut));
    auto r = SortabReader::open(path, &error);
    if (!r) continue;  // cut inside the magic
    while (r->next()) {
    }
    EXPECT_TRUE(r->failed()) << "cut at " << cut;
  }
  // Trailing garbage and a wrong entry count are corruption.
  spit(path, good + "x");
  auto r = SortabReader::open(path, &error);
  ASSERT_TRUE(r);
  while (r->next()) {
  }
  EXPECT_TRUE(r->failed());
  // A length field claiming more than any table may hold.
  std::string bad = good.substr(0, 8) + std::string("\xff\xff\xff\xff\x0f", 5) + "k";
  spit(path, bad);
  r = SortabReader::open(path, &error);
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->next());
  EXPECT_TRUE(r->failed());
  spit(path, "not a table at all");
  EXPECT_FALSE(SortabReader::open(path, &error));
  unlink(path.c_str());
  EXPECT_FALSE(SortabReader::open(path, &error));
}

TEST(SortabMerger, FoldsEqualKeysAcrossManySources) {
  // Random tables: the merged stream must equal a map folded the same way.
  std::mt19937 rng(7);
  std::map<std::string, CountValue> expect;
  std::vector<std::string> paths;
  for (int t = 0; t < 5; ++t) {
    std::map<std::string, std::string> entries;
    for (int i = 0; i < 300; ++i) {
      const std::string key = "k" + std::to_string(rng() % 400);
      if (entries.count(key)) continue;
      CountValue v{static_cast<uint32_t>(1000 + rng() % 100),
                   static_cast<uint32_t>(2000 + rng() % 100), rng() % 10};
      std::string enc;
      encode_count_value(v, enc);
      entries[key] = enc;
      auto [it, fresh] = expect.emplace(key, v);
      if (!fresh) {
        it->second.first = std::min(it->second.first, v.first);
        it->second.last = std::max(it->second.last, v.last);
        it->second.count += v.count;
      }
    }
    paths.push_back(write_table(entries));
  }
  SortabMerger merger(merge_counts);
  std::string error;
  for (const auto& p : paths) merger.add_source(SortabReader::open(p, &error));
  std::string prev;
  size_t n = 0;
  while (merger.next()) {
    const std::string key(merger.key());
    EXPECT_LT(prev, key);
    prev = key;
    CountValue v;
    ASSERT_TRUE(decode_count_value(merger.value(), &v));
    ASSERT_TRUE(expect.count(key));
    EXPECT_EQ(v.first, expect[key].first);
    EXPECT_EQ(v.last, expect[key].last);
    EXPECT_EQ(v.count, expect[key].count);
    ++n;
  }
  EXPECT_FALSE(merger.failed());
  EXPECT_EQ(n, expect.size());
  for (const auto& p : paths) unlink(p.c_str());
}

TEST(SortabMerger, SourceFailureStopsTheMerge) {
  const std::string a = write_table({{"a", "1"}, {"c", "1"}});
  const std::string b = write_table({{"b", "1"}, {"d", "1"}});
  const std::string data = slurp(b);
  spit(b, data.substr(0, data.size() - 3));
  SortabMerger merger(merge_counts);
  std::string error;
  merger.add_source(SortabReader::open(a, &error));
  merger.add_source(SortabReader::open(b, &error));
  while (merger.next()) {
  }
  EXPECT_TRUE(merger.failed());
  EXPECT_NE(merger.error().find("truncated"), std::string::npos) << merger.error();
  unlink(a.c_str());
  unlink(b.c_str());
}

}  // namespace
}  // namespace quarn
