// The small binding to the DNS record library: record-type names, rdata presentation
// text and wire-format domain names. The library itself stays behind this header (no
// library header is included here), so that it can be replaced in one place.
//
// All calls are stateless and may be used from any thread. None of them stops the
// program on bad input; bounds are always given by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarn {

// Record type 255, the query-only "any type".
inline constexpr uint16_t kRrtypeAny = 255;

// The registry mnemonic of a type ("A", "NS", "MX", ...) as static text the caller does
// not free, or nullptr for a type without a mnemonic (e.g. 65280).
const char* rrkit_rrtype_to_str(uint16_t rrtype);

// The type a mnemonic names, in any case ("mx" gives 15, "any" gives 255; the generic
// "TYPE<n>" form gives n). 0 when the text names no type; null gives 0.
uint16_t rrkit_str_to_rrtype(const char* text);

// Size of the buffer a record-type name is produced into ("TYPE65535" plus NUL fits).
inline constexpr size_t kRrtypeNameSize = 16;

// The mnemonic of the record type (A, NS, MX, ...), or "TYPE<n>" when it has none,
// NUL-terminated and at most kRrtypeNameSize - 1 characters. Returns either a static
// string or buf (which then holds the text); valid while buf is. Allocates nothing:
// the printers call it for every element of every result.
const char* rrtype_name(uint16_t type, char (&buf)[kRrtypeNameSize]);

// The presentation text of an rdata value of the given type and class (1 = IN), fields
// separated by single blanks. nullopt when no text can be produced at all; a value the
// library cannot decode gives a text containing kRrkitParseError.
std::optional<std::string> rrkit_rdata_to_str(const uint8_t* rdata, size_t length,
                                              uint16_t rrtype, uint16_t rrclass = 1);

// The wire form of an rdata presentation text of the type (class IN) into *wire; false
// when the text does not parse. A text holding a control character other than a tab is
// refused: the zone-text reader would take it for a field or line end, and a NUL for the
// end of the text. Addresses of A and AAAA take a fast path with the same result.
bool rrkit_str_to_rdata(uint16_t rrtype, std::string_view text, std::string* wire);

// Converts the wire-format name at wire[0..available) into *out (dotted, "." for the
// root, absolute names end in "."). Returns the number of wire bytes the name occupies
// (> 0), or 0 on failure (truncated or malformed name), with *out cleared.
int rrkit_domain_to_str(const uint8_t* wire, size_t available, std::string* out);

}  // namespace quarn
