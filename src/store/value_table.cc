// Interning and ordering the distinct values of a store being written; see value_table.h.
#include "store/value_table.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/huge_pages.h"
#include "common/parallel_sort.h"
#include "store/value_order.h"

namespace quarn {
namespace {

// Arena chunks double from the first size to the last, so a small store takes little
// memory and a large one allocates rarely; a chunk is never smaller than the value that
// opens it.
constexpr uint32_t kFirstChunk = 16u << 10;
constexpr uint32_t kLastChunk = 4u << 20;
constexpr uint64_t kFirstSlots = 1024;

uint64_t load_bytes(const char* p, size_t n) {
  uint64_t w = 0;
  std::memcpy(&w, p, n);
  return w;
}

// A multiply-and-shift hash over 8-byte words: values are short (addresses, names), so
// a few multiplications beat a byte-at-a-time hash, and the final mix spreads the low
// bits that pick the slot.
uint64_t hash_value(uint16_t rrtype, std::string_view raw) {
  constexpr uint64_t kMul = 0x9e3779b97f4a7c15ull;
  uint64_t h = (static_cast<uint64_t>(rrtype) << 32 | raw.size()) * kMul;
  size_t i = 0;
  for (; i + 8 <= raw.size(); i += 8) {
    h = (h ^ load_bytes(raw.data() + i, 8)) * kMul;
    h ^= h >> 29;
  }
  if (i < raw.size()) {
    h = (h ^ load_bytes(raw.data() + i, raw.size() - i)) * kMul;
    h ^= h >> 29;
  }
  h ^= h >> 32;
  h *= 0xd6e8feb86659fd93ull;
  return h ^ (h >> 32);
}

// The first 8 bytes of a value, big-endian, zero-padded: comparing two of them decides
// the value order whenever they differ at a byte both values have.
uint64_t order_prefix(std::string_view raw) {
  uint8_t b[8] = {};
  std::memcpy(b, raw.data(), std::min<size_t>(raw.size(), 8));
  uint64_t k = 0;
  for (uint8_t c : b) k = k << 8 | c;
  return k;
}

struct SortKey {
  uint64_t prefix;
  uint32_t id;
  uint16_t length;
  uint16_t rrtype;
};

}  // namespace

ValueTable::ValueTable() : slots_(kFirstSlots, 0), mask_(kFirstSlots - 1) {}

uint64_t ValueTable::memory_bytes() const {
  return arena_bytes_ + entries_.capacity() * sizeof(Entry) +
         slots_.capacity() * sizeof(uint64_t);
}

const char* ValueTable::store_bytes(std::string_view raw) {
  if (chunks_.empty() || chunk_size_ - chunk_used_ < raw.size()) {
    const uint32_t next = chunks_.empty() ? kFirstChunk : std::min(chunk_size_ * 2, kLastChunk);
    chunk_size_ = std::max(next, static_cast<uint32_t>(raw.size()));
    // Not zeroed: the hint must come before the first touch to take effect.
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(chunk_size_));
    advise_huge_pages(chunks_.back().get(), chunk_size_);
    arena_bytes_ += chunk_size_;
    chunk_used_ = 0;
  }
  char* at = chunks_.back().get() + chunk_used_;
  if (!raw.empty()) std::memcpy(at, raw.data(), raw.size());
  chunk_used_ += static_cast<uint32_t>(raw.size());
  return at;
}

uint32_t ValueTable::intern(uint16_t rrtype, std::string_view raw) {
  return intern_hashed(rrtype, raw, static_cast<uint32_t>(hash_value(rrtype, raw)));
}

void ValueTable::intern_batch(const Value* values, size_t n, uint32_t* ids) {
  uint32_t hashes[kInternBatch];
  for (size_t first = 0; first < n; first += kInternBatch) {
    const size_t count = std::min(kInternBatch, n - first);
    const Value* v = values + first;
    for (size_t i = 0; i < count; ++i) {
      hashes[i] = static_cast<uint32_t>(hash_value(v[i].rrtype, v[i].raw));
      __builtin_prefetch(&slots_[hashes[i] & mask_]);
    }
    for (size_t i = 0; i < count; ++i) {
      ids[first + i] = intern_hashed(v[i].rrtype, v[i].raw, hashes[i]);
    }
  }
}

