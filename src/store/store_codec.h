// Byte coding of record store files: varints, zigzag, little-endian words and checksums.
//
// Writers append to a std::string. Readers go through ByteCursor, which holds a start and
// a limit and turns every read that would pass the limit (or a varint longer than ten
// bytes, or one that overflows 64 bits) into a failed cursor: later reads fail too and
// return 0, so a decoder checks ok() once after a run of reads instead of after each.
// Nothing here allocates on the read side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quarn {

inline void put_varint(std::string& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<char>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
}

inline uint64_t zigzag(int64_t v) {
  return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63);
}
inline int64_t unzigzag(uint64_t v) {
  return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
}

inline void put_u32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
inline void put_u64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
inline uint32_t get_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t get_u64(const uint8_t* p) {
  return static_cast<uint64_t>(get_u32(p)) | static_cast<uint64_t>(get_u32(p + 4)) << 32;
}

// CRC-32 (the zlib polynomial) of [data, data + length).
uint32_t store_crc(const uint8_t* data, size_t length);

class ByteCursor {
 public:
  ByteCursor() = default;
  ByteCursor(const uint8_t* p, const uint8_t* limit) : p_(p), limit_(limit) {}

  bool ok() const { return ok_; }
  bool at_end() const { return p_ == limit_; }
  const uint8_t* position() const { return p_; }
  size_t remaining() const { return static_cast<size_t>(limit_ - p_); }

  uint64_t varint() {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (p_ == limit_) return fail();
      const uint8_t b = *p_++;
      if (shift == 63 && b > 1) return fail();  // more than 64 bits
      v |= static_cast<uint64_t>(b & 0x7f) << shift;
      if (b < 0x80) return v;
    }
    return fail();
  }

  // The next n bytes as a view; an empty view and a failed cursor when fewer remain.
  std::string_view bytes(uint64_t n) {
    if (!ok_ || n > remaining()) {
      fail();
      return {};
    }
    const char* s = reinterpret_cast<const char*>(p_);
    p_ += n;
    return std::string_view(s, n);
  }

  uint64_t fail() {
    ok_ = false;
    p_ = limit_;
    return 0;
  }

 private:
  const uint8_t* p_ = nullptr;
  const uint8_t* limit_ = nullptr;
  bool ok_ = true;
};

}  // namespace quarn
