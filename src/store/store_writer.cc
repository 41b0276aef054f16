// Writing a record store: records kept as they arrive, then laid out in both orders.
#include "store/store_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "common/hex.h"
#include "common/run_beside.h"
#include "common/saturating.h"
#include "common/strfmt.h"
#include "index/file_io.h"
#include "retrieval/rdata_text.h"
#include "retrieval/records_messages.h"
#include "retrieval/rrkit.h"
#include "store/derived_text.h"
#include "store/store_codec.h"
#include "store/store_messages.h"
#include "store/store_reader.h"
#include "store/value_order.h"

namespace quarn {

// Bytes per distinct value of finish()'s layout, beside what the value table holds: the
// sort keys (16) and the ids they leave in order (4), then the order, the ranks and each
// rank's first reference and fill position (4 each) once the keys are gone.
constexpr uint64_t kValueLayout = 16 + 4 + 4;
// Bytes per record beside its pending form: its value id, and its reference in the
// layout that finish() builds while the pending form is still held.
constexpr uint64_t kRecordOverhead = 4 + 4;
// Pending records are kept in chunks of this size: few enough allocations, and little
// unused room for a small store's budget.
constexpr size_t kPendingChunk = 64 << 10;
// Output is gathered into pieces of this size before each write.
constexpr size_t kWriteChunk = 1 << 20;

// Buffered output to the store file, with the offset the next byte lands at.
class FileOut {
 public:
  FileOut(int fd, const std::string& path) : fd_(fd), path_(path) {}
  uint64_t offset() const { return offset_ + buf_.size(); }
  bool put(std::string_view s, std::string* error) {
    buf_.append(s);
    return buf_.size() < kWriteChunk || flush(error);
  }
  bool flush(std::string* error) {
    if (write_all(fd_, buf_.data(), buf_.size(), IoReport::kQuiet) != 0) {
      *error = str_fmt(store_msg::kWriteFailed, path_.c_str(), strerror(errno));
      return false;
    }
    offset_ += buf_.size();
    buf_.clear();
    return true;
  }

 private:
  int fd_;
  const std::string& path_;
  uint64_t offset_ = 0;
  std::string buf_;
};

namespace {

size_t shared_suffix(std::string_view a, std::string_view b) {
  size_t n = 0;
  while (n < a.size() && n < b.size() && a[a.size() - 1 - n] == b[b.size() - 1 - n]) ++n;
  return n;
}

// The text a lookup shows for a value: the rdata index's text, or for a value that index
// leaves out, the library's text, or the generic "\# length hex" form.
std::string value_text(std::string_view raw, uint16_t rrtype) {
  std::string text;
  const auto* bytes = reinterpret_cast<const uint8_t*>(raw.data());
  if (rdata_to_text(rrtype, std::span<const uint8_t>(bytes, raw.size()), &text)) return text;
  if (std::optional<std::string> t = rrkit_rdata_to_str(bytes, raw.size(), rrtype)) {
    if (!t->empty() && t->find(kRrkitParseError) == std::string::npos) return *t;
  }
  text = str_fmt("\\# %zu", raw.size());
  if (!raw.empty()) text.push_back(' ');
  for (unsigned char c : raw) {
    text.push_back(kHexDigitsLower[c >> 4]);
    text.push_back(kHexDigitsLower[c & 15]);
  }
  return text;
}

bool is_address(uint16_t rrtype) { return rrtype == 1 || rrtype == 28; }

// Values whose library text is exactly what derive_value_text writes, so the library
// need not be asked: addresses (both print through inet_ntop) and names of plain labels
// (printed label by label, a dot after each, nothing to escape), within the lengths the
// rdata index takes whole. The root name and longer values take the library's path.
bool text_follows_from_bytes(uint16_t rrtype, std::string_view raw) {
  switch (rrtype) {
    case 1: return raw.size() == 4;
    case 28: return raw.size() == 16;
    case 2:
    case 5:
    case 12:
    case 39:
    case 15: return raw.size() > 1 && raw.size() <= kMaxIndexedRdata;
    default: return false;
  }
}

// Appends a value's text field: 0 when a reader derives exactly the text a lookup shows,
// else that text.
void put_text_field(uint16_t rrtype, std::string_view raw, std::string& block) {
  char derived[kMaxDerivedText];
  // An address of its type's length always derives; a name does when its labels are plain.
  if (text_follows_from_bytes(rrtype, raw) &&
      (is_address(rrtype) || derive_value_text(rrtype, raw, derived) != 0)) {
    put_varint(block, 0);
    return;
  }
  const std::string text = value_text(raw, rrtype);
  const size_t n = derive_value_text(rrtype, raw, derived);
  if (n != 0 && std::string_view(derived, n) == text) {
    put_varint(block, 0);
    return;
  }
  put_varint(block, text.size() + 1);
  block.append(text);
}

// One record of the pending list, read back (its value id is in record_value_).
struct Pending {
  bool new_name;
  std::string_view name;
  uint16_t rrtype;
  int64_t time_first, time_last;
  uint64_t count;
  std::string_view bailiwick;
};

Pending read_pending(ByteCursor& c) {
  Pending p;
  const uint64_t name_len = c.varint();
  p.new_name = name_len != 0;
  if (p.new_name) p.name = c.bytes(name_len - 1);
  p.rrtype = static_cast<uint16_t>(c.varint());
  p.time_first = unzigzag(c.varint());
  p.time_last = unzigzag(c.varint());
  p.count = c.varint();
  const uint64_t bw = c.varint();
  if (bw != 0) p.bailiwick = c.bytes(bw - 1);
  return p;
}

// Builds name blocks from records in order and writes each with its index entry.
class NameBlockBuilder {
 public:
  NameBlockBuilder(FileOut& out, uint64_t section_start)
      : out_(out), section_start_(section_start) {}

