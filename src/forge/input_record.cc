#include "forge/input_record.h"

#include <cstring>
#include <limits>

#include "forge/cof_reader.h"
#include "forge/input_checks.h"
#include "retrieval/annotation.h"
#include "retrieval/rdata_text.h"
#include "retrieval/rrkit.h"
#include "common/strfmt.h"


namespace quarn {
namespace {

// A JSON integer (no fraction, no exponent) within [lo, hi].
bool json_integer(const CofValue& v, long long lo, long long hi, long long* out) {
  if (v.kind != CofKind::kNumber || !v.is_integer) return false;
  if (v.integer < lo || v.integer > hi) return false;
  *out = v.integer;
  return true;
}

bool is_blank_line(std::string_view line) {
  for (char c : line) {
    if (c != ' ' && c != '\t' && c != '\r') return false;
  }
  return true;
}

// Reads one time field: missing is reported through *present, bad through the result.
bool read_time(const CofValue& v, bool* present, uint32_t* out) {
  *present = v.kind != CofKind::kAbsent && v.kind != CofKind::kNull;
  if (!*present) return true;
  long long x = 0;
  if (!json_integer(v, 1, std::numeric_limits<uint32_t>::max(), &x)) return false;
  *out = static_cast<uint32_t>(x);
  return true;
}

}  // namespace

namespace {

// Every label of a name other than the root is 1 to kMaxLabelLength bytes long.
bool labels_fit(std::string_view name) {
  size_t start = 0;
  for (;;) {
    const size_t dot = name.find('.', start);
    const size_t end = dot == std::string_view::npos ? name.size() : dot;
    if (end == start || end - start > kMaxLabelLength) return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

}  // namespace

bool normalize_owner_name(std::string_view name, std::string* out, const char** reason) {
  auto bad = [reason](const char* why) {
    *reason = why;
    return false;
  };
  const bool root = name == ".";
  if (!root && !name.empty() && name.back() == '.') name.remove_suffix(1);
  if (name.empty()) return bad(kReasonBadName);
  out->clear();
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f) return bad(kReasonBadName);
    out->push_back(u >= 'A' && u <= 'Z' ? static_cast<char>(u + 32) : c);
  }
  if (root) return true;
  // In wire form each dot becomes a length byte, and the first length byte and the
  // root's zero byte come on top.
  if (out->size() + 2 > kMaxNameWireLength || !labels_fit(*out)) {
    return bad(kReasonNotDomainName);
  }
  return true;
}

bool rdata_from_text(uint16_t rrtype, std::string_view text, std::string* wire) {
  if (!rrkit_str_to_rdata(rrtype, text, wire)) return false;
  // Keys follow the texts, which show the names of these types in lower case.
  fold_rdata_name_case(rrtype, std::span<uint8_t>(reinterpret_cast<uint8_t*>(wire->data()),
                                                  wire->size()));
  return true;
}

ParseStatus parse_cof_line(std::string_view line, ParsedLine* out, const char** reason) {
  out->clear();
  if (is_blank_line(line)) return ParseStatus::kBlank;
  auto bad = [reason](const char* why) {
    *reason = why;
    return ParseStatus::kBad;
  };
  // A NUL could not be told from the end of the line by the texts handed on.
  if (line.find('\0') != std::string_view::npos) return bad(kReasonJson);
  // Reused line after line so that its texts keep their capacity.
  thread_local CofFields fields;
  if (!read_cof_fields(line, &fields)) return bad(kReasonJson);
  const CofFields& f = fields;

  if (f.rrname.kind != CofKind::kString || f.rrname.text.empty()) return bad(kReasonNoName);
  if (!normalize_owner_name(f.rrname.text, &out->name, reason)) return ParseStatus::kBad;
  const char* ignored = nullptr;
  if (f.bailiwick.kind != CofKind::kString || f.bailiwick.text.empty() ||
      !normalize_owner_name(f.bailiwick.text, &out->bailiwick, &ignored)) {
    out->bailiwick.clear();
  }

  uint16_t rrtype = 0;
  if (f.rrtype.kind == CofKind::kAbsent) return bad(kReasonNoType);
  if (f.rrtype.kind == CofKind::kString) {
    // A NUL would end the mnemonic early ("A\0AAA" read as A).
    if (f.rrtype.text.find('\0') == std::string::npos) {
      rrtype = rrkit_str_to_rrtype(f.rrtype.text.c_str());
    }
  } else {
    long long t = 0;
    if (json_integer(f.rrtype, 1, 65535, &t)) rrtype = static_cast<uint16_t>(t);
  }
  // Type 255 names a query, never a stored record.
  if (rrtype == 0 || rrtype == kRrtypeAny) return bad(kReasonUnknownType);

  // Sensor times, or for zone-file data the zone times.
  bool has_first = false, has_last = false;
  uint32_t first = 0, last = 0;
  if (!read_time(f.time_first, &has_first, &first) ||
      !read_time(f.time_last, &has_last, &last)) {
    return bad(kReasonBadTime);
  }
  if (!has_first && !has_last) {
    if (!read_time(f.zone_time_first, &has_first, &first) ||
        !read_time(f.zone_time_last, &has_last, &last)) {
      return bad(kReasonBadTime);
    }
  }
  if (!has_first && !has_last) return bad(kReasonNoTime);
  if (!has_first) first = last;
  if (!has_last) last = first;
  if (last < first) return bad(kReasonTimeOrder);

  uint64_t count = 1;  // an observation without a count was seen once
  if (f.count.kind != CofKind::kAbsent && f.count.kind != CofKind::kNull) {
    long long n = 0;
    if (!json_integer(f.count, 0, std::numeric_limits<long long>::max(), &n)) {
      return bad(f.count.kind == CofKind::kNumber && f.count.too_large ? kReasonCountTooLarge
                                                                        : kReasonBadCount);
    }
    count = static_cast<uint64_t>(n);
  }
  const CountValue value{first, last, count};
  out->name_records.push_back({rrtype, value});

  if (f.rdata.kind == CofKind::kAbsent) return bad(kReasonNoRdata);
  auto add_one = [&](const std::string& text) -> bool {
    RdataRecord& r = out->add_rdata();
    r.rrtype = rrtype;
    r.value = value;
    return rdata_from_text(rrtype, text, &r.raw);
  };
  if (f.rdata.kind == CofKind::kArray) {
    // A bad element is left out on its own; the line needs one good element.
    out->rdata_bad = f.rdata_nonstrings;
    for (size_t i = 0; i < f.rdata_items_used; ++i) {
      if (!add_one(f.rdata_items[i])) {
        --out->rdata_used;
        ++out->rdata_bad;
      }
    }
    if (out->rdata_used == 0) return bad(out->rdata_bad == 0 ? kReasonNoRdata : kReasonBadRdata);
  } else if (f.rdata.kind != CofKind::kString || !add_one(f.rdata.text)) {
    return bad(kReasonBadRdata);
  }
  return ParseStatus::kOk;
}

ParseStatus parse_raw_line(std::string_view line, ParsedLine* out, const char** reason) {
  out->clear();
  if (is_blank_line(line)) return ParseStatus::kBlank;
  auto bad = [reason](const char* why) {
    *reason = why;
    return ParseStatus::kBad;
  };
  const size_t tab = line.find('\t');
  if (tab == std::string_view::npos) return bad(kReasonNoTab);
  const std::string_view key = line.substr(0, tab);
  const std::string_view annotation = line.substr(tab + 1);
  // An rdata annotation starts with its raw prefix, whose "/" comes before any ":".
  const size_t slash = annotation.find('/');
  const size_t colon = annotation.find(':');
  if (slash != std::string_view::npos && (colon == std::string_view::npos || slash < colon)) {
    rdata_annotation a;
    if (key.empty() || !parse_rdata_annotation(annotation, &a) || a.raw_length == 0) {
      return bad(kReasonBadAnnotation);
    }
    std::vector<uint8_t> raw;
    if (!parse_raw_rdata(annotation.substr(a.raw_start, a.raw_length), &raw)) {
      return bad(kReasonBadAnnotation);
    }
    if (a.time_first == 0) return bad(kReasonBadTime);
    if (a.time_last < a.time_first) return bad(kReasonTimeOrder);
    fold_rdata_name_case(a.rrtype, raw);
    RdataRecord& r = out->add_rdata();
    r.raw.assign(raw.begin(), raw.end());
    r.rrtype = a.rrtype;
    r.value = CountValue{a.time_first, a.time_last, a.count};
    return ParseStatus::kOk;
  }
  // Spelled as JSON owner names are, so that keys of both inputs merge.
  if (key.empty()) return bad(kReasonNoName);
  if (!normalize_owner_name(key, &out->name, reason)) return ParseStatus::kBad;
  std::vector<rrtype_summary> summaries;
  if (parse_rrname_annotation(annotation, &summaries) == 0) return bad(kReasonBadAnnotation);
  for (const rrtype_summary& s : summaries) {
    if (!time_fits_field(s.time_first) || !time_fits_field(s.time_last)) return bad(kReasonBadTime);
    if (s.time_last < s.time_first) return bad(kReasonTimeOrder);
    out->name_records.push_back({s.rrtype, CountValue{static_cast<uint32_t>(s.time_first),
                                                      static_cast<uint32_t>(s.time_last),
                                                      s.count}});
  }
  return ParseStatus::kOk;
}

ParseStatus parse_input_line(std::string_view line, InputFormat format, ParsedLine* out,
                             const char** reason) {
  if (format == InputFormat::kCof) return parse_cof_line(line, out, reason);
  if (format == InputFormat::kRaw) return parse_raw_line(line, out, reason);
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\r')) ++i;
  return i < line.size() && line[i] == '{' ? parse_cof_line(line, out, reason)
                                           : parse_raw_line(line, out, reason);
}

}  // namespace quarn
