// The writer: complete files that load, lists that match the trigrams of every key
// exactly, refusals, atomic replacement, spilling.
#include "index/index_writer.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "index/line_lookup.h"
#include "index/name_order.h"
#include "index/tgdb.h"
#include "index_test_util.h"
#include "ref_oracle.h"

namespace quarn {
namespace {

using index_test::TempDir;

// Trigram ordinals of a key padded with "^^" on both sides, computed from scratch.
std::set<uint32_t> key_trigrams(const std::string& key) {
  const std::string padded = "^^" + key + "^^";
  std::set<uint32_t> out;
  for (size_t i = 0; i + 2 < padded.size(); ++i)
    out.insert(trigram_ordinal(padded[i], padded[i + 1], padded[i + 2]));
  return out;
}

std::vector<std::string> random_names(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789-_*A";
  std::vector<std::string> names;
  const char* tlds[] = {"com", "net", "org", "de", "xn--p1ai"};
  for (size_t i = 0; i < n; ++i) {
    std::string name;
    const int labels = 1 + static_cast<int>(rng() % 3);
    for (int l = 0; l < labels; ++l) {
      const int len = 1 + static_cast<int>(rng() % 12);
      for (int c = 0; c < len; ++c) name.push_back(kChars[rng() % (sizeof kChars - 1)]);
      name.push_back('.');
    }
    name += tlds[rng() % 5];
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NameOrderLess());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

// Every trigram of every key lists the line, and no list names a line without it.
void check_lists_match_keys(const Tgdb& t, const std::vector<std::string>& keys) {
  std::map<uint32_t, std::vector<uint64_t>> expected;
  for (size_t i = 0; i < keys.size(); ++i)
    for (uint32_t o : key_trigrams(keys[i])) expected[o].push_back(i);
  std::vector<uint64_t> lines;
  for (uint32_t o = 0; o < kTrigramCount; ++o) {
    const uint64_t n = t.nrefs(o);
    auto it = expected.find(o);
    if (it == expected.end()) {
      ASSERT_EQ(n, 0u) << "ordinal " << o;
      continue;
    }
    ASSERT_TRUE(index_test::decode_list(t.list(o), n, &lines)) << "ordinal " << o;
    ASSERT_EQ(lines, it->second) << "ordinal " << o;
    ASSERT_EQ(t.real_nrefs(o), lines.size());
  }
}

TEST(IndexWriter, RoundTripOfManyNames) {
  TempDir dir;
  const std::vector<std::string> keys = random_names(6000, 1);
  std::string text;
  for (const std::string& k : keys) text += k + "\t4:5f000000,10:1\n";
  const std::string path = index_test::write_index(dir, text);
  TgdbRef t = tgdb_load(path);
  ASSERT_TRUE(t);
  EXPECT_EQ(std::string(t->string_table(), t->string_table_size()), text);
  check_lists_match_keys(*t, keys);
  for (size_t i = 0; i < keys.size(); i += 7)
    ASSERT_EQ(std::string(line_lookup(*t, i), keys[i].size() + 1), keys[i] + "\t");
  EXPECT_EQ(line_lookup(*t, keys.size()), nullptr);
  // The reference region holds exactly the lists.
  uint64_t bytes = 0;
  for (uint32_t o = 0; o < kTrigramCount; ++o) bytes += 5 * t->nrefs(o);
  EXPECT_EQ(t->header().tgdb_size, bytes);
}

TEST(IndexWriter, RepeatedTrigramsAndOddBytesInKeys) {
  TempDir dir;
  // Repeats within a key are listed once; case folds; other bytes fold to '@'.
  const std::vector<std::string> keys = {"aaaaaa", "AAA.aaa", "a*b?c", "\xff\xfe.x"};
  std::string text;
  for (const std::string& k : keys) text += k + "\tx\n";
  IndexWriterOptions rdata;
  rdata.kind = IndexKind::kRdata;  // unchecked order for these ad-hoc keys
  TgdbRef t = tgdb_load(index_test::write_index(dir, text, rdata));
  ASSERT_TRUE(t);
  EXPECT_TRUE(t->is_rdata());
  check_lists_match_keys(*t, keys);
}

TEST(IndexWriter, ConsecutiveLinesUseRanges) {
  TempDir dir;
  std::string text;
  std::vector<std::string> keys;
  for (int i = 0; i < 5000; ++i) {
    char buf[32];
    snprintf(buf, sizeof buf, "h%05d.example.com", i);
    keys.push_back(buf);
  }
  std::sort(keys.begin(), keys.end(), NameOrderLess());
  for (const std::string& k : keys) text += k + "\tn\n";
  TgdbRef t = tgdb_load(index_test::write_index(dir, text));
  ASSERT_TRUE(t);
  // Every line holds "exa": one range.
  EXPECT_EQ(t->nrefs(trigram_ordinal('e', 'x', 'a')), 2u);
  EXPECT_EQ(t->real_nrefs(trigram_ordinal('e', 'x', 'a')), 5000u);
  check_lists_match_keys(*t, keys);
}

TEST(IndexWriter, FlagsAndTimeFence) {
  TempDir dir;
  IndexWriterOptions o;
  o.timefence = true;
  o.earliest_seen = 1600000000;
  o.latest_seen = 1700000000;
  TgdbRef t = tgdb_load(index_test::write_index(dir, "a.com\tx\n", o));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->flags(), kFlagUnified | kFlagRealRef | kFlagTimefence);
  EXPECT_TRUE(t->has_timefence());
  EXPECT_EQ(t->earliest_seen(), 1600000000u);
  EXPECT_EQ(t->latest_seen(), 1700000000u);
}

TEST(IndexWriter, RefusesBadInputAndLeavesNoFile) {
  TempDir dir;
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"a.com\tx\n\nb.com\tx\n", "Error: line 1 is empty"},
      {"a.com\tx\nb.com\n", "Error: line 1 has no tab"},
      {"\tx\n", "Error: line 0 has an empty key"},
      {"mail.example.com\tx\nexample.com\tx\n", "Error: line 1 is out of order"},
      {"b.com\tx\na.com\tx\n", "Error: line 1 is out of order: key \"a.com\" sorts before"},
      {"", "Error: an index needs at least one line"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file("out.idx");
    std::string error;
    EXPECT_FALSE(write_index_from_text(path, c.text, {}, &error)) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // no temporary left either

  // Equal keys are allowed; a refused writer stays refused; a custom order is used.
  std::string error;
  auto w = IndexWriter::create(dir.file("eq.idx"), {}, &error);
  ASSERT_TRUE(w);
  EXPECT_TRUE(w->add_line("a.com\t4", &error));
  EXPECT_TRUE(w->add_line("a.com\tn", &error));
  EXPECT_FALSE(w->add_line("a\nb\tx", &error));
  EXPECT_FALSE(w->add_line("b.com\tx", &error));
  EXPECT_FALSE(w->finish(&error));
  w.reset();
  EXPECT_FALSE(std::filesystem::exists(dir.file("eq.idx")));

  IndexWriterOptions reverse;
  reverse.kind = IndexKind::kRdata;
  reverse.compare = [](std::string_view a, std::string_view b) { return -a.compare(b); };
  EXPECT_FALSE(write_index_from_text(dir.file("r.idx"), "a\tx\nb\tx\n", reverse, &error));
  EXPECT_TRUE(write_index_from_text(dir.file("r.idx"), "b\tx\na\tx\n", reverse, &error)) << error;
}

TEST(IndexWriter, ReplacesAnExistingFileOnlyWhenFinished) {
  TempDir dir;
  const std::string path = index_test::write_index(dir, "a.com\tx\n");
  const auto before = index_test::read_file(path);
  std::string error;
  {
    auto w = IndexWriter::create(path, {}, &error);
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->add_line("b.com\tx", &error));
    EXPECT_EQ(index_test::read_file(path), before);  // abandoned: old file untouched
  }
  EXPECT_EQ(index_test::read_file(path), before);
  EXPECT_TRUE(write_index_from_text(path, "c.com\tx", {}, &error)) << error;
  TgdbRef t = tgdb_load(path);
  ASSERT_TRUE(t);
  EXPECT_EQ(std::string(t->string_table(), t->string_table_size()), "c.com\tx\n");
}

// Writes lines with the given options through a writer that must succeed; returns the
// number of spilled runs.
uint64_t write_lines(const std::string& path, const std::vector<std::string>& lines,
                     const IndexWriterOptions& o, const std::string& spill_dir = "") {
  std::string error;
  auto w = IndexWriter::create(path, o, &error);
  EXPECT_TRUE(w) << error;
  if (!w) return 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(w->add_line(lines[i], &error)) << error;
    // The spill file never shows in its directory, not even while the writer runs.
    if (!spill_dir.empty() && i == lines.size() / 2) {
      EXPECT_TRUE(std::filesystem::is_empty(spill_dir));
    }
  }
  EXPECT_TRUE(w->finish(&error)) << error;
  return w->spill_runs();
}

