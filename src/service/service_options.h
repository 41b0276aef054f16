// The command line of quarnbackendd.
//
// parse_service_options reads argv into ServiceOptions. It prints nothing itself: it
// returns kOptionsOk, kOptionsHelp (the caller prints usage_text to standard output and
// exits 0) or kOptionsBad with the error text in *error (the caller prints it and the
// usage to standard error and exits 1). -v raises the log level one step per use.
// Checks of the files themselves (readable, right kind) happen when the sources are
// built, not here.
#pragma once

#include <cstdint>
#include <string>

namespace quarn {

// Port the service listens on unless told otherwise (unassigned by IANA).
constexpr int kDefaultPort = 8420;
// Waiting searches beyond the busy workers; more are refused with 503 at once.
constexpr unsigned kDefaultQueue = 64;
// Connections served at once; one thread each, so idle keep-alive clients never take a
// search worker.
constexpr unsigned kDefaultConnections = 128;
// The server's cap on a query's limit: the largest answer one request can ask for.
constexpr uint64_t kDefaultMaxLimit = 1000000;
constexpr double kDefaultTimeout = 10;
constexpr double kDefaultMaxTimeout = 60;
// Seconds running searches may finish in after SIGTERM before they are aborted.
constexpr double kDefaultGrace = 10;
// Below this many lines to read a search is not split: threads and slices would cost a
// visible share of it (a table scan reads about ten million lines a second per core).
constexpr uint64_t kDefaultMinSplitLines = 500000;
// Seconds a connection may stay silent (reading a request or between requests).
constexpr int kDefaultIoTimeout = 5;

struct ServiceOptions {
  std::string rrnames;  // set file or index file of owner names ("" = none)
  std::string rdata;    // set file or index file of rdata ("" = none)
  std::string records;  // record store or set file of stores ("" = none)
  std::string host = "127.0.0.1";
  int port = kDefaultPort;
  unsigned workers = 0;  // 0: the number of cores
  // Most workers one broad search may use at once (split_search.h); 0: all of them,
  // 1: searches are never split. min_split_lines is the least a search must read to
  // be split (not on the command line: tests lower it to split small indexes).
  unsigned split_workers = 0;
  uint64_t min_split_lines = kDefaultMinSplitLines;
  unsigned queue = kDefaultQueue;
  unsigned connections = kDefaultConnections;
  uint64_t max_limit = kDefaultMaxLimit;
  double timeout = kDefaultTimeout;
  double max_timeout = kDefaultMaxTimeout;
  double grace = kDefaultGrace;
  int io_timeout = kDefaultIoTimeout;
  std::string keys;  // keys file ("" = no keys required)
  int verbosity = 0;  // number of -v
};

enum OptionsResult { kOptionsOk, kOptionsHelp, kOptionsBad };

OptionsResult parse_service_options(int argc, char** argv, ServiceOptions& out,
                                    std::string* error);

std::string service_usage_text(const char* program);

}  // namespace quarn
