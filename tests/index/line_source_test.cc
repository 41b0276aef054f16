// Candidate-line sources: query iterators built from trigram trees (against a
// brute-force trigram check of every line), the error-flag rules, the table scan, and
// lists that disagree with their string table.
#include "index/line_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "index/crafted_index.h"
#include "index/n_iter.h"
#include "index/name_order.h"
#include "index/tgdb.h"
#include "index/tracker_messages.h"
#include "planner/tgr_result.h"
#include "retrieval/search_context.h"

namespace quarn {
namespace {

using testing::LogCapture;
using testing::ScratchDir;

std::set<uint32_t> trigrams_of(const std::string& key) {
  const std::string padded = "^^" + key + "^^";
  std::set<uint32_t> out;
  for (size_t i = 0; i + 2 < padded.size(); ++i)
    out.insert(trigram_ordinal(padded[i], padded[i + 1], padded[i + 2]));
  return out;
}

uint32_t tri(const char* t) { return trigram_ordinal(t[0], t[1], t[2]); }

tgr_ptr trigrams(std::initializer_list<const char*> list) {
  auto node = std::make_unique<tgr_result>(TGR_INTERSECT_TRIGRAMS);
  for (const char* t : list) node->trigrams.push_back(tri(t));
  return node;
}

tgr_ptr node_of(tgr_op op, std::vector<tgr_ptr> children) {
  auto node = std::make_unique<tgr_result>(op);
  node->children = std::move(children);
  return node;
}

class LineSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(7);
    const char* words[] = {"mail", "www", "example", "shop", "api", "cdn", "test", "exam",
                           "ample", "foo", "bar", "x-ray", "ns1", "a"};
    const char* tlds[] = {"com", "net", "org", "de"};
    std::set<std::string> names;
    while (names.size() < 300) {
      std::string n = words[rng() % 14];
      if (rng() % 2) n += std::string(".") + words[rng() % 14];
      n += std::string(".") + tlds[rng() % 4];
      names.insert(n);
    }
    keys_.assign(names.begin(), names.end());
    std::sort(keys_.begin(), keys_.end(),
              [](const std::string& a, const std::string& b) { return name_order(a, b) < 0; });
    for (const std::string& k : keys_) text_ += k + "\t4:5e0be100:1\n";
    path_ = dir_.file("names.idx");
    testing::write_index(path_, text_);
    index_ = tgdb_load(path_);
    ASSERT_TRUE(index_);
  }

  // Every line a source yields, as key texts.
  static std::vector<std::string> drain(line_source& src) {
    std::vector<std::string> out;
    const char* line;
    size_t len;
    while (src.next(&line, &len)) {
      std::string l(line, len);
      out.push_back(l.substr(0, l.find('\t')));
    }
    return out;
  }

  // Keys whose trigrams satisfy a predicate over their trigram set.
  template <typename Pred>
  std::vector<std::string> brute(Pred pred) const {
    std::vector<std::string> out;
    for (const std::string& k : keys_)
      if (pred(trigrams_of(k))) out.push_back(k);
    return out;
  }

  ScratchDir dir_;
  std::vector<std::string> keys_;
  std::string text_;
  std::string path_;
  TgdbRef index_;
};

TEST_F(LineSourceTest, TableScanYieldsEveryLineOnceInFileOrder) {
  search_context ctx;
  bool error = true;
  auto src = line_source::create(index_.get(), ctx, &error);
  ASSERT_TRUE(src);
  EXPECT_FALSE(error);
  EXPECT_EQ(drain(*src), keys_);
  const char* line;
  size_t len;
  EXPECT_FALSE(src->next(&line, &len));  // stays exhausted
}

TEST_F(LineSourceTest, QueryTreesAgreeWithBruteForce) {
  struct Case {
    const char* name;
    tgr_ptr query;
    std::function<bool(const std::set<uint32_t>&)> pred;
  };
  auto has = [](const std::set<uint32_t>& s, const char* t) { return s.count(tri(t)) > 0; };
  std::vector<Case> cases;
  cases.push_back({"intersection", trigrams({"exa", "amp"}),
                   [&](auto& s) { return has(s, "exa") && has(s, "amp"); }});
  {
    std::vector<tgr_ptr> kids;
    kids.push_back(trigrams({"mai"}));
    kids.push_back(trigrams({"sho", "hop"}));
    cases.push_back({"union", node_of(TGR_UNION, std::move(kids)),
                     [&](auto& s) { return has(s, "mai") || (has(s, "sho") && has(s, "hop")); }});
  }
  {
    std::vector<tgr_ptr> alt;
    alt.push_back(trigrams({"com"}));
    alt.push_back(trigrams({"net"}));
    std::vector<tgr_ptr> kids;
    kids.push_back(trigrams({"^^w"}));
    kids.push_back(node_of(TGR_UNION, std::move(alt)));
    cases.push_back({"intersection of children", node_of(TGR_INTERSECT_CHILDREN, std::move(kids)),
                     [&](auto& s) { return has(s, "^^w") && (has(s, "com") || has(s, "net")); }});
  }
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    search_context ctx;
    ctx.set_query(std::move(c.query));
    bool error = true;
    auto src = line_source::create(index_.get(), ctx, &error);
    ASSERT_TRUE(src);
    EXPECT_FALSE(error);
    const std::vector<std::string> expected = brute(c.pred);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(drain(*src), expected);
    EXPECT_GT(ctx.counters().lists_opened, 0u);
    EXPECT_GT(ctx.counters().seeks, 0u);
  }
}

