// The record-store output of a build; see store_output.h.
#include "forge/store_output.h"

#include <unistd.h>

#include <algorithm>

#include "common/strfmt.h"
#include "forge/key_codec.h"
#include "forge/sortab_varint.h"
#include "forge/temp_files.h"
#include "store/store_writer.h"

namespace quarn {

bool encode_store_key(std::string_view name, uint16_t rrtype, std::string_view raw,
                      std::string& out) {
  if (!encode_name_key(name, rrtype, out)) return false;
  encode_rdata_key(raw, rrtype, out);
  return true;
}

void encode_store_value(const CountValue& v, std::string_view bailiwick, std::string& out) {
  sortab_varint_append32(out, v.first);
  sortab_varint_append32(out, v.last);
  sortab_varint_append64(out, v.count);
  if (bailiwick.size() <= kMaxEntryBailiwick) out.append(bailiwick);
}

bool decode_store_value(std::string_view value, CountValue* v, std::string_view* bailiwick) {
  const auto* p = reinterpret_cast<const uint8_t*>(value.data());
  const uint8_t* limit = p + value.size();
  *v = CountValue{};
  size_t n = sortab_varint_decode32(p, limit, &v->first);
  if (n == 0) return false;
  p += n;
  n = sortab_varint_decode32(p, limit, &v->last);
  if (n == 0) return false;
  p += n;
  n = sortab_varint_decode64(p, limit, &v->count);
  if (n == 0) return false;
  p += n;
  *bailiwick = std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(limit - p));
  return true;
}

void merge_store_values(std::string_view, std::string_view a, std::string_view b,
                        std::string& out) {
  CountValue va, vb;
  std::string_view ba, bb;
  const bool ha = decode_store_value(a, &va, &ba);
  const bool hb = decode_store_value(b, &vb, &bb);
  // As merge_counts: an undecodable side contributes nothing.
  if (!ha || !hb) {
    out.assign(ha ? a : b);
    return;
  }
  CountValue m;
  m.first = std::min(va.first, vb.first);
  m.last = std::max(va.last, vb.last);
  m.count = va.count > UINT64_MAX - vb.count ? UINT64_MAX : va.count + vb.count;
  encode_store_value(m, ba.empty() ? bb : ba, out);
}

StoreOutput::StoreOutput(std::string path, TempFiles& temps, size_t threads)
    : path_(std::move(path)), temps_(temps), threads_(threads) {}

StoreOutput::~StoreOutput() = default;

bool StoreOutput::open(uint64_t budget, std::string* error) {
  staged_ = str_fmt("%s.gf-%d", path_.c_str(), static_cast<int>(getpid()));
  if (!temps_.add(staged_)) {
    *error = kTempErrTooMany;
    return false;
  }
  writer_ = StoreWriter::create(staged_, budget, error, threads_);
  return writer_ != nullptr;
}

bool StoreOutput::add(std::string_view key, std::string_view value, uint64_t budget,
                      std::string* error) {
  if (!writer_ && !open(budget, error)) return false;
  const size_t split = name_key_size(key);
  RecordInput r;
  CountValue v;
  uint16_t name_type = 0;
  if (split == 0 || !decode_name_key(key.substr(0, split), name_, &name_type) ||
      !decode_rdata_key(key.substr(split), raw_, &r.rrtype) || r.rrtype != name_type ||
      !decode_store_value(value, &v, &r.bailiwick)) {
    *error = kStoreErrEntry;
    return false;
  }
  r.name = name_;
  r.raw = raw_;
  r.time_first = v.first;
  r.time_last = v.last;
  r.count = v.count;
  if (!writer_->add(r, error)) return false;
  ++records_;
  return true;
}

bool StoreOutput::finish(std::string* error) {
  if (!writer_) return true;
  const bool ok = writer_->finish(error);
  writer_.reset();
  complete_ = ok;
  return ok;
}

}  // namespace quarn
