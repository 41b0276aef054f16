// Rendering of pattern trees into regular-expression text.
//
// Bracket expressions are written so that both readers of the text agree on them: our
// own parser (where a backslash inside brackets is an ordinary member) and the matcher's
// engine (where it escapes). So ']' goes first, '-' last, '^' never first unless it
// negates, and only the backslash itself is written doubled, which both readers take as
// the one member '\'.
#include "pattern/render.h"
#include "pattern/syntax_chars.h"

#include "common/strfmt.h"

namespace quarn {

namespace {

// Bytes no parser produces (only rewritten trees can hold them) are written as \xHH so
// that the text stays printable and never carries a NUL into a C string.
void render_literal_byte(unsigned char b, std::string& out) {
  if (!printable_byte(b)) {
    append_fmt(out, "\\x%02x", static_cast<unsigned>(b));
    return;
  }
  if (regex_escapable(static_cast<char>(b))) out.push_back('\\');
  out.push_back(static_cast<char>(b));
}

unsigned lowest(const class_set& s) {
  for (unsigned v = 0; v < 256; ++v) {
    if (s.test(v)) return v;
  }
  return 256;
}

// Non-printable members can only be spelled through the named classes that hold them.
// The token that covers exactly the non-printable part of a set (nullptr for none), and
// whether one exists at all.
bool control_token(const class_set& s, const char** token) {
  class_set control;
  for (unsigned v = 0; v < 0x20; ++v) control.set(v);
  control.set(0x7f);
  class_set high;
  for (unsigned v = 0x80; v < 256; ++v) high.set(v);
  if ((s & high).any()) return false;
  const class_set part = s & control;
  *token = nullptr;
  if (part.none()) return true;
  if (part == control) {
    *token = "[:cntrl:]";
    return true;
  }
  // [:blank:] and [:space:] bring the space with them.
  if (!s.test(' ')) return false;
  class_set tab;
  tab.set('\t');
  class_set space;
  for (unsigned v = '\t'; v <= '\r'; ++v) space.set(v);
  if (part == tab) *token = "[:blank:]";
  if (part == space) *token = "[:space:]";
  return *token != nullptr;
}

// Writes the members of `s` between the brackets (and after '^' when `negated`). The
// non-printable ones are spelled by `token`, or as \xHH when it is null.
void render_class_body(class_set s, bool negated, const char* token, std::string& out) {
  const bool bracket = s.test(']');
  bool dash = s.test('-');
  s.reset(']');
  s.reset('-');
  if (token) {
    for (unsigned v = 0; v < 0x20; ++v) s.reset(v);
    s.reset(0x7f);
    if (token[2] != 'c') s.reset(' ');  // [:blank:] and [:space:] hold it already
  }
  bool caret_last = false;
  if (bracket) {
    out.push_back(']');  // first, where it cannot close the expression
  } else if (!negated && s.test('^') && lowest(s) == '^') {
    // A leading '^' would negate.
    if (dash) {
      out.push_back('-');
      dash = false;
    } else if (s.count() > 1 || token) {
      s.reset('^');
      caret_last = true;
    } else {
      // No spelling of a lone '^' means the same to both readers; this one is right for
      // the matcher, and the parsers never build such a class (it would be a literal).
      out += "\\^";
      s.reset('^');
    }
  }
  unsigned v = 0;
  while (v < 256) {
    if (!s.test(v)) {
      ++v;
      continue;
    }
    unsigned hi = v;
    while (hi + 1 < 256 && s.test(hi + 1)) ++hi;
    unsigned end = hi;
    // A range may not end in '[' for the parser; write that '[' on its own.
    if (end == '[' && end - v >= 2) --end;
    if (end == v) {
      render_class_char(static_cast<unsigned char>(v), out);
    } else if (end == v + 1) {
      render_class_char(static_cast<unsigned char>(v), out);
      render_class_char(static_cast<unsigned char>(end), out);
    } else {
      render_class_char(static_cast<unsigned char>(v), out);
      out.push_back('-');
      render_class_char(static_cast<unsigned char>(end), out);
    }
    if (end != hi) render_class_char(static_cast<unsigned char>(hi), out);
    v = hi + 1;
  }
  if (token) out += token;
  if (caret_last) out.push_back('^');
  if (dash) out.push_back('-');  // last, where it cannot form a range
}

// Every class a parser builds is a union of printable members and named classes, or the
// complement of one, and is written that way. Other sets (only rewritten trees hold them)
// fall back to \xHH members, negated when byte 0 is a member.
void render_class(const class_set& bits, std::string& out) {
  if (bits.all()) {
    out.push_back('.');
    return;
  }
  if (bits.none()) {
    out += "[^\\x00-\\xff]";  // matches nothing
    return;
  }
  const char* token = nullptr;
  out.push_back('[');
  if (control_token(bits, &token)) {
    render_class_body(bits, false, token, out);
  } else if (control_token(~bits, &token)) {
    out.push_back('^');
    render_class_body(~bits, true, token, out);
  } else if (bits.test(0)) {
    out.push_back('^');
    render_class_body(~bits, true, nullptr, out);
  } else {
    render_class_body(bits, false, nullptr, out);
  }
  out.push_back(']');
}

}  // namespace

void render_class_char(unsigned char b, std::string& out) {
  if (b == '\\') {
    out += "\\\\";
  } else if (!printable_byte(b)) {
    append_fmt(out, "\\x%02x", static_cast<unsigned>(b));
  } else {
    out.push_back(static_cast<char>(b));
  }
}

void render_repeat(uint32_t min, uint32_t max, std::string& out) {
  if (min == 1 && max == 1) return;
  if (min == 1 && max == REPEAT_MAX) {
    out.push_back('+');
  } else if (min == 0 && max == 1) {
    out.push_back('?');
  } else if (min == 0 && max == REPEAT_MAX) {
    out.push_back('*');
  } else if (min == 0 && max == 0) {
    out += "{0,0}";
  } else if (min == max) {
    append_fmt(out, "{%u}", min);
  } else if (max == REPEAT_MAX) {
    append_fmt(out, "{%u,}", min);
  } else {
    append_fmt(out, "{%u,%u}", min, max);
  }
}

void re_elem_render(const re_elem& e, std::string& out) {
  if (e.start_anchor) out.push_back('^');
  switch (e.type) {
    case re_elem_group:
      out.push_back('(');
      for (size_t i = 0; i < e.children.size(); ++i) {
        if (i > 0) out.push_back('|');
        re_elem_render(*e.children[i], out);
      }
      out.push_back(')');
      render_repeat(e.min_repeat, e.max_repeat, out);
      break;
    case re_elem_sequence: {
      // Canonical sequences repeat once; a rewritten one that does not is bracketed so
      // that its repetition applies to all of it.
      const bool wrap = !e.repeats_once();
      if (wrap) out.push_back('(');
      for (const auto& child : e.children) re_elem_render(*child, out);
      if (wrap) {
        out.push_back(')');
        render_repeat(e.min_repeat, e.max_repeat, out);
      }
      break;
    }
    case re_elem_literal: {
      // Canonical repeated literals hold one character; any other is bracketed.
      const bool wrap = !e.repeats_once() && e.text.size() != 1;
      if (wrap) out.push_back('(');
      for (char c : e.text) render_literal_byte(static_cast<unsigned char>(c), out);
      if (wrap) out.push_back(')');
      render_repeat(e.min_repeat, e.max_repeat, out);
      break;
    }
    case re_elem_class:
      render_class(e.bits, out);
      render_repeat(e.min_repeat, e.max_repeat, out);
      break;
  }
  if (e.end_anchor) out.push_back('$');
}

std::string re_elem_to_string(const re_elem& e) {
  std::string out;
  out.reserve(64);
  re_elem_render(e, out);
  return out;
}

}  // namespace quarn
