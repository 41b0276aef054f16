// Decoding name and value blocks; see block_decoders.h and the format in store_reader.h.
#include "store/block_decoders.h"

#include <cstring>

#include "store/store_messages.h"

namespace quarn {
namespace {

int64_t wrap_add(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

}  // namespace

bool NameBlockDecoder::fail(std::string* error) {
  loaded_ = false;
  *error = store_.error_text(store_msg::kDamagedNames, block_);
  return false;
}

bool NameBlockDecoder::load(uint64_t b, std::string* error) {
  loaded_ = false;
  block_ = b;
  BlockSpan span;
  if (!store_.name_block(b, &span, error)) return false;
  cur_ = ByteCursor(span.begin, span.end);
  first_ordinal_ = cur_.varint();
  block_records_ = cur_.varint();
  // The block's own header must agree with the index that led here, and a block is
  // never empty nor longer than the writer makes it.
  if (!cur_.ok() || first_ordinal_ != span.first_ordinal ||
      block_records_ != span.record_count || block_records_ == 0 ||
      block_records_ > kNameBlockRecords ||
      first_ordinal_ > store_.header().record_count - block_records_) {
    return fail(error);
  }
  decoded_ = 0;
  group_left_ = 0;
  prev_time_first_ = 0;
  name_len_ = 0;
  loaded_ = true;
  return true;
}

bool NameBlockDecoder::read_group_header() {
  const uint64_t shared = cur_.varint();
  const uint64_t prefix = cur_.varint();
  if (!cur_.ok() || shared > name_len_ || (decoded_ == 0 && shared != 0) ||
      prefix > kMaxStoreName - shared || shared + prefix == 0) {
    return false;
  }
  const std::string_view bytes = cur_.bytes(prefix);
  group_left_ = cur_.varint();
  if (!cur_.ok() || group_left_ == 0 || group_left_ > block_records_ - decoded_) return false;
  name_len_ = static_cast<size_t>(shared + prefix);
  std::memcpy(name_buf_ + kMaxStoreName - name_len_, bytes.data(), bytes.size());
  return true;
}

bool NameBlockDecoder::next(std::string* error) {
  if (!loaded_) return fail(error);
  if (decoded_ == block_records_) {
    if (!cur_.at_end()) return fail(error);
    return false;
  }
  if (group_left_ == 0 && !read_group_header()) return fail(error);
  NameRecordFields& f = fields_;
  const uint64_t type = cur_.varint();
  f.rank = cur_.varint();
  // Wrapping arithmetic: a damaged delta must not be undefined behaviour.
  f.time_first = wrap_add(prev_time_first_, unzigzag(cur_.varint()));
  f.time_last = wrap_add(f.time_first, unzigzag(cur_.varint()));
  f.count = cur_.varint();
  const uint64_t bailiwick = cur_.varint();
  if (bailiwick > kMaxStoreName + 1) return fail(error);
  f.bailiwick = bailiwick == 0 ? std::string_view() : cur_.bytes(bailiwick - 1);
  if (!cur_.ok() || type == 0 || type > 0xffff || f.rank >= store_.header().value_count) {
    return fail(error);
  }
  f.rrtype = static_cast<uint16_t>(type);
  prev_time_first_ = f.time_first;
  --group_left_;
  ++decoded_;
  return true;
}

bool NameBlockDecoder::advance_to(uint64_t ordinal, std::string* error) {
  if (!loaded_ || ordinal < first_ordinal_ || ordinal - first_ordinal_ >= block_records_ ||
      (decoded_ > 0 && ordinal < this->ordinal())) {
    return fail(error);
  }
  while (decoded_ == 0 || this->ordinal() < ordinal) {
    if (!next(error)) return done() ? fail(error) : false;
  }
  return true;
}

bool ValueBlockDecoder::decode(const BlockSpan& span, uint64_t b) {
  const uint64_t count = store_.header().value_count;
  const uint64_t first_rank = b * kValuesPerBlock;
  size_ = static_cast<size_t>(count - first_rank < kValuesPerBlock ? count - first_rank
                                                                    : kValuesPerBlock);
  cur_ = ByteCursor(span.begin, span.end);
  first_ref_ = cur_.varint();
  refs_offset_ = cur_.varint();
  next_ref_ = first_ref_;
  next_at_ = 0;
  decoded_ = 0;
  return cur_.ok();
}

bool ValueBlockDecoder::decode_through(size_t last) {
  if (!loaded_ || last >= size_) return false;
  const uint64_t records = store_.header().record_count;
  for (; decoded_ <= last; ++decoded_) {
    ValueEntry& e = entries_[decoded_];
    const uint64_t type = cur_.varint();
    e.raw = cur_.bytes(cur_.varint());
    const uint64_t text = cur_.varint();
    e.derived = text == 0;
    e.text = e.derived ? std::string_view() : cur_.bytes(text - 1);
    derived_done_[decoded_] = false;
    e.nrefs = cur_.varint();
    e.ref_bytes = cur_.varint();
    // Each reference takes one to five bytes (ordinals are 32-bit).
    if (!cur_.ok() || type == 0 || type > 0xffff || e.nrefs == 0 || next_ref_ > records ||
        e.nrefs > records - next_ref_ || e.ref_bytes < e.nrefs || e.ref_bytes > 5 * e.nrefs) {
      loaded_ = false;
      return false;
    }
    e.rrtype = static_cast<uint16_t>(type);
    e.first_ref = next_ref_;
    e.ref_at = next_at_;
    next_ref_ += e.nrefs;
    next_at_ += e.ref_bytes;
  }
  // The whole block decoded: it must end with its last entry.
  if (decoded_ == size_) {
    ref_bytes_ = next_at_;
    if (!cur_.at_end()) {
      loaded_ = false;
      return false;
    }
  }
  return true;
}

bool ValueBlockDecoder::text(size_t i, std::string_view* out) {
  ValueEntry& e = entries_[i];
  if (e.derived && !derived_done_[i]) {
    const size_t n = derive_value_text(e.rrtype, e.raw, derived_[i]);
    if (n == 0) return false;
    e.text = std::string_view(derived_[i], n);
    derived_done_[i] = true;
  }
  *out = e.text;
  return true;
}

bool ValueBlockDecoder::load(uint64_t b, bool with_refs, std::string* error) {
  if (!loaded_ || block_ != b) {
    loaded_ = false;
    refs_checked_ = false;
    BlockSpan span;
    if (!store_.value_block(b, &span, error)) return false;
    block_ = b;
    loaded_ = decode(span, b);
    // A block holds at least one value: check its first entry now, so that every loaded
    // block has one to show.
    if (!loaded_ || !reach(0)) {
      *error = store_.error_text(store_msg::kDamagedValues, b);
      return false;
    }
  }
  if (with_refs && !refs_checked_) {
    if (!reach(size_ - 1)) {
      *error = store_.error_text(store_msg::kDamagedValues, b);
      return false;
    }
    if (!store_.refs_of_block(b, refs_offset_, ref_bytes_, &refs_, error)) {
      loaded_ = false;
      return false;
    }
    refs_checked_ = true;
  }
  return true;
}

}  // namespace quarn
