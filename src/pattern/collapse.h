// Equivalence-preserving collapse of repetition runs in a pattern tree, and the cost
// estimate that bounds what the matcher is asked to compile.
//
// Order of use: parse (pattern/parse.h), then pattern_collapse the tree, then
// pattern_cost to decide whether it may be planned and compiled at all. The planner
// driver does both, so the planner and the matcher see the same collapsed tree.
//
// pattern_collapse only applies rewrites whose equivalence is plain from the shapes:
//  - in a sequence, two adjacent single-byte atoms with the same members (a class, or
//    a one-byte literal) X{a,b} X{c,d} become X{a+c,b+d} when both are the any-byte
//    class or either is unbounded (.*.* is .*, .*.+ is .+, a+a* is a+);
//  - a repeated group whose one alternative is an unbounded single-byte atom of
//    minimum 0 or 1, (X{m,}){g,h} with h >= 1, becomes X{m*g,} ((.*)* is .*,
//    (a+)+ is a+).
// Nothing carrying an anchor takes part, and no merged minimum exceeds the largest
// bound the tree can store. Other bounded runs stay as written: their expansion is what
// the planner turns into trigrams. The tree stays in canonical form (pattern/re_elem.h).
//
// pattern_cost approximates the compile work of the matcher: byte positions after
// bounded repeats are expanded, with variable-length elements, optional copies, small
// classes and groups weighted by what they were measured to cost (the weights sit
// beside the code). It saturates instead of overflowing and never fails. Both
// functions allocate only while rewriting.
#pragma once

#include <cstdint>

#include "pattern/re_elem.h"

namespace quarn {

// Rewrites `tree` (may be null) in place into an equivalent, possibly smaller tree.
void pattern_collapse(re_elem_ptr& tree);

// The estimated compile cost of `tree` (see above); 0 for a null tree.
uint64_t pattern_cost(const re_elem* tree);

}  // namespace quarn
