#include "output/json_output.h"

#include <algorithm>
#include <cinttypes>

#include "common/hex.h"

#include "common/log.h"
#include "output/json_gen.h"
#include "output/json_write.h"
#include "output/json_messages.h"
#include "retrieval/rrkit.h"

namespace quarn {

namespace {

const rrtype_summary* find_element(const result_entry& r, uint16_t rrtype) {
  for (const rrtype_summary& s : r.auxdata) {
    if (s.rrtype == rrtype) return &s;
  }
  return nullptr;
}

// Upper-case hexadecimal, two digits per byte, into a fixed buffer: the caller has
// checked the length against kJsonMaxRawRdata.
size_t hex_upper(const std::vector<uint8_t>& bytes, char (&out)[2 * kJsonMaxRawRdata + 1]) {
  size_t n = 0;
  for (uint8_t b : bytes) {
    out[n++] = kHexDigitsUpper[b >> 4];
    out[n++] = kHexDigitsUpper[b & 0xf];
  }
  out[n] = '\0';
  return n;
}

}  // namespace

JsonResultWriter::JsonResultWriter() = default;

JsonResultWriter::~JsonResultWriter() = default;

std::string_view JsonResultWriter::text() const { return std::string_view(text_.data(), size_); }

bool JsonResultWriter::build(const result_entry& r, uint16_t rrtype, bool details) {
  size_ = 0;
  const rrtype_summary* e = find_element(r, rrtype);
  if (e == nullptr) {
    std::fputs(kJsonNoMatchingRrtype, stderr);
    return false;
  }
  char hex[2 * kJsonMaxRawRdata + 1];
  size_t hex_len = 0;
  if (r.raw_rdata) {
    if (r.raw_rdata->size() > kJsonMaxRawRdata) {
      std::fputs(kJsonRawRdataTooLong, stderr);
      return false;
    }
    hex_len = hex_upper(*r.raw_rdata, hex);
  }
  if (!json_utf8_acceptable(r.key)) {
    // The line the generator path has always logged for such a key, which operators and
    // tests match.
    QLOG(LOG_ERROR, kJsonGenFailedFmt, kJsonGenStringFunction,
         static_cast<int>(yajl_gen_invalid_string), json_gen_status_text(yajl_gen_invalid_string));
    return false;
  }
  const size_t n = write_object(r, *e, details, std::string_view(hex, hex_len));
  if (n > kJsonResultBufferSize - 1) {
    std::fputs(kJsonResultTooLong, stderr);
    return false;
  }
  size_ = n;
  return true;
}

size_t JsonResultWriter::write_object(const result_entry& r, const rrtype_summary& e,
                                      bool details, std::string_view hex) {
  // Everything but the key and the hexadecimal text is bounded: the key names, four
  // integers, a type name, punctuation.
  constexpr size_t kFixedBound = 160;
  const size_t bound = kFixedBound + json_string_bound(r.key.size()) + hex.size();
  if (text_.size() < bound) text_.resize(std::max(bound, kJsonResultBufferSize));

  char type_name[kRrtypeNameSize];
  char* const start = text_.data();
  char* p = json_write_raw(start, details ? "{\"details\":{" : "{\"terse\":{");
  p = json_write_raw(p, r.raw_rdata ? "\"rdata\":" : "\"rrname\":");
  p = json_write_string(p, r.key);
  p = json_write_raw(p, ",\"rrtype\":");
  p = json_write_string(p, rrtype_name(e.rrtype, type_name));
  if (details) {
    p = json_write_unsigned(json_write_raw(p, ",\"count\":"), e.count);
    p = json_write_integer(json_write_raw(p, ",\"time_first\":"), e.time_first);
    p = json_write_integer(json_write_raw(p, ",\"time_last\":"), e.time_last);
  }
  if (r.raw_rdata) {
    p = json_write_raw(p, ",\"raw_rdata\":\"");
    p = json_write_raw(p, hex);
    *p++ = '"';
  }
  p = json_write_raw(p, "}}");
  return static_cast<size_t>(p - start);
}

bool JsonResultWriter::append_lines(std::string& out, const result_entry& r, uint16_t selector,
                                    bool details) {
  if (selector != 0) {
    if (!build(r, selector, details)) return false;
    out.append(text());
    out.push_back('\n');
    return true;
  }
  if (r.auxdata.empty()) {
    std::fputs(kJsonNoMatchingRrtype, stderr);
    return false;
  }
  bool all = true;
  for (const rrtype_summary& s : r.auxdata) {
    if (!build(r, s.rrtype, details)) {
      all = false;
      continue;
    }
    out.append(text());
    out.push_back('\n');
  }
  return all;
}

namespace {
JsonResultWriter& thread_writer() {
  thread_local JsonResultWriter writer;
  return writer;
}
}  // namespace

bool format_json(std::string& out, const result_entry& r, uint16_t selector, bool details) {
  return thread_writer().append_lines(out, r, selector, details);
}

bool print_json(FILE* stream, const result_entry& r, uint16_t selector, bool details) {
  thread_local std::string lines;
  lines.clear();
  bool ok = format_json(lines, r, selector, details);
  if (!lines.empty() && std::fwrite(lines.data(), 1, lines.size(), stream) != lines.size()) {
    return false;
  }
  return ok;
}

}  // namespace quarn
