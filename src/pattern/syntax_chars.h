// The byte classes both pattern dialects are built on, shared by the parsers, the
// renderer and the tree printer so that what one writes the other reads back.
//
// printable_byte: the bytes an expression may hold as they are (printable ASCII,
// 0x20-0x7e); everything else is refused by the parsers and spelled as an escape by the
// renderer. regex_escapable: the bytes a backslash may escape outside brackets, each
// standing for itself afterwards; the renderer escapes exactly these.
#pragma once

namespace quarn {

inline bool printable_byte(unsigned v) { return v >= 0x20 && v <= 0x7e; }

inline bool regex_escapable(char c) {
  switch (c) {
    case '$': case '(': case ')': case '*': case '+': case '.':
    case '?': case '[': case '\\': case '^': case '{': case '|':
      return true;
    default:
      return false;
  }
}

}  // namespace quarn
