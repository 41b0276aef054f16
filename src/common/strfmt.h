// printf-style formatting into std::string, the growable text buffer of the utility layer.
//
// append_fmt appends to an existing string (the string's length is the counted length;
// no terminating NUL is kept inside it). str_fmt returns a fresh string. Both are for
// messages and output assembly, not for per-candidate hot paths.
#pragma once

#include <cstdarg>
#include <string>

namespace quarn {

void append_fmt(std::string& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void append_vfmt(std::string& out, const char* fmt, va_list ap);
std::string str_fmt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quarn
