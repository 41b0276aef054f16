// Iterators over ascending sequences of line numbers, and the two nodes that combine
// them: union_iter (every value any child yields) and intersect_iter (every value all
// children yield). Query evaluation builds a tree of these over reference-list trackers.
//
// Contract of an n_iter over an ascending sequence without repeats:
//  - seek(t): values below t are skipped. Cheap; may defer the work to get. Seeking
//    backwards (t at or below an earlier target) changes nothing.
//  - get(&v): false when the sequence is used up (an explicit, sticky state); otherwise
//    true and v = the least remaining value not below the last seek target, exactly.
//  - est(&v): false when the sequence is known to be used up; otherwise true and v = a
//    lower bound of what get would give, without extra work. After seek(t), a true est
//    gives v >= t, and after get gave v, est gives v until the next seek (the union
//    relies on this to reorder a child that get moved forward).
// n_iter_next(it, &v) is get followed by seek(v + 1): the way to walk every value.
// Values are line numbers and stay far below UINT64_MAX, which has no successor to
// seek to; leaves must not yield it.
//
// Building a node (bottom-up): union_iter_new / intersect_iter_new, add children with
// union_iter_add / intersect_iter_add, then union_iter_finish / intersect_iter_finish,
// which consumes the node and returns the iterator to use: the only child itself when
// there is exactly one, otherwise the node. After finishing, drive the tree only through
// the returned n_iter.
//
// Ownership: every node owns its children (unique_ptr); destroying the root frees the
// whole tree, leaves included. Single-threaded.
//
// Failure results: a child whose est or get fails is treated as used up; a union drops
// it, an intersection is finished as soon as any child runs dry. An intersection
// without children yields nothing; a union without children yields nothing.
#pragma once

#include <cstdint>
#include <memory>

#include "common/heap.h"

namespace quarn {

class n_iter {
 public:
  virtual ~n_iter() = default;
  virtual void seek(uint64_t target) = 0;
  virtual bool get(uint64_t* value) = 0;
  virtual bool est(uint64_t* value) = 0;
};

// get, then seek past the value it gave; returns get's result.
bool n_iter_next(n_iter& it, uint64_t* value);

// Orders children by estimate ascending; a child that knows it is used up sorts after
// every live child, so that a dry child can never shadow a live one below it.
struct n_iter_est_less {
  int operator()(const std::unique_ptr<n_iter>& a, const std::unique_ptr<n_iter>& b) const;
};
// The reverse order: greatest estimate on top (used by intersections).
struct n_iter_est_greater {
  int operator()(const std::unique_ptr<n_iter>& a, const std::unique_ptr<n_iter>& b) const {
    return n_iter_est_less()(b, a);
  }
};

// Lazy k-way merge: current is a lower bound of the next value; found says it is one.
class union_iter final : public n_iter {
 public:
  union_iter() = default;
  ~union_iter() override;
  union_iter(const union_iter&) = delete;
  union_iter& operator=(const union_iter&) = delete;

  void add(std::unique_ptr<n_iter> child) { children_.append(std::move(child)); }
  size_t child_count() const { return children_.size(); }

  void seek(uint64_t target) override;
  bool get(uint64_t* value) override;
  bool est(uint64_t* value) override;

  // Consumes the node: its only child when it has exactly one, else the ordered node.
  static std::unique_ptr<n_iter> finish(std::unique_ptr<union_iter> node);

 private:
  void remove_top();

  uint64_t current_ = 0;
  bool found_ = false;
  heap<std::unique_ptr<n_iter>, n_iter_est_less> children_;
};

// Leapfrog intersection: every child is sought to the highest candidate so far.
class intersect_iter final : public n_iter {
 public:
  intersect_iter() = default;
  ~intersect_iter() override;
  intersect_iter(const intersect_iter&) = delete;
  intersect_iter& operator=(const intersect_iter&) = delete;

  void add(std::unique_ptr<n_iter> child) { children_.append(std::move(child)); }
  size_t child_count() const { return children_.size(); }

  void seek(uint64_t target) override;
  bool get(uint64_t* value) override;
  bool est(uint64_t* value) override;

  static std::unique_ptr<n_iter> finish(std::unique_ptr<intersect_iter> node);

 private:
  enum class Pass { kSeekEstimate, kGet };
  bool run_pass(Pass pass);

  uint64_t current_ = 0;
  bool found_ = false;
  bool finished_ = false;
  heap<std::unique_ptr<n_iter>, n_iter_est_greater> children_;
};

// Builder functions under the names the planner and tracker code use.
inline std::unique_ptr<union_iter> union_iter_new() { return std::make_unique<union_iter>(); }
inline void union_iter_add(union_iter& node, std::unique_ptr<n_iter> child) {
  node.add(std::move(child));
}
inline std::unique_ptr<n_iter> union_iter_finish(std::unique_ptr<union_iter> node) {
  return union_iter::finish(std::move(node));
}
inline std::unique_ptr<intersect_iter> intersect_iter_new() {
  return std::make_unique<intersect_iter>();
}
inline void intersect_iter_add(intersect_iter& node, std::unique_ptr<n_iter> child) {
  node.add(std::move(child));
}
inline std::unique_ptr<n_iter> intersect_iter_finish(std::unique_ptr<intersect_iter> node) {
  return intersect_iter::finish(std::move(node));
}

}  // namespace quarn
