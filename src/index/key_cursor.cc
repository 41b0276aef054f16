#include "index/key_cursor.h"

#include <cstring>

namespace quarn {

namespace {

// First byte distance of the gallop once the next line has not reached the key: a few
// lines of a typical table, so that a key a handful of lines on costs one bisection of a
// short range, and one far away costs a logarithmic number of doublings.
constexpr uint64_t kFirstGallopBytes = 256;

}  // namespace

key_cursor::key_cursor(const char* table, uint64_t size, compare_fn compare)
    : begin_(table), end_(table + size), compare_(compare), cursor_(table) {}

std::string_view key_cursor::line_at(const char* p) const {
  const void* lf = std::memchr(p, '\n', static_cast<size_t>(end_ - p));
  const char* stop = lf ? static_cast<const char*>(lf) : end_;
  return std::string_view(p, static_cast<size_t>(stop - p));
}

const char* key_cursor::after(const char* p) const {
  const void* lf = std::memchr(p, '\n', static_cast<size_t>(end_ - p));
  return lf ? static_cast<const char*>(lf) + 1 : end_;
}

int key_cursor::compare_at(const char* p, std::string_view key) {
  ++compared_;
  // Both orders stop at the line's first tab or line feed, so the view may run to the
  // table's end: that spares a line-feed search per compare.
  return compare_(std::string_view(p, static_cast<size_t>(end_ - p)), key);
}

bool key_cursor::seek(std::string_view key, std::string_view* line) {
  if (cursor_ == end_) return false;
  int order = compare_at(cursor_, key);
  if (order > 0) return false;  // the common case: this table has nothing more up to key
  if (order < 0) {
    cursor_ = gallop(key, &order);
    if (order != 0) return false;
  }
  *line = line_at(cursor_);
  return true;
}

bool key_cursor::next_equal(std::string_view key, std::string_view* line) {
  if (cursor_ == end_) return false;
  cursor_ = after(cursor_);
  if (cursor_ == end_ || compare_at(cursor_, key) != 0) return false;
  *line = line_at(cursor_);
  return true;
}

const char* key_cursor::gallop(std::string_view key, int* order) {
  *order = 1;  // past the end, or a line known not to order before key
  // Successive result keys are often neighbours here too: try the next line first.
  const char* lo = cursor_;
  const char* next = after(lo);
  if (next == end_) return end_;
  *order = compare_at(next, key);
  if (*order >= 0) return next;
  *order = 1;
  lo = next;
  // The cursor's line orders before key, so the table holds at least one line.
  if (last_ == nullptr) {
    const char* stop = end_[-1] == '\n' ? end_ - 1 : end_;
    const void* lf = memrchr(begin_, '\n', static_cast<size_t>(stop - begin_));
    last_ = lf ? static_cast<const char*>(lf) + 1 : begin_;
  }
  if (lo == last_) return end_;
  *order = compare_at(last_, key);
  const int last_order = *order;
  if (last_order < 0) {
    *order = 1;
    return end_;
  }
  // From here on last_ does not order before key and lies after lo.
  uint64_t step = kFirstGallopBytes;
  while (static_cast<uint64_t>(last_ - lo) > step) {
    const char* probe = lo + step;
    const char* p = probe[-1] == '\n' ? probe : after(probe);  // a line start <= last_
    *order = compare_at(p, key);
    if (*order >= 0) return bisect(lo, p, key, order);
    lo = p;
    step *= 2;
  }
  *order = last_order;
  return bisect(lo, last_, key, order);
}

const char* key_cursor::bisect(const char* lo, const char* hi, std::string_view key,
                               int* order) {
  for (;;) {
    if (after(lo) >= hi) return hi;  // no line start between them
    const char* mid = lo + (hi - lo) / 2;
    const char* m = mid[-1] == '\n' ? mid : after(mid);
    if (m >= hi) {
      // mid lies in the line just before hi, which starts after lo's line feed.
      const void* lf = memrchr(lo, '\n', static_cast<size_t>(mid - lo));
      m = static_cast<const char*>(lf) + 1;
    }
    const int m_order = compare_at(m, key);
    if (m_order < 0) {
      lo = m;
    } else {
      hi = m;
      *order = m_order;
    }
  }
}

}  // namespace quarn
