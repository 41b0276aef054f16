#include "output/status_message.h"

#include <cstddef>
#include <limits>

#include "output/json_gen.h"
#include "output/json_messages.h"

namespace quarn {

namespace {

struct StatusEntry {
  int code;
  const char* text;
};

// The standard texts. The typo in 803 is kept: clients compare these texts verbatim.
constexpr StatusEntry kStatusTable[] = {
    {kStatusOk, "OK"},
    {kStatusMissingParameter, "required parameter was missing from request"},
    {kStatusNoResults, "search executed successfully but returned no results"},
    {kStatusIllegalType, "parameter had illegal type"},
    {kStatusInternalError, "internal server error occurred"},
    {kStatusTimedOut, "search timed out waiting for results"},
    {kStatusRegexSyntax, "regular expression contained syntax error"},
    {kStatusRegexUnsupported, "regular expression character specification not supported"},
    {kStatusGlobSyntax, "globbing expression contained contained syntax error"},
    {kStatusGlobUnsupported, "globbing expression character specification not supported"},
    {kStatusInvalidMethod, "query message contained invalid search method"},
    {kStatusInvalidScope, "query message contained invalid search scope"},
    {kStatusInvalidReturn, "query message contained invalid return option"},
    {kStatusInvalidRrtype, "query message contained invalid rrtype"},
    {kStatusInvalidLimit, "query message contained invalid limit"},
    {kStatusExcludeSyntax, "exclude string contained syntax error"},
    {kStatusInvalidLookup, "lookup contained an invalid owner name or rdata value"},
};

constexpr const char kUnknownStatus[] = "unknown error code";

}  // namespace

const char* status_text(int code) {
  for (const StatusEntry& e : kStatusTable) {
    if (e.code == code) return e.text;
  }
  return kUnknownStatus;
}

std::string build_status_message(int code, const char* text) {
  // The caller's text is not bounded, so neither is the message.
  JsonGen gen(std::numeric_limits<size_t>::max());
  if (!gen.valid()) return kStatusBuildFailed;
  bool ok = gen.map_open() && gen.string("fin") && gen.integer(code) && gen.string("msg") &&
            gen.string(text != nullptr ? text : status_text(code)) && gen.map_close();
  if (!ok) return kStatusBuildFailed;
  return gen.text();
}

}  // namespace quarn
