// Operations over sorted tables of passive-DNS values.
//
// A count value is three varints: first-seen time (varint32), last-seen time
// (varint32) and count (varint64). merge_counts folds two of them (earliest first,
// latest last, counts added); merge_keys_only ignores values and gives a one-byte
// placeholder, for tables where only the set of keys matters. Both have the
// SortabMergeFunc shape and write into out, which the caller clears.
//
// open_sortab_merged opens several table files as one merged stream restricted by a
// key-prefix string (parse_key_prefix: "LEN/HEX" for a prefix, "LEN/HEX-LEN/HEX" or
// "LEN/HEX:LEN/HEX" for an inclusive range). The returned object owns every reader
// and the merger; destroying it (or close_sortab_merged) closes them all. On failure
// it returns null after printing the reason to standard error, having closed whatever
// it had opened.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "forge/sortab.h"

namespace quarn {

inline constexpr const char* kMergeErrPrefix =
    "Error: could not parse key prefix string \"%s\"\n";
inline constexpr const char* kMergeErrOpenFile = "Error: failed to open SORTAB file: %s\n";
inline constexpr const char* kMergeLogOpening = "opening SORTAB[merged]: %s";

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
void merge_keys_only(std::string_view key, std::string_view a, std::string_view b,
                     std::string& out);

struct KeyPrefix {
  std::string first;
  std::optional<std::string> second;  // set for a range
};

// Parses one raw key in the "decimal length / two hex digits per byte" notation;
// the whole text must be consumed.
std::optional<std::string> parse_raw_key(std::string_view text);
// Empty text, a text whose parts do not parse, or more than 1,023 characters of which
// the used part does not parse: nullopt. Only the first 1,023 characters are read.
std::optional<KeyPrefix> parse_key_prefix(std::string_view text);

// The merged stream and everything it reads from.
class SortabMerged {
 public:
  SortabSource& iter() { return *iter_; }

 private:
  friend std::unique_ptr<SortabMerged> open_sortab_merged(
      const std::vector<std::string>& files, std::string_view prefix, bool keys_only);
  std::unique_ptr<SortabSource> iter_;  // owns the merger, which owns the readers
};

std::unique_ptr<SortabMerged> open_sortab_merged(const std::vector<std::string>& files,
                                                 std::string_view prefix, bool keys_only);
// Closes everything and clears the handle; an empty handle is accepted.
void close_sortab_merged(std::unique_ptr<SortabMerged>& merged);

}  // namespace quarn
