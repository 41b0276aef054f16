#include "index/ref_encoder.h"

#include "common/check.h"
#include "index/format.h"

namespace quarn {

namespace {

// Runs at least this long are cheaper as a range than as compressed entries.
constexpr size_t kMinRangeRun = 5;

inline size_t run_length(const uint64_t* l, size_t n, size_t i) {
  size_t r = 1;
  while (i + r < n && l[i + r] == l[i] + r) ++r;
  return r;
}

inline uint64_t make_other(unsigned slots, bool narrow, uint8_t b0, uint8_t b1, uint8_t b2,
                           uint8_t b3) {
  // slots: bit 3 = slot 0 ... bit 0 = slot 3, as they sit in bits 35-32.
  return REF_OTHER | (narrow ? REF_NARROW : 0) | (static_cast<uint64_t>(slots) << 32) |
         (static_cast<uint64_t>(b0) << 24) | (static_cast<uint64_t>(b1) << 16) |
         (static_cast<uint64_t>(b2) << 8) | b3;
}

inline uint8_t hi(uint64_t v) { return static_cast<uint8_t>(v >> 8); }
inline uint8_t lo(uint64_t v) { return static_cast<uint8_t>(v); }

void put_entry(std::string* out, uint64_t e) {
  uint8_t b[5];
  ref_write(b, e);
  out->append(reinterpret_cast<const char*>(b), 5);
}

}  // namespace

bool encode_offsets(const uint64_t* g, int k, uint64_t* entry) {
  auto byte = [](uint64_t v) { return v >= 1 && v < 256; };
  auto word = [](uint64_t v) { return v >= 1 && v < 65536; };
  switch (k) {
    case 4:
      if (byte(g[0]) && byte(g[1]) && byte(g[2]) && byte(g[3])) {
        *entry = make_other(0xF, false, lo(g[0]), lo(g[1]), lo(g[2]), lo(g[3]));
        return true;
      }
      return false;
    case 3:
      if (byte(g[0]) && byte(g[1]) && byte(g[2])) {  // slots 0-2, narrow: one byte each
        *entry = make_other(0xE, true, lo(g[0]), lo(g[1]), lo(g[2]), 0);
      } else if (byte(g[0]) && byte(g[1]) && word(g[2])) {  // slot 2 widens into byte 3
        *entry = make_other(0xE, false, lo(g[0]), lo(g[1]), hi(g[2]), lo(g[2]));
      } else if (word(g[0]) && byte(g[1]) && byte(g[2])) {  // slots 0 (wide), 2, 3
        *entry = make_other(0xB, false, hi(g[0]), lo(g[0]), lo(g[1]), lo(g[2]));
      } else if (byte(g[0]) && word(g[1]) && byte(g[2])) {  // slots 0, 1 (wide), 3
        *entry = make_other(0xD, false, lo(g[0]), hi(g[1]), lo(g[1]), lo(g[2]));
      } else {
        return false;
      }
      return true;
    case 2:
      if (word(g[0]) && word(g[1])) {  // slots 0 and 2, both wide
        *entry = make_other(0xA, false, hi(g[0]), lo(g[0]), hi(g[1]), lo(g[1]));
        return true;
      }
      return false;
    default:
      return false;
  }
}

uint64_t encode_ref_list(const uint64_t* l, size_t n, std::string* out) {
  uint64_t entries = 0;
  bool have_base = false;  // the last entry is a plain entry or a range end
  uint64_t base = 0;
  size_t i = 0;
  while (i < n) {
    QUARN_CHECK(l[i] <= kMaxLineNumber && (i == 0 || l[i] > l[i - 1]));
    const size_t r = run_length(l, n, i);
    if (r >= kMinRangeRun) {
      put_entry(out, REF_START | l[i]);
      put_entry(out, REF_END | l[i + r - 1]);
      entries += 2;
      base = l[i + r - 1];
      have_base = true;
      i += r;
      continue;
    }
    if (have_base) {
      int k = static_cast<int>(n - i < 4 ? n - i : 4);
      // Leave a range-worthy run to the range.
      for (int j = 1; j < k; ++j) {
        if (run_length(l, n, i + j) >= kMinRangeRun) {
          k = j;
          break;
        }
      }
      uint64_t gaps[4];
      uint64_t prev = base;
      for (int j = 0; j < k; ++j) {
        gaps[j] = l[i + j] - prev;
        prev = l[i + j];
      }
      for (; k >= 2; --k) {
        uint64_t e;
        if (encode_offsets(gaps, k, &e)) {
          put_entry(out, e);
          ++entries;
          have_base = false;
          i += static_cast<size_t>(k);
          break;
        }
      }
      if (k >= 2) continue;
    }
    put_entry(out, l[i]);
    ++entries;
    base = l[i];
    have_base = true;
    ++i;
  }
  return entries;
}

}  // namespace quarn
