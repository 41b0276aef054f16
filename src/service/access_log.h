// The access log: one line per request at level "info", and the request counters.
//
// A request is handled on one connection thread from its first byte to its fin line
// (the HTTP library calls the pre-routing handler, the route, the content provider and
// the logger on that thread), so the record being filled is per thread:
// begin_access_record() at the start, the handlers fill it, finish_access_record() at
// the end writes the line and counts the request. The key's name is logged, never the
// key; the expression is cut at kAccessExprMax bytes.
#pragma once

#include <cstdint>
#include <string>

#include "common/my_time.h"

namespace httplib {
struct Request;
}

namespace quarn {

class ServiceMetrics;
struct query_request;

// The expression shown in a log line is cut here: a log line is not the place for 4 KiB.
constexpr size_t kAccessExprMax = 200;
// The code logged for a search whose client went away before its fin line.
constexpr int kClientGone = 499;

struct AccessRecord {
  std::string client;   // address:port
  std::string route;    // method and path
  std::string scope = "-";
  std::string method = "-";
  std::string ret = "-";
  std::string expression;
  std::string key = "-";
  int fin = 0;  // 0: the HTTP status stands for it
  uint64_t results = 0;
  TimePoint start;
};

AccessRecord& access_record();
void begin_access_record(const httplib::Request& req);
void note_request(AccessRecord& record, const query_request& request);
void finish_access_record(int http_status, ServiceMetrics& metrics);

}  // namespace quarn
