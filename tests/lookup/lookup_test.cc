// Lookups over one and several record stores against a brute force over the same
// records: every query kind, type and time filters, offset and limit, and the edges of
// subtree and prefix ranges.
#include <gtest/gtest.h>

#include <random>

#include "lookup/lookup.h"
#include "lookup/lookup_messages.h"
#include "store/record_gen.h"
#include "support/scratch_dir.h"

namespace quarn::testing {
namespace {

bool under(const std::string& name, const std::string& parent) {
  return name.size() > parent.size() + 1 && name.ends_with("." + parent);
}

// `all` must be merged already.
std::vector<TestRecord> brute(const std::vector<TestRecord>& all, const LookupQuery& q) {
  std::vector<TestRecord> hits;
  for (const TestRecord& r : all) {
    bool in = false;
    switch (q.kind) {
      case LookupKind::kName: in = r.name == q.name; break;
      case LookupKind::kSubtree: in = under(r.name, q.name) || (q.include_self && r.name == q.name); break;
      case LookupKind::kValue: in = text_of(r) == q.text; break;
      case LookupKind::kPrefix:
        in = r.rrtype == q.prefix_type && r.raw >= q.prefix_low && r.raw <= q.prefix_high;
        break;
    }
    if (in && (q.rrtype == 0 || r.rrtype == q.rrtype) && q.time.passes(r.time_first, r.time_last)) {
      hits.push_back(r);
    }
  }
  const bool by_name = q.kind == LookupKind::kName || q.kind == LookupKind::kSubtree;
  std::sort(hits.begin(), hits.end(), by_name ? name_less : value_less);
  hits.erase(hits.begin(), hits.begin() + std::min<size_t>(q.offset, hits.size()));
  if (q.limit != 0 && hits.size() > q.limit) hits.resize(q.limit);
  return hits;
}

std::vector<TestRecord> run(const std::vector<const RecordStore*>& stores, const LookupQuery& q) {
  std::vector<TestRecord> out;
  auto l = Lookup::start(stores, q);
  for (; l->valid(); l->next()) {
    const StoreRecord& r = l->record();
    out.push_back({std::string(r.name), r.rrtype, std::string(r.raw), r.time_first, r.time_last,
                   r.count, std::string(r.bailiwick)});
  }
  EXPECT_FALSE(l->failed()) << l->error();
  return out;
}

class LookupTest : public ::testing::Test {
 protected:
  std::unique_ptr<RecordStore> open(const std::string& name) {
    std::string error;
    auto s = RecordStore::open(dir_.file(name), &error);
    EXPECT_TRUE(s) << error;
    return s;
  }
  ScratchDir dir_;
};

LookupQuery name_query(const std::string& text, bool self = false) {
  LookupQuery q;
  std::string error;
  EXPECT_TRUE(parse_name_query(text, self, &q, &error)) << error;
  return q;
}
LookupQuery value_query(const std::string& text, uint16_t type = 0) {
  LookupQuery q;
  std::string error;
  EXPECT_TRUE(parse_value_query(text, type, &q, &error)) << error;
  return q;
}

TEST_F(LookupTest, OneStoreAndThreeStoresAgreeWithBruteForce) {
  const std::vector<TestRecord> all = generate_records(3, 6000);
  std::vector<TestRecord> parts[3];
  std::mt19937 rng(5);
  for (const TestRecord& r : all) parts[rng() % 3].push_back(r);
  write_store(dir_.file("all.qrs"), all);
  for (int i = 0; i < 3; ++i) write_store(dir_.file("p" + std::to_string(i)), parts[i]);
  auto one = open("all.qrs");
  auto p0 = open("p0"), p1 = open("p1"), p2 = open("p2");
  ASSERT_TRUE(one && p0 && p1 && p2);
  const std::vector<const RecordStore*> single{one.get()}, split{p0.get(), p1.get(), p2.get()};

  std::vector<LookupQuery> queries = {
      name_query("example.com"), name_query("WWW.Example.COM."), name_query("a.example.com"),
      name_query("*.example.com"), name_query("*.example.com", true), name_query("*.com"),
      name_query("*.a.example.com", true), name_query("*.example.community"),
      name_query("nothing.example.org"), value_query("ns1.example.net."),
      value_query("10 mail.example.com."), value_query("\"v=7\""), value_query("192.0.1.9"),
      value_query("www.ex.org.", 5), value_query("2001:db8::1:20"),
      value_query("192.0.0.0/8"), value_query("192.0.1.0/24"), value_query("192.0.2.128/25"),
      value_query("0.0.0.0/0"), value_query("192.0.1.7/32"), value_query("2001:db8::/32"),
      value_query("2001:db8::100/120"), value_query("::/0"), value_query("2001:db8::1:5/128"),
  };
  // The same queries with a type, with time bounds, and paged.
  const size_t plain = queries.size();
  for (size_t i = 0; i < plain; ++i) {
    LookupQuery q = queries[i];
    q.rrtype = 15;
    queries.push_back(q);
    q = queries[i];
    q.time.last_after_set = true;
    q.time.last_after = 1701000000;
    q.time.first_before_set = true;
    q.time.first_before = 1701500000;
    queries.push_back(q);
    q.time.first_after_set = q.time.last_before_set = true;
    q.time.first_after = 1700500000;
    q.time.last_before = 1701600000;
    queries.push_back(q);
    q = queries[i];
    q.offset = 3;
    q.limit = 7;
    queries.push_back(q);
  }
  const std::vector<TestRecord> all_merged = merged(all);
  for (const LookupQuery& q : queries) {
    const std::vector<TestRecord> want = brute(all_merged, q);
    SCOPED_TRACE(q.kind == LookupKind::kName || q.kind == LookupKind::kSubtree ? q.name : q.text);
    EXPECT_EQ(run(single, q), want);
    EXPECT_EQ(run(split, q), want);
  }
  // The generated data must exercise the queries: most of them find something.
  size_t found = 0;
  for (size_t i = 0; i < plain; ++i) found += !brute(all_merged, queries[i]).empty();
  EXPECT_GE(found, plain - 3);
}

TEST_F(LookupTest, SubtreeEdges) {
  const std::string a("\x01\x02\x03\x04", 4);
  write_store(dir_.file("s"), {{"com", 1, a, 1, 2, 1, ""},
                               {"example.com", 1, a, 1, 2, 1, ""},
                               {"www.example.com", 1, a, 1, 2, 1, ""},
                               {"example.community", 1, a, 1, 2, 1, ""},
                               {"www.example.community", 1, a, 1, 2, 1, ""},
                               {"xexample.com", 1, a, 1, 2, 1, ""}});
  auto s = open("s");
  ASSERT_TRUE(s);
  auto names = [&](const LookupQuery& q) {
    std::vector<std::string> out;
      for (const TestRecord& r : run({s.get()}, q)) out.push_back(r.name);
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(names(name_query("*.example.com")), V{"www.example.com"});
  EXPECT_EQ(names(name_query("*.example.com", true)), (V{"example.com", "www.example.com"}));
  EXPECT_EQ(names(name_query("*.www.example.com")), V{});
  EXPECT_EQ(names(name_query("*.www.example.com", true)), V{"www.example.com"});
  EXPECT_EQ(names(name_query("*.zzz.example.com", true)), V{});
  EXPECT_EQ(names(name_query("example.co")), V{});
}

TEST_F(LookupTest, BadQueriesAreRefusedWithTheirText) {
  LookupQuery q;
  std::string error;
  EXPECT_FALSE(parse_value_query("192.0.2.0/33", 0, &q, &error));
  EXPECT_EQ(error, "Error: invalid address prefix '192.0.2.0/33'");
  EXPECT_FALSE(parse_value_query("2001:db8::/129", 0, &q, &error));
  EXPECT_FALSE(parse_value_query("192.0.2.0/24", 2, &q, &error));
  EXPECT_EQ(error, "Error: an address prefix matches A or AAAA values only, not NS");
  EXPECT_FALSE(parse_value_query("not an address", 1, &q, &error));
  EXPECT_EQ(error, "Error: 'not an address' is not the text of a A value");
  // A "/" after something that is no address belongs to a value, not a prefix.
  ASSERT_TRUE(parse_value_query("\"a/b\"", 0, &q, &error)) << error;
  EXPECT_EQ(q.kind, LookupKind::kValue);
  EXPECT_FALSE(parse_name_query("*.", false, &q, &error));
  EXPECT_EQ(error, "Error: invalid owner name '*.'");
  EXPECT_FALSE(parse_name_query("a b.com", false, &q, &error));
}

}  // namespace
}  // namespace quarn::testing
