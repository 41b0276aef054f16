#include "service/service_main.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "common/log.h"
#include "service/api_keys.h"
#include "service/record_source.h"
#include "service/scope_source.h"
#include "service/search_service.h"
#include "service/service_messages.h"
#include "service/service_options.h"

namespace quarn {
namespace {

constexpr const char* kLogLevelVariable = "QUARN_LOGLEVEL";

void set_log_level(int verbosity) {
  log_set_level(LOG_INFO);
  if (const char* env = std::getenv(kLogLevelVariable)) {
    const int level = log_parse_level(env);
    if (level < 0) {
      std::fprintf(stderr, service_msg::kBadLogLevel, env);
    } else {
      log_set_level(level);
    }
  }
  for (int i = 0; i < verbosity; ++i) log_set_level(log_get_level() + 1);
}

// Opens the scopes and keys the options name; false (reported) on the first failure.
bool open_inputs(const ServiceOptions& o, std::unique_ptr<ScopeSource> scopes[2],
                 std::unique_ptr<RecordSource>& records, std::unique_ptr<ApiKeys>& keys) {
  std::string error;
  if (!o.records.empty()) {
    records = RecordSource::open(o.records, &error);
    if (!records) {
      std::fputs(error.c_str(), stderr);
      return false;
    }
  }
  const std::string* paths[2] = {&o.rrnames, &o.rdata};
  for (int i = 0; i < 2; ++i) {
    if (paths[i]->empty()) continue;
    scopes[i] = ScopeSource::open(*paths[i], i == 1, &error);
    if (!scopes[i]) {
      std::fputs(error.c_str(), stderr);
      return false;
    }
  }
  if (!o.keys.empty()) {
    keys = ApiKeys::load(o.keys, &error);
    if (!keys) {
      std::fprintf(stderr, service_msg::kBadKeys, o.keys.c_str(), error.c_str());
      return false;
    }
  }
  return true;
}

// Waits for the signals the service acts on (blocked in every thread) and acts on them.
void handle_signals(SearchService& service, const sigset_t& set, std::atomic<bool>& done) {
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (done.load()) return;
    if (sig == SIGHUP) {
      service.reload();
      continue;
    }
    service.shutdown();
    return;
  }
}

}  // namespace

int run_service(int argc, char** argv) {
  log_set_prefix("%s", argv[0]);
  ServiceOptions options;
  std::string error;
  switch (parse_service_options(argc, argv, options, &error)) {
    case kOptionsHelp: std::fputs(service_usage_text(argv[0]).c_str(), stdout); return 0;
    case kOptionsBad:
      std::fputs(error.c_str(), stderr);
      std::fputs(service_usage_text(argv[0]).c_str(), stderr);
      return 1;
    case kOptionsOk: break;
  }
  set_log_level(options.verbosity);

  std::unique_ptr<ScopeSource> scopes[2];
  std::unique_ptr<RecordSource> records;
  std::unique_ptr<ApiKeys> keys;
  if (!open_inputs(options, scopes, records, keys)) return 1;

  // Blocked before any thread starts, so that every thread inherits the mask and only
  // the signal thread ever sees these signals. A client gone mid-write must not end the
  // process either.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);

  SearchService service(options, std::move(scopes[0]), std::move(scopes[1]), std::move(keys),
                        std::move(records));
  if (!service.bind()) {
    std::fprintf(stderr, service_msg::kBindFailed, options.host.c_str(), options.port);
    return 1;
  }
  std::atomic<bool> done{false};
  std::thread signals([&] { handle_signals(service, set, done); });
  service.serve();
  done = true;
  pthread_kill(signals.native_handle(), SIGTERM);  // wakes it if serving ended otherwise
  signals.join();
  QLOG(LOG_INFO, service_msg::kStopped);
  return 0;
}

}  // namespace quarn
