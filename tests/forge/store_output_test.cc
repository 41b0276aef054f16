// The record store a build writes (-R): equal to the brute-force merge of its
// observations, the same answers from three builds over parts of them, and no store left
// under its name when a build fails.
#include "forge/store_output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "common/strfmt.h"
#include "forge/build.h"
#include "forge/run_spiller.h"
#include "lookup/lookup.h"
#include "store/record_gen.h"
#include "store/store_cursors.h"
#include "support/scratch_dir.h"

namespace quarn::testing {
namespace {

class StoreBuildTest : public ::testing::Test {
 protected:
  std::string input(const std::string& name, const std::vector<TestRecord>& records) {
    std::ofstream out(dir_.file(name), std::ios::binary);
    for (const TestRecord& r : records) out << cof_line(r);
    return dir_.file(name);
  }
  BuildOptions options(std::vector<std::string> inputs, const std::string& store) {
    BuildOptions o;
    o.inputs = std::move(inputs);
    o.records_out = dir_.file(store);
    o.tmpdir = dir_.path();
    o.progress = false;
    o.report = report_;
    return o;
  }
  bool build(const BuildOptions& o) {
    error_.clear();
    return run_build(o, &stats_, &error_);
  }
  void SetUp() override { report_ = tmpfile(); }
  void TearDown() override { fclose(report_); }

  ScratchDir dir_;
  FILE* report_ = nullptr;
  BuildStats stats_;
  std::string error_;
};

std::vector<TestRecord> read_all(const RecordStore& s) {
  std::vector<TestRecord> out;
  NameCursor c(s);
  for (c.seek_first(); c.valid(); c.next()) {
    const StoreRecord& r = c.record();
    out.push_back({std::string(r.name), r.rrtype, std::string(r.raw), r.time_first, r.time_last,
                   r.count, std::string(r.bailiwick)});
  }
  EXPECT_FALSE(c.failed()) << c.error();
  return out;
}

std::vector<TestRecord> look_up(std::vector<const RecordStore*> stores, const LookupQuery& q) {
  std::vector<TestRecord> out;
  for (auto l = Lookup::start(stores, q); l->valid(); l->next()) {
    const StoreRecord& r = l->record();
    out.push_back({std::string(r.name), r.rrtype, std::string(r.raw), r.time_first, r.time_last,
                   r.count, std::string(r.bailiwick)});
  }
  return out;
}

TEST_F(StoreBuildTest, StoreEqualsTheMergedObservationsHoweverSplit) {
  const std::vector<TestRecord> all = generate_records(11, 15000);
  const std::string whole = input("all.json", all);
  // The smallest budget spills the sorted runs, so bailiwicks and counts fold across runs.
  BuildOptions o = options({whole}, "all.qrs");
  o.memory_budget = kMinSortBudget;
  ASSERT_TRUE(build(o)) << error_;
  EXPECT_GT(stats_.runs, 1u);
  std::string error;
  auto one = RecordStore::open(o.records_out, &error);
  ASSERT_TRUE(one) << error;
  const std::vector<TestRecord> want = merged(all);
  EXPECT_EQ(read_all(*one), want);
  EXPECT_EQ(stats_.store_records, want.size());

  // Three consecutive parts, as daily files are: the first bailiwick seen stays first.
  std::vector<TestRecord> parts[3];
  for (size_t i = 0; i < all.size(); ++i) parts[i * 3 / all.size()].push_back(all[i]);
  std::vector<std::unique_ptr<RecordStore>> split;
  for (int i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i);
    ASSERT_TRUE(build(options({input(n + ".json", parts[i])}, n + ".qrs"))) << error_;
    split.push_back(RecordStore::open(dir_.file(n + ".qrs"), &error));
    ASSERT_TRUE(split.back()) << error;
  }
  for (const char* name : {"example.com", "*.example.com", "*.com"}) {
    LookupQuery q;
    ASSERT_TRUE(parse_name_query(name, false, &q, &error));
    EXPECT_EQ(look_up({split[0].get(), split[1].get(), split[2].get()}, q), look_up({one.get()}, q));
  }
  for (const char* value : {"ns1.example.net.", "192.0.1.0/24", "2001:db8::/32"}) {
    LookupQuery q;
    ASSERT_TRUE(parse_value_query(value, 0, &q, &error));
    const auto got = look_up({one.get()}, q);
    EXPECT_FALSE(got.empty()) << value;
    EXPECT_EQ(look_up({split[0].get(), split[1].get(), split[2].get()}, q), got);
  }
}

TEST_F(StoreBuildTest, FailedBuildsLeaveNoStore) {
  auto leftovers = [this] {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
      n += !e.path().string().ends_with(".json") && !e.path().string().ends_with(".txt");
    }
    return n;
  };
  const std::string good = input("good.json", generate_records(2, 50));
  // Raw index lines hold no (name, value) pairs: the store would be empty.
  std::ofstream(dir_.file("raw.txt")) << "a.example\t1:10:1\n";
  BuildOptions o = options({dir_.file("raw.txt")}, "s.qrs");
  EXPECT_FALSE(build(o));
  EXPECT_EQ(error_, "no records for the record store " + o.records_out);
  // A store that needs more memory than the budget leaves.
  o = options({input("big.json", generate_records(3, 40000))}, "s.qrs");
  o.memory_budget = kMinSortBudget;
  EXPECT_FALSE(build(o));
  EXPECT_NE(error_.find("record store writer needs more than its memory budget"), std::string::npos)
      << error_;
  // A missing input after a good one.
  o = options({good, dir_.file("missing.json")}, "s.qrs");
  o.rrname_out = dir_.file("n.idx");
  EXPECT_FALSE(build(o));
  EXPECT_EQ(leftovers(), 0u);
  // The store is an output like the indexes: one name for two outputs is refused, and an
  // existing store is kept unless replacing is asked for.
  o = options({good}, "s.qrs");
  o.rdata_out = o.records_out;
  EXPECT_FALSE(build(o));
  EXPECT_EQ(error_, kBuildErrSameOutput);
  std::ofstream(o.records_out) << "precious";
  o.rdata_out.clear();
  EXPECT_FALSE(build(o));
  o.force = true;
  EXPECT_TRUE(build(o)) << error_;
  EXPECT_EQ(leftovers(), 1u);
}

}  // namespace
}  // namespace quarn::testing

