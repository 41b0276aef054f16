// Variable-length integer framing of the sorted-table files and their values.
//
// Seven value bits per byte, least significant group first, the top bit set on every
// byte but the last (so 0-127 take one byte, a 32-bit value at most 5, a 64-bit value at
// most 10). Encoders write into a caller buffer that must hold kVarint32Max /
// kVarint64Max bytes and return the number of bytes written. Decoders take a start and
// a limit, never read at or past the limit, and return the number of bytes consumed, or
// 0 when no complete value lies before the limit or the value overflows its width
// (an over-long or over-large encoding is malformed, not truncated silently).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarn {

constexpr size_t kVarint32Max = 5;
constexpr size_t kVarint64Max = 10;

size_t sortab_varint_encode32(uint8_t* out, uint32_t value);
size_t sortab_varint_encode64(uint8_t* out, uint64_t value);
size_t sortab_varint_decode32(const uint8_t* p, const uint8_t* limit, uint32_t* value);
size_t sortab_varint_decode64(const uint8_t* p, const uint8_t* limit, uint64_t* value);

// Appending forms for building values and records in a std::string.
void sortab_varint_append32(std::string& out, uint32_t value);
void sortab_varint_append64(std::string& out, uint64_t value);

}  // namespace quarn
