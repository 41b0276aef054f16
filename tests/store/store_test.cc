// The record store file: both orders read back exactly what was written, and damaged
// files (truncated, flipped bytes) give errors but never a crash or a record that was
// not written.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "retrieval/rdata_text.h"
#include "store/store_cursors.h"
#include "store/store_messages.h"
#include "store/store_reader.h"
#include "store/record_gen.h"
#include "support/scratch_dir.h"

namespace quarn::testing {
namespace {

TestRecord from(const StoreRecord& r) {
  return TestRecord{std::string(r.name), r.rrtype, std::string(r.raw), r.time_first,
                    r.time_last, r.count, std::string(r.bailiwick)};
}

// Every record of the store in name order and in value order; stops at damage.
struct Walk {
  std::vector<TestRecord> by_name, by_value;
  bool failed = false;
};
Walk walk(const RecordStore& s) {
  Walk w;
  NameCursor n(s);
  for (n.seek_first(); n.valid(); n.next()) w.by_name.push_back(from(n.record()));
  ValueCursor v(s);
  for (v.seek_first(); v.valid(); v.next()) w.by_value.push_back(from(v.record()));
  w.failed = n.failed() || v.failed();
  return w;
}

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
void spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Writes records into dir's s.qrs and opens it; null (after a test failure) when the
// store does not open.
std::unique_ptr<RecordStore> written_store(const ScratchDir& dir,
                                           const std::vector<TestRecord>& records) {
  write_store(dir.file("s.qrs"), records);
  std::string error;
  auto s = RecordStore::open(dir.file("s.qrs"), &error);
  EXPECT_TRUE(s) << error;
  return s;
}

TEST(RecordStore, BothOrdersReadBackWhatWasWritten) {
  ScratchDir dir;
  const std::vector<TestRecord> records = merged(generate_records(7, 3000));
  auto s = written_store(dir, records);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->header().record_count, records.size());
  const Walk w = walk(*s);
  EXPECT_FALSE(w.failed);
  EXPECT_EQ(w.by_name, records);
  std::vector<TestRecord> by_value = records;
  std::sort(by_value.begin(), by_value.end(), value_less);
  EXPECT_EQ(w.by_value, by_value);
  // Texts are the rdata index's: spot-check one of each kind.
  NameCursor n(*s);
  std::set<std::string> texts;
  for (n.seek_first(); n.valid(); n.next()) texts.insert(std::string(n.record().text));
  EXPECT_TRUE(texts.count("192.0.0.1") || texts.count("192.0.1.1") || texts.count("192.0.2.1"));
  EXPECT_TRUE(texts.count("ns0.example.net."));
  EXPECT_TRUE(texts.count("10 mail.example.com."));
}

// Walks prefetch ahead across name and value blocks, while a lookup of one record,
// which ends before the read-ahead starts, pays nothing for it.
TEST(RecordStore, ReadAheadRunsOnWalksOnly) {
  ScratchDir dir;
  const std::vector<TestRecord> records = merged(generate_records(7, 3000));
  auto s = written_store(dir, records);
  ASSERT_TRUE(s);
  NameCursor n(*s);
  n.seek(records[100].name);
  ASSERT_TRUE(n.valid());
  EXPECT_EQ(n.lines_prefetched(), 0u);
  for (n.seek_first(); n.valid(); n.next()) {}
  ValueCursor v(*s);
  for (v.seek_first(); v.valid(); v.next()) {}
  // Every record of a walk beyond the read-ahead's first steps had its block prefetched.
  EXPECT_GT(n.lines_prefetched(), records.size() / 2);
  EXPECT_GT(v.lines_prefetched(), records.size() / 2);
}

// The writer leaves out texts it knows a reader derives; what a reader shows must still
// be the library's text, for the address forms and names where the two could part.
TEST(RecordStore, TextsAreTheLibrarysForEveryAddressAndNameForm) {
  ScratchDir dir;
  std::vector<TestRecord> records;
  auto add = [&records](uint16_t rrtype, const std::string& raw) {
    records.push_back({"t" + std::to_string(records.size()) + ".example", rrtype, raw, 1, 2, 1, ""});
  };
  for (const char* a : {"::", "::1", "::ffff:192.0.2.1", "2001:db8::", "1:0:0:1::1",
                        "fe80::1:0:0:1", "2001:db8:0:1:1:1:1:1", "::192.0.2.1"}) {
    std::string raw(16, '\0');
    ASSERT_EQ(inet_pton(AF_INET6, a, raw.data()), 1);
    add(28, raw);
  }
  add(1, std::string("\0\0\0\0", 4));
  add(1, "\xff\xff\xff\xff");
  for (const char* n : {"a-b.example.net", "_sip._tcp.x9.example", "0.example"}) {
    add(2, wire_name(n));
    add(15, std::string("\xff\xff", 2) + wire_name(n));
  }
  add(12, wire_name("UPPER.example"));
  write_store(dir.file("t.qrs"), records);
  std::string error;
  auto s = RecordStore::open(dir.file("t.qrs"), &error);
  ASSERT_TRUE(s) << error;
  NameCursor n(*s);
  size_t seen = 0;
  for (n.seek_first(); n.valid(); n.next(), ++seen) {
    const StoreRecord& r = n.record();
    std::string want;
    const auto* bytes = reinterpret_cast<const uint8_t*>(r.raw.data());
    ASSERT_TRUE(rdata_to_text(r.rrtype, std::span<const uint8_t>(bytes, r.raw.size()), &want));
    EXPECT_EQ(r.text, want) << r.name;
  }
  EXPECT_EQ(seen, records.size());
}

TEST(RecordStore, EmptyStoreAndSeeksPastTheEnd) {
  ScratchDir dir;
  write_store(dir.file("e.qrs"), {});
  std::string error;
  auto s = RecordStore::open(dir.file("e.qrs"), &error);
  ASSERT_TRUE(s) << error;
  NameCursor n(*s);
  n.seek("example.com");
  EXPECT_FALSE(n.valid());
  EXPECT_FALSE(n.failed());
  write_store(dir.file("one.qrs"), {{"a.com", 1, "\x01\x02\x03\x04", 5, 6, 1, ""}});
  auto one = RecordStore::open(dir.file("one.qrs"), &error);
  ASSERT_TRUE(one) << error;
  NameCursor m(*one);
  m.seek("zzz.zzz");
  EXPECT_FALSE(m.valid());
  ValueCursor v(*one);
  v.seek("\xff", 255);
  EXPECT_FALSE(v.valid());
  EXPECT_FALSE(v.failed());
}

TEST(RecordStore, WriterRefusesDisorderAndNamesItCannotHold) {
  ScratchDir dir;
  std::string error;
  auto w = StoreWriter::create(dir.file("w.qrs"), 1 << 20, &error);
  ASSERT_TRUE(w);
  ASSERT_TRUE(w->add({"b.com", 1, "abcd", 1, 2, 1, ""}, &error));
  EXPECT_FALSE(w->add({"a.com", 1, "abcd", 1, 2, 1, ""}, &error));
  EXPECT_EQ(error, "Error: record store input out of order at name 'a.com'");
  auto w2 = StoreWriter::create(dir.file("w2.qrs"), 1 << 20, &error);
  EXPECT_FALSE(w2->add({"a b.com", 1, "abcd", 1, 2, 1, ""}, &error));
  EXPECT_EQ(error, "Error: record store cannot hold the owner name 'a b.com'");
  w2.reset();
  EXPECT_FALSE(std::ifstream(dir.file("w2.qrs")).good()) << "an unfinished store is removed";
}

TEST(RecordStore, OpenNamesTheFileAndTheProblem) {
  ScratchDir dir;
  std::string error;
  EXPECT_FALSE(RecordStore::open(dir.file("missing"), &error));
  EXPECT_NE(error.find("Error: cannot open record store " + dir.file("missing")), std::string::npos);
  EXPECT_FALSE(RecordStore::open(dir.path(), &error));
  EXPECT_EQ(error, "Error: record store " + dir.path() + " is not a regular file");
  spit(dir.file("junk"), std::string(200, 'x'));
  EXPECT_FALSE(RecordStore::open(dir.file("junk"), &error));
  EXPECT_EQ(error, "Error: " + dir.file("junk") + " is not a record store");
}

// A damaged store yields at most an error: every record it still hands out is one that
// was written, and nothing reads outside the file (the sanitizer build checks that).
void expect_no_invention(const std::string& path, const std::set<std::string>& written,
                         int* opened, int* failed) {
  std::string error;
  auto s = RecordStore::open(path, &error);
  if (!s) {
    EXPECT_FALSE(error.empty());
    return;
  }
  ++*opened;
  const Walk w = walk(*s);
  *failed += w.failed;
  for (const auto* list : {&w.by_name, &w.by_value}) {
    for (const TestRecord& r : *list) {
      const std::string key = r.name + '\1' + std::to_string(r.rrtype) + '\1' + r.raw + '\1' +
                              std::to_string(r.time_first) + '\1' + std::to_string(r.time_last) +
                              '\1' + std::to_string(r.count) + '\1' + r.bailiwick;
      ASSERT_TRUE(written.count(key)) << "invented record of " << r.name;
    }
  }
}

TEST(RecordStore, DamageNeverCrashesNorInventsRecords) {
  ScratchDir dir;
  const std::vector<TestRecord> records = merged(generate_records(11, 400));
  write_store(dir.file("good.qrs"), records);
  std::set<std::string> written;
  for (const TestRecord& r : records) {
    written.insert(r.name + '\1' + std::to_string(r.rrtype) + '\1' + r.raw + '\1' +
                   std::to_string(r.time_first) + '\1' + std::to_string(r.time_last) + '\1' +
                   std::to_string(r.count) + '\1' + r.bailiwick);
  }
  const std::string good = slurp(dir.file("good.qrs"));
  const std::string bad = dir.file("bad.qrs");
  int opened = 0, failed = 0;
  for (size_t cut = 0; cut < good.size(); cut += 1 + cut / 8) {
    spit(bad, good.substr(0, cut));
    expect_no_invention(bad, written, &opened, &failed);
  }
  std::mt19937 rng(42);
  int flipped_open = 0;
  for (int i = 0; i < 300; ++i) {
    std::string copy = good;
    const size_t at = rng() % copy.size();
    copy[at] = static_cast<char>(copy[at] ^ (1 + rng() % 255));
    spit(bad, copy);
    int o = 0;
    expect_no_invention(bad, written, &o, &failed);
    flipped_open += o;
  }
  EXPECT_EQ(opened, 0) << "a truncated store must not open";
  EXPECT_GT(flipped_open, 0);
  EXPECT_GT(failed, 0);
}

}  // namespace
}  // namespace quarn::testing
