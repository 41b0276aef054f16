// Union and intersection of line-number iterators.
//
// The union is a lazy k-way merge over a min-heap of children keyed by their estimates:
// only the top child is ever moved, so the other children's estimates (and the heap
// order) stay valid between calls. The intersection leapfrogs: every child is sought to
// the highest candidate so far, so values present in only some children are skipped by
// the children's own seeks. Its results do not depend on its heap order, since each
// pass visits every child; the top only decides which child a seek moves first.
#include "index/n_iter.h"

#include <utility>

namespace quarn {

bool n_iter_next(n_iter& it, uint64_t* value) {
  if (!it.get(value)) return false;
  it.seek(*value + 1);
  return true;
}

int n_iter_est_less::operator()(const std::unique_ptr<n_iter>& a,
                                const std::unique_ptr<n_iter>& b) const {
  uint64_t x = 0;
  uint64_t y = 0;
  const bool live_a = a->est(&x);
  const bool live_b = b->est(&y);
  // A used-up child is ordered after the live ones. Calling it equal to everything
  // would make the order inconsistent, and a union could then raise its lower bound
  // past values of a live child hidden below the dry one.
  if (!live_a || !live_b) return static_cast<int>(live_b) - static_cast<int>(live_a);
  return x < y ? -1 : (x > y ? 1 : 0);
}

// ---------------------------------------------------------------------------------
// union_iter

union_iter::~union_iter() {
  for (auto& child : children_.items()) child.reset();
}

std::unique_ptr<n_iter> union_iter::finish(std::unique_ptr<union_iter> node) {
  if (node->children_.size() == 1) return std::move(*node->children_.get(0));
  node->children_.heapify();
  return node;
}

void union_iter::remove_top() { children_.pop(); }  // the popped child is destroyed here

void union_iter::seek(uint64_t target) {
  if (current_ < target) {
    current_ = target;
    found_ = false;
  }
}

bool union_iter::est(uint64_t* value) {
  *value = current_;
  return !children_.empty();
}

bool union_iter::get(uint64_t* value) {
  if (found_) {
    *value = current_;
    return !children_.empty();
  }
  while (!children_.empty()) {
    n_iter& c = **children_.peek();
    uint64_t v = 0;
    if (!c.est(&v)) {
      remove_top();
      continue;
    }
    // The top has the least estimate, so nothing below it remains in any child.
    if (v > current_) current_ = v;
    c.seek(current_);
    if (!c.est(&v)) {
      remove_top();
      continue;
    }
    if (v > current_) {
      children_.siftup(0);
      continue;
    }
    if (!c.get(&v)) {
      remove_top();
      continue;
    }
    if (v == current_) {
      found_ = true;
      *value = current_;
      return true;
    }
    children_.siftup(0);
  }
  return false;
}

// ---------------------------------------------------------------------------------
// intersect_iter

intersect_iter::~intersect_iter() {
  for (auto& child : children_.items()) child.reset();
}

std::unique_ptr<n_iter> intersect_iter::finish(std::unique_ptr<intersect_iter> node) {
  if (node->children_.size() == 1) return std::move(*node->children_.get(0));
  if (node->children_.empty()) node->finished_ = true;
  node->children_.heapify();
  return node;
}

void intersect_iter::seek(uint64_t target) {
  if (finished_ || current_ >= target) return;
  found_ = false;
  if (children_.empty()) {  // only reachable for a node driven without finish()
    finished_ = true;
    return;
  }
  n_iter& top = **children_.peek();
  top.seek(target);
  uint64_t v = 0;
  if (!top.est(&v)) {
    finished_ = true;
    return;
  }
  // An estimate is only a lower bound; never let the candidate fall below the target,
  // or the children not yet sought could yield values the caller skipped.
  current_ = v > target ? v : target;
}

bool intersect_iter::est(uint64_t* value) {
  *value = current_;
  return !finished_;
}

bool intersect_iter::run_pass(Pass pass) {
  const size_t n = children_.size();
  for (size_t i = 0; i < n; ++i) {
    n_iter& c = **children_.get(i);
    uint64_t v = current_;
    bool ok;
    if (pass == Pass::kSeekEstimate) {
      c.seek(v);
      ok = c.est(&v);
    } else {
      ok = c.get(&v);
    }
    if (!ok) {
      finished_ = true;
      return false;
    }
    if (v > current_) {
      current_ = v;
      children_.siftup(i);
      return false;
    }
  }
  return true;
}

bool intersect_iter::get(uint64_t* value) {
  if (children_.empty()) finished_ = true;
  while (!found_ && !finished_) {
    if (run_pass(Pass::kSeekEstimate) && run_pass(Pass::kGet)) found_ = true;
  }
  *value = current_;
  return !finished_;
}

}  // namespace quarn