  bool add(std::string_view name, const Pending& p, uint64_t rank, std::string* error) {
    if (block_records_ == kNameBlockRecords && !flush_block(error)) return false;
    if (group_records_ == 0 || name != group_name_) {
      close_group();
      group_name_.assign(name);
    }
    put_varint(group_body_, p.rrtype);
    put_varint(group_body_, rank);
    put_varint(group_body_, zigzag(p.time_first - prev_time_first_));
    put_varint(group_body_, zigzag(p.time_last - p.time_first));
    put_varint(group_body_, p.count);
    put_varint(group_body_, p.bailiwick.empty() ? 0 : p.bailiwick.size() + 1);
    group_body_.append(p.bailiwick);
    prev_time_first_ = p.time_first;
    ++group_records_;
    ++block_records_;
    return true;
  }

  bool flush_block(std::string* error) {
    if (block_records_ == 0) return true;
    close_group();
    std::string head;
    put_varint(head, first_ordinal_);
    put_varint(head, block_records_);
    head.append(block_);
    const uint64_t offset = out_.offset() - section_start_;
    put_u64(index_, offset);
    put_u64(index_, first_ordinal_);
    put_u32(index_, store_crc(reinterpret_cast<const uint8_t*>(head.data()), head.size()));
    put_u32(index_, static_cast<uint32_t>(block_records_));
    ++blocks_;
    first_ordinal_ += block_records_;
    block_records_ = 0;
    block_.clear();
    block_name_.clear();
    prev_time_first_ = 0;
    return out_.put(head, error);
  }

  const std::string& index() const { return index_; }
  uint64_t blocks() const { return blocks_; }

 private:
  void close_group() {
    if (group_records_ == 0) return;
    const size_t shared = shared_suffix(block_name_, group_name_);
    const size_t prefix = group_name_.size() - (shared == group_name_.size() ? 0 : shared);
    const size_t used_shared = group_name_.size() - prefix;
    put_varint(block_, used_shared);
    put_varint(block_, prefix);
    block_.append(group_name_, 0, prefix);
    put_varint(block_, group_records_);
    block_.append(group_body_);
    block_name_ = group_name_;
    group_body_.clear();
    group_records_ = 0;
  }

  FileOut& out_;
  uint64_t section_start_;
  std::string block_, block_name_, group_name_, group_body_, index_;
  uint64_t block_records_ = 0, group_records_ = 0, first_ordinal_ = 0, blocks_ = 0;
  int64_t prev_time_first_ = 0;
};

}  // namespace

std::unique_ptr<StoreWriter> StoreWriter::create(const std::string& path,
                                                 uint64_t memory_budget, std::string* error,
                                                 size_t threads, bool fold_values) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = str_fmt(store_msg::kCreateFailed, path.c_str(), strerror(errno));
    return nullptr;
  }
  std::unique_ptr<StoreWriter> w(new StoreWriter());
  w->path_ = path;
  w->fd_ = fd;
  w->budget_ = memory_budget;
  w->threads_ = std::max<size_t>(1, threads);
  w->fold_values_ = fold_values;
  return w;
}

StoreWriter::~StoreWriter() {
  if (fd_ >= 0) close(fd_);
  if (!finished_) unlink(path_.c_str());
}