TEST(IndexWriter, SpilledListsGiveTheSameFile) {
  TempDir dir;
  const std::string spill = dir.file("spill");
  std::filesystem::create_directory(spill);

  std::vector<std::string> names;
  for (const std::string& k : random_names(600, 7)) names.push_back(k + "	n");
  // Consecutive lines sharing trigrams put ranges across run boundaries.
  std::vector<std::string> rdata;
  std::mt19937 rng(3);
  for (int i = 0; i < 600; ++i)
    rdata.push_back("10." + std::to_string(i / 50) + "." + std::to_string(rng() % 256) +
                    ".1	4/0a000001 1:1:" + std::to_string(i));

  for (const bool is_rdata : {false, true}) {
    const std::vector<std::string>& lines = is_rdata ? rdata : names;
    IndexWriterOptions o;
    if (is_rdata) o.kind = IndexKind::kRdata;
    EXPECT_EQ(write_lines(dir.file("whole"), lines, o), 0u);
    o.tmpdir = spill;
    for (const size_t budget : {size_t{1}, size_t{1024}, size_t{4000}}) {
      o.list_budget = budget;
      const uint64_t runs = write_lines(dir.file("spilled"), lines, o, spill);
      EXPECT_GT(runs, budget == 1 ? lines.size() - 1 : 1u) << budget;
      EXPECT_EQ(index_test::read_file(dir.file("spilled")),
                index_test::read_file(dir.file("whole")))
          << "rdata " << is_rdata << ", budget " << budget << ", runs " << runs;
      EXPECT_TRUE(std::filesystem::is_empty(spill));
    }
  }
  TgdbRef t = tgdb_load(dir.file("spilled"));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->real_nrefs(trigram_ordinal('1', '0', '.')), rdata.size());
}

