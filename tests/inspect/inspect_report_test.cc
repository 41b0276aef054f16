// tginspect's reports on files with hand-made lists: exact dump lines, the structural
// errors, the gap statistics, and corrupted files that must never crash the loader or
// the reports.
#include "inspect/inspect.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "index/format.h"
#include "index/tgdb.h"
#include "index/index_test_util.h"

namespace quarn {
namespace {

using index_test::TempDir;

// Collects what a report prints to one stream.
class Capture {
 public:
  Capture() : f_(std::tmpfile()) {}
  ~Capture() { std::fclose(f_); }
  FILE* f() { return f_; }
  std::string text() {
    std::fflush(f_);
    std::rewind(f_);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f_)) > 0) s.append(buf, n);
    return s;
  }

 private:
  FILE* f_;
};

constexpr uint32_t kAbc = 3403;

class InspectReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = index_test::write_index(dir_, "com\tn:1\nexample.com\t4:1\nmail.example.com\t4:2\n");
    // The hand-made lists name lines up to 999: their file holds that many.
    std::string lines;
    char name[32];
    for (int i = 0; i < 1000; ++i) {
      std::snprintf(name, sizeof name, "h%04d.com\tn:1\n", i);
      lines += name;
    }
    wide_ = index_test::write_index(dir_, lines, {}, "wide.idx");
  }
  // A copy of the base file whose trigram abc holds `entries`.
  std::string with_abc(const std::vector<uint64_t>& entries) {
    const std::string path = dir_.file("abc.idx");
    index_test::write_file(path, index_test::read_file(wide_));
    index_test::patch_list(path, kAbc, entries);
    return path;
  }
  // Dumps abc; returns the status and fills out/err.
  int dump_abc(const std::string& path, int verbosity, std::string* out, std::string* err) {
    TgdbRef t = tgdb_load(path);
    EXPECT_TRUE(t);
    if (!t) return -1;
    Capture o, e;
    int status = dump_trigrams(*t, kAbc, verbosity, o.f(), e.f());
    *out = o.text();
    *err = e.text();
    return status;
  }
  TempDir dir_;
  std::string base_, wide_;
};

TEST_F(InspectReportTest, DumpLinesAtEachVerbosity) {
  const std::string path = with_abc({0x03, REF_START | 5, REF_END | 9, 0x0C});
  std::string out, err;
  const std::string storage = "Storage space requirements: 20 bytes (0MB) / 4 entries\n";
  EXPECT_EQ(dump_abc(path, 0, &out, &err), 0);
  EXPECT_EQ(out, "03403 abc: 4 * \n" + storage);
  EXPECT_EQ(dump_abc(path, 1, &out, &err), 0);
  EXPECT_EQ(out, "03403 abc: 4 *   | total = 7\n" + storage);
  EXPECT_EQ(dump_abc(path, 2, &out, &err), 0);
  EXPECT_EQ(out, "03403 abc: 4 *   | 3 *5-9 12 | total = 7\n" + storage);
  EXPECT_EQ(dump_abc(path, 3, &out, &err), 0);
  EXPECT_EQ(out, "03403 abc: 4 *   | 3 5 6 7 8 9 12 | total = 7\n" + storage);
  EXPECT_EQ(err, "");

  // Compression entries print their running values; a one-line range is short of nrefs.
  EXPECT_EQ(dump_abc(with_abc({100, 0x2C0A030000ull, REF_START | 900, REF_END | 900}), 2, &out, &err), 0);
  EXPECT_EQ(out.substr(0, out.find('\n')), "03403 abc: 4 *   | 100 110,878 *900-900 | total = 4");
  EXPECT_EQ(dump_abc(with_abc({REF_START | 5, REF_END | 5}), 1, &out, &err), 0);
  EXPECT_EQ(out.substr(0, out.find('\n')), "03403 abc: 2 *   | total = 1  / *total < nrefs*");
}

