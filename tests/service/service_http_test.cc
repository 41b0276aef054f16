// The service over loopback with a real HTTP client: every fin code through POST and
// GET, keys, request bounds, the request fields' semantics against a brute force, and
// the answers against quarnsearch -j over the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "service/service_fixture.h"

namespace quarn::test {
namespace {

class ServiceHttp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    entries_ = new std::vector<Entry>(make_entries(3000));
    index_ = dir_->file("names.tgdb");
    write_entries(index_, *entries_);
    ServiceOptions o;
    o.timeout = 5;
    o.max_limit = 2500;
    keys_path_ = dir_->file("keys");
    write_file(keys_path_, "# team keys\nalice: s3cret-a\nbob:s3cret-b\n");
    svc_ = new RunningService(o, index_);
    std::string error;
    keyed_ = new RunningService(o, index_, ApiKeys::load(keys_path_, &error));
  }
  static void TearDownTestSuite() {
    delete svc_;
    delete keyed_;
    delete entries_;
    delete dir_;
  }
  static Answer get(const std::string& url) { return split_answer(svc_->client()->Get(url)); }
  static Answer post(const std::string& body) {
    return split_answer(svc_->client()->Post("/v1/search", body, "application/json"));
  }

  // What the service must answer, computed from the entries directly.
  struct Filter {
    std::string contains;
    std::string excluded;  // substring that drops a name
    std::string rrtype;    // "" = any
    int64_t tfa = INT64_MIN, tfb = INT64_MAX, tla = INT64_MIN, tlb = INT64_MAX;
    uint64_t offset = 0, limit = 2500;
  };
  static std::vector<std::string> brute_force(const Filter& f) {
    std::vector<std::string> out;
    uint64_t passed = 0, returned = 0;
    for (const Entry& e : *entries_) {
      if (e.name.find(f.contains) == std::string::npos) continue;
      if (!f.excluded.empty() && e.name.find(f.excluded) != std::string::npos) continue;
      std::vector<std::string> lines;
      for (const Obs& o : e.obs) {
        if (!f.rrtype.empty() && f.rrtype != o.type) continue;
        if (o.first < f.tfa || o.first > f.tfb || o.last < f.tla || o.last > f.tlb) continue;
        lines.push_back(details_line(e.name, o));
      }
      if (lines.empty()) continue;
      if (passed++ < f.offset) continue;
      if (returned++ == f.limit) break;
      out.insert(out.end(), lines.begin(), lines.end());
    }
    return out;
  }

  static TempDir* dir_;
  static std::vector<Entry>* entries_;
  static std::string index_;
  static std::string keys_path_;
  static RunningService* svc_;
  static RunningService* keyed_;
};

TempDir* ServiceHttp::dir_ = nullptr;
std::vector<Entry>* ServiceHttp::entries_ = nullptr;
std::string ServiceHttp::index_;
std::string ServiceHttp::keys_path_;
RunningService* ServiceHttp::svc_ = nullptr;
RunningService* ServiceHttp::keyed_ = nullptr;

std::string body(const std::string& fields) { return "{\"query\":{" + fields + "}}"; }
const std::string kBase =
    "\"search_method\":\"regex\",\"search_what\":\"rrnames\",\"return_what\":\"details\","
    "\"rrtype\":\"any\",\"limit\":10";

