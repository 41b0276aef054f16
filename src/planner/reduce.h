// Class permutation reduction: bounds the number of concrete strings the later passes
// may expand a pattern into.
//
// Runs once per search on the freshly parsed tree, before fixup. Classes with large
// repeats are rewritten into shorter windows, and when the product of class sizes and
// alternative counts along the top-level sequence exceeds kPermutationLimit, the largest
// contributors become match-all gaps one at a time until the product fits. The result
// is still a necessary condition for a match; the matcher confirms real matches.
#pragma once

#include <cstdint>

#include "pattern/re_elem.h"

namespace quarn {

// Largest accepted product of class sizes and alternative counts in one sequence.
constexpr uint64_t kPermutationLimit = 8192;

// Gives the root to use from now on (the old root is freed when it was replaced), or
// nullptr on the internal failure "Error: encountered unexpected condition in class
// reduction!" (logged at level 1). nullptr in gives nullptr out.
re_elem_ptr reduce_permutations(re_elem_ptr root);

}  // namespace quarn
