#include "output/json_gen.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "common/log.h"
#include "output/json_messages.h"

namespace quarn {

namespace {
// Enough for typical objects without regrowing; the text never grows past the limit.
constexpr size_t kInitialReserve = 256;
}  // namespace

JsonGen::JsonGen(size_t limit) : limit_(limit) {
  text_.reserve(std::min(limit, kInitialReserve));
  gen_ = yajl_gen_alloc(nullptr);
  if (gen_ == nullptr) return;
  // Compact output is yajl's default (no beautify); validation keeps invalid UTF-8 out.
  // yajl_gen_config answers 1 when it took the option and 0 when it did not.
  int res = yajl_gen_config(gen_, yajl_gen_print_callback, &JsonGen::print, this);
  if (res == 1) res = yajl_gen_config(gen_, yajl_gen_validate_utf8, 1);
  if (res != 1) {
    QLOG(LOG_ERROR, kJsonGenFailedFmt, "yajl_gen_config", res, "option not accepted");
    yajl_gen_free(gen_);
    gen_ = nullptr;
  }
}

JsonGen::~JsonGen() {
  if (gen_ != nullptr) yajl_gen_free(gen_);
}

void JsonGen::reset() {
  text_.clear();
  overflowed_ = false;
  // A null separator writes nothing; the generator forgets any error state of the last
  // object.
  if (gen_ != nullptr) yajl_gen_reset(gen_, nullptr);
}

void JsonGen::print(void* ctx, const char* s, size_t n) {
  auto* self = static_cast<JsonGen*>(ctx);
  if (self->overflowed_ || n > self->limit_ - self->text_.size()) {
    self->overflowed_ = true;
    return;
  }
  self->text_.append(s, n);
}

bool JsonGen::check(yajl_gen_status status, const char* function) {
  if (status != yajl_gen_status_ok) {
    QLOG(LOG_ERROR, kJsonGenFailedFmt, function, static_cast<int>(status),
         json_gen_status_text(status));
    return false;
  }
  return !overflowed_;
}

bool JsonGen::map_open() {
  return gen_ != nullptr && check(yajl_gen_map_open(gen_), "yajl_gen_map_open");
}

bool JsonGen::map_close() {
  return gen_ != nullptr && check(yajl_gen_map_close(gen_), "yajl_gen_map_close");
}

bool JsonGen::string(std::string_view s) {
  return gen_ != nullptr &&
         check(yajl_gen_string(gen_, reinterpret_cast<const unsigned char*>(s.data()), s.size()),
               "yajl_gen_string");
}

bool JsonGen::integer(long long v) {
  return gen_ != nullptr && check(yajl_gen_integer(gen_, v), "yajl_gen_integer");
}

bool JsonGen::unsigned_integer(unsigned long long v) {
  if (v <= static_cast<unsigned long long>(LLONG_MAX)) return integer(static_cast<long long>(v));
  if (gen_ == nullptr) return false;
  // yajl_gen_integer takes a signed value; a count past its range would print negative.
  char digits[24];
  int n = std::snprintf(digits, sizeof digits, "%llu", v);
  return check(yajl_gen_number(gen_, digits, static_cast<size_t>(n)), "yajl_gen_number");
}

const char* json_gen_status_text(yajl_gen_status status) {
  switch (status) {
    case yajl_gen_status_ok:
      return "ok, no error";
    case yajl_gen_keys_must_be_strings:
      return "map key is not a string";
    case yajl_max_depth_exceeded:
      return "maximum nesting depth exceeded";
    case yajl_gen_in_error_state:
      return "generator is in an error state";
    case yajl_gen_generation_complete:
      return "a complete value was already generated";
    case yajl_gen_invalid_number:
      return "invalid number";
    case yajl_gen_no_buf:
      return "no internal buffer with a print callback";
    case yajl_gen_invalid_string:
      return "string is not valid UTF-8";
  }
  return "unknown generator status";
}

}  // namespace quarn
