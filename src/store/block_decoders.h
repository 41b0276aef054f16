// Decoders of one name block and one value block of a record store (format in
// store_reader.h), shared by the cursors.
//
// NameBlockDecoder walks the records of one verified name block in order; the current
// owner name lives in a fixed buffer of the decoder (names are rebuilt in place from
// their shared right ends), so a walk allocates nothing. ValueBlockDecoder decodes the
// up to kValuesPerBlock entries of one verified value block into a fixed array, on
// demand: a record in name order needs one entry of a block, so entries are decoded only
// as far as the one asked for (reach()); a load with references decodes them all. Both
// report a block that does not decode as written with false and an error text; after
// that their contents are meaningless until the next load.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "store/derived_text.h"
#include "store/store_codec.h"
#include "store/store_reader.h"

namespace quarn {

struct NameRecordFields {
  uint16_t rrtype = 0;
  uint64_t rank = 0;  // value rank
  int64_t time_first = 0;
  int64_t time_last = 0;
  uint64_t count = 0;
  std::string_view bailiwick;
};

class NameBlockDecoder {
 public:
  explicit NameBlockDecoder(const RecordStore& store) : store_(store) {}
  NameBlockDecoder(const NameBlockDecoder&) = delete;
  NameBlockDecoder& operator=(const NameBlockDecoder&) = delete;

  // Loads block b; the first next() then decodes its first record.
  bool load(uint64_t b, std::string* error);
  // Decodes the following record of the block. False at the block's end (done() is then
  // true) or when the block is damaged (done() false, *error set).
  bool next(std::string* error);
  // Decodes forward to the record with this ordinal, which must lie in the loaded block
  // at or after the current record.
  bool advance_to(uint64_t ordinal, std::string* error);

  bool loaded() const { return loaded_; }
  bool done() const { return loaded_ && decoded_ == block_records_; }
  uint64_t block() const { return block_; }
  uint64_t first_ordinal() const { return first_ordinal_; }
  uint64_t block_records() const { return block_records_; }
  // Ordinal of the current record (valid after a successful next()).
  uint64_t ordinal() const { return first_ordinal_ + decoded_ - 1; }
  std::string_view name() const {
    return std::string_view(name_buf_ + kMaxStoreName - name_len_, name_len_);
  }
  const NameRecordFields& fields() const { return fields_; }
  // True when the current record lies beyond this ordinal (advance_to cannot reach it).
  bool passed(uint64_t ordinal) const { return decoded_ > 0 && this->ordinal() > ordinal; }
  void unload() { loaded_ = false; }

 private:
  bool fail(std::string* error);
  bool read_group_header();

  const RecordStore& store_;
  ByteCursor cur_;
  bool loaded_ = false;
  uint64_t block_ = 0;
  uint64_t first_ordinal_ = 0;
  uint64_t block_records_ = 0;
  uint64_t decoded_ = 0;
  uint64_t group_left_ = 0;
  int64_t prev_time_first_ = 0;
  size_t name_len_ = 0;
  NameRecordFields fields_;
  // The name is kept right-aligned: the shared right end of the next name stays put.
  char name_buf_[kMaxStoreName];
};

struct ValueEntry {
  std::string_view raw;
  std::string_view text;  // empty when derived from raw (see text())
  bool derived = false;
  uint16_t rrtype = 0;
  uint64_t first_ref = 0;
  uint64_t nrefs = 0;
  uint64_t ref_at = 0;     // its references' offset among the block's reference bytes
  uint64_t ref_bytes = 0;  // and their length
};

class ValueBlockDecoder {
 public:
  explicit ValueBlockDecoder(const RecordStore& store) : store_(store) {}
  ValueBlockDecoder(const ValueBlockDecoder&) = delete;
  ValueBlockDecoder& operator=(const ValueBlockDecoder&) = delete;

  // Loads and decodes value block b, and with with_refs also verifies its references
  // (refs() is valid only then). Loading the block already loaded is free.
  bool load(uint64_t b, bool with_refs, std::string* error);
  bool loaded() const { return loaded_; }
  uint64_t block() const { return block_; }
  size_t size() const { return size_; }
  // Decodes entries up to i (< size()); false when the block does not decode as written.
  bool reach(size_t i) { return i < decoded_ || decode_through(i); }
  // Entry i, reached already.
  const ValueEntry& entry(size_t i) const { return entries_[i]; }
  // The presentation text of entry i (reached already): stored, or derived from its
  // bytes on first use into a buffer of the decoder (valid until the next load of
  // another block). False when a text marked derivable does not derive: damage.
  bool text(size_t i, std::string_view* out);
  // The delta-coded references of entry i (valid after a load with_refs), bounded by
  // the entry's own bytes.
  ByteCursor refs(size_t i) const {
    const ValueEntry& e = entries_[i];
    return ByteCursor(refs_ + e.ref_at, refs_ + e.ref_at + e.ref_bytes);
  }
  void unload() { loaded_ = false; }

 private:
  bool decode(const BlockSpan& span, uint64_t b);
  bool decode_through(size_t i);

  const RecordStore& store_;
  bool loaded_ = false;
  bool refs_checked_ = false;
  uint64_t block_ = 0;
  size_t size_ = 0;
  uint64_t first_ref_ = 0;
  uint64_t refs_offset_ = 0;  // of the block's references in the refs section
  uint64_t ref_bytes_ = 0;    // their length, once every entry is decoded
  ByteCursor cur_;            // at the first entry not yet decoded
  size_t decoded_ = 0;        // entries decoded
  uint64_t next_ref_ = 0;     // first reference and reference offset of that entry
  uint64_t next_at_ = 0;
  const uint8_t* refs_ = nullptr;
  ValueEntry entries_[kValuesPerBlock];
  bool derived_done_[kValuesPerBlock] = {};
  char derived_[kValuesPerBlock][kMaxDerivedText];
};

}  // namespace quarn
