// Evaluates a trigram query against one string the way the index does: the string's
// trigram set is taken with two '^' symbols before and two after it, in the folded
// 41-symbol alphabet, and the query must hold on that set.
//
// Used by tests (the necessary-condition property: every string the matcher accepts
// satisfies the planned query) and by differential tests of the index side. A null query
// means no trigram filter, so every string passes. An empty slot, an empty union and an
// empty intersection impose no condition (they pass), matching how the optimiser reads
// them. Nothing is retained between calls.
#pragma once

#include <string_view>

#include "planner/tgr_result.h"
#include "planner/trigram_bitmap.h"

namespace quarn {

// Does the trigram set satisfy the query?
bool tgr_satisfied_by(const tgr_result* query, const TrigramBitmap& trigrams);

// Does the padded trigram set of text satisfy the query?
bool tgr_matches_text(const tgr_result* query, std::string_view text);

}  // namespace quarn
