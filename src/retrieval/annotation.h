// The observation text of index string-table lines: readers and writer.
//
// Every string-table line is "key<TAB>annotation<LF>". The annotation lists the record
// types behind the key with first/last-seen times and counts, and in rdata indexes also
// the raw rdata bytes. Grammar (numbers are hexadecimal, either case, no prefix, unless
// stated):
//
//   type code  one letter of rrtype_letter_table followed by ":" or the end of the token,
//              or a decimal type number of 1-7 digits followed by ":". Letters win over
//              digits ("4" is A = 1, "6" is AAAA = 28, "0" is NULL = 10); other single
//              digits are decimal numbers and need the ":". Type 0, and anything above
//              65535, is invalid.
//   times      time_first, optionally "," and time_last - time_first.
//   token      type code [":" times [":" count]]; missing times and count are 0.
//   rrname     token (" " token)*          -- single blanks only
//   rdata      [raw " "] token             -- exactly one token
//   raw        decimal length (1-14 digits, non-zero) "/" exactly 2 x length hex digits
//
// An annotation ends at a line feed or at the end of the text. Readers take a
// string_view (start and limit) and never read past it; they never stop the program and
// report failure instead, so that a corrupt line is ignored by the merger.
//
// The writers serve index building and the raw result form: write_annotation merges two
// type-sorted lists into one annotation, and its output is always readable by the
// rrname reader; append_annotation_token and append_raw_rdata write the pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "retrieval/result_entry.h"

namespace quarn {

// One-letter codes of common record types (types 1-99 only).
struct rrtype_letter_entry {
  uint16_t rrtype;
  const char* mnemonic;
  char letter;
};
extern const rrtype_letter_entry rrtype_letter_table[22];

// The letter of a type, or '\0' when it has none (also for types outside 1-99).
char rrtype_letter(uint16_t rrtype);
// The type of a letter, or 0 when the character is not a letter of the table.
uint16_t rrtype_of_letter(char c);

// Appends the type code of the grammar: the letter, else the decimal number, with a
// leading zero when the number is a single digit that is also a letter ("04" for type
// 4, since "4" is A). Every writer of annotation text should use this.
void append_type_code(std::string& out, uint16_t rrtype);

// Parses the type code at the start of token (the token ends at the view's end; a ":"
// may follow the code). Returns the type, or 0 when the code is invalid.
uint16_t parse_type_code(std::string_view token);

// Parses an rrname annotation (text after the tab) into *out, in text order. Returns the
// number of elements; 0 on any error, with *out cleared. time_last = time_first + the
// difference; all numbers must fit (times in 0..INT64_MAX, counts in 64 bits).
size_t parse_rrname_annotation(std::string_view text, std::vector<rrtype_summary>* out);

// The one token of an rdata annotation, plus where its raw-rdata prefix lies.
struct rdata_annotation {
  // Offset of the raw prefix within the parsed text and its length up to (not
  // including) the blank after it; raw_length 0 when the annotation has no prefix.
  size_t raw_start = 0;
  size_t raw_length = 0;
  uint16_t rrtype = 0;
  uint64_t count = 0;
  uint32_t time_first = 0;
  uint32_t time_last = 0;
};

// Parses an rdata annotation (text after the tab, or the part after the raw digits).
// Fails (false) on any grammar error, on times outside 32 bits and on a second token,
// which also logs kMsgMultiSpace at level error.
bool parse_rdata_annotation(std::string_view text, rdata_annotation* out);

// Decodes the raw rdata prefix at the start of text ("<len>/<hex...>") into *out.
// Fails when the "/" is missing, the length field is empty, longer than 14 characters,
// not decimal or 0, or fewer than 2 x length hex digits follow. Nothing is allocated
// before the digits are known to be present.
bool parse_raw_rdata(std::string_view text, std::vector<uint8_t>* out);

// Appends one token, "code:first[,diff]:count" in hexadecimal. The times are always
// written (a lone "code:count" would read back as a time); the difference only when the
// last time is after the first, since an earlier last time cannot be written so that it
// reads back.
void append_annotation_token(std::string& out, const rrtype_summary& s);

// Appends the raw rdata prefix "<len>/<hex...>" with lower-case digits and no blank
// after it. An empty raw gives "0/", which the readers refuse.
void append_raw_rdata(std::string& out, std::span<const uint8_t> raw);

// Appends to out the annotation that merges a and b (each sorted by type ascending):
// a tab first unless no_leading_tab, blanks between tokens; elements of equal type are
// merged (counts added, earlier time_first, later time_last).
void write_annotation(std::span<const rrtype_summary> a, std::span<const rrtype_summary> b,
                      std::string& out, bool no_leading_tab = false);

// Offset of the last tab in text; 0 when there is none or the text is empty.
size_t last_tab(std::string_view text);

}  // namespace quarn
