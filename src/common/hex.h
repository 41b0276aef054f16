// Hexadecimal digits in both directions, by table.
//
// The observation-text readers and the rdata order look at every digit of every
// candidate line, and the result printers write every raw rdata byte, so both
// directions are plain table lookups. Writers use lower case except where a format
// fixes upper case (JSON). Readers accept either case.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace quarn {

inline constexpr char kHexDigitsLower[] = "0123456789abcdef";
inline constexpr char kHexDigitsUpper[] = "0123456789ABCDEF";

namespace hex_detail {
constexpr std::array<signed char, 256> make_value_table() {
  std::array<signed char, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<signed char>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<signed char>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<signed char>(c - 'A' + 10);
  return t;
}
inline constexpr std::array<signed char, 256> kValueTable = make_value_table();
}  // namespace hex_detail

// 0-15 for a hex digit of either case, -1 for any other character.
inline int hex_digit_value(char c) {
  return hex_detail::kValueTable[static_cast<unsigned char>(c)];
}

// Appends two lower-case digits per byte, high nibble first.
inline void append_hex_bytes(std::string& out, std::span<const uint8_t> bytes) {
  for (uint8_t b : bytes) {
    out.push_back(kHexDigitsLower[b >> 4]);
    out.push_back(kHexDigitsLower[b & 0xf]);
  }
}

}  // namespace quarn
