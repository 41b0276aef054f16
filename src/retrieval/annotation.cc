// Readers and writer of the observation text; the grammar is described in the header.
//
// The readers run once per candidate line in the merger, so they work on views of the
// line in place: nothing is copied or allocated except the output vector's growth.
#include "retrieval/annotation.h"

#include <array>
#include <charconv>
#include <limits>

#include "common/hex.h"
#include "common/log.h"
#include "common/strfmt.h"
#include "retrieval/records_messages.h"

namespace quarn {

const rrtype_letter_entry rrtype_letter_table[22] = {
    {1, "A", '4'},      {2, "NS", 'n'},     {5, "CNAME", 'c'},    {6, "SOA", 's'},
    {10, "NULL", '0'},  {11, "WKS", 'w'},   {12, "PTR", 'p'},     {13, "HINFO", 'h'},
    {15, "MX", 'm'},    {16, "TXT", 't'},   {17, "RP", 'r'},      {28, "AAAA", '6'},
    {29, "LOC", 'l'},   {30, "NXT", 'x'},   {33, "SRV", 'v'},     {35, "NAPTR", 'N'},
    {39, "DNAME", 'd'}, {44, "SSHFP", 'f'}, {52, "TLSA", 'T'},    {59, "CDS", 'C'},
    {60, "CDNSKEY", 'k'}, {99, "SPF", 'S'},
};

namespace {

// The table covers types 1-99; both directions are direct lookups.
constexpr size_t kLetterTypeLimit = 100;

struct LetterMaps {
  std::array<char, kLetterTypeLimit> letter_of_type{};
  std::array<uint16_t, 256> type_of_letter{};
};

const LetterMaps& letter_maps() {
  static const LetterMaps maps = [] {
    LetterMaps m;
    for (const auto& e : rrtype_letter_table) {
      m.letter_of_type[e.rrtype] = e.letter;
      m.type_of_letter[static_cast<unsigned char>(e.letter)] = e.rrtype;
    }
    return m;
  }();
  return maps;
}

// Longest type number, in decimal digits, that a type code may carry.
constexpr size_t kMaxTypeDigits = 7;
// Longest raw-rdata length field, in decimal digits.
constexpr size_t kMaxRawLengthDigits = 14;
// Longest times or count field of an rdata annotation.
constexpr size_t kMaxRdataField = 127;
// 16 hex digits fill 64 bits; more cannot be represented.
constexpr size_t kMaxHexDigits = 16;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Blanks, tabs and the like, but never a line feed: skipping one would walk into the
// next line of a mapped string table.
bool is_inline_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

size_t skip_inline_space(std::string_view s, size_t i) {
  while (i < s.size() && is_inline_space(s[i])) ++i;
  return i;
}

std::string_view up_to_line_feed(std::string_view s) {
  const size_t lf = s.find('\n');
  return lf == std::string_view::npos ? s : s.substr(0, lf);
}

// The whole field must be 1-16 hex digits.
bool parse_hex(std::string_view s, uint64_t* out) {
  if (s.empty() || s.size() > kMaxHexDigits) return false;
  uint64_t v = 0;
  for (char c : s) {
    const int d = hex_digit_value(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  *out = v;
  return true;
}

// The whole field must be 1..max_digits decimal digits (max_digits <= 18: no overflow).
bool parse_decimal(std::string_view s, size_t max_digits, uint64_t* out) {
  if (s.empty() || s.size() > max_digits) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (!is_digit(c)) return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  *out = v;
  return true;
}

// "first[,diff]" with first + diff not above limit. An empty field is times 0.
bool parse_times(std::string_view s, uint64_t limit, uint64_t* first, uint64_t* last) {
  if (s.empty()) {
    *first = *last = 0;
    return true;
  }
  const size_t comma = s.find(',');
  uint64_t f = 0;
  uint64_t d = 0;
  if (!parse_hex(s.substr(0, comma), &f)) return false;
  if (comma != std::string_view::npos && !parse_hex(s.substr(comma + 1), &d)) return false;
  if (f > limit || d > limit - f) return false;
  *first = f;
  *last = f + d;
  return true;
}

// An empty count field is count 0.
bool parse_count(std::string_view s, uint64_t* count) {
  if (s.empty()) {
    *count = 0;
    return true;
  }
  return parse_hex(s, count);
}

bool parse_rrname_token(std::string_view token, rrtype_summary* out) {
  const uint16_t type = parse_type_code(token);
  if (type == 0) return false;
  *out = rrtype_summary{};
  out->rrtype = type;
  const size_t colon = token.find(':');
  if (colon == std::string_view::npos) return true;
  std::string_view rest = token.substr(colon + 1);
  const size_t second = rest.find(':');
  uint64_t first = 0;
  uint64_t last = 0;
  if (!parse_times(rest.substr(0, second), std::numeric_limits<int64_t>::max(), &first, &last))
    return false;
  if (second != std::string_view::npos && !parse_count(rest.substr(second + 1), &out->count))
    return false;
  out->time_first = static_cast<int64_t>(first);
  out->time_last = static_cast<int64_t>(last);
  return true;
}

}  // namespace

char rrtype_letter(uint16_t rrtype) {
  return rrtype < kLetterTypeLimit ? letter_maps().letter_of_type[rrtype] : '\0';
}

uint16_t rrtype_of_letter(char c) {
  return letter_maps().type_of_letter[static_cast<unsigned char>(c)];
}

void append_type_code(std::string& out, uint16_t rrtype) {
  const char letter = rrtype_letter(rrtype);
  if (letter != '\0') {
    out.push_back(letter);
  } else if (rrtype < 10 && rrtype_of_letter(static_cast<char>('0' + rrtype)) != 0) {
    // A lone digit that is also a letter would read back as the letter's type (type 4
    // would become A); a leading zero keeps it decimal.
    append_fmt(out, "0%u", static_cast<unsigned>(rrtype));
  } else {
    append_fmt(out, "%u", static_cast<unsigned>(rrtype));
  }
}

uint16_t parse_type_code(std::string_view token) {
  if (token.empty()) return 0;
  if (token.size() == 1 || token[1] == ':') {
    const uint16_t type = rrtype_of_letter(token[0]);
    if (type != 0) return type;
    if (!is_digit(token[0])) return 0;
  }
  const size_t colon = token.find(':');
  if (colon == std::string_view::npos) return 0;
  uint64_t v = 0;
  if (!parse_decimal(token.substr(0, colon), kMaxTypeDigits, &v)) return 0;
  // Seven digits reach past 16 bits; a type that does not fit is no type at all.
  if (v > std::numeric_limits<uint16_t>::max()) return 0;
  return static_cast<uint16_t>(v);
}

size_t parse_rrname_annotation(std::string_view text, std::vector<rrtype_summary>* out) {
  out->clear();
  std::string_view line = up_to_line_feed(text.substr(skip_inline_space(text, 0)));
  if (line.empty()) return 0;
  size_t start = 0;
  while (true) {
    const size_t blank = line.find(' ', start);
    const std::string_view token = line.substr(start, blank == std::string_view::npos
                                                         ? std::string_view::npos
                                                         : blank - start);
    rrtype_summary s;
    if (!parse_rrname_token(token, &s)) {
      out->clear();
      return 0;
    }
    out->push_back(s);
    if (blank == std::string_view::npos) break;
    start = blank + 1;
  }
  return out->size();
}

bool parse_rdata_annotation(std::string_view text, rdata_annotation* out) {
  *out = rdata_annotation{};
  const size_t begin = skip_inline_space(text, 0);
  const std::string_view line = up_to_line_feed(text);
  if (begin >= line.size()) return false;

  size_t pos = begin;
  const size_t mark = line.find_first_of(":/", begin);
  if (mark == std::string_view::npos) return false;
  if (line[mark] == '/') {
    uint64_t len = 0;
    if (!parse_decimal(line.substr(begin, mark - begin), kMaxRawLengthDigits, &len) || len == 0)
      return false;
    const size_t digits = mark + 1;
    const size_t available = line.size() - digits;
    if (available < 2 * len + 1) return false;  // the digits and the blank after them
    const size_t end = digits + 2 * len;
    for (size_t i = digits; i < end; ++i)
      if (hex_digit_value(line[i]) < 0) return false;
    if (line[end] != ' ') return false;
    out->raw_start = begin;
    out->raw_length = end - begin;
    pos = end + 1;
  }

  const uint16_t type = parse_type_code(line.substr(pos));
  if (type == 0) return false;
  const size_t colon = line.find(':', pos);
  if (colon == std::string_view::npos) return false;

  const size_t times_begin = colon + 1;
  size_t times_end = line.find(':', times_begin);
  if (times_end == std::string_view::npos) times_end = line.size();
  if (times_end - times_begin > kMaxRdataField) return false;
  uint64_t first = 0;
  uint64_t last = 0;
  if (!parse_times(line.substr(times_begin, times_end - times_begin),
                   std::numeric_limits<uint32_t>::max(), &first, &last))
    return false;

  uint64_t count = 0;
  if (times_end < line.size()) {
    const size_t count_begin = times_end + 1;
    size_t count_end = count_begin;
    while (count_end < line.size() && !is_inline_space(line[count_end])) ++count_end;
    if (count_end - count_begin > kMaxRdataField) return false;
    if (!parse_count(line.substr(count_begin, count_end - count_begin), &count)) return false;
    if (count_end < line.size() && line[count_end] == ' ') {
      QLOG(LOG_ERROR, "%s", kMsgMultiSpace);
      return false;
    }
  }

  out->rrtype = type;
  out->count = count;
  out->time_first = static_cast<uint32_t>(first);
  out->time_last = static_cast<uint32_t>(last);
  return true;
}

bool parse_raw_rdata(std::string_view text, std::vector<uint8_t>* out) {
  out->clear();
  const std::string_view line = up_to_line_feed(text);
  const size_t slash = line.find('/');
  if (slash == std::string_view::npos) return false;
  uint64_t len = 0;
  if (!parse_decimal(line.substr(0, slash), kMaxRawLengthDigits, &len) || len == 0) return false;
  const size_t digits = slash + 1;
  // Check the digits are there before sizing anything by an untrusted length.
  if (line.size() - digits < 2 * len) return false;
  out->resize(len);
  for (size_t i = 0; i < len; ++i) {
    const int hi = hex_digit_value(line[digits + 2 * i]);
    const int lo = hex_digit_value(line[digits + 2 * i + 1]);
    if (hi < 0 || lo < 0) {
      out->clear();
      return false;
    }
    (*out)[i] = static_cast<uint8_t>((hi << 4) | lo);
  }
  return true;
}

namespace {

void append_hex_number(std::string& out, uint64_t v) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
  out.append(buf, r.ptr);
}

}  // namespace

void append_annotation_token(std::string& out, const rrtype_summary& s) {
  append_type_code(out, s.rrtype);
  // Times are always written, even when 0: a lone "code:count" would be read back as a
  // time. A last time before the first carries no information and is left out.
  out.push_back(':');
  append_hex_number(out, static_cast<uint64_t>(s.time_first));
  if (s.time_last > s.time_first) {
    out.push_back(',');
    append_hex_number(out, static_cast<uint64_t>(s.time_last - s.time_first));
  }
  out.push_back(':');
  append_hex_number(out, s.count);
}

void append_raw_rdata(std::string& out, std::span<const uint8_t> raw) {
  char buf[20];
  const auto r = std::to_chars(buf, buf + sizeof buf, raw.size());
  out.append(buf, r.ptr);
  out.push_back('/');
  append_hex_bytes(out, raw);
}

void write_annotation(std::span<const rrtype_summary> a, std::span<const rrtype_summary> b,
                      std::string& out, bool no_leading_tab) {
  size_t i = 0;
  size_t j = 0;
  bool first_token = true;
  while (i < a.size() || j < b.size()) {
    if (first_token) {
      if (!no_leading_tab) out.push_back('\t');
      first_token = false;
    } else {
      out.push_back(' ');
    }
    if (j == b.size() || (i < a.size() && a[i].rrtype < b[j].rrtype)) {
      append_annotation_token(out, a[i++]);
    } else if (i < a.size() && a[i].rrtype == b[j].rrtype) {
      rrtype_summary m = a[i];
      m.count += b[j].count;
      if (b[j].time_first < m.time_first) m.time_first = b[j].time_first;
      if (b[j].time_last > m.time_last) m.time_last = b[j].time_last;
      append_annotation_token(out, m);
      ++i;
      ++j;
    } else {
      append_annotation_token(out, b[j++]);
    }
  }
}

size_t last_tab(std::string_view text) {
  const size_t p = text.rfind('\t');
  return p == std::string_view::npos ? 0 : p;
}

}  // namespace quarn
