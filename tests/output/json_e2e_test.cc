// quarnsearch -j driven from outside: every line of a large search is one valid JSON
// object with exactly the merged observations, and keys the generator cannot represent
// are refused without a byte of broken JSON on standard output.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "index/name_order.h"
#include "output/json_test_util.h"
#include "retrieval/rdata_order.h"
#include "support/e2e_support.h"

namespace quarn::test {
namespace {

using testing_json::Parsed;

constexpr int64_t kT0 = 1577836800;  // 2020-01-01 00:00:00 UTC

struct Obs {
  const char* code;  // type code of the observation grammar
  const char* name;  // the type name the JSON carries
  uint64_t count;
  int64_t first, last;
};

std::string hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
  return buf;
}

std::string annotation(const std::vector<Obs>& obs) {
  std::string out;
  for (const Obs& o : obs) {
    if (!out.empty()) out += ' ';
    out += std::string(o.code) + ":" + hex(o.first) + "," + hex(o.last - o.first) + ":" +
           hex(o.count);
  }
  return out;
}

// What one JSON line must hold, in printing order.
std::string expected_line(const std::string& name, const Obs& o) {
  return name + "|" + o.name + "|" + std::to_string(o.count) + "|" + std::to_string(o.first) +
         "|" + std::to_string(o.last);
}

TEST(JsonEndToEnd, LargeOwnerNameSearch) {
  TempDir dir;
  struct Entry {
    std::string name;
    std::vector<Obs> obs;
  };
  std::vector<Entry> entries;
  for (int i = 0; i < 12000; ++i) {
    Entry e{"h" + std::to_string(i) + ".z" + std::to_string(i % 97) + ".example.com", {}};
    int64_t first = kT0 + i;
    e.obs.push_back({"4", "A", static_cast<uint64_t>(i % 50 + 1), first, first + i % 1000});
    if (i % 3 == 0) e.obs.push_back({"n", "NS", 2, first, first + 86400});
    if (i % 5 == 0) e.obs.push_back({"65280", "TYPE65280", 7, first - 10, first});
    entries.push_back(std::move(e));
  }
  // Names that need escaping, and one that is not UTF-8 at all.
  entries.push_back({"quote\"d.example.com", {{"4", "A", 1, kT0, kT0}}});
  entries.push_back({"back\\slash.example.com", {{"n", "NS", 3, kT0, kT0 + 1}}});
  const std::string bad = "bad\xff\xfe.example.com";
  entries.push_back({bad, {{"4", "A", 1, kT0, kT0}, {"n", "NS", 1, kT0, kT0}}});
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return name_order(a.name, b.name) < 0; });

  std::vector<std::string> lines;
  std::vector<std::string> expected;
  for (const Entry& e : entries) {
    lines.push_back(e.name + "\t" + annotation(e.obs));
    if (e.name == bad) continue;
    for (const Obs& o : e.obs) expected.push_back(expected_line(e.name, o));
  }
  const std::string index = dir.file("names.idx");
  write_index(index, lines, false);

  RunResult run = run_quarnsearch({"-l", index, "-j", "-L", "100000", "-s", "example"});
  ASSERT_EQ(run.status, 0) << run.err;

  std::vector<std::string> got;
  size_t start = 0;
  while (start < run.out.size()) {
    size_t nl = run.out.find('\n', start);
    ASSERT_NE(nl, std::string::npos) << "unterminated last line";
    std::string line = run.out.substr(start, nl - start);
    start = nl + 1;
    Parsed p(line);
    ASSERT_TRUE(p.ok()) << line;
    ASSERT_EQ(p.keys({}), std::vector<std::string>{"details"}) << line;
    got.push_back(p.str({"details", "rrname"}) + "|" + p.str({"details", "rrtype"}) + "|" +
                  std::to_string(p.integer({"details", "count"})) + "|" +
                  std::to_string(p.integer({"details", "time_first"})) + "|" +
                  std::to_string(p.integer({"details", "time_last"})));
  }
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);  // same objects, result order, types in annotation order
  // Each refused element of the name that is not UTF-8 is reported once.
  EXPECT_EQ(count_occurrences(run.err, "Error: function yajl_gen_string() returned 7"), 2)
      << run.err;
}

TEST(JsonEndToEnd, RdataResults) {
  TempDir dir;
  std::vector<std::string> lines = {
      "192.0.2.1\t4/c0000201 4:" + hex(kT0) + ":9",
      "ns1.example.net.\t17/036e7331076578616d706c65036e657400 n:" + hex(kT0) + ",a:2",
  };
  std::sort(lines.begin(), lines.end(),
            [](const std::string& a, const std::string& b) { return rdata_line_compare(a, b) < 0; });
  const std::string index = dir.file("rdata.idx");
  write_index(index, lines, true);

  RunResult run = run_quarnsearch({"-l", index, "-j", "-s", "192\\.0"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "{\"details\":{\"rdata\":\"192.0.2.1\",\"rrtype\":\"A\",\"count\":9,"
            "\"time_first\":1577836800,\"time_last\":1577836800,\"raw_rdata\":\"C0000201\"}}\n");

  run = run_quarnsearch({"-l", index, "-j", "-s", "ns1"});
  ASSERT_EQ(run.status, 0) << run.err;
  Parsed p(run.out);
  ASSERT_TRUE(p.ok()) << run.out;
  EXPECT_EQ(p.str({"details", "rrtype"}), "NS");
  EXPECT_EQ(p.integer({"details", "time_last"}), kT0 + 10);
  EXPECT_EQ(p.str({"details", "raw_rdata"}), "036E7331076578616D706C65036E657400");
}

}  // namespace
}  // namespace quarn::test
