// The distinct rdata values of a record store being written, each held once.
//
// intern() gives every distinct (type, raw bytes) a dense id in first-seen order; the
// bytes are copied once into an arena of chunks and never move, so raw()
// views stay valid for the table's life. Lookup is open addressing over ids keyed by a
// cheap hash of the bytes: no allocation per value, and a probe compares a stored hash
// before it touches the bytes. sorted_ids() gives the ids in value_order (value_order.h).
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

  // Every id, in value_order of the values.
  std::vector<uint32_t> sorted_ids() const;

 private:
  struct Entry {
    uint32_t chunk;
    uint32_t at;
    uint32_t hash;
    uint16_t length;  // kMaxStoreRdata is 65535: the widest raw value fits
    uint16_t rrtype;
  };
  const char* store_bytes(std::string_view raw);
  void grow_slots();
  void grow_entries();

  std::vector<std::unique_ptr<char[]>> chunks_;
  uint32_t chunk_size_ = 0;  // of the last chunk
  uint32_t chunk_used_ = 0;
  uint64_t arena_bytes_ = 0;
  std::vector<Entry> entries_;
  std::vector<uint32_t> slots_;  // id + 1 of each slot; 0 is empty
  uint64_t mask_ = 0;
};

}  // namespace quarn