bool StoreWriter::check_input(const RecordInput& r, std::string* error) const {
  const std::string_view n = r.name;
  if (n.empty() || n.size() > kMaxStoreName || n.find_first_of(" \t\n") != n.npos ||
      r.bailiwick.size() > kMaxStoreName) {
    *error = str_fmt(store_msg::kBadName, std::string(n.substr(0, 256)).c_str());
    return false;
  }
  if (r.raw.size() > kMaxStoreRdata) {
    *error = str_fmt(store_msg::kBadRdata, r.raw.size());
    return false;
  }
  if (record_value_.size() >= UINT32_MAX) {
    *error = store_msg::kTooManyRecords;
    return false;
  }
  if (!record_value_.empty() &&
      record_order(last_name_, last_rrtype_, last_raw_, n, r.rrtype, r.raw) >= 0) {
    *error = str_fmt(store_msg::kOutOfOrder, std::string(n.substr(0, 256)).c_str());
    return false;
  }
  if (r.rrtype == 0) {
    *error = store_msg::kBadType;
    return false;
  }
  return true;
}

bool StoreWriter::add(const RecordInput& r, std::string* error) {
  if (broken_ || finished_) return false;
  if (!check_input(r, error)) {
    broken_ = true;
    return false;
  }
  waiting_bytes_.append(r.raw);
  waiting_.push_back(Waiting{r.rrtype, static_cast<uint32_t>(r.raw.size()),
                             ValueFold{r.time_first, r.time_last, r.count, r.observations}});
  const bool new_name = record_value_.empty() || r.name != last_name_;
  std::string& rec = record_scratch_;
  rec.clear();
  put_varint(rec, new_name ? r.name.size() + 1 : 0);
  if (new_name) rec.append(r.name);
  put_varint(rec, r.rrtype);
  put_varint(rec, zigzag(r.time_first));
  put_varint(rec, zigzag(r.time_last));
  put_varint(rec, r.count);
  put_varint(rec, r.bailiwick.empty() ? 0 : r.bailiwick.size() + 1);
  rec.append(r.bailiwick);
  // Chunks are filled to their reserved size and never grow, so no record is copied twice.
  if (pending_.empty() || pending_.back().size() + rec.size() > pending_.back().capacity()) {
    pending_.emplace_back().reserve(std::max(kPendingChunk, rec.size()));
    pending_bytes_ += pending_.back().capacity();
  }
  pending_.back().append(rec);
  if (record_value_.empty() || r.time_first < earliest_) earliest_ = r.time_first;
  if (record_value_.empty() || r.time_last > latest_) latest_ = r.time_last;
  record_value_.push_back(0);  // set by intern_waiting()
  if (new_name) last_name_.assign(r.name);
  last_rrtype_ = r.rrtype;
  last_raw_.assign(r.raw);
  if (waiting_.size() == ValueTable::kInternBatch) intern_waiting();
  if (memory_bytes() > budget_) {
    *error = str_fmt(store_msg::kOverBudget, static_cast<unsigned long long>(budget_ >> 10));
    broken_ = true;
    return false;
  }
  return true;
}

uint64_t StoreWriter::memory_bytes() const {
  const uint64_t per_value = kValueLayout + (fold_values_ ? sizeof(ValueFold) : 0);
  return pending_bytes_ + waiting_bytes_.capacity() + kRecordOverhead * record_value_.size() +
         values_.memory_bytes() + per_value * values_.size();
}

// Adds the waiting records to the folds of the values they were given.
void StoreWriter::fold_waiting(const uint32_t* ids) {
  const size_t values = values_.size();
  if (folds_.size() < values) {
    // Grown geometrically, as the table grows, so that a fold is never copied often.
    if (folds_.capacity() < values) folds_.reserve(std::max(values, 2 * folds_.capacity()));
    folds_.resize(values, ValueFold{INT64_MAX, INT64_MIN, 0, 0});
  }
  for (size_t i = 0; i < waiting_.size(); ++i) {
    ValueFold& f = folds_[ids[i]];
    const ValueFold& r = waiting_[i].fold;
    f.first = std::min(f.first, r.first);
    f.last = std::max(f.last, r.last);
    f.count = saturating_add(f.count, r.count);
    f.observations = saturating_add(f.observations, r.observations);
  }
}

// Interns the waiting values and gives their records the ids.
void StoreWriter::intern_waiting() {
  if (waiting_.empty()) return;
  ValueTable::Value batch[ValueTable::kInternBatch];
  size_t at = 0;
  for (size_t i = 0; i < waiting_.size(); ++i) {
    batch[i] = {waiting_[i].rrtype, std::string_view(waiting_bytes_).substr(at, waiting_[i].length)};
    at += waiting_[i].length;
  }
  uint32_t* ids = record_value_.data() + (record_value_.size() - waiting_.size());
  values_.intern_batch(batch, waiting_.size(), ids);
  if (fold_values_) fold_waiting(ids);
  waiting_.clear();
  waiting_bytes_.clear();
}

