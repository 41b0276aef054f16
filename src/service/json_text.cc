#include "service/json_text.h"

#include <cmath>
#include <cstdio>

namespace quarn {

JsonText& JsonText::real(double v) {
  sep();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", std::isfinite(v) ? v : 0.0);
  out_ += buf;
  return *this;
}

void JsonText::str_raw(std::string_view s) {
  static const char kHex[] = "0123456789abcdef";
  out_ += '"';
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out_ += '\\';
      out_ += ch;
    } else if (c < 0x20 || c >= 0x7f) {
      out_ += "\\u00";
      out_ += kHex[c >> 4];
      out_ += kHex[c & 15];
    } else {
      out_ += ch;
    }
  }
  out_ += '"';
}

}  // namespace quarn
