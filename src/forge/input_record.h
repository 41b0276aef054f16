// What one input line contributes to the indexes, and the readers of the two input
// formats.
//
// A line is either a passive-DNS observation in the common output format (one JSON
// object) or a raw index line "key<TAB>annotation" as the search program prints it with
// -r. parse_input_line picks the format by the first byte ('{' is JSON) unless one is
// forced, and fills a ParsedLine (reused between lines to spare allocations):
//  - JSON: the owner name (normalised, see normalize_owner_name) with its one record
//    type, and one rdata record per rdata string, converted to wire form; a bailiwick
//    member is kept, normalised the same way, when it is a valid name (a bad one is
//    dropped alone: it is only carried into record stores, never indexed);
//  - raw owner-name line: the key, normalised as a JSON owner name is, with every
//    record type of its annotation;
//  - raw rdata line: the raw rdata and the one record type of its token (its key text is
//    not kept: the builder derives the indexed text from the raw rdata, as for JSON).
// Raw rdata of every record has the names of NS, CNAME and MX lower-cased
// (fold_rdata_name_case), so that it agrees with the lower-cased text.
// Any fault rejects the whole line with a reason (one of the kReason texts), so counts
// stay exact, with one exception: elements of an rdata array that are not strings or do
// not parse are left out one by one (counted in rdata_bad) while the owner name and the
// good elements stand; only an array without any good element rejects the line. Empty
// lines and lines holding only blanks are reported as blank (ParseStatus::kBlank) and
// skipped silently.
//
// Times must be non-zero and fit 32 bits, with last >= first: a first-seen time of 0
// cannot be written back into an annotation unambiguously, and index times are 32-bit.
// An observation with only one of time_first and time_last (or of the zone times) was
// seen at that one time, which stands for both: a sensor that saw a record once may
// write just one, and dropping it would lose a real sighting. Both missing is a fault.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "forge/merge_ops.h"

namespace quarn {

enum class InputFormat { kAuto, kCof, kRaw };

struct NameRecord {
  uint16_t rrtype = 0;
  CountValue value;
};

struct RdataRecord {
  std::string raw;
  uint16_t rrtype = 0;
  CountValue value;
};

struct ParsedLine {
  std::string name;                      // empty when the line names no owner
  std::string bailiwick;                 // JSON only, normalised as a name; empty if none
  std::vector<NameRecord> name_records;  // records of the owner name
  std::vector<RdataRecord> rdata_records;
  size_t rdata_used = 0;                 // valid prefix of rdata_records
  size_t rdata_bad = 0;                  // rdata array elements left out

  void clear() {
    name.clear();
    bailiwick.clear();
    name_records.clear();
    rdata_used = 0;
    rdata_bad = 0;
  }
  RdataRecord& add_rdata() {
    if (rdata_used == rdata_records.size()) rdata_records.emplace_back();
    return rdata_records[rdata_used++];
  }
};

enum class ParseStatus { kOk, kBlank, kBad };

// Reasons for rejecting a line.
inline constexpr const char* kReasonJson = "not a valid JSON object";
inline constexpr const char* kReasonNoName = "missing or empty rrname";
inline constexpr const char* kReasonBadName = "rrname holds blanks or control characters";
inline constexpr const char* kReasonNotDomainName =
    "rrname is not a domain name (empty label, label over 63 bytes or name over 255)";
inline constexpr const char* kReasonNoType = "missing rrtype";
inline constexpr const char* kReasonUnknownType = "unknown rrtype";
inline constexpr const char* kReasonNoRdata = "missing rdata";
inline constexpr const char* kReasonBadRdata = "rdata does not parse";
inline constexpr const char* kReasonBadRdataElement =
    "an rdata element does not parse (left out, the rest of the line is kept)";
inline constexpr const char* kReasonNoTime = "missing both time_first and time_last";
inline constexpr const char* kReasonBadTime = "time is not a non-zero 32-bit integer";
inline constexpr const char* kReasonTimeOrder = "time_last is before time_first";
inline constexpr const char* kReasonBadCount = "count is not a non-negative integer";
inline constexpr const char* kReasonCountTooLarge = "count is too large (over 9223372036854775807)";
inline constexpr const char* kReasonNoTab = "raw line without a tab";
inline constexpr const char* kReasonBadAnnotation = "annotation does not parse";
inline constexpr const char* kReasonTooLong = "line too long";

// Parses one line (without its line feed). On kBad, *reason names the fault.
ParseStatus parse_input_line(std::string_view line, InputFormat format, ParsedLine* out,
                             const char** reason);

// The COF and raw readers on their own, same contract.
ParseStatus parse_cof_line(std::string_view line, ParsedLine* out, const char** reason);
ParseStatus parse_raw_line(std::string_view line, ParsedLine* out, const char** reason);

// Owner-name spelling of the indexes: ASCII lower case, one trailing dot dropped (the
// root stays "."). false, with *reason set, for an empty name or one holding blanks,
// tabs or other control characters, which would break the line format or the name
// order (kReasonBadName), and for one that is no domain name: an empty label, a label
// over kMaxLabelLength bytes, or over kMaxNameWireLength bytes in wire form
// (kReasonNotDomainName). Labels are measured as written (an escape counts its bytes).
bool normalize_owner_name(std::string_view name, std::string* out, const char** reason);

// Limits of a domain name in wire form.
constexpr size_t kMaxLabelLength = 63;
constexpr size_t kMaxNameWireLength = 255;

// Converts the presentation text of an rdata value of the given type into the wire
// form that is indexed (names folded by fold_rdata_name_case). false when the text does
// not parse for that type or holds a control character other than a tab.
bool rdata_from_text(uint16_t rrtype, std::string_view text, std::string* wire);

}  // namespace quarn
