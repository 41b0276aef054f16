#include "service/search_service.h"

#include <httplib.h>

#include <chrono>
#include <thread>

#include "common/log.h"
#include "output/status_message.h"
#include "retrieval/search_context.h"
#include "service/access_log.h"
#include "service/api_keys.h"
#include "service/client_probe.h"
#include "service/connection_pool.h"
#include "service/record_source.h"
#include "service/request_params.h"
#include "service/scope_source.h"
#include "service/service_messages.h"
#include "service/service_reports.h"
#include "service/search_weight.h"
#include "service/service_search.h"
#include "service/split_search.h"

namespace quarn {
namespace {

constexpr const char* kNdjson = "application/x-ndjson";
// Requests larger than these are refused before they are read further.
constexpr size_t kMaxBodyBytes = 64 * 1024;
// A refused request may try again after this many seconds.
constexpr const char* kRetryAfter = "1";
// Aborted searches stop within a probe interval; this bounds the wait for them (a
// search blocked writing to a stalled client waits for the write timeout instead).
constexpr double kAbortWaitSeconds = 1;
// Fin codes of refusals that the code table has no own code for.
constexpr int kFinUnauthorized = 401;

void send_fin(httplib::Response& res, int http_status, int fin, const char* text = nullptr) {
  res.status = http_status;
  res.set_content(build_status_message(fin, text) + "\n", kNdjson);
  access_record().fin = fin;
}

void send_fin_text(httplib::Response& res, int http_status, int fin, const std::string& message) {
  res.status = http_status;
  res.set_content(message + "\n", kNdjson);
  access_record().fin = fin;
}

// The code inside a fin message built by the parsers ({"fin":805,...}).
int fin_code_of(const std::string& message) {
  const size_t colon = message.find(':');
  return colon == std::string::npos ? 0 : std::atoi(message.c_str() + colon + 1);
}

}  // namespace

// The HTTP server with a way to stop accepting that leaves running answers alone: the
// library's stop() also cuts every chunked answer still streaming, which would turn a
// drain into a cut. Shutting the listening socket down ends the accept loop; marking
// the socket gone afterwards (forget_listener) ends the idle keep-alive connections.
class HttpServer final : public httplib::Server {
 public:
  void stop_accepting() {
    const socket_t s = svr_sock_.load();
    if (s != INVALID_SOCKET) ::shutdown(s, SHUT_RDWR);
  }
  void forget_listener() { svr_sock_ = INVALID_SOCKET; }
};

// What a streamed search needs once the handler has returned: the worker, the compiled
// context and the request. Owned by the response's content provider.
struct SearchService::SearchState {
  SearchGate::Ticket ticket;
  std::unique_ptr<search_context> ctx;
  query_request request;
  SearchLimits limits;
  ScopeSource* source = nullptr;
  ClientProbe probe;
  PhaseTimes times;
  uint32_t number = 0;
  std::unique_ptr<RecordFollower> follower;  // with_records only
  explicit SearchState(const httplib::Request& req)
      : probe(req.remote_addr, req.remote_port, req.local_addr, req.local_port) {}
};

// What a streamed lookup needs once the handler has returned.
struct SearchService::LookupState {
  SearchGate::Ticket ticket;
  LookupQuery query;
  double timeout = 0;
  std::shared_ptr<const StoreSnapshot> stores;
  ClientProbe probe;
  explicit LookupState(const httplib::Request& req)
      : probe(req.remote_addr, req.remote_port, req.local_addr, req.local_port) {}
};

struct StreamSink {
  httplib::DataSink& sink;
  uint64_t bytes = 0;
};

SearchService::SearchService(const ServiceOptions& options, std::unique_ptr<ScopeSource> rrnames,
                             std::unique_ptr<ScopeSource> rdata, std::unique_ptr<ApiKeys> keys,
                             std::unique_ptr<RecordSource> records)
    : options_(options),
      records_(std::move(records)),
      server_(std::make_unique<HttpServer>()),
      gate_(options.workers, options.queue),
      keys_(std::move(keys)),
      started_(my_gettime()) {
  scopes_[0] = std::move(rrnames);
  scopes_[1] = std::move(rdata);
  if (options_.split_workers == 0 || options_.split_workers > options_.workers)
    options_.split_workers = options_.workers;
  install_routes();
}

SearchService::~SearchService() = default;

ScopeSource* SearchService::scope(int which) const { return scopes_[which == 1 ? 1 : 0].get(); }

std::shared_ptr<const ApiKeys> SearchService::keys() const {
  std::lock_guard<std::mutex> lock(keys_mutex_);
  return keys_;
}

void SearchService::install_routes() {
  httplib::Server& s = *server_;
  const unsigned threads = options_.connections;
  s.new_task_queue = [threads] { return new ConnectionPool(threads, threads); };
  s.set_payload_max_length(kMaxBodyBytes);
  s.set_read_timeout(options_.io_timeout, 0);
  s.set_write_timeout(options_.io_timeout, 0);
  s.set_keep_alive_timeout(options_.io_timeout);
  s.set_keep_alive_max_count(1000);
  s.set_tcp_nodelay(true);
  s.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    begin_access_record(req);
    if (!ConnectionPool::busy()) return httplib::Server::HandlerResponse::Unhandled;
    res.set_header("Retry-After", kRetryAfter);
    res.set_header("Connection", "close");
    send_fin(res, 503, kStatusInternalError, service_msg::kServerBusy);
    return httplib::Server::HandlerResponse::Handled;
  });
  s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    // Refusals of the HTTP layer itself (oversized body or URL, unknown route).
    const int fin = res.status == 404 ? 404 : 400;
    const char* text = res.status == 413   ? service_msg::kBodyTooLarge
                       : res.status == 414 ? service_msg::kUrlTooLong
                       : res.status == 404 ? service_msg::kNoRoute
                                           : nullptr;
    res.set_content(build_status_message(fin, text) + "\n", kNdjson);
    access_record().fin = res.status;
  });
  s.set_logger([this](const httplib::Request&, const httplib::Response& res) {
    finish_access_record(res.status, metrics_);
  });
  s.Post("/v1/search", [this](const httplib::Request& q, httplib::Response& r) { handle_search(q, r, true); });
  s.Get("/v1/search", [this](const httplib::Request& q, httplib::Response& r) { handle_search(q, r, false); });
  s.Get("/v1/explain", [this](const httplib::Request& q, httplib::Response& r) { handle_explain(q, r); });
  s.Get("/v1/lookup/rrset", [this](const httplib::Request& q, httplib::Response& r) { handle_lookup(q, r, false); });
  s.Get("/v1/lookup/rdata", [this](const httplib::Request& q, httplib::Response& r) { handle_lookup(q, r, true); });
  s.Get("/v1/status", [this](const httplib::Request& q, httplib::Response& r) {
    if (authorize(q, r)) handle_status(r);
  });
  s.Get("/metrics", [this](const httplib::Request&, httplib::Response& r) { handle_metrics(r); });
}

