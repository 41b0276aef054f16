#include "planner/reduce.h"

#include "common/log.h"
#include "pattern/render.h"
#include "planner/decompose.h"
#include "planner/messages.h"

namespace quarn {

namespace {

// A bounded class with a larger minimum keeps this many bytes.
constexpr uint32_t kKeptRepeat = 3;
// An unbounded class repeated at least twice with more members than this is split.
constexpr size_t kUnboundedClassLimit = 10;

// Saturating product: a sequence of many wide classes must not wrap around to a small
// number and escape reduction.
uint64_t mul_sat(uint64_t a, uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
  return a * b;
}

uint64_t power_sat(uint64_t base, uint32_t exp) {
  uint64_t p = 1;
  for (uint32_t i = 0; i < exp && p <= kPermutationLimit; ++i) p = mul_sat(p, base);
  return p;
}

re_elem_ptr class_once(const re_elem& k) {
  re_elem_ptr c = re_elem_class_of(k.bits);
  return c;
}

// Gives a replacement for class k, or nullptr when k stays as it is.
re_elem_ptr reduce_class(re_elem& k) {
  if (k.min_repeat == 0) return nullptr;
  const uint64_t size = class_members(k);
  if (k.max_repeat < REPEAT_MAX) {
    if (power_sat(size, k.min_repeat) <= kPermutationLimit) return nullptr;
    if (k.min_repeat > kKeptRepeat && power_sat(size, kKeptRepeat) <= kPermutationLimit) {
      k.min_repeat = k.max_repeat = kKeptRepeat;
      if (re_elem_ptr x = class_power(k)) {
        // Three bytes from inside the run, with at least one byte of the run on each side.
        re_elem_ptr seq = re_elem_init(re_elem_sequence);
        seq->start_anchor = k.start_anchor;
        seq->end_anchor = k.end_anchor;
        seq->children.push_back(new_any_char());
        seq->children.push_back(std::move(x));
        seq->children.push_back(new_any_char());
        return seq;
      }
    }
    return new_match_all_gap(k.start_anchor, k.end_anchor);
  }
  if (k.min_repeat < 2 || size <= kUnboundedClassLimit) return nullptr;
  // The run's first and last bytes. They may be adjacent (a run of two), so what lies
  // between them is a match-all gap, never exactly one byte.
  re_elem_ptr seq = re_elem_init(re_elem_sequence);
  seq->start_anchor = k.start_anchor;
  seq->end_anchor = k.end_anchor;
  seq->children.push_back(class_once(k));
  seq->children.push_back(new_match_all_gap(false, false));
  seq->children.push_back(class_once(k));
  return seq;
}

// reduce() of one element; gives the replacement, the element itself (moved back), or
// nullptr on failure.
re_elem_ptr reduce(re_elem_ptr e) {
  if (!e) return nullptr;
  if (e->is_class()) {
    if (re_elem_ptr r = reduce_class(*e)) return r;
    return e;
  }
  if (!e->is_sequence()) return e;

  auto& v = e->children;
  for (size_t i = 0; i < v.size(); ++i) {
    if (!v[i]->is_class()) continue;
    re_elem* before = v[i].get();
    re_elem_ptr r = reduce(std::move(v[i]));
    if (!r) {
      QLOG(LOG_ERROR, "%s", planner_msg::kReductionFailed);
      return nullptr;
    }
    if (r.get() == before) {
      v[i] = std::move(r);
      continue;
    }
    // The loop goes on with the next position: the second spliced-in element.
    splice_children(v, i, 1, std::move(r), true);
  }

  bool reduced = false;
  for (;;) {
    uint64_t product = 1, largest = 0;
    re_elem* chosen = nullptr;
    for (auto& c : v) {
      uint64_t count = 0;
      if (c->is_class() && !is_full_class(*c))
        count = class_members(*c);
      else if (c->is_group())
        count = c->children.size();
      else
        continue;
      if (count > largest) {
        largest = count;
        chosen = c.get();
      }
      product = mul_sat(product, count);
    }
    if (product <= kPermutationLimit) {
      if (reduced) {
        QLOG(LOG_DEBUG, planner_msg::kReducedTo, static_cast<size_t>(product));
        if (log_enabled(LOG_DEBUG)) {
          std::string text = re_elem_to_string(*e);
          QLOG(LOG_DEBUG, planner_msg::kReconstituted, text.c_str());
        }
      }
      return e;
    }
    QLOG(LOG_DEBUG, planner_msg::kReducing, static_cast<size_t>(product),
         static_cast<unsigned>(kPermutationLimit), static_cast<size_t>(largest));
    make_match_all_gap(*chosen);
    reduced = true;
  }
}

}  // namespace

re_elem_ptr reduce_permutations(re_elem_ptr root) {
  if (!root) return nullptr;
  return reduce(std::move(root));
}

}  // namespace quarn
