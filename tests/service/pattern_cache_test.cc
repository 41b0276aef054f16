// The service's pattern cache: its bounds, its keys, and many threads sharing prepared
// expressions (each search context with its own scratch) while others insert; and the
// phase histograms it is reported with.
#include "service/pattern_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "retrieval/search_context.h"
#include "service/phase_metrics.h"

namespace quarn {
namespace {

std::shared_ptr<const prepared_expression> prepared(const std::string& expr) {
  std::string error;
  auto e = prepare_expression(expr, false, &error);
  EXPECT_TRUE(e) << error;
  return e;
}

TEST(PatternCache, BoundsEvictTheLeastRecentlyUsed) {
  auto e = prepared("www\\.example");
  const size_t one = e->bytes + 40 + 3 + 200;  // generous per-entry room for the byte test
  PatternCache by_count(2, 1 << 20);
  by_count.insert("a", e);
  by_count.insert("b", e);
  EXPECT_TRUE(by_count.find("a"));  // "b" is now the oldest
  by_count.insert("c", e);
  EXPECT_FALSE(by_count.find("b"));
  EXPECT_TRUE(by_count.find("a"));
  EXPECT_TRUE(by_count.find("c"));
  PatternCache::Counters c = by_count.counters();
  EXPECT_EQ(c.entries, 2u);
  EXPECT_EQ(c.evictions, 1u);
  EXPECT_EQ(c.hits, 3u);
  EXPECT_EQ(c.misses, 1u);

  PatternCache by_bytes(100, 2 * one);
  for (const char* k : {"a", "b", "c", "d"}) by_bytes.insert(k, e);
  EXPECT_LE(by_bytes.counters().bytes, 2 * one);
  EXPECT_TRUE(by_bytes.find("d"));
  EXPECT_FALSE(by_bytes.find("a"));

  PatternCache tiny(100, 16);  // no entry fits: nothing is kept
  tiny.insert("a", e);
  EXPECT_EQ(tiny.counters().entries, 0u);
  EXPECT_FALSE(tiny.find("a"));
}

TEST(PatternCache, KeysTellRoleMethodScopeAndBytesApart) {
  const std::string base = pattern_cache_key(PatternRole::kSearch, true, 0, "a*");
  EXPECT_NE(base, pattern_cache_key(PatternRole::kExclusion, true, 0, "a*"));
  EXPECT_NE(base, pattern_cache_key(PatternRole::kSearch, false, 0, "a*"));
  EXPECT_NE(base, pattern_cache_key(PatternRole::kSearch, true, 1, "a*"));
  EXPECT_NE(base, pattern_cache_key(PatternRole::kSearch, true, 0, std::string("a*\0", 3)));
}

TEST(PatternCache, ThreadsShareEntriesWithScratchOfTheirOwn) {
  PatternCache cache(8, 1 << 20);
  const std::vector<std::string> exprs = {"mail", "shop[0-9]+", "^www\\.", "(a|b)c", "x.*y",
                                          "net$", "s[aeiou]p", "abc", "q+r", "z{2}"};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const std::string& expr = exprs[(i * 7 + t) % exprs.size()];
        const std::string key = pattern_cache_key(PatternRole::kSearch, true, 0, expr);
        std::shared_ptr<const prepared_expression> e = cache.find(key);
        if (!e) {
          std::string error;
          e = prepare_expression(expr, false, &error);
          cache.insert(key, e);
        }
        search_context ctx;
        std::string error;
        if (!e || !ctx.install(*e, &error)) {
          ++wrong;
          continue;
        }
        const std::string text = expr == "mail" ? "mail.example" : "-";
        if (ctx.match(text.data(), text.size()) != (expr == "mail")) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_LE(cache.counters().entries, 8u);
}

TEST(PhaseMetrics, RendersAHistogramPerPhaseAndTheCacheCounters) {
  PhaseMetrics m;
  PhaseTimes t;
  t[Phase::kParse] = 0.00002;
  t[Phase::kSearch] = 0.003;
  m.observe(t);
  PatternCache::Counters c;
  c.hits = 5;
  const std::string text = m.render(c);
  EXPECT_NE(text.find("quarn_phase_seconds_bucket{phase=\"parse\",le=\"2.5e-05\"} 1\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("quarn_phase_seconds_bucket{phase=\"parse\",le=\"1e-05\"} 0\n"),
            std::string::npos);
  EXPECT_NE(text.find("quarn_phase_seconds_count{phase=\"search\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("quarn_phase_seconds_count{phase=\"compile\"} 0\n"), std::string::npos);
  EXPECT_NE(text.find("quarn_pattern_cache_hits_total 5\n"), std::string::npos);
}

}  // namespace
}  // namespace quarn
