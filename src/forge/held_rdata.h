// The rdata entries of a build that derives its rdata index from the record store's
// values (build.cc): entries of lines without an owner (raw rdata lines) and of rdata
// index inputs. They come out of the build's merge first, in rdata order, before any
// store value; they are held in a temporary sorted table and merged, in that same order,
// with the distinct values the store writer hands out at its end.
//
// Order of use: hold() each entry as it comes (rdata key without its tag, count value),
// in ascending key order; start_reading() once; then emit_before() for each store value
// in value order, and emit_rest() last. Keys are key_codec.h's rdata keys, whose
// bytewise order is value_order's. Nothing is written when nothing is held.
//
// The table is registered with the build's TempFiles, so it goes with any failure.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "forge/merge_ops.h"

namespace quarn {

class SortabReader;
class SortabWriter;
class TempFiles;

inline constexpr const char* kHeldRdataErrEntry = "internal error: undecodable held rdata entry";

class HeldRdata {
 public:
  // Writes one rdata line's worth: the value and its folded counts.
  using Emit = std::function<bool(uint16_t rrtype, std::string_view raw, const CountValue& v,
                                  std::string* error)>;

  explicit HeldRdata(TempFiles& temps);
  ~HeldRdata();
  HeldRdata(const HeldRdata&) = delete;
  HeldRdata& operator=(const HeldRdata&) = delete;

  bool hold(std::string_view key, std::string_view value, std::string* error);
  bool start_reading(std::string* error);
  // Emits the held entries that sort before (rrtype, raw) and folds an equal one into *v
  // (which the caller then writes).
  bool emit_before(uint16_t rrtype, std::string_view raw, CountValue* v, const Emit& emit,
                   std::string* error);
  bool emit_rest(const Emit& emit, std::string* error);

 private:
  // Reads the next held entry into raw_, rrtype_ and value_; false at the end or on
  // failure (*error set).
  bool advance(std::string* error);

  TempFiles& temps_;
  std::string path_;
  std::unique_ptr<SortabWriter> writer_;
  std::unique_ptr<SortabReader> reader_;
  bool current_ = false;  // raw_, rrtype_ and value_ hold an entry not yet emitted
  std::string raw_;
  uint16_t rrtype_ = 0;
  CountValue value_;
};

}  // namespace quarn
