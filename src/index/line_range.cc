// Line ranges and their boundaries; see line_range.h.
#include "index/line_range.h"

#include "index/format.h"
#include "index/line_lookup.h"
#include "index/tgdb.h"

namespace quarn {

LineRange whole_table(const Tgdb& index) {
  LineRange r;
  r.begin = index.string_table();
  r.stop = r.begin + index.string_table_size();
  return r;
}

uint64_t line_count_bound(const Tgdb& index) {
  return index.line_index_size() / kLineIndexEntrySize * kLinesPerIndexEntry;
}

bool first_line_not_before(const Tgdb& index, std::string_view key, line_compare_fn compare,
                           uint64_t* line, const char** pos) {
  const char* table = index.string_table();
  const char* end = table + index.string_table_size();
  // Invariant: every line below lo orders before key; line hi does not, or is past the end.
  uint64_t lo = 0;
  uint64_t hi = line_count_bound(index);
  const char* found = end;
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
    bool damaged = false;
    const char* p = line_lookup(index, mid, &damaged);
    if (damaged) return false;
    const bool before =
        p != nullptr && compare(std::string_view(p, static_cast<size_t>(end - p)), key) < 0;
    if (before) {
      lo = mid + 1;
    } else {
      hi = mid;
      found = p != nullptr ? p : end;
    }
  }
  *line = lo;
  *pos = found;
  return true;
}

}  // namespace quarn
