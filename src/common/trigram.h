// The trigram alphabet and trigram ordinals shared by the planner and the index.
//
// Every byte folds into one of 41 symbol values: 'a'-'z' and 'A'-'Z' to 0-25, '0'-'9'
// to 26-35, '.' 36, '-' 37, '_' 38, '^' 39 (also the padding before and after a key),
// anything else 40. The ordinal of c0 c1 c2 is v(c0) + 41 v(c1) + 1681 v(c2): the first
// character is the least significant digit. Ordinals run from 0 to kTrigramCount - 1 and
// every index file has a slot for each of them.
#pragma once

#include <array>
#include <cstdint>

namespace quarn {

constexpr uint32_t kAlphabetSize = 41;
constexpr uint32_t kTrigramCount = kAlphabetSize * kAlphabetSize * kAlphabetSize;  // 68,921
constexpr uint8_t kSymbolPad = 39;    // '^': before the first / after the last character
constexpr uint8_t kSymbolOther = 40;  // every byte outside the named ones

namespace detail {
constexpr std::array<uint8_t, 256> make_symbol_table() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = kSymbolOther;
  for (int c = 'a'; c <= 'z'; ++c) t[c] = static_cast<uint8_t>(c - 'a');
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = static_cast<uint8_t>(c - 'A');
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<uint8_t>(26 + c - '0');
  t['.'] = 36;
  t['-'] = 37;
  t['_'] = 38;
  t['^'] = kSymbolPad;
  return t;
}
inline constexpr std::array<uint8_t, 256> kSymbolOf = make_symbol_table();
}  // namespace detail

// Symbol value 0-40 of a byte.
constexpr uint8_t trigram_symbol(unsigned char c) { return detail::kSymbolOf[c]; }

// Ordinal of three symbol values.
constexpr uint32_t trigram_ordinal_of_symbols(uint8_t v0, uint8_t v1, uint8_t v2) {
  return v0 + kAlphabetSize * v1 + kAlphabetSize * kAlphabetSize * v2;
}

// Ordinal 0-68,920 of three characters.
constexpr uint32_t trigram_ordinal(unsigned char c0, unsigned char c1, unsigned char c2) {
  return trigram_ordinal_of_symbols(trigram_symbol(c0), trigram_symbol(c1), trigram_symbol(c2));
}

// Character that stands for a symbol value in trigram texts ('@' for "other").
char trigram_symbol_char(uint8_t v);

// Writes the three characters of an ordinal and a terminating zero into out.
// Returns 0, or -1 (out untouched) when the ordinal is not below kTrigramCount.
int trigram_text(uint64_t ordinal, char out[4]);

}  // namespace quarn
