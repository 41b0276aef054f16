#include "service/service_options.h"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "common/strfmt.h"
#include "service/service_messages.h"

namespace quarn {
namespace {

enum LongOnly { kOptWorkers = 256, kOptQueue, kOptConnections, kOptMaxLimit, kOptTimeout,
                kOptMaxTimeout, kOptGrace, kOptIoTimeout, kOptPort, kOptSplitWorkers };

const option kLongOptions[] = {
    {"rrnames", required_argument, nullptr, 'n'},
    {"rdata", required_argument, nullptr, 'd'},
    {"records", required_argument, nullptr, 'R'},
    {"listen", required_argument, nullptr, 'l'},
    {"port", required_argument, nullptr, kOptPort},
    {"workers", required_argument, nullptr, kOptWorkers},
    {"split-workers", required_argument, nullptr, kOptSplitWorkers},
    {"queue", required_argument, nullptr, kOptQueue},
    {"connections", required_argument, nullptr, kOptConnections},
    {"max-limit", required_argument, nullptr, kOptMaxLimit},
    {"timeout", required_argument, nullptr, kOptTimeout},
    {"max-timeout", required_argument, nullptr, kOptMaxTimeout},
    {"grace", required_argument, nullptr, kOptGrace},
    {"io-timeout", required_argument, nullptr, kOptIoTimeout},
    {"keys", required_argument, nullptr, 'k'},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

// A whole decimal number in [min, max]; false otherwise.
bool parse_count(const char* text, uint64_t min, uint64_t max, uint64_t* out) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

bool parse_seconds(const char* text, double* out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v > 0) || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

// HOST or HOST:PORT (the last colon separates, so "[::1]:80" and "::1" need brackets
// to carry a port).
bool parse_listen(const std::string& text, ServiceOptions& o) {
  const size_t colon = text.rfind(':');
  const bool bracketed = !text.empty() && text[0] == '[';
  if (colon == std::string::npos || (bracketed && text[colon - 1] != ']')) {
    if (text.empty()) return false;
    o.host = bracketed ? text.substr(1, text.size() - 2) : text;
    return true;
  }
  uint64_t port = 0;
  if (!parse_count(text.c_str() + colon + 1, 0, 65535, &port)) return false;
  std::string host = text.substr(0, colon);
  if (bracketed) host = host.substr(1, host.size() - 2);
  if (host.empty()) return false;
  o.host = host;
  o.port = static_cast<int>(port);
  return true;
}

const char* option_name(int c) {
  for (const option& o : kLongOptions)
    if (o.val == c) return o.name;
  return "?";
}

bool apply_number(int c, const char* arg, ServiceOptions& o, std::string* error) {
  uint64_t n = 0;
  double s = 0;
  bool ok = true;
  switch (c) {
    case kOptPort: ok = parse_count(arg, 0, 65535, &n); o.port = static_cast<int>(n); break;
    case kOptWorkers: ok = parse_count(arg, 1, 4096, &n); o.workers = static_cast<unsigned>(n); break;
    case kOptSplitWorkers:
      ok = parse_count(arg, 1, 4096, &n);
      o.split_workers = static_cast<unsigned>(n);
      break;
    case kOptQueue: ok = parse_count(arg, 0, 1u << 20, &n); o.queue = static_cast<unsigned>(n); break;
    case kOptConnections:
      ok = parse_count(arg, 1, 65536, &n);
      o.connections = static_cast<unsigned>(n);
      break;
    case kOptMaxLimit: ok = parse_count(arg, 1, UINT64_MAX, &n); o.max_limit = n; break;
    case kOptIoTimeout: ok = parse_count(arg, 1, 3600, &n); o.io_timeout = static_cast<int>(n); break;
    case kOptTimeout: ok = parse_seconds(arg, &s); o.timeout = s; break;
    case kOptMaxTimeout: ok = parse_seconds(arg, &s); o.max_timeout = s; break;
    case kOptGrace: ok = parse_seconds(arg, &s); o.grace = s; break;
    default: ok = false;
  }
  if (!ok) {
    const bool seconds = c == kOptTimeout || c == kOptMaxTimeout || c == kOptGrace;
    *error = str_fmt(seconds ? service_msg::kBadSeconds : service_msg::kBadNumber,
                     option_name(c), arg);
  }
  return ok;
}

}  // namespace

OptionsResult parse_service_options(int argc, char** argv, ServiceOptions& o,
                                    std::string* error) {
  optind = 0;  // full re-initialisation, so that tests can parse more than once
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, "n:d:R:l:k:vh", kLongOptions, nullptr)) != -1) {
    switch (c) {
      case 'n': o.rrnames = optarg; break;
      case 'd': o.rdata = optarg; break;
      case 'R': o.records = optarg; break;
      case 'k': o.keys = optarg; break;
      case 'v': ++o.verbosity; break;
      case 'h': return kOptionsHelp;
      case 'l':
        if (!parse_listen(optarg, o)) {
          *error = str_fmt(service_msg::kBadListen, optarg);
          return kOptionsBad;
        }
        break;
      case '?':
      case ':': *error = service_msg::kUnknownOption; return kOptionsBad;
      default:
        if (!apply_number(c, optarg, o, error)) return kOptionsBad;
    }
  }
  if (optind < argc) {
    *error = service_msg::kUnknownOption;
    return kOptionsBad;
  }
  if (o.rrnames.empty() && o.rdata.empty() && o.records.empty()) {
    *error = service_msg::kNoSource;
    return kOptionsBad;
  }
  if (o.workers == 0) o.workers = std::max(1u, std::thread::hardware_concurrency());
  if (o.split_workers == 0 || o.split_workers > o.workers) o.split_workers = o.workers;
  if (o.timeout > o.max_timeout) o.timeout = o.max_timeout;
  return kOptionsOk;
}

