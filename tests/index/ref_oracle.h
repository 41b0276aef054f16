// Test oracle for the reference encoder: the greedy choice made over the whole list at
// once, the way the writer encoded lists before it streamed them. Written with no window
// and no state beyond the list itself, so the streaming encoder can be checked against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "index/format.h"
#include "index/ref_encoder.h"

namespace quarn::index_test {

inline size_t oracle_run(const std::vector<uint64_t>& l, size_t i) {
  size_t r = 1;
  while (i + r < l.size() && l[i + r] == l[i] + r) ++r;
  return r;
}

// Returns the encoded bytes of l (strictly ascending).
inline std::string oracle_encode(const std::vector<uint64_t>& l) {
  std::string out;
  auto put = [&out](uint64_t e) {
    uint8_t b[5];
    ref_write(b, e);
    out.append(reinterpret_cast<const char*>(b), 5);
  };
  bool have_base = false;
  uint64_t base = 0;
  size_t i = 0;
  const size_t n = l.size();
  while (i < n) {
    const size_t r = oracle_run(l, i);
    if (r >= 5) {
      put(REF_START | l[i]);
      put(REF_END | l[i + r - 1]);
      base = l[i + r - 1];
      have_base = true;
      i += r;
      continue;
    }
    if (have_base) {
      size_t k = n - i < 4 ? n - i : 4;
      for (size_t j = 1; j < k; ++j) {
        if (oracle_run(l, i + j) >= 5) {
          k = j;
          break;
        }
      }
      uint64_t gaps[4];
      uint64_t prev = base;
      for (size_t j = 0; j < k; ++j) {
        gaps[j] = l[i + j] - prev;
        prev = l[i + j];
      }
      bool packed = false;
      for (; k >= 2 && !packed; --k) {
        uint64_t e;
        if (encode_offsets(gaps, static_cast<int>(k), &e)) {
          put(e);
          have_base = false;
          i += k;
          packed = true;
        }
      }
      if (packed) continue;
    }
    put(l[i]);
    base = l[i];
    have_base = true;
    ++i;
  }
  return out;
}

}  // namespace quarn::index_test
