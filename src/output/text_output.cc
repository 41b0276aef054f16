#include "output/text_output.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "output/local_time.h"
#include "retrieval/rrkit.h"
#include "retrieval/annotation.h"

namespace quarn {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
// The key is followed by this many blanks in the text form.
constexpr std::string_view kTextKeyGap = "       ";

void append_hex(std::string& out, uint64_t v) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
  out.append(buf, r.ptr);
}

void append_dec(std::string& out, uint64_t v) {
  char buf[20];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void append_byte_hex(std::string& out, uint8_t b) {
  out.push_back(kHexDigits[b >> 4]);
  out.push_back(kHexDigits[b & 0xf]);
}

// "%s%s/%lu [%s / %s]": separator, type name, count and both times.
void append_text_element(std::string& out, std::string_view sep, const rrtype_summary& s) {
  char name[kRrtypeNameSize];
  out.append(sep);
  out.append(rrtype_name(s.rrtype, name));
  out.push_back('/');
  append_dec(out, s.count);
  out.append(" [");
  append_local_time(out, s.time_first);
  out.append(" / ");
  append_local_time(out, s.time_last);
  out.push_back(']');
}

}  // namespace

const char* rrtype_name(uint16_t type, char (&buf)[kRrtypeNameSize]) {
  // Called for every printed element: no formatting machinery on this path. Mnemonics are
  // static strings and are handed out as they are when they fit the buffer's limit.
  const char* mnemonic = rrkit_rrtype_to_str(type);
  if (mnemonic != nullptr && *mnemonic != '\0') {
    const size_t n = std::strlen(mnemonic);
    if (n < kRrtypeNameSize) return mnemonic;
    std::memcpy(buf, mnemonic, kRrtypeNameSize - 1);
    buf[kRrtypeNameSize - 1] = '\0';
    return buf;
  }
  std::memcpy(buf, "TYPE", 4);
  const auto r = std::to_chars(buf + 4, buf + kRrtypeNameSize - 1, static_cast<unsigned>(type));
  *r.ptr = '\0';
  return buf;
}

void format_text(std::string& out, const result_entry& r) {
  out.append(r.key);
  out.append(kTextKeyGap);
  if (r.auxdata.empty()) {
    out.push_back('\n');
    return;
  }
  if (r.raw_rdata && !r.raw_rdata->empty()) {
    const std::vector<uint8_t>& raw = *r.raw_rdata;
    append_text_element(out, "", r.auxdata.front());
    out.append("\n\t");
    if (r.wildcard) out.append("[wildcard] ");
    const bool cut = raw.size() > kTextRdataBytes;
    if (cut) {
      out.append("[partial/");
      append_dec(out, raw.size());
      out.append(" bytes] ");
    }
    const size_t shown = cut ? kTextRdataBytes : raw.size();
    for (size_t i = 0; i < shown; ++i) append_byte_hex(out, raw[i]);
    if (cut) out.append("...");
    out.push_back('\n');
    return;
  }
  std::string_view sep;
  for (const rrtype_summary& s : r.auxdata) {
    append_text_element(out, sep, s);
    sep = "\t";
  }
  out.push_back('\n');
}

void format_raw(std::string& out, const result_entry& r) {
  out.append(r.key);
  out.push_back('\t');
  const bool rdata = r.raw_rdata && !r.raw_rdata->empty();
  bool first = true;
  for (const rrtype_summary& s : r.auxdata) {
    // The rdata prefix comes before the token, as in the rdata string tables.
    if (rdata) {
      append_dec(out, r.raw_rdata->size());
      out.push_back('/');
      for (uint8_t b : *r.raw_rdata) append_byte_hex(out, b);
      out.push_back(' ');
    }
    if (!first) out.push_back(' ');
    first = false;
    // The letter, else the decimal number; a type whose lone digit is also a letter
    // (type 4 would read back as A) gets a leading zero, so the line reads back exactly.
    append_type_code(out, s.rrtype);
    out.push_back(':');
    append_hex(out, static_cast<uint64_t>(s.time_first));
    // A last time before the first cannot be written as a difference that reads back;
    // it carries no information, so only the first time is written.
    if (s.time_last > s.time_first) {
      out.push_back(',');
      append_hex(out, static_cast<uint64_t>(s.time_last - s.time_first));
    }
    out.push_back(':');
    append_hex(out, s.count);
    if (rdata) break;  // an rdata line holds exactly one token
  }
  out.push_back('\n');
}

}  // namespace quarn
