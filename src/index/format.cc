#include "index/format.h"

namespace quarn {

TgdbHeader decode_header(const uint8_t* p) {
  TgdbHeader h;
  std::memcpy(h.magic, p, 8);
  h.flags = load_le32(p + 8);
  h.header_length = load_le32(p + 12);
  h.string_table_size = load_le64(p + 16);
  h.line_index_size = load_le64(p + 24);
  h.tgdb_size = load_le64(p + 32);
  h.earliest_seen = load_le32(p + 40);
  h.latest_seen = load_le32(p + 44);
  return h;
}

void encode_header(const TgdbHeader& h, uint8_t* out) {
  std::memcpy(out, h.magic, 8);
  store_le32(out + 8, h.flags);
  store_le32(out + 12, h.header_length);
  store_le64(out + 16, h.string_table_size);
  store_le64(out + 24, h.line_index_size);
  store_le64(out + 32, h.tgdb_size);
  store_le32(out + 40, h.earliest_seen);
  store_le32(out + 44, h.latest_seen);
}

}  // namespace quarn
