// The planner driver: turns one search expression into the pattern text the matcher
// compiles and the trigram query that selects candidate lines.
//
// Called once per search by the search context's compile step. The pipeline runs in a
// fixed order: parse (regex or glob), render, class permutation reduction, fixup and
// decomposition, trigram generation, optimisation; each stage's intermediate result is
// logged at level 6 (trace) and the final query at level 4 (debug).
//
// Results:
//   - a query tree (owned by the caller): only lines satisfying it can match;
//   - nullptr with an empty error text: the expression is too broad for the index and
//     every line is a candidate (table scan); the pattern text is still valid;
//   - nullptr with an error text: planning failed and the search must fail.
// The pattern text (when pattern_text is not null) is the rendering of the parsed tree
// after pattern_collapse (pattern/collapse.h), which the planner reads too; it is
// filled on every path except a parse failure (then it is cleared).
#pragma once

#include <string>
#include <string_view>

#include "planner/tgr_result.h"

namespace quarn {

tgr_ptr plan_expression(std::string_view expression, bool glob, std::string* pattern_text,
                        std::string* error);

}  // namespace quarn
