#include "index/n_iter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

namespace quarn {
namespace {

// Leaf over a sorted vector. With lazy estimates, seek only records the target and est
// reports the target (a valid lower bound) until get does the work, as the reference-
// list trackers may; with eager estimates est is exact.
class VecIter : public n_iter {
 public:
  VecIter(std::vector<uint64_t> values, bool lazy) : values_(std::move(values)), lazy_(lazy) {}

  void seek(uint64_t target) override {
    if (target <= target_) return;
    target_ = target;
    if (lazy_) {
      settled_ = false;
    } else {
      settle();
    }
  }
  bool get(uint64_t* value) override {
    settle();
    if (pos_ >= values_.size()) return false;
    *value = values_[pos_];
    return true;
  }
  bool est(uint64_t* value) override {
    if (!settled_) {
      *value = target_;
      return pos_ < values_.size();
    }
    if (pos_ >= values_.size()) return false;
    *value = values_[pos_];
    return true;
  }

 private:
  void settle() {
    while (pos_ < values_.size() && values_[pos_] < target_) ++pos_;
    settled_ = true;
  }

  std::vector<uint64_t> values_;
  bool lazy_;
  size_t pos_ = 0;
  uint64_t target_ = 0;
  bool settled_ = true;
};

std::unique_ptr<n_iter> leaf(std::vector<uint64_t> v, bool lazy = false) {
  return std::make_unique<VecIter>(std::move(v), lazy);
}

std::vector<uint64_t> drain(n_iter& it) {
  std::vector<uint64_t> out;
  uint64_t v = 0;
  while (n_iter_next(it, &v)) out.push_back(v);
  return out;
}

std::unique_ptr<n_iter> make_union(std::vector<std::unique_ptr<n_iter>> kids) {
  auto node = union_iter_new();
  for (auto& k : kids) union_iter_add(*node, std::move(k));
  return union_iter_finish(std::move(node));
}

std::unique_ptr<n_iter> make_intersection(std::vector<std::unique_ptr<n_iter>> kids) {
  auto node = intersect_iter_new();
  for (auto& k : kids) intersect_iter_add(*node, std::move(k));
  return intersect_iter_finish(std::move(node));
}

template <typename... L>
std::vector<std::unique_ptr<n_iter>> kids(L&&... leaves) {
  std::vector<std::unique_ptr<n_iter>> v;
  (v.push_back(std::forward<L>(leaves)), ...);
  return v;
}

TEST(NIter, SmallUnionAndIntersection) {
  auto u = make_union(kids(leaf({1, 4, 7}), leaf({4, 5})));
  EXPECT_EQ(drain(*u), (std::vector<uint64_t>{1, 4, 5, 7}));

  auto i = make_intersection(kids(leaf({1, 4, 7, 9}), leaf({4, 5, 9, 10})));
  EXPECT_EQ(drain(*i), (std::vector<uint64_t>{4, 9}));
  uint64_t v = 0;
  EXPECT_FALSE(i->get(&v));  // exhaustion is sticky
  EXPECT_FALSE(i->est(&v));
}

TEST(NIter, EmptyChildrenAndNodes) {
  auto i = make_intersection(kids(leaf({}), leaf({1, 2, 3})));
  EXPECT_TRUE(drain(*i).empty());
  auto none = make_intersection({});
  EXPECT_TRUE(drain(*none).empty());
  auto u0 = make_union({});
  EXPECT_TRUE(drain(*u0).empty());
  // An empty child must not hide values of the others, wherever the heap puts it.
  auto u = make_union(kids(leaf({5, 6}), leaf({}), leaf({1, 9}), leaf({}), leaf({2})));
  EXPECT_EQ(drain(*u), (std::vector<uint64_t>{1, 2, 5, 6, 9}));
}

TEST(NIter, FinishingOneChildReturnsTheChild) {
  auto child = leaf({3, 8});
  n_iter* raw = child.get();
  auto node = union_iter_new();
  union_iter_add(*node, std::move(child));
  auto it = union_iter_finish(std::move(node));
  EXPECT_EQ(it.get(), raw);
  auto inode = intersect_iter_new();
  intersect_iter_add(*inode, std::move(it));
  auto it2 = intersect_iter_finish(std::move(inode));
  EXPECT_EQ(it2.get(), raw);
  EXPECT_EQ(drain(*it2), (std::vector<uint64_t>{3, 8}));
}

std::vector<uint64_t> random_set(std::mt19937& rng, uint64_t range) {
  std::vector<uint64_t> v;
  const uint64_t density = rng() % 4;  // 0 gives an empty set now and then
  for (uint64_t x = 0; x < range; ++x)
    if (density != 0 && rng() % (density * 3) == 0) v.push_back(x);
  return v;
}

std::vector<uint64_t> set_union(const std::vector<std::vector<uint64_t>>& sets) {
  std::vector<uint64_t> acc;
  for (const auto& s : sets) {
    std::vector<uint64_t> next;
    std::set_union(acc.begin(), acc.end(), s.begin(), s.end(), std::back_inserter(next));
    acc.swap(next);
  }
  return acc;
}

std::vector<uint64_t> set_intersection(const std::vector<std::vector<uint64_t>>& sets) {
  if (sets.empty()) return {};
  std::vector<uint64_t> acc = sets[0];
  for (size_t k = 1; k < sets.size(); ++k) {
    std::vector<uint64_t> next;
    std::set_intersection(acc.begin(), acc.end(), sets[k].begin(), sets[k].end(),
                          std::back_inserter(next));
    acc.swap(next);
  }
  return acc;
}

// A random tree (union and intersection nodes over random leaves) with its expected
// value set, built side by side.
std::unique_ptr<n_iter> random_tree(std::mt19937& rng, int depth,
                                    std::vector<uint64_t>* expected) {
  if (depth == 0 || rng() % 3 == 0) {
    *expected = random_set(rng, 200);
    return leaf(*expected, rng() % 2 == 0);
  }
  const size_t n = 1 + rng() % 4;
  std::vector<std::vector<uint64_t>> sets(n);
  std::vector<std::unique_ptr<n_iter>> children;
  for (size_t k = 0; k < n; ++k) children.push_back(random_tree(rng, depth - 1, &sets[k]));
  if (rng() % 2 == 0) {
    *expected = set_union(sets);
    return make_union(std::move(children));
  }
  *expected = set_intersection(sets);
  return make_intersection(std::move(children));
}

TEST(NIter, RandomTreesMatchStandardSetAlgorithms) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 400; ++round) {
    std::vector<uint64_t> expected;
    auto it = random_tree(rng, 3, &expected);
    ASSERT_EQ(drain(*it), expected) << "round " << round;
  }
}

TEST(NIter, RandomSeeksGiveFirstValueAtOrPastTarget) {
  std::mt19937 rng(77);
  for (int round = 0; round < 400; ++round) {
    std::vector<uint64_t> expected;
    auto it = random_tree(rng, 3, &expected);
    uint64_t target = 0;
    while (true) {
      target += rng() % 25;
      it->seek(target);
      uint64_t est = 0;
      const bool has_est = it->est(&est);
      uint64_t v = 0;
      const bool has = it->get(&v);
      auto want = std::lower_bound(expected.begin(), expected.end(), target);
      if (want == expected.end()) {
        ASSERT_FALSE(has) << "round " << round << " target " << target;
        break;
      }
      ASSERT_TRUE(has) << "round " << round << " target " << target;
      ASSERT_EQ(v, *want) << "round " << round << " target " << target;
      // The estimate before get was a lower bound of the exact value.
      ASSERT_TRUE(has_est);
      ASSERT_LE(est, v);
      // get is repeatable without a seek in between.
      uint64_t again = 0;
      ASSERT_TRUE(it->get(&again));
      ASSERT_EQ(again, v);
    }
  }
}

}  // namespace
}  // namespace quarn
