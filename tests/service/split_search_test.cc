// A broad search spread over idle workers answers byte for byte as one search does:
// every line and the fin, over a set of several index files, for table scans and
// indexed queries, with offset and limit windows across the slice edges, rrtype, time
// bounds and an exclusion. Labelled "concurrent" so that the ThreadSanitizer stage runs
// it. Also a split search that must stop (the client gone), and the gate's lending of
// idle workers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "retrieval/data_source.h"
#include "retrieval/search_context.h"
#include "service/request_params.h"
#include "service/service_fixture.h"
#include "service/split_search.h"

namespace quarn::test {
namespace {

std::string url(const std::string& value, uint64_t limit, uint64_t offset,
                const std::string& extra) {
  const bool typed = extra.find("rrtype=") != std::string::npos;
  return "/v1/search?search_method=regex&search_what=rrnames&return_what=details" +
         std::string(typed ? "" : "&rrtype=any") +
         "&value=" + httplib::detail::encode_query_param(value) + "&limit=" +
         std::to_string(limit) + "&offset=" + std::to_string(offset) + extra;
}

std::string body(const RunningService& svc, const std::string& u) {
  auto r = svc.client()->Get(u);
  return r ? r->body : std::string("no answer");
}

TEST(SplitSearch, AnswersAsOneSearchDoes) {
  TempDir dir;
  write_entries(dir.file("a.tgdb"), make_entries(900, 0));
  write_entries(dir.file("b.tgdb"), make_entries(350, 3));
  write_entries(dir.file("c.tgdb"), make_entries(60, 11));
  write_file(dir.file("names.set"), "a.tgdb\nb.tgdb\nc.tgdb\n");
  ServiceOptions split;
  split.workers = 3;
  split.min_split_lines = 0;
  ServiceOptions whole = split;
  whole.split_workers = 1;
  RunningService s(split, dir.file("names.set"));
  RunningService w(whole, dir.file("names.set"));

  const std::string t = std::to_string(kT0 + 60000);
  struct Case {
    const char* value;
    std::string extra;
  };
  const std::vector<Case> cases = {
      {".", ""},                                          // every key: a table scan
      {"z[0-9]", ""},                                     // a table scan through blocks
      {"h1|z3\\.ex", ""},                                 // a union of trigram lists
      {"h1|z3\\.ex", "&rrtype=NS"},
      {".", "&time_last_after=" + t + "&time_first_before=" + std::to_string(kT0 + 150000)},
      {"h1|z3\\.ex", "&exclude=" + httplib::detail::encode_query_param("^h1[0-4]")},
      {"nothing-like-this", ""},
  };
  for (const Case& c : cases) {
    const std::string all = body(w, url(c.value, 100000, 0, c.extra));
    ASSERT_EQ(body(s, url(c.value, 100000, 0, c.extra)), all) << c.value << c.extra;
    // Windows of 41 results every 37 cross every edge between slices.
    const size_t results = static_cast<size_t>(std::count(all.begin(), all.end(), '\n'));
    for (uint64_t offset = 0; offset <= results; offset += 37) {
      const std::string u = url(c.value, 41, offset, c.extra);
      EXPECT_EQ(body(s, u), body(w, u)) << u;
    }
  }
  EXPECT_GT(s.service().metrics().splits(), 0u);
  EXPECT_EQ(w.service().metrics().splits(), 0u);
}

// Every thread of a split search writes and only the request's thread asks the probe:
// a failed write on any of them, or a probe turning true while the request's thread is
// searching, ends the answer, and every thread stops before the call returns.
TEST(SplitSearch, StopsEveryThreadWhenTheClientIsGone) {
  TempDir dir;
  write_entries(dir.file("a.tgdb"), make_entries(3000, 0));
  index_list source;
  ASSERT_TRUE(source.add(dir.file("a.tgdb")));
  query_request r;
  const UrlParams params = {{"search_method", "regex"}, {"search_what", "rrnames"},
                            {"return_what", "details"}, {"rrtype", "any"}, {"value", "."},
                            {"limit", "100000"}};
  ASSERT_FALSE(request_from_params(params, r));
  const SearchLimits limits{100000, 0, 0};
  search_context ctx;
  ASSERT_FALSE(prepare_search(r, ctx));
  SplitHooks hooks;
  hooks.make_context = [&r] {
    auto c = std::make_unique<search_context>();
    return prepare_search(r, *c) ? nullptr : std::move(c);
  };
  for (const bool by_write : {true, false}) {
    SCOPED_TRACE(by_write ? "write fails" : "probe says gone");
    SearchGate gate(2, 1);
    SearchGate::Refusal why;
    SearchGate::Ticket own = gate.enter(std::chrono::milliseconds(0), nullptr, &why);
    std::atomic<int> writes{0};
    // Slow writes give the probe its turns (every 100 ms) before the answer is complete.
    const LineSink sink = [&](std::string_view) {
      if (!by_write) std::this_thread::sleep_for(std::chrono::milliseconds(60));
      return !by_write || ++writes < 2;
    };
    const AbortProbe probe = [&] { return !by_write; };
    bool split = false;
    const SearchOutcome o = run_search_split_or_whole(r, limits, ctx, source, {2, 0}, gate,
                                                      hooks, sink, probe, &split);
    EXPECT_TRUE(split);
    EXPECT_EQ(o.write_failed, by_write);
    EXPECT_EQ(o.aborted, !by_write);
    EXPECT_LT(o.results, 3000u);
    EXPECT_EQ(gate.running(), 1u);  // the borrowed worker is back
  }
}

// A split search borrows only workers that are idle, never past the worker count, and
// none from a gate that is closing.
TEST(SplitSearch, BorrowsOnlyIdleWorkers) {
  SearchGate gate(3, 4);
  SearchGate::Refusal why;
  SearchGate::Ticket own = gate.enter(std::chrono::milliseconds(0), nullptr, &why);
  ASSERT_TRUE(own);
  std::vector<SearchGate::Ticket> borrowed = gate.borrow_idle(5);
  EXPECT_EQ(borrowed.size(), 2u);
  EXPECT_EQ(gate.running(), 3u);
  EXPECT_TRUE(gate.borrow_idle(1).empty());
  borrowed.pop_back();
  EXPECT_EQ(gate.running(), 2u);
  gate.close();
  EXPECT_TRUE(gate.borrow_idle(1).empty());
}

}  // namespace
}  // namespace quarn::test
