#include "planner/fixup.h"

#include <algorithm>
#include <vector>

#include "common/check.h"
#include "common/log.h"
#include "planner/decompose.h"
#include "planner/messages.h"

namespace quarn {

namespace {

// Classes wider than this are not worth expanding: they become one unknown byte.
constexpr size_t kWideClass = 30;
// Copies of a repeated element kept at each end of its run.
constexpr uint32_t kKeptCopies = 3;

// Folds a class into the trigram alphabet: upper-case letters become lower case and
// bytes outside the alphabet become '@'; '^' keeps its own symbol.
void fold_class(re_elem& k) {
  if (is_full_class(k)) return;
  class_set folded;
  for (int c = 0; c < 256; ++c)
    if (k.bits.test(c))
      folded.set(static_cast<unsigned char>(alphabet_char(static_cast<unsigned char>(c))));
  k.bits = folded;
}

re_elem_ptr class_copy(const re_elem& k, uint32_t repeat, bool start, bool end) {
  re_elem_ptr c = re_elem_class_of(k.bits);
  c->min_repeat = c->max_repeat = repeat;
  c->start_anchor = start;
  c->end_anchor = end;
  return c;
}

re_elem_ptr new_sequence() { return re_elem_init(re_elem_sequence); }

// A group whose alternatives are single plain literals, whatever the group's own repeat.
bool is_literal_group_ignoring_repeat(const re_elem& g) {
  if (!g.is_group()) return false;
  for (const auto& alt : g.children)
    if (!alt->is_literal() || !alt->repeats_once()) return false;
  return true;
}

// A repeated element whose run is not exactly one concrete string: what the text holds
// for certain is the element's first copies at the start of the run and its last copies
// at the end, with anything between (possibly overlapping: trigram conditions are read
// one window at a time, so an overlap never demands more than the text holds).
// Gives nullptr when x needs no rewrite.
re_elem_ptr resolve_repeat(re_elem& x) {
  if (x.min_repeat == 0 || x.repeats_once()) return nullptr;
  const bool exact = x.min_repeat == x.max_repeat;
  if (x.is_literal()) {
    const size_t unit = x.text.size();
    if (unit == 0) {
      x.min_repeat = x.max_repeat = 1;
      return nullptr;
    }
    if (exact && unit * x.min_repeat + 4 <= kJoinLimit) {
      std::string run;
      for (uint32_t i = 0; i < x.min_repeat; ++i) run += x.text;
      x.text = std::move(run);
      x.min_repeat = x.max_repeat = 1;
      return nullptr;
    }
    // Fewest copies that reach three characters, never more than the run must hold.
    uint32_t k = 1;
    while (unit * k < 3 && k < x.min_repeat) ++k;
    std::string copies;
    for (uint32_t i = 0; i < k; ++i) copies += x.text;
    re_elem_ptr seq = new_sequence();
    seq->children.push_back(re_elem_literal_of(copies));
    seq->children.back()->start_anchor = x.start_anchor;
    seq->children.push_back(new_match_all_gap(false, false));
    seq->children.push_back(re_elem_literal_of(copies));
    seq->children.back()->end_anchor = x.end_anchor;
    return seq;
  }
  if (x.is_group() || x.is_sequence()) {
    re_elem_ptr seq = new_sequence();
    if (!is_literal_group_ignoring_repeat(x)) {
      // Only the first copy, then anything: copying a nested group at every level
      // would grow the tree exponentially with the nesting depth.
      re_elem_ptr first = re_elem_init(x.type);
      first->children = std::move(x.children);
      first->start_anchor = x.start_anchor;
      seq->children.push_back(std::move(first));
      seq->children.push_back(new_match_all_gap(false, false));
      seq->children.back()->end_anchor = x.end_anchor;
      return seq;
    }
    // A group of plain strings is a leaf: copying it costs only its own size.
    const uint32_t copies = exact && x.min_repeat <= kKeptCopies ? x.min_repeat : 2;
    const bool whole = exact && x.min_repeat <= kKeptCopies;
    for (uint32_t i = 0; i < copies; ++i) {
      re_elem_ptr c = re_elem_clone(x);
      c->min_repeat = c->max_repeat = 1;
      c->start_anchor = i == 0 && x.start_anchor;
      c->end_anchor = i + 1 == copies && x.end_anchor;
      if (!whole && i == 1) seq->children.push_back(new_match_all_gap(false, false));
      seq->children.push_back(std::move(c));
    }
    return seq;
  }
  if (x.is_class() && !is_full_class(x) && (!exact || x.min_repeat > kClassPowerLength)) {
    // First and last copies of the run, each short enough to expand later.
    const uint32_t b = std::min(x.min_repeat, kKeptCopies);
    uint32_t a = b;
    const uint64_t p = class_members(x);
    if (a >= 2 && p * p > kExtensionLimit)
      a = 1;
    else if (a == 3 && p * p * p > kExtensionLimit)
      a = 2;
    re_elem_ptr seq = new_sequence();
    seq->children.push_back(class_copy(x, a, x.start_anchor, false));
    seq->children.push_back(new_match_all_gap(false, false));
    seq->children.push_back(class_copy(x, b, false, x.end_anchor));
    return seq;
  }
  return nullptr;
}

void hoist_single_child(re_elem_ptr& x) {
  while ((x->is_sequence() || x->is_group()) && x->children.size() == 1) {
    re_elem_ptr y = std::move(x->children[0]);
    y->min_repeat = repeat_product(x->min_repeat, y->min_repeat);
    y->max_repeat = repeat_product(x->max_repeat, y->max_repeat);
    if (x->start_anchor) y->start_anchor = true;
    if (x->end_anchor) y->end_anchor = true;
    x = std::move(y);
  }
}

// Pushes anchors of nested sequences onto their edge children and joins a literal with
// an adjacent literal group when both repeat exactly once.
void prepare_anchors(re_elem& s) {
  if (!s.is_sequence() || s.children.empty()) return;
  size_t i = s.children.size();
  while (i-- > 0) {
    if (i >= s.children.size()) continue;
    re_elem& child = *s.children[i];
    if (i == 0 && s.start_anchor) child.start_anchor = true;
    if (i + 1 == s.children.size() && s.end_anchor) child.end_anchor = true;
    if (child.is_sequence()) {
      prepare_anchors(child);
      continue;
    }
    if (i == 0) continue;
    re_elem& w = *s.children[i - 1];
    if (!w.repeats_once() || !child.repeats_once()) continue;
    re_elem_ptr joined;
    if (w.is_literal() && is_literal_group(child))
      joined = literal_join_group(w, child, true);
    else if (is_literal_group(w) && child.is_literal())
      joined = literal_join_group(child, w, false);
    if (joined) {
      // The walk goes on at i - 1, where the new group may join the literal before it.
      splice_children(s.children, i - 1, 2, std::move(joined), false);
    }
  }
}

// Folds classes into the trigram alphabet, hoists single children, turns optional
// elements into gaps and resolves repeats into concrete copies.
void normalize_tree(re_elem_ptr& ep) {
  re_elem& e = *ep;
  if (e.min_repeat == 0) {
    make_match_all_gap(e);
    return;
  }
  if (e.is_class()) {
    fold_class(e);
    return;
  }
  if (e.is_literal() || e.children.empty()) return;
  if (e.is_sequence()) {
    if (e.start_anchor) e.children.front()->start_anchor = true;
    if (e.end_anchor) e.children.back()->end_anchor = true;
  }
  for (size_t i = 0; i < e.children.size(); ++i) {
    re_elem_ptr& x = e.children[i];
    hoist_single_child(x);
    if (x->min_repeat == 0) {
      normalize_tree(x);
      continue;
    }
    if (re_elem_ptr run = resolve_repeat(*x)) {
      if (e.is_sequence()) {
        // The copies take x's place and are visited in turn.
        splice_children(e.children, i, 1, std::move(run), true);
        --i;
        continue;
      }
      x = std::move(run);
    }
    if (x->is_sequence() && x->children.empty()) {
      re_elem_ptr lit = re_elem_literal_of("");
      lit->min_repeat = x->min_repeat;
      lit->max_repeat = x->max_repeat;
      lit->start_anchor = x->start_anchor;
      lit->end_anchor = x->end_anchor;
      x = std::move(lit);
      continue;
    }
    normalize_tree(x);
    if (x->is_class() && class_members(*x) > kWideClass) x->bits.set();
  }
}

// Fixup of one child inside the walk; a new sequence standing in a sequence is spliced
// so that its pieces can join their new neighbours. Gives the number of elements spliced
// in (0 when the child kept its place, changed or not); a failure leaves the child.
size_t fixup_child(re_elem& e, size_t i) {
  re_elem* before = e.children[i].get();
  re_elem_ptr& x = e.children[i];
  if (!fixup_tree(x, &e)) return 0;
  if (x.get() != before && e.is_sequence() && x->is_sequence() && !x->children.empty()) {
    size_t n = x->children.size();
    splice_children(e.children, i, 1, std::move(x), true);
    return n;
  }
  return 0;
}

// One child of the walk with its neighbours, as the rules see it.
struct walk_child {
  re_elem& e;  // the parent being walked
  std::vector<re_elem_ptr>& v;
  size_t i;
  re_elem* x;
  re_elem* w;  // the child before, or null
  re_elem* z;  // the child after, or null
  bool x_lit;  // a literal that repeats once
  bool x_group;
};

bool plain_literal(const re_elem* e) { return e && e->is_literal() && e->repeats_once(); }
bool literal_group(const re_elem* e) { return e && is_literal_group(*e); }
// A class small enough to be expanded into the strings beside it.
bool expandable_class(const re_elem* e) {
  return e && e->is_class() && !is_full_class(*e) && !class_too_wide(*e);
}

walk_child child_at(re_elem& e, size_t i) {
  auto& v = e.children;
  re_elem* x = v[i].get();
  return walk_child{e, v, i, x, i > 0 ? v[i - 1].get() : nullptr,
                    i + 1 < v.size() ? v[i + 1].get() : nullptr, plain_literal(x),
                    is_literal_group(*x)};
}

// What a rule did with the child: nothing (the next rule is asked), or the walk resumes
// at `next`, or the fixup failed.
struct rule_step {
  enum kind_t { not_applied, resume, failed } kind;
  size_t next;
};
constexpr rule_step kNotApplied{rule_step::not_applied, 0};
constexpr rule_step kFailed{rule_step::failed, 0};
rule_step resume_at(size_t next) { return {rule_step::resume, next}; }

// Replaces `count` children from `at` with `joined` and resumes at `at`, where the new
// element may join its new neighbour; a failed join fails the fixup.
rule_step replace_and_resume(const walk_child& c, size_t at, size_t count, re_elem_ptr joined) {
  if (!joined) return kFailed;
  splice_children(c.v, at, count, std::move(joined), false);
  return resume_at(at);
}

// A class too wide to expand would multiply strings for nothing: it stays as it is.
rule_step keep_wide_class(const walk_child& c) {
  return c.x->is_class() && class_too_wide(*c.x) ? resume_at(c.i + 1) : kNotApplied;
}

// Two adjacent single-byte classes become the byte pairs they allow, which later
// rules can join with literals.
rule_step cross_adjacent_classes(const walk_child& c) {
  if (!c.e.is_sequence() || !c.x->is_class() || !c.w || !c.w->is_class() ||
      !c.x->repeats_once() || !c.w->repeats_once())
    return kNotApplied;
  re_elem_ptr pairs = class_cross(*c.w, *c.x);
  if (!pairs) return kNotApplied;
  return replace_and_resume(c, c.i - 1, 2, std::move(pairs));
}

// An element no join applies to is fixed up on its own; pieces spliced in
// are looked at again.
rule_step fixup_on_its_own(const walk_child& c) {
  return resume_at(fixup_child(c.e, c.i) == 0 ? c.i + 1 : c.i);
}

// Only plain literals and literal groups take part in joins.
rule_step fixup_unjoinable(const walk_child& c) {
  return !c.x_lit && !c.x_group ? fixup_on_its_own(c) : kNotApplied;
}

// Alternatives of a group are never joined with each other: they are not adjacent
// in any text.
rule_step keep_alternatives_apart(const walk_child& c) {
  return c.e.is_group() ? resume_at(c.i + 1) : kNotApplied;
}

// A literal too short for trigrams of its own gains them from a group's strings, and a
// group with a short alternative gains them from the literal.
bool worth_joining(const walk_child& c, const re_elem& group) {
  const bool short_plain = c.x->text.size() <= 2 && !c.x->any_anchor();
  return short_plain || shortest_alternative(group) < 3;
}

// A literal joins the literal group before it.
rule_step join_literal_into_group_before(const walk_child& c) {
  if (!c.x_lit || !literal_group(c.w) || !worth_joining(c, *c.w)) return kNotApplied;
  return replace_and_resume(c, c.i - 1, 2, literal_join_group(*c.x, *c.w, false));
}

// ... or the literal group after it.
rule_step join_literal_into_group_after(const walk_child& c) {
  if (!c.x_lit || !literal_group(c.z) || !worth_joining(c, *c.z)) return kNotApplied;
  return replace_and_resume(c, c.i, 2, literal_join_group(*c.x, *c.z, true));
}

// A literal group with a short alternative takes in the literal after it, or else the
// one before it, or else crosses with the literal group after (or before) it, so that
// its alternatives reach three characters.
rule_step short_group_takes_in_neighbour(const walk_child& c) {
  if (!c.x_group || shortest_alternative(*c.x) >= 3) return kNotApplied;
  if (plain_literal(c.z))
    return replace_and_resume(c, c.i, 2, literal_join_group(*c.z, *c.x, false));
  if (plain_literal(c.w))
    return replace_and_resume(c, c.i - 1, 2, literal_join_group(*c.w, *c.x, true));
  if (literal_group(c.z)) {
    re_elem_ptr crossed = group_cross(*c.x, *c.z);
    return crossed ? replace_and_resume(c, c.i, 2, std::move(crossed)) : kNotApplied;
  }
  if (literal_group(c.w)) {
    re_elem_ptr crossed = group_cross(*c.w, *c.x);
    return crossed ? replace_and_resume(c, c.i - 1, 2, std::move(crossed)) : kNotApplied;
  }
  return kNotApplied;
}

// A small class before the element is expanded into it: the strings spelled together
// give trigrams that span the class byte.
rule_step expand_class_before(const walk_child& c) {
  if (!expandable_class(c.w)) return kNotApplied;
  re_elem_ptr ext = c.x_lit ? literal_extend_class(*c.x, *c.w, false, true)
                            : group_extend_class(*c.x, *c.w, false, false);
  if (ext) {
    splice_children(c.v, c.i - 1, 2, std::move(ext), false);
    // Look again two back so that the element before can join the new group.
    return resume_at(c.i >= 2 ? c.i - 2 : 0);
  }
  // A literal too long to extend simply keeps its own trigrams.
  if (!c.x_lit) make_match_all_gap(*c.w);
  return resume_at(c.i + 1);
}

// A small class after the element is expanded into it, for the same reason.
rule_step expand_class_after(const walk_child& c) {
  if (!expandable_class(c.z)) return kNotApplied;
  re_elem_ptr ext = literal_extend_class(*c.x, *c.z, true, false);
  if (!ext) return resume_at(c.i + 1);
  if (c.z->min_repeat < 2) {
    splice_children(c.v, c.i, 2, std::move(ext), false);
  } else {
    // The extension took the run's first byte; the rest of the run stays.
    c.z->min_repeat -= 1;
    if (c.z->max_repeat != REPEAT_MAX) c.z->max_repeat -= 1;
    c.z->start_anchor = false;
    splice_children(c.v, c.i, 1, std::move(ext), false);
  }
  return resume_at(c.i);
}

// The rules in the order they are asked; the first that applies decides the child, and
// an element none applies to is fixed up on its own. A plain chain rather than
// a table of rules, so that the cheap tests of each rule are inlined into the walk.
rule_step apply_rules(const walk_child& c) {
  rule_step s = keep_wide_class(c);
  if (s.kind == rule_step::not_applied) s = cross_adjacent_classes(c);
  if (s.kind == rule_step::not_applied) s = fixup_unjoinable(c);
  if (s.kind == rule_step::not_applied) s = keep_alternatives_apart(c);
  if (s.kind == rule_step::not_applied) s = join_literal_into_group_before(c);
  if (s.kind == rule_step::not_applied) s = join_literal_into_group_after(c);
  if (s.kind == rule_step::not_applied) s = short_group_takes_in_neighbour(c);
  if (s.kind == rule_step::not_applied) s = expand_class_before(c);
  if (s.kind == rule_step::not_applied) s = expand_class_after(c);
  if (s.kind == rule_step::not_applied) s = fixup_on_its_own(c);
  return s;
}

// Walks e's children left to right; rewrites splice new elements in and the walk
// resumes where the new element may join its neighbours.
bool walk_children(re_elem& e) {
  size_t i = 0;
  while (i < e.children.size()) {
    const rule_step s = apply_rules(child_at(e, i));
    if (s.kind == rule_step::failed) return false;
    i = s.next;
  }
  return true;
}

}  // namespace

bool fixup_tree(re_elem_ptr& ep, re_elem* parent) {
  if (!parent) {
    // The root is walked as the only child of a sequence, so that a repeated or anchored
    // root is resolved by the same rules as any child.
    re_elem_ptr holder = re_elem_init(re_elem_sequence);
    holder->children.push_back(std::move(ep));
    prepare_anchors(*holder);
    normalize_tree(holder);
    bool ok = fixup_tree(holder, holder.get());
    ep = std::move(holder);
    if (ep->is_sequence() && ep->children.size() == 1 && ep->repeats_once() && !ep->any_anchor()) {
      re_elem_ptr only = std::move(ep->children[0]);
      ep = std::move(only);
    }
    return ok;
  }
  re_elem& e = *ep;
  if (e.min_repeat >= 2 && e.max_repeat < REPEAT_MAX) {
    if (e.is_literal()) {
      // Repeated literals were unrolled by normalisation; one that reaches here is read
      // as its first copy only.
      return true;
    }
    if (e.is_class()) {
      if (e.min_repeat == e.max_repeat && e.min_repeat <= kClassPowerLength) {
        if (re_elem_ptr power = class_power(e)) {
          ep = std::move(power);
          return true;
        }
      }
      // Single copies: the whole run when it is short, else its first and last copies.
      const uint32_t n = std::min(e.min_repeat, kKeptCopies);
      const bool whole = e.min_repeat == e.max_repeat && e.min_repeat <= kKeptCopies;
      re_elem_ptr seq = new_sequence();
      for (uint32_t i = 0; i < n; ++i)
        seq->children.push_back(class_copy(e, 1, i == 0 && e.start_anchor,
                                           whole && i + 1 == n && e.end_anchor));
      if (!whole) {
        seq->children.push_back(new_match_all_gap(false, false));
        for (uint32_t i = 0; i < n; ++i)
          seq->children.push_back(class_copy(e, 1, false, i + 1 == n && e.end_anchor));
      }
      ep = std::move(seq);
      return true;
    }
  }
  if (e.is_class() || e.is_literal()) return true;

  if (!walk_children(e)) return false;

  if (e.children.size() == 1 && ep.get() != parent) {
    re_elem_ptr k = std::move(e.children[0]);
    k->min_repeat = repeat_product(e.min_repeat, k->min_repeat);
    k->max_repeat = repeat_product(e.max_repeat, k->max_repeat);
    if (e.start_anchor) k->start_anchor = true;
    if (e.end_anchor) k->end_anchor = true;
    ep = std::move(k);
  }
  return true;
}

}  // namespace quarn
