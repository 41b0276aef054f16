// Record stores in the service: each lookup endpoint against the lookup library's answer
// over the same store, one fin code per kind of failure, searches whose results are
// followed by their records, and the re-reading of a set of stores.
#include <gtest/gtest.h>

#include <cstdio>

#include "forge/build.h"
#include "lookup/lookup.h"
#include "output/cof_output.h"
#include "output/status_message.h"
#include "service/service_fixture.h"
#include "store/record_gen.h"
#include "store/store_reader.h"

namespace quarn::test {
namespace {

using quarn::testing::cof_line;
using quarn::testing::generate_records;
using quarn::testing::TestRecord;

// Builds names.idx, rdata.idx and the store from one set of generated observations.
void build_fileset(const TempDir& dir, const std::vector<TestRecord>& records,
                   const std::string& store) {
  std::string in;
  for (const TestRecord& r : records) in += cof_line(r);
  write_file(dir.file("obs.json"), in);
  BuildOptions b;
  b.inputs = {dir.file("obs.json")};
  b.rrname_out = dir.file("names.idx");
  b.rdata_out = dir.file("rdata.idx");
  b.records_out = store;
  b.tmpdir = dir.path();
  b.progress = false;
  b.force = true;
  BuildStats stats;
  std::string error;
  EXPECT_TRUE(run_build(b, &stats, &error)) << error;
}

class ServiceRecords : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    build_fileset(*dir_, generate_records(21, 3000), dir_->file("s.qrs"));
    std::string error;
    store_ = RecordStore::open(dir_->file("s.qrs"), &error).release();
    ServiceOptions o;
    o.timeout = 5;
    o.max_limit = 100000;
    o.rdata = dir_->file("rdata.idx");
    o.records = dir_->file("s.qrs");
    svc_ = new RunningService(o, dir_->file("names.idx"));
    write_file(dir_->file("keys"), "k:s3cret\n");
    keyed_ = new RunningService(o, dir_->file("names.idx"), ApiKeys::load(dir_->file("keys"), &error));
    bare_ = new RunningService(ServiceOptions{}, dir_->file("names.idx"));
  }
  static void TearDownTestSuite() {
    delete svc_;
    delete keyed_;
    delete bare_;
    delete store_;
    delete dir_;
  }
  static Answer get(const std::string& url, RunningService* s = svc_) {
    return split_answer(s->client()->Get(url));
  }
  // The library's answer over the store, as the lines the service should send.
  static std::vector<std::string> library(const LookupQuery& q) {
    std::vector<std::string> out;
    CofWriter cof;
    const RecordStore* s = store_;
    for (auto l = Lookup::start({&s, 1}, q); l->valid(); l->next()) {
      std::string line;
      EXPECT_TRUE(cof.append_json(line, l->record()));
      line.pop_back();
      out.push_back(line);
    }
    return out;
  }
  static LookupQuery query(bool by_value, const std::string& text, uint16_t rrtype = 0) {
    LookupQuery q;
    std::string error;
    EXPECT_TRUE(by_value ? parse_value_query(text, rrtype, &q, &error)
                         : parse_name_query(text, false, &q, &error))
        << error;
    q.rrtype = rrtype;
    return q;
  }

  static TempDir* dir_;
  static RecordStore* store_;
  static RunningService *svc_, *keyed_, *bare_;
};
TempDir* ServiceRecords::dir_ = nullptr;
RecordStore* ServiceRecords::store_ = nullptr;
RunningService* ServiceRecords::svc_ = nullptr;
RunningService* ServiceRecords::keyed_ = nullptr;
RunningService* ServiceRecords::bare_ = nullptr;

