// The order of rdata string-table lines, and so the key equality of rdata results.
//
// Lines look like "key<TAB><len>/<hex digits> <token>" (see annotation.h). They are
// ordered by their raw rdata bytes (the hex digits compared by value, either case),
// with the record type acting as one more byte after the shorter value: equal bytes
// and equal lengths order by type, and a value that is a proper prefix of another
// orders before it when its type is smaller than the longer value's next byte, after
// it otherwise. Two lines are the same key exactly when raw rdata and type are equal;
// times and counts never take part.
//
// Used as the compare function of the rdata merger and as the order check of rdata
// index writers. Inputs are views (start and limit); a line also ends at its first
// line feed. Nothing is allocated.
//
// Malformed lines never stop the program and never cause a read past the view:
//  - an empty line sorts before any non-empty one;
//  - a line without a tab, or whose raw prefix does not have a length field of 1-5
//    decimal digits with a value 1..65535 before a "/", is malformed; malformed lines
//    compare equal to each other and sort before every well-formed line, so the order
//    stays consistent over a damaged table; a missing tab is also logged at level
//    failure (kMsgRdataNoTabA for a, kMsgRdataNoTabB for b);
//  - an annotation that does not parse where the type is needed logs at level error
//    (kMsgEqualParse*, kMsgPrefixParse*) and the lines compare equal.
#pragma once

#include <string_view>

namespace quarn {

// Negative when a sorts first, 0 for the same key, positive when b sorts first.
int rdata_line_compare(std::string_view a, std::string_view b);

// The same over NUL-terminated lines (either may be null, which counts as empty).
int rdata_line_compare(const char* a, const char* b);

}  // namespace quarn
