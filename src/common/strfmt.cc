#include "common/strfmt.h"

#include <cstdio>

namespace quarn {

void append_vfmt(std::string& out, const char* fmt, va_list ap) {
  char small[256];
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out.append(small, static_cast<size_t>(n));
    return;
  }
  size_t old = out.size();
  out.resize(old + static_cast<size_t>(n) + 1);
  std::vsnprintf(out.data() + old, static_cast<size_t>(n) + 1, fmt, ap);
  out.resize(old + static_cast<size_t>(n));
}

void append_fmt(std::string& out, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  append_vfmt(out, fmt, ap);
  va_end(ap);
}

std::string str_fmt(const char* fmt, ...) {
  std::string out;
  va_list ap;
  va_start(ap, fmt);
  append_vfmt(out, fmt, ap);
  va_end(ap);
  return out;
}

}  // namespace quarn
