// The trigram query tree: the boolean condition over trigrams that selects candidate
// lines from an index before the matcher confirms them.
//
// Order of use: trigram generation builds a tree with the constructors below; the
// planner optimises it once with tgr_remove_redundant; the search context owns the
// result for one search and the index side evaluates it into candidate line numbers.
// A missing tree (nullptr) means "no trigram filter": every line is a candidate.
//
// Node kinds (`op`):
//   TGR_UNION              lines that any child matches; `children` holds the children.
//   TGR_INTERSECT_TRIGRAMS lines whose padded key contains every ordinal in `trigrams`.
//   TGR_INTERSECT_CHILDREN lines that every child matches; `children` holds the items.
// Only the vector that belongs to the kind is used; the other stays empty.
//
// Ownership: every node owns its children through tgr_ptr (std::unique_ptr); releasing
// the root releases the whole tree. Trees are private to one search and one thread.
//
// Invariants of a tree returned by tgr_remove_redundant: no empty child slots, no union
// without children, no intersection without entries, every ordinal below kTrigramCount.
// While a tree is being built a child slot may be empty (nullptr) and a node may be
// empty; an empty slot or empty node imposes no condition, and the optimiser removes
// them. Lists built from bitmaps are ascending without repeats; lists merged by the
// optimiser keep first-appearance order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "planner/trigram_bitmap.h"

namespace quarn {

enum tgr_op : uint32_t {
  TGR_UNION = 0,
  TGR_INTERSECT_TRIGRAMS = 1,
  TGR_INTERSECT_CHILDREN = 2,
};

struct tgr_result;
using tgr_ptr = std::unique_ptr<tgr_result>;

struct tgr_result {
  tgr_op op = TGR_INTERSECT_TRIGRAMS;
  std::vector<tgr_ptr> children;   // TGR_UNION and TGR_INTERSECT_CHILDREN
  std::vector<uint32_t> trigrams;  // TGR_INTERSECT_TRIGRAMS

  explicit tgr_result(tgr_op o) : op(o) {}
  tgr_result(const tgr_result&) = delete;
  tgr_result& operator=(const tgr_result&) = delete;

  // Number of entries of the list the kind uses (children or trigrams).
  size_t size() const { return op == TGR_INTERSECT_TRIGRAMS ? trigrams.size() : children.size(); }
  bool empty() const { return size() == 0; }
};

// ---- construction ----

// A new node of `op` with `count` entries. For TGR_UNION, when child_count is not 0,
// each slot receives a new node of child_op with child_count zeroed entries (empty slots
// for a union or intersection of children, ordinal 0 for trigrams); otherwise the slots
// stay empty. A trigram intersection gets `count` zero ordinals, an intersection of
// children `count` empty slots.
tgr_ptr tgr_new(tgr_op op, size_t count, tgr_op child_op = TGR_INTERSECT_TRIGRAMS,
                size_t child_count = 0);

// Lengthens the node's list by `extra` entries (zero ordinals or empty slots) for the
// caller to fill. A null node or an extra of 0 does nothing.
void tgr_grow(tgr_result* node, size_t extra);

// A TGR_INTERSECT_TRIGRAMS listing the set bits, ascending.
tgr_ptr tgr_from_bitmap(const TrigramBitmap& bits);

// A TGR_UNION with one single-trigram TGR_INTERSECT_TRIGRAMS child per set bit, ascending.
tgr_ptr tgr_union_from_bitmap(const TrigramBitmap& bits);

// A single-trigram intersection.
tgr_ptr tgr_single(uint32_t ordinal);

// When both are TGR_INTERSECT_TRIGRAMS with ascending lists: a new node holding the
// sorted union of both lists (equal heads taken once). Otherwise nullptr. The inputs are
// not changed.
tgr_ptr tgr_merge_trigrams(const tgr_result* a, const tgr_result* b);

// Releases a tree and clears the reference; an empty reference is accepted.
inline void tgr_free(tgr_ptr& node) { node.reset(); }

// A deep copy (tests and callers that need to keep a tree while another consumes it).
tgr_ptr tgr_clone(const tgr_result* node);

// ---- optimisation (logs at level 5, one warning at level 4) ----

// The optimiser's entry: one optimisation pass, removal of union children that demand
// more than a sibling, and a second pass. Consumes the tree; gives the optimised tree or
// nullptr (no trigram filter).
tgr_ptr tgr_remove_redundant(tgr_ptr tree);

// One recursive rewrite pass. Consumes the node; gives it changed in place, a
// replacement, or nullptr when it imposes no condition.
tgr_ptr tgr_optimise(tgr_ptr node);

// Factors the trigrams common to every child out of a union whose children are all
// trigram intersections: (X and Y) or (X and Z) becomes X and (Y or Z). Gives the union
// unchanged when nothing is common.
tgr_ptr tgr_factor_common(tgr_ptr union_node);

// ---- printing ----

// The debug dump, one line per node, written to the log stream with the current log
// prefix and no level test (the caller tests the level). A null node prints
// "+ TGR: (none)". Ordinals that trigram_text refuses print as "???".
void tgr_print(const tgr_result* node, int depth);

// A compact canonical text of the tree for tests and reports:
//   trigram intersection  {abc bcd}      (ordinals as their three characters)
//   union                 (X | Y)
//   intersection of nodes (X & Y)
//   empty slot            -
// and "none" for a null root.
std::string tgr_to_text(const tgr_result* node);

// Number of nodes in the tree (0 for none).
size_t tgr_count_nodes(const tgr_result* node);

}  // namespace quarn
