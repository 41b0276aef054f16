// The regular-expression parser: expression text to pattern tree.
//
// One pass over the bytes. `pending` holds the last atom until the next byte shows
// whether a repetition applies to it; "flush" adds it to the current alternative. Each
// '(' saves the current group and alternative on a stack. Heights of the subtrees built
// so far are tracked alongside (an upper bound, never computed by walking) so that
// absurdly deep nesting is refused before it is built.
#include <algorithm>
#include <vector>

#include "common/strfmt.h"
#include "pattern/parse.h"
#include "pattern/syntax_chars.h"

namespace quarn {

namespace {

using namespace reparse_error;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// While parsing, subtree heights are estimated from above (each level of parentheses
// costs two, for group and sequence; each repeated repetition one), and anything beyond
// this bound is refused at once. The rendering of an accepted tree (at most kMaxNesting
// nested groups, so at most that many parentheses) always stays within it.
constexpr size_t kMaxHeight = 2 * kMaxNesting + 8;

// The deepest nesting of groups in a tree; bounded by the height estimate, so the
// recursion is too.
size_t group_depth(const re_elem& e) {
  size_t d = 0;
  for (const auto& c : e.children) d = std::max(d, group_depth(*c));
  return d + (e.is_group() ? 1 : 0);
}

// Reads an unsigned decimal number the way strtoul does (leading spaces and a sign
// accepted, no digits reads as 0, overflow saturates), except that only the space
// counts as a blank: other blanks are not printable and must not slip through here.
unsigned long read_number(std::string_view s, size_t& i) {
  size_t j = i;
  while (j < s.size() && s[j] == ' ') ++j;
  bool negative = false;
  if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
    negative = s[j] == '-';
    ++j;
  }
  if (j >= s.size() || !is_digit(s[j])) return 0;  // nothing consumed
  unsigned long v = 0;
  bool overflow = false;
  for (; j < s.size() && is_digit(s[j]); ++j) {
    const unsigned long d = static_cast<unsigned long>(s[j] - '0');
    if (v > (~0UL - d) / 10) overflow = true;
    if (!overflow) v = v * 10 + d;
  }
  i = j;
  if (overflow) return ~0UL;
  return negative ? 0UL - v : v;
}

struct Level {
  re_elem_ptr group;
  re_elem_ptr seq;
  size_t group_height;
  size_t seq_height;
  size_t last_child_height;
};

class RegexParser {
 public:
  explicit RegexParser(std::string_view expr) : s_(expr) {}

  re_elem_ptr parse(std::string& err);

 private:
  bool flush(size_t pos);
  bool repetition(char op, size_t pos);
  bool read_bound(size_t& i);
  bool too_deep(size_t height, size_t pos);
  void start_level();

