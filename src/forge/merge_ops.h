// The value of a sorted-table entry of passive-DNS observations, and how two of them
// fold into one.
//
// A count value is three varints: first-seen time (varint32), last-seen time
// (varint32) and count (varint64). merge_counts folds two of them (earliest first,
// latest last, counts added, saturating); it has the SortabMergeFunc shape and writes
// into out, which the caller clears. The builder folds equal keys with it both when a
// sorted run is spilled and when runs are merged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarn {

struct CountValue {
  uint32_t first = 0;
  uint32_t last = 0;
  uint64_t count = 0;
};

// Appends the three varints of v.
void encode_count_value(const CountValue& v, std::string& out);
// Decodes a count value; a value holding only its first varint gives that first time
// with last and count 0. Returns false for an empty or undecodable value.
bool decode_count_value(std::string_view value, CountValue* v);

void merge_counts(std::string_view key, std::string_view a, std::string_view b,
                  std::string& out);

}  // namespace quarn
