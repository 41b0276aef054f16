// The JSON reports of the service: /v1/status and /v1/explain, and the per-scope gauges
// of /metrics. Each is built from a snapshot of the scope's loaded indexes (own
// references), so a reload running meanwhile changes nothing under it.
//
// Status: {"version","uptime_seconds","searches":{"running","queued","workers"},
//   "scopes":{"rrnames":{...},"rdata":{...}}}, each scope with its path, whether it is a
//   set file, its last reload (seconds since 1970) and per loaded index file: path,
//   bytes, lines_at_most (the line index covers lines in blocks of 64: the exact count
//   is not recorded), earliest and latest time, and when the file was written (mtime);
//   then, with record stores, "records":{"path","set_file","listed","last_reload",
//   "stores":[{"path","records","bytes","earliest","latest","loaded_at"}]}.
// Explain: {"pattern","query","table_scan","files":[{"path","estimated_lines"}]}, the
//   estimate being the candidate-line estimate of the query over that file (for a table
//   scan, its lines_at_most), without running the search.
#pragma once

#include <string>

#include "common/my_time.h"
#include "service/service_metrics.h"

namespace quarn {

class ScopeSource;
class RecordSource;
struct StoreSnapshot;
class SearchGate;
class search_context;

// records and stores (the snapshot to report) may be null: no "records" member then.
std::string status_report(const ScopeSource* rrnames, const ScopeSource* rdata,
                          const TimePoint& started, const SearchGate& gate,
                          const RecordSource* records = nullptr,
                          const StoreSnapshot* stores = nullptr);
std::string explain_report(search_context& ctx, const ScopeSource& scope);
ScopeGauges scope_gauges(const ScopeSource& scope, const char* name);

}  // namespace quarn