  std::string_view s_;
  std::string* err_ = nullptr;
  re_elem_ptr group_;
  re_elem_ptr seq_;
  re_elem_ptr pending_;
  size_t group_height_ = 0;       // highest alternative finished in group_
  size_t seq_height_ = 0;         // highest child of seq_
  size_t last_child_height_ = 0;  // height of seq_'s last child
  size_t pending_height_ = 0;
  std::vector<Level> stack_;
};

void RegexParser::start_level() {
  group_ = re_elem_init(re_elem_group);
  seq_ = re_elem_init(re_elem_sequence);
  group_height_ = seq_height_ = last_child_height_ = 0;
}

bool RegexParser::too_deep(size_t height, size_t pos) {
  if (height <= kMaxHeight) return false;
  *err_ = str_fmt(kTooDeep, static_cast<int>(pos));
  return true;
}

bool RegexParser::flush(size_t pos) {
  if (!pending_) return sequence_add(*seq_, pending_, *err_, pos);
  const size_t h = pending_height_;
  if (!sequence_add(*seq_, pending_, *err_, pos)) return false;
  seq_height_ = std::max(seq_height_, h);
  last_child_height_ = h;
  return true;
}

bool RegexParser::repetition(char op, size_t pos) {
  const bool wraps = !pending_;
  if (!rep_start(*seq_, pending_, op, *err_, pos)) return false;
  if (wraps) {
    pending_height_ = last_child_height_ + 1;
    return !too_deep(pending_height_, pos);
  }
  if (pending_->is_literal()) pending_height_ = 1;
  return true;
}

// The cursor is on '{', followed by a digit. Sets the pending atom's repetition and
// leaves the cursor on the closing '}'.
bool RegexParser::read_bound(size_t& i) {
  const size_t p = i;
  const int pi = static_cast<int>(p);
  size_t j = i + 1;
  const unsigned long m = read_number(s_, j);
  if (m > REPEAT_MAX) {
    *err_ = str_fmt(kBoundTooLarge, pi, m, REPEAT_MAX);
    return false;
  }
  unsigned long max = m;
  if (j < s_.size() && s_[j] == ',') {
    ++j;
    if (j < s_.size() && s_[j] == '}') {
      max = REPEAT_MAX;
    } else {
      const unsigned long nb = read_number(s_, j);
      if (nb > REPEAT_MAX) {
        *err_ = str_fmt(kBoundTooLarge, pi, nb, REPEAT_MAX);
        return false;
      }
      if (nb < m) {
        *err_ = str_fmt(kBoundDescending, pi, static_cast<unsigned>(m),
                        static_cast<unsigned>(nb));
        return false;
      }
      max = nb;
    }
  }
  if (j >= s_.size() || s_[j] != '}') {
    *err_ = str_fmt(kBoundUnclosed, pi);
    return false;
  }
  pending_->min_repeat = static_cast<uint32_t>(m);
  pending_->max_repeat = static_cast<uint32_t>(max);
  i = j;
  return true;
}

re_elem_ptr RegexParser::parse(std::string& err) {
  err_ = &err;
  start_level();
  const size_t n = s_.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(s_[i]);
    const int pi = static_cast<int>(i);
    if (!printable_byte(c)) {
      err = str_fmt(kInvalidCharCode, static_cast<unsigned>(c), pi);
      return nullptr;
    }
    char lit = static_cast<char>(c);
    switch (c) {
      case '$':
        if (!flush(i) || !anchor_end(*seq_, err, i)) return nullptr;
        continue;
      case '(':
        if (!flush(i)) return nullptr;
        if (stack_.size() >= kMaxNesting) {
          err = str_fmt(kTooDeep, pi);
          return nullptr;
        }
        stack_.push_back(Level{std::move(group_), std::move(seq_), group_height_, seq_height_,
                               last_child_height_});
        start_level();
        continue;
      case '|':
        if (pending_ && !flush(i)) return nullptr;
        group_height_ = std::max(group_height_, seq_height_ + 1);
        group_add(*group_, seq_);
        seq_ = re_elem_init(re_elem_sequence);
        seq_height_ = last_child_height_ = 0;
        continue;
      case ')': {
        if (pending_ && !flush(i)) return nullptr;
        if (stack_.empty()) {
          err = str_fmt(kUnmatchedParen, pi);
          return nullptr;
        }
        group_height_ = std::max(group_height_, seq_height_ + 1);
        group_add(*group_, seq_);
        pending_ = std::move(group_);
        pending_height_ = group_height_ + 1;
        Level& up = stack_.back();
        group_ = std::move(up.group);
        seq_ = std::move(up.seq);
        group_height_ = up.group_height;
        seq_height_ = up.seq_height;
        last_child_height_ = up.last_child_height;
        stack_.pop_back();
        if (too_deep(pending_height_, i)) return nullptr;
        continue;
      }
      case '*':
      case '+':
      case '?': {
        if (!repetition(static_cast<char>(c), i)) return nullptr;
        pending_->min_repeat = c == '+' ? 1 : 0;
        pending_->max_repeat = c == '?' ? 1 : REPEAT_MAX;
        if (!flush(i)) return nullptr;
        continue;
      }
      case '{':
        if (i + 1 < n && is_digit(s_[i + 1])) {
          if (!repetition('{', i) || !read_bound(i) || !flush(i)) return nullptr;
          continue;
        }
        break;  // a literal '{'
      case '.':
        if (!flush(i)) return nullptr;
        pending_ = re_elem_any_byte();
        pending_height_ = 1;
        continue;
      case '[': {
        if (!flush(i)) return nullptr;
        re_elem_ptr cls;
        if (!class_parse(s_, i, cls, '^', err)) return nullptr;
        pending_ = std::move(cls);
        pending_height_ = 1;
        continue;
      }
      case '^':
        if (!flush(i) || !anchor_start(*seq_, err, i)) return nullptr;
        continue;
      case '\\': {
        if (i + 1 >= n) {
          err = kTrailingBackslash;
          return nullptr;
        }
        const unsigned char x = static_cast<unsigned char>(s_[i + 1]);
        if (!printable_byte(x)) {
          err = str_fmt(kInvalidCharCode, static_cast<unsigned>(x), pi + 1);
          return nullptr;
        }
        if (!regex_escapable(static_cast<char>(x))) {
          err = str_fmt(kInvalidEscape, x, pi);
          return nullptr;
        }
        ++i;
        lit = static_cast<char>(x);
        break;
      }
      default:
        break;
    }
    // A literal byte joins the pending literal.
    if (!pending_ || !pending_->is_literal()) {
      if (!flush(i)) return nullptr;
      pending_ = re_elem_init(re_elem_literal);
      pending_height_ = 1;
    }
    pending_->text.push_back(lit);
  }
  if (pending_ && !flush(n - 1)) return nullptr;
  group_add(*group_, seq_);
  group_simplify(group_);
  if (!stack_.empty()) {
    err = kPrematureEnd;
    return nullptr;
  }
  // What the tree can be rendered as is what counts: no more nested groups than the
  // parser accepts parentheses.
  if (group_depth(*group_) > kMaxNesting) {
    err = str_fmt(kTooDeep, static_cast<int>(n > 0 ? n - 1 : 0));
    return nullptr;
  }
  return std::move(group_);
}

}  // namespace

re_elem_ptr regex_parse(std::string_view expr, std::string* err) {
  std::string local;
  std::string& e = err ? *err : local;
  e.clear();
  RegexParser parser(expr);
  return parser.parse(e);
}

}  // namespace quarn
