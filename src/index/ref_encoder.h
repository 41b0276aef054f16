// Encodes an ascending list of line numbers into 5-byte reference entries (format.h),
// one line at a time.
//
// Choice per position, greedily: a run of five or more consecutive lines becomes a range
// (REF_START + REF_END, 10 bytes whatever its length); otherwise, right after a plain
// entry or a range end, the next two to four lines become one offset-compression entry
// when their gaps fit one of its layouts (it never swallows the head of a range-worthy
// run); otherwise a plain entry. A compression entry cannot serve as the base of the next
// one, so the pattern for scattered near lines is plain, compressed, plain, compressed.
//
// Every choice looks at most kRefLookahead lines ahead (four lines of a compression entry
// plus the four that follow the last of them to see whether a range starts there), so
// RefEncoder holds a fixed window of that many lines, and a range in progress only as its
// first and last line: its memory does not depend on the length of the list.
//
// Order of use: construct with a sink, then for each list add() its lines in strictly
// ascending order (each <= kMaxLineNumber; a violation stops the program through
// QUARN_CHECK, as it is a caller's fault) and finish() it; entries() and lines() then
// describe that list, and the next add() starts a new one. Entries reach the sink in
// blocks of whole 5-byte entries, at the latest when finish() returns; the sink is called
// only from add() and finish(), and a block pointer is valid only during the call. When
// the sink returns false the encoder stops: add() and finish() return false from then on
// and nothing more reaches the sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quarn {

// Lines a choice may need to see beyond the first undecided one, that one included.
constexpr size_t kRefLookahead = 8;

class RefEncoder {
 public:
  // Receives encoded bytes (a multiple of 5); false reports a failure to store them.
  using Sink = std::function<bool(const char* data, size_t len)>;

  explicit RefEncoder(Sink sink);
  RefEncoder(const RefEncoder&) = delete;
  RefEncoder& operator=(const RefEncoder&) = delete;

  // Adds the next line of the current list. false once the sink has failed.
  bool add(uint64_t line);
  // Decides the rest of the current list and hands every entry to the sink. false when
  // the sink failed. The counts below stay readable until the next add(); a finish()
  // without a line since the last one finishes an empty list (both counts 0).
  bool finish();

  // Entries and lines of the current (or just finished) list.
  uint64_t entries() const { return entries_; }
  uint64_t lines() const { return lines_; }

 private:
  // Makes one greedy choice at the head of the window; `at_end` tells that no more lines
  // follow those in the window.
  void step(bool at_end);
  void put(uint64_t entry);
  bool flush();
  uint64_t at(size_t i) const { return window_[(head_ + i) % kRefLookahead]; }
  size_t run_at(size_t i) const;
  void drop(size_t k);
  void close_range();

  // Output block: a multiple of 5 bytes, small enough to stay in cache.
  static constexpr size_t kBlock = 5 * 816;

  Sink sink_;
  bool failed_ = false;
  bool open_ = false;  // the current list has lines and is not finished
  uint64_t window_[kRefLookahead];
  size_t head_ = 0, size_ = 0;
  bool in_range_ = false;  // a range is open: its start is written, its end is range_last_
  uint64_t range_last_ = 0;
  bool have_base_ = false;  // the last entry is a plain entry or a range end
  uint64_t base_ = 0;
  uint64_t prev_ = 0;  // last line added
  uint64_t entries_ = 0, lines_ = 0;
  char block_[kBlock];
  size_t used_ = 0;
};

// Appends the entries for lines[0..n) (strictly ascending, each <= kMaxLineNumber) to
// *out and returns how many entries were appended.
uint64_t encode_ref_list(const uint64_t* lines, size_t n, std::string* out);

// Builds one offset-compression entry for the gaps g[0..k) (k 2-4, each gap >= 1) from
// a base. Returns false when no layout holds them.
bool encode_offsets(const uint64_t* gaps, int k, uint64_t* entry);

}  // namespace quarn