TEST_F(ServiceHttp, EveryFinCodeThroughPostAndGet) {
  struct Case {
    std::string post, get;
    int http;
    std::string fin;
  };
  const std::string g = "/v1/search?search_what=rrnames&return_what=details&rrtype=any&limit=10";
  const Case cases[] = {
      {body(kBase + ",\"value\":\"z3\\\\.example\""), g + "&search_method=regex&value=z3%5C.example",
       200, fin_line(200, "OK")},
      {body(kBase + ",\"value\":\"nomatch\""), g + "&search_method=regex&value=nomatch", 200,
       fin_line(404, "search executed successfully but returned no results")},
      {body("\"search_what\":\"rrnames\""), "/v1/search?search_what=rrnames", 400,
       fin_line(400, "query message was missing search_method field")},
      {body(kBase + ",\"value\":\"a\",\"offset\":1.5"), g + "&search_method=regex&value=a&offset=x",
       400, fin_line(416, "parameter had illegal type")},
      {body(kBase + ",\"value\":\"*\""), g + "&search_method=regex&value=*", 400,
       fin_line(801, "Invalid '*' at 0")},
      {body(kBase + ",\"value\":\"a\\\\qb\""), g + "&search_method=regex&value=a%5Cqb", 400,
       fin_line(802, "Invalid escaped character \\\\q at 1")},
      {"", g + "&search_method=glob&value=a%5C", 400,
       fin_line(803, "Invalid unescaped '\\\\' at 1")},
      {"", g + "&search_method=glob&value=%5B%5B%3Anope%3A%5D%5D", 400,
       fin_line(804, "Invalid character class name at 0")},
      {"", g + "&search_method=grep&value=a",
       400, fin_line(805, "query message contained invalid search method")},
      {"", "/v1/search?search_method=regex&search_what=hosts&return_what=details&rrtype=any&limit=1&value=a",
       400, fin_line(806, "query message contained invalid search scope")},
      {"", "/v1/search?search_method=regex&search_what=rrnames&return_what=all&rrtype=any&limit=1&value=a",
       400, fin_line(807, "query message contained invalid return option")},
      {"", "/v1/search?search_method=regex&search_what=rrnames&return_what=details&rrtype=NOPE&limit=1&value=a",
       400, fin_line(808, "query message contained invalid rrtype")},
      {"", "/v1/search?search_method=regex&search_what=rrnames&return_what=details&rrtype=any&limit=0&value=a",
       400, fin_line(809, "query message contained invalid limit")},
      {body(kBase + ",\"value\":\"a\",\"exclude\":\"(\""), g + "&search_method=regex&value=a&exclude=%28",
       400, fin_line(811, "Premature end of regexp")},
      {body(kBase + ",\"value\":\".\""), g + "&search_method=regex&value=.&timeout=0.000001", 200,
       fin_line(504, "search timed out waiting for results")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.get);
    Answer a = get(c.get);
    EXPECT_EQ(a.http, c.http);
    EXPECT_EQ(a.fin, c.fin);
    // The POST form of the GET request, where the case has one of its own.
    if (c.post.empty() || c.fin.find("504") != std::string::npos) continue;
    Answer p = post(c.post);
    EXPECT_EQ(p.http, c.http);
    EXPECT_EQ(p.fin, c.fin);
  }
  // A body that is no JSON at all.
  Answer broken = post("{\"query\":");
  EXPECT_EQ(broken.http, 400);
  EXPECT_EQ(broken.fin, fin_line(500, "unexpected error in json parser"));
}

TEST_F(ServiceHttp, GlobFaultsThroughPost) {
  const std::string glob = "\"search_method\":\"glob\",\"search_what\":\"rrnames\","
                           "\"return_what\":\"terse\",\"rrtype\":\"any\",\"limit\":10";
  EXPECT_EQ(post(body(glob + ",\"value\":\"a\\\\\"")).fin, fin_line(803, "Invalid unescaped '\\\\' at 1"));
  EXPECT_EQ(post(body(glob + ",\"value\":\"[[:nope:]]\"")).fin,
            fin_line(804, "Invalid character class name at 0"));
  EXPECT_EQ(post(body(glob + ",\"value\":\"a\"").replace(27, 4, "grep")).fin,
            fin_line(805, "query message contained invalid search method"));
  Answer ok = post(body(glob + ",\"value\":\"h1.z1.example.com\""));
  ASSERT_EQ(ok.lines.size(), 1u);
  EXPECT_EQ(ok.lines[0], "{\"terse\":{\"rrname\":\"h1.z1.example.com\",\"rrtype\":\"A\"}}");
}

TEST_F(ServiceHttp, FiltersAgainstBruteForce) {
  struct Case {
    std::string extra;
    Filter f;
  };
  Filter base;
  base.contains = "z3.example";
  std::vector<Case> cases;
  cases.push_back({"", base});
  Filter f = base;
  f.offset = 7;
  f.limit = 5;
  cases.push_back({"&offset=7&limit=5", f});
  f = base;
  f.limit = 2500;  // the server's cap wins over the request's 100000
  cases.push_back({"", f});
  f = base;
  f.excluded = "h1";
  cases.push_back({"&exclude=h1", f});
  f = base;
  f.rrtype = "NS";
  cases.push_back({"&rrtype=NS", f});
  const int64_t mid = kT0 + 150000;
  f = base;
  f.tfa = mid;
  cases.push_back({"&time_first_after=" + std::to_string(mid), f});
  f = base;
  f.tfb = mid;
  cases.push_back({"&time_first_before=" + std::to_string(mid), f});
  f = base;
  f.tla = mid;
  cases.push_back({"&time_last_after=" + std::to_string(mid), f});
  f = base;
  f.tlb = mid + 50;  // the boundary itself is inside: bounds are inclusive
  f.tla = mid - 20000;
  cases.push_back({"&time_last_before=" + std::to_string(mid + 50) +
                       "&time_last_after=" + std::to_string(mid - 20000), f});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    std::string url = search_url("z3\\.example", c.extra);
    // A later parameter of the same name does not override the first one.
    if (c.extra.find("rrtype=NS") != std::string::npos) url.replace(url.find("rrtype=any"), 10, "rrtype=NS");
    if (c.extra.find("limit=5") != std::string::npos) url.replace(url.find("limit=100000"), 12, "limit=5");
    Answer a = get(url);
    EXPECT_EQ(a.lines, brute_force(c.f));
  }
}

