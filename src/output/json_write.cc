#include "output/json_write.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "common/hex.h"

namespace quarn {
namespace {

// Per byte: 0 written as is, otherwise the second character of its short escape, or 'u'
// for the \u00XX form.
constexpr std::array<char, 256> make_escapes() {
  std::array<char, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 'u';
  t['"'] = '"';
  t['\\'] = '\\';
  t['\b'] = 'b';
  t['\f'] = 'f';
  t['\n'] = 'n';
  t['\r'] = 'r';
  t['\t'] = 't';
  return t;
}
constexpr std::array<char, 256> kEscapes = make_escapes();

// Continuation bytes a lead byte announces, or -1 for a byte no sequence starts with.
int continuation_count(uint8_t lead) {
  if ((lead >> 5) == 0x6) return 1;
  if ((lead >> 4) == 0xe) return 2;
  if ((lead >> 3) == 0x1e) return 3;
  return -1;
}

}  // namespace

bool json_utf8_acceptable(std::string_view s) {
  const auto* b = reinterpret_cast<const uint8_t*>(s.data());
  const uint8_t* const e = b + s.size();
  while (b < e) {
    const uint8_t c = *b++;
    if (c < 0x80) continue;
    const int more = continuation_count(c);
    if (more < 0 || e - b < more) return false;
    for (int i = 0; i < more; ++i) {
      if ((*b++ >> 6) != 0x2) return false;
    }
  }
  return true;
}

char* json_write_string(char* p, std::string_view s) {
  *p++ = '"';
  for (char ch : s) {
    const auto c = static_cast<uint8_t>(ch);
    const char esc = kEscapes[c];
    if (esc == 0) {
      *p++ = ch;
    } else if (esc != 'u') {
      *p++ = '\\';
      *p++ = esc;
    } else {
      std::memcpy(p, "\\u00", 4);
      p[4] = kHexDigitsUpper[c >> 4];
      p[5] = kHexDigitsUpper[c & 0xf];
      p += 6;
    }
  }
  *p++ = '"';
  return p;
}

char* json_write_integer(char* p, long long v) {
  return std::to_chars(p, p + kJsonIntegerBound, v).ptr;
}

char* json_write_unsigned(char* p, unsigned long long v) {
  return std::to_chars(p, p + kJsonIntegerBound, v).ptr;
}

}  // namespace quarn
