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

// Opens a bound {m}, {m,} or {m,n} only when a digit follows; otherwise a literal byte.
constexpr char kBoundOpen = '{';

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
  // One step per syntax byte; each leaves the cursor on the last byte it read.
  bool step(size_t& i);
  bool open_group(size_t pos);
  bool next_alternative(size_t pos);
  bool close_group(size_t pos);
  bool short_repetition(char op, size_t pos);
  bool bounded_repetition(size_t& i);
  bool bracket(size_t& i);
  bool escaped_byte(size_t& i);
  bool literal_byte(char c, size_t pos);
  re_elem_ptr finish();

  bool flush(size_t pos);
  bool repetition(char op, size_t pos);
  bool read_bound(size_t& i);
  bool too_deep(size_t height, size_t pos);
  void start_level();
  void close_alternative();
  void set_pending_atom(re_elem_ptr atom);

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

// The current alternative is complete: it joins the current group.
void RegexParser::close_alternative() {
  group_height_ = std::max(group_height_, seq_height_ + 1);
  group_add(*group_, seq_);
}

// A single-byte atom (any byte, a class, a new literal) becomes the pending atom.
void RegexParser::set_pending_atom(re_elem_ptr atom) {
  pending_ = std::move(atom);
  pending_height_ = 1;
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

bool RegexParser::step(size_t& i) {
  const unsigned char c = static_cast<unsigned char>(s_[i]);
  if (!printable_byte(c)) {
    *err_ = str_fmt(kInvalidCharCode, static_cast<unsigned>(c), static_cast<int>(i));
    return false;
  }
  switch (c) {
    case '$':
      return flush(i) && anchor_end(*seq_, *err_, i);
    case '(':
      return open_group(i);
    case '|':
      return next_alternative(i);
    case ')':
      return close_group(i);
    case '*':
    case '+':
    case '?':
      return short_repetition(static_cast<char>(c), i);
    case kBoundOpen:
      if (i + 1 < s_.size() && is_digit(s_[i + 1])) return bounded_repetition(i);
      return literal_byte(kBoundOpen, i);
    case '.':
      if (!flush(i)) return false;
      set_pending_atom(re_elem_any_byte());
      return true;
    case '[':
      return bracket(i);
    case '^':
      return flush(i) && anchor_start(*seq_, *err_, i);
    case '\\':
      return escaped_byte(i);
    default:
      return literal_byte(static_cast<char>(c), i);
  }
}

// '(' saves the enclosing group and alternative and starts a new level.
bool RegexParser::open_group(size_t pos) {
  if (!flush(pos)) return false;
  if (stack_.size() >= kMaxNesting) {
    *err_ = str_fmt(kTooDeep, static_cast<int>(pos));
    return false;
  }
  stack_.push_back(
      Level{std::move(group_), std::move(seq_), group_height_, seq_height_, last_child_height_});
  start_level();
  return true;
}

bool RegexParser::next_alternative(size_t pos) {
  if (pending_ && !flush(pos)) return false;
  close_alternative();
  seq_ = re_elem_init(re_elem_sequence);
  seq_height_ = last_child_height_ = 0;
  return true;
}

// ')' turns the finished group into the pending atom of the level it was opened in.
bool RegexParser::close_group(size_t pos) {
  if (pending_ && !flush(pos)) return false;
  if (stack_.empty()) {
    *err_ = str_fmt(kUnmatchedParen, static_cast<int>(pos));
    return false;
  }
  close_alternative();
  pending_ = std::move(group_);
  pending_height_ = group_height_ + 1;
  Level& up = stack_.back();
  group_ = std::move(up.group);
  seq_ = std::move(up.seq);
  group_height_ = up.group_height;
  seq_height_ = up.seq_height;
  last_child_height_ = up.last_child_height;
  stack_.pop_back();
  return !too_deep(pending_height_, pos);
}

bool RegexParser::short_repetition(char op, size_t pos) {
  if (!repetition(op, pos)) return false;
  pending_->min_repeat = op == '+' ? 1 : 0;
  pending_->max_repeat = op == '?' ? 1 : REPEAT_MAX;
  return flush(pos);
}

bool RegexParser::bounded_repetition(size_t& i) {
  return repetition(kBoundOpen, i) && read_bound(i) && flush(i);
}

bool RegexParser::bracket(size_t& i) {
  if (!flush(i)) return false;
  re_elem_ptr cls;
  if (!class_parse(s_, i, cls, '^', *err_)) return false;
  set_pending_atom(std::move(cls));
  return true;
}

// A backslash and the byte it escapes, which then stands for itself.
bool RegexParser::escaped_byte(size_t& i) {
  if (i + 1 >= s_.size()) {
    *err_ = kTrailingBackslash;
    return false;
  }
  const unsigned char x = static_cast<unsigned char>(s_[i + 1]);
  if (!printable_byte(x)) {
    *err_ = str_fmt(kInvalidCharCode, static_cast<unsigned>(x), static_cast<int>(i) + 1);
    return false;
  }
  if (!regex_escapable(static_cast<char>(x))) {
    *err_ = str_fmt(kInvalidEscape, x, static_cast<int>(i));
    return false;
  }
  ++i;
  return literal_byte(static_cast<char>(x), i);
}

// A literal byte joins the pending literal, or starts one.
bool RegexParser::literal_byte(char c, size_t pos) {
  if (!pending_ || !pending_->is_literal()) {
    if (!flush(pos)) return false;
    set_pending_atom(re_elem_init(re_elem_literal));
  }
  pending_->text.push_back(c);
  return true;
}

// The end of the text closes the outermost group; unclosed parentheses are an error.
re_elem_ptr RegexParser::finish() {
  const size_t n = s_.size();
  if (pending_ && !flush(n - 1)) return nullptr;
  group_add(*group_, seq_);
  group_simplify(group_);
  if (!stack_.empty()) {
    *err_ = kPrematureEnd;
    return nullptr;
  }
  // What the tree can be rendered as is what counts: no more nested groups than the
  // parser accepts parentheses.
  if (group_depth(*group_) > kMaxNesting) {
    *err_ = str_fmt(kTooDeep, static_cast<int>(n > 0 ? n - 1 : 0));
    return nullptr;
  }
  return std::move(group_);
}

re_elem_ptr RegexParser::parse(std::string& err) {
  err_ = &err;
  start_level();
  for (size_t i = 0; i < s_.size(); ++i)
    if (!step(i)) return nullptr;
  return finish();
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
