// Cursors over a record store; see store_cursors.h.
#include "store/store_cursors.h"

#include "index/name_order.h"
#include "store/store_messages.h"
#include "store/value_order.h"

namespace quarn {
namespace {

// Loads the value block holding `rank` (without its references) and decodes it up to
// that value's entry, whose index in the block goes to *i; false with *error set.
bool reach_value(const RecordStore& store, ValueBlockDecoder& values, uint64_t rank, size_t* i,
                 std::string* error) {
  if (!values.load(rank / kValuesPerBlock, false, error)) return false;
  *i = static_cast<size_t>(rank % kValuesPerBlock);
  if (values.reach(*i)) return true;
  *error = store.error_text(store_msg::kDamagedValues, values.block());
  return false;
}

}  // namespace

// ---- NameCursor ----

NameCursor::NameCursor(const RecordStore& store)
    : store_(store), names_(store), values_(store), ahead_(store) {}

void NameCursor::fail() {
  valid_ = false;
  failed_ = true;
}

bool NameCursor::fill() {
  ahead_.step(names_.block(), names_.ordinal());
  const NameRecordFields& f = names_.fields();
  const uint64_t rank = f.rank;
  size_t i = 0;
  if (!reach_value(store_, values_, rank, &i, &error_)) return false;
  const ValueEntry& v = values_.entry(i);
  // A record points at a value of its own type; anything else is damage.
  if (v.rrtype != f.rrtype || !values_.text(i, &record_.text)) {
    error_ = store_.error_text(store_msg::kDamagedNames, names_.block());
    return false;
  }
  record_.name = names_.name();
  record_.rrtype = f.rrtype;
  record_.raw = v.raw;
  record_.time_first = f.time_first;
  record_.time_last = f.time_last;
  record_.count = f.count;
  record_.bailiwick = f.bailiwick;
  return true;
}

bool NameCursor::step() {
  while (!names_.next(&error_)) {
    if (!names_.done()) return false;
    const uint64_t b = names_.block() + 1;
    if (b >= store_.header().name_block_count) {
      names_.unload();
      return true;  // exhausted; valid_ is cleared by the caller
    }
    if (!names_.load(b, &error_)) return false;
  }
  return true;
}

void NameCursor::next() {
  if (!valid_) return;
  if (!step()) return fail();
  if (!names_.loaded()) {
    valid_ = false;
    return;
  }
  if (!fill()) fail();
}

void NameCursor::seek_first() {
  valid_ = false;
  failed_ = false;
  ahead_.reset();
  if (store_.header().name_block_count == 0) return;
  if (!names_.load(0, &error_) || !names_.next(&error_)) return fail();
  if (!fill()) return fail();
  valid_ = true;
}

void NameCursor::seek(std::string_view name) {
  valid_ = false;
  failed_ = false;
  ahead_.reset();
  const uint64_t blocks = store_.header().name_block_count;
  // The last block whose first name sorts before the target: the target's records, if
  // any, start in it or at the start of the next one. Each probe is verified, so damage
  // cannot steer the search past records silently.
  uint64_t lo = 0, hi = blocks;
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
    if (!names_.load(mid, &error_) || !names_.next(&error_)) return fail();
    if (name_order(names_.name(), name) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (blocks == 0) return;
  const uint64_t start = lo == 0 ? 0 : lo - 1;
  if (!names_.load(start, &error_) || !names_.next(&error_)) return fail();
  valid_ = true;
  while (name_order(names_.name(), name) < 0) {
    if (!step()) return fail();
    if (!names_.loaded()) {
      valid_ = false;
      return;
    }
  }
  if (!fill()) fail();
}

// ---- ValueCursor ----

ValueCursor::ValueCursor(const RecordStore& store)
    : store_(store), names_(store), values_(store), ahead_(store) {}

void ValueCursor::fail() {
  valid_ = false;
  failed_ = true;
}

bool ValueCursor::locate_block(uint64_t ordinal) {
  if (names_.loaded() && ordinal >= names_.first_ordinal() &&
      ordinal - names_.first_ordinal() < names_.block_records()) {
    // In the loaded block: go on from the current record, or start the block over.
    if (!names_.passed(ordinal)) return true;
    return names_.load(names_.block(), &error_);
  }
  // The last block whose first ordinal is at or below the target. The index is only a
  // guide: the block's own header is checked on load and advance_to() rejects an
  // ordinal the block does not hold.
  const uint64_t blocks = store_.header().name_block_count;
  // Blocks are written full, so the block is nearly always ordinal / kNameBlockRecords:
  // try it before searching (a guess the index does not confirm costs two reads).
  const uint64_t guess = ordinal / kNameBlockRecords;
  if (guess < blocks && store_.name_block_first_ordinal(guess) <= ordinal &&
      (guess + 1 == blocks || store_.name_block_first_ordinal(guess + 1) > ordinal)) {
    return names_.load(guess, &error_);
  }
  uint64_t lo = 0, hi = blocks;
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
    if (store_.name_block_first_ordinal(mid) <= ordinal) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo == 0) {
    error_ = store_.error_text(store_msg::kDamagedNames, 0);
    return false;
  }
  return names_.load(lo - 1, &error_);
}

bool ValueCursor::step_ref(bool first) {
  const uint64_t v = refs_.varint();
  // Ordinals of one value ascend, so every gap after the first ordinal is at least 1.
  if (!refs_.ok() || (!first && v == 0)) {
    error_ = store_.error_text(store_msg::kDamagedRefs, values_.block());
    return false;
  }
  ordinal_ = first ? v : ordinal_ + v;
  return true;
}

bool ValueCursor::resolve() {
  const uint64_t ordinal = ordinal_;
  if (ordinal >= store_.header().record_count) {
    error_ = store_.error_text(store_msg::kDamagedRefs, values_.block());
    return false;
  }
  ahead_.step(rank_, ref_, ordinal, refs_, ref_end_ - ref_ - 1);
  if (!locate_block(ordinal) || !names_.advance_to(ordinal, &error_)) return false;
  // The record must name this very value: a reference into another value's records is
  // damage, not a record to show.
  if (names_.fields().rank != rank_) {
    error_ = store_.error_text(store_msg::kDamagedRefs, values_.block());
    return false;
  }
  const NameRecordFields& f = names_.fields();
  record_.name = names_.name();
  record_.time_first = f.time_first;
  record_.time_last = f.time_last;
  record_.count = f.count;
  record_.bailiwick = f.bailiwick;
  return true;
}

bool ValueCursor::position(uint64_t rank) {
  size_t i = 0;
  if (!reach_value(store_, values_, rank, &i, &error_)) return false;
  const ValueEntry& v = values_.entry(i);
  record_.rrtype = v.rrtype;
  record_.raw = v.raw;
  return true;
}

bool ValueCursor::enter_value(uint64_t rank) {
  rank_ = rank;
  if (rank >= store_.header().value_count) {
    valid_ = false;
    return true;
  }
  if (!values_.load(rank / kValuesPerBlock, true, &error_)) return false;
  const size_t i = static_cast<size_t>(rank % kValuesPerBlock);
  const ValueEntry& v = values_.entry(i);
  if (!values_.text(i, &record_.text)) {
    error_ = store_.error_text(store_msg::kDamagedValues, values_.block());
    return false;
  }
  record_.rrtype = v.rrtype;
  record_.raw = v.raw;
  ref_ = v.first_ref;
  ref_end_ = v.first_ref + v.nrefs;
  refs_ = values_.refs(i);
  valid_ = true;
  return step_ref(true) && resolve();
}

void ValueCursor::next() {
  if (!valid_) return;
  if (++ref_ < ref_end_) {
    if (!step_ref(false) || !resolve()) fail();
    return;
  }
  if (!enter_value(rank_ + 1)) fail();
}

void ValueCursor::next_value() {
  if (!valid_) return;
  if (!enter_value(rank_ + 1)) fail();
}

void ValueCursor::seek_first() {
  valid_ = false;
  failed_ = false;
  error_.clear();
  ahead_.reset();
  if (!enter_value(0)) fail();
}

void ValueCursor::seek(std::string_view raw, uint16_t rrtype) {
  valid_ = false;
  failed_ = false;
  error_.clear();
  ahead_.reset();
  // The first block whose first value is at or past the target; the target's value may
  // also sit inside the block before it.
  uint64_t lo = 0, hi = store_.value_block_count();
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
    if (!values_.load(mid, false, &error_)) return fail();
    const ValueEntry& e = values_.entry(0);
    if (value_order(e.raw, e.rrtype, raw, rrtype) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  uint64_t rank = lo * kValuesPerBlock;
  if (lo > 0) {
    if (!values_.load(lo - 1, false, &error_)) return fail();
    rank = (lo - 1) * kValuesPerBlock;
    size_t i = 0;
    while (i < values_.size()) {
      if (!values_.reach(i)) {
        error_ = store_.error_text(store_msg::kDamagedValues, values_.block());
        return fail();
      }
      const ValueEntry& e = values_.entry(i);
      if (value_order(e.raw, e.rrtype, raw, rrtype) >= 0) break;
      ++i;
    }
    rank += i;
  }
  if (!enter_value(rank)) fail();
}

}  // namespace quarn
