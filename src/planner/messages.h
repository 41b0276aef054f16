// Every log and error text of the planner, in one place. Formats are printf formats
// whose arguments are documented beside them; they are part of the observable
// behaviour (users and tests read them).
#pragma once

namespace quarn::planner_msg {

// ---- query optimisation (level 5 unless noted) ----
inline constexpr const char* kCollapsedBranch = "Collapsed an entire branch of %zu nodes.";  // children
inline constexpr const char* kRemovedCollapsed =
    "Removed %zu of %zu nodes from collapsed branch.";  // removed, before
inline constexpr const char* kFlattenedIntersections =
    "Collapsed a total of %zu nested results in %zu nodes [1].";  // entries, nodes
inline constexpr const char* kMergedTrigramLists =
    "Collapsed a total of %zu nested results in %zu nodes [2].";  // trigrams, nodes
inline constexpr const char* kCollapsedPair = "Collapsed redundantly nested intersection pair.";
inline constexpr const char* kReducedChildren =
    "Reduced result set by an additional %zu child node(s).";  // removed
inline constexpr const char* kFoldedChild = "Folded redundant child result up into parent.";
inline constexpr const char* kCollapsedUnion =
    "Collapsed parent union of %zu union elements into one.";  // children
inline constexpr const char* kRemovedRedundant =
    "Removed %zu of %zu items from redundant terms.";  // released, before
// level 4
inline constexpr const char* kEmptyDifference =
    "Warning: intersection difference resulted in empty node!";

// ---- fixup and decomposition ----
inline constexpr const char* kPermutationsExceeded =
    "Warning: %zu possible permutations exceeded threshold of %u";  // count, 64 (level 4)

// ---- permutation reduction ----
inline constexpr const char* kReductionFailed =
    "Error: encountered unexpected condition in class reduction!";  // level 1
inline constexpr const char* kReducedTo =
    "Warning: reduced expression to %zu possible permutations.";  // product (level 4)
inline constexpr const char* kReconstituted = "Reconstituted reduced expression is: %s";  // level 4
inline constexpr const char* kReducing =
    "Warning: %zu possible permutations exceeded threshold of %u; reducing by factor of %zu.";

// ---- trigram generation ----
inline constexpr const char* kTooShort =
    "Error: class-permuted string \"%s\" would be too short.";  // text (level 4)
inline constexpr const char* kCoalesceFailed = "could not coalesce string class and literal group";

// ---- driver ----
inline constexpr const char* kParseError = "Error parsing %s expression: %s";  // kind, text
inline constexpr const char* kParseUnknown = "Unknown occurred while parsing %s expression!";
inline constexpr const char* kConverted = "search expression {%s} converted to {%s}";
inline constexpr const char* kReductionError = "Unexpected error in permutation reduction.";
inline constexpr const char* kFixupError = "Unexpected error in processing search expression.";
inline constexpr const char* kTrigramError = "Error in trigramization: %s";
inline constexpr const char* kTableScan =
    "Warning: overly broad expression fell back to table scan {%s}";  // expression
inline constexpr const char* kStartDebug = "--- start debug";
inline constexpr const char* kEndOrig = "--- end orig";
inline constexpr const char* kEndFixup = "--- end fixup";
inline constexpr const char* kPreOptimized = "--- pre-optimized result:";
inline constexpr const char* kFinalResult = "--- final result:";
inline constexpr const char* kNoFilter = "(no trigram filter)";

}  // namespace quarn::planner_msg
