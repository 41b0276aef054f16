// Byte layout of a trigram index file (a "tgdb") and the decoding of its reference lists.
//
// This is the one description of the on-disk format; the writer (index_writer.h) and the
// reader (tgdb.h) both follow it. All header, nref-table, trigram-table and line-index
// integers are little-endian; the 5-byte references are big-endian.
//
//   offset 0                 fixed header, 48 bytes (TgdbHeader)
//   48                       extra header area, header_length bytes; with kFlagRealRef and
//                            a non-zero header_length it starts with the real nref table:
//                            kTrigramCount little-endian uint64 counts (551,368 bytes)
//   48 + header_length       trigram table: kTrigramCount entries of 16 bytes
//                            {uint64 nrefs, uint64 absolute offset of the list}
//   S = align4k(48 + 16 N + header_length)
//                            string table: string_table_size bytes of text, one line per
//                            string: key TAB annotations LF; no empty lines; lines sorted
//                            in the key order of the index kind
//   L = align4k(S + string_table_size)
//                            line index: 14-byte entries, entry k covers lines 64k..64k+63:
//                            uint64 offset of line 64k from S, then three uint16 steps
//                            (half the distance from the position of line 64k+16j-16 to
//                            that of 64k+16j, rounded down; 0 = not recorded, and a reader
//                            ignores that step and every later one of the entry). A
//                            recorded position is the line's first byte or the line feed
//                            just before it. The last entry may be cut to its 8 offset
//                            bytes; step bytes past line_index_size read as 0.
//   anywhere after           reference lists: nrefs 5-byte entries each, placed wherever
//                            the trigram table points (our writer puts them after L).
//
// A reference entry is a 40-bit value, byte 0 holding bits 39-32. Bits 39-37 give its kind:
//   REF_START  first entry of a range; bits 36-0 = first line; always followed by REF_END
//   REF_END    second entry of a range; bits 36-0 = last line (>= the first)
//   REF_OTHER  offset compression: up to four lines as gaps from the entry before it (which
//              must be a plain entry or a range end): bit 36 REF_NARROW, bits 35-32 slot
//              presence (slot 0 first), bits 31-0 payload bytes b0..b3. A present slot i is
//              the byte bi, or the 16-bit bi*256+b(i+1) when i <= 2, slot i+1 is absent
//              and (REF_NARROW is clear or slot i is not the highest present slot).
//   none       plain entry: bits 36-0 = one line number
// A valid list is strictly ascending in the lines it stands for.
//
// Everything here is inline and allocation-free: the reference decoders sit on the hot
// path of every candidate. Callers guarantee that the bytes they pass are inside the
// mapping (the loader has checked every list against the file size).
#pragma once

#include <cstdint>
#include <cstring>

#include "common/trigram.h"

