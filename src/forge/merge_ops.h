// The value of a sorted-table entry of passive-DNS observations, and how two of them
// fold into one.
//
// A count value is three varints: first-seen time (varint32), last-seen time (varint32)
// and count (varint64), optionally followed by a fourth, the number of input records
// folded into it (varint64, written only when non-zero: the builder tracks it for rdata
// values, whose records can be left out after the merge, and the owner-name entries
// stay three varints). merge_counts folds two of them (earliest first, latest last,
// counts and record numbers added, saturating); it has the SortabMergeFunc shape and
// writes into out, which the caller clears. The builder folds equal keys with it both
// when a sorted run is spilled and when runs are merged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarn {

struct CountValue {
  uint32_t first = 0;
  uint32_t last = 0;
  uint64_t count = 0;
  uint64_t observations = 0;  // input records folded in; 0 when not tracked
};

// Appends the varints of v (the fourth only when v.observations is non-zero).
void encode_count_value(const CountValue& v, std::string& out);
// Decodes a count value; a value holding only its first varint gives that first time
// with last and count 0. Returns false for an empty or undecodable value.
bool decode_count_value(std::string_view value, CountValue* v);

// Folds v into *into as merge_counts folds two decoded values.
void fold_counts(CountValue* into, const CountValue& v);

void merge_counts(std::string_view key, std::string_view a, std::string_view b,
                  std::string& out);

}  // namespace quarn
