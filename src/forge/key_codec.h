// Sorted-table keys whose bytewise order is the order of the index lines.
//
// The builder sorts observations in sorted tables, which order keys bytewise, but the
// index files want owner names in name order (labels compared from the right, a
// shorter label before a longer one, a parent before its children) and rdata lines in
// rdata order (raw rdata bytes, the record type acting as one more byte after the
// shorter value, ties going to the longer value). These encodings make the bytewise
// order of the encoded keys equal those orders, so one bytewise merge yields the lines
// in index order.
//
// Owner name:  for each label from the right: (length + 1) as 2 bytes big-endian, the
//              label bytes; then 00 00; then the record type, 2 bytes big-endian.
// Rdata:       every raw byte b as (b, 00); then (min(type, 255), 01, type as 2 bytes
//              big-endian). A byte pair ending in 00 always continues a value and one
//              ending in 01 always ends it, which is what makes the order come out.
//
// Encoders append to out and return false for input they cannot represent (an empty
// name, a label longer than kMaxLabelBytes). Decoders take the whole key and return
// false for anything the encoder could not have produced.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarn {

// First byte of every builder entry key: rdata entries sort before owner-name entries,
// so one merged pass writes the rdata index and then the owner-name index.
constexpr char kRdataKeyTag = 'D';
constexpr char kNameKeyTag = 'N';

// Longest label an owner-name key can carry (its length field is 16 bits).
constexpr size_t kMaxLabelBytes = 65534;

bool encode_name_key(std::string_view name, uint16_t rrtype, std::string& out);
// True when encode_name_key would take the name.
bool name_key_encodable(std::string_view name);
// The encoded name part of a key (everything but the type), for grouping the keys of
// one name.
std::string_view name_key_stem(std::string_view key);
bool decode_name_key(std::string_view key, std::string& name, uint16_t* rrtype);
// The length of the owner-name key that starts `key` (labels, terminator and type), so
// that a key made of a name key and more can be split; 0 when none starts it.
size_t name_key_size(std::string_view key);

void encode_rdata_key(std::string_view raw, uint16_t rrtype, std::string& out);
bool decode_rdata_key(std::string_view key, std::string& raw, uint16_t* rrtype);

}  // namespace quarn
