// The presentation text under which an rdata value is indexed, and the rules that leave
// values out of the index. Serves index building; the search path never calls it.
//
// rdata_to_text(type, bytes, out) replaces *out with the text and returns its length,
// or returns nullopt ("skip") when the value must not be indexed:
//  - a one-byte value 0, and values over kMaxIndexedRdata bytes;
//  - SOA (6): the text is "<primary name> <mailbox>", skipped when either name does not
//    decode or both are the root;
//  - other types: the DNS layer's presentation text, skipped when empty or undecodable;
//  - texts over kMaxIndexedRdataText characters;
//  - HINFO (13) answers synthesised for refused ANY queries (the published form and
//    the two draft forms);
//  - NS, CNAME and MX (2, 5, 15) are lower-cased (with one debug warning);
//  - control bytes (below 0x20, and 0x7f) are written as \DDD, the escape every
//    presentation field reads back, so that no text holds a tab or a line end.
// Log lines (texts in records_messages.h): the one-byte 0 value, oversized values and
// oversized texts at level detail; undecodable values and case corrections at debug.
// *out is empty whenever the result is a skip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quarn {

// Longest rdata value, in bytes, that is indexed.
inline constexpr size_t kMaxIndexedRdata = 256;
// Longest presentation text, in characters, that is indexed.
inline constexpr size_t kMaxIndexedRdataText = 256;

std::optional<size_t> rdata_to_text(uint16_t rrtype, std::span<const uint8_t> rdata,
                                    std::string* out);

// Lower-cases the ASCII letters of the domain names in wire rdata of the types whose
// text rdata_to_text lower-cases, so that values differing only in case share one raw
// form (and so one index key) as they share one text. Other types, and whatever follows
// a malformed or compressed name, are left as they are.
void fold_rdata_name_case(uint16_t rrtype, std::span<uint8_t> rdata);

}  // namespace quarn
