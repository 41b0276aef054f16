#include "common/heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <vector>

namespace quarn {
namespace {

struct IntCmp {
  int operator()(int a, int b) const { return a < b ? -1 : (a > b ? 1 : 0); }
};
using IntHeap = heap<int, IntCmp>;

// Every non-root item compares not less than its parent.
void expect_heap_order(const IntHeap& h) {
  const auto& v = h.items();
  for (size_t i = 1; i < v.size(); ++i) ASSERT_LE(v[(i - 1) / 2], v[i]) << "position " << i;
}

TEST(Heap, EmptyAndSingleItemEdges) {
  IntHeap h;
  EXPECT_EQ(h.peek(), nullptr);
  EXPECT_FALSE(h.pop().has_value());
  // replace on an empty heap returns nothing and inserts nothing.
  EXPECT_FALSE(h.replace(5).has_value());
  EXPECT_EQ(h.size(), 0u);
  h.push(7);
  EXPECT_EQ(h.get(1), nullptr);
  auto one = h.pop();
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(*one, 7);
  EXPECT_TRUE(h.empty());
}

TEST(Heap, HeapifyDescendingPutsLeastOnTop) {
  IntHeap h;
  for (int i = 20; i > 0; --i) h.append(i);
  h.heapify();
  EXPECT_EQ(*h.peek(), 1);
  expect_heap_order(h);
}

TEST(Heap, RandomOperationsKeepOrderAndDrainSorted) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 50; ++round) {
    IntHeap h;
    std::multiset<int> model;
    for (int op = 0; op < 300; ++op) {
      const int kind = static_cast<int>(rng() % 4);
      const int value = static_cast<int>(rng() % 100);
      if (kind == 0 || model.empty()) {
        h.push(value);
        model.insert(value);
      } else if (kind == 1) {
        auto top = h.pop();
        ASSERT_TRUE(top.has_value());
        ASSERT_EQ(*top, *model.begin());
        model.erase(model.begin());
      } else if (kind == 2) {
        auto top = h.replace(value);
        ASSERT_TRUE(top.has_value());
        ASSERT_EQ(*top, *model.begin());
        model.erase(model.begin());
        model.insert(value);
      } else {
        // Change the top in place, then restore order from the top.
        *h.peek() = value;
        h.siftup(0);
        model.erase(model.begin());
        model.insert(value);
      }
      ASSERT_EQ(h.size(), model.size());
      if (!model.empty()) {
        ASSERT_EQ(*h.peek(), *model.begin());
      }
      expect_heap_order(h);
    }
    std::vector<int> drained;
    while (auto v = h.pop()) drained.push_back(*v);
    EXPECT_TRUE(std::is_sorted(drained.begin(), drained.end()));
    EXPECT_EQ(drained.size(), model.size());
  }
}

TEST(Heap, MoveOnlyItemsAreOwned) {
  struct PtrCmp {
    int operator()(const std::unique_ptr<int>& a, const std::unique_ptr<int>& b) const {
      return *a - *b;
    }
  };
  heap<std::unique_ptr<int>, PtrCmp> h;
  for (int v : {5, 3, 9, 1}) h.push(std::make_unique<int>(v));
  auto top = h.pop();
  ASSERT_TRUE(top.has_value());
  EXPECT_EQ(**top, 1);
  auto old = h.replace(std::make_unique<int>(10));
  EXPECT_EQ(**old, 3);
  EXPECT_EQ(**h.peek(), 5);
}

}  // namespace
}  // namespace quarn
