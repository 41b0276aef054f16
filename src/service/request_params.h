// Turning what a client sends into a query_request: a POST body (a query message as it
// stands) or the parameters of a GET URL.
//
// URL parameters are rewritten into the query message they stand for and handed to the
// one query-message parser, so a GET request gets exactly the checks, the order of the
// checks and the codes of a POST request. The fields are those of the message:
// search_method, search_what, return_what, value, rrtype, limit, and optionally the
// four time bounds, offset, exclude and with_records (a flag: "1" or "true" sets it).
// Number fields (limit, offset, the time bounds)
// must be decimal integers that fit 64 bits; anything else is refused with 416 before
// the message is parsed. Other parameters are ignored here (timeout is read by
// request_timeout); a parameter given twice counts once, the first time.
//
// Both return std::nullopt with the request filled, or the fin message to send back
// (HTTP 400); the scope must always be one the service knows.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "output/query_message.h"

namespace quarn {

using UrlParams = std::multimap<std::string, std::string>;

std::optional<std::string> request_from_body(std::string_view body, query_request& request);
std::optional<std::string> request_from_params(const UrlParams& params, query_request& request);

// The query message text the parameters stand for, or the fin message (416) when a
// number parameter is not an integer. Exposed for tests.
bool params_to_message(const UrlParams& params, std::string* message, std::string* fin);

// The first value of a URL parameter, or nullptr when it is absent.
const std::string* first_param(const UrlParams& params, const char* key);

// A number parameter's value: a decimal integer, optionally signed, that fits 64 bits;
// false for anything else.
bool read_integer_param(const std::string& text, int64_t* out);

// The search timeout a request asks for through its "timeout" URL parameter (seconds,
// may be fractional), clamped to max_timeout; default_timeout when absent or not a
// positive number.
double request_timeout(const UrlParams& params, double default_timeout, double max_timeout);

}  // namespace quarn
