// Common Output Format and text lines of lookup records; see cof_output.h.
#include "output/cof_output.h"

#include "output/json_gen.h"
#include "output/json_write.h"
#include "output/local_time.h"
#include "retrieval/rrkit.h"

namespace quarn {
namespace {

void pad(std::string& out, size_t start, size_t width) {
  const size_t used = out.size() - start;
  out.append(used < width ? width - used : 0, ' ');
  out.push_back(' ');
}

}  // namespace

CofWriter::CofWriter() : gen_(std::make_unique<JsonGen>(kCofObjectLimit)) {}
CofWriter::~CofWriter() = default;

bool CofWriter::append_json(std::string& out, const StoreRecord& r) {
  // The direct writer gives the generator's bytes; the generator stays for the records
  // it refuses, so that they fail (and log) exactly as they always have.
  if (!json_utf8_acceptable(r.name) || !json_utf8_acceptable(r.text) ||
      !json_utf8_acceptable(r.bailiwick)) {
    return append_generated(out, r);
  }
  const size_t n = write_object(r);
  if (n > kCofObjectLimit) return append_generated(out, r);
  out.append(text_.data(), n);
  out.push_back('\n');
  return true;
}

size_t CofWriter::write_object(const StoreRecord& r) {
  // Keys, punctuation, three integers and a type mnemonic: well under this.
  constexpr size_t kFixedBound = 192;
  const size_t bound = kFixedBound + json_string_bound(r.name.size()) +
                       json_string_bound(r.text.size()) + json_string_bound(r.bailiwick.size());
  if (text_.size() < bound) text_.resize(bound);
  char type_buf[kRrtypeNameSize];
  char* const start = text_.data();
  char* p = json_write_string(json_write_raw(start, "{\"rrname\":"), r.name);
  p = json_write_string(json_write_raw(p, ",\"rrtype\":"), rrtype_name(r.rrtype, type_buf));
  p = json_write_string(json_write_raw(p, ",\"rdata\":"), r.text);
  p = json_write_integer(json_write_raw(p, ",\"time_first\":"), r.time_first);
  p = json_write_integer(json_write_raw(p, ",\"time_last\":"), r.time_last);
  p = json_write_unsigned(json_write_raw(p, ",\"count\":"), r.count);
  if (!r.bailiwick.empty()) p = json_write_string(json_write_raw(p, ",\"bailiwick\":"), r.bailiwick);
  *p++ = '}';
  return static_cast<size_t>(p - start);
}

bool CofWriter::append_generated(std::string& out, const StoreRecord& r) {
  JsonGen& g = *gen_;
  char type_buf[kRrtypeNameSize];
  g.reset();
  const bool ok = g.map_open() && g.string("rrname") && g.string(r.name) &&
                  g.string("rrtype") && g.string(rrtype_name(r.rrtype, type_buf)) &&
                  g.string("rdata") && g.string(r.text) && g.string("time_first") &&
                  g.integer(r.time_first) && g.string("time_last") && g.integer(r.time_last) &&
                  g.string("count") && g.unsigned_integer(r.count) &&
                  (r.bailiwick.empty() || (g.string("bailiwick") && g.string(r.bailiwick))) &&
                  g.map_close();
  if (!ok) return false;
  out.append(g.text());
  out.push_back('\n');
  return true;
}

void CofWriter::append_text(std::string& out, const StoreRecord& r) {
  char type_buf[kRrtypeNameSize];
  size_t start = out.size();
  out.append(r.name);
  pad(out, start, 32);
  start = out.size();
  out.append(rrtype_name(r.rrtype, type_buf));
  pad(out, start, 6);
  start = out.size();
  out.append(r.text);
  pad(out, start, 32);
  append_local_time(out, r.time_first);
  out.push_back(' ');
  append_local_time(out, r.time_last);
  out.push_back(' ');
  start = out.size();
  out.append(std::to_string(r.count));
  if (!r.bailiwick.empty()) {
    pad(out, start, 8);
    out.append(r.bailiwick);
  }
  out.push_back('\n');
}

}  // namespace quarn
