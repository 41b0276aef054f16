#include "output/json_output.h"

#include <cinttypes>

#include "common/hex.h"

#include "output/json_gen.h"
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

JsonResultWriter::JsonResultWriter()
    : gen_(std::make_unique<JsonGen>(kJsonResultBufferSize - 1)) {}

JsonResultWriter::~JsonResultWriter() = default;

std::string_view JsonResultWriter::text() const { return gen_->text(); }

bool JsonResultWriter::build(const result_entry& r, uint16_t rrtype, bool details) {
  gen_->reset();
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
  if (!gen_->valid()) return false;

  char type_name[kRrtypeNameSize];
  JsonGen& g = *gen_;
  bool ok = g.map_open() && g.string(details ? "details" : "terse") && g.map_open() &&
            g.string(r.raw_rdata ? "rdata" : "rrname") && g.string(r.key) &&
            g.string("rrtype") && g.string(rrtype_name(e->rrtype, type_name));
  if (ok && details) {
    ok = g.string("count") && g.unsigned_integer(e->count) && g.string("time_first") &&
         g.integer(e->time_first) && g.string("time_last") && g.integer(e->time_last);
  }
  if (ok && r.raw_rdata) {
    ok = g.string("raw_rdata") && g.string(std::string_view(hex, hex_len));
  }
  ok = ok && g.map_close() && g.map_close();
  if (!ok) {
    // Generator failures were logged as they happened; running out of room is not a
    // generator failure and is reported here.
    if (g.overflowed()) std::fputs(kJsonResultTooLong, stderr);
    g.reset();
    return false;
  }
  return true;
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