bool StoreWriter::finish(std::string* error, const ValueVisitor& visit) {
  if (broken_ || finished_) return false;
  intern_waiting();
  if (!write_file(error, visit)) {
    broken_ = true;
    return false;
  }
  if (close(fd_) != 0) {
    fd_ = -1;
    *error = str_fmt(store_msg::kWriteFailed, path_.c_str(), strerror(errno));
    broken_ = true;
    return false;
  }
  fd_ = -1;
  finished_ = true;
  return true;
}

}  // namespace quarn

namespace quarn {
namespace {

void put_header(std::string& h, const StoreHeader& s) {
  h.assign(kStoreMagic, sizeof kStoreMagic);
  put_u32(h, kStoreVersion);
  put_u32(h, 0);  // checksum, filled in below
  put_u64(h, static_cast<uint64_t>(s.earliest));
  put_u64(h, static_cast<uint64_t>(s.latest));
  for (uint64_t v : {s.record_count, s.value_count, s.name_block_count, s.names_offset,
                     s.names_length, s.name_index_offset, s.values_offset, s.values_length,
                     s.value_index_offset, s.refs_offset, s.file_length, uint64_t{0}}) {
    put_u64(h, v);
  }
  const uint32_t crc = store_crc(reinterpret_cast<const uint8_t*>(h.data()), h.size());
  for (int i = 0; i < 4; ++i) h[12 + i] = static_cast<char>(crc >> (8 * i));
}

}  // namespace

// The layout of the value order: distinct values by rank, and the references of each.
// Reference positions fit 32 bits: a store holds fewer than 2^32 records.
struct ValueLayout {
  std::vector<uint32_t> by_rank;  // value id of each rank
  std::vector<uint32_t> rank;     // rank of each value id
  std::vector<uint32_t> start;    // first reference of each rank, and the total at the end
  std::vector<uint32_t> refs;     // record ordinals, grouped by rank, ascending in each

  // Appends the delta-coded references of rank r.
  void encode_refs(uint64_t r, std::string& out) const {
    uint32_t prev = 0;
    for (uint32_t k = start[r]; k < start[r + 1]; ++k) {
      put_varint(out, refs[k] - prev);
      prev = refs[k];
    }
  }
};

void StoreWriter::lay_out_values(ValueLayout* v) const {
  v->by_rank = values_.sorted_ids(threads_);
  v->rank.resize(values_.size());
  for (size_t r = 0; r < v->by_rank.size(); ++r) v->rank[v->by_rank[r]] = static_cast<uint32_t>(r);
  // A counting sort by rank; walking the ordinals in order keeps each value's records in
  // name order.
  v->start.assign(values_.size() + 1, 0);
  for (uint32_t id : record_value_) ++v->start[v->rank[id] + 1];
  for (size_t r = 0; r < values_.size(); ++r) v->start[r + 1] += v->start[r];
  v->refs.resize(record_value_.size());
  std::vector<uint32_t> fill(v->start.begin(), v->start.end() - 1);
  for (size_t ord = 0; ord < record_value_.size(); ++ord) {
    v->refs[fill[v->rank[record_value_[ord]]]++] = static_cast<uint32_t>(ord);
  }
}

bool StoreWriter::write_names(FileOut& out, const ValueLayout& v, StoreHeader* h,
                              std::string* error) {
  h->names_offset = out.offset();
  NameBlockBuilder names(out, h->names_offset);
  // The name a record without one continues: it may lie in an earlier chunk, which stays
  // until the next name comes.
  std::string_view name;
  size_t ordinal = 0;
  for (size_t c = 0; c < pending_.size(); ++c) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(pending_[c].data());
    ByteCursor pending(bytes, bytes + pending_[c].size());
    while (!pending.at_end()) {
      const Pending p = read_pending(pending);
      if (p.new_name) name = p.name;
      if (!names.add(name, p, v.rank[record_value_[ordinal++]], error)) return false;
    }
  }
  if (!names.flush_block(error)) return false;
  // The pending form is no longer needed: give back its memory.
  std::vector<std::string>().swap(pending_);
  pending_bytes_ = 0;
  h->names_length = out.offset() - h->names_offset;
  h->name_block_count = names.blocks();
  h->name_index_offset = out.offset();
  return out.put(names.index(), error);
}

