// Cursors over one record store: by owner name, and by rdata value.
//
// Both follow one protocol: seek() positions at the first record at or past a target,
// valid() says whether a record is there, record() gives it (views valid until the
// cursor moves), next() moves on. Exhaustion and damage both end in !valid(); failed()
// tells them apart and error() then names the file and the block. A cursor never
// returns a record from a block that did not check out.
//
// NameCursor walks records in the store's name order (owner name in name_order, then
// type, then value). ValueCursor walks records in value order (value in value_order,
// then owner name in name order); it also exposes the current value so that a caller
// can stop at the end of a range or skip a value that does not interest it.
//
// Neither allocates per record: names are rebuilt in fixed buffers, values are views
// into the mapping. Walking on from a seek, each prefetches what the records a few dozen
// steps on will read (read_ahead.h), which changes nothing they return. A cursor borrows
// its RecordStore, which must outlive it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "store/block_decoders.h"
#include "store/read_ahead.h"
#include "store/store_reader.h"
#include "store/store_record.h"

namespace quarn {

class NameCursor {
 public:
  explicit NameCursor(const RecordStore& store);
  NameCursor(const NameCursor&) = delete;
  NameCursor& operator=(const NameCursor&) = delete;

  // First record whose owner name is at or after name in name_order.
  void seek(std::string_view name);
  void seek_first();
  bool valid() const { return valid_; }
  void next();
  const StoreRecord& record() const { return record_; }
  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }
  // Cache lines its read-ahead has prefetched so far.
  uint64_t lines_prefetched() const { return ahead_.lines_prefetched(); }

 private:
  bool step();  // the following record, crossing into later blocks
  bool fill();
  void fail();

  const RecordStore& store_;
  NameBlockDecoder names_;
  ValueBlockDecoder values_;
  NameReadAhead ahead_;
  StoreRecord record_;
  bool valid_ = false;
  bool failed_ = false;
  std::string error_;
};

class ValueCursor {
 public:
  explicit ValueCursor(const RecordStore& store);
  ValueCursor(const ValueCursor&) = delete;
  ValueCursor& operator=(const ValueCursor&) = delete;

  // First record of the first value at or after (raw, rrtype) in value_order.
  void seek(std::string_view raw, uint16_t rrtype);
  // First record of the first value. (No (raw, type) pair is a lower bound of every
  // value: a value starting with byte 0 sorts before ("", 0).)
  void seek_first();
  bool valid() const { return valid_; }
  void next();
  // Skips the remaining records of the current value.
  void next_value();
  // Walks value by value, from the current value (valid() must hold), until
  // verdict(raw, rrtype) says kTake, leaving the cursor on that value's first record as
  // seek() would, or kEnd, leaving it !valid() (not failed). The records of values it
  // skips are never decoded: a range that skips many values pays for their block
  // entries only.
  enum class Verdict { kTake, kSkip, kEnd };
  template <class F>
  void find_value(F verdict);
  const StoreRecord& record() const { return record_; }
  // The current value (valid() must hold).
  std::string_view value_raw() const { return record_.raw; }
  uint16_t value_type() const { return record_.rrtype; }
  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }
  uint64_t lines_prefetched() const { return ahead_.lines_prefetched(); }

 private:
  bool enter_value(uint64_t rank);  // positions at the first record of value rank
  bool position(uint64_t rank);     // loads value rank's entry alone (rank < value count)
  bool resolve();                   // decodes the record of the current reference
  bool step_ref(bool first);        // decodes the value's first or next reference
  bool locate_block(uint64_t ordinal);
  void fail();

  const RecordStore& store_;
  NameBlockDecoder names_;
  ValueBlockDecoder values_;
  ValueReadAhead ahead_;
  StoreRecord record_;
  uint64_t rank_ = 0;
  uint64_t ref_ = 0;      // current reference index
  uint64_t ref_end_ = 0;  // one past the current value's references
  ByteCursor refs_;       // the current value's remaining references
  uint64_t ordinal_ = 0;  // record ordinal of the current reference
  bool valid_ = false;
  bool failed_ = false;
  std::string error_;
};

template <class F>
void ValueCursor::find_value(F verdict) {
  const uint64_t values = store_.header().value_count;
  for (uint64_t rank = rank_; valid_; ++rank) {
    if (rank >= values) {
      valid_ = false;
      return;
    }
    // The current value's entry and first record are in place already.
    if (rank != rank_ && !position(rank)) return fail();
    switch (verdict(record_.raw, record_.rrtype)) {
      case Verdict::kTake:
        if (rank != rank_ && !enter_value(rank)) fail();
        return;
      case Verdict::kEnd: valid_ = false; return;
      case Verdict::kSkip: break;
    }
  }
}

}  // namespace quarn