bool SearchService::authorize(const httplib::Request& req, httplib::Response& res) {
  std::shared_ptr<const ApiKeys> k = keys();
  if (!k) return true;
  const std::string* name = k->find(bearer_token(req.get_header_value("Authorization")));
  if (name == nullptr) {
    res.set_header("WWW-Authenticate", "Bearer");
    send_fin(res, 401, kFinUnauthorized, service_msg::kBadKey);
    return false;
  }
  access_record().key = *name;
  return true;
}

bool SearchService::parse_request(const httplib::Request& req, httplib::Response& res, bool post,
                                  query_request& request) {
  std::optional<std::string> refusal =
      post ? request_from_body(req.body, request) : request_from_params(req.params, request);
  if (!refusal && scope(request.scope) == nullptr) {
    refusal = build_status_message(kStatusInvalidScope);
  }
  if (refusal) {
    send_fin_text(res, 400, fin_code_of(*refusal), *refusal);
    return false;
  }
  note_request(access_record(), request);
  return true;
}

void SearchService::handle_search(const httplib::Request& req, httplib::Response& res, bool post) {
  if (!authorize(req, res)) return;
  auto state = std::make_shared<SearchState>(req);
  const TimePoint parse_start = my_gettime();
  if (!parse_request(req, res, post, state->request)) return;
  state->times[Phase::kParse] = elapsed_seconds(parse_start, my_gettime());
  state->source = scope(state->request.scope);
  state->limits.limit = std::min(state->request.limit, options_.max_limit);
  state->limits.offset = state->request.offset;
  state->limits.timeout = request_timeout(req.params, options_.timeout, options_.max_timeout);
  if (state->request.with_records) {
    if (!records_) {
      send_fin(res, 400, kStatusMissingParameter, service_msg::kNoRecords);
      return;
    }
    state->follower = std::make_unique<RecordFollower>(state->request, records_->current(),
                                                       state->limits.limit);
  }
  state->number = search_number_.fetch_add(1);
  state->ctx = std::make_unique<search_context>();
  // Long reference lists of an intersection are left to the matcher: the same results
  // for less work. quarnsearch keeps walking them, since its counters are reported.
  state->ctx->set_intersection_budget(true);
  {
    LogScope log_scope;
    log_set_prefix(service_msg::kSearchPrefix, state->number);
    if (auto refusal = prepare_search(state->request, *state->ctx, &patterns_, &state->times)) {
      send_fin_text(res, 400, fin_code_of(*refusal), *refusal);
      return;
    }
  }
  // Planned before it waits for a worker, so that a light search can pass heavy ones.
  const SearchGate::Kind kind = search_weight(state->ctx->query(), state->source->indexes());
  if (!enter_gate(state->ticket, state->probe, state->limits.timeout, res, kind)) return;
  res.set_chunked_content_provider(
      kNdjson, [this, state](size_t, httplib::DataSink& sink) {
        StreamSink out{sink};
        stream(*state, out);
        sink.done();
        return true;
      },
      [state](bool) { state->ticket.release(); });
}