// A query whose lists admit most lines is answered by reading the table in order: the
// same lines (every one, since each satisfies the query), no list is opened. Under an
// intersection with a trigram that occurs nowhere the query still admits nothing.
TEST_F(LineSourceTest, QueryAdmittingMostLinesScansTheTable) {
  auto every_tld = [] {
    std::vector<tgr_ptr> kids;
    for (const char* t : {"com", "net", "org", ".de"}) kids.push_back(trigrams({t}));
    return node_of(TGR_UNION, std::move(kids));
  };
  {
    search_context ctx;
    LogCapture log(LOG_DETAIL);
    ctx.set_query(every_tld());
    bool error = true;
    auto src = line_source::create(index_.get(), ctx, &error);
    ASSERT_TRUE(src);
    EXPECT_FALSE(error);
    EXPECT_EQ(drain(*src), keys_);
    EXPECT_EQ(ctx.counters().lists_opened, 0u);
    EXPECT_TRUE(log.contains("scanning the table instead"));
  }
  {
    search_context ctx;
    std::vector<tgr_ptr> kids;
    kids.push_back(every_tld());
    kids.push_back(trigrams({"qqq"}));
    ctx.set_query(node_of(TGR_INTERSECT_CHILDREN, std::move(kids)));
    bool error = true;
    EXPECT_EQ(line_source::create(index_.get(), ctx, &error), nullptr);
    EXPECT_FALSE(error);
  }
}

// An intersection does not walk a wide union that admits many times the lines of its
// sparsest child: it yields that child's lines, a superset of what the whole query
// admits, which the search's matcher narrows. A narrow union is still walked.
TEST_F(LineSourceTest, WideDenseUnionUnderAnIntersectionIsLeftToTheMatcher) {
  // Common trigrams, but not of every name: "shop.com" or "shop.foo.net" has none.
  const char* dense[] = {"^^m", "^^a", "^^e", "^^f", "^^b", "^^t", "^^c", "^^x", "^^n",
                         "exa", "amp", "mpl", "ple", "xam", "api", "cdn", "tes", "ray"};
  auto has = [](const std::set<uint32_t>& s, const char* t) { return s.count(tri(t)) > 0; };
  auto query = [&](size_t width) {
    std::vector<tgr_ptr> members;
    for (size_t i = 0; i < width; ++i) members.push_back(trigrams({dense[i]}));
    std::vector<tgr_ptr> kids;
    kids.push_back(trigrams({"sho", "hop"}));
    kids.push_back(node_of(TGR_UNION, std::move(members)));
    return node_of(TGR_INTERSECT_CHILDREN, std::move(kids));
  };
  auto admitted = [&](size_t width) {
    return brute([&](const std::set<uint32_t>& s) {  // what the whole query admits
      if (!has(s, "sho") || !has(s, "hop")) return false;
      for (size_t i = 0; i < width; ++i)
        if (has(s, dense[i])) return true;
      return false;
    });
  };
  const auto shop = brute([&](const auto& s) { return has(s, "sho") && has(s, "hop"); });
  {
    // 18 members: left out, so every line with "shop" comes back, also those that the
    // union would have kept out.
    ASSERT_LT(admitted(18).size(), shop.size());
    search_context ctx;
    LogCapture log(LOG_DETAIL);
    ctx.set_query(query(18));
    bool error = true;
    auto src = line_source::create(index_.get(), ctx, &error);
    ASSERT_TRUE(src);
    EXPECT_EQ(drain(*src), shop);
    EXPECT_TRUE(log.contains("left to the matcher"));
  }
  {
    // Narrow (two members, "^^x" and "^^n" lines only): walked, exact.
    std::vector<tgr_ptr> members;
    members.push_back(trigrams({"^^x"}));
    members.push_back(trigrams({"^^n"}));
    std::vector<tgr_ptr> kids;
    kids.push_back(trigrams({"sho", "hop"}));
    kids.push_back(node_of(TGR_UNION, std::move(members)));
    search_context ctx;
    ctx.set_query(node_of(TGR_INTERSECT_CHILDREN, std::move(kids)));
    bool error = true;
    auto src = line_source::create(index_.get(), ctx, &error);
    ASSERT_TRUE(src);
    const auto want = brute([&](const auto& s) {
      return has(s, "sho") && has(s, "hop") && (has(s, "^^x") || has(s, "^^n"));
    });
    EXPECT_LT(want.size(), shop.size());
    EXPECT_EQ(drain(*src), want);
  }
}

