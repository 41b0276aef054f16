// Log texts of reference-list decoding and query-iterator building (printf formats,
// arguments in the order given). Part of the interface: the tests compare them.
#pragma once

namespace quarn::tracker_msg {

// load_tracker, all at level "error"
inline constexpr const char* kOffsetBadBase =
    "Error: trigram index(%d) reference(@%lu) offset values pointed back to bad value: %lx";
// A compression entry first in its list has no entry to count its gaps from.
inline constexpr const char* kOffsetNoBase =
    "Error: trigram index(%d) reference(@%lu) offset values have no base entry: %lx";
inline constexpr const char* kOffsetNoSlot =
    "Unknown error occurred parsing trigram index offset values: %lx";
inline constexpr const char* kBadStart =
    "Error: trigram index reference contained bad start value: %lx (%s) @ %lu/%zu";
inline constexpr const char* kBadStartPrev = " + prev ref @ %lu was %lx";
inline constexpr const char* kMissingRangeEnd =
    "Error: trigram index reference was missing range end value";
inline constexpr const char* kBadRangeEnd =
    "Error: trigram index reference had bad range end value: %lx";

// build_query_iterator
inline constexpr const char* kTrackerUpdateFailed = "Error: could not update trigram tracker.";  // error
inline constexpr const char* kSubtrackerFailed = "Warning: could not add subtracker!";  // debug/detail
inline constexpr const char* kTrigramNotAdded = "Warning: could not add trigram to tracker (%u)!";  // debug
inline constexpr const char* kScanInstead = "Query lists admit about %.0f of at most %lu lines: scanning the table instead";  // detail
// reports, bytes
inline constexpr const char* kScanPerLine =
    "Block scan reported %zu matches in %zu bytes: matching the rest line by line";  // detail
inline constexpr const char* kUnionLeftOut = "Union of %zu trackers admits too many lines to narrow its intersection: left to the matcher";  // detail
// lines of the list or child, lines of the intersection's shortest
inline constexpr const char* kOverBudget = "Intersection member of about %.0f lines, over the budget of its shortest (%.0f lines): left to the matcher";  // detail
inline constexpr const char* kEmptyAfterFill = "Warning: tracker was empty after fill (%zu items)";  // debug/detail

// line source
inline constexpr const char* kSubtreeRun = "Reading the subtree run instead: %lu lines from line %lu (query lists admit about %.0f), %lu bytes in range";  // detail
// The reference lists name a line the string table does not have (lists and table
// disagree); the source ends there, since every later line number is larger.
inline constexpr const char* kLinePastTable =
    "Error: line %lu of %s is past the end of its string table";  // error
inline constexpr const char* kLineIndexDamaged =
    "Error: line index of %s is damaged (at line %lu): the search cannot use it";  // error

}  // namespace quarn::tracker_msg
