// Collects the members of one observation line that the builder reads, without building
// a JSON tree.
//
// read_cof_fields runs the event parser of the JSON library over the line's bytes once
// and keeps only the top-level members rrname, rrtype, rdata, time_first, time_last,
// zone_time_first, zone_time_last, count and bailiwick; every other member, of any shape and
// depth, is skipped without being stored. The caller then applies its own checks to
// the collected values (parse_cof_line in input_record.h does).
//
// What is collected is what a full tree would show for those members:
//  - a member named twice counts by its first occurrence;
//  - member names and strings are kept whole, an escaped NUL ("\u0000") included: a
//    name holding one is none of the members above, and the caller's checks refuse a
//    text holding one (cutting it there would turn "a.example\u0000.b" into a.example);
//  - a number is an integer only when it is written without fraction or exponent and
//    its value fits a signed 64-bit integer without being its most negative value;
//    other numbers are kept as "a number that is not an integer", never an error, and
//    `too_large` tells a non-negative integer beyond that range from the rest;
//  - comments are allowed; trailing text, a second value, truncation and a top-level
//    value that is not an object make the line fail.
//
// Ownership: the CofFields record owns copies of the collected texts and is meant to be
// reused line after line, so that its strings keep their capacity. Not thread-safe;
// one record per thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

enum class CofKind : unsigned char {
  kAbsent,  // the member is not in the object
  kNull,
  kBool,
  kNumber,
  kString,
  kArray,
  kObject,
};

struct CofValue {
  CofKind kind = CofKind::kAbsent;
  bool is_integer = false;  // kNumber only: written as an integer that fits
  bool too_large = false;   // kNumber only: written as a non-negative integer that does not
  long long integer = 0;    // valid when is_integer
  std::string text;         // kString only: the whole text, NULs included

  void reset() {
    kind = CofKind::kAbsent;
    is_integer = false;
    too_large = false;
    integer = 0;
    text.clear();
  }
};

struct CofFields {
  CofValue rrname, rrtype, rdata, time_first, time_last, zone_time_first, zone_time_last,
      count, bailiwick;
  // rdata written as an array: its string elements in order (the first
  // rdata_items_used entries of rdata_items), and how many elements are not strings.
  std::vector<std::string> rdata_items;
  size_t rdata_items_used = 0;
  size_t rdata_nonstrings = 0;

  void reset();
};

// Parses `line` as one JSON object and fills *out (reset first). false when the line is
// not a complete, valid JSON object; *out is then unspecified. The line must not hold
// a NUL byte (the caller refuses those: a NUL could not be told from a line end).
bool read_cof_fields(std::string_view line, CofFields* out);

}  // namespace quarn
