// Deriving the name subtree of a pattern; see name_subtree.h.
#include "pattern/name_subtree.h"

#include <cctype>
#include <string_view>

#include "pattern/re_elem.h"

namespace quarn {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool ends_with_dot(const re_elem& e) {
  return e.is_literal() && e.min_repeat >= 1 && !e.text.empty() && e.text.back() == '.';
}

// What an element standing just before the final literal guarantees about the byte
// before it: every match of the element ends with '.' (returns true, *at_start
// untouched), or some alternatives are empty and anchored at the start of the text
// (returns true with *at_start set: the literal is then the whole text). False when
// neither is certain.
bool boundary_before(const re_elem& e, bool* at_start) {
  if (ends_with_dot(e)) return true;
  if (!e.is_group() || !e.repeats_once() || e.any_anchor()) return false;
  for (const re_elem_ptr& alt : e.children) {
    if (ends_with_dot(*alt)) continue;
    if (!alt->is_sequence() || alt->end_anchor) return false;
    if (alt->children.empty()) {
      if (!alt->start_anchor) return false;  // an empty match with anything before it
      *at_start = true;
      continue;
    }
    if (!ends_with_dot(*alt->children.back())) return false;
  }
  return true;
}

// True when the element matches any run of the bytes a name can be spelled with
// (letters of either case, digits, '.', '-', '_', '^'), the empty run too.
bool any_name_run(const re_elem& e) {
  if (!e.is_class() || e.min_repeat != 0 || e.max_repeat != REPEAT_MAX || e.any_anchor())
    return false;
  for (int c = 0; c < 256; ++c)
    if ((std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == '^') && !e.bits.test(c))
      return false;
  return true;
}

bool is_dot(const re_elem& e) {
  if (e.is_sequence() && e.children.size() == 1 && !e.any_anchor()) return is_dot(*e.children[0]);
  return e.is_literal() && e.repeats_once() && !e.any_anchor() && e.text == ".";
}

// True when the element is a group of "." and an empty start-anchored alternative only:
// "(^|\.)", the label boundary itself.
bool is_boundary(const re_elem& e) {
  if (!e.is_group() || !e.repeats_once() || e.any_anchor()) return false;
  for (const re_elem_ptr& alt : e.children) {
    const bool empty_start = alt->is_sequence() && alt->children.empty() &&
                             alt->start_anchor && !alt->end_anchor;
    if (!empty_start && !is_dot(*alt)) return false;
  }
  return true;
}

// The subtree of one end-anchored alternative (a sequence, or an element standing for
// a one-child sequence with its own anchors).
bool alternative_subtree(const re_elem& alt, name_subtree* out) {
  if (!alt.end_anchor) return false;
  const bool is_seq = alt.is_sequence();
  const size_t n = is_seq ? alt.children.size() : 1;
  if (n == 0) return false;
  const re_elem& last = is_seq ? *alt.children.back() : alt;
  if (!last.is_literal() || !last.repeats_once() || last.text.empty()) return false;
  const std::string w = lower(last.text);
  if (w.find(' ') != std::string::npos) return false;
  if (n == 1 && alt.start_anchor) {  // the whole name
    *out = name_subtree{w, true, false};
    return true;
  }
  bool at_start = false;
  if (n >= 2 && boundary_before(*alt.children[n - 2], &at_start)) {
    // (^|\.)root$: nothing else before the boundary.
    const bool exact = n == 2 && !alt.start_anchor && is_boundary(*alt.children[0]);
    *out = name_subtree{w, at_start, exact};
    return true;
  }
  // A dot inside the literal is a label boundary of its own.
  const size_t dot = w.find('.');
  if (dot == std::string::npos || dot + 1 >= w.size()) return false;
  // \.root$ unanchored, or after a run of any name bytes: every descendant matches.
  const bool exact = dot == 0 && ((n == 1 && !alt.start_anchor) ||
                                  (n == 2 && any_name_run(*alt.children[0])));
  *out = name_subtree{w.substr(dot + 1), false, exact};
  return true;
}

// True when `outer` is `inner` or ends with "." + inner: a name in outer's subtree is
// in inner's.
bool label_suffix(std::string_view outer, std::string_view inner) {
  if (outer.size() < inner.size() || outer.substr(outer.size() - inner.size()) != inner)
    return false;
  return outer.size() == inner.size() || outer[outer.size() - inner.size() - 1] == '.';
}

// The least subtree holding both: the longer root's subtree sits below the shorter one
// when it is a label suffix of it; otherwise both sit strictly below their common
// trailing labels.
bool join(const name_subtree& a, const name_subtree& b, name_subtree* out) {
  if (a.root == b.root) {
    *out = name_subtree{a.root, a.include_root || b.include_root, false};
    return true;
  }
  if (label_suffix(a.root, b.root)) {
    *out = b;
    return true;
  }
  if (label_suffix(b.root, a.root)) {
    *out = a;
    return true;
  }
  // Longest common run of whole trailing labels (each side is longer than it).
  size_t i = a.root.size(), j = b.root.size(), cut = std::string::npos;
  while (i > 0 && j > 0 && a.root[i - 1] == b.root[j - 1]) {
    --i;
    --j;
    if (a.root[i] == '.') cut = i;
  }
  if (cut == std::string::npos || cut + 1 >= a.root.size()) return false;
  *out = name_subtree{a.root.substr(cut + 1), false, false};
  return true;
}

}  // namespace

bool required_name_subtree(const re_elem& tree, name_subtree* out) {
  name_subtree result;
  if (!tree.is_group()) {
    if (!alternative_subtree(tree, &result)) return false;
  } else {
    if (!tree.repeats_once() || tree.any_anchor() || tree.children.empty()) return false;
    for (size_t k = 0; k < tree.children.size(); ++k) {
      name_subtree one;
      if (!alternative_subtree(*tree.children[k], &one)) return false;
      if (k == 0) {
        result = one;
      } else if (!join(result, one, &result)) {
        return false;
      }
      result.exact = false;  // a join's subtree holds names no alternative matches
    }
  }
  *out = std::move(result);
  return true;
}

}  // namespace quarn
