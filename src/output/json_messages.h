// Every text the JSON output, status message and query message code reports.
//
// Kept in one place because they are part of the interface: peers and scripts match the
// status texts, and the error lines are what an operator sees. Lines meant for standard
// error carry their line feed; log formats do not (the logger adds it).
#pragma once

namespace quarn {

// Result writer, written to standard error.
inline constexpr const char kJsonNoMatchingRrtype[] =
    "Error: attempted to return json result for entry without matching rrtype!\n";
inline constexpr const char kJsonRawRdataTooLong[] =
    "Error: too much rdata to return as raw_rdata\n";
inline constexpr const char kJsonResultTooLong[] =
    "Error: json result does not fit its 8192-byte buffer, result skipped\n";

// Generator failure, logged at level "error": function name, status number, status text.
inline constexpr const char kJsonGenFailedFmt[] = "Error: function %s() returned %d {%s}";
// The function a result key that is not UTF-8 is reported against.
inline constexpr const char kJsonGenStringFunction[] = "yajl_gen_string";
// Returned by the status builder when no message could be generated.
inline constexpr const char kStatusBuildFailed[] = "ERROR";

// Query message parser.
inline constexpr const char kQueryParseErrorFmt[] = "Error in yajl_tree_parse(): %s";
inline constexpr const char kQueryParseNoReason[] = "[unknown]";
inline constexpr const char kQueryParseNulByte[] = "message contains a NUL byte";
inline constexpr const char kQueryParserFailed[] = "unexpected error in json parser";
inline constexpr const char kQueryMissingSearchMethod[] =
    "query message was missing search_method field";
inline constexpr const char kQueryMissingSearchWhat[] =
    "query message was missing search_what field";
inline constexpr const char kQueryMissingReturnWhat[] =
    "query message was missing return_what field";
inline constexpr const char kQueryMissingValue[] = "query message was missing value field";
inline constexpr const char kQueryMissingRrtype[] = "query message was missing rrtype field";
inline constexpr const char kQueryMissingLimit[] = "query message was missing limit field";
inline constexpr const char kQueryDnssecRrtype[] =
    "query message contained dnssec-related rrtype";
inline constexpr const char kQueryValueTooLong[] = "query message search string is too long";

}  // namespace quarn
