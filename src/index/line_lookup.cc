#include "index/line_lookup.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "index/format.h"
#include "index/tgdb.h"

namespace quarn {

namespace {

// Per-thread cache of the last answer: sequential readers (table scans, the merger
// walking consecutive candidates) then pay one line-feed search per line.
struct LookupCache {
  uint64_t serial = 0;
  uint64_t n = 0;
  const char* ptr = nullptr;
};
thread_local LookupCache t_cache;

// Offset just past the next line feed at or after pos and strictly before `end`, or
// `none` when there is none.
inline uint64_t after_next_lf(const char* table, uint64_t pos, uint64_t end, uint64_t none) {
  if (pos >= end) return none;
  const void* lf = std::memchr(table + pos, '\n', end - pos);
  if (lf == nullptr) return none;
  return static_cast<uint64_t>(static_cast<const char*>(lf) - table) + 1;
}

// Offset just past the count-th line feed at or after pos and strictly before `end`, or
// `none` when there are fewer. A lookup that misses the cache walks up to fifteen lines
// from the nearest recorded position; counting line feeds sixteen bytes at a time is
// several times cheaper than one byte search per line. Loads stay below `end`.
uint64_t after_nth_lf(const char* table, uint64_t pos, uint64_t end, uint64_t count,
                      uint64_t none) {
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  while (count > 0 && end >= 16 && pos <= end - 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + pos));
    uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lf)));
    // One step per line feed (a block holds few): a population count instruction is not
    // part of the baseline instruction set, and its library fallback costs more.
    while (mask != 0) {
      if (--count == 0) return pos + static_cast<uint64_t>(std::countr_zero(mask)) + 1;
      mask &= mask - 1;
    }
    pos += 16;
  }
#endif
  for (; count > 0; --count) {
    pos = after_next_lf(table, pos, end, none);
    if (pos == none) return none;
  }
  return pos;
}

inline const char* report_damage(bool* damaged) {
  if (damaged != nullptr) *damaged = true;
  return nullptr;
}

inline uint16_t step_at(const uint8_t* li, uint64_t li_size, uint64_t at) {
  // Step bytes past the end of the line index read as 0 (the last entry may be cut).
  return at + 2 <= li_size ? load_le16(li + at) : 0;
}

}  // namespace

const char* line_lookup_sections(uint64_t serial, const char* table, uint64_t table_size,
                                 const uint8_t* li, uint64_t li_size, uint64_t n,
                                 bool* damaged) {
  constexpr uint64_t kNone = ~0ull;
  if (damaged != nullptr) *damaged = false;
  LookupCache& c = t_cache;
  if (serial != 0 && c.serial == serial && c.ptr != nullptr) {
    if (n == c.n) return c.ptr;
    if (n == c.n + 1) {
      // Up to, not including, the table's last byte: the final line feed starts no line.
      const uint64_t from = static_cast<uint64_t>(c.ptr - table);
      const uint64_t next = table_size == 0 ? kNone : after_next_lf(table, from, table_size - 1, kNone);
      c.n = n;
      c.ptr = next == kNone ? nullptr : table + next;
      return c.ptr;
    }
  }
  c = LookupCache{serial, n, nullptr};
  if (table_size == 0 || li_size == 0) return nullptr;

  // Only entries whose 8 offset bytes lie inside the line index can be used.
  const uint64_t k = n / kLinesPerIndexEntry;
  if (li_size < 8 || k > (li_size - 8) / kLineIndexEntrySize) return nullptr;
  const uint64_t entry = k * kLineIndexEntrySize;
  uint64_t pos = load_le64(li + entry);
  if (pos >= table_size) return nullptr;
  // The first line starts the table; any other first offset shifts every line number.
  if (k == 0 && pos != 0) return report_damage(damaged);
  uint64_t anchor = k * kLinesPerIndexEntry;
  const uint64_t s = (n / kLinesPerStep) % 4;
  for (uint64_t j = 0; j < s; ++j) {
    const uint16_t step = step_at(li, li_size, entry + 8 + 2 * j);
    if (step == 0) break;  // an unrecorded step invalidates every later one
    pos += 2ull * step;
    anchor += kLinesPerStep;
    if (pos >= table_size) return nullptr;
  }
  if (pos >= table_size) return nullptr;
  if (table[pos] == '\n') ++pos;
  if (pos >= table_size) return nullptr;
  // A recorded position inside a line would hand out the line's tail as a line of its
  // own, or the wrong line after walking on: one byte tells.
  if (pos != 0 && table[pos - 1] != '\n') return report_damage(damaged);
  if (anchor < n) {
    pos = after_nth_lf(table, pos, table_size, n - anchor, kNone);
    if (pos == kNone || pos >= table_size) return nullptr;
  }
  c.ptr = table + pos;
  return c.ptr;
}

const char* line_lookup(const Tgdb& t, uint64_t n, bool* damaged) {
  return line_lookup_sections(t.serial(), t.string_table(), t.string_table_size(),
                              t.line_index(), t.line_index_size(), n, damaged);
}

}  // namespace quarn