TEST_F(InspectReportTest, StructuralErrorsStopTheDump) {
  struct Case {
    std::vector<uint64_t> list;
    std::string message;
  };
  const Case cases[] = {
      {{3, REF_START | 5}, "ends with a range start"},
      {{REF_START | 5, 9}, "is not followed by a range end"},
      {{REF_START | 9, REF_END | 5}, "ends before it starts"},
      // One line past the last: at -vvv the range would be printed number by number.
      {{REF_START | 998, REF_END | 1000}, "range at index 0 reaches past the last line (998-1000, 1000 lines)"},
      {{REF_START | REF_OTHER | 5, REF_END | 9}, "ref cannot be both start and other type (a000000005)!"},
      {{REF_START | 5, REF_END | REF_OTHER | 9}, "ref cannot be both end and other type!"},
      {{REF_END | REF_OTHER | 9}, "ref cannot be both end and other type!"},
      {{REF_OTHER | 0x0F01010101ull}, "index 0 contained offset compression with no entry before"},
      {{1, REF_OTHER | 0x0F01010101ull, REF_OTHER | 0x0F01010101ull},
       "index 2 contained offset compression but preceding mask was bad (2f01010101)"},
  };
  for (const Case& c : cases) {
    const std::string path = with_abc(c.list);
    for (int v = 1; v <= 3; ++v) {
      std::string out, err;
      EXPECT_EQ(dump_abc(path, v, &out, &err), 1) << c.message;
      EXPECT_NE(err.find("Error in trigram database: "), std::string::npos) << err;
      EXPECT_NE(err.find(c.message), std::string::npos) << err;
      EXPECT_EQ(out.find("Storage space"), std::string::npos);
    }
  }
}

TEST_F(InspectReportTest, HeaderReport) {
  setenv("TZ", "UTC", 1);
  tzset();
  std::vector<uint8_t> b = index_test::read_file(base_);
  const std::string path = dir_.file("h.idx");
  auto report = [&](uint32_t flags) {
    store_le32(b.data() + 8, flags);
    store_le32(b.data() + 40, 1600000000);
    store_le32(b.data() + 44, 1600000100);
    index_test::write_file(path, b);
    TgdbRef t = tgdb_load(path);
    Capture o;
    print_header_report(*t, o.f());
    return o.text();
  };
  const std::string sizes = "Section sizes: string table (45), line index (14), tgdb (";
  std::string r = report(0x6000);
  EXPECT_EQ(r.substr(0, r.find('\n')), "Flags = [unified, real_ref] (0x6000)");
  EXPECT_NE(r.find("Header length: 551368\n" + sizes), std::string::npos) << r;
  EXPECT_NE(r.find("), earliest seen (1600000000), latest seen (1600000100)\n"), std::string::npos) << r;
  r = report(0);
  EXPECT_EQ(r.substr(0, r.find('\n')), "Flags = [none] (0x0)");
  r = report(0xE200);
  EXPECT_EQ(r.substr(0, r.find('\n')), "Flags = [unified, real_ref, rdata, timefence] (0xe200)");
  EXPECT_NE(r.find("earliest seen (1600000000 [Sun Sep 13 12:26:40 2020]), "
                   "latest seen (1600000100 [Sun Sep 13 12:28:20 2020])\n"),
            std::string::npos)
      << r;
}

