// The status ("fin") message that ends every answer of the search service.
//
// A status message is one compact JSON object, {"fin":<code>,"msg":"<text>"}, where the
// text is the caller's own or, when the caller gives none, the standard text of the code
// (status_text). Codes: 200 OK, 4xx request faults, 5xx server faults and timeouts, 8xx
// faults in the search expression or the query message (see status_message.cc for the
// whole table). Code 810 has no standard text and is always sent with its own.
//
// build_status_message returns a new string that the caller owns. It cannot fail in a
// way the caller must handle: if the generator refuses (a caller text that is not valid
// UTF-8, say), the failure is logged at level "error" and the message is "ERROR".
#pragma once

#include <string>

namespace quarn {

enum StatusCode : int {
  kStatusOk = 200,
  kStatusMissingParameter = 400,
  kStatusNoResults = 404,
  kStatusIllegalType = 416,
  kStatusInternalError = 500,
  kStatusTimedOut = 504,
  kStatusRegexSyntax = 801,
  kStatusRegexUnsupported = 802,
  kStatusGlobSyntax = 803,
  kStatusGlobUnsupported = 804,
  kStatusInvalidMethod = 805,
  kStatusInvalidScope = 806,
  kStatusInvalidReturn = 807,
  kStatusInvalidRrtype = 808,
  kStatusInvalidLimit = 809,
  kStatusValueTooLong = 810,
  kStatusExcludeSyntax = 811,
  kStatusInvalidLookup = 812,  // a lookup's rrname or value that does not parse
};

// The standard text of a code; "unknown error code" for codes without one (810 too).
const char* status_text(int code);

// {"fin":code,"msg":text}, text defaulting to status_text(code) when null.
std::string build_status_message(int code, const char* text = nullptr);

}  // namespace quarn
