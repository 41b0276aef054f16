// Text and raw result forms; the raw form spells its tokens with the observation-text
// writers, so a raw line always reads back as the index line it came from.
#include "output/text_output.h"

#include <charconv>
#include <span>

#include "common/hex.h"
#include "output/local_time.h"
#include "retrieval/annotation.h"
#include "retrieval/rrkit.h"

namespace quarn {
namespace {

// The key is followed by this many blanks in the text form.
constexpr std::string_view kTextKeyGap = "       ";

void append_dec(std::string& out, uint64_t v) {
  char buf[20];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
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
    append_hex_bytes(out, std::span<const uint8_t>(raw).first(cut ? kTextRdataBytes : raw.size()));
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
  if (r.raw_rdata && !r.raw_rdata->empty()) {
    // An rdata line holds exactly one token, after the raw prefix as in the rdata
    // string tables.
    if (!r.auxdata.empty()) {
      append_raw_rdata(out, *r.raw_rdata);
      out.push_back(' ');
      append_annotation_token(out, r.auxdata.front());
    }
  } else {
    bool first = true;
    for (const rrtype_summary& s : r.auxdata) {
      if (!first) out.push_back(' ');
      first = false;
      append_annotation_token(out, s);
    }
  }
  out.push_back('\n');
}

}  // namespace quarn
