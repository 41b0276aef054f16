#include "service/access_log.h"

#include <httplib.h>

#include "common/log.h"
#include "output/query_message.h"
#include "service/service_messages.h"
#include "service/service_metrics.h"

namespace quarn {
namespace {

thread_local AccessRecord t_record;

}  // namespace

AccessRecord& access_record() { return t_record; }

void begin_access_record(const httplib::Request& req) {
  t_record = AccessRecord{};
  t_record.client = req.remote_addr + ":" + std::to_string(req.remote_port);
  t_record.route = req.method + " " + req.path;
  t_record.start = my_gettime();
}

void note_request(AccessRecord& r, const query_request& q) {
  r.scope = q.scope == 1 ? "rdata" : "rrnames";
  r.method = q.regex ? "regex" : "glob";
  r.ret = q.details ? "details" : "terse";
  r.expression = q.value.substr(0, kAccessExprMax);
}

void finish_access_record(int http_status, ServiceMetrics& metrics) {
  AccessRecord& r = t_record;
  const int fin = r.fin != 0 ? r.fin : http_status;
  const TimePoint d = time_diff(r.start, my_gettime());
  const double ms = static_cast<double>(d.sec) * 1e3 + static_cast<double>(d.nsec) / 1e6;
  metrics.count_request(fin, ms / 1e3);
  QLOG(LOG_INFO, service_msg::kAccess, r.client.c_str(), r.route.c_str(), r.scope.c_str(),
       r.method.c_str(), r.ret.c_str(), static_cast<int>(r.expression.size()), r.expression.data(),
       fin, static_cast<unsigned long long>(r.results), ms, r.key.c_str());
}

}  // namespace quarn
