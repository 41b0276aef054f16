// The glob parser: glob text to a pattern tree anchored at both ends.
#include "common/strfmt.h"
#include "pattern/parse.h"
#include "pattern/syntax_chars.h"

namespace quarn {

namespace {

re_elem_ptr parse_glob(std::string_view s, std::string& err) {
  using namespace reparse_error;
  auto seq = re_elem_init(re_elem_sequence);
  if (!anchor_start(*seq, err, 0)) return nullptr;
  re_elem_ptr pending;  // the literal being collected, if any
  const size_t n = s.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (!printable_byte(c)) {
      err = str_fmt(kInvalidCharCode, static_cast<unsigned>(c), static_cast<int>(i));
      return nullptr;
    }
    if (c == '*' || c == '?') {
      if (!sequence_add(*seq, pending, err, i)) return nullptr;
      re_elem_ptr any = re_elem_any_byte();
      if (c == '*') {
        any->min_repeat = 0;
        any->max_repeat = REPEAT_MAX;
      }
      if (!sequence_add(*seq, any, err, i)) return nullptr;
      continue;
    }
    if (c == '[') {
      if (!sequence_add(*seq, pending, err, i)) return nullptr;
      re_elem_ptr cls;
      if (!class_parse(s, i, cls, '!', err)) return nullptr;
      if (!sequence_add(*seq, cls, err, i)) return nullptr;
      continue;
    }
    if (c == '\\') {
      // A backslash must have a byte to escape; reading on would leave the text.
      if (i + 1 >= n) {
        err = str_fmt(kGlobTrailingBackslash, static_cast<int>(i));
        return nullptr;
      }
      ++i;
      c = static_cast<unsigned char>(s[i]);
      if (!printable_byte(c)) {
        err = str_fmt(kInvalidCharCode, static_cast<unsigned>(c), static_cast<int>(i));
        return nullptr;
      }
    }
    if (!pending) pending = re_elem_init(re_elem_literal);
    pending->text.push_back(static_cast<char>(c));
  }
  const size_t last = n > 0 ? n - 1 : 0;
  if (!sequence_add(*seq, pending, err, last)) return nullptr;
  if (!anchor_end(*seq, err, last)) return nullptr;
  re_elem_ptr root = std::move(seq);
  seq_fold(root);
  return root;
}

}  // namespace

re_elem_ptr glob_parse(std::string_view expr, std::string* err) {
  std::string local;
  std::string& e = err ? *err : local;
  e.clear();
  return parse_glob(expr, e);
}

}  // namespace quarn
