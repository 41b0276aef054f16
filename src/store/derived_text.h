// Presentation texts that a store does not need to keep: those that follow from the wire
// bytes by a few fixed rules.
//
// derive_value_text writes the text of an A or AAAA address, of a name (NS, CNAME, PTR,
// DNAME) or MX value whose labels hold only letters, digits, '-' and '_', or of a TXT
// value whose strings hold only printable characters other than '"' and '\', and returns
// its length; it returns 0 for any other value and when the text would not fit in
// kMaxDerivedText bytes. The writer keeps a value's text only when this function does
// not give exactly the text the rdata index shows, so a reader that derives it gets the
// same bytes. Allocation-free: readers call it for values they show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarn {

inline constexpr size_t kMaxDerivedText = 520;

size_t derive_value_text(uint16_t rrtype, std::string_view raw, char* out);

}  // namespace quarn
