// Records of a lookup in the Common Output Format of passive DNS, and as aligned text.
//
// JSON: one compact object per record and line:
//   {"rrname":"www.example.com","rrtype":"A","rdata":"192.0.2.1","time_first":..,
//    "time_last":..,"count":..,"bailiwick":"example.com"}
// with "bailiwick" only when known, the type as its mnemonic (or "TYPE<n>") and the
// rdata as the rdata index shows it. Text: one line per record, columns padded so that
// they line up for ordinary names: name, type, rdata, first and last time (local time),
// count, bailiwick when known.
//
// Use: one CofWriter per output loop; it owns its buffer and the generator, so a record
// allocates nothing once warm. Objects are written directly (json_write.h), byte for byte
// as the generator writes them; a record the direct path cannot take goes through the
// generator, which refuses it as it always has. append_json() appends the object and a line feed, or appends
// nothing and returns false when the record cannot be written as JSON (a name or text
// that is not valid UTF-8, an object over kCofObjectLimit bytes).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "store/store_record.h"

namespace quarn {

class JsonGen;

// Longest object written: far above any record (names of 1024 bytes, texts of a few
// hundred) yet bounded so that a damaged value cannot make a giant line.
constexpr size_t kCofObjectLimit = 16384;

class CofWriter {
 public:
  CofWriter();
  ~CofWriter();
  CofWriter(const CofWriter&) = delete;
  CofWriter& operator=(const CofWriter&) = delete;

  bool append_json(std::string& out, const StoreRecord& r);
  void append_text(std::string& out, const StoreRecord& r);

 private:
  size_t write_object(const StoreRecord& r);  // into text_; returns its length
  bool append_generated(std::string& out, const StoreRecord& r);

  std::unique_ptr<JsonGen> gen_;
  std::string text_;
};

}  // namespace quarn
