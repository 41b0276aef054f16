// Parsing a JSON query message of the search service into a query_request.
//
// A query message is a JSON object whose top-level key "query" holds the request:
//   {"query":{"search_method":"regex","search_what":"rrnames","return_what":"details",
//             "value":"^www\\.","rrtype":"A","limit":100,
//             "time_first_after":1577836800, "offset":0, "exclude":"..."}}
// Required: search_method ("regex" | "glob"), search_what ("rrnames" | "rdata"),
// return_what ("details" | "terse") (all three matched without regard to case), value
// (at most kQueryMaxValue bytes), rrtype (a type mnemonic or "any"; DNSSEC types are
// refused) and limit (a positive integer). Optional: the four time bounds (integers,
// seconds since 1970), offset (a non-negative integer), exclude (a string) and
// with_records (true asks for each result's records from the record stores). Strings
// must be JSON strings and numbers JSON numbers; a value of another type counts as
// missing.
//
// Use: parse_query_message(text, request, scope_must_be_known). On success it returns
// std::nullopt and request holds the query (every field reset first). On failure it
// returns the status ("fin") message to send back, a new string the caller owns, and
// request is unspecified. Checks run in a fixed order, so a message with several faults
// always gets the same answer: missing fields (400), then method (805), scope (806),
// return option (807), rrtype (808), limit (809), value length (810), then the optional
// fields (416 for a number that is not a usable integer).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarn {

// Longest search expression accepted; the service keeps it in a 4096-byte field.
constexpr size_t kQueryMaxValue = 4095;
// Longest search_what text kept (longer texts are cut to this many bytes).
constexpr size_t kQueryMaxSearchWhat = 511;
// Size of the parser's error text buffer.
constexpr size_t kQueryParseErrorSize = 1024;

struct query_request {
  std::string value;        // the search expression
  std::string search_what;  // the scope as given
  bool regex = false;       // true for "regex", false for "glob"
  int scope = 0;            // 0 rrnames, 1 rdata
  bool details = false;     // true for "details", false for "terse"
  uint16_t rrtype = 0;      // 0 = any type
  uint64_t limit = 0;       // never 0 after a successful parse
  bool time_first_before_set = false;
  int64_t time_first_before = 0;
  bool time_first_after_set = false;
  int64_t time_first_after = 0;
  bool time_last_before_set = false;
  int64_t time_last_before = 0;
  bool time_last_after_set = false;
  int64_t time_last_after = 0;
  uint64_t offset = 0;
  std::optional<std::string> exclude;
  bool with_records = false;  // follow each result with its records from the stores
};

// scope_must_be_known: refuse a search_what other than rrnames/rdata (806) instead of
// accepting it as scope 0.
std::optional<std::string> parse_query_message(std::string_view message, query_request& request,
                                                bool scope_must_be_known);

}  // namespace quarn
