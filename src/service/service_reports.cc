#include "service/service_reports.h"

#include <algorithm>

#include "index/format.h"
#include "index/line_range.h"
#include "index/line_source.h"
#include "planner/tgr_result.h"
#include "retrieval/search_context.h"
#include "service/json_text.h"
#include "service/record_source.h"
#include "store/store_reader.h"
#include "service/scope_source.h"
#include "service/search_gate.h"
#include "service/search_service.h"

namespace quarn {
namespace {

void scope_report(JsonText& j, const ScopeSource& s) {
  j.open();
  j.key("path").str(s.path());
  j.key("set_file").boolean(s.is_set_file());
  j.key("listed").unum(s.listed());
  j.key("last_reload").num(s.last_reload().sec);
  j.key("files").open_array();
  for (const TgdbRef& t : s.indexes()) {
    j.open();
    j.key("path").str(t->path());
    j.key("bytes").unum(t->file_size());
    j.key("lines_at_most").unum(line_count_bound(*t));
    j.key("earliest").num(t->earliest_seen());
    j.key("latest").num(t->latest_seen());
    j.key("mtime").num(t->identity().mtime_sec);
    j.close();
  }
  j.close_array();
  j.close();
}

void records_report(JsonText& j, const RecordSource& r, const StoreSnapshot& snapshot) {
  j.open();
  j.key("path").str(r.path());
  j.key("set_file").boolean(r.is_set_file());
  j.key("listed").unum(snapshot.listed);
  j.key("last_reload").num(r.last_reload().sec);
  j.key("stores").open_array();
  for (const auto& l : snapshot.loaded) {
    const StoreHeader& h = l->store->header();
    j.open();
    j.key("path").str(l->path);
    j.key("records").unum(h.record_count);
    j.key("bytes").unum(h.file_length);
    j.key("earliest").num(h.earliest);
    j.key("latest").num(h.latest);
    j.key("loaded_at").num(l->loaded_at.sec);
    j.close();
  }
  j.close_array();
  j.close();
}

}  // namespace

std::string status_report(const ScopeSource* rrnames, const ScopeSource* rdata,
                          const TimePoint& started, const SearchGate& gate,
                          const RecordSource* records, const StoreSnapshot* stores) {
  JsonText j;
  j.open();
  j.key("version").str(kServiceVersion);
  const TimePoint up = time_diff(started, my_gettime());
  j.key("uptime_seconds").real(static_cast<double>(up.sec) + static_cast<double>(up.nsec) / 1e9);
  j.key("searches").open();
  j.key("running").unum(gate.running());
  j.key("queued").unum(gate.queued());
  j.key("workers").unum(gate.workers());
  j.close();
  j.key("scopes").open();
  if (rrnames) scope_report(j.key("rrnames"), *rrnames);
  if (rdata) scope_report(j.key("rdata"), *rdata);
  j.close();
  if (records && stores) records_report(j.key("records"), *records, *stores);
  j.close();
  return j.take();
}

std::string explain_report(search_context& ctx, const ScopeSource& scope) {
  JsonText j;
  j.open();
  j.key("pattern").str(ctx.pattern_text());
  j.key("query").str(tgr_to_text(ctx.query()));
  j.key("table_scan").boolean(ctx.query() == nullptr);
  j.key("files").open_array();
  for (const TgdbRef& t : scope.indexes()) {
    // From the list sizes in the trigram table alone: explaining reads no list.
    const uint64_t lines = line_count_bound(*t);
    const bool scans = query_scans_table(*t, ctx.query());
    const uint64_t estimate =
        scans ? lines
              : std::min<uint64_t>(lines, static_cast<uint64_t>(
                                              query_candidate_estimate(*t, *ctx.query())));
    j.open();
    j.key("path").str(t->path());
    j.key("table_scan").boolean(scans);
    j.key("estimated_lines").unum(estimate);
    j.close();
  }
  j.close_array();
  j.close();
  return j.take();
}

ScopeGauges scope_gauges(const ScopeSource& scope, const char* name) {
  ScopeGauges g{name};
  for (const TgdbRef& t : scope.indexes()) {
    ++g.files;
    g.bytes += t->file_size();
  }
  const size_t listed = scope.listed();
  g.unloaded = listed > g.files ? listed - g.files : 0;
  return g;
}

}  // namespace quarn
