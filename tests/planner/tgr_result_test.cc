#include "planner/tgr_result.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <random>
#include <string>

#include "common/trigram.h"
#include "support/log_capture.h"
#include "planner/tgr_eval.h"

namespace quarn {
namespace {

using testing::LogCapture;

uint32_t tg(const char* t) { return trigram_ordinal(t[0], t[1], t[2]); }

tgr_ptr tri(std::initializer_list<const char*> texts) {
  auto n = std::make_unique<tgr_result>(TGR_INTERSECT_TRIGRAMS);
  for (const char* t : texts) n->trigrams.push_back(tg(t));
  return n;
}

tgr_ptr node(tgr_op op, tgr_ptr a, tgr_ptr b = nullptr, tgr_ptr c = nullptr) {
  auto n = std::make_unique<tgr_result>(op);
  n->children.push_back(std::move(a));
  if (b) n->children.push_back(std::move(b));
  if (c) n->children.push_back(std::move(c));
  return n;
}

TEST(TgrResult, ConstructorsAndMerge) {
  auto u = tgr_new(TGR_UNION, 3, TGR_INTERSECT_TRIGRAMS, 2);
  ASSERT_EQ(u->children.size(), 3u);
  EXPECT_EQ(u->children[1]->trigrams.size(), 2u);
  EXPECT_EQ(tgr_new(TGR_UNION, 2)->children[0], nullptr);
  tgr_grow(u.get(), 2);
  EXPECT_EQ(u->size(), 5u);
  tgr_grow(nullptr, 3);  // accepted

  TrigramBitmap bits;
  bits.set(tg("xyz"));
  bits.set(tg("abc"));
  bits.set(0);
  EXPECT_EQ(tgr_to_text(tgr_from_bitmap(bits).get()), "{aaa abc xyz}");
  EXPECT_EQ(tgr_to_text(tgr_union_from_bitmap(bits).get()), "({aaa} | {abc} | {xyz})");

  auto a = tgr_from_bitmap(bits);
  TrigramBitmap other;
  other.set(tg("abc"));
  other.set(tg("bcd"));
  auto b = tgr_from_bitmap(other);
  auto m = tgr_merge_trigrams(a.get(), b.get());
  EXPECT_EQ(tgr_to_text(m.get()), "{aaa abc bcd xyz}");
  EXPECT_EQ(a->trigrams.size(), 3u);  // inputs untouched
  EXPECT_EQ(tgr_merge_trigrams(a.get(), u.get()), nullptr);
}

TEST(TgrResult, PrintFormat) {
  LogCapture cap(LOG_TRACE);
  log_set_prefix("p");
  auto t = std::make_unique<tgr_result>(TGR_INTERSECT_TRIGRAMS);
  t->trigrams = {0, 3403};
  tgr_print(t.get(), 0);
  EXPECT_EQ(cap.text(), "p: + TGR: 0=(1), # intersection[s] = 2 | 0(aaa) 3403(abc) \n");

  LogCapture cap2(LOG_TRACE);
  log_set_prefix("%s", "");
  auto u = node(TGR_UNION, tri({"abc"}), node(TGR_INTERSECT_CHILDREN, tri({"xyz"})));
  tgr_print(u.get(), 0);
  EXPECT_EQ(cap2.text(),
            "+ TGR: 0=(0), # union = 2\n"
            " + TGR: 0=(1), # intersection[s] = 1 | 3403(abc) \n"
            " + TGR: 0=(2), # intersection[c] = 1\n"
            "  + TGR: 0=(1), # intersection[s] = 1 | 43032(xyz) \n"
            "\n");
}

TEST(TgrOptimise, FactoringThenSecondPass) {
  // (abc & bcd) | (abc & xyz) -> abc & (bcd | xyz)
  LogCapture cap(LOG_DETAIL);
  auto q = tgr_remove_redundant(node(TGR_UNION, tri({"abc", "bcd"}), tri({"abc", "xyz"})));
  EXPECT_EQ(tgr_to_text(q.get()), "({abc} & ({bcd} | {xyz}))");

  // abc | (abc & xyz) -> abc, with the empty-difference warning at level 4.
  LogCapture cap2(LOG_DETAIL);
  q = tgr_remove_redundant(node(TGR_UNION, tri({"abc"}), tri({"abc", "xyz"})));
  EXPECT_EQ(tgr_to_text(q.get()), "{abc}");
  const std::string log = cap2.text();
  EXPECT_NE(log.find("Warning: intersection difference resulted in empty node!"), std::string::npos);
  EXPECT_NE(log.find("Collapsed an entire branch of 2 nodes."), std::string::npos);
  EXPECT_NE(log.find("Collapsed redundantly nested intersection pair."), std::string::npos);
}

// Factoring that only becomes possible in the second pass leaves emptied children; the
// optimiser keeps going until none is left, since an index walker reads an empty list as
// "no line" and would lose every match.
TEST(TgrOptimise, LateFactoringLeavesNoEmptyNodes) {
  log_set_level(LOG_FAILURE);
  auto inner = node(TGR_INTERSECT_CHILDREN, tri({"abc"}),
                    node(TGR_UNION, tri({"abc", "xyz"}), tri({"abc"})));
  auto q = tgr_remove_redundant(node(TGR_UNION, tri({"abc"}), std::move(inner)));
  EXPECT_EQ(tgr_to_text(q.get()), "{abc}");
}

TEST(TgrOptimise, RedundantTermsOfThreeChildren) {
  LogCapture cap(LOG_DETAIL);
  auto q = tgr_remove_redundant(
      node(TGR_UNION, tri({"abc"}), tri({"abc", "xyz"}), tri({"def"})));
  EXPECT_EQ(tgr_to_text(q.get()), "({abc} | {def})");
  EXPECT_NE(cap.text().find("Removed 1 of 3 items from redundant terms."), std::string::npos);
}

TEST(TgrOptimise, StructuralRules) {
  {
    // Empty intersection and all-collapsed union vanish: no filter.
    LogCapture cap(LOG_DETAIL);
    EXPECT_EQ(tgr_optimise(tri({})), nullptr);
    EXPECT_EQ(tgr_optimise(node(TGR_UNION, tri({}), tri({}))), nullptr);
    EXPECT_NE(cap.text().find("Collapsed an entire branch of 2 nodes."), std::string::npos);
  }
  {
    // A union with one unconstrained alternative is unconstrained; inside an
    // intersection it just drops out.
    LogCapture cap(LOG_DETAIL);
    auto q = tgr_optimise(node(TGR_INTERSECT_CHILDREN, tri({"abc"}),
                               node(TGR_UNION, tri({"xyz"}), tri({}))));
    EXPECT_EQ(tgr_to_text(q.get()), "{abc}");
    EXPECT_NE(cap.text().find("Removed 1 of 2 nodes from collapsed branch."), std::string::npos);
  }
  {
    // {abc} & union{xyz} -> one list (fold, merge, unwrap).
    LogCapture cap(LOG_DETAIL);
    auto q = tgr_optimise(node(TGR_INTERSECT_CHILDREN, tri({"abc"}), node(TGR_UNION, tri({"xyz"}))));
    EXPECT_EQ(tgr_to_text(q.get()), "{abc xyz}");
    const std::string log = cap.text();
    EXPECT_NE(log.find("Folded redundant child result up into parent."), std::string::npos);
    EXPECT_NE(log.find("Collapsed a total of 2 nested results in 2 nodes [2]."), std::string::npos);
  }
  {
    // Nested intersections flatten; duplicate trigrams merge once, first order kept.
    LogCapture cap(LOG_DETAIL);
    auto inner = node(TGR_INTERSECT_CHILDREN, tri({"xyz", "abc"}),
                      node(TGR_UNION, tri({"aaa"}), tri({"bbb"})));
    auto q = tgr_optimise(node(TGR_INTERSECT_CHILDREN, tri({"abc"}), std::move(inner)));
    EXPECT_EQ(tgr_to_text(q.get()), "({abc xyz} & ({aaa} | {bbb}))");
    const std::string log = cap.text();
    EXPECT_NE(log.find("Collapsed a total of 2 nested results in 1 nodes [1]."), std::string::npos);
    EXPECT_NE(log.find("Collapsed a total of 3 nested results in 2 nodes [2]."), std::string::npos);
  }
  {
    // A union of unions becomes one union of the grandchildren.
    LogCapture cap(LOG_DETAIL);
    auto q = tgr_optimise(node(TGR_UNION, node(TGR_UNION, tri({"aaa"}), tri({"bbb"})),
                               node(TGR_UNION, tri({"ccc"}), tri({"ddd"}))));
    EXPECT_EQ(tgr_to_text(q.get()), "({aaa} | {bbb} | {ccc} | {ddd})");
    EXPECT_NE(cap.text().find("Collapsed parent union of 2 union elements into one."),
              std::string::npos);
  }
  {
    // Empty slots and an empty union impose no condition.
    auto u = std::make_unique<tgr_result>(TGR_UNION);
    EXPECT_EQ(tgr_optimise(std::move(u)), nullptr);
    auto i = node(TGR_INTERSECT_CHILDREN, tri({"abc"}));
    i->children.push_back(nullptr);
    EXPECT_EQ(tgr_to_text(tgr_optimise(std::move(i)).get()), "{abc}");
  }
}

TEST(TgrEval, PaddedTrigramsDecide) {
  EXPECT_TRUE(tgr_matches_text(nullptr, "anything"));
  auto anchored = tri({"^^a", "^ab", "ab^", "b^^"});
  EXPECT_TRUE(tgr_matches_text(anchored.get(), "AB"));  // case folds
  EXPECT_FALSE(tgr_matches_text(anchored.get(), "abc"));
  // A '^' byte in the text shares the boundary symbol.
  EXPECT_TRUE(tgr_matches_text(tri({"a^b"}).get(), "a^b"));
  EXPECT_TRUE(tgr_matches_text(tri({"^^^"}).get(), ""));
  auto q = node(TGR_INTERSECT_CHILDREN, tri({"abc"}), node(TGR_UNION, tri({"xyz"}), tri({"a@b"})));
  EXPECT_TRUE(tgr_matches_text(q.get(), "abca!b"));
  EXPECT_FALSE(tgr_matches_text(q.get(), "abcab"));
  EXPECT_TRUE(tgr_matches_text(q.get(), "xyzabc"));
  // An empty union or empty slot imposes nothing.
  auto e = node(TGR_INTERSECT_CHILDREN, tri({"abc"}), std::make_unique<tgr_result>(TGR_UNION));
  EXPECT_TRUE(tgr_matches_text(e.get(), "abc"));
}

// The optimiser never loses a line: on random trees, every padded trigram set that
// satisfies the input satisfies the output.
TEST(TgrOptimise, NeverStrengthensRandomTrees) {
  log_set_level(LOG_FAILURE);
  std::mt19937_64 rng(7);
  const char alphabet[] = "abc";
  auto random_trigram = [&] {
    char t[3];
    for (char& c : t) c = alphabet[rng() % 3];
    return trigram_ordinal(t[0], t[1], t[2]);
  };
  std::function<tgr_ptr(int)> random_tree = [&](int depth) -> tgr_ptr {
    int kind = depth > 2 ? 0 : static_cast<int>(rng() % 3);
    if (kind == 0) {
      auto n = std::make_unique<tgr_result>(TGR_INTERSECT_TRIGRAMS);
      for (int i = 0, k = static_cast<int>(rng() % 4); i < k; ++i) n->trigrams.push_back(random_trigram());
      return n;
    }
    auto n = std::make_unique<tgr_result>(kind == 1 ? TGR_UNION : TGR_INTERSECT_CHILDREN);
    for (int i = 0, k = 1 + static_cast<int>(rng() % 3); i < k; ++i)
      n->children.push_back(random_tree(depth + 1));
    return n;
  };
  for (int round = 0; round < 3000; ++round) {
    tgr_ptr in = random_tree(0);
    tgr_ptr copy = tgr_clone(in.get());
    tgr_ptr out = tgr_remove_redundant(std::move(copy));
    for (int s = 0; s < 20; ++s) {
      std::string text;
      for (int i = 0, k = static_cast<int>(rng() % 8); i < k; ++i) text += alphabet[rng() % 3];
      if (!tgr_matches_text(in.get(), text)) continue;
      ASSERT_TRUE(tgr_matches_text(out.get(), text))
          << tgr_to_text(in.get()) << " -> " << tgr_to_text(out.get()) << " on " << text;
    }
  }
}

}  // namespace
}  // namespace quarn
