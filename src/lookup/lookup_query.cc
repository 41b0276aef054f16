// Parsing lookup targets; see lookup_query.h.
#include "lookup/lookup_query.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "common/strfmt.h"
#include "lookup/lookup_messages.h"
#include "retrieval/rdata_text.h"
#include "retrieval/rrkit.h"
#include "store/value_order.h"

namespace quarn {
namespace {

// Types a value text is tried as when the caller names none: those whose values analysts
// pivot on. A text that parses as several (a name is a valid NS, CNAME and PTR value)
// gives one target each; the stored text then decides which ones match.
constexpr uint16_t kCommonTypes[] = {1, 28, 2, 5, 12, 39, 15, 16, 33, 257, 13, 35, 99};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

void add_target(uint16_t type, std::string_view text, std::vector<ValueTarget>* out) {
  ValueTarget t;
  t.rrtype = type;
  if (!rrkit_str_to_rdata(type, text, &t.raw)) return;
  // Stored values hold the names of these types in lower case, as their texts show them.
  fold_rdata_name_case(type, std::span<uint8_t>(reinterpret_cast<uint8_t*>(t.raw.data()),
                                                t.raw.size()));
  for (const ValueTarget& o : *out)
    if (o.rrtype == t.rrtype && o.raw == t.raw) return;
  out->push_back(std::move(t));
}

enum class PrefixParse { kNotPrefix, kBad, kOk };

// "<address>/<bits>" of an A or AAAA prefix into the first and last address it covers.
// Text whose part before the "/" is no address is not a prefix (a TXT value may hold a
// "/"); an address with a bad length is a bad prefix.
PrefixParse parse_prefix(std::string_view text, LookupQuery* q) {
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos || slash > 45) return PrefixParse::kNotPrefix;
  const std::string addr(text.substr(0, slash));
  const std::string_view bits_text = text.substr(slash + 1);
  const bool v6 = addr.find(':') != std::string::npos;
  const size_t width = v6 ? 16 : 4;
  unsigned char bytes[16];
  if (inet_pton(v6 ? AF_INET6 : AF_INET, addr.c_str(), bytes) != 1) return PrefixParse::kNotPrefix;
  if (bits_text.empty() || bits_text.size() > 3) return PrefixParse::kBad;
  unsigned bits = 0;
  for (char c : bits_text) {
    if (c < '0' || c > '9') return PrefixParse::kBad;
    bits = bits * 10 + static_cast<unsigned>(c - '0');
  }
  if (bits > 8 * width) return PrefixParse::kBad;
  q->prefix_low.assign(reinterpret_cast<const char*>(bytes), width);
  q->prefix_high = q->prefix_low;
  for (size_t i = 0; i < width; ++i) {
    const unsigned keep = bits >= 8 * (i + 1) ? 8 : (bits > 8 * i ? bits - 8 * i : 0);
    const unsigned char mask = static_cast<unsigned char>(keep == 0 ? 0 : 0xff << (8 - keep));
    q->prefix_low[i] = static_cast<char>(bytes[i] & mask);
    q->prefix_high[i] = static_cast<char>((bytes[i] & mask) | static_cast<unsigned char>(~mask));
  }
  q->prefix_type = v6 ? 28 : 1;
  return PrefixParse::kOk;
}

}  // namespace

bool parse_name_query(std::string_view text, bool include_self, LookupQuery* q,
                      std::string* error) {
  std::string_view name = text;
  const bool subtree = name.size() >= 2 && name.substr(0, 2) == "*.";
  if (subtree) name.remove_prefix(2);
  if (name.size() > 1 && name.back() == '.') name.remove_suffix(1);
  if (name.empty() || name.find_first_of(" \t\n*") != std::string_view::npos) {
    *error = str_fmt(lookup_msg::kBadName, std::string(text).c_str());
    return false;
  }
  q->kind = subtree ? LookupKind::kSubtree : LookupKind::kName;
  q->name = lower(name);
  q->include_self = include_self;
  return true;
}

bool parse_value_query(std::string_view text, uint16_t rrtype, LookupQuery* q,
                       std::string* error) {
  q->rrtype = rrtype;
  const std::string shown(text);
  if (const PrefixParse p = parse_prefix(text, q); p != PrefixParse::kNotPrefix) {
    if (p == PrefixParse::kBad) {
      *error = str_fmt(lookup_msg::kBadPrefix, shown.c_str());
      return false;
    }
    if (rrtype != 0 && rrtype != q->prefix_type) {
      char buf[kRrtypeNameSize];
      *error = str_fmt(lookup_msg::kPrefixType, rrtype_name(rrtype, buf));
      return false;
    }
    q->kind = LookupKind::kPrefix;
    return true;
  }
  q->kind = LookupKind::kValue;
  q->text = shown;
  q->targets.clear();
  const std::string folded = lower(text);
  auto add_both = [&](uint16_t type) {
    add_target(type, text, &q->targets);
    if (folded != shown) add_target(type, folded, &q->targets);
  };
  if (rrtype != 0) {
    add_both(rrtype);
  } else {
    for (uint16_t type : kCommonTypes) add_both(type);
  }
  if (q->targets.empty()) {
    char buf[kRrtypeNameSize];
    *error = rrtype == 0 ? str_fmt(lookup_msg::kBadValue, shown.c_str())
                         : str_fmt(lookup_msg::kBadValueOfType, shown.c_str(),
                                   rrtype_name(rrtype, buf));
    return false;
  }
  std::sort(q->targets.begin(), q->targets.end(), [](const ValueTarget& a, const ValueTarget& b) {
    return value_order(a.raw, a.rrtype, b.raw, b.rrtype) < 0;
  });
  return true;
}

}  // namespace quarn
