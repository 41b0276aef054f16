// Binary min-heap over a caller-supplied three-way comparator.
//
// The priority queue behind the union and intersection iterators (children ordered by
// their estimates), behind the record merger (one cursor per index, least key on top)
// and behind the builder's sorted-table merger (one source per run). Order of use:
// construct with a comparator; either push items one by one, or append them unordered
// and call heapify once; then peek / pop / replace, and call siftup(pos) after changing
// the item at pos in place (for example siftup(0) after the top item has advanced).
//
// Comparator: any callable cmp(const T&, const T&) returning an int that is negative,
// zero or positive. Extra arguments of a comparison are captured by the callable.
//
// Invariant (between calls, when the comparator is consistent): for every position i
// other than 0, cmp(item[i], item[(i - 1) / 2]) >= 0, so the top compares not greater
// than any other item.
//
// Ownership: the heap holds the items by value. With T = std::unique_ptr<X> it owns the
// pointees; with T = X* it does not. Items are moved, never copied, so move-only types
// work. pop and replace hand the removed item back to the caller.
//
// Out-of-range positions given to siftup / siftdown are programming errors and stop
// the program (QUARN_CHECK); get() of a position past the end gives nullptr.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "common/check.h"

namespace quarn {

template <typename T, typename Compare>
class heap {
 public:
  explicit heap(Compare cmp = Compare()) : cmp_(std::move(cmp)) {}

  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }

  // Appends and restores the order along the path to the top.
  void push(T item) {
    items_.push_back(std::move(item));
    siftdown(0, items_.size() - 1);
  }

  // Appends without ordering; heapify() must run before the next ordered operation.
  void append(T item) { items_.push_back(std::move(item)); }

  // Removes and returns the top; nullopt when empty.
  std::optional<T> pop() {
    if (items_.empty()) return std::nullopt;
    T last = std::move(items_.back());
    items_.pop_back();
    if (items_.empty()) return std::optional<T>(std::move(last));
    T top = std::move(items_[0]);
    items_[0] = std::move(last);
    siftup(0);
    return std::optional<T>(std::move(top));
  }

  // Returns the top and puts item in its place; on an empty heap returns nullopt and
  // does not insert item.
  std::optional<T> replace(T item) {
    if (items_.empty()) return std::nullopt;
    T top = std::move(items_[0]);
    items_[0] = std::move(item);
    siftup(0);
    return std::optional<T>(std::move(top));
  }

  // The top, or nullptr when empty. Changing it in place requires siftup(0) afterwards.
  T* peek() { return items_.empty() ? nullptr : &items_[0]; }
  const T* peek() const { return items_.empty() ? nullptr : &items_[0]; }

  // The item at array position i, or nullptr when i is not below size().
  T* get(size_t i) { return i < items_.size() ? &items_[i] : nullptr; }
  const T* get(size_t i) const { return i < items_.size() ? &items_[i] : nullptr; }

  // Restores the heap order over items appended unordered.
  void heapify() {
    for (size_t i = items_.size() / 2; i-- > 0;) siftup(i);
  }

  // Moves the item at pos down to a leaf along the lesser children, then back up
  // towards pos (never above it). Restores order after the item at pos grew.
  void siftup(size_t pos) {
    const size_t n = items_.size();
    QUARN_CHECK(pos < n);
    T item = std::move(items_[pos]);
    const size_t start = pos;
    size_t child = 2 * pos + 1;
    while (child < n) {
      if (child + 1 < n && cmp_(items_[child], items_[child + 1]) >= 0) ++child;
      items_[pos] = std::move(items_[child]);
      pos = child;
      child = 2 * pos + 1;
    }
    items_[pos] = std::move(item);
    siftdown(start, pos);
  }

  // Moves the item at pos up towards start while it compares less than its parent.
  void siftdown(size_t start, size_t pos) {
    QUARN_CHECK(pos < items_.size());
    T item = std::move(items_[pos]);
    while (pos > start) {
      const size_t parent = (pos - 1) / 2;
      if (cmp_(item, items_[parent]) >= 0) break;
      items_[pos] = std::move(items_[parent]);
      pos = parent;
    }
    items_[pos] = std::move(item);
  }

  // Array view, in heap order (not sorted). Used to visit every item, e.g. to free them.
  std::vector<T>& items() { return items_; }
  const std::vector<T>& items() const { return items_; }

  // Drops every item (destroying owned ones) in array order.
  void clear() { items_.clear(); }

 private:
  std::vector<T> items_;
  Compare cmp_;
};

}  // namespace quarn
