// Construction and canonical-form building of the pattern tree.
#include "pattern/re_elem.h"

#include <utility>

#include "common/check.h"
#include "common/strfmt.h"
#include "pattern/parse.h"

namespace quarn {

re_elem_ptr re_elem_init(re_elem_type type) {
  auto e = std::make_unique<re_elem>();
  e->type = type;
  return e;
}

re_elem_ptr re_elem_literal_of(std::string text) {
  auto e = re_elem_init(re_elem_literal);
  e->text = std::move(text);
  return e;
}

re_elem_ptr re_elem_class_of(const class_set& bits) {
  auto e = re_elem_init(re_elem_class);
  e->bits = bits;
  return e;
}

re_elem_ptr re_elem_any_byte() {
  auto e = re_elem_init(re_elem_class);
  e->bits.set();
  return e;
}

re_elem_ptr re_elem_clone(const re_elem& e) {
  auto c = std::make_unique<re_elem>();
  c->type = e.type;
  c->start_anchor = e.start_anchor;
  c->end_anchor = e.end_anchor;
  c->min_repeat = e.min_repeat;
  c->max_repeat = e.max_repeat;
  c->text = e.text;
  c->bits = e.bits;
  c->children.reserve(e.children.size());
  for (const auto& child : e.children) c->children.push_back(re_elem_clone(*child));
  return c;
}

bool re_elem_equal(const re_elem& a, const re_elem& b) {
  if (a.type != b.type || a.start_anchor != b.start_anchor || a.end_anchor != b.end_anchor ||
      a.min_repeat != b.min_repeat || a.max_repeat != b.max_repeat ||
      a.children.size() != b.children.size()) {
    return false;
  }
  if (a.is_literal() && a.text != b.text) return false;
  if (a.is_class() && a.bits != b.bits) return false;
  for (size_t i = 0; i < a.children.size(); ++i) {
    if (!re_elem_equal(*a.children[i], *b.children[i])) return false;
  }
  return true;
}

void seq_fold(re_elem_ptr& elem) {
  if (!elem || !elem->is_sequence() || elem->children.size() != 1) return;
  re_elem_ptr child = std::move(elem->children[0]);
  child->start_anchor = elem->start_anchor;
  child->end_anchor = elem->end_anchor;
  elem = std::move(child);
}

bool anchor_start(re_elem& seq, std::string& err, size_t pos) {
  QUARN_CHECK(seq.type == re_elem_sequence);
  if (seq.start_anchor) {
    err = str_fmt(reparse_error::kDuplicateStart, static_cast<int>(pos));
    return false;
  }
  if (!seq.children.empty()) {
    err = str_fmt(reparse_error::kMisplacedStart, static_cast<int>(pos));
    return false;
  }
  seq.start_anchor = true;
  return true;
}

bool anchor_end(re_elem& seq, std::string& err, size_t pos) {
  QUARN_CHECK(seq.type == re_elem_sequence);
  if (seq.end_anchor) {
    err = str_fmt(reparse_error::kDuplicateEnd, static_cast<int>(pos));
    return false;
  }
  seq.end_anchor = true;
  return true;
}

namespace {

bool is_empty_alternative(const re_elem& e) {
  return e.is_sequence() && e.children.empty() && !e.any_anchor();
}

// Replaces a one-alternative group by its alternative where that keeps the meaning.
void dissolve_single_alternative(re_elem_ptr& group) {
  re_elem& alt = *group->children[0];
  if (!group->repeats_once()) {
    // The group's repetition can only move onto an alternative that does not repeat on
    // its own and that repeats as one unit: a single byte or a class. An anchor inside a
    // repeated or optional group must stay inside it, or the anchor would become
    // mandatory for the whole match.
    if (!alt.repeats_once() || alt.is_sequence() || alt.is_group() || alt.any_anchor()) return;
    if (alt.is_literal() && alt.text.size() != 1) return;
    alt.min_repeat = group->min_repeat;
    alt.max_repeat = group->max_repeat;
  }
  // A group repeating exactly once leaves the alternative's own repetition alone: (a*)
  // is a*, not a.
  if (group->start_anchor) alt.start_anchor = true;
  if (group->end_anchor) alt.end_anchor = true;
  re_elem_ptr keep = std::move(group->children[0]);
  group = std::move(keep);
}

// Appends a literal to a sequence, merging it into a trailing literal when both repeat
// exactly once so that no two such literals are ever adjacent.
void append_literal(re_elem& seq, re_elem_ptr& lit) {
  if (lit->repeats_once() && !seq.children.empty()) {
    re_elem& last = *seq.children.back();
    if (last.is_literal() && last.repeats_once()) {
      last.text += lit->text;
      lit.reset();
      return;
    }
  }
  seq.children.push_back(std::move(lit));
}

// One-member classes of bytes 0..254 are stored as literals; byte 255 stays a class.
void class_to_literal(re_elem_ptr& elem) {
  if (!elem->is_class() || elem->bits.count() != 1) return;
  for (unsigned v = 0; v < 255; ++v) {
    if (!elem->bits.test(v)) continue;
    auto lit = re_elem_literal_of(std::string(1, static_cast<char>(v)));
    lit->min_repeat = elem->min_repeat;
    lit->max_repeat = elem->max_repeat;
    elem = std::move(lit);
    return;
  }
}

void append_canonical(re_elem& seq, re_elem_ptr& elem) {
  class_to_literal(elem);
  if (elem->is_literal()) {
    append_literal(seq, elem);
  } else {
    seq.children.push_back(std::move(elem));
  }
}

}  // namespace

void group_simplify(re_elem_ptr& elem) {
  if (!elem || !elem->is_group()) return;
  const size_t n = elem->children.size();
  QUARN_CHECK(n > 0);
  if (n > 2) return;
  size_t empty = n;
  for (size_t i = 0; i < n; ++i) {
    if (is_empty_alternative(*elem->children[i])) {
      empty = i;
      break;
    }
  }
  if (empty < n) {
    if (n == 1) {
      auto seq = re_elem_init(re_elem_sequence);
      seq->start_anchor = elem->start_anchor;
      seq->end_anchor = elem->end_anchor;
      elem = std::move(seq);
      return;
    }
    // (ab|) is an optional ab.
    elem->min_repeat = 0;
    elem->children.erase(elem->children.begin() + static_cast<std::ptrdiff_t>(empty));
    // The group now has one alternative and may dissolve like any other: (a|) is a?.
  } else if (n == 2) {
    return;
  }
  dissolve_single_alternative(elem);
}

bool sequence_add(re_elem& seq, re_elem_ptr& elem, std::string& err, size_t pos) {
  QUARN_CHECK(seq.type == re_elem_sequence);
  if (seq.end_anchor) {
    err = str_fmt(reparse_error::kAfterEnd, static_cast<int>(pos));
    return false;
  }
  if (!elem) return true;
  group_simplify(elem);
  if (elem->start_anchor) {
    elem->start_anchor = false;
    if (!anchor_start(seq, err, pos)) return false;
  }
  if (elem->end_anchor) {
    elem->end_anchor = false;
    if (!anchor_end(seq, err, pos)) return false;
  }
  if (elem->is_sequence()) {
    // Splice the children in; the first may merge with our trailing literal, which keeps
    // the no-adjacent-literals rule true across the seam.
    re_elem_ptr shell = std::move(elem);
    for (auto& child : shell->children) append_canonical(seq, child);
    return true;
  }
  append_canonical(seq, elem);
  return true;
}

void group_add(re_elem& group, re_elem_ptr& seq) {
  QUARN_CHECK(group.type == re_elem_group);
  QUARN_CHECK(seq && seq->type == re_elem_sequence);
  seq_fold(seq);
  if (seq->is_sequence() && seq->children.empty()) {
    for (const auto& alt : group.children) {
      if (alt->is_sequence() && alt->children.empty() &&
          alt->start_anchor == seq->start_anchor && alt->end_anchor == seq->end_anchor) {
        seq.reset();
        return;
      }
    }
  }
  group.children.push_back(std::move(seq));
}

bool rep_start(re_elem& seq, re_elem_ptr& pending, char op, std::string& err, size_t pos) {
  QUARN_CHECK(seq.type == re_elem_sequence);
  if (!pending) {
    if (seq.children.empty()) {
      err = str_fmt(reparse_error::kNothingToRepeat, op, static_cast<int>(pos));
      return false;
    }
    // The previous operator already placed its atom: repeat that repeated atom as a
    // whole by wrapping it in a group (a** is (a*)*).
    re_elem_ptr last = std::move(seq.children.back());
    seq.children.pop_back();
    auto inner = re_elem_init(re_elem_sequence);
    inner->children.push_back(std::move(last));
    auto group = re_elem_init(re_elem_group);
    group_add(*group, inner);
    pending = std::move(group);
    return true;
  }
  switch (pending->type) {
    case re_elem_group:
    case re_elem_class:
      return true;
    case re_elem_literal: {
      const size_t len = pending->text.size();
      QUARN_CHECK(len > 0);
      if (len == 1) return true;
      // Only the last character of a run of literal bytes is repeated: abc* is ab c*.
      auto last = re_elem_literal_of(std::string(1, pending->text[len - 1]));
      pending->text.resize(len - 1);
      if (!sequence_add(seq, pending, err, pos)) return false;
      pending = std::move(last);
      return true;
    }
    default:
      err = str_fmt(reparse_error::kNothingToRepeat, op, static_cast<int>(pos));
      return false;
  }
}

}  // namespace quarn
