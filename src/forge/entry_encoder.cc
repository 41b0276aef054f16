#include "forge/entry_encoder.h"

#include "forge/key_codec.h"
#include "forge/store_output.h"

namespace quarn {

bool EntryEncoder::kept(const CountValue& v, EntryTotals& totals) const {
  if (out_.retention.keeps(v.first, v.last)) return true;
  ++totals.retention_dropped;
  return false;
}

bool EntryEncoder::encode(const ParsedLine& line, EntrySink& sink, EntryTotals& totals,
                          std::string* error) {
  if (out_.rrname) {
    for (const NameRecord& r : line.name_records) {
      if (!kept(r.value, totals)) continue;
      key_.assign(1, kNameKeyTag);
      if (!encode_name_key(line.name, r.rrtype, key_)) continue;
      value_.clear();
      encode_count_value(r.value, value_);
      if (!sink.add(key_, value_, error)) return false;
      totals.rrname.add(r.value);
    }
  }
  if (out_.rdata) {
    for (size_t i = 0; i < line.rdata_used; ++i) {
      const RdataRecord& r = line.rdata_records[i];
      if (!kept(r.value, totals)) continue;
      key_.assign(1, kRdataKeyTag);
      encode_rdata_key(r.raw, r.rrtype, key_);
      value_.clear();
      // Counted per record, so that the summary can tell how many observations the
      // values left out after the merge stood for.
      CountValue v = r.value;
      v.observations = 1;
      encode_count_value(v, value_);
      if (!sink.add(key_, value_, error)) return false;
      totals.rdata.add(r.value);
    }
  }
  return encode_store(line, sink, totals, error);
}

// One entry per (name, type, value) of a JSON line; raw lines have no such pairs.
bool EntryEncoder::encode_store(const ParsedLine& line, EntrySink& sink, EntryTotals& totals,
                                std::string* error) {
  if (!out_.store || line.name.empty()) return true;
  for (size_t i = 0; i < line.rdata_used; ++i) {
    const RdataRecord& r = line.rdata_records[i];
    if (!kept(r.value, totals)) continue;
    key_.assign(1, kStoreTag);
    if (!encode_store_key(line.name, r.rrtype, r.raw, key_)) continue;
    value_.clear();
    encode_store_value(r.value, line.bailiwick, value_);
    if (!sink.add(key_, value_, error)) return false;
  }
  return true;
}

}  // namespace quarn
