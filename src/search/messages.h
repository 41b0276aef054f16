// Every message text of the quarnsearch program in one place. Texts ending in "\n" are
// printed directly to standard error; the others are log lines (the logger adds the
// line feed). Scripts and tests match these texts, so they do not change lightly.
#pragma once

namespace quarn::search_msg {

// Command line (printed to standard error).
inline constexpr const char* kInvalidTime = "invalid time '%s'\n";
inline constexpr const char* kInvalidLimit = "Invalid search limit specified: %s\n";
inline constexpr const char* kFilesetAfterList = "-f may not be used with -l\n";
inline constexpr const char* kListAfterFileset = "-l may not be used with -f\n";
inline constexpr const char* kFilesetAccess = "Error: could not access fileset %s: %s\n";
inline constexpr const char* kFailedToAdd = "Failed to add file %s\n";
inline constexpr const char* kJsonAndRaw = "Error: cannot supply -j and -r options together.\n";
inline constexpr const char* kNoSource = "Error: must supply at least one of -l or -f\n";
inline constexpr const char* kBadLogLevel = "Warning: invalid log level '%s' in QUARN_LOGLEVEL\n";
inline constexpr const char* kEndOfInput = "EOF\n";

// Program log lines.
inline constexpr const char* kStarting = "Starting, logging level '%s'";
inline constexpr const char* kExiting = "Exiting...";
inline constexpr const char* kSearchFailed = "Error encountered while running search";

// Per-search log lines.
inline constexpr const char* kSearchPrefix = "search-%u";
inline constexpr const char* kPatternError = "Error in %s pattern: %s";
inline constexpr const char* kUnspecifiedReason = "[unspecified reason]";
// Reasons given in kPatternError for a line of standard input that is no expression.
inline constexpr const char* kLineTooLong = "input line longer than 4095 bytes";
inline constexpr const char* kLineHasNul = "input line holds a NUL byte";
inline constexpr const char* kPatternFinished = "Pattern finished";
inline constexpr const char* kDispatching = "Dispatching search: [%.*s]";
inline constexpr const char* kEmptySource = "Error dispatching search: empty data source";
inline constexpr const char* kLaunched = "Search launched";
inline constexpr const char* kSearchEnded = "Search %s after %zu results";
inline constexpr const char* kOutputFailed = "Error: could not write results to standard output";

}  // namespace quarn::search_msg