TEST_F(ServiceRecords, LookupsAgreeWithTheLibrary) {
  struct Case {
    std::string url;
    LookupQuery q;
  };
  std::vector<Case> cases = {
      {"/v1/lookup/rrset?rrname=example.com", query(false, "example.com")},
      {"/v1/lookup/rrset?rrname=*.example.com&rrtype=A&limit=7&offset=3",
       query(false, "*.example.com", 1)},
      {"/v1/lookup/rrset?rrname=*.com&time_last_after=1701000000&time_first_before=1701500000",
       query(false, "*.com")},
      {"/v1/lookup/rdata?value=ns1.example.net.", query(true, "ns1.example.net.")},
      {"/v1/lookup/rdata?value=192.0.1.0/24&offset=2", query(true, "192.0.1.0/24")},
      {"/v1/lookup/rdata?value=2001:db8::/32&rrtype=AAAA&limit=5", query(true, "2001:db8::/32", 28)},
      {"/v1/lookup/rrset?rrname=nothing.example.org", query(false, "nothing.example.org")},
  };
  cases[1].q.limit = 7;
  cases[1].q.offset = 3;
  cases[2].q.time.last_after_set = cases[2].q.time.first_before_set = true;
  cases[2].q.time.last_after = 1701000000;
  cases[2].q.time.first_before = 1701500000;
  cases[4].q.offset = 2;
  cases[5].q.limit = 5;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const Answer a = get(c.url);
    const std::vector<std::string> want = library(c.q);
    EXPECT_EQ(a.http, 200);
    EXPECT_EQ(a.lines, want);
    EXPECT_EQ(a.fin, want.empty() ? fin_line(404, "search executed successfully but returned no results")
                                  : fin_line(200, "OK"));
    EXPECT_TRUE(want.size() > 1 || c.url.find("nothing") != std::string::npos);
  }
}

TEST_F(ServiceRecords, AFinCodePerFailure) {
  struct Case {
    std::string url;
    int http, fin;
    std::string msg;  // "" = the code's own text
    RunningService* service = svc_;
  };
  const std::string rr = "/v1/lookup/rrset?rrname=";
  const std::string no_records = "no record stores are loaded (start the service with --records)";
  const std::vector<Case> cases = {
      {"/v1/lookup/rrset", 400, 400, "missing rrname"},
      {"/v1/lookup/rdata?value=", 400, 400, "missing value"},
      {rr + "a%20b.com", 400, 812, "invalid owner name 'a b.com'"},
      {"/v1/lookup/rdata?value=192.0.2.0/33", 400, 812, "invalid address prefix '192.0.2.0/33'"},
      {rr + "example.com&rrtype=BOGUS", 400, 808, ""},
      {rr + "example.com&limit=x", 400, 416, ""},
      {rr + "example.com&limit=0", 400, 809, ""},
      {rr + "example.com&offset=-1", 400, 416, ""},
      // Nothing passes the filter: the deadline runs out between merged records.
      {rr + "*.com&time_first_after=4000000000&timeout=0.000001", 200, 504, ""},
      {rr + "example.com", 401, 401, "missing or invalid API key", keyed_},
      {rr + "example.com", 400, 400, no_records, bare_},
      {search_url("^www", "&with_records=1"), 400, 400, no_records, bare_},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const Answer a = get(c.url, c.service);
    EXPECT_EQ(a.http, c.http);
    EXPECT_TRUE(a.lines.empty());
    EXPECT_EQ(a.fin, build_status_message(c.fin, c.msg.empty() ? nullptr : c.msg.c_str()));
  }
  // The stores and the lookups show in the reports.
  const std::string status = svc_->client()->Get("/v1/status")->body;
  EXPECT_NE(status.find("\"records\":{\"path\":\"" + dir_->file("s.qrs") + "\""), std::string::npos);
  EXPECT_NE(status.find("\"records\":" + std::to_string(store_->header().record_count)),
            std::string::npos);
  const std::string metrics = svc_->client()->Get("/metrics")->body;
  EXPECT_NE(metrics.find("quarn_record_store_files 1\n"), std::string::npos);
  EXPECT_EQ(metrics.find("quarn_lookups_total 0\n"), std::string::npos);
}

