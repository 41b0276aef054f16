// A small appender of JSON text for the service's reports (status, explain), whose
// shapes are fixed and whose strings are paths and pattern texts. Strings are escaped
// for JSON; bytes outside printable ASCII become \u00XX, so the report is always valid
// JSON whatever a file name holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarn {

class JsonText {
 public:
  JsonText& open() { sep(); out_ += '{'; first_ = true; return *this; }
  JsonText& close() { out_ += '}'; first_ = false; return *this; }
  JsonText& open_array() { sep(); out_ += '['; first_ = true; return *this; }
  JsonText& close_array() { out_ += ']'; first_ = false; return *this; }
  JsonText& key(std::string_view k) { sep(); str_raw(k); out_ += ':'; first_ = true; return *this; }
  JsonText& str(std::string_view s) { sep(); str_raw(s); return *this; }
  JsonText& num(int64_t v) { sep(); out_ += std::to_string(v); return *this; }
  JsonText& unum(uint64_t v) { sep(); out_ += std::to_string(v); return *this; }
  JsonText& real(double v);
  JsonText& boolean(bool v) { sep(); out_ += v ? "true" : "false"; return *this; }
  std::string take() { return std::move(out_); }

 private:
  void sep() {
    if (!first_) out_ += ',';
    first_ = false;
  }
  void str_raw(std::string_view s);
  std::string out_;
  bool first_ = true;
};

}  // namespace quarn