void SearchService::stream(SearchState& state, StreamSink& out) {
  LogScope log_scope;
  log_set_prefix(service_msg::kSearchPrefix, state.number);
  const LineSink sink = [&out](std::string_view lines) {
    out.bytes += lines.size();
    return out.sink.write(lines.data(), lines.size());
  };
  const AbortProbe probe = [this, &state] { return abort_all_.load() || state.probe.gone(); };
  SearchOutcome o = search(state, sink, probe);
  if (o.records > 0) lookup_metrics_.count_followed(o.records);
  state.follower.reset();
  state.ctx.reset();
  state.ticket.release();  // the worker is free before the client has read the fin line
  int code = 0;
  const std::string fin = decide_fin(o, &code, service_msg::kShuttingDown) + "\n";
  if (!o.write_failed) sink(fin);
  AccessRecord& rec = access_record();
  rec.fin = (o.write_failed || (o.aborted && !abort_all_.load())) ? kClientGone : code;
  rec.results = o.results;
  metrics_.count_search(o.stats, o.results, out.bytes);
  state.times[Phase::kSearch] = o.search_seconds;
  state.times[Phase::kOutput] = o.output_seconds;
  phases_.observe(state.times);
}

SearchOutcome SearchService::search(SearchState& state, const LineSink& sink,
                                    const AbortProbe& probe) {
  data_source& source = state.source->source();
  // A search that follows records appends them as it goes, so it stays on one thread.
  if (state.follower)
    return run_search_request(state.request, state.limits, *state.ctx, source, sink, probe,
                              state.follower.get());
  const SplitSettings settings{options_.split_workers, options_.min_split_lines};
  const uint32_t number = state.number;
  SplitHooks hooks;
  hooks.make_context = [this, &state]() -> std::unique_ptr<search_context> {
    auto ctx = std::make_unique<search_context>();
    ctx->set_intersection_budget(state.ctx->intersection_budget());
    if (prepare_search(state.request, *ctx, &patterns_)) return nullptr;
    return ctx;
  };
  hooks.on_thread_start = [number] { log_set_prefix(service_msg::kSearchPrefix, number); };
  bool split = false;
  SearchOutcome o = run_search_split_or_whole(state.request, state.limits, *state.ctx, source,
                                              settings, gate_, hooks, sink, probe, &split);
  if (split) metrics_.count_split();
  return o;
}

bool SearchService::enter_gate(SearchGate::Ticket& ticket, ClientProbe& probe, double timeout,
                               httplib::Response& res, SearchGate::Kind kind) {
  SearchGate::Refusal why;
  const auto wait = std::chrono::milliseconds(static_cast<int64_t>(timeout * 1000));
  ticket = gate_.enter(kind, wait, [&probe] { return probe.gone(); }, &why);
  if (ticket) return true;
  res.set_header("Retry-After", kRetryAfter);
  send_fin(res, 503, kStatusInternalError,
           why == SearchGate::Refusal::kClosed ? service_msg::kShuttingDown : service_msg::kServerBusy);
  return false;
}

void SearchService::handle_lookup(const httplib::Request& req, httplib::Response& res,
                                  bool by_value) {
  if (!authorize(req, res)) return;
  AccessRecord& rec = access_record();
  rec.scope = by_value ? "rdata" : "rrset";
  rec.method = "lookup";
  const auto text = req.params.find(by_value ? "value" : "rrname");
  if (text != req.params.end()) rec.expression = text->second.substr(0, kAccessExprMax);
  if (!records_) {
    send_fin(res, 400, kStatusMissingParameter, service_msg::kNoRecords);
    return;
  }
  auto state = std::make_shared<LookupState>(req);
  if (auto refusal = lookup_from_params(req.params, by_value, options_.max_limit, &state->query)) {
    send_fin_text(res, 400, fin_code_of(*refusal), *refusal);
    return;
  }
  state->timeout = request_timeout(req.params, options_.timeout, options_.max_timeout);
  if (!enter_gate(state->ticket, state->probe, state->timeout, res)) return;
  state->stores = records_->current();
  res.set_chunked_content_provider(
      kNdjson, [this, state](size_t, httplib::DataSink& sink) {
        StreamSink out{sink};
        stream_lookup(*state, out);
        sink.done();
        return true;
      },
      [state](bool) { state->ticket.release(); });
}

