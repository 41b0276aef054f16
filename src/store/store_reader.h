// A record store file, mapped read-only, and the one description of its format.
//
// A record store holds every distinct (owner name, record type, rdata value) of a
// collection with its first and last time seen, its count and, when known, its
// bailiwick, in two orders: by owner name (a name and every name under it form one run)
// and by rdata value (one value, and for A/AAAA one address prefix, form one run).
// store_writer.h writes it; the cursors of store_cursors.h read it.
//
// Layout (integers in the header and the block indexes are little-endian):
//
//   0    header, kStoreHeaderSize (128) bytes:
//        0 magic "QRNSTORE"  8 version (u32, 2)  12 CRC-32 of the header with this
//        field zeroed  16 earliest time_first (i64)  24 latest time_last (i64)
//        32 record count  40 value count  48 name block count  56 names offset
//        64 names length  72 name index offset  80 values offset  88 values length
//        96 value index offset  104 refs offset  112 file length  120 zero  (all u64)
//   names section: name blocks, back to back, in record order (owner name in
//        name_order, then type, then value in value_order). A block is
//          varint first record ordinal, varint record count, then groups until the
//          block's end; a group is varint shared, varint prefix length, prefix bytes,
//          varint group record count (>= 1), then that many records. The group's name
//          is the prefix followed by the last `shared` bytes of the previous group's
//          name (names in this order share their right ends); the first group of a
//          block has shared 0. A name whose records cross a block edge starts one group
//          in each block. A record is: varint type, varint value rank, varint zigzag
//          time_first minus the previous record's of the block (the first: minus 0),
//          varint zigzag time_last minus time_first, varint count, varint bailiwick
//          (0 none, else its length + 1, followed by its bytes).
//        A block holds at most kNameBlockRecords records; names are at most
//        kMaxStoreName bytes.
//   name index: name block count entries of 24 bytes {u64 offset of the block from the
//        names offset, u64 first record ordinal, u32 CRC-32 of the block, u32 record
//        count}. A block ends where the next one starts (the last at the section's end).
//   values section: the distinct values in value_order, kValuesPerBlock to a block (the
//        last may hold fewer); value rank r is entry r % 16 of block r / 16. A block is
//          varint rank of its first reference, varint offset of its references from the
//          refs offset, then per value: varint type, varint raw length, raw bytes,
//          varint text (0: the text derives from the raw bytes, see derived_text.h; else
//          its length + 1, followed by its bytes), varint reference count (>= 1),
//          varint length of its references in bytes.
//   value index: one 16-byte entry per value block {u64 offset of the block from the
//        values offset, u32 CRC-32 of the block, u32 CRC-32 of the block's references}.
//   refs: to the end of the file, the record ordinals of each value, values in rank
//        order and each value's records in ascending ordinal (so in name order), as
//        varints: the first ordinal, then each one minus the one before (>= 1). The
//        references of one value block lie together, where its block says.
//
// Every block is checked against its CRC before anything in it is used, and every
// decode is bounded by its block; a damaged or truncated file gives an error naming the
// file, never a read outside the mapping or a record that was not written. A file
// truncated under the mapping reads as zeros (mapping_guard.h) and fails its checks.
//
// A block's checksum is computed once per RecordStore: a verified block is remembered in
// a bitmap (one bit per block, set atomically), so ranges that hop between blocks do not
// checksum the same bytes again. That trusts the file not to change under the mapping
// except by truncation (which pages_lost() reports), the same rule the index files have:
// replace a store by renaming a new file over it.
//
// RecordStore is not copyable; hold it in a std::unique_ptr. Cursors borrow it and must
// not outlive it. All reads are const and the object may be shared between threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quarn {

inline constexpr char kStoreMagic[8] = {'Q', 'R', 'N', 'S', 'T', 'O', 'R', 'E'};
// Version 2 delta-codes the references (version 1 held them as u32 words).
inline constexpr uint32_t kStoreVersion = 2;
inline constexpr size_t kStoreHeaderSize = 128;
inline constexpr size_t kNameIndexEntry = 24;
inline constexpr size_t kValueIndexEntry = 16;
// Records per name block: a value lookup reaches each record by decoding on average half
// a block from its start, which dominated value ranges at 32; 16 costs about 0.7 bytes a
// record more in index entries and name restarts.
inline constexpr uint64_t kNameBlockRecords = 16;
// Values per value block: rank-to-value is one division, and a block stays small.
inline constexpr uint64_t kValuesPerBlock = 16;
// Longest owner name (and bailiwick) a store holds: DNS names have at most 253
// characters; the margin admits odd input without letting a name grow without bound.
inline constexpr size_t kMaxStoreName = 1024;
// Longest rdata value: the wire limit.
inline constexpr size_t kMaxStoreRdata = 65535;

