// Rendering a pattern tree (pattern/re_elem.h) back into regular-expression text.
//
// The output uses only the dialect that regex_parse accepts and the matcher understands,
// so parsing a rendering gives back an equivalent tree, and rendering that tree gives the
// same text again. Globs and regular expressions alike reach the matcher this way, as one
// normalised regular expression. Letters keep their case.
//
// Ownership: re_elem_to_string returns a new string owned by the caller; the other
// functions append to a caller-owned string. Rendering cannot fail.
#pragma once

#include <cstdint>
#include <string>

#include "pattern/re_elem.h"

namespace quarn {

// The rendering of a whole subtree.
std::string re_elem_to_string(const re_elem& e);

// Appends the rendering of `e` and its subtree to `out`.
void re_elem_render(const re_elem& e, std::string& out);

// Appends the repetition suffix of {min,max}: "", "+", "?", "*", "{m}", "{m,}" or "{m,n}".
void render_repeat(uint32_t min, uint32_t max, std::string& out);

// Appends one byte as written inside a bracket expression: '\' doubled (one member to
// both our parser and the matcher), non-printable bytes as \xHH, all else as it is. The
// caller places ']', '-' and '^' where they are plain members (first, last, not first).
void render_class_char(unsigned char b, std::string& out);

}  // namespace quarn
