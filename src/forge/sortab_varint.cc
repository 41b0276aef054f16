#include "forge/sortab_varint.h"

namespace quarn {

size_t sortab_varint_encode64(uint8_t* out, uint64_t value) {
  size_t n = 0;
  while (value >= 0x80) {
    out[n++] = static_cast<uint8_t>(value | 0x80);
    value >>= 7;
  }
  out[n++] = static_cast<uint8_t>(value);
  return n;
}

size_t sortab_varint_encode32(uint8_t* out, uint32_t value) {
  return sortab_varint_encode64(out, value);
}

size_t sortab_varint_decode64(const uint8_t* p, const uint8_t* limit, uint64_t* value) {
  uint64_t result = 0;
  for (size_t i = 0; i < kVarint64Max && p + i < limit; ++i) {
    const uint64_t byte = p[i];
    // The tenth byte may only carry the single remaining bit of a 64-bit value.
    if (i == kVarint64Max - 1 && byte > 1) return 0;
    result |= (byte & 0x7f) << (7 * i);
    if ((byte & 0x80) == 0) {
      *value = result;
      return i + 1;
    }
  }
  return 0;
}

size_t sortab_varint_decode32(const uint8_t* p, const uint8_t* limit, uint32_t* value) {
  uint32_t result = 0;
  for (size_t i = 0; i < kVarint32Max && p + i < limit; ++i) {
    const uint32_t byte = p[i];
    // The fifth byte may only carry the four remaining bits of a 32-bit value.
    if (i == kVarint32Max - 1 && byte > 0x0f) return 0;
    result |= (byte & 0x7f) << (7 * i);
    if ((byte & 0x80) == 0) {
      *value = result;
      return i + 1;
    }
  }
  return 0;
}

void sortab_varint_append32(std::string& out, uint32_t value) {
  uint8_t buf[kVarint32Max];
  out.append(reinterpret_cast<const char*>(buf), sortab_varint_encode32(buf, value));
}

void sortab_varint_append64(std::string& out, uint64_t value) {
  uint8_t buf[kVarint64Max];
  out.append(reinterpret_cast<const char*>(buf), sortab_varint_encode64(buf, value));
}

}  // namespace quarn