TEST_F(LineSourceTest, EmptyTrigramMakesIntersectionEmptyAndUnionSkipsIt) {
  const uint32_t absent = tri("qqq");
  ASSERT_EQ(index_->nrefs(absent), 0u);
  search_context ctx;
  {
    LogCapture log(LOG_DEBUG);
    auto node = trigrams({"exa", "qqq"});
    bool error = true;
    EXPECT_EQ(build_query_iterator(index_.get(), ctx, node.get(), &error), nullptr);
    EXPECT_FALSE(error);
    EXPECT_TRUE(log.contains("Warning: could not add trigram to tracker (" +
                             std::to_string(absent) + ")!"));
    EXPECT_TRUE(log.contains("Warning: tracker was empty after fill (2 items)"));
  }
  {
    std::vector<tgr_ptr> kids;
    kids.push_back(trigrams({"exa", "qqq"}));
    kids.push_back(trigrams({"mai"}));
    auto node = node_of(TGR_UNION, std::move(kids));
    bool error = true;
    auto it = build_query_iterator(index_.get(), ctx, node.get(), &error);
    ASSERT_TRUE(it);
    EXPECT_FALSE(error);
    // The union collapses into the non-empty member's own iterator.
    std::vector<uint64_t> got;
    uint64_t v;
    while (n_iter_next(*it, &v)) got.push_back(v);
    std::vector<uint64_t> want;
    for (size_t i = 0; i < keys_.size(); ++i)
      if (trigrams_of(keys_[i]).count(tri("mai"))) want.push_back(i);
    EXPECT_EQ(got, want);
  }
}

TEST_F(LineSourceTest, DecodingErrorIsReportedThroughUnions) {
  index_.reset();
  testing::patch_list(path_, tri("mai"), {REF_END | 4, 9});
  index_ = tgdb_load(path_);
  ASSERT_TRUE(index_);
  search_context ctx;
  LogCapture log(LOG_DEBUG);
  std::vector<tgr_ptr> kids;
  kids.push_back(trigrams({"exa"}));
  kids.push_back(trigrams({"mai"}));
  ctx.set_query(node_of(TGR_UNION, std::move(kids)));
  bool error = false;
  EXPECT_EQ(line_source::create(index_.get(), ctx, &error), nullptr);
  EXPECT_TRUE(error);
  EXPECT_TRUE(log.contains("Error: could not update trigram tracker."));
  EXPECT_TRUE(log.contains("Error: trigram index reference contained bad start value"));
  EXPECT_TRUE(log.contains("Warning: could not add subtracker!"));
}

TEST_F(LineSourceTest, LineBeyondTheTableEndsTheSource) {
  index_.reset();
  testing::patch_list(path_, tri("exa"), {1, 2, 5000, 6000});
  index_ = tgdb_load(path_);
  ASSERT_TRUE(index_);
  search_context ctx;
  ctx.set_query(trigrams({"exa"}));
  LogCapture log(LOG_ERROR);
  bool error = true;
  auto src = line_source::create(index_.get(), ctx, &error);
  ASSERT_TRUE(src);
  EXPECT_EQ(drain(*src), (std::vector<std::string>{keys_[1], keys_[2]}));
  EXPECT_TRUE(log.contains("Error: line 5000 of " + path_ + " is past the end of its string table"));
}

TEST_F(LineSourceTest, SourceKeepsItsIndexAlive) {
  search_context ctx;
  bool error = false;
  Tgdb* raw = index_.get();
  auto src = line_source::create(raw, ctx, &error);
  ASSERT_TRUE(src);
  EXPECT_EQ(raw->ref_count(), 2u);
  index_.reset();  // the owner lets go; the source still reads
  EXPECT_EQ(drain(*src).size(), keys_.size());
  src.reset();  // last reference: unmapped (ASan would flag a leak or a double release)
}

}  // namespace
}  // namespace quarn
