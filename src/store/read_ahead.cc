// Prefetching ahead of the store cursors; see read_ahead.h.
#include "store/read_ahead.h"

namespace quarn {
namespace {

constexpr uintptr_t kLine = 64;

// The lines of a block from its start through about where its k-th of n items lies
// (the decoders read a block from its start), at most kReadAheadLines of them; returns
// how many. An empty span prefetches nothing. (The count is what keeps GCC from deleting
// the call: a function whose only effect is prefetching counts as pure to it.)
uint64_t prefetch_block(const BlockSpan& span, uint64_t k, uint64_t n) {
  if (span.begin == nullptr) return 0;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(span.begin);
  const uintptr_t end = reinterpret_cast<uintptr_t>(span.end);
  const uintptr_t reach = begin + (end - begin) * (k + 1) / n + kLine;
  const uintptr_t last = reach < end ? reach : end;
  uintptr_t line = begin & ~(kLine - 1);
  uint64_t lines = 0;
  for (; lines < kReadAheadLines && line < last; ++lines, line += kLine) {
    __builtin_prefetch(reinterpret_cast<const void*>(line));
  }
  return lines;
}

// An index entry, which may straddle two lines.
void prefetch_entry(const uint8_t* entry, size_t size) {
  __builtin_prefetch(entry);
  __builtin_prefetch(entry + size - 1);
}

// True when the walk should (re)start from the cursor at position `at`: after a reset it
// waits one step, and it restarts whenever the cursor has caught up with it.
bool must_restart(ReadAheadState* state, uint64_t at, uint64_t next) {
  switch (*state) {
    case ReadAheadState::kIdle: *state = ReadAheadState::kArmed; return false;
    case ReadAheadState::kArmed: return true;
    case ReadAheadState::kRunning: return at >= next;
    case ReadAheadState::kStopped: return false;
  }
  return false;
}

}  // namespace

// ---- NameReadAhead ----

bool NameReadAhead::restart(uint64_t block, uint64_t ordinal) {
  if (!names_.load(block, &error_) || !names_.advance_to(ordinal, &error_)) {
    state_ = ReadAheadState::kStopped;
    return false;
  }
  state_ = ReadAheadState::kRunning;
  at_end_ = false;
  next_ = ordinal + 1;
  return true;
}

void NameReadAhead::advance() {
  while (!names_.next(&error_)) {
    const uint64_t b = names_.block() + 1;
    if (!names_.done() || b >= store_.header().name_block_count) {
      at_end_ = true;  // damage or the last record: the ring keeps what it has
      return;
    }
    if (!names_.load(b, &error_)) {
      at_end_ = true;
      return;
    }
  }
  // The decoder bounds ranks by the value count, so the entry is inside the index.
  const uint64_t rank = names_.fields().rank;
  ranks_[next_ % kRing] = rank;
  ++next_;
  prefetch_entry(store_.value_entry_address(rank / kValuesPerBlock), kValueIndexEntry);
}

void NameReadAhead::step(uint64_t block, uint64_t ordinal) {
  if (must_restart(&state_, ordinal, next_) && !restart(block, ordinal)) return;
  if (state_ != ReadAheadState::kRunning) return;
  for (int i = 0; i < 2 && !at_end_ && next_ <= ordinal + kReadAheadFar; ++i) advance();
  const uint64_t near = ordinal + kReadAheadNear;
  if (near < next_) {
    const uint64_t rank = ranks_[near % kRing];
    lines_ += prefetch_block(store_.value_block_hint(rank / kValuesPerBlock),
                             rank % kValuesPerBlock, kValuesPerBlock);
  }
}

// ---- ValueReadAhead ----

bool ValueReadAhead::restart(uint64_t rank, uint64_t ref, uint64_t ordinal,
                             const ByteCursor& rest, uint64_t left) {
  if (!values_.load(rank / kValuesPerBlock, true, &error_)) {
    state_ = ReadAheadState::kStopped;
    return false;
  }
  state_ = ReadAheadState::kRunning;
  at_end_ = false;
  entry_ = static_cast<size_t>(rank % kValuesPerBlock);
  refs_ = rest;
  left_ = left;
  first_ = false;
  ordinal_ = ordinal;
  next_ = ref + 1;
  return true;
}

void ValueReadAhead::advance() {
  while (left_ == 0) {
    if (++entry_ >= values_.size()) {
      const uint64_t b = values_.block() + 1;
      if (b >= store_.value_block_count() || !values_.load(b, true, &error_)) {
        at_end_ = true;
        return;
      }
      entry_ = 0;
    }
    refs_ = values_.refs(entry_);
    left_ = values_.entry(entry_).nrefs;
    first_ = true;
  }
  const uint64_t v = refs_.varint();
  if (!refs_.ok()) {
    at_end_ = true;
    return;
  }
  ordinal_ = first_ ? v : ordinal_ + v;
  first_ = false;
  --left_;
  ordinals_[next_ % kRing] = ordinal_;
  ++next_;
  // The cursor finds the block at ordinal / kNameBlockRecords nearly always (blocks are
  // written full) and reads that entry and the next.
  const uint64_t guess = ordinal_ / kNameBlockRecords;
  if (guess < store_.header().name_block_count) {
    prefetch_entry(store_.name_entry_address(guess),
                   guess + 1 < store_.header().name_block_count ? 2 * kNameIndexEntry
                                                                : kNameIndexEntry);
  }
}

void ValueReadAhead::step(uint64_t rank, uint64_t ref, uint64_t ordinal, const ByteCursor& rest,
                          uint64_t left) {
  if (must_restart(&state_, ref, next_) && !restart(rank, ref, ordinal, rest, left)) return;
  if (state_ != ReadAheadState::kRunning) return;
  for (int i = 0; i < 2 && !at_end_ && next_ <= ref + kReadAheadFar; ++i) advance();
  const uint64_t near = ref + kReadAheadNear;
  if (near < next_) {
    const uint64_t ordinal = ordinals_[near % kRing];
    lines_ += prefetch_block(store_.name_block_hint(ordinal / kNameBlockRecords),
                             ordinal % kNameBlockRecords, kNameBlockRecords);
  }
}

}  // namespace quarn
