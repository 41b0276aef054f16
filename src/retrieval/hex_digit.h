// Value of a hexadecimal digit of either case, by table: the observation-text readers
// and the rdata order look at every digit of every candidate line.
#pragma once

#include <array>

namespace quarn {

namespace hex_digit_detail {
constexpr std::array<signed char, 256> make_table() {
  std::array<signed char, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<signed char>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<signed char>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<signed char>(c - 'A' + 10);
  return t;
}
inline constexpr std::array<signed char, 256> kTable = make_table();
}  // namespace hex_digit_detail

// 0-15 for a hex digit, -1 for any other character.
inline int hex_digit_value(char c) {
  return hex_digit_detail::kTable[static_cast<unsigned char>(c)];
}

}  // namespace quarn
