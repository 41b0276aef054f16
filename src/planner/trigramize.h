// Trigram generation: turns a fixed-up pattern tree into a trigram query.
//
// A sequence becomes an intersection of its children's conditions, a group a union of
// its alternatives' conditions, a literal the intersection of its trigrams. Anchors
// become trigrams holding the boundary symbol '^' (every indexed key is padded with two
// '^' on each side), classes next to literals become unions over the class bytes, and a
// single unknown byte between two literals is bridged by a union over the 40 symbols it
// may be. An element that yields no condition adds no constraint; no condition at all
// means no trigram filter (table scan).
//
// Ownership: the caller owns the returned query. The pattern tree is read, except that a
// bridged one-byte gap is marked as consumed.
#pragma once

#include <string>

#include "pattern/re_elem.h"
#include "planner/tgr_result.h"

namespace quarn {

// Generates once and, when that gives no condition, once more over the tree as the first
// pass left it (bridged gaps marked consumed). On failure gives nullptr and, when error
// is not null, an error text ("could not coalesce string class and literal group").
tgr_ptr trigramize(re_elem& root, std::string* error, bool start = false, bool end = false,
                   const re_elem* left = nullptr, const re_elem* right = nullptr);

}  // namespace quarn
