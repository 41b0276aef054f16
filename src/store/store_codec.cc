// Checksums of record store blocks: zlib's CRC-32, fed in pieces of at most 1 GiB since
// its length argument is 32 bits wide.
#include "store/store_codec.h"

#include <zlib.h>

namespace quarn {

uint32_t store_crc(const uint8_t* data, size_t length) {
  constexpr size_t kPiece = size_t{1} << 30;
  uLong crc = crc32(0L, Z_NULL, 0);
  while (length > 0) {
    const size_t n = length < kPiece ? length : kPiece;
    crc = crc32(crc, data, static_cast<uInt>(n));
    data += n;
    length -= n;
  }
  return static_cast<uint32_t>(crc);
}

}  // namespace quarn
