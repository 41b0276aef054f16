// The table scan; see table_scan.h.
#include "index/table_scan.h"

#include <cstring>

#include "common/log.h"
#include "index/tracker_messages.h"

namespace quarn {

table_scan::table_scan(const char* begin, const char* end, search_hooks& search,
                       size_t block_size, const scan_filter* fixed)
    : search_(search),
      end_(end),
      block_size_(block_size == 0 ? 1 : block_size),
      prepared_(fixed != nullptr && fixed->kind != scan_filter::blocks),
      filter_(prepared_ ? *fixed : scan_filter{}),
      next_(begin < end ? begin : nullptr),
      next_check_(begin) {}

bool table_scan::next(const char** line, size_t* length, bool* confirmed) {
  if (!prepared_) {
    filter_ = search_.prepare_table_scan();
    if (filter_.kind == scan_filter::blocks && filter_.matcher == nullptr)
      filter_.kind = scan_filter::every_line;
    prepared_ = true;
  }
  // Lines found in the last block go first, even when that block ended the block scan.
  while (true) {
    if (found_next_ < found_.size()) {
      *line = found_[found_next_].text;
      *length = found_[found_next_].length;
      *confirmed = found_confirmed_;
      ++found_next_;
      return true;
    }
    if (filter_.kind != scan_filter::blocks) break;
    if (next_ == nullptr) return false;
    search_.check_deadline();
    scan_block();
  }
  if (filter_.kind == scan_filter::every_key) {
    // Confirmed lines cost no matcher call, so a clock read per line would show.
    if (next_ != nullptr && next_ >= next_check_) {
      search_.check_deadline();
      next_check_ = next_ + block_size_;
    }
    *confirmed = true;
    return next_line(line, length);
  }
  search_.check_deadline();
  *confirmed = false;
  return next_line(line, length);
}

bool table_scan::next_line(const char** line, size_t* length) {
  if (next_ == nullptr) return false;
  const char* p = next_;
  // Searching from the line's first byte (not after it) keeps a stray empty line from
  // swallowing the line that follows it.
  const void* nl = std::memchr(p, '\n', static_cast<size_t>(end_ - p));
  *line = p;
  if (nl) {
    *length = static_cast<size_t>(static_cast<const char*>(nl) - p);
    next_ = static_cast<const char*>(nl) + 1;
    if (next_ == end_) next_ = nullptr;
  } else {
    *length = static_cast<size_t>(end_ - p);
    next_ = nullptr;
  }
  return true;
}

// Cuts the next block at the last line feed within block_size_ bytes (or the first one
// after, for a longer line) and finds its matching lines. The cut line feed itself is
// left out, so the block ends where its last line ends.
void table_scan::scan_block() {
  const char* p = next_;
  const size_t avail = static_cast<size_t>(end_ - p);
  const char* cut = end_;
  next_ = nullptr;
  if (avail > block_size_) {
    const void* nl = memrchr(p, '\n', block_size_);
    if (nl == nullptr) nl = std::memchr(p + block_size_, '\n', avail - block_size_);
    if (nl != nullptr) {
      cut = static_cast<const char*>(nl);
      if (cut + 1 < end_) next_ = cut + 1;
    }
  } else if (end_[-1] == '\n') {
    cut = end_ - 1;
  }
  found_.clear();
  found_next_ = 0;
  found_confirmed_ = true;
  const size_t length = static_cast<size_t>(cut - p);
  if (filter_.matcher->scan(p, length, found_)) {
    if (filter_.matcher->last_reports() > length / kBytesPerReport + 1) {
      QLOG(LOG_DETAIL, tracker_msg::kScanPerLine, filter_.matcher->last_reports(), length);
      filter_.kind = scan_filter::every_line;
    }
    return;
  }
  // Too long for the matcher: every line of the block goes to the caller's check.
  found_confirmed_ = false;
  const char* resume = next_;
  next_ = p;
  const char* line;
  size_t line_length;
  while (next_ != nullptr && next_ <= cut && next_line(&line, &line_length))
    found_.push_back(found_line{line, line_length});
  next_ = resume;
}

}  // namespace quarn
