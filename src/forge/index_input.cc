#include "forge/index_input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <span>

#include "common/strfmt.h"
#include "forge/input_checks.h"
#include "forge/input_record.h"
#include "forge/key_codec.h"
#include "forge/merge_ops.h"
#include "retrieval/annotation.h"
#include "retrieval/rdata_text.h"

namespace quarn {
namespace {


uint64_t page_size() {
  static const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  return page;
}

}  // namespace

bool has_index_magic(const std::string& path) {
  return starts_with_magic(path, std::string_view(kTgdbMagic, sizeof kTgdbMagic));
}

IndexInput::IndexInput(std::string path, TgdbRef tgdb, const RetentionWindow& window)
    : path_(std::move(path)),
      tgdb_(std::move(tgdb)),
      window_(window),
      table_(tgdb_->string_table()),
      table_size_(tgdb_->string_table_size()) {
  // Loading read the trigram tables (1.6 MiB) to check them; only the string table is
  // read from here on, so a merge of many files does not hold all their tables.
  const uint64_t page = page_size();
  auto* base = const_cast<uint8_t*>(tgdb_->base());
  const uint64_t table_offset = static_cast<uint64_t>(table_ - reinterpret_cast<const char*>(base));
  madvise(base, table_offset / page * page, MADV_DONTNEED);
  const uint64_t after = (table_offset + table_size_ + page - 1) / page * page;
  if (after < tgdb_->file_size()) madvise(base + after, tgdb_->file_size() - after, MADV_DONTNEED);
}

std::unique_ptr<IndexInput> IndexInput::open(const std::string& path,
                                             const RetentionWindow& window,
                                             std::string* error) {
  TgdbRef t = tgdb_load(path);
  if (!t) {
    *error = str_fmt(kIndexInputErrLoad, path.c_str());
    return nullptr;
  }
  return std::unique_ptr<IndexInput>(new IndexInput(path, std::move(t), window));
}

bool IndexInput::fence(uint32_t* earliest, uint32_t* latest) const {
  if (!window_.limited() && tgdb_->has_timefence()) {
    *earliest = tgdb_->earliest_seen();
    *latest = tgdb_->latest_seen();
    return true;
  }
  *earliest = earliest_;
  *latest = latest_;
  return entries_ > 0;
}

bool IndexInput::fail(const char* reason) {
  error_ = str_fmt(kIndexInputErrDamaged, path_.c_str(),
                   static_cast<unsigned long long>(lines_), reason);
  return false;
}

// Keys must ascend strictly across the whole file, or the merge would misplace them.
bool IndexInput::accept_key() {
  if (entries_ > 0 && std::string_view(key_) <= std::string_view(prev_key_)) {
    return fail(kIndexInputOrder);
  }
  prev_key_.assign(key_);
  ++entries_;
  return true;
}

bool IndexInput::next() {
  if (!error_.empty()) return false;
  if (next_summary_ < summaries_.size()) return emit_name_entry();
  if (!read_line()) return false;
  return tgdb_->is_rdata() ? accept_key() : emit_name_entry();
}

bool IndexInput::emit_name_entry() {
  const rrtype_summary& s = summaries_[next_summary_++];
  key_.assign(1, name_tag_);
  if (!encode_name_key(name_, s.rrtype, key_)) return fail(kIndexInputBadLine);
  const CountValue v{static_cast<uint32_t>(s.time_first), static_cast<uint32_t>(s.time_last),
                     s.count};
  value_.clear();
  encode_count_value(v, value_);
  earliest_ = std::min(earliest_, v.first);
  latest_ = std::max(latest_, v.last);
  return accept_key();
}

bool IndexInput::read_line() {
  while (pos_ < table_size_) {
    const char* start = table_ + pos_;
    const auto* lf = static_cast<const char*>(memchr(start, '\n', table_size_ - pos_));
    ++lines_;
    if (lf == nullptr) return fail(kIndexInputNoNewline);
    const std::string_view line(start, static_cast<size_t>(lf - start));
    pos_ += line.size() + 1;
    if (pos_ - released_ >= kIndexInputResident) release_read_pages();
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos || tab == 0) return fail(kIndexInputBadLine);
    const std::string_view annotation = line.substr(tab + 1);
    const bool ok = tgdb_->is_rdata() ? parse_rdata_line(annotation)
                                      : parse_name_line(line.substr(0, tab), annotation);
    if (!ok) return false;
    if (tgdb_->is_rdata() ? !key_.empty() : next_summary_ < summaries_.size()) return true;
  }
  release_read_pages();
  return false;
}

// Leaves the kept record types in summaries_ (possibly none).
bool IndexInput::parse_name_line(std::string_view key, std::string_view annotation) {
  const char* reason = nullptr;
  if (!normalize_owner_name(key, &name_, &reason)) return fail(kIndexInputBadLine);
  if (parse_rrname_annotation(annotation, &summaries_) == 0) return fail(kIndexInputBadLine);
  next_summary_ = 0;
  for (const rrtype_summary& s : summaries_) {
    if (!valid_time_range(s.time_first, s.time_last)) return fail(kIndexInputBadTime);
  }
  dropped_ += std::erase_if(summaries_, [this](const rrtype_summary& s) {
    return !window_.keeps(static_cast<uint32_t>(s.time_first),
                          static_cast<uint32_t>(s.time_last));
  });
  return true;
}

// Leaves the entry in key_ and value_, or key_ empty when retention drops it.
bool IndexInput::parse_rdata_line(std::string_view annotation) {
  key_.clear();
  rdata_annotation a;
  if (!parse_rdata_annotation(annotation, &a) || a.raw_length == 0 ||
      !parse_raw_rdata(annotation.substr(a.raw_start, a.raw_length), &raw_)) {
    return fail(kIndexInputBadLine);
  }
  if (!valid_time_range(a.time_first, a.time_last)) return fail(kIndexInputBadTime);
  if (!window_.keeps(a.time_first, a.time_last)) {
    ++dropped_;
    return true;
  }
  fold_rdata_name_case(a.rrtype, std::span<uint8_t>(raw_));
  key_.assign(1, kRdataKeyTag);
  encode_rdata_key(std::string_view(reinterpret_cast<const char*>(raw_.data()), raw_.size()),
                   a.rrtype, key_);
  // One line stands for one input record, as a raw rdata line does.
  const CountValue v{a.time_first, a.time_last, a.count, 1};
  value_.clear();
  encode_count_value(v, value_);
  earliest_ = std::min(earliest_, v.first);
  latest_ = std::max(latest_, v.last);
  return true;
}

// The string table is read once, front to back: its read pages will not be wanted
// again, and dropping them keeps them out of this process's resident size (they stay
// in the page cache).
void IndexInput::release_read_pages() {
  const uint64_t page = page_size();
  const auto* base = reinterpret_cast<const uint8_t*>(table_);
  const uint64_t table_offset = static_cast<uint64_t>(base - tgdb_->base());
  const uint64_t from = (table_offset + released_) / page * page;
  const uint64_t to = (table_offset + pos_) / page * page;
  if (to > from) {
    madvise(const_cast<uint8_t*>(tgdb_->base()) + from, to - from, MADV_DONTNEED);
  }
  released_ = pos_;
}

}  // namespace quarn
