// The distinct rdata values of a record store being written, each held once.
//
// intern() gives every distinct (type, raw bytes) a dense id in first-seen order; the
// bytes are copied once into an arena of chunks and never move, so raw()
// views stay valid for the table's life. Lookup is open addressing over ids keyed by a
// cheap hash of the bytes: no allocation per value, and each slot keeps its value's
// hash beside the id, so a probe passes other values without touching their entries.
// intern_batch() hashes a few values and asks for their slots before it probes any, so
// that the probes of a batch wait on memory together rather than one after another.
// sorted_ids() gives the ids in value_order (value_order.h).
//
// Invariants: ids are 0 .. size() - 1; a value is at most kMaxStoreRdata bytes (the
// writer checks) and at most 2^32 - 2 values are held (the writer's record limit keeps
// it there). memory_bytes() counts everything the table allocates (arena, entries,
// slots) as it grows, for the writer's budget.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace quarn {

class ValueTable {
 public:
  ValueTable();
  ValueTable(const ValueTable&) = delete;
  ValueTable& operator=(const ValueTable&) = delete;

  // The id of (rrtype, raw), adding it when it is new.
  uint32_t intern(uint16_t rrtype, std::string_view raw);
  // intern() of values[i] into ids[i] for each i < n, in turn; kInternBatch at a time
  // have their slots fetched together.
  static constexpr size_t kInternBatch = 64;
  struct Value {
    uint16_t rrtype;
    std::string_view raw;
  };
  void intern_batch(const Value* values, size_t n, uint32_t* ids);

  uint32_t size() const { return static_cast<uint32_t>(entries_.size()); }
  std::string_view raw(uint32_t id) const {
    const Entry& e = entries_[id];
    return std::string_view(chunks_[e.chunk].get() + e.at, e.length);
  }
  uint16_t rrtype(uint32_t id) const { return entries_[id].rrtype; }
  // Cache hints for a walk in an order other than the ids': the entry of an id soon to
  // be read, and the bytes of one whose entry was hinted earlier.
  void prefetch_entry(uint32_t id) const { __builtin_prefetch(&entries_[id]); }
  void prefetch_raw(uint32_t id) const {
    const Entry& e = entries_[id];
    __builtin_prefetch(chunks_[e.chunk].get() + e.at);
  }
  uint64_t memory_bytes() const;

  // Every id, in value_order of the values, sorted on up to `sort_threads` threads.
  std::vector<uint32_t> sorted_ids(size_t sort_threads = 1) const;

 private:
  struct Entry {
    uint32_t chunk;
    uint32_t at;
    uint16_t length;  // kMaxStoreRdata is 65535: the widest raw value fits
    uint16_t rrtype;
  };
  uint32_t intern_hashed(uint16_t rrtype, std::string_view raw, uint32_t hash);
  const char* store_bytes(std::string_view raw);
  void grow_slots();
  void grow_entries();

  std::vector<std::unique_ptr<char[]>> chunks_;
  uint32_t chunk_size_ = 0;  // of the last chunk
  uint32_t chunk_used_ = 0;
  uint64_t arena_bytes_ = 0;
  std::vector<Entry> entries_;
  std::vector<uint64_t> slots_;  // hash << 32 | id + 1 of each slot; 0 is empty
  uint64_t mask_ = 0;
};

}  // namespace quarn
