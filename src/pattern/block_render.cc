// Block renderings of pattern trees and the every-key test; see block_render.h.
#include "pattern/block_render.h"

#include <utility>

#include "pattern/render.h"

namespace quarn {

namespace {

bool nullable(const re_elem& e) {
  if (e.min_repeat == 0 || e.max_repeat == 0) return true;
  switch (e.type) {
    case re_elem_literal:
      return e.text.empty();
    case re_elem_class:
      return false;
    case re_elem_sequence:
      for (const auto& c : e.children)
        if (!nullable(*c)) return false;
      return true;
    case re_elem_group:
      for (const auto& c : e.children)
        if (nullable(*c)) return true;
      return false;
  }
  return false;
}

bool anchor_below(const re_elem& e) {
  for (const auto& c : e.children)
    if (c->any_anchor() || anchor_below(*c)) return true;
  return false;
}

bool has_anchor(const re_elem& e) { return e.any_anchor() || anchor_below(e); }

bool end_anchor_within(const re_elem& e) {
  if (e.end_anchor) return true;
  for (const auto& c : e.children)
    if (end_anchor_within(*c)) return true;
  return false;
}

// Every byte but tab and line feed, the bytes a key may hold.
class_set key_bytes() {
  class_set s;
  s.set();
  s.reset('\t');
  s.reset('\n');
  return s;
}

// Matches every string of key bytes; `e` holds no anchors below it.
bool universal(const re_elem& e) {
  if (e.max_repeat == 0) return false;
  switch (e.type) {
    case re_elem_class:
      return e.min_repeat == 0 && e.max_repeat == REPEAT_MAX && (e.bits & key_bytes()) == key_bytes();
    case re_elem_sequence: {
      bool wide = false;
      for (const auto& c : e.children) {
        if (!nullable(*c)) return false;
        wide = wide || universal(*c);
      }
      return wide;
    }
    case re_elem_group:
      for (const auto& c : e.children)
        if (universal(*c)) return true;
      return false;
    case re_elem_literal:
      return false;
  }
  return false;
}

// True when no end anchor could be followed by more of a match: each one sits in tail
// position (last in every enclosing sequence, under groups that match at most once) and
// has no end anchor below it.
bool end_anchors_in_tail(const re_elem& e, bool tail) {
  if (e.end_anchor) {
    if (!tail) return false;
    for (const auto& c : e.children)
      if (end_anchor_within(*c)) return false;
    return true;
  }
  const bool repeats = e.max_repeat > 1;
  for (size_t i = 0; i < e.children.size(); ++i) {
    const bool last = i + 1 == e.children.size();
    const bool child_tail = tail && !repeats && (e.is_group() || last);
    if (!end_anchors_in_tail(*e.children[i], child_tail)) return false;
  }
  return true;
}

bool literals_fit_keys(const re_elem& e) {
  if (e.is_literal() && e.text.find_first_of("\t\n") != std::string::npos) return false;
  for (const auto& c : e.children)
    if (!literals_fit_keys(*c)) return false;
  return true;
}

// ^.*X and X.*$ pass the keys that X passes, and X alone is far cheaper for the engine
// to find in a block (globs such as *mail* render as ^.*mail.*$).
void trim_universal_ends(re_elem& root) {
  if (!root.is_sequence() || !root.repeats_once()) return;
  auto loose_star = [](const re_elem& e) { return !has_anchor(e) && universal(e); };
  if (root.end_anchor && root.children.size() > 1 && loose_star(*root.children.back())) {
    root.children.pop_back();
    root.end_anchor = false;
  }
  if (root.start_anchor && root.children.size() > 1 && loose_star(*root.children.front())) {
    root.children.erase(root.children.begin());
    root.start_anchor = false;
  }
}

// A key passes on any match inside it, so a trailing unanchored part that may match
// empty adds nothing, and a trailing repeat past its minimum only adds later end
// offsets of matches already found.
void trim_tail(re_elem& root) {
  if (root.end_anchor) return;
  if (root.is_sequence() && root.repeats_once()) {
    while (root.children.size() > 1) {
      re_elem& last = *root.children.back();
      if (has_anchor(last)) return;
      if (!nullable(last)) break;
      root.children.pop_back();
    }
    if (root.children.empty()) return;
    re_elem& last = *root.children.back();
    if (!has_anchor(last) && last.min_repeat >= 1) last.max_repeat = last.min_repeat;
    return;
  }
  if (!anchor_below(root) && root.min_repeat >= 1) root.max_repeat = root.min_repeat;
}

class_set case_closed(class_set s) {
  for (unsigned v = 'a'; v <= 'z'; ++v) {
    const unsigned upper = v - 'a' + 'A';
    if (s.test(v) || s.test(upper)) {
      s.set(v);
      s.set(upper);
    }
  }
  return s;
}

// The bytes a class matches under caseless matching, which depends on its rendering:
// the engine folds the case of the members it is given, so a class written negated
// leaves out both cases of every non-member.
class_set caseless_members(const re_elem& cls) {
  std::string text;
  re_elem_render(*re_elem_class_of(cls.bits), text);
  const bool negated = text.size() > 1 && text[0] == '[' && text[1] == '^';
  return negated ? ~case_closed(~cls.bits) : case_closed(cls.bits);
}

// Classes lose tab and line feed (keeping what they match caseless: the result is
// closed under case, so any rendering of it means the same); each end anchor becomes
// (\t|$) after its element.
void rewrite_for_block(re_elem_ptr& e) {
  for (auto& c : e->children) rewrite_for_block(c);
  if (e->is_class()) {
    e->bits = caseless_members(*e);
    e->bits.reset('\t');
    e->bits.reset('\n');
  }
  if (!e->end_anchor) return;
  e->end_anchor = false;
  auto key_end = re_elem_init(re_elem_group);
  key_end->children.push_back(re_elem_literal_of("\t"));
  auto line_end = re_elem_init(re_elem_sequence);
  line_end->end_anchor = true;
  key_end->children.push_back(std::move(line_end));
  if (e->is_sequence() && e->repeats_once()) {
    e->children.push_back(std::move(key_end));
    return;
  }
  auto wrap = re_elem_init(re_elem_sequence);
  wrap->start_anchor = std::exchange(e->start_anchor, false);
  wrap->children.push_back(std::move(e));
  wrap->children.push_back(std::move(key_end));
  e = std::move(wrap);
}

}  // namespace

bool matches_every_key(const re_elem& tree) {
  if (!anchor_below(tree)) {
    if (!(tree.start_anchor && tree.end_anchor)) return nullable(tree);
    return universal(tree);
  }
  if (tree.any_anchor()) return false;
  // Zero rounds of an unanchored group are an empty match at the start of any key.
  if (tree.min_repeat == 0) return true;
  if (!tree.is_group() || !tree.repeats_once()) return false;
  for (const auto& c : tree.children)
    if (matches_every_key(*c)) return true;
  return false;
}

bool block_render(const re_elem& tree, std::string* out) {
  if (!literals_fit_keys(tree) || !end_anchors_in_tail(tree, true)) return false;
  re_elem_ptr copy = re_elem_clone(tree);
  trim_universal_ends(*copy);
  trim_tail(*copy);
  rewrite_for_block(copy);
  out->clear();
  re_elem_render(*copy, *out);
  return true;
}

}  // namespace quarn