TEST(IndexWriter, ListsAreTheWholeListEncodingAtEveryBudget) {
  TempDir dir;
  // Names in order, plus runs of similar names so that lists hold ranges and every
  // compression layout across the spill boundaries of the tiny budgets.
  std::vector<std::string> keys = random_names(500, 21);
  for (int i = 0; i < 300; ++i) keys.push_back("zz" + std::to_string(100000 + i / 3 * 7) + ".com");
  std::sort(keys.begin(), keys.end(), NameOrderLess());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::vector<std::string> lines;
  std::map<uint32_t, std::vector<uint64_t>> expected;
  for (size_t i = 0; i < keys.size(); ++i) {
    lines.push_back(keys[i] + "\tx");
    for (uint32_t o : key_trigrams(keys[i])) expected[o].push_back(i);
  }
  IndexWriterOptions o;
  o.tmpdir = dir.path();
  for (const size_t budget : {size_t{0}, size_t{1}, size_t{800}}) {
    o.list_budget = budget;
    write_lines(dir.file("t.idx"), lines, o);
    TgdbRef t = tgdb_load(dir.file("t.idx"));
    ASSERT_TRUE(t);
    for (uint32_t g = 0; g < kTrigramCount; ++g) {
      auto it = expected.find(g);
      const std::string want = it == expected.end() ? "" : index_test::oracle_encode(it->second);
      ASSERT_EQ(t->nrefs(g) * kRefSize, want.size()) << "ordinal " << g << ", budget " << budget;
      if (want.empty()) continue;
      ASSERT_EQ(std::string(reinterpret_cast<const char*>(t->list(g)), want.size()), want)
          << "ordinal " << g << ", budget " << budget;
      ASSERT_EQ(t->real_nrefs(g), it->second.size());
    }
  }
}

