// A 24-bit set of record types: one bit per common type, one for the private-use range
// 65,280-65,534 and one for every other type. Builders use it to summarise which record
// types a string was seen with.
#pragma once

#include <cstdint>

namespace quarn {

constexpr uint32_t kRrtypeBitPrivate = 0x400000;  // types 65,280-65,534
constexpr uint32_t kRrtypeBitOther = 0x800000;    // any type without its own bit

// Bit of a record type: 0 for type 0, kRrtypeBitPrivate / kRrtypeBitOther as above.
uint32_t rrtype_bit(uint32_t rrtype);
// Record type of a value holding exactly one of the per-type bits; 0 otherwise (also for
// the private and other bits, which stand for many types).
uint32_t rrtype_of_bit(uint32_t bit);

}  // namespace quarn
