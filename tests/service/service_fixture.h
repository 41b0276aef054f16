// Shared pieces of the service tests: a generated owner-name index whose answers a
// brute force can compute, an in-process service on a free loopback port, and client
// helpers that split an NDJSON answer into result lines and the fin line.
#pragma once

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "index/name_order.h"
#include "service/api_keys.h"
#include "service/record_source.h"
#include "service/scope_source.h"
#include "service/search_service.h"
#include "support/e2e_support.h"

namespace quarn::test {

constexpr int64_t kT0 = 1577836800;  // 2020-01-01 00:00:00 UTC

struct Obs {
  const char* code;  // type code of the observation grammar
  const char* type;  // its name in JSON
  uint64_t count;
  int64_t first, last;
};

struct Entry {
  std::string name;
  std::vector<Obs> obs;
};

inline std::string hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
  return buf;
}

// n names h<i>.z<i%7>.example.com, each with an A observation and every third with NS,
// times spread so that the time bounds cut through them; sorted in name order.
inline std::vector<Entry> make_entries(int n, int salt = 0) {
  std::vector<Entry> out;
  for (int i = 0; i < n; ++i) {
    Entry e{"h" + std::to_string(i) + ".z" + std::to_string(i % 7) + ".example.com", {}};
    const int64_t first = kT0 + i * 100 + salt;
    e.obs.push_back({"4", "A", static_cast<uint64_t>(i % 5 + 1), first, first + (i % 10) * 1000});
    if (i % 3 == 0) e.obs.push_back({"n", "NS", 2, first + 50, first + 90000});
    out.push_back(std::move(e));
  }
  std::sort(out.begin(), out.end(),
            [](const Entry& a, const Entry& b) { return name_order(a.name, b.name) < 0; });
  return out;
}

inline void write_entries(const std::string& path, const std::vector<Entry>& entries) {
  std::vector<std::string> lines;
  for (const Entry& e : entries) {
    std::string a;
    for (const Obs& o : e.obs) {
      if (!a.empty()) a += ' ';
      a += std::string(o.code) + ":" + hex(o.first) + "," + hex(o.last - o.first) + ":" + hex(o.count);
    }
    lines.push_back(e.name + "\t" + a);
  }
  write_index(path, lines, false, TimeFence{true, static_cast<uint32_t>(kT0), static_cast<uint32_t>(kT0 + 10000000)});
}

// The JSON line the service prints for one element (details form).
inline std::string details_line(const std::string& name, const Obs& o) {
  return "{\"details\":{\"rrname\":\"" + name + "\",\"rrtype\":\"" + o.type +
         "\",\"count\":" + std::to_string(o.count) + ",\"time_first\":" + std::to_string(o.first) +
         ",\"time_last\":" + std::to_string(o.last) + "}}";
}

// An answer split into result lines and its last line.
struct Answer {
  int http = 0;
  std::vector<std::string> lines;
  std::string fin;
};

inline Answer split_answer(const httplib::Result& r) {
  Answer a;
  if (!r) return a;
  a.http = r->status;
  size_t start = 0;
  const std::string& b = r->body;
  while (start < b.size()) {
    size_t nl = b.find('\n', start);
    if (nl == std::string::npos) nl = b.size();
    a.lines.push_back(b.substr(start, nl - start));
    start = nl + 1;
  }
  if (!a.lines.empty()) {
    a.fin = a.lines.back();
    a.lines.pop_back();
  }
  return a;
}

inline std::string fin_line(int code, const std::string& msg) {
  return "{\"fin\":" + std::to_string(code) + ",\"msg\":\"" + msg + "\"}";
}

// A service in this process on a free loopback port, served from its own thread.
class RunningService {
 public:
  // o.rdata and o.records, when set, are opened too.
  RunningService(ServiceOptions o, const std::string& rrnames, std::unique_ptr<ApiKeys> keys = nullptr) {
    o.port = 0;
    o.rrnames = rrnames;
    if (o.workers == 0) o.workers = 2;
    std::string error;
    auto scope = ScopeSource::open(rrnames, false, &error);
    EXPECT_TRUE(scope) << error;
    std::unique_ptr<ScopeSource> rdata;
    if (!o.rdata.empty()) {
      rdata = ScopeSource::open(o.rdata, true, &error);
      EXPECT_TRUE(rdata) << error;
    }
    std::unique_ptr<RecordSource> records;
    if (!o.records.empty()) {
      records = RecordSource::open(o.records, &error);
      EXPECT_TRUE(records) << error;
    }
    service_ = std::make_unique<SearchService>(o, std::move(scope), std::move(rdata), std::move(keys),
                                               std::move(records));
    EXPECT_TRUE(service_->bind());
    thread_ = std::thread([this] { service_->serve(); });
  }
  ~RunningService() {
    service_->shutdown();
    thread_.join();
  }
  int port() const { return service_->port(); }
  SearchService& service() { return *service_; }
  std::unique_ptr<httplib::Client> client() const {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port());
    c->set_read_timeout(20, 0);
    return c;
  }

 private:
  std::unique_ptr<SearchService> service_;
  std::thread thread_;
};

inline std::string search_url(const std::string& value, const std::string& extra = "",
                              const std::string& method = "regex") {
  return "/v1/search?search_method=" + method + "&search_what=rrnames&return_what=details&value=" +
         httplib::detail::encode_query_param(value) + "&rrtype=any&limit=100000" + extra;
}

}  // namespace quarn::test
