// The whole retrieval path (planner, trackers, iterators, merger, filters) against a
// brute force: several overlapping index files of generated names, many expressions,
// with and without time filters; the merged results must equal a scan of every key with
// a reference regex engine, in the same order, with the same summed observations.
// Also the search context's compile and exclusion steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "index/crafted_index.h"
#include "index/name_order.h"
#include "index/tgdb.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"

namespace quarn {
namespace {

using testing::LogCapture;
using testing::ScratchDir;

struct Obs {
  uint64_t count = 0;
  int64_t first = 0;
  int64_t last = 0;
};

class SearchDifferentialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(2024);
    const char* parts[] = {"mail", "www", "shop", "api", "cdn", "ex", "ample", "x-ray",
                           "ns1",  "a",   "b2b",  "qa",  "dev", "abcde", "m0", "z_z"};
    const char* tlds[] = {"com", "net", "org", "io"};
    std::set<std::string> all;
    while (all.size() < 600) {
      std::string n = parts[rng() % 16];
      const int labels = static_cast<int>(rng() % 3);
      for (int k = 0; k < labels; ++k) n += std::string(rng() % 4 ? "." : "") + parts[rng() % 16];
      n += std::string(".") + tlds[rng() % 4];
      all.insert(n);
    }
    keys_.assign(all.begin(), all.end());
    std::sort(keys_.begin(), keys_.end(),
              [](const std::string& a, const std::string& b) { return name_order(a, b) < 0; });
    // Each key lands in one to three of the files, so keys overlap across files.
    for (int f = 0; f < 3; ++f) {
      std::string text;
      for (size_t i = 0; i < keys_.size(); ++i) {
        if (i % 3 != static_cast<size_t>(f) && rng() % 3 != 0) continue;
        const int64_t first = 1000 + static_cast<int64_t>(rng() % 1000);
        const int64_t last = first + static_cast<int64_t>(rng() % 1000);
        const uint64_t count = 1 + rng() % 9;
        Obs& o = truth_[keys_[i]];
        o.count += count;
        o.first = o.count == count ? first : std::min(o.first, first);
        o.last = std::max(o.last, last);
        char ann[64];
        std::snprintf(ann, sizeof ann, "\t4:%lx,%lx:%lx\n", static_cast<unsigned long>(first),
                      static_cast<unsigned long>(last - first), static_cast<unsigned long>(count));
        text += keys_[i] + ann;
      }
      const std::string path = dir_.file("f" + std::to_string(f) + ".idx");
      testing::write_index(path, text);
      indexes_.push_back(tgdb_load(path));
      ASSERT_TRUE(indexes_.back());
    }
  }

  // What a search must print, by brute force.
  std::vector<std::string> expected(const std::regex& re, int64_t last_after,
                                    const std::regex* exclude = nullptr) const {
    std::vector<std::string> out;
    for (const std::string& k : keys_) {
      auto it = truth_.find(k);
      if (it == truth_.end() || !std::regex_search(k, re)) continue;
      if (exclude && std::regex_search(k, *exclude)) continue;
      if (it->second.last < last_after) continue;
      char buf[96];
      std::snprintf(buf, sizeof buf, " %lu %ld %ld", static_cast<unsigned long>(it->second.count),
                    static_cast<long>(it->second.first), static_cast<long>(it->second.last));
      out.push_back(k + buf);
    }
    return out;
  }

  std::vector<std::string> searched(const std::string& expr, bool glob, int64_t last_after,
                                    const char* exclude = nullptr, bool budget = false) {
    search_context ctx;
    ctx.set_intersection_budget(budget);
    if (last_after > 0) ctx.set_time_last_after(last_after);
    std::string error;
    EXPECT_TRUE(ctx.compile(expr, glob, &error)) << expr << ": " << error;
    if (exclude) {
      EXPECT_TRUE(ctx.compile_exclusion(exclude, false, &error)) << error;
    }
    tgdb_merger m(ctx, false);
    for (const TgdbRef& t : indexes_) m.add_index(t.get());
    std::vector<std::string> out;
    while (auto r = m.next()) {
      EXPECT_EQ(r->auxdata.size(), 1u);
      char buf[96];
      std::snprintf(buf, sizeof buf, " %lu %ld %ld", static_cast<unsigned long>(r->auxdata[0].count),
                    static_cast<long>(r->auxdata[0].time_first),
                    static_cast<long>(r->auxdata[0].time_last));
      out.push_back(r->key + buf);
    }
    return out;
  }

  ScratchDir dir_;
  std::vector<std::string> keys_;
  std::map<std::string, Obs> truth_;
  std::vector<TgdbRef> indexes_;
};

