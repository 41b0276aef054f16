// One search of the service: a query_request prepared into a search_context, then run
// over a data source into NDJSON lines with the fin line last.
//
// prepare_search installs the request's filters (rrtype, the four time bounds), checks
// and compiles the expression and the exclusion. The expression is parsed on its own
// first so that a fault is classified by the parser's own message: syntax (801 regex,
// 803 glob) or a character the dialect does not support (802, 804); an exclusion that
// does not compile is 811. The fin's msg is the parser's positioned text.
//
// run_search_request walks the merger: results that pass every filter are counted, the
// first `offset` skipped, then up to `limit` written as JSON lines ("details" or
// "terse"; with an rrtype only that type's element, otherwise one line per type), in
// key order. Lines are handed to the sink in batches; the fin line ends the answer, and
// decide_fin is the one place where the outcome becomes a code. The probe (may be null)
// is asked every probe interval while the search runs; true aborts it (a client that
// went away, a server shutting down).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/search_stats.h"
#include "index/tgdb.h"
#include "output/query_message.h"

namespace quarn {

class data_source;
class search_context;
class PatternCache;
struct PhaseTimes;
class RecordFollower;
struct result_entry;

// Lines are sent in batches of about this size: large enough to amortise the writes,
// small enough that a client sees the first results early.
inline constexpr size_t kResultBatchBytes = 32 * 1024;

// Returns std::nullopt when the context is ready, else the fin message (HTTP 400). With
// a cache, the expression and the exclusion are looked up there first and prepared ones
// are added to it (a refused expression is not kept); with times, the plan and compile
// phases are added to them.
std::optional<std::string> prepare_search(const query_request& request, search_context& ctx,
                                          PatternCache* cache = nullptr,
                                          PhaseTimes* times = nullptr);

// The fin code and text of a parse or compile error of the expression.
int expression_error_code(bool regex, const std::string& parser_text);

struct SearchLimits {
  uint64_t limit = 0;   // already capped by the server
  uint64_t offset = 0;
  double timeout = 0;   // seconds since the last result; 0 = none
};

// Why a search ended, as the fin line reports it.
struct SearchOutcome {
  uint64_t results = 0;     // lines' results written (after offset)
  bool timed_out = false;
  bool aborted = false;     // the probe ended it
  bool damaged = false;     // an index turned out damaged
  bool no_source = false;   // nothing to search in this scope
  bool write_failed = false;
  const char* records_error = nullptr;  // the records of a result could not be added
  uint64_t records = 0;                 // records written after results (with_records)
  SearchStats stats;
  double search_seconds = 0;  // walking the merger
  double output_seconds = 0;  // formatting (sampled, see phase_metrics.h) and writing
};

// The fin code and message of an outcome; abort_text is the message of an abort (the
// client never sees one when it went away).
std::string decide_fin(const SearchOutcome& outcome, int* code, const char* abort_text);

// Writes a batch of lines; false when the client can no longer be written to.
using LineSink = std::function<bool(std::string_view)>;
using AbortProbe = std::function<bool()>;

// follower (may be null) appends each written result's records after its line.
SearchOutcome run_search_request(const query_request& request, const SearchLimits& limits,
                                 search_context& ctx, data_source& source,
                                 const LineSink& sink, const AbortProbe& probe,
                                 RecordFollower* follower = nullptr);
// The same over indexes already taken from the source (data_source::refreshed_indexes);
// an empty list ends as no_source.
SearchOutcome run_search_over(const query_request& request, const SearchLimits& limits,
                              search_context& ctx, const std::vector<TgdbRef>& indexes,
                              const LineSink& sink, const AbortProbe& probe,
                              RecordFollower* follower = nullptr);

// Appends the JSON lines of one result to batch. The n-th result (from 0) of a search
// adds its formatting time to *seconds when it is one of the sampled ones
// (phase_metrics.h); the weight of a sample stands for the results not timed.
void format_result(const query_request& request, const result_entry& result, uint64_t n,
                   std::string& batch, double* seconds);

}  // namespace quarn
