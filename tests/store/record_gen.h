// Test helpers for record stores: generated records, a builder that sorts and merges them
// in memory and feeds the writer, and the records in both store orders for oracles.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "index/name_order.h"
#include "store/store_record.h"
#include "store/store_writer.h"
#include "store/value_order.h"

namespace quarn::testing {

struct TestRecord {
  std::string name;
  uint16_t rrtype = 0;
  std::string raw;
  int64_t time_first = 0, time_last = 0;
  uint64_t count = 0;
  std::string bailiwick;

  auto key() const { return std::tie(name, rrtype, raw); }
  bool operator==(const TestRecord& o) const {
    return key() == o.key() && time_first == o.time_first && time_last == o.time_last &&
           count == o.count && bailiwick == o.bailiwick;
  }
};

inline void PrintTo(const TestRecord& r, std::ostream* os) {
  *os << r.name << "/" << r.rrtype << "/";
  for (unsigned char c : r.raw) *os << std::hex << (c >> 4) << (c & 15) << std::dec;
  *os << "/" << r.time_first << "-" << r.time_last << "/" << r.count << "/" << r.bailiwick;
}

inline bool name_less(const TestRecord& a, const TestRecord& b) {
  return record_order(a.name, a.rrtype, a.raw, b.name, b.rrtype, b.raw) < 0;
}
inline bool value_less(const TestRecord& a, const TestRecord& b) {
  const int c = value_order(a.raw, a.rrtype, b.raw, b.rrtype);
  return c != 0 ? c < 0 : name_order(a.name, b.name) < 0;
}

// Sorts into name order and merges records of one key as the index builder does
// (counts add, earliest first, latest last, first bailiwick seen).
inline std::vector<TestRecord> merged(std::vector<TestRecord> in) {
  std::stable_sort(in.begin(), in.end(), name_less);
  std::vector<TestRecord> out;
  for (TestRecord& r : in) {
    if (!out.empty() && out.back().key() == r.key()) {
      TestRecord& m = out.back();
      m.count += r.count;
      m.time_first = std::min(m.time_first, r.time_first);
      m.time_last = std::max(m.time_last, r.time_last);
      if (m.bailiwick.empty()) m.bailiwick = r.bailiwick;
    } else {
      out.push_back(std::move(r));
    }
  }
  return out;
}

inline void write_store(const std::string& path, const std::vector<TestRecord>& records) {
  std::string error;
  auto w = StoreWriter::create(path, uint64_t{1} << 30, &error);
  ASSERT_TRUE(w) << error;
  for (const TestRecord& r : merged(records)) {
    RecordInput in{r.name, r.rrtype, r.raw, r.time_first, r.time_last, r.count, r.bailiwick};
    ASSERT_TRUE(w->add(in, &error)) << error;
  }
  ASSERT_TRUE(w->finish(&error)) << error;
}

inline std::string wire_name(const std::string& dotted) {
  std::string out;
  size_t start = 0;
  while (start < dotted.size()) {
    size_t dot = dotted.find('.', start);
    if (dot == std::string::npos) dot = dotted.size();
    out.push_back(static_cast<char>(dot - start));
    out.append(dotted, start, dot - start);
    start = dot + 1;
  }
  out.push_back('\0');
  return out;
}

// Records under a few zones (including look-alikes such as example.com and
// example.community), of types A, AAAA, NS, MX, CNAME and TXT, with values shared
// between names, times in a window of a few weeks and bailiwicks on some.
inline std::vector<TestRecord> generate_records(uint32_t seed, size_t n) {
  std::mt19937 rng(seed);
  auto pick = [&](size_t k) { return static_cast<size_t>(rng() % k); };
  static const char* kZones[] = {"example.com", "example.community", "com", "ex.org",
                                 "a.example.com"};
  static const char* kLabels[] = {"www", "mail", "a", "b", "ns", "x1", "deep", "api"};
  std::vector<TestRecord> out;
  for (size_t i = 0; i < n; ++i) {
    TestRecord r;
    const std::string zone = kZones[pick(5)];
    r.name = zone;
    for (size_t d = pick(4); d > 0; --d) r.name = std::string(kLabels[pick(8)]) + "." + r.name;
    switch (pick(6)) {
      case 0:
        r.rrtype = 1;
        r.raw = {static_cast<char>(192), 0, static_cast<char>(pick(3)), static_cast<char>(pick(256))};
        break;
      case 1:
        r.rrtype = 28;
        r.raw = std::string("\x20\x01\x0d\xb8", 4) + std::string(10, '\0') +
                std::string(1, static_cast<char>(pick(2))) + std::string(1, static_cast<char>(pick(256)));
        break;
      case 2: r.rrtype = 2; r.raw = wire_name("ns" + std::to_string(pick(4)) + ".example.net"); break;
      case 3:
        r.rrtype = 15;
        r.raw = std::string("\0\x0a", 2) + wire_name("mail." + zone);
        break;
      case 4: r.rrtype = 5; r.raw = wire_name("www." + zone); break;
      default: {
        const std::string t = "v=" + std::to_string(pick(20));
        r.rrtype = 16;
        r.raw = std::string(1, static_cast<char>(t.size())) + t;
      }
    }
    r.time_first = 1700000000 + static_cast<int64_t>(pick(2000000));
    r.time_last = r.time_first + static_cast<int64_t>(pick(500000));
    r.count = 1 + pick(100);
    if (pick(3) == 0) r.bailiwick = zone;
    out.push_back(std::move(r));
  }
  return out;
}

// The presentation text of the generated values, worked out independently of the DNS
// library: what a value query names and what an observation line carries.
inline std::string dotted(std::string_view wire) {
  std::string out;
  for (size_t i = 0; i < wire.size() && wire[i] != 0; i += 1 + static_cast<uint8_t>(wire[i])) {
    out.append(wire.substr(i + 1, static_cast<uint8_t>(wire[i]))).push_back('.');
  }
  return out;
}
inline std::string text_of(const TestRecord& r) {
  char buf[64];
  switch (r.rrtype) {
    case 1: return inet_ntop(AF_INET, r.raw.data(), buf, sizeof buf);
    case 28: return inet_ntop(AF_INET6, r.raw.data(), buf, sizeof buf);
    case 15: return "10 " + dotted(std::string_view(r.raw).substr(2));
    case 16: return "\"" + r.raw.substr(1) + "\"";
    default: return dotted(r.raw);
  }
}

// A generated record as one observation line in the common output format (the texts
// hold nothing that JSON would need to escape but the quotes of TXT).
inline std::string cof_line(const TestRecord& r) {
  std::string rdata;
  for (char c : text_of(r)) {
    if (c == '"' || c == '\\') rdata.push_back('\\');
    rdata.push_back(c);
  }
  std::string line = "{\"rrname\":\"" + r.name + ".\",\"rrtype\":" + std::to_string(r.rrtype) +
                     ",\"rdata\":[\"" + rdata + "\"],\"time_first\":" +
                     std::to_string(r.time_first) + ",\"time_last\":" +
                     std::to_string(r.time_last) + ",\"count\":" + std::to_string(r.count);
  if (!r.bailiwick.empty()) line += ",\"bailiwick\":\"" + r.bailiwick + "\"";
  return line + "}\n";
}

}  // namespace quarn::testing
