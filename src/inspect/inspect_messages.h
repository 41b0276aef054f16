// Every text tginspect prints, in one place (printf formats, to be printed as they stand).
#pragma once

namespace quarn::inspect_msg {

inline constexpr char kUsage[] =
    "\n"
    "Usage: %s <-l tgdb> [-L str_line] [-O ordno] [-v[v]...]\n"
    "-l  specifies the file of the mandatory trigram index to be loaded.\n"
    "-L  dumps the string content located at the specified line index #.\n"
    "-O  dumps only partial trigram index information associated with the specified "
    "ordinal (or trigram) value.\n"
    "-V  results in the display of auxiliary trigram index statistics.\n"
    "-v  can be specified multiple times and increases output verbosity.\n\n";
inline constexpr char kBadLine[] = "Invalid string index specified: %s\n";
inline constexpr char kLAndO[] = "Error: -L and -O cannot be used together.\n";
inline constexpr char kOrdinalRange[] =
    "Error: trigram ordinal %ld is out of range (0 to %u).\n";
inline constexpr char kLoading[] = "Loading trigram index...\n";
// A failed load prints index_msg::kLoadFailed and a line feed.
inline constexpr char kExiting[] = "Exiting.\n";

inline constexpr char kNoLine[] = "Error: could not retrieve line number contents.\n";
inline constexpr char kLineAddress[] = "String contents at index %zu: %p\n";
inline constexpr char kLineText[] = "[%.*s]\n";

inline constexpr char kStartAndOther[] =
    "Error in trigram database: ref cannot be both start and other type (%lx)!\n";
inline constexpr char kEndAndOther[] =
    "Error in trigram database: ref cannot be both end and other type!\n";
inline constexpr char kBadPrecedingMask[] =
    "Error in trigram database: index %zu contained offset compression but preceding mask "
    "was bad (%lx)\n";
// Structural faults the walk would otherwise read past or miscount.
inline constexpr char kOffsetsFirst[] =
    "Error in trigram database: index 0 contained offset compression with no entry before "
    "it (%lx)\n";
inline constexpr char kStartAtEnd[] =
    "Error in trigram database: list of trigram %zu ends with a range start (%lx)!\n";
inline constexpr char kStartWithoutEnd[] =
    "Error in trigram database: range start at index %zu is not followed by a range end "
    "(%lx)!\n";
inline constexpr char kRangeBackwards[] =
    "Error in trigram database: range at index %zu ends before it starts (%lu-%lu)!\n";

// A range is printed line by line from -vvv on: one past the index's lines could ask for
// up to 2^37 numbers.
inline constexpr char kRangePastLines[] =
    "Error in trigram database: range at index %zu reaches past the last line (%lu-%lu, "
    "%lu lines)!\n";

inline constexpr char kStorage[] = "Storage space requirements: %zu bytes (%zuMB) / %zu entries\n";
inline constexpr char kUnexpectedSequence[] =
    "Warning: unexpected sequence in trigram index references!\n";
inline constexpr char kGapLine[] = "Reference gap count [%zu]: %zu (%zu%%)   / %s\n";

}  // namespace quarn::inspect_msg
