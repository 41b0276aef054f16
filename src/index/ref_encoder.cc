#include "index/ref_encoder.h"

#include <utility>

#include "common/check.h"
#include "index/format.h"

namespace quarn {

namespace {

// Runs at least this long are cheaper as a range than as compressed entries.
constexpr size_t kMinRangeRun = 5;

inline uint64_t make_other(unsigned slots, bool narrow, uint8_t b0, uint8_t b1, uint8_t b2,
                           uint8_t b3) {
  // slots: bit 3 = slot 0 ... bit 0 = slot 3, as they sit in bits 35-32.
  return REF_OTHER | (narrow ? REF_NARROW : 0) | (static_cast<uint64_t>(slots) << 32) |
         (static_cast<uint64_t>(b0) << 24) | (static_cast<uint64_t>(b1) << 16) |
         (static_cast<uint64_t>(b2) << 8) | b3;
}

inline uint8_t hi(uint64_t v) { return static_cast<uint8_t>(v >> 8); }
inline uint8_t lo(uint64_t v) { return static_cast<uint8_t>(v); }

}  // namespace

bool encode_offsets(const uint64_t* g, int k, uint64_t* entry) {
  auto byte = [](uint64_t v) { return v >= 1 && v < 256; };
  auto word = [](uint64_t v) { return v >= 1 && v < 65536; };
  switch (k) {
    case 4:
      if (byte(g[0]) && byte(g[1]) && byte(g[2]) && byte(g[3])) {
        *entry = make_other(0xF, false, lo(g[0]), lo(g[1]), lo(g[2]), lo(g[3]));
        return true;
      }
      return false;
    case 3:
      if (byte(g[0]) && byte(g[1]) && byte(g[2])) {  // slots 0-2, narrow: one byte each
        *entry = make_other(0xE, true, lo(g[0]), lo(g[1]), lo(g[2]), 0);
      } else if (byte(g[0]) && byte(g[1]) && word(g[2])) {  // slot 2 widens into byte 3
        *entry = make_other(0xE, false, lo(g[0]), lo(g[1]), hi(g[2]), lo(g[2]));
      } else if (word(g[0]) && byte(g[1]) && byte(g[2])) {  // slots 0 (wide), 2, 3
        *entry = make_other(0xB, false, hi(g[0]), lo(g[0]), lo(g[1]), lo(g[2]));
      } else if (byte(g[0]) && word(g[1]) && byte(g[2])) {  // slots 0, 1 (wide), 3
        *entry = make_other(0xD, false, lo(g[0]), hi(g[1]), lo(g[1]), lo(g[2]));
      } else {
        return false;
      }
      return true;
    case 2:
      if (word(g[0]) && word(g[1])) {  // slots 0 and 2, both wide
        *entry = make_other(0xA, false, hi(g[0]), lo(g[0]), hi(g[1]), lo(g[1]));
        return true;
      }
      return false;
    default:
      return false;
  }
}

RefEncoder::RefEncoder(Sink sink) : sink_(std::move(sink)) {}

size_t RefEncoder::run_at(size_t i) const {
  size_t r = 1;
  while (i + r < size_ && at(i + r) == at(i) + r) ++r;
  return r;
}

void RefEncoder::drop(size_t k) {
  head_ = (head_ + k) % kRefLookahead;
  size_ -= k;
}

void RefEncoder::put(uint64_t e) {
  if (failed_) return;
  ref_write(reinterpret_cast<uint8_t*>(block_ + used_), e);
  used_ += kRefSize;
  ++entries_;
  if (used_ == kBlock) flush();
}

bool RefEncoder::flush() {
  if (!failed_ && used_ > 0 && !sink_(block_, used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

void RefEncoder::close_range() {
  put(REF_END | range_last_);
  base_ = range_last_;
  have_base_ = true;
  in_range_ = false;
}

void RefEncoder::step(bool at_end) {
  const size_t r = run_at(0);
  if (r >= kMinRangeRun) {
    put(REF_START | at(0));
    if (r == size_ && !at_end) {
      // The run fills the window and may go on: keep only its end from here.
      in_range_ = true;
      range_last_ = at(r - 1);
      drop(r);
      return;
    }
    range_last_ = at(r - 1);
    drop(r);
    close_range();
    return;
  }
  if (have_base_) {
    // With a full window k is 4 whatever follows, and a run of five starting at j <= 3
    // ends inside the window's eight lines, so the window sees all the whole list would.
    size_t k = size_ < 4 ? size_ : 4;
    for (size_t j = 1; j < k; ++j) {
      if (run_at(j) >= kMinRangeRun) {  // leave a range-worthy run to the range
        k = j;
        break;
      }
    }
    uint64_t gaps[4];
    uint64_t prev = base_;
    for (size_t j = 0; j < k; ++j) {
      gaps[j] = at(j) - prev;
      prev = at(j);
    }
    for (; k >= 2; --k) {
      uint64_t e;
      if (encode_offsets(gaps, static_cast<int>(k), &e)) {
        put(e);
        have_base_ = false;
        drop(k);
        return;
      }
    }
  }
  put(at(0));
  base_ = at(0);
  have_base_ = true;
  drop(1);
}

bool RefEncoder::add(uint64_t line) {
  QUARN_CHECK(line <= kMaxLineNumber);
  if (!open_) {
    open_ = true;
    entries_ = 0;
    lines_ = 0;
    have_base_ = false;
    in_range_ = false;
    head_ = 0;
    size_ = 0;
  } else {
    QUARN_CHECK(line > prev_);
  }
  prev_ = line;
  ++lines_;
  if (in_range_) {
    if (line == range_last_ + 1) {
      range_last_ = line;
      return !failed_;
    }
    close_range();
  }
  window_[(head_ + size_) % kRefLookahead] = line;
  if (++size_ == kRefLookahead) step(false);
  return !failed_;
}

bool RefEncoder::finish() {
  if (!open_) {  // an empty list
    entries_ = 0;
    lines_ = 0;
    return !failed_;
  }
  open_ = false;
  while (size_ > 0) step(true);
  if (in_range_) close_range();
  return flush();
}

uint64_t encode_ref_list(const uint64_t* l, size_t n, std::string* out) {
  RefEncoder enc([out](const char* data, size_t len) {
    out->append(data, len);
    return true;
  });
  for (size_t i = 0; i < n; ++i) enc.add(l[i]);
  enc.finish();
  return enc.entries();
}

}  // namespace quarn
