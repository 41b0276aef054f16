// Bracket expressions ([...], negated [^...] or [!...]) shared by both parsers.
#include <cstring>

#include "common/strfmt.h"
#include "pattern/parse.h"
#include "pattern/syntax_chars.h"

namespace quarn {

bool class_parse(std::string_view expr, size_t& cursor, re_elem_ptr& out, char negation,
                 std::string& err) {
  using namespace reparse_error;
  const size_t n = expr.size();
  const size_t p = cursor;
  const int pi = static_cast<int>(p);
  size_t i = p + 1;
  bool negated = false;
  if (i < n && expr[i] == negation) {
    negated = true;
    ++i;
  }
  class_set bits;
  // The last single member, which may start a range; none right after a class name or
  // after a range.
  bool have_prev = false;
  unsigned char prev = 0;
  if (i < n && (expr[i] == ']' || expr[i] == '-')) {
    prev = static_cast<unsigned char>(expr[i]);
    bits.set(prev);
    have_prev = true;
    ++i;
  }
  while (i < n && expr[i] != ']') {
    const unsigned char b = static_cast<unsigned char>(expr[i]);
    if (!printable_byte(b)) {
      err = str_fmt(kInvalidCharCode, static_cast<unsigned>(b), static_cast<int>(i));
      return false;
    }
    if (b == '[' && i + 1 < n && (expr[i + 1] == '.' || expr[i + 1] == '=')) {
      err = str_fmt(kCollating, expr[i + 1], expr[i + 1], static_cast<int>(i));
      return false;
    }
    if (b == '[' && i + 1 < n && expr[i + 1] == ':') {
      const named_class* found = nullptr;
      for (const auto& nc : named_classes()) {
        if (expr.substr(i).starts_with(nc.name)) {
          found = &nc;
          break;
        }
      }
      if (!found) {
        err = str_fmt(kClassName, pi);
        return false;
      }
      bits |= found->members;
      i += strlen(found->name);
      have_prev = false;
      continue;
    }
    if (b == '-') {
      if (i + 1 < n && expr[i + 1] == ']') {
        bits.set('-');
        ++i;
        continue;
      }
      if (i + 1 >= n) {
        ++i;
        break;
      }
      const unsigned char end = static_cast<unsigned char>(expr[i + 1]);
      if (!printable_byte(end)) {
        err = str_fmt(kInvalidCharCode, static_cast<unsigned>(end), static_cast<int>(i + 1));
        return false;
      }
      // Compared as signed bytes, so no range can reach past 0x7f.
      if (!have_prev || end == '[' ||
          static_cast<signed char>(prev) > static_cast<signed char>(end)) {
        err = str_fmt(kInvalidRange, static_cast<int>(i + 1));
        return false;
      }
      for (unsigned v = prev; v <= end; ++v) bits.set(v);
      have_prev = false;
      i += 2;
      continue;
    }
    bits.set(b);
    prev = b;
    have_prev = true;
    ++i;
  }
  if (i >= n) {
    err = negated ? str_fmt(kUnmatchedNegated, negation, pi) : str_fmt(kUnmatchedBracket, pi);
    return false;
  }
  if (negated) bits.flip();
  out = re_elem_class_of(bits);
  cursor = i;
  return true;
}

}  // namespace quarn