TEST_F(InspectReportTest, GapStatistics) {
  // One list only (the base file's own lists are replaced by empty ones).
  std::vector<uint8_t> b = index_test::read_file(base_);
  for (uint32_t k = 0; k < kTrigramCount; ++k) store_le64(b.data() + kHeaderSize + kWriterHeaderLength + 16ull * k, 0);
  const std::string empty = dir_.file("empty.idx");
  index_test::write_file(empty, b);
  TgdbRef t = tgdb_load(empty);
  Capture o, e;
  EXPECT_EQ(print_gap_stats(*t, o.f(), e.f()), 0);
  EXPECT_NE(o.text().find("Reference gap count [0]: 0 (0%)   / 7b\n"), std::string::npos);  // no gap: 0%
  EXPECT_NE(o.text().find("Reference gap count [8]: 0 (0%)   / 4 x smallest\n"), std::string::npos);

  // Gaps 1, 1, 1, 1 (a run of four), 200, 300, 5000, 70000, 2000000; a range end is skipped.
  index_test::patch_list(empty, kAbc,
                         {10, 11, 12, 13, 14, 214, 514, 5514, 75514, 2075514, REF_START | 2075515,
                          REF_END | 2075600});
  t = tgdb_load(empty);
  Capture o2, e2;
  print_gap_stats(*t, o2.f(), e2.f());
  const std::string s = o2.text();
  EXPECT_EQ(s.substr(0, 1), "\n");
  EXPECT_NE(s.find("Reference gap count [0]: 5 (50%)   / 7b\n"), std::string::npos) << s;
  EXPECT_NE(s.find("Reference gap count [1]: 1 (10%)   / 8b\n"), std::string::npos) << s;
  EXPECT_NE(s.find("Reference gap count [2]: 1 (10%)   / 12b\n"), std::string::npos) << s;
  EXPECT_NE(s.find("Reference gap count [3]: 1 (10%)   / 16b\n"), std::string::npos) << s;
  EXPECT_NE(s.find("Reference gap count [4]: 1 (10%)   / 20b\n"), std::string::npos) << s;
  EXPECT_NE(s.find("Reference gap count [5]: 1 (10%)   / other\n"), std::string::npos) << s;
  EXPECT_NE(s.find("Reference gap count [8]: 1 (10%)   / 4 x smallest\n"), std::string::npos) << s;
}

TEST_F(InspectReportTest, CorruptedFilesNeverCrash) {
  // Random damage to the header, the trigram table, the sections and the lists. Each
  // file either fails to load or yields reports that stay inside the mapping (ASan).
  const std::vector<uint8_t> good = index_test::read_file(base_);
  const uint64_t table = kHeaderSize + kWriterHeaderLength;
  std::vector<uint64_t> hot;  // trigram entries that hold lists
  for (uint32_t k = 0; k < kTrigramCount; ++k)
    if (load_le64(good.data() + table + 16ull * k) != 0) hot.push_back(table + 16ull * k);
  std::mt19937_64 rng(5);
  const std::string path = dir_.file("corrupt.idx");
  for (int iter = 0; iter < 60; ++iter) {
    std::vector<uint8_t> b = good;
    const int edits = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < edits; ++i) {
      uint64_t at;
      switch (rng() % 5) {
        case 0: at = rng() % kHeaderSize; break;
        case 1: at = hot[rng() % hot.size()] + rng() % 16; break;
        case 2: at = kWriterStringTableOffset + rng() % 4096; break;
        default: at = good.size() - 1 - rng() % 200; break;  // the lists
      }
      b[at] = static_cast<uint8_t>(rng());
    }
    if (rng() % 4 == 0) b.resize(b.size() - rng() % 5000);
    index_test::write_file(path, b);
    TgdbRef t = tgdb_load(path);
    if (!t) continue;
    Capture o, e;
    print_header_report(*t, o.f());
    dump_trigrams(*t, -1, 2, o.f(), e.f());
    print_gap_stats(*t, o.f(), e.f());
    for (uint64_t n = 1; n < 5; ++n) print_line(*t, n, o.f(), e.f());
  }
}

TEST_F(InspectReportTest, PrintLine) {
  TgdbRef t = tgdb_load(base_);
  Capture o, e;
  EXPECT_EQ(print_line(*t, 2, o.f(), e.f()), 0);
  EXPECT_EQ(o.text(), "[mail.example.com\t4:2]\n");
  EXPECT_NE(e.text().find("String contents at index 2: 0x"), std::string::npos);
  Capture o2, e2;
  EXPECT_EQ(print_line(*t, 3, o2.f(), e2.f()), 1);
  EXPECT_EQ(e2.text(), "Error: could not retrieve line number contents.\n");
  EXPECT_EQ(o2.text(), "");
}

}  // namespace
}  // namespace quarn
