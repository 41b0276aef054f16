// Every log text of the observation-text layer (annotation readers, rdata order, rdata
// text) and of the DNS record binding, in one place so that tests can refer to them.
// Texts without arguments are logged through "%s".
#pragma once

namespace quarn {

// Annotation readers.
inline constexpr char kMsgMultiSpace[] = "Error: multi-space lines not supported.";

// rdata line order. A line without a tab cannot be ordered by its rdata.
inline constexpr char kMsgRdataNoTabA[] = "Warning: unexpected error parsing rdata contents [1].";
inline constexpr char kMsgRdataNoTabB[] = "Warning: unexpected error parsing rdata contents [2].";
inline constexpr char kMsgEqualParseA[] =
    "Warning: extended comparison of equal rdata values failed on parse error [1]";
inline constexpr char kMsgEqualParseB[] =
    "Warning: extended comparison of equal rdata values failed on parse error [2]";
inline constexpr char kMsgPrefixParseA[] =
    "Warning: extended comparison of rdata values failed on parse error [1]";
inline constexpr char kMsgPrefixParseB[] =
    "Warning: extended comparison of rdata values failed on parse error [2]";

// rdata to text.
inline constexpr char kMsgShortEmptyRdata[] = "Warning: skipping over short empty rdata entry";
inline constexpr char kFmtLongRdataValue[] =
    "Warning: skipping long rdata value of type %u: %zu bytes";
inline constexpr char kFmtRdataParseError[] = "Warning: encountered parse error with rrtype %u";
inline constexpr char kFmtLongRdataString[] =
    "Warning: skipping long rdata string of type %u: %zu bytes";
inline constexpr char kFmtMixedCaseRdata[] = "Warning: correcting mixed case rdata entry: %s";

// Marker inside a presentation text for an rdata value the DNS layer could not decode.
inline constexpr char kRrkitParseError[] = "### PARSE ERROR ###";

}  // namespace quarn
