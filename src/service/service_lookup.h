// Record lookups of the service: GET /v1/lookup/rrset and /v1/lookup/rdata, and the
// records that follow each result of a search asked "with_records".
//
// lookup_from_params turns URL parameters into a LookupQuery: rrset takes rrname (an
// owner name, or "*.example.com" for the names under it), rdata takes value (an rdata
// value as the rdata index shows it, or an A/AAAA prefix such as 192.0.2.0/24); both take
// rrtype (a mnemonic or "any"), the four time bounds, limit (capped by the server, the
// server's cap when absent) and offset. Refusals are fin messages for HTTP 400: 400 for
// a missing rrname or value, 416 for a number that is not an integer (an offset below 0
// too), 808 for a bad rrtype, 809 for a limit below 1, 810 for a value over
// kQueryMaxValue bytes, 812 for a name or value that does not parse (the lookup
// library's text, without its "Error: ").
//
// run_lookup streams the merged records as Common Output Format JSON lines in batches to
// the sink, then the caller writes the fin line that decide_lookup_fin gives: 200 after
// at least one record, 404 for none, 504 when no record came for `timeout` seconds, 500
// for a damaged store, a record that cannot be written as JSON, or an abort. The time
// filter, offset and limit are applied here, record by record, so the deadline and the
// abort probe are looked at between any two merged records.
//
// RecordFollower appends, after a search result's line, that key's records: those of the
// owner name for an owner-name search, those whose value is the result's rdata for an
// rdata search, with the request's type and time filters, at most `limit` per result.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "lookup/lookup_query.h"
#include "service/request_params.h"
#include "service/service_search.h"

namespace quarn {

class CofWriter;
struct StoreSnapshot;
struct result_entry;

std::optional<std::string> lookup_from_params(const UrlParams& params, bool by_value,
                                              uint64_t max_limit, LookupQuery* q);

struct LookupOutcome {
  uint64_t records = 0;
  bool timed_out = false;
  bool aborted = false;
  bool damaged = false;
  bool unwritable = false;  // a record that cannot be written as JSON
  bool write_failed = false;
};

LookupOutcome run_lookup(const LookupQuery& q, const StoreSnapshot& stores, double timeout,
                         const LineSink& sink, const AbortProbe& probe);

std::string decide_lookup_fin(const LookupOutcome& o, int* code, const char* abort_text);

class RecordFollower {
 public:
  RecordFollower(const query_request& request, std::shared_ptr<const StoreSnapshot> stores,
                 uint64_t limit);
  ~RecordFollower();
  RecordFollower(const RecordFollower&) = delete;
  RecordFollower& operator=(const RecordFollower&) = delete;

  // Appends the records of the result's key; false when a store turned out damaged or a
  // record could not be written (error() says which).
  bool append(const result_entry& result, std::string& out);
  uint64_t records() const { return records_; }
  const char* error() const { return error_; }

 private:
  const query_request& request_;
  std::shared_ptr<const StoreSnapshot> stores_;
  uint64_t limit_;
  std::unique_ptr<CofWriter> cof_;
  LookupQuery query_;
  uint64_t records_ = 0;
  const char* error_ = nullptr;
};

// Counters of the lookups, rendered after the search metrics.
class LookupMetrics {
 public:
  void count_lookup(uint64_t records) {
    lookups_.fetch_add(1, std::memory_order_relaxed);
    records_.fetch_add(records, std::memory_order_relaxed);
  }
  void count_followed(uint64_t records) { records_.fetch_add(records, std::memory_order_relaxed); }
  // stores may be null (no --records).
  std::string render(const StoreSnapshot* stores) const;

 private:
  std::atomic<uint64_t> lookups_{0};
  std::atomic<uint64_t> records_{0};
};

}  // namespace quarn