namespace quarn::testing {
namespace {

std::string bytes_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Stores as inputs: parts merged (alone or with observations) give the file one build
// of the union gives; retention drops store records as it drops observations; a damaged
// store fails the build naming it; --replace swaps the parts for the merge in a set file.
TEST_F(StoreBuildTest, StoresMergeIntoTheStoreOfTheUnion) {
  const std::vector<TestRecord> all = generate_records(5, 6000);
  const std::vector<TestRecord> a(all.begin(), all.begin() + 2500), b(all.begin() + 2500, all.end());
  ASSERT_TRUE(build(options({input("all.json", all)}, "all.qrs"))) << error_;
  ASSERT_TRUE(build(options({input("a.json", a)}, "a.qrs"))) << error_;
  ASSERT_TRUE(build(options({input("b.json", b)}, "b.qrs"))) << error_;
  const std::string whole = bytes_of(dir_.file("all.qrs"));
  std::ofstream(dir_.file("day.set")) << "a.qrs\nb.qrs\n";
  BuildOptions o = options({dir_.file("a.qrs"), dir_.file("b.qrs")}, "m.qrs");
  o.set_file = dir_.file("day.set");
  o.replace = true;
  ASSERT_TRUE(build(o)) << error_;
  EXPECT_EQ(bytes_of(dir_.file("m.qrs")), whole);
  EXPECT_EQ(bytes_of(dir_.file("day.set")), "m.qrs\n");
  ASSERT_TRUE(build(options({dir_.file("a.qrs"), dir_.file("b.json")}, "mixed.qrs"))) << error_;
  EXPECT_EQ(bytes_of(dir_.file("mixed.qrs")), whole);

  // Retention treats each input store's record as an aggregate: kept whole when it
  // overlaps the window, before the inputs merge.
  o = options({dir_.file("a.qrs"), dir_.file("b.qrs")}, "kept.qrs");
  o.retention.after = all[all.size() / 2].time_last;
  ASSERT_TRUE(build(o)) << error_;
  EXPECT_GT(stats_.retention_dropped, 0u);
  std::vector<TestRecord> in_window;
  for (const auto* part : {&a, &b}) {
    for (const TestRecord& r : merged(*part)) {
      if (r.time_last >= o.retention.after) in_window.push_back(r);
    }
  }
  const std::vector<TestRecord> want = merged(in_window);
  std::string error;
  auto kept = RecordStore::open(dir_.file("kept.qrs"), &error);
  ASSERT_TRUE(kept) << error;
  EXPECT_EQ(read_all(*kept), want);

  // One flipped byte in a block of an input: the build fails naming it, leaving nothing.
  std::string damaged = bytes_of(dir_.file("a.qrs"));
  damaged[damaged.size() / 2] ^= 0x5a;
  std::ofstream(dir_.file("bad.qrs"), std::ios::binary) << damaged;
  EXPECT_FALSE(build(options({dir_.file("b.qrs"), dir_.file("bad.qrs")}, "out.qrs")));
  EXPECT_NE(error_.find(dir_.file("bad.qrs")), std::string::npos) << error_;
  EXPECT_FALSE(std::filesystem::exists(dir_.file("out.qrs")));
  // A store input needs a store output.
  o = options({dir_.file("a.qrs")}, "unused.qrs");
  o.records_out.clear();
  o.rrname_out = dir_.file("n.idx");
  EXPECT_FALSE(build(o));
  EXPECT_EQ(error_, str_fmt(kBuildErrStoreInput, dir_.file("a.qrs").c_str()));
}

}  // namespace
}  // namespace quarn::testing