TEST_F(SearchDifferentialTest, RegexResultsEqualABruteForceScan) {
  const char* exprs[] = {"mail",       "^www\\.",       "\\.com$",      "(shop|api)\\.",
                         "e[a-c]",     "x-?ray",        "^[a-z]{3}\\.", "ab.*de",
                         "^a\\.io$",   "[0-9]+",        "qqqq",         "s.o",
                         "^(m0|qa)",   "dev(ex)?ample", "z_z\\.(net|org)$", ".",
                         // Table scans in blocks: matches that would only exist across
                         // the key's tab or in the annotation, anchors at line ends.
                         "com.4",      "[0-9a-f]{3}",   "o$",           "^$",
                         "4:",         ".*",            "^[a-z.]+$",    "[a-z]{6,}"};
  size_t total = 0;
  for (const char* e : exprs) {
    for (int64_t last_after : {0, 1500, 1990}) {
      SCOPED_TRACE(std::string(e) + " last_after " + std::to_string(last_after));
      const std::regex re(e, std::regex::icase | std::regex::extended);
      const std::vector<std::string> want = expected(re, last_after);
      total += want.size();
      EXPECT_EQ(searched(e, false, last_after), want);
    }
  }
  EXPECT_GT(total, 1000u);  // the comparison is not vacuous
}

// The intersection budget leaves long reference lists of an intersection to the matcher;
// what the search finds must not change. Long literals mixing rare and common trigrams,
// with alternations inside and around them, make it leave lists out.
TEST_F(SearchDifferentialTest, IntersectionBudgetKeepsTheResults) {
  const char* exprs[] = {"shop\\.?api\\.com",  "mailwww",          "ex\\.?ample\\.(net|org)",
                         "x-ray\\.?ns1",         "cdn.*abcde\\.io$", "(qa|dev)\\.?m0\\.?z_z",
                         "www\\.ample",          "b2b\\.?(shop|mail)\\.net$", "ampleex",
                         "^(mail|www)\\.?a\\.com$", "api\\.?cdn\\.org",  "devdev",
                         "(www|mail)\\.?(shop|api)", "ns1\\.?(cdn|dev)\\.", "ample\\.(com|net)$"};
  LogCapture log(LOG_DETAIL);
  size_t total = 0;
  for (const char* e : exprs) {
    for (int64_t last_after : {0, 1500}) {
      SCOPED_TRACE(std::string(e) + " last_after " + std::to_string(last_after));
      const std::regex re(e, std::regex::icase | std::regex::extended);
      const std::vector<std::string> want = expected(re, last_after);
      total += want.size();
      EXPECT_EQ(searched(e, false, last_after, nullptr, true), want);
    }
  }
  EXPECT_TRUE(log.contains("over the budget")) << "the budget never left a list out";
  EXPECT_GT(total, 50u) << total;
}

TEST_F(SearchDifferentialTest, GlobResultsEqualABruteForceScan) {
  const std::pair<const char*, const char*> globs[] = {
      {"*.com", "^.*\\.com$"},         {"www*", "^www.*$"},   {"*mail*", "^.*mail.*$"},
      {"?.io", "^.\\.io$"},            {"*[0-9]*", "^.*[0-9].*$"},
      {"shop.*.net", "^shop\\..*\\.net$"}};
  for (const auto& [glob, regex] : globs) {
    SCOPED_TRACE(glob);
    const std::regex re(regex, std::regex::icase | std::regex::extended);
    EXPECT_EQ(searched(glob, true, 0), expected(re, 0));
  }
}

TEST_F(SearchDifferentialTest, ExclusionAppliesToLinesAScanConfirmed) {
  const std::pair<const char*, const char*> cases[] = {
      {".*", "\\.com$"}, {"^[a-z.]+$", "^(www|mail)"}, {"o", "[0-9]"}, {"e[a-c]", "ex"}};
  for (const auto& [expr, exclude] : cases) {
    SCOPED_TRACE(std::string(expr) + " excluding " + exclude);
    const std::regex re(expr, std::regex::icase | std::regex::extended);
    const std::regex ex(exclude, std::regex::icase | std::regex::extended);
    EXPECT_EQ(searched(expr, false, 0, exclude), expected(re, 0, &ex));
  }
}

TEST(SearchContextCompileTest, CompileAndExclusionDecideMatches) {
  search_context ctx;
  std::string error;
  ASSERT_TRUE(ctx.compile("mail\\.", false, &error)) << error;
  EXPECT_NE(ctx.query(), nullptr);
  EXPECT_FALSE(ctx.pattern_text().empty());
  EXPECT_TRUE(ctx.match("MAIL.example.com", 16));
  EXPECT_FALSE(ctx.match("www.example.com", 15));
  ASSERT_TRUE(ctx.compile_exclusion("*.net", true, &error)) << error;
  EXPECT_TRUE(ctx.match("mail.example.com", 16));
  EXPECT_FALSE(ctx.match("mail.example.net", 16));

  search_context broad;
  ASSERT_TRUE(broad.compile(".*", false, &error));
  EXPECT_EQ(broad.query(), nullptr);  // no trigram filter: table scan

  search_context bad;
  error.clear();
  EXPECT_FALSE(bad.compile("(abc", false, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(bad.compile_exclusion("[z-a]", false, &error));
}

}  // namespace
}  // namespace quarn
