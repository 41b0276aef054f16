// The fixup pass: rewrites a parsed, permutation-reduced pattern tree into a view that
// trigram generation reads trigrams from directly.
//
// After fixup a sequence is, as far as the rules reach, a run of literals, literal
// groups, single-byte classes and match-all gaps, with anchors pushed down onto the
// elements that touch the text's start or end. Repeats are resolved into concrete
// copies (or into a copy at each end with a gap between when the run's length varies),
// short literals are joined with their neighbours into literal groups, and small classes
// next to literals are expanded into the concrete strings they allow.
//
// Every rewrite keeps the tree a necessary condition: a text that matches the original
// pattern holds every string the rewritten tree says it holds. Rewrites may weaken the
// condition (a gap in place of an element) but never strengthen it.
//
// Ownership: fixup_tree works in place on the caller's tree and frees what it replaces.
#pragma once

#include "pattern/re_elem.h"

namespace quarn {

// Rewrites `e` (the root when parent is null: the anchor and normalisation pre-passes
// run first). Returns false when the rewrite failed; the tree is then still a valid (if
// partly rewritten) pattern tree owned by the caller.
bool fixup_tree(re_elem_ptr& e, re_elem* parent);

}  // namespace quarn
