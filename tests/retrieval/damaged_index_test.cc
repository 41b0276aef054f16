// Searches over damaged copies of one index: bytes of the line index and of the
// reference lists the query reads are changed one at a time (fixed seed), and each copy
// is loaded and searched through the record merger. Whatever the damage, a search
// either fails (the file is refused, or the merger reports the search failed) or reports
// only keys the intact search reports, each with a count no larger than the intact one;
// and what a failed search handed out before failing obeys the same rule: a damaged
// file may lose records but must never invent a name or count a record twice.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index/crafted_index.h"
#include "index/format.h"
#include "index/tgdb.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"

namespace quarn {
namespace {

using Counts = std::map<std::string, uint64_t>;

// Key -> summed count of the first record type, for every result of `expr` over the file.
// *failed tells a file that did not load or a search the merger failed.
Counts search(const std::string& path, const std::string& expr, bool* failed = nullptr) {
  Counts out;
  TgdbRef t = tgdb_load(path);
  if (failed) *failed = !t;
  if (!t) return out;
  search_context ctx;
  std::string error;
  EXPECT_TRUE(ctx.compile(expr, false, &error)) << error;
  tgdb_merger m(ctx, false);
  m.add_index(t.get());
  while (auto r = m.next()) out[r->key] += r->auxdata.empty() ? 0 : r->auxdata[0].count;
  if (failed && m.failed()) *failed = true;
  return out;
}

// One byte of the file, read and written in place.
uint8_t byte_at(int fd, uint64_t at) {
  uint8_t b = 0;
  EXPECT_EQ(::pread(fd, &b, 1, static_cast<off_t>(at)), 1);
  return b;
}
void set_byte(int fd, uint64_t at, uint8_t b) {
  EXPECT_EQ(::pwrite(fd, &b, 1, static_cast<off_t>(at)), 1);
}

TEST(DamagedIndexTest, SearchFailsOrReportsNoMoreThanTheIntactFile) {
  testing::ScratchDir dir;
  const std::string path = dir.file("names.idx");
  // Runs of one key over several lines (counts add up per key), and enough lines for
  // several line index entries with all their steps.
  std::string text;
  char line[64];
  for (int i = 0; i < 400; ++i) {
    if (i < 100)  // the shorter label sorts first
      std::snprintf(line, sizeof line, "host%03d.org\t4:%d:1\n", i, 10 + i);
    else
      std::snprintf(line, sizeof line, "group-mail%03d.org\t4:%d:%d\n", (i - 100) / 2, 10 + i,
                    1 + i % 5);
    text += line;
  }
  testing::write_index(path, text);
  // Every tenth key: candidates are apart, so most lookups go through the line index
  // rather than on from the line before.
  const std::string expr = "7\\.org";
  const Counts intact = search(path, expr);
  ASSERT_GT(intact.size(), 20u);

  TgdbRef t = tgdb_load(path);
  ASSERT_TRUE(t);
  struct Region {
    uint64_t offset, size;
  };
  std::vector<Region> regions;
  const uint8_t* base = t->base();
  regions.push_back({static_cast<uint64_t>(t->line_index() - base), t->line_index_size()});
  for (const char* tri : {"7.o", ".or", "org"}) {
    const uint32_t k = trigram_ordinal(tri[0], tri[1], tri[2]);
    regions.push_back({static_cast<uint64_t>(t->list(k) - base), t->nrefs(k) * kRefSize});
  }
  t = TgdbRef();

  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::mt19937 rng(20261209);
  testing::LogCapture quiet(LOG_FAILURE);  // refusals and decoding errors are expected
  int failed_or_empty = 0;
  for (int mutant = 0; mutant < 400; ++mutant) {
    const Region& r = regions[mutant % 2 == 0 ? 0 : 1 + rng() % 3];
    const uint64_t at = r.offset + rng() % r.size;
    const uint8_t old = byte_at(fd, at);
    // Small changes (a moved offset, a step off by one) are the likely ones to pass
    // bounds checks, so half the mutants add or take one.
    const uint8_t now = rng() % 2 ? static_cast<uint8_t>(old ^ (1 + rng() % 255))
                                  : static_cast<uint8_t>(old + (rng() % 2 ? 1 : -1));
    set_byte(fd, at, now);
    bool failed = false;
    const Counts got = search(path, expr, &failed);
    set_byte(fd, at, old);
    if (failed || got.empty()) ++failed_or_empty;
    for (const auto& [key, count] : got) {
      auto it = intact.find(key);
      ASSERT_NE(it, intact.end()) << "invented key " << key << " (byte " << at << ")";
      ASSERT_LE(count, it->second) << key << " (byte " << at << ")";
    }
  }
  ::close(fd);
  // Most damage must be noticed; and the intact file must still search as before.
  EXPECT_GT(failed_or_empty, 100);
  EXPECT_EQ(search(path, expr), intact);
}

// A file written in place under a search (truncated, or overwritten at the same size)
// fails that search and never takes the process down.
TEST(DamagedIndexTest, FileWrittenInPlaceDuringASearchFailsIt) {
  testing::ScratchDir dir;
  const std::string path = dir.file("names.idx");
  std::string text;
  char line[64];
  for (int i = 0; i < 40000; ++i) {
    std::snprintf(line, sizeof line, "host%05d.example.org\t4:%d:1\n", i, 10 + i);
    text += line;
  }
  testing::write_index(path, text);
  testing::LogCapture quiet(LOG_FAILURE);

  for (const bool truncate : {true, false}) {
    SCOPED_TRACE(truncate ? "truncated" : "overwritten");
    TgdbRef t = tgdb_load(path);
    ASSERT_TRUE(t);
    search_context ctx;
    std::string error;
    // A table scan reads the whole string table, truncated half-way through; the other
    // query reads trigram entries written over after the file was loaded.
    ASSERT_TRUE(ctx.compile(truncate ? "." : "host1", false, &error)) << error;
    tgdb_merger m(ctx, false);
    if (truncate) {
      m.add_index(t.get());
      ASSERT_NE(m.next(), nullptr);
    }

    const uint64_t size = t->file_size();
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    if (truncate) {
      ASSERT_EQ(::ftruncate(fd, 8192), 0);
    } else {
      // Every trigram entry now names one reference far past the end of the file.
      std::string entries(kTrigramCount * kTrigramEntrySize, '\0');
      for (uint64_t k = 0; k < kTrigramCount; ++k) {
        store_le64(reinterpret_cast<uint8_t*>(&entries[k * kTrigramEntrySize]), 1);
        store_le64(reinterpret_cast<uint8_t*>(&entries[k * kTrigramEntrySize + 8]), size << 8);
      }
      const off_t table = static_cast<off_t>(kHeaderSize + t->header().header_length);
      ASSERT_EQ(::pwrite(fd, entries.data(), entries.size(), table),
                static_cast<ssize_t>(entries.size()));
      // Coarse file clocks may not tick between the load and the write.
      const timespec later[2] = {{0, UTIME_OMIT}, {t->identity().mtime_sec + 5, 0}};
      ASSERT_EQ(::futimens(fd, later), 0);
    }
    ::close(fd);

    if (!truncate) m.add_index(t.get());
    while (m.next() != nullptr) {
    }
    const bool unchanged = m.indexes_unchanged();
    EXPECT_FALSE(unchanged);
    EXPECT_TRUE(m.failed());
    EXPECT_EQ(t->pages_lost(), truncate);
    t = TgdbRef();
    testing::write_index(path, text);  // a fresh file for the next round
  }
}

}  // namespace
}  // namespace quarn
