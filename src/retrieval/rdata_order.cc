// Order of rdata lines: raw bytes first, then the record type as one more byte.
//
// Runs inside the merger's heap for every candidate line, so it compares the hex digits
// in place and parses an annotation only when the bytes leave the order open.
#include "retrieval/rdata_order.h"

#include <cstring>

#include "common/hex.h"
#include "common/log.h"
#include "retrieval/annotation.h"
#include "retrieval/records_messages.h"

namespace quarn {
namespace {

// Longest length field of a raw prefix, and its greatest value (an rdata value is at
// most 65535 bytes on the wire).
constexpr size_t kMaxLengthDigits = 5;
constexpr unsigned kMaxRdataLength = 65535;

enum class Shape { kOk, kNoTab, kBadPrefix };

struct RawView {
  Shape shape = Shape::kOk;
  std::string_view digits;  // the hex digits after "/"
  std::string_view rest;    // the line after the digits (blank and token)
};

RawView split_line(std::string_view line) {
  RawView v;
  const size_t tab = line.find('\t');
  if (tab == std::string_view::npos) {
    v.shape = Shape::kNoTab;
    return v;
  }
  const size_t slash = line.find('/', tab + 1);
  if (slash == std::string_view::npos) {
    v.shape = Shape::kBadPrefix;
    return v;
  }
  const std::string_view field = line.substr(tab + 1, slash - tab - 1);
  unsigned len = 0;
  bool ok = !field.empty() && field.size() <= kMaxLengthDigits;
  for (size_t i = 0; ok && i < field.size(); ++i) {
    if (field[i] < '0' || field[i] > '9') ok = false;
    len = len * 10 + static_cast<unsigned>(field[i] - '0');
  }
  if (!ok || len == 0 || len > kMaxRdataLength) {
    v.shape = Shape::kBadPrefix;
    return v;
  }
  size_t end = slash + 1;
  while (end < line.size() && hex_digit_value(line[end]) >= 0) ++end;
  v.digits = line.substr(slash + 1, end - slash - 1);
  v.rest = line.substr(end);
  return v;
}

std::string_view first_line(std::string_view s) {
  const size_t lf = s.find('\n');
  return lf == std::string_view::npos ? s : s.substr(0, lf);
}

}  // namespace

int rdata_line_compare(std::string_view a, std::string_view b) {
  a = first_line(a);
  b = first_line(b);
  if (a.empty() || b.empty()) return static_cast<int>(!a.empty()) - static_cast<int>(!b.empty());

  const RawView ra = split_line(a);
  const RawView rb = split_line(b);
  if (ra.shape == Shape::kNoTab) QLOG(LOG_FAILURE, "%s", kMsgRdataNoTabA);
  if (rb.shape == Shape::kNoTab) QLOG(LOG_FAILURE, "%s", kMsgRdataNoTabB);
  // Malformed lines form one class ordered before every well-formed line, so that the
  // order stays consistent (and a merger keeps walking) over a damaged table.
  const bool bad_a = ra.shape != Shape::kOk;
  const bool bad_b = rb.shape != Shape::kOk;
  if (bad_a || bad_b) return static_cast<int>(bad_b) - static_cast<int>(bad_a);

  const size_t n = ra.digits.size() < rb.digits.size() ? ra.digits.size() : rb.digits.size();
  for (size_t i = 0; i < n; ++i) {
    if (ra.digits[i] == rb.digits[i]) continue;  // the common case: same digit, same case
    const int x = hex_digit_value(ra.digits[i]);
    const int y = hex_digit_value(rb.digits[i]);
    if (x != y) return x < y ? -1 : 1;
  }

  rdata_annotation ann_a;
  rdata_annotation ann_b;
  if (ra.digits.size() == rb.digits.size()) {
    if (!parse_rdata_annotation(ra.rest, &ann_a)) {
      QLOG(LOG_ERROR, "%s", kMsgEqualParseA);
      return 0;
    }
    if (!parse_rdata_annotation(rb.rest, &ann_b)) {
      QLOG(LOG_ERROR, "%s", kMsgEqualParseB);
      return 0;
    }
    return ann_a.rrtype < ann_b.rrtype ? -1 : (ann_a.rrtype > ann_b.rrtype ? 1 : 0);
  }

  // One value is a proper prefix of the other: the shorter value's type competes with
  // the longer value's next byte.
  const bool a_shorter = ra.digits.size() < rb.digits.size();
  const RawView& shorter = a_shorter ? ra : rb;
  const std::string_view longer = a_shorter ? rb.digits : ra.digits;
  rdata_annotation ann;
  if (!parse_rdata_annotation(shorter.rest, &ann)) {
    QLOG(LOG_ERROR, "%s", kMsgPrefixParseA);
    return 0;
  }
  if (longer.size() < n + 2) {
    QLOG(LOG_ERROR, "%s", kMsgPrefixParseB);
    return 0;
  }
  const unsigned next_byte =
      static_cast<unsigned>(hex_digit_value(longer[n]) << 4 | hex_digit_value(longer[n + 1]));
  const int shorter_first = ann.rrtype < next_byte ? -1 : 1;
  return a_shorter ? shorter_first : -shorter_first;
}

int rdata_line_compare(const char* a, const char* b) {
  return rdata_line_compare(std::string_view(a ? a : ""), std::string_view(b ? b : ""));
}

}  // namespace quarn
