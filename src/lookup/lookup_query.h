// What a lookup asks for: records of one owner name or of the names under it, or records
// of one rdata value or of one address prefix, with a type, time bounds, an offset and a
// limit.
//
// The parse functions turn user text into a query and report bad text as false with an
// error from lookup_messages.h; they only fill the part of the query they are named for,
// so that the filters may be set before or after. Time bounds are inclusive and mean
// what they mean in a search: a record passes when each bound that is set holds for its
// merged first and last times.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

enum class LookupKind { kName, kSubtree, kValue, kPrefix };

// One rdata value a value lookup may find: the wire bytes the text gives for a type.
struct ValueTarget {
  std::string raw;
  uint16_t rrtype = 0;
};

struct TimeBounds {
  bool first_after_set = false, first_before_set = false;
  bool last_after_set = false, last_before_set = false;
  int64_t first_after = 0, first_before = 0, last_after = 0, last_before = 0;

  bool passes(int64_t time_first, int64_t time_last) const {
    return !(first_before_set && time_first > first_before) &&
           !(first_after_set && time_first < first_after) &&
           !(last_before_set && time_last > last_before) &&
           !(last_after_set && time_last < last_after);
  }
};

struct LookupQuery {
  LookupKind kind = LookupKind::kName;
  std::string name;            // kName, kSubtree: lower case, no trailing dot
  bool include_self = false;   // kSubtree: the name itself too
  std::string text;            // kValue: the presentation text asked for
  std::vector<ValueTarget> targets;  // kValue: candidates in value order
  uint16_t prefix_type = 0;    // kPrefix: 1 (A) or 28 (AAAA)
  std::string prefix_low, prefix_high;  // kPrefix: first and last address of the range
  uint16_t rrtype = 0;         // 0 = any
  TimeBounds time;
  uint64_t offset = 0;
  uint64_t limit = 0;          // 0 = no limit
};

// "example.com" (exact) or "*.example.com" (the names under it; with include_self the
// name too). Case and one trailing dot are ignored.
bool parse_name_query(std::string_view text, bool include_self, LookupQuery* q,
                      std::string* error);

// An rdata value as the rdata index shows it ("192.0.2.1", "ns1.example.net.",
// "10 mail.example.com."), of the given type or, with rrtype 0, of any common type; or
// an A/AAAA address prefix ("192.0.2.0/24", "2001:db8::/32"). Sets q->rrtype to rrtype.
bool parse_value_query(std::string_view text, uint16_t rrtype, LookupQuery* q,
                       std::string* error);

}  // namespace quarn