std::string service_usage_text(const char* p) {
  std::string u;
  append_fmt(u, "Usage: %s [--rrnames PATH] [--rdata PATH] [--records PATH] [options]\n", p);
  u += "Serves searches over owner-name and rdata index files as JSON over HTTP.\n";
  u += "  --rrnames PATH      owner-name set file or index file\n";
  u += "  --rdata PATH        rdata set file or index file\n";
  u += "  --records PATH      record store, or set file of stores, for /v1/lookup and\n"
       "                      with_records (at least one of the three)\n";
  append_fmt(u, "  --listen HOST[:PORT] address to listen on (default 127.0.0.1:%d)\n", kDefaultPort);
  u += "  --port N            port to listen on (0: any free port)\n";
  u += "  --workers N         searches run at once (default: number of cores)\n";
  u += "  --split-workers N   idle workers one broad search may spread over, its own\n"
       "                      included (default: all; 1: never split)\n";
  append_fmt(u, "  --queue N           searches waiting for a worker (default %u)\n", kDefaultQueue);
  append_fmt(u, "  --connections N     connections served at once (default %u)\n",
             kDefaultConnections);
  append_fmt(u, "  --max-limit N       cap on a query's limit (default %llu)\n",
             static_cast<unsigned long long>(kDefaultMaxLimit));
  append_fmt(u, "  --timeout S         seconds a search may go without a result (default %g)\n",
             kDefaultTimeout);
  append_fmt(u, "  --max-timeout S     largest timeout a request may ask for (default %g)\n",
             kDefaultMaxTimeout);
  append_fmt(u, "  --grace S           seconds searches may finish after SIGTERM (default %g)\n",
             kDefaultGrace);
  append_fmt(u, "  --io-timeout S      seconds a connection may stay silent (default %d)\n",
             kDefaultIoTimeout);
  u += "  --keys FILE         require 'Authorization: Bearer KEY' with a key of FILE\n";
  u += "  -v, --verbose       raise the log level (repeatable); QUARN_LOGLEVEL sets it too\n";
  u += "  -h, --help          show this help\n";
  u += "Signals: SIGHUP re-reads set files, stores and keys; SIGTERM drains and exits.\n";
  return u;
}

}  // namespace quarn