TEST_F(ServiceRecords, SearchResultsAreFollowedByTheirRecords) {
  const std::string post =
      R"({"query":{"search_method":"glob","search_what":"rrnames","return_what":"details",)"
      R"("value":"*.a.example.com","rrtype":"any","limit":50,"with_records":true}})";
  const Answer names = split_answer(svc_->client()->Post("/v1/search", post, "application/json"));
  const Answer values = get(
      "/v1/search?search_method=glob&search_what=rdata&return_what=details&value=ns*.example.net."
      "&rrtype=NS&limit=10&with_records=1");
  for (const Answer* a : {&names, &values}) {
    const bool by_value = a == &values;
    EXPECT_EQ(a->fin, fin_line(200, "OK"));
    // The result lines of one key, then that key's records (at most limit of them).
    const std::string tag = by_value ? "\"rdata\":\"" : "\"rrname\":\"";
    std::vector<std::pair<std::string, std::vector<std::string>>> results;
    for (const std::string& line : a->lines) {
      size_t at = line.find(tag);
      if (!line.starts_with("{\"details\"") || at == std::string::npos) continue;
      at += tag.size();
      const std::string key = line.substr(at, line.find('"', at) - at);
      if (results.empty() || results.back().first != key) results.push_back({key, {}});
      results.back().second.push_back(line);
    }
    std::vector<std::string> expected;
    for (const auto& [key, lines] : results) {
      expected.insert(expected.end(), lines.begin(), lines.end());
      LookupQuery q = query(by_value, key, by_value ? 2 : 0);
      q.limit = by_value ? 10 : 50;
      const std::vector<std::string> records = library(q);
      EXPECT_FALSE(records.empty()) << key;
      expected.insert(expected.end(), records.begin(), records.end());
    }
    EXPECT_GE(results.size(), 3u);
    EXPECT_EQ(a->lines, expected);
  }
}

TEST(RecordSource, SetsAreReReadAndCheckedAsIndexSetsAre) {
  TempDir dir;
  const auto one = generate_records(1, 200), two = generate_records(2, 300);
  quarn::testing::write_store(dir.file("a.qrs"), one);
  quarn::testing::write_store(dir.file("b.qrs"), two);
  write_file(dir.file("set"), "# days\na.qrs\n\n" + dir.file("b.qrs") + "\n");
  std::string error;
  auto source = RecordSource::open(dir.file("set"), &error);
  ASSERT_TRUE(source) << error;
  auto counts = [&] {
    std::vector<uint64_t> n;
    for (const RecordStore* s : source->current()->stores) n.push_back(s->header().record_count);
    return n;
  };
  const std::vector<uint64_t> before = counts();
  ASSERT_EQ(before.size(), 2u);
  // A store replaced by a rename is loaded again; one that no longer opens is left out,
  // and the snapshot taken before lives on.
  const auto held = source->current();
  quarn::testing::write_store(dir.file("new.qrs"), two);
  ASSERT_EQ(std::rename(dir.file("new.qrs").c_str(), dir.file("a.qrs").c_str()), 0);
  write_file(dir.file("b.qrs"), "not a store");
  EXPECT_FALSE(source->reload_now());
  EXPECT_EQ(counts(), std::vector<uint64_t>{before[1]});
  EXPECT_EQ(held->stores.size(), 2u);
  // A set listing one file twice is refused at start, and kept out of a running source.
  write_file(dir.file("twice"), "a.qrs\n./a.qrs\n");
  EXPECT_FALSE(RecordSource::open(dir.file("twice"), &error));
  EXPECT_EQ(error, "Error: " + dir.file("twice") + " lists the record store " + dir.path() +
                       "/./a.qrs twice\n");
  write_file(dir.file("set"), "a.qrs\na.qrs\n");
  EXPECT_FALSE(source->reload_now());
  EXPECT_EQ(counts(), std::vector<uint64_t>{before[1]});
  EXPECT_FALSE(RecordSource::open(dir.file("nothing"), &error));
}

}  // namespace
}  // namespace quarn::test
