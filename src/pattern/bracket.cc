// Bracket expressions ([...], negated [^...] or [!...]) shared by both parsers.
//
// Members are read left to right: a leading ']' or '-' is a member, named classes such
// as [:alpha:] add their members, a '-' between two single members spans a range, and a
// '-' before the closing ']' is a member. Errors give the byte offset of the offending
// member; an unknown class name and an unclosed bracket are reported at the opening.
#include <cstring>

#include "common/strfmt.h"
#include "pattern/parse.h"
#include "pattern/syntax_chars.h"

namespace quarn {

namespace {

using namespace reparse_error;

// The members gathered so far, and the last single member, which may start a range;
// there is none right after a class name or after a range.
struct bracket_members {
  class_set bits;
  bool have_prev = false;
  unsigned char prev = 0;

  void add_single(unsigned char b) {
    bits.set(b);
    prev = b;
    have_prev = true;
  }
};

// The named class spelled at expr[i] ("[:name:]"), or null when the name is unknown.
const named_class* named_class_at(std::string_view expr, size_t i) {
  for (const auto& nc : named_classes())
    if (expr.substr(i).starts_with(nc.name)) return &nc;
  return nullptr;
}

// The '-' at expr[i]: a member before the closing ']', else the span from the last single
// member to the byte after it. A '-' ending the text leaves the bracket unclosed.
bool read_range(std::string_view expr, size_t& i, bracket_members& m, std::string& err) {
  const size_t n = expr.size();
  if (i + 1 < n && expr[i + 1] == ']') {
    m.bits.set('-');
    ++i;
    return true;
  }
  if (i + 1 >= n) {
    ++i;
    return true;
  }
  const unsigned char end = static_cast<unsigned char>(expr[i + 1]);
  if (!printable_byte(end)) {
    err = str_fmt(kInvalidCharCode, static_cast<unsigned>(end), static_cast<int>(i + 1));
    return false;
  }
  // Compared as signed bytes, so no range can reach past 0x7f.
  if (!m.have_prev || end == '[' ||
      static_cast<signed char>(m.prev) > static_cast<signed char>(end)) {
    err = str_fmt(kInvalidRange, static_cast<int>(i + 1));
    return false;
  }
  for (unsigned v = m.prev; v <= end; ++v) m.bits.set(v);
  m.have_prev = false;
  i += 2;
  return true;
}

// One member at expr[i], which is not the closing ']'; `open` is the bracket's offset.
bool read_member(std::string_view expr, size_t& i, size_t open, bracket_members& m,
                 std::string& err) {
  const size_t n = expr.size();
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
    const named_class* found = named_class_at(expr, i);
    if (!found) {
      err = str_fmt(kClassName, static_cast<int>(open));
      return false;
    }
    m.bits |= found->members;
    i += strlen(found->name);
    m.have_prev = false;
    return true;
  }
  if (b == '-') return read_range(expr, i, m, err);
  m.add_single(b);
  ++i;
  return true;
}

}  // namespace

bool class_parse(std::string_view expr, size_t& cursor, re_elem_ptr& out, char negation,
                 std::string& err) {
  const size_t n = expr.size();
  const size_t open = cursor;
  size_t i = open + 1;
  bool negated = false;
  if (i < n && expr[i] == negation) {
    negated = true;
    ++i;
  }
  bracket_members m;
  // Right after the opening (and the negation), ']' and '-' are plain members.
  if (i < n && (expr[i] == ']' || expr[i] == '-')) {
    m.add_single(static_cast<unsigned char>(expr[i]));
    ++i;
  }
  while (i < n && expr[i] != ']')
    if (!read_member(expr, i, open, m, err)) return false;
  if (i >= n) {
    const int pi = static_cast<int>(open);
    err = negated ? str_fmt(kUnmatchedNegated, negation, pi) : str_fmt(kUnmatchedBracket, pi);
    return false;
  }
  if (negated) m.bits.flip();
  out = re_elem_class_of(m.bits);
  cursor = i;
  return true;
}

}  // namespace quarn