namespace quarn {

// ---- file layout ---------------------------------------------------------------------

inline constexpr char kTgdbMagic[8] = {'Q', 'R', 'N', 'T', 'R', 'I', '\0', '\0'};
constexpr uint64_t kHeaderSize = 48;
constexpr uint64_t kTrigramEntrySize = 16;
constexpr uint64_t kTrigramTableSize = kTrigramEntrySize * kTrigramCount;  // 1,102,736
// The smallest readable file: fixed header plus trigram table (16 x (N + 3)).
constexpr uint64_t kMinTgdbSize = kHeaderSize + kTrigramTableSize;  // 1,102,784
constexpr uint64_t kRealNrefTableSize = 8ull * kTrigramCount;       // 551,368
// Our writer always carries the real nref table, so its header area is exactly that.
constexpr uint64_t kWriterHeaderLength = kRealNrefTableSize;
constexpr uint64_t kSectionAlign = 4096;
constexpr uint64_t kLineIndexEntrySize = 14;
constexpr uint64_t kLinesPerIndexEntry = 64;
constexpr uint64_t kLinesPerStep = 16;
constexpr uint64_t kRefSize = 5;

// Header flags; every other bit is reserved and ignored.
constexpr uint32_t kFlagTimefence = 0x0200;
constexpr uint32_t kFlagUnified = 0x2000;
constexpr uint32_t kFlagRealRef = 0x4000;
constexpr uint32_t kFlagRdata = 0x8000;

constexpr uint64_t align_up(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

// Offset of the string table for a given header_length.
constexpr uint64_t string_table_offset(uint64_t header_length) {
  return align_up(kMinTgdbSize + header_length, kSectionAlign);
}
// Offset of the line index.
constexpr uint64_t line_index_offset(uint64_t header_length, uint64_t string_table_size) {
  return align_up(string_table_offset(header_length) + string_table_size, kSectionAlign);
}
// Where our writer's string table starts: 1,654,784.
constexpr uint64_t kWriterStringTableOffset = string_table_offset(kWriterHeaderLength);

// The fixed header as decoded from (or encoded into) its 48 bytes.
struct TgdbHeader {
  char magic[8] = {};
  uint32_t flags = 0;
  uint32_t header_length = 0;
  uint64_t string_table_size = 0;
  uint64_t line_index_size = 0;
  uint64_t tgdb_size = 0;  // reference region size: reported, never used for reading
  uint32_t earliest_seen = 0;
  uint32_t latest_seen = 0;
};

inline uint16_t load_le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t load_le32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;  // x86-64 is little-endian; memcpy keeps unaligned reads defined
}
inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void store_le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void store_le32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void store_le64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// Decodes the 48 header bytes at p.
TgdbHeader decode_header(const uint8_t* p);
// Encodes h into 48 bytes at out.
void encode_header(const TgdbHeader& h, uint8_t* out);
// True when the first 8 bytes at p are the magic (all 8 compared).
inline bool has_magic(const uint8_t* p) { return std::memcmp(p, kTgdbMagic, 8) == 0; }

// ---- references ----------------------------------------------------------------------

constexpr uint64_t REF_START = 1ull << 39;
constexpr uint64_t REF_END = 1ull << 38;
constexpr uint64_t REF_OTHER = 1ull << 37;
constexpr uint64_t REF_NARROW = 1ull << 36;
constexpr uint64_t kRefKindMask = REF_START | REF_END | REF_OTHER;
constexpr uint64_t kRefValueMask = (1ull << 37) - 1;  // bits 36-0: a line number
constexpr uint64_t kMaxLineNumber = kRefValueMask;    // 137,438,953,471

// The 40-bit entry at p (p .. p+4 must be readable).
inline uint64_t ref_read(const uint8_t* p) {
  return (static_cast<uint64_t>(p[0]) << 32) | (static_cast<uint64_t>(p[1]) << 24) |
         (static_cast<uint64_t>(p[2]) << 16) | (static_cast<uint64_t>(p[3]) << 8) | p[4];
}
// The entry at index i of a list starting at list.
inline uint64_t ref_at(const uint8_t* list, uint64_t i) { return ref_read(list + i * kRefSize); }
inline void ref_write(uint8_t* p, uint64_t e) {
  p[0] = static_cast<uint8_t>(e >> 32);
  p[1] = static_cast<uint8_t>(e >> 24);
  p[2] = static_cast<uint8_t>(e >> 16);
  p[3] = static_cast<uint8_t>(e >> 8);
  p[4] = static_cast<uint8_t>(e);
}
// The entry with bits 39-37 cleared: the line of a plain entry, range start or range end.
inline uint64_t ref_value(uint64_t e) { return e & kRefValueMask; }
inline bool ref_is_start(uint64_t e) { return (e & REF_START) != 0; }
inline bool ref_is_end(uint64_t e) { return (e & REF_END) != 0; }
inline bool ref_is_other(uint64_t e) { return (e & REF_OTHER) != 0; }
inline bool ref_is_plain(uint64_t e) { return (e & kRefKindMask) == 0; }

// Slots of an offset-compression entry. mask bit i (1 << i) tells that slot i is present;
// absent slots hold 0. count is the number of present slots.
struct RefOffsets {
  uint8_t mask = 0;
  uint8_t count = 0;
  uint32_t slot[4] = {0, 0, 0, 0};
};

// Decodes the gap slots of a REF_OTHER entry (the kind bits are not checked here).
inline RefOffsets decode_offsets(uint64_t e) {
  RefOffsets r;
  const bool narrow = (e & REF_NARROW) != 0;
  uint8_t b[4] = {static_cast<uint8_t>(e >> 24), static_cast<uint8_t>(e >> 16),
                  static_cast<uint8_t>(e >> 8), static_cast<uint8_t>(e)};
  bool present[4];
  int highest = -1;
  for (int i = 0; i < 4; ++i) {
    present[i] = ((e >> (35 - i)) & 1) != 0;
    if (present[i]) {
      r.mask = static_cast<uint8_t>(r.mask | (1u << i));
      ++r.count;
      highest = i;
    }
  }
  for (int i = 0; i < 4; ++i) {
    if (!present[i]) continue;
    const bool wide = i <= 2 && !present[i + 1] && (!narrow || i != highest);
    r.slot[i] = wide ? (static_cast<uint32_t>(b[i]) << 8) | b[i + 1] : b[i];
  }
  return r;
}

}  // namespace quarn
