// The record-store output of a build; see store_output.h.
#include "forge/store_output.h"

#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "common/saturating.h"
#include "common/strfmt.h"
#include "forge/key_codec.h"
#include "forge/run_spiller.h"
#include "forge/sortab_varint.h"
#include "forge/store_feed.h"
#include "forge/temp_files.h"
#include "store/store_writer.h"

namespace quarn {

bool encode_store_key(std::string_view name, uint16_t rrtype, std::string_view raw,
                      std::string& out) {
  if (!encode_name_key(name, rrtype, out)) return false;
  encode_rdata_key(raw, rrtype, out);
  return true;
}

bool is_name_only_key(std::string_view key) {
  return !key.empty() && name_key_size(key) == key.size();
}

void encode_store_value(const CountValue& v, uint64_t name_count, std::string_view bailiwick,
                        std::string& out) {
  const size_t start = out.size();
  sortab_varint_append32(out, v.first);
  sortab_varint_append32(out, v.last);
  sortab_varint_append64(out, v.count);
  sortab_varint_append64(out, v.observations);
  sortab_varint_append64(out, name_count);
  if (bailiwick.size() <= kMaxEntryBailiwick &&
      out.size() - start + bailiwick.size() <= kMaxSpillValue) {
    out.append(bailiwick);
  }
}

bool decode_store_value(std::string_view value, CountValue* v, uint64_t* name_count,
                        std::string_view* bailiwick) {
  const auto* p = reinterpret_cast<const uint8_t*>(value.data());
  const uint8_t* limit = p + value.size();
  *v = CountValue{};
  size_t n = sortab_varint_decode32(p, limit, &v->first);
  if (n == 0) return false;
  p += n;
  n = sortab_varint_decode32(p, limit, &v->last);
  if (n == 0) return false;
  p += n;
  for (uint64_t* field : {&v->count, &v->observations, name_count}) {
    n = sortab_varint_decode64(p, limit, field);
    if (n == 0) return false;
    p += n;
  }
  *bailiwick = std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(limit - p));
  return true;
}

void merge_store_values(std::string_view, std::string_view a, std::string_view b,
                        std::string& out) {
  CountValue va, vb;
  uint64_t na = 0, nb = 0;
  std::string_view ba, bb;
  const bool ha = decode_store_value(a, &va, &na, &ba);
  const bool hb = decode_store_value(b, &vb, &nb, &bb);
  // As merge_counts: an undecodable side contributes nothing.
  if (!ha || !hb) {
    out.assign(ha ? a : b);
    return;
  }
  fold_counts(&va, vb);
  encode_store_value(va, saturating_add(na, nb), ba.empty() ? bb : ba, out);
}

StoreOutput::StoreOutput(std::string path, TempFiles& temps, size_t threads, bool fold_values)
    : path_(std::move(path)), temps_(temps), threads_(threads), fold_values_(fold_values) {}

StoreOutput::~StoreOutput() = default;

bool StoreOutput::open(uint64_t budget, std::string* error) {
  staged_ = str_fmt("%s.gf-%d", path_.c_str(), static_cast<int>(getpid()));
  if (!temps_.add(staged_)) {
    *error = kTempErrTooMany;
    return false;
  }
  writer_ = StoreWriter::create(staged_, budget, error, threads_, fold_values_);
  return writer_ != nullptr;
}

// The writer is created here, on the caller's thread, which owns the temporary files;
// only then does the feeding thread start.
bool StoreOutput::start(uint64_t budget, std::string* error) {
  if (!open(budget, error)) return false;
  if (threads_ > 1) {
    try {
      feed_ = std::make_unique<StoreFeed>(
          [this](std::string_view k, std::string_view v, std::string* e) { return add_now(k, v, e); });
    } catch (const std::system_error&) {
      // Without a thread the records are added on the caller's.
    }
  }
  return true;
}

bool StoreOutput::add(std::string_view key, std::string_view value, uint64_t budget,
                      std::string* error) {
  if (!writer_ && !start(budget, error)) return false;
  if (!(feed_ ? feed_->add(key, value, error) : add_now(key, value, error))) return false;
  ++records_;
  return true;
}

bool StoreOutput::flush(std::string* error) {
  if (!feed_) return true;
  const bool ok = feed_->finish(error);
  feed_.reset();
  return ok;
}

bool StoreOutput::add_now(std::string_view key, std::string_view value, std::string* error) {
  const size_t split = name_key_size(key);
  RecordInput r;
  CountValue v;
  uint64_t name_count = 0;
  uint16_t name_type = 0;
  if (split == 0 || !decode_name_key(key.substr(0, split), name_, &name_type) ||
      !decode_rdata_key(key.substr(split), raw_, &r.rrtype) || r.rrtype != name_type ||
      !decode_store_value(value, &v, &name_count, &r.bailiwick)) {
    *error = kStoreErrEntry;
    return false;
  }
  r.name = name_;
  r.raw = raw_;
  r.time_first = v.first;
  r.time_last = v.last;
  r.count = v.count;
  r.observations = v.observations;
  return writer_->add(r, error);
}

uint64_t StoreOutput::memory_bytes() const { return writer_ ? writer_->memory_bytes() : 0; }

bool StoreOutput::finish(std::string* error,
                         const std::function<bool(uint16_t, std::string_view, const ValueFold&,
                                                  std::string*)>& visit) {
  if (!writer_) return true;
  if (!flush(error)) return false;
  const bool ok = writer_->finish(error, visit);
  writer_.reset();
  complete_ = ok;
  return ok;
}

}  // namespace quarn
