// A set of trigram ordinals as one fixed bitmap, the working form used to build the
// trigram lists of query nodes.
//
// One bit per ordinal (0 .. kTrigramCount - 1): 68,921 bits in 1,077 64-bit words, 8,616
// bytes, small enough to live on the stack of the function that fills it. Ordinals at or
// above kTrigramCount are a programming error (checked). Iteration is in ascending ordinal
// order, so a list built from a bitmap is sorted and free of repeats.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "common/check.h"
#include "common/trigram.h"

namespace quarn {

class TrigramBitmap {
 public:
  static constexpr size_t kWords = (kTrigramCount + 63) / 64;

  void set(uint32_t ordinal) {
    QUARN_CHECK(ordinal < kTrigramCount);
    words_[ordinal >> 6] |= uint64_t{1} << (ordinal & 63);
  }
  void reset(uint32_t ordinal) {
    QUARN_CHECK(ordinal < kTrigramCount);
    words_[ordinal >> 6] &= ~(uint64_t{1} << (ordinal & 63));
  }
  bool test(uint32_t ordinal) const {
    return ordinal < kTrigramCount && ((words_[ordinal >> 6] >> (ordinal & 63)) & 1) != 0;
  }
  void clear() { words_.fill(0); }
  bool empty() const {
    for (uint64_t w : words_)
      if (w) return false;
    return true;
  }

  // Calls f(ordinal) for every member, ascending.
  template <typename F>
  void for_each(F&& f) const {
    for (size_t i = 0; i < kWords; ++i) {
      uint64_t w = words_[i];
      while (w) {
        f(static_cast<uint32_t>(i * 64 + __builtin_ctzll(w)));
        w &= w - 1;
      }
    }
  }

  // Adds every trigram of text as one line's key is indexed: two '^' symbols before the
  // first byte and two after the last (so even the empty text carries "^^^").
  void add_padded_text(std::string_view text);

 private:
  std::array<uint64_t, kWords> words_{};
};

}  // namespace quarn
