#include "forge/entry_encoder.h"

#include "forge/key_codec.h"
#include "forge/store_output.h"

namespace quarn {

bool EntryEncoder::kept(const CountValue& v, EntryTotals& totals) const {
  if (out_.retention.keeps(v.first, v.last)) return true;
  ++totals.retention_dropped;
  return false;
}

namespace {

// True when every record of the line is its one owner record's type and times, as the
// records of a JSON observation are: the owner's count can then ride on a store entry.
bool records_share_owner(const ParsedLine& line) {
  if (line.name_records.size() != 1) return false;
  const NameRecord& n = line.name_records[0];
  for (size_t i = 0; i < line.rdata_used; ++i) {
    const RdataRecord& r = line.rdata_records[i];
    if (r.rrtype != n.rrtype || r.value.first != n.value.first || r.value.last != n.value.last) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool EntryEncoder::encode(const ParsedLine& line, EntrySink& sink, EntryTotals& totals,
                          std::string* error) {
  // Whether the line has store entries for its records to ride on.
  const bool has_store = out_.store && line.rdata_used > 0 && name_key_encodable(line.name);
  const bool name_rides = has_store && out_.name_from_store && records_share_owner(line);
  if (out_.rrname && !encode_names(line, name_rides, sink, totals, error)) return false;
  if (out_.rdata &&
      !encode_rdata(line, has_store && out_.rdata_from_store, sink, totals, error)) {
    return false;
  }
  return encode_store(line, name_rides, sink, totals, error);
}

bool EntryEncoder::encode_names(const ParsedLine& line, bool ride, EntrySink& sink,
                                EntryTotals& totals, std::string* error) {
  for (const NameRecord& r : line.name_records) {
    if (!kept(r.value, totals)) continue;
    if (ride) {
      totals.rrname.add(r.value);
      continue;
    }
    key_.assign(1, out_.name_from_store ? kStoreTag : kNameKeyTag);
    if (!encode_name_key(line.name, r.rrtype, key_)) continue;
    value_.clear();
    encode_count_value(r.value, value_);
    if (!sink.add(key_, value_, error)) return false;
    totals.rrname.add(r.value);
  }
  return true;
}

bool EntryEncoder::encode_rdata(const ParsedLine& line, bool ride, EntrySink& sink,
                                EntryTotals& totals, std::string* error) {
  for (size_t i = 0; i < line.rdata_used; ++i) {
    const RdataRecord& r = line.rdata_records[i];
    if (!kept(r.value, totals)) continue;
    totals.rdata.add(r.value);
    if (ride) continue;
    key_.assign(1, kRdataKeyTag);
    encode_rdata_key(r.raw, r.rrtype, key_);
    value_.clear();
    // Counted per record, so that the summary can tell how many observations the
    // values left out after the merge stood for.
    CountValue v = r.value;
    v.observations = 1;
    encode_count_value(v, value_);
    if (!sink.add(key_, value_, error)) return false;
  }
  return true;
}

// One entry per (name, type, value) of a JSON line; raw lines have no such pairs.
bool EntryEncoder::encode_store(const ParsedLine& line, bool name_rides, EntrySink& sink,
                                EntryTotals& totals, std::string* error) {
  if (!out_.store || line.name.empty()) return true;
  bool name_counted = !name_rides;
  for (size_t i = 0; i < line.rdata_used; ++i) {
    const RdataRecord& r = line.rdata_records[i];
    if (!kept(r.value, totals)) continue;
    key_.assign(1, kStoreTag);
    if (!encode_store_key(line.name, r.rrtype, r.raw, key_)) continue;
    value_.clear();
    CountValue v = r.value;
    v.observations = 1;
    encode_store_value(v, name_counted ? 0 : line.name_records[0].value.count, line.bailiwick,
                       value_);
    name_counted = true;
    if (!sink.add(key_, value_, error)) return false;
  }
  return true;
}

}  // namespace quarn
