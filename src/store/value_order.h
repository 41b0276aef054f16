// The order of rdata values in a record store: the order of rdata index lines.
//
// Values compare by their raw wire bytes; the record type acts as one more byte after
// the shorter value: equal bytes and lengths order by type, and a value that is a proper
// prefix of another sorts before it when its type is smaller than the longer value's
// next byte, after it otherwise. This is rdata_line_compare over the raw bytes and type
// alone, without the text form of a line, so it runs on mapped bytes with no parsing.
//
// record_order ranks whole records in the name order of a store: owner name in
// name_order, then type, then value. Both are allocation-free.
#pragma once

#include <cstdint>
#include <string_view>

namespace quarn {

int value_order(std::string_view raw_a, uint16_t type_a, std::string_view raw_b,
                uint16_t type_b);

int record_order(std::string_view name_a, uint16_t type_a, std::string_view raw_a,
                 std::string_view name_b, uint16_t type_b, std::string_view raw_b);

}  // namespace quarn
