// A JSON generator that writes into a bounded text buffer.
//
// Wraps one yajl generator configured for compact output with UTF-8 validation, whose
// print callback appends to an owned std::string that never grows past `limit` bytes.
// Output that would pass the limit is not appended; the generator is marked overflowed
// and every later call fails, so a caller can never observe a cut object as complete.
//
// Use: reset(), then map_open / key-value calls / map_close, checking each result; on
// success text() holds the object. A failing generator call is logged at level "error"
// ("Error: function <name>() returned <status> {<status text>}"); overflow is not
// logged here, the caller decides how to report it. valid() is false when the generator
// could not be created; every call then fails without logging.
//
// Not copyable: it owns the generator. Internal to the JSON output code.
#pragma once

#include <yajl/yajl_gen.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace quarn {

class JsonGen {
 public:
  explicit JsonGen(size_t limit);
  ~JsonGen();
  JsonGen(const JsonGen&) = delete;
  JsonGen& operator=(const JsonGen&) = delete;

  bool valid() const { return gen_ != nullptr; }
  // Starts a new object: clears the text, the overflow mark and the generator state.
  void reset();

  bool map_open();
  bool map_close();
  bool string(std::string_view s);
  bool integer(long long v);
  // An unsigned value; beyond the range of long long it is written as a number text.
  bool unsigned_integer(unsigned long long v);

  bool overflowed() const { return overflowed_; }
  const std::string& text() const { return text_; }

 private:
  static void print(void* ctx, const char* s, size_t n);
  bool check(yajl_gen_status status, const char* function);

  yajl_gen gen_ = nullptr;
  std::string text_;
  size_t limit_;
  bool overflowed_ = false;
};

// The meaning of a generator status, for error lines.
const char* json_gen_status_text(yajl_gen_status status);

}  // namespace quarn
