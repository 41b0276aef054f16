// Read-ahead for range walks over a record store: touching early the bytes that the
// records a few dozen steps on will need, so that their cache misses overlap instead of
// following one another.
//
// A walk in name order reads, per record, the value entry its rank points at; a walk in
// value order reads, per reference, the name block that holds its record. Both lie
// anywhere in a file of a gigabyte, so a range taken one record at a time waits for one
// or two cache misses per record. A read-ahead walks up to kReadAheadFar steps ahead of
// its cursor with decoders of its own and prefetches in two stages: as it decodes a
// position it prefetches the index entry of the block that position points at; when the
// cursor is kReadAheadNear steps short of that position, the entry is in cache, and it
// prefetches the first lines of the block itself.
//
// Contract: a read-ahead only prefetches. It never hands out a record, never reports
// damage and never changes what a cursor returns: a block that does not check out ends
// its walk until the next reset(), and the cursor meets the damage itself when it gets
// there. Every prefetch address comes from offsets checked against their section
// (RecordStore::*_hint), so none points outside the mapping. After a reset() (a seek) it
// stays idle for one step and then gains two positions per step, so a lookup of a record
// or two pays for one block decode at most, not for a whole window. Allocation-free;
// borrows the store, which must outlive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "store/block_decoders.h"
#include "store/store_codec.h"
#include "store/store_reader.h"

namespace quarn {

// Steps ahead of the cursor: far enough that a miss (a few hundred ns on a busy machine)
// is hidden behind the decoding of the records in between, near enough that the lines
// are still in cache when the cursor arrives.
inline constexpr uint64_t kReadAheadFar = 32;
inline constexpr uint64_t kReadAheadNear = 16;
// Cache lines prefetched per block, at most: the decoders read a block from its start up
// to the record or entry wanted, and blocks average 360 (values) to 420 (names) bytes.
inline constexpr uint64_t kReadAheadLines = 8;

// Where a read-ahead stands relative to its cursor.
enum class ReadAheadState { kIdle, kArmed, kRunning, kStopped };

// Ahead of a NameCursor: prefetches the value entries of the coming records.
class NameReadAhead {
 public:
  explicit NameReadAhead(const RecordStore& store) : store_(store), names_(store) {}
  NameReadAhead(const NameReadAhead&) = delete;
  NameReadAhead& operator=(const NameReadAhead&) = delete;

  // The cursor moved somewhere new: start over from it one step later.
  void reset() { state_ = ReadAheadState::kIdle; }
  // The cursor is now on record `ordinal`, which lies in name block `block`.
  void step(uint64_t block, uint64_t ordinal);
  // Cache lines of blocks prefetched so far.
  uint64_t lines_prefetched() const { return lines_; }

 private:
  bool restart(uint64_t block, uint64_t ordinal);
  void advance();  // decodes one record more; stops at the store's end or damage

  static constexpr uint64_t kRing = 64;  // > kReadAheadFar: positions not yet reached
  const RecordStore& store_;
  NameBlockDecoder names_;
  ReadAheadState state_ = ReadAheadState::kIdle;
  bool at_end_ = false;
  uint64_t next_ = 0;  // ordinal of the next record to decode
  uint64_t ranks_[kRing];  // value rank of ordinal o at o % kRing
  uint64_t lines_ = 0;
  std::string error_;  // the decoders' error texts, never shown
};

// Ahead of a ValueCursor: prefetches the name blocks of the coming references, across
// values and value blocks.
class ValueReadAhead {
 public:
  explicit ValueReadAhead(const RecordStore& store) : store_(store), values_(store) {}
  ValueReadAhead(const ValueReadAhead&) = delete;
  ValueReadAhead& operator=(const ValueReadAhead&) = delete;

  void reset() { state_ = ReadAheadState::kIdle; }
  // The cursor is now on reference `ref` (its index among all references) of value
  // `rank`, whose record is `ordinal`; `rest` holds the value's `left` further
  // references.
  void step(uint64_t rank, uint64_t ref, uint64_t ordinal, const ByteCursor& rest,
            uint64_t left);
  uint64_t lines_prefetched() const { return lines_; }

 private:
  bool restart(uint64_t rank, uint64_t ref, uint64_t ordinal, const ByteCursor& rest,
               uint64_t left);
  void advance();  // decodes one reference more; stops at the last value or damage

  static constexpr uint64_t kRing = 64;
  const RecordStore& store_;
  ValueBlockDecoder values_;
  ReadAheadState state_ = ReadAheadState::kIdle;
  bool at_end_ = false;
  size_t entry_ = 0;      // the walk's value, as an entry of values_
  ByteCursor refs_;       // its references not yet decoded, `left_` of them
  uint64_t left_ = 0;
  bool first_ = false;    // the next reference is its value's first (not a gap)
  uint64_t ordinal_ = 0;  // of the last reference decoded
  uint64_t next_ = 0;     // index of the next reference to decode
  uint64_t ordinals_[kRing];  // record ordinal of reference r at r % kRing
  uint64_t lines_ = 0;
  std::string error_;
};

}  // namespace quarn
