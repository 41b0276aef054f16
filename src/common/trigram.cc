#include "common/trigram.h"

namespace quarn {

char trigram_symbol_char(uint8_t v) {
  if (v < 26) return static_cast<char>('a' + v);
  if (v < 36) return static_cast<char>('0' + (v - 26));
  switch (v) {
    case 36: return '.';
    case 37: return '-';
    case 38: return '_';
    case 39: return '^';
    default: return '@';
  }
}

int trigram_text(uint64_t ordinal, char out[4]) {
  if (ordinal >= kTrigramCount) return -1;
  uint32_t o = static_cast<uint32_t>(ordinal);
  out[0] = trigram_symbol_char(static_cast<uint8_t>(o % kAlphabetSize));
  out[1] = trigram_symbol_char(static_cast<uint8_t>((o / kAlphabetSize) % kAlphabetSize));
  out[2] = trigram_symbol_char(static_cast<uint8_t>(o / (kAlphabetSize * kAlphabetSize)));
  out[3] = '\0';
  return 0;
}

}  // namespace quarn
