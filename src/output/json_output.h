// JSON form of search results: one compact object per record type of a result.
//
// Each object is a single line, generated with UTF-8 validation on and no blanks:
//   {"details":{"rrname":"www.example.com","rrtype":"A","count":5,"time_first":..,
//    "time_last":..}}
// The outer key is "details" or "terse"; the inner object holds "rdata" (results of an
// rdata index) or "rrname", then "rrtype" (mnemonic, or "TYPE<n>"), then, with details
// only, "count", "time_first" and "time_last", and for rdata results "raw_rdata" as
// upper-case hexadecimal.
//
// The objects are written straight into a reusable buffer (json_write.h), byte for byte
// as the yajl generator writes them: result lines are the hot path of every -j search
// and of the service.
//
// Use: hold one JsonResultWriter per output loop (it owns a reusable text buffer, so
// printing a result allocates nothing once warmed up), or call the free
// functions, which share one writer per thread. build() produces one object into the
// writer's buffer; append_lines() / print_json() produce every requested object of a
// result, each followed by a line feed.
//
// Failures never produce partial or invalid JSON on the output: an element that cannot
// be generated (no element of the requested type, raw rdata too long, a key that is not
// valid UTF-8, an object longer than kJsonResultBufferSize - 1 bytes) is refused with
// one error line on standard error (a key that is not UTF-8: the generator's failure
// line, "Error: function yajl_gen_string() returned 7 {...}", at level "error") and
// skipped; the other elements of the result are still written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "retrieval/result_entry.h"

namespace quarn {

// Size of the buffer one object is generated into, its terminating NUL included; an
// object of more than kJsonResultBufferSize - 1 bytes is refused rather than cut.
constexpr size_t kJsonResultBufferSize = 8192;
// Longest raw rdata written as "raw_rdata": its hexadecimal text (two digits per byte)
// plus a NUL must fit the 1024-byte field the consumers of these objects reserve.
constexpr size_t kJsonMaxRawRdata = 511;

class JsonResultWriter {
 public:
  JsonResultWriter();
  ~JsonResultWriter();
  JsonResultWriter(const JsonResultWriter&) = delete;
  JsonResultWriter& operator=(const JsonResultWriter&) = delete;

  // Generates the object for the first element of r whose rrtype is `rrtype`; true on
  // success, the object then in text(). On failure the reason has been reported (see
  // above) and text() is empty.
  bool build(const result_entry& r, uint16_t rrtype, bool details);
  std::string_view text() const;

  // Appends one line per auxdata element in order (selector 0) or the line of the
  // element of type `selector`. True when every requested line was written; false when
  // any was refused (the refused ones are reported and left out).
  bool append_lines(std::string& out, const result_entry& r, uint16_t selector, bool details);

 private:
  // Writes the object into text_ (grown to hold it) and returns its length, which may
  // pass the object limit: the caller checks.
  size_t write_object(const result_entry& r, const rrtype_summary& e, bool details,
                      std::string_view hex);

  std::vector<char> text_;
  size_t size_ = 0;
};

// The free forms, sharing one writer per thread. The driver prints results with
// selector 0 and details on.
bool format_json(std::string& out, const result_entry& r, uint16_t selector, bool details);
// Writes the lines to stream; false if any element was refused or the write failed.
bool print_json(FILE* stream, const result_entry& r, uint16_t selector, bool details);

}  // namespace quarn
