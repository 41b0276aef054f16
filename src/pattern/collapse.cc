// Collapse of repetition runs and the compile cost estimate (see collapse.h).
#include "pattern/collapse.h"

#include <algorithm>
#include <utility>

namespace quarn {

namespace {

// One byte position repeated as a unit: a class or a one-byte literal, with no anchor.
bool is_single_byte_atom(const re_elem& e) {
  if (e.any_anchor()) return false;
  return e.is_class() || (e.is_literal() && e.text.size() == 1);
}

bool same_atom(const re_elem& a, const re_elem& b) {
  if (a.type != b.type) return false;
  return a.is_class() ? a.bits == b.bits : a.text == b.text;
}

bool unbounded(const re_elem& e) { return e.max_repeat == REPEAT_MAX; }

// Merges `next` into `prev` (adjacent in a sequence) when that keeps the meaning.
bool merge_adjacent(re_elem& prev, const re_elem& next) {
  if (!is_single_byte_atom(prev) || !is_single_byte_atom(next) || !same_atom(prev, next))
    return false;
  const bool any_byte = prev.is_class() && prev.bits.all();
  if (!any_byte && !unbounded(prev) && !unbounded(next)) return false;
  // Sums at or past REPEAT_MAX cannot be stored without meaning "unbounded".
  const uint64_t min = uint64_t{prev.min_repeat} + next.min_repeat;
  if (min >= REPEAT_MAX) return false;
  uint64_t max = REPEAT_MAX;
  if (!unbounded(prev) && !unbounded(next)) {
    max = uint64_t{prev.max_repeat} + next.max_repeat;
    if (max >= REPEAT_MAX) return false;
  }
  prev.min_repeat = static_cast<uint32_t>(min);
  prev.max_repeat = static_cast<uint32_t>(max);
  return true;
}

// (X{m,}){g,h} with m <= 1 and h >= 1 is X{m*g,}.
void collapse_repeated_group(re_elem_ptr& elem) {
  re_elem& g = *elem;
  if (!g.is_group() || g.children.size() != 1 || g.any_anchor() || g.max_repeat == 0) return;
  re_elem& alt = *g.children[0];
  if (!is_single_byte_atom(alt) || !unbounded(alt) || alt.min_repeat > 1) return;
  alt.min_repeat *= g.min_repeat;
  re_elem_ptr keep = std::move(g.children[0]);
  elem = std::move(keep);
}

void collapse_node(re_elem_ptr& elem);

void collapse_sequence(re_elem& seq) {
  std::vector<re_elem_ptr> kept;
  kept.reserve(seq.children.size());
  for (auto& child : seq.children) {
    collapse_node(child);
    if (!kept.empty() && merge_adjacent(*kept.back(), *child)) continue;
    kept.push_back(std::move(child));
  }
  seq.children = std::move(kept);
}

void collapse_node(re_elem_ptr& elem) {
  if (elem->is_sequence()) {
    collapse_sequence(*elem);
  } else if (elem->is_group()) {
    for (auto& alt : elem->children) {
      collapse_node(alt);
      seq_fold(alt);
    }
    collapse_repeated_group(elem);
  }
}

// Costs saturate here: far above any limit, and far below overflow when multiplied by
// a repetition bound.
constexpr uint64_t kCostCap = uint64_t{1} << 40;

uint64_t saturate(uint64_t v) { return std::min(v, kCostCap); }

// Weights of the estimate, calibrated by bench/planner/compile_budget. The matcher's
// compiler pays for every variable-length element (optional or looping) and for every
// optional copy several times what it pays for a fixed byte. A class of a few members
// is costly where several follow one another (their combinations are explored), a
// group likewise; a repeated single class is compiled as one counted element, so its
// weight is paid once and not per copy.
constexpr uint64_t kVariableWeight = 18;
constexpr uint64_t kOptionalCopyWeight = 3;
constexpr uint64_t kClassWeight = 8;
constexpr uint64_t kGroupWeight = 8;

// A literal run right after an optional or looping literal byte (a?bcd) is extracted
// by the compiler in every combination with it, which measured about twelve times the
// cost of the same run elsewhere.
constexpr uint64_t kAfterOptionalLiteralWeight = 12;

bool varies_literal(const re_elem& e) {
  return e.is_literal() && e.text.size() == 1 && e.min_repeat != e.max_repeat;
}

// A repetition pays for its mandatory copies in full, once for being variable at all,
// and for every optional copy at kOptionalCopyWeight; a loop is compiled once.
uint64_t repeated_cost(uint64_t body, const re_elem& e) {
  uint64_t cost = body * std::max<uint64_t>(e.min_repeat, 1);
  if (unbounded(e)) {
    cost += kVariableWeight;
  } else if (e.max_repeat > e.min_repeat) {
    cost += kVariableWeight + kOptionalCopyWeight * body * (e.max_repeat - e.min_repeat);
  }
  return saturate(cost);
}

uint64_t atom_cost(const re_elem& e) {
  if (e.is_literal() && e.text.size() != 1) return e.text.size();
  const uint64_t weight = e.is_class() && !e.bits.all() ? kClassWeight : 1;
  return weight - 1 + repeated_cost(1, e);
}

}  // namespace

void pattern_collapse(re_elem_ptr& tree) {
  if (!tree) return;
  collapse_node(tree);
}

uint64_t pattern_cost(const re_elem* tree) {
  if (!tree) return 0;
  const re_elem& e = *tree;
  if (e.is_literal() || e.is_class()) return atom_cost(e);
  // A group pays for itself and for each alternative.
  uint64_t body = e.is_group() ? kGroupWeight + e.children.size() : 0;
  const re_elem* prev = nullptr;
  for (const auto& child : e.children) {
    uint64_t c = pattern_cost(child.get());
    if (e.is_sequence() && prev && varies_literal(*prev) && child->is_literal())
      c *= kAfterOptionalLiteralWeight;
    body = saturate(body + c);
    prev = child.get();
  }
  return repeated_cost(body, e);
}

}  // namespace quarn
