// Loading: every refusal with its message, the bounds that keep a truncated or
// inconsistent file from faulting later, and reference counting.
#include "index/tgdb.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "index/format.h"
#include "index/line_lookup.h"
#include "index_test_util.h"

namespace quarn {
namespace {

using index_test::LogCapture;
using index_test::read_file;
using index_test::TempDir;
using index_test::write_file;

const char kSample[] = "com\tn:1\nexample.com\t4:1\nmail.example.com\t4:2\n";

class TgdbLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = index_test::write_index(dir_, kSample);
    bytes_ = read_file(path_);
  }
  // Writes the modified bytes to a new file and loads it, expecting a refusal whose log
  // holds `message` and the closing line.
  void expect_refused(const std::vector<uint8_t>& bytes, const std::string& message) {
    const std::string bad = dir_.file("bad.idx");
    write_file(bad, bytes);
    LogCapture log(LOG_ERROR);
    TgdbRef t = tgdb_load(bad);
    EXPECT_FALSE(t);
    EXPECT_TRUE(log.contains(message)) << log.text();
    EXPECT_TRUE(log.contains("Error: could not deserialize trigram index from file: " + bad)) << log.text();
  }
  TempDir dir_;
  std::string path_;
  std::vector<uint8_t> bytes_;
};

TEST_F(TgdbLoadTest, WrittenFileLoadsWithItsHeader) {
  TgdbRef t = tgdb_load(path_);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->path(), path_);
  EXPECT_EQ(t->flags(), kFlagUnified | kFlagRealRef);
  EXPECT_FALSE(t->is_rdata());
  EXPECT_EQ(t->header().header_length, kWriterHeaderLength);
  EXPECT_EQ(t->string_table_size(), sizeof(kSample) - 1);
  EXPECT_EQ(std::string(t->string_table(), t->string_table_size()), kSample);
  EXPECT_EQ(t->string_table() - reinterpret_cast<const char*>(t->base()), 1654784);
  EXPECT_EQ(t->file_size(), bytes_.size());
  EXPECT_TRUE(t->has_real_nref_table());
  const uint32_t com = trigram_ordinal('c', 'o', 'm');
  EXPECT_EQ(t->real_nrefs(com), 3u);
  EXPECT_GT(t->nrefs(com), 0u);
  EXPECT_EQ(t->nrefs(trigram_ordinal('x', 'y', 'z')), 0u);
  EXPECT_EQ(t->list(trigram_ordinal('x', 'y', 'z')), nullptr);
  EXPECT_EQ(std::string(line_lookup(*t, 1), 11), "example.com");
}

TEST_F(TgdbLoadTest, OpenSizeAndMagicRefusals) {
  {
    LogCapture log(LOG_ERROR);
    EXPECT_FALSE(tgdb_load(dir_.file("missing.idx")));
    EXPECT_TRUE(log.contains("Error opening database file \"" + dir_.file("missing.idx") + "\": No such file"));
  }
  // A FIFO would block the open until a writer came; a directory has no size to map.
  const std::string fifo = dir_.file("fifo.idx");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& name : {fifo, dir_.path()}) {
    LogCapture log(LOG_ERROR);
    EXPECT_FALSE(tgdb_load(name));
    EXPECT_TRUE(log.contains("Error: \"" + name + "\" is not a regular file")) << log.text();
    EXPECT_TRUE(log.contains("Error: could not deserialize trigram index from file: " + name));
  }
  std::vector<uint8_t> b(bytes_.begin(), bytes_.begin() + kMinTgdbSize - 1);
  expect_refused(b, "Error: trigram index was smaller than minimum header size of 1102784 bytes");

  // Exactly the minimum with a good magic passes the size test and fails on sections.
  b.assign(bytes_.begin(), bytes_.begin() + kMinTgdbSize);
  store_le32(b.data() + 12, 0);
  expect_refused(b, "Error: could not map string table from unified tgdb file:");

  b = bytes_;
  b[6] = 'X';  // the two bytes after the letters are part of the magic
  expect_refused(b, "Error: trigram database was missing magic header value!");
  b = bytes_;
  b[0] = 'q';
  expect_refused(b, "Error: trigram database was missing magic header value!");
}