uint32_t ValueTable::intern_hashed(uint16_t rrtype, std::string_view raw, uint32_t h) {
  for (uint64_t s = h & mask_;; s = (s + 1) & mask_) {
    const uint64_t slot = slots_[s];
    if (slot == 0) {
      const auto id = static_cast<uint32_t>(entries_.size());
      const char* at = store_bytes(raw);
      if (entries_.size() == entries_.capacity()) grow_entries();
      entries_.push_back(Entry{static_cast<uint32_t>(chunks_.size() - 1),
                               static_cast<uint32_t>(at - chunks_.back().get()),
                               static_cast<uint16_t>(raw.size()), rrtype});
      slots_[s] = uint64_t{h} << 32 | (id + 1);
      // At most half full: probes stay short with linear probing.
      if (entries_.size() * 2 > slots_.size()) grow_slots();
      return id;
    }
    if (slot >> 32 != h) continue;
    const auto id = static_cast<uint32_t>(slot) - 1;
    const Entry& e = entries_[id];
    if (e.rrtype == rrtype && e.length == raw.size() &&
        std::memcmp(chunks_[e.chunk].get() + e.at, raw.data(), raw.size()) == 0) {
      return id;
    }
  }
}

// Doubles the slots. A value's new slot follows from the hash its old slot keeps, so
// growing touches neither entries nor value bytes.
void ValueTable::grow_slots() {
  const size_t n = slots_.size() * 2;
  std::vector<uint64_t> grown;
  grown.reserve(n);
  advise_huge_pages(grown.data(), n * sizeof(uint64_t));
  grown.assign(n, 0);
  const uint64_t mask = n - 1;
  for (uint64_t slot : slots_) {
    if (slot == 0) continue;
    uint64_t s = (slot >> 32) & mask;
    while (grown[s] != 0) s = (s + 1) & mask;
    grown[s] = slot;
  }
  slots_.swap(grown);
  mask_ = mask;
}

// Doubles the entries as push_back would, with the hint given before the copy touches
// the new array (the value walks of finish() read it in rank order).
void ValueTable::grow_entries() {
  std::vector<Entry> grown;
  grown.reserve(std::max<size_t>(1, entries_.capacity() * 2));
  advise_huge_pages(grown.data(), grown.capacity() * sizeof(Entry));
  grown.insert(grown.end(), entries_.begin(), entries_.end());
  entries_.swap(grown);
}

std::vector<uint32_t> ValueTable::sorted_ids(size_t sort_threads) const {
  std::vector<SortKey> keys;
  keys.reserve(entries_.size());
  advise_huge_pages(keys.data(), keys.capacity() * sizeof(SortKey));
  for (uint32_t id = 0; id < entries_.size(); ++id) {
    keys.push_back(SortKey{order_prefix(raw(id)), id, entries_[id].length, entries_[id].rrtype});
  }
  // Most pairs differ within their first 8 bytes, so the sort runs on the keys alone and
  // reaches the arena only for the rest.
  // Distinct values never compare equal, so the order is one for any number of threads.
  parallel_sort(keys.begin(), keys.end(), sort_threads, [this](const SortKey& a, const SortKey& b) {
    if (a.prefix != b.prefix) {
      const int at = std::countl_zero(a.prefix ^ b.prefix) / 8;
      if (at < std::min(a.length, b.length)) return a.prefix < b.prefix;
    }
    return value_order(raw(a.id), a.rrtype, raw(b.id), b.rrtype) < 0;
  });
  std::vector<uint32_t> ids(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) ids[i] = keys[i].id;
  return ids;
}

}  // namespace quarn
