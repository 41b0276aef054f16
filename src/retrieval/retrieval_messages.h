// Log texts of the search context, the record merger and the data sources (printf
// formats, arguments in the order given). They are part of the interface: operators grep
// for them and the tests compare them.
#pragma once

namespace quarn::retrieval_msg {

// search context
inline constexpr const char* kDecomposition = "Error in decomposition: %s";  // debug
// pattern, reason
inline constexpr const char* kNoBlockScan =
    "Table scans of [%s] confirm keys one by one: %s";  // debug

// record merger
inline constexpr const char* kSkipTimeFilter = "Skipping %s due to time filter";  // debug
inline constexpr const char* kAddingToMerger = "Adding %s to merger";            // detail
inline constexpr const char* kTrackerInitFailed = "Error: failed to initialize tracker!";  // error
inline constexpr const char* kIndexChangedInSearch =
    "Error: %s was written in place while it was searched: the search cannot be trusted "
    "(replace index files by rename)";  // error
inline constexpr const char* kNoPossibleAnswers = "Warning: search yielded no possible answers.";  // debug
inline constexpr const char* kFirstAfterOutOfRange =
    "time_first_after out of range, finishing query";  // debug
inline constexpr const char* kLastBeforeOutOfRange =
    "time_last_before out of range, finishing query";  // debug

// fileset
inline constexpr const char* kLoadingFileset = "Loading fileset: %s";            // info
inline constexpr const char* kFilesetLoading = "Fileset %s loading %s";          // debug
inline constexpr const char* kFilesetCannotRead = "Fileset %s: cannot read %s: %s";  // error
inline constexpr const char* kFilesetRejected = "%s file %s rejected from %s fileset %s";  // error
inline constexpr const char* kFilesetUnloading = "Fileset %s unloading %s";      // debug
inline constexpr const char* kFilesetChanged = "Fileset %s: %s changed on disk";  // info
// Printed to standard error (not logged) when the set file cannot be stat'ed.
inline constexpr const char* kSetfileStatFailed = "%s: stat('%s') failed: %s\n";
inline constexpr const char* kSetfileUpdatedName = "setfile_updated";
// Printed to standard error when the set file is not a regular file (a FIFO would block).
inline constexpr const char* kSetfileNotRegular = "Error: set file '%s' is not a regular file\n";
// set file, first name, second name (the same file, or the same name twice)
inline constexpr const char* kSetfileListsTwice =
    "Error: set file '%s' lists one file twice ('%s' and '%s'): its records would count "
    "twice; the set file is not used until it changes\n";

// index list
inline constexpr const char* kListRejected = "%s file %s rejected from %s file list";  // error
inline constexpr const char* kListedTwice =
    "Error: %s is the same file as %s, listed before: its records would count twice";  // error
inline constexpr const char* kListReloaded = "Reloaded index file %s";  // info
inline constexpr const char* kListDropped = "Dropped index file %s";    // error

// Kind names used in the rejection lines.
inline constexpr const char* kKindRdata = "rdata";
inline constexpr const char* kKindRrname = "rrname";

}  // namespace quarn::retrieval_msg
