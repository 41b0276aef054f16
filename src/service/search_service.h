// The search service: HTTP routes over the scopes' data sources.
//
// Routes: POST /v1/search (a query message), GET /v1/search and GET /v1/explain (URL
// parameters), GET /v1/lookup/rrset and /v1/lookup/rdata (record lookups over the record
// stores, service_lookup.h), GET /v1/status (JSON), GET /metrics (Prometheus text). Every /v1/ route
// needs a Bearer key when keys are configured. Answers to searches are NDJSON: result
// lines, then the fin line; a refused request is HTTP 400/401/413/414/503 with a fin
// line as its whole body.
//
// Order of use: construct with the options and the opened scopes, bind() (port 0 picks
// a free one; port() tells which), then serve() on one thread until shutdown() is called
// from another (it stops accepting, lets running searches finish within the grace
// period, aborts the rest, and returns once that is decided; serve() returns when the
// last connection is done). reload() re-reads set files and the keys file at once.
// All public functions are thread-safe. Nothing here ends the process.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "common/my_time.h"
#include "service/pattern_cache.h"
#include "service/phase_metrics.h"
#include "service/search_gate.h"
#include "service/service_lookup.h"
#include "service/service_metrics.h"
#include "service/service_options.h"
#include "service/service_search.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace quarn {

class HttpServer;
class ApiKeys;
class ScopeSource;
class RecordSource;
class ClientProbe;
struct query_request;

inline constexpr const char* kServiceVersion = "1.0.0";

class SearchService {
 public:
  // Either scope may be null (not served); keys null means no key is needed; records
  // null means no lookups (they and with_records are refused with fin 400).
  SearchService(const ServiceOptions& options, std::unique_ptr<ScopeSource> rrnames,
                std::unique_ptr<ScopeSource> rdata, std::unique_ptr<ApiKeys> keys,
                std::unique_ptr<RecordSource> records = nullptr);
  ~SearchService();
  SearchService(const SearchService&) = delete;
  SearchService& operator=(const SearchService&) = delete;

  bool bind();
  int port() const { return port_; }
  bool serve();
  void shutdown();
  void reload();

  const ServiceMetrics& metrics() const { return metrics_; }
  const SearchGate& gate() const { return gate_; }

 private:
  struct SearchState;
  struct LookupState;
  void install_routes();
  bool authorize(const httplib::Request& req, httplib::Response& res);
  void handle_search(const httplib::Request& req, httplib::Response& res, bool post);
  void handle_explain(const httplib::Request& req, httplib::Response& res);
  void handle_lookup(const httplib::Request& req, httplib::Response& res, bool by_value);
  void stream_lookup(LookupState& state, struct StreamSink& sink);
  // Refuses the request (503, or the shutdown fin) when no worker comes; lookups enter
  // as light searches.
  bool enter_gate(SearchGate::Ticket& ticket, ClientProbe& probe, double timeout,
                  httplib::Response& res, SearchGate::Kind kind = SearchGate::Kind::kLight);
  void handle_status(httplib::Response& res);
  void handle_metrics(httplib::Response& res);
  bool parse_request(const httplib::Request& req, httplib::Response& res, bool post,
                     query_request& request);
  ScopeSource* scope(int which) const;
  void stream(SearchState& state, struct StreamSink& sink);
  // Runs the search, spread over idle workers when it is broad (split_search.h).
  SearchOutcome search(SearchState& state, const LineSink& sink, const AbortProbe& probe);
  std::shared_ptr<const ApiKeys> keys() const;
  void wait_for_searches(double seconds) const;

  ServiceOptions options_;
  std::unique_ptr<ScopeSource> scopes_[2];
  std::unique_ptr<RecordSource> records_;
  LookupMetrics lookup_metrics_;
  std::unique_ptr<HttpServer> server_;
  SearchGate gate_;
  ServiceMetrics metrics_;
  PatternCache patterns_;  // shared by every search thread
  PhaseMetrics phases_;
  mutable std::mutex keys_mutex_;
  std::shared_ptr<const ApiKeys> keys_;
  std::atomic<bool> abort_all_{false};
  std::atomic<uint32_t> search_number_{1};
  TimePoint started_;
  int port_ = -1;
};

}  // namespace quarn