void SearchService::stream_lookup(LookupState& state, StreamSink& out) {
  const LineSink sink = [&out](std::string_view lines) {
    out.bytes += lines.size();
    return out.sink.write(lines.data(), lines.size());
  };
  const AbortProbe probe = [this, &state] { return abort_all_.load() || state.probe.gone(); };
  const LookupOutcome o = run_lookup(state.query, *state.stores, state.timeout, sink, probe);
  state.stores.reset();
  state.ticket.release();
  int code = 0;
  const std::string fin = decide_lookup_fin(o, &code, service_msg::kShuttingDown) + "\n";
  if (!o.write_failed) sink(fin);
  AccessRecord& rec = access_record();
  rec.fin = (o.write_failed || (o.aborted && !abort_all_.load())) ? kClientGone : code;
  rec.results = o.records;
  lookup_metrics_.count_lookup(o.records);
}

void SearchService::handle_explain(const httplib::Request& req, httplib::Response& res) {
  if (!authorize(req, res)) return;
  query_request request;
  if (!parse_request(req, res, false, request)) return;
  search_context ctx;
  if (auto refusal = prepare_search(request, ctx, &patterns_)) {
    send_fin_text(res, 400, fin_code_of(*refusal), *refusal);
    return;
  }
  res.set_content(explain_report(ctx, *scope(request.scope)) + "\n", "application/json");
  access_record().fin = kStatusOk;
}

void SearchService::handle_status(httplib::Response& res) {
  std::shared_ptr<const StoreSnapshot> stores = records_ ? records_->current() : nullptr;
  res.set_content(status_report(scopes_[0].get(), scopes_[1].get(), started_, gate_,
                                records_.get(), stores.get()) + "\n",
                  "application/json");
  access_record().fin = kStatusOk;
}

void SearchService::handle_metrics(httplib::Response& res) {
  std::vector<ScopeGauges> gauges;
  for (int i = 0; i < 2; ++i)
    if (scopes_[i]) gauges.push_back(scope_gauges(*scopes_[i], i == 1 ? "rdata" : "rrnames"));
  std::shared_ptr<const StoreSnapshot> stores = records_ ? records_->current() : nullptr;
  res.set_content(metrics_.render(gate_.running(), gate_.queued(), gauges) +
                      lookup_metrics_.render(stores.get()) + phases_.render(patterns_.counters()),
                  "text/plain; version=0.0.4");
  access_record().fin = kStatusOk;
}

bool SearchService::bind() {
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(options_.host);
  } else {
    port_ = server_->bind_to_port(options_.host, options_.port) ? options_.port : -1;
  }
  return port_ > 0;
}

bool SearchService::serve() {
  QLOG(LOG_INFO, service_msg::kListening, options_.host.c_str(), port_, options_.workers,
       options_.queue);
  return server_->listen_after_bind();
}

void SearchService::shutdown() {
  QLOG(LOG_INFO, service_msg::kDraining, options_.grace);
  gate_.close();  // queued and later searches are refused; running ones go on
  server_->stop_accepting();
  wait_for_searches(options_.grace);
  abort_all_ = true;  // the rest stop within a probe interval, each with its fin line
  wait_for_searches(kAbortWaitSeconds);
  server_->forget_listener();
}

void SearchService::wait_for_searches(double seconds) const {
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
  while (gate_.running() > 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void SearchService::reload() {
  QLOG(LOG_INFO, service_msg::kReloading);
  for (auto& s : scopes_) {
    if (!s) continue;
    metrics_.count_reload();
    if (!s->reload_now()) metrics_.count_failed_load();
  }
  if (records_) {
    metrics_.count_reload();
    if (!records_->reload_now()) metrics_.count_failed_load();
  }
  if (options_.keys.empty()) return;
  std::string error;
  std::unique_ptr<ApiKeys> fresh = ApiKeys::load(options_.keys, &error);
  if (!fresh) {
    QLOG(LOG_ERROR, service_msg::kKeysKept, options_.keys.c_str(), error.c_str());
    return;
  }
  std::lock_guard<std::mutex> lock(keys_mutex_);
  keys_ = std::move(fresh);
}

}  // namespace quarn
