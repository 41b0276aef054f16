// One record of a record store: an owner name with one record type and one rdata value,
// its first and last time seen, its count and, when the input knew it, its bailiwick.
//
// StoreRecord is what readers hand out: every view points into the mapped store or into
// the cursor that produced it and stays valid until that cursor moves or is destroyed.
// RecordInput is what the writer takes; its views only need to live for the call.
#pragma once

#include <cstdint>
#include <string_view>

namespace quarn {

struct StoreRecord {
  std::string_view name;       // lower case, no trailing dot, as the owner-name index
  uint16_t rrtype = 0;
  std::string_view raw;        // wire-format rdata
  std::string_view text;       // presentation text of raw, as the rdata index shows it
  int64_t time_first = 0;
  int64_t time_last = 0;
  uint64_t count = 0;
  std::string_view bailiwick;  // empty when unknown
};

struct RecordInput {
  std::string_view name;
  uint16_t rrtype = 0;
  std::string_view raw;
  int64_t time_first = 0;
  int64_t time_last = 0;
  uint64_t count = 0;
  std::string_view bailiwick;
  uint64_t observations = 0;  // input records merged into it; only value folds use it
};

}  // namespace quarn
