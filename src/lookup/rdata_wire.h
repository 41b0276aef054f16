// Presentation text of an rdata value to its wire form, for one record type.
//
// Addresses of A and AAAA go through inet_pton; every other type through the DNS
// library's zone-file parser in its generic TYPE<n> spelling, so any type with a
// presentation format works. False when the text is no value of the type (control
// characters never are: the parser would read them as separators).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarn {

bool rdata_wire_from_text(uint16_t rrtype, std::string_view text, std::string* wire);

}  // namespace quarn