TEST(IndexWriter, LineIndexSpilledInPiecesGivesTheSameFile) {
  // Enough lines for a line index longer than one 64 KiB piece.
  TempDir dir;
  std::vector<std::string> lines;
  for (int i = 0; i < 400000; ++i) {
    char key[16];
    snprintf(key, sizeof key, "%07d\tx", i);
    lines.push_back(key);
  }
  IndexWriterOptions o;
  o.kind = IndexKind::kRdata;  // digits in bytewise order
  write_lines(dir.file("whole"), lines, o);
  o.list_budget = size_t{1} << 20;
  o.tmpdir = dir.path();
  write_lines(dir.file("pieces"), lines, o);
  const std::vector<uint8_t> whole = index_test::read_file(dir.file("whole"));
  EXPECT_EQ(index_test::read_file(dir.file("pieces")), whole);
  TgdbRef t = tgdb_load(dir.file("whole"));
  ASSERT_TRUE(t);
  EXPECT_GT(t->header().line_index_size, 65536u);  // a piece and a rest
  EXPECT_EQ(std::string(line_lookup(*t, 354321), 8), "0354321\t");
}

TEST(IndexWriter, SpillFilesNeverOutliveTheWriter) {
  TempDir dir;
  const std::string spill = dir.file("spill");
  std::filesystem::create_directory(spill);
  IndexWriterOptions o;
  o.list_budget = 64;
  o.tmpdir = spill;
  std::string error;
  {  // abandoned before finish()
    auto w = IndexWriter::create(dir.file("a.idx"), o, &error);
    ASSERT_TRUE(w);
    for (const char* l : {"a.com	x", "b.com	x", "c.com	x"}) EXPECT_TRUE(w->add_line(l, &error));
    EXPECT_GT(w->spill_runs(), 0u);
  }
  {  // refused line after spills, then a failing finish()
    auto w = IndexWriter::create(dir.file("b.idx"), o, &error);
    ASSERT_TRUE(w);
    for (const char* l : {"a.com	x", "b.com	x"}) EXPECT_TRUE(w->add_line(l, &error));
    EXPECT_FALSE(w->add_line("a.com	x", &error));
    EXPECT_FALSE(w->finish(&error));
    EXPECT_GT(w->spill_runs(), 0u);
  }
  EXPECT_TRUE(std::filesystem::is_empty(spill));
  EXPECT_FALSE(std::filesystem::exists(dir.file("a.idx")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("b.idx")));

  // A spill directory that cannot take the file fails the line that needed it.
  o.tmpdir = dir.file("missing");
  auto w = IndexWriter::create(dir.file("c.idx"), o, &error);
  ASSERT_TRUE(w);
  EXPECT_FALSE(w->add_line("a.com	x", &error));
  EXPECT_NE(error.find("missing/"), std::string::npos) << error;
  EXPECT_FALSE(w->finish(&error));
  w.reset();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace quarn
