// JSON strings and integers written straight into a caller's buffer, for the result
// objects, which are printed millions of times and are too hot for a generic generator.
//
// The bytes are those the yajl generator of the other JSON code (json_gen.h, configured
// compactly, with UTF-8 validation and no escaped solidus) writes for the same values, so
// that either path gives identical output:
//   - '"' and '\\' as \" and \\; BS, FF, LF, CR, TAB as \b \f \n \r \t; every other byte
//     below 0x20 as \u00XX with upper-case hexadecimal digits; every other byte as is
//     (DEL and bytes from 0x80 up included);
//   - a string is accepted as UTF-8 when it is a sequence of ASCII bytes and of lead
//     bytes 110xxxxx / 1110xxxx / 11110xxx each followed by that many continuation bytes
//     10xxxxxx. That is the generator's own test, and it is only structural: overlong
//     forms, surrogates and values past U+10FFFF pass, as they always have; a stray
//     continuation byte, a cut sequence or a byte from 0xF8 up does not.
//   - integers in plain decimal, a minus sign for negative values.
//
// Use: check json_utf8_acceptable() first, make room for json_string_bound() (or
// kJsonIntegerBound) bytes at p, write, continue at the returned end. Nothing here
// allocates or fails.
#pragma once

#include <cstddef>
#include <string_view>

namespace quarn {

// Most bytes a string of n bytes can take, quotes included: each byte may become \u00XX.
constexpr size_t json_string_bound(size_t n) { return 6 * n + 2; }
// Most bytes an integer of 64 bits takes: 20 digits, or a sign and 19.
constexpr size_t kJsonIntegerBound = 20;

bool json_utf8_acceptable(std::string_view s);
// Writes s between quotes, escaped; returns the end of what was written.
char* json_write_string(char* p, std::string_view s);
char* json_write_integer(char* p, long long v);
char* json_write_unsigned(char* p, unsigned long long v);
// Appends a text that needs no escaping (keys, punctuation).
inline char* json_write_raw(char* p, std::string_view s) {
  for (char c : s) *p++ = c;
  return p;
}

}  // namespace quarn