// The values are read in rank order but lie in first-seen order: ask for the entry of a
// value a few ranks ahead and for the bytes of one nearer, whose entry has arrived by
// then, so that the walk does not wait on memory twice per value.
void StoreWriter::prefetch_value(const ValueLayout& v, uint64_t rank) const {
  constexpr uint64_t kEntryAhead = 16, kBytesAhead = 8;
  if (rank + kEntryAhead < v.by_rank.size()) values_.prefetch_entry(v.by_rank[rank + kEntryAhead]);
  if (rank + kBytesAhead < v.by_rank.size()) values_.prefetch_raw(v.by_rank[rank + kBytesAhead]);
}

bool StoreWriter::write_values(FileOut& out, const ValueLayout& v, StoreHeader* h,
                               std::string* error) {
  h->values_offset = out.offset();
  std::string index, block, slice;
  uint64_t ref_offset = 0;  // of the block's references in the refs section
  for (uint64_t first = 0; first < values_.size(); first += kValuesPerBlock) {
    const uint64_t last = std::min<uint64_t>(first + kValuesPerBlock, values_.size());
    block.clear();
    slice.clear();
    put_varint(block, v.start[first]);
    put_varint(block, ref_offset);
    for (uint64_t r = first; r < last; ++r) {
      prefetch_value(v, r);
      const uint32_t id = v.by_rank[r];
      const std::string_view raw = values_.raw(id);
      const uint16_t rrtype = values_.rrtype(id);
      put_varint(block, rrtype);
      put_varint(block, raw.size());
      block.append(raw);
      // Keep the text only when a reader could not derive exactly these bytes.
      put_text_field(rrtype, raw, block);
      put_varint(block, v.start[r + 1] - v.start[r]);
      const size_t before = slice.size();
      v.encode_refs(r, slice);
      put_varint(block, slice.size() - before);
    }
    ref_offset += slice.size();
    put_u64(index, out.offset() - h->values_offset);
    put_u32(index, store_crc(reinterpret_cast<const uint8_t*>(block.data()), block.size()));
    put_u32(index, store_crc(reinterpret_cast<const uint8_t*>(slice.data()), slice.size()));
    if (!out.put(block, error)) return false;
  }
  h->values_length = out.offset() - h->values_offset;
  h->value_index_offset = out.offset();
  if (!out.put(index, error)) return false;
  h->refs_offset = out.offset();
  // The references again, as the blocks above counted them.
  for (uint64_t r = 0; r < values_.size(); ++r) {
    slice.clear();
    v.encode_refs(r, slice);
    if (!out.put(slice, error)) return false;
  }
  return true;
}

bool StoreWriter::visit_values(const ValueLayout& v, const ValueVisitor& visit,
                               std::string* error) {
  constexpr uint64_t kFoldAhead = 8;
  for (uint64_t r = 0; r < v.by_rank.size(); ++r) {
    prefetch_value(v, r);
    if (r + kFoldAhead < v.by_rank.size()) __builtin_prefetch(&folds_[v.by_rank[r + kFoldAhead]]);
    const uint32_t id = v.by_rank[r];
    if (!visit(values_.rrtype(id), values_.raw(id), folds_[id], error)) return false;
  }
  return true;
}

bool StoreWriter::write_sections(const ValueLayout& layout, std::string* error) {
  StoreHeader h;
  h.earliest = earliest_;
  h.latest = latest_;
  h.record_count = record_value_.size();
  h.value_count = values_.size();
  FileOut out(fd_, path_);
  if (!out.put(std::string(kStoreHeaderSize, '\0'), error) ||
      !write_names(out, layout, &h, error) || !write_values(out, layout, &h, error)) {
    return false;
  }
  h.file_length = out.offset();
  if (!out.flush(error)) return false;
  std::string head;
  put_header(head, h);
  if (pwrite_all(fd_, head.data(), head.size(), 0, IoReport::kQuiet) != 0) {
    *error = str_fmt(store_msg::kWriteFailed, path_.c_str(), strerror(errno));
    return false;
  }
  return true;
}

bool StoreWriter::write_file(std::string* error, const ValueVisitor& visit) {
  ValueLayout layout;
  lay_out_values(&layout);
  if (!visit || !fold_values_) return write_sections(layout, error);
  // The sections and the visit only read the layout and the values (writing the
  // sections frees the pending records, which the visit never reads): with a thread to
  // spare they run side by side.
  return run_beside(
      threads_ > 1, [&](std::string* e) { return write_sections(layout, e); },
      [&](std::string* e) { return visit_values(layout, visit, e); }, error);
}

}  // namespace quarn