TEST_F(ServiceHttp, PagesWithOffsetCoverTheWholeAnswer) {
  Filter all;
  all.contains = "z5.example";
  const std::vector<std::string> whole = brute_force(all);
  std::vector<std::string> paged;
  for (int offset = 0;; offset += 40) {
    std::string url = search_url("z5\\.example", "&offset=" + std::to_string(offset));
    url.replace(url.find("limit=100000"), 12, "limit=40");
    Answer a = get(url);
    paged.insert(paged.end(), a.lines.begin(), a.lines.end());
    if (a.fin.find("404") != std::string::npos) break;
    ASSERT_EQ(a.fin, fin_line(200, "OK"));
  }
  EXPECT_EQ(paged, whole);
}

TEST_F(ServiceHttp, SameLinesAsTheCommandLine) {
  for (const char* expr : {"z[0-2]\\.ex", "^h1[0-9]*\\.", "h(12|7)", ".", "5\\.z5"}) {
    SCOPED_TRACE(expr);
    RunResult cli = run_quarnsearch({"-l", index_, "-j", "-L", "-1", "-s", expr});
    ASSERT_EQ(cli.status, 0) << cli.err;
    Answer a = get(search_url(expr, "&limit=1000000").replace(0, 0, ""));
    std::string joined;
    for (const std::string& l : a.lines) joined += l + "\n";
    // The service caps the limit at 2500 results: compare that many of the command line's.
    RunResult capped = run_quarnsearch({"-l", index_, "-j", "-L", "2500", "-s", expr});
    EXPECT_EQ(joined, capped.out);
  }
}

TEST_F(ServiceHttp, KeysAreRequiredAndNamed) {
  auto c = keyed_->client();
  const std::string url = search_url("h1\\.z1\\.");
  Answer none = split_answer(c->Get(url));
  EXPECT_EQ(none.http, 401);
  EXPECT_EQ(none.fin, fin_line(401, "missing or invalid API key"));
  Answer wrong = split_answer(c->Get(url, {{"Authorization", "Bearer s3cret-c"}}));
  EXPECT_EQ(wrong.http, 401);
  Answer prefix = split_answer(c->Get(url, {{"Authorization", "Bearer s3cret-"}}));
  EXPECT_EQ(prefix.http, 401);
  Answer right = split_answer(c->Get(url, {{"Authorization", "Bearer s3cret-b"}}));
  EXPECT_EQ(right.http, 200);
  EXPECT_EQ(right.fin, fin_line(200, "OK"));
  EXPECT_EQ(split_answer(c->Get("/v1/status")).http, 401);
  EXPECT_EQ(c->Get("/v1/status", {{"Authorization", "bearer s3cret-a"}})->status, 200);
}

TEST_F(ServiceHttp, OversizedRequestsAreRefused) {
  auto c = svc_->client();
  std::string big = body(kBase + ",\"value\":\"" + std::string(70 * 1024, 'a') + "\"");
  auto r = c->Post("/v1/search", big, "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 413);
  auto u = c->Get(search_url(std::string(9000, 'a')));
  ASSERT_TRUE(u);
  EXPECT_EQ(u->status, 414);
}

TEST_F(ServiceHttp, StatusExplainAndMetrics) {
  auto c = svc_->client();
  auto status = c->Get("/v1/status");
  ASSERT_TRUE(status);
  EXPECT_NE(status->body.find("\"path\":\"" + index_ + "\""), std::string::npos) << status->body;
  auto explain = c->Get(search_url("h123\\.z").replace(0, 10, "/v1/explain"));
  ASSERT_TRUE(explain);
  EXPECT_NE(explain->body.find("\"table_scan\":false"), std::string::npos) << explain->body;
  EXPECT_NE(explain->body.find("\"query\":\"{"), std::string::npos) << explain->body;
  auto scan = c->Get(search_url(".").replace(0, 10, "/v1/explain"));
  EXPECT_NE(scan->body.find("\"table_scan\":true"), std::string::npos) << scan->body;
  // The estimate counts candidate lines: at least the keys that match, fewer than the
  // whole file for a selective expression, all of it for a scan.
  const auto estimate = [](const std::string& body) {
    std::smatch m;
    return std::regex_search(body, m, std::regex("\"estimated_lines\":([0-9]+)"))
               ? std::stoull(m[1].str()) : ~0ull;
  };
  const uint64_t matching = std::count_if(entries_->begin(), entries_->end(), [](const Entry& e) {
    return e.name.find("h123.z") != std::string::npos;
  });
  ASSERT_GT(matching, 0u);
  EXPECT_GE(estimate(explain->body), matching) << explain->body;
  EXPECT_LT(estimate(explain->body), entries_->size() / 4) << explain->body;
  EXPECT_GE(estimate(scan->body), entries_->size()) << scan->body;
  get(search_url("nomatch"));
  auto metrics = c->Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("quarn_requests_total{fin=\"404\"} "), std::string::npos);
  EXPECT_EQ(metrics->body.find("quarn_requests_total{fin=\"404\"} 0\n"), std::string::npos);
  EXPECT_NE(metrics->body.find("quarn_index_files{scope=\"rrnames\"} 1\n"), std::string::npos);
}

}  // namespace
}  // namespace quarn::test
