// One merged search result and its per-record-type observations.
//
// A result_entry is assembled by the record merger from every string-table line that
// shares one key (an owner name, or an rdata value with its record type), filtered, and
// handed to the caller of the merger's next-result call, which owns it outright (a plain
// value: hold it in a std::unique_ptr or on the stack; destruction frees everything).
// The output layer (text, raw, JSON) only reads it.
//
// Invariants once the merger returns an entry:
//  - auxdata is non-empty and holds at most one element per rrtype, in the order the
//    types were first seen; every rrtype is non-zero.
//  - time_last >= time_first is NOT guaranteed for hand-made entries, but the merger's
//    result filter replaces a time_last of 0 by time_first and a count of 0 by 1.
//  - raw_rdata is set only for results of an rdata index (then it is never empty);
//    results of an owner-name index leave it unset and wildcard false.
//  - key is the text before the first tab of the first line merged (the whole line if
//    it has no tab); it may legitimately be empty for a malformed line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarn {

// Observations of one record type behind a key: how often it was seen and the first and
// last time (seconds since 1970 UTC). Times and count of 0 mean "not recorded".
struct rrtype_summary {
  uint16_t rrtype = 0;
  uint64_t count = 0;
  int64_t time_first = 0;
  int64_t time_last = 0;

  bool operator==(const rrtype_summary&) const = default;
};

// Record type 6 (SOA) in an rdata index marks a wildcard entry.
constexpr uint16_t kWildcardRrtype = 6;

struct result_entry {
  // One element per record type; auxdata.size() is the element count.
  std::vector<rrtype_summary> auxdata;
  // rdata results only: the raw rdata bytes (raw_rdata->size() is their length).
  std::optional<std::vector<uint8_t>> raw_rdata;
  // Set when an rdata result was created from a line whose record type is 6.
  bool wildcard = false;
  // Key text of the first line merged.
  std::string key;
};

}  // namespace quarn
