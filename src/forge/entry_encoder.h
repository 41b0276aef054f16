// What an accepted input line puts into the build's sorted tables: one entry per
// owner-name record, per rdata value and per (name, type, value) of the record store,
// each for the outputs being built and only when the retention window keeps it.
//
// Keys start with a one-byte tag so that bytewise order groups them by output: rdata
// entries (kRdataKeyTag), then owner-name entries (kNameKeyTag), then store entries
// (kStoreTag); the rest of the key is key_codec.h's encoding. Values are count values
// (merge_ops.h), store values also carry the bailiwick (store_output.h).
//
// A build that writes the record store and an index can derive the index from the store
// entries (name_from_store, rdata_from_store): a line whose records all have store
// entries then puts no owner-name or rdata entries of its own; its store entries carry
// its owner-name count (on the first of them) and their input records instead
// (store_output.h). Owner-name records of lines without store entries become name-only
// store entries; rdata records of lines without an owner keep their rdata entries. What
// the retention window drops, and the index fences, are counted exactly as without.
//
// Use: one EntryEncoder per thread (it reuses its buffers); encode() per accepted line,
// handing each entry to a sink in a fixed order (names, rdata values, store records),
// and adding what it drops or keeps to an EntryTotals. Totals of several encoders add
// up with merge(): every field is a sum, a minimum or a maximum, so the sum does not
// depend on how lines were split between encoders.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "forge/input_record.h"
#include "forge/retention.h"

namespace quarn {

// Receives the entries of one line; false (with *error) ends the build.
class EntrySink {
 public:
  virtual ~EntrySink() = default;
  virtual bool add(std::string_view key, std::string_view value, std::string* error) = 0;
};

// The time span of what an index holds, written into its header.
struct TimeFence {
  uint32_t earliest = std::numeric_limits<uint32_t>::max();
  uint32_t latest = 0;
  void add(const CountValue& v) { add(v.first, v.last); }
  void add(uint32_t first, uint32_t last) {
    earliest = std::min(earliest, first);
    latest = std::max(latest, last);
  }
};

struct EntryTotals {
  uint64_t retention_dropped = 0;  // records outside the retention window
  TimeFence rrname, rdata;         // of the entries kept, per index
  void merge(const EntryTotals& o) {
    retention_dropped += o.retention_dropped;
    rrname.add(o.rrname.earliest, o.rrname.latest);
    rdata.add(o.rdata.earliest, o.rdata.latest);
  }
};

struct EntryOutputs {
  bool rrname = false;
  bool rdata = false;
  bool store = false;
  bool name_from_store = false;   // with rrname and store
  bool rdata_from_store = false;  // with rdata and store
  RetentionWindow retention;
};

class EntryEncoder {
 public:
  explicit EntryEncoder(const EntryOutputs& outputs) : out_(outputs) {}

  // The entries of one accepted line; false only when the sink fails.
  bool encode(const ParsedLine& line, EntrySink& sink, EntryTotals& totals, std::string* error);

 private:
  bool kept(const CountValue& v, EntryTotals& totals) const;
  bool encode_names(const ParsedLine& line, bool ride, EntrySink& sink, EntryTotals& totals,
                    std::string* error);
  bool encode_rdata(const ParsedLine& line, bool ride, EntrySink& sink, EntryTotals& totals,
                    std::string* error);
  bool encode_store(const ParsedLine& line, bool name_rides, EntrySink& sink,
                    EntryTotals& totals, std::string* error);

  EntryOutputs out_;
  std::string key_, value_;
};

}  // namespace quarn