struct StoreHeader {
  int64_t earliest = 0;
  int64_t latest = 0;
  uint64_t record_count = 0;
  uint64_t value_count = 0;
  uint64_t name_block_count = 0;
  uint64_t names_offset = 0, names_length = 0, name_index_offset = 0;
  uint64_t values_offset = 0, values_length = 0, value_index_offset = 0;
  uint64_t refs_offset = 0;
  uint64_t file_length = 0;
};

// A block's bytes, checked against its checksum, with what its index entry says.
struct BlockSpan {
  const uint8_t* begin = nullptr;
  const uint8_t* end = nullptr;
  uint64_t first_ordinal = 0;  // name blocks only
  uint32_t record_count = 0;   // name blocks only
};

class RecordStore {
 public:
  // Maps and checks the header; nullptr with *error set (a kOpenFailed .. kBadLayout
  // text) when the file is not a readable record store.
  static std::unique_ptr<RecordStore> open(const std::string& path, std::string* error);
  ~RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  const std::string& path() const { return path_; }
  const StoreHeader& header() const { return header_; }
  uint64_t value_block_count() const {
    return (header_.value_count + kValuesPerBlock - 1) / kValuesPerBlock;
  }
  // True once part of the mapping was lost to a truncation (it then reads as zeros).
  bool pages_lost() const;

  // Name block b (< name_block_count), verified; false with *error (kDamagedNames) when
  // it does not check out.
  bool name_block(uint64_t b, BlockSpan* out, std::string* error) const;
  // Value block b (< value_block_count), verified; false with *error (kDamagedValues).
  bool value_block(uint64_t b, BlockSpan* out, std::string* error) const;
  // The `length` bytes of references of value block b at `offset` of the refs section
  // (all of the block's), verified against the block's reference checksum; false with
  // *error (kDamagedRefs) when they lie outside the refs section or do not check out.
  bool refs_of_block(uint64_t b, uint64_t offset, uint64_t length, const uint8_t** out,
                     std::string* error) const;
  // The first record ordinal of name block b as its index entry says (unverified: a
  // guide for binary search that the block's own header confirms).
  uint64_t name_block_first_ordinal(uint64_t b) const;
  // Where name block b / value block b lies as its index entry says, unverified: for
  // prefetching only, never for decoding. The span is empty when b is out of range or
  // the entry points outside its section, so its bytes always lie inside the mapping.
  BlockSpan name_block_hint(uint64_t b) const;
  BlockSpan value_block_hint(uint64_t b) const;
  // The index entry of name block b / value block b (b in range), for prefetching.
  const uint8_t* name_entry_address(uint64_t b) const {
    return base_ + header_.name_index_offset + b * kNameIndexEntry;
  }
  const uint8_t* value_entry_address(uint64_t b) const {
    return base_ + header_.value_index_offset + b * kValueIndexEntry;
  }

  std::string error_text(const char* format, uint64_t block) const;

 private:
  // One bit per block: set once the block's checksum matched.
  class VerifiedSet {
   public:
    void resize(uint64_t blocks);
    bool contains(uint64_t b) const {
      return (words_[b >> 6].load(std::memory_order_relaxed) >> (b & 63)) & 1;
    }
    void insert(uint64_t b) {
      words_[b >> 6].fetch_or(uint64_t{1} << (b & 63), std::memory_order_relaxed);
    }

   private:
    std::unique_ptr<std::atomic<uint64_t>[]> words_;
  };

  RecordStore() = default;
  bool check_layout(std::string* error);
  bool crc_matches(VerifiedSet& set, uint64_t b, const uint8_t* p, uint64_t n,
                   uint32_t crc) const;

  std::string path_;
  const uint8_t* base_ = nullptr;
  size_t length_ = 0;
  int guard_slot_ = -1;
  StoreHeader header_;
  mutable VerifiedSet names_ok_, values_ok_, refs_ok_;
};

}  // namespace quarn