TEST_F(TgdbLoadTest, RealNrefTable) {
  std::vector<uint8_t> b = bytes_;
  store_le32(b.data() + 12, static_cast<uint32_t>(kRealNrefTableSize - 1));
  expect_refused(b, "Error: real nref table was shorter than expected!");

  // header_length 0 with real_ref set: the flag is ignored, the table moves to offset 48.
  b.assign(bytes_.begin(), bytes_.begin() + kHeaderSize);
  store_le32(b.data() + 12, 0);
  b.insert(b.end(), bytes_.begin() + kHeaderSize + kRealNrefTableSize,
           bytes_.begin() + kHeaderSize + kRealNrefTableSize + kTrigramTableSize);
  // Re-place the string table and line index for header_length 0, and drop the lists.
  for (uint32_t k = 0; k < kTrigramCount; ++k) store_le64(b.data() + kHeaderSize + 16ull * k, 0);
  const uint64_t st = load_le64(bytes_.data() + 16), li = load_le64(bytes_.data() + 24);
  b.resize(string_table_offset(0), 0);
  b.insert(b.end(), bytes_.begin() + kWriterStringTableOffset, bytes_.begin() + kWriterStringTableOffset + st);
  b.resize(line_index_offset(0, st), 0);
  const uint64_t old_li = line_index_offset(kWriterHeaderLength, st);
  b.insert(b.end(), bytes_.begin() + old_li, bytes_.begin() + old_li + li);
  const std::string moved = dir_.file("moved.idx");
  write_file(moved, b);
  TgdbRef t = tgdb_load(moved);
  ASSERT_TRUE(t);
  EXPECT_FALSE(t->has_real_nref_table());
  EXPECT_EQ(t->real_nrefs(5), 0u);
  EXPECT_EQ(std::string(line_lookup(*t, 2), 16), "mail.example.com");
}

TEST_F(TgdbLoadTest, SectionsMustBeNonEmptyAndInsideTheFile) {
  std::vector<uint8_t> b = bytes_;
  store_le64(b.data() + 16, 0);
  expect_refused(b, "Error: could not map string table from unified tgdb file:");
  b = bytes_;
  store_le64(b.data() + 24, 0);
  expect_refused(b, "Error: could not map index table from unified tgdb file:");
  b = bytes_;
  store_le64(b.data() + 16, uint64_t{1} << 40);
  expect_refused(b, "Error: string table (offset 1654784, 1099511627776 bytes) extends past the end");
  b = bytes_;
  store_le64(b.data() + 24, ~uint64_t{0});
  expect_refused(b, "Error: line index (offset");
  b = bytes_;
  store_le32(b.data() + 12, 0xFFFFFFF0u);  // header area larger than the file
  expect_refused(b, "leaves no room for the trigram table");
  // Truncated: the lists at the end are cut off.
  b.assign(bytes_.begin(), bytes_.end() - 7);
  expect_refused(b, "extends past the end of the file");
}

TEST_F(TgdbLoadTest, ListsMustLieInsideTheFile) {
  const uint32_t k = trigram_ordinal('a', 'b', 'c');
  for (auto [nrefs, offset] : std::vector<std::pair<uint64_t, uint64_t>>{
           {1, bytes_.size() - 4},
           {1, ~uint64_t{0} - 2},
           {~uint64_t{0} / 5 + 1, 0},  // nrefs * 5 overflows
           {bytes_.size() / 5 + 1, 0}}) {
    const std::string bad = dir_.file("list.idx");
    write_file(bad, bytes_);
    index_test::patch_entry(bad, k, nrefs, offset);
    LogCapture log(LOG_ERROR);
    EXPECT_FALSE(tgdb_load(bad)) << nrefs << " @ " << offset;
    EXPECT_TRUE(log.contains("Error: reference list of trigram 3403 (abc)")) << log.text();
  }
  // A list ending exactly at the end of the file is fine.
  const std::string ok = dir_.file("edge.idx");
  write_file(ok, bytes_);
  index_test::patch_entry(ok, k, 1, bytes_.size() - 5);
  EXPECT_TRUE(tgdb_load(ok));
}

TEST_F(TgdbLoadTest, ReferenceCounting) {
  TgdbRef owner = tgdb_load(path_);
  ASSERT_TRUE(owner);
  EXPECT_EQ(owner->ref_count(), 1u);
  Tgdb* raw = owner.get();
  tgdb_acquire(raw);  // a candidate source takes its own reference
  EXPECT_EQ(raw->ref_count(), 2u);
  owner.reset();  // the owner retires the index; the source still reads it
  EXPECT_FALSE(owner);
  EXPECT_EQ(raw->ref_count(), 1u);
  EXPECT_EQ(std::string(line_lookup(*raw, 0), 3), "com");
  tgdb_release(raw);  // last reference: freed (ASan reports a leak otherwise)
  EXPECT_EQ(raw, nullptr);
  tgdb_release(raw);  // an empty reference stays empty
  EXPECT_EQ(raw, nullptr);

  TgdbRef a = tgdb_load(path_);
  TgdbRef b = a;
  EXPECT_EQ(a->ref_count(), 2u);
  TgdbRef c = std::move(b);
  EXPECT_FALSE(b);
  EXPECT_EQ(a->ref_count(), 2u);
  c = TgdbRef();
  EXPECT_EQ(a->ref_count(), 1u);
  // Two loads of one file are distinct indexes for the lookup cache.
  TgdbRef d = tgdb_load(path_);
  EXPECT_NE(a->serial(), d->serial());
}

}  // namespace
}  // namespace quarn
