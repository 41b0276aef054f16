#include "planner/decompose.h"

#include <algorithm>

#include "common/log.h"
#include "common/trigram.h"
#include "planner/messages.h"

namespace quarn {

namespace {

// Largest literal group a cross of two groups may build: the permutation reduction
// bounds the top-level sequence, but groups nested in alternatives are not reduced, so
// this keeps a crafted expression from expanding without bound.
constexpr size_t kCrossLimit = 8192;

re_elem_ptr new_group() { return re_elem_init(re_elem_group); }

// Joins read a literal or a group alternative as one concrete string; a repeated one
// stands for a run whose ends are not that string's ends, so joins refuse it.
bool joinable_literal(const re_elem& l) { return l.is_literal() && l.repeats_once(); }

bool joinable_group(const re_elem& g) {
  if (!g.is_group() || !g.repeats_once()) return false;
  for (const auto& alt : g.children)
    if (!joinable_literal(*alt)) return false;
  return true;
}

re_elem_ptr new_literal(std::string text, bool start, bool end) {
  re_elem_ptr l = re_elem_literal_of(std::move(text));
  l->start_anchor = start;
  l->end_anchor = end;
  return l;
}

// A joined string longer than the join buffer keeps its first kJoinLimit - 2 bytes: a
// prefix of a string the text holds is still held, but its end no longer touches the
// end of the text.
void cut_join(std::string& s, bool& end_anchor) {
  if (s.size() > kJoinLimit - 2) {
    s.resize(kJoinLimit - 2);
    end_anchor = false;
  }
}

}  // namespace

bool is_full_class(const re_elem& e) { return e.is_class() && e.bits.all(); }

bool is_match_all_gap(const re_elem& e) {
  return is_full_class(e) && e.min_repeat == 0 && e.max_repeat == REPEAT_MAX;
}

bool is_one_char_gap(const re_elem& e) { return is_full_class(e) && e.repeats_once(); }

bool is_literal_group(const re_elem& e) { return joinable_group(e); }

size_t class_members(const re_elem& e) { return e.bits.count(); }

char alphabet_char(unsigned char c) { return trigram_symbol_char(trigram_symbol(c)); }

void make_match_all_gap(re_elem& e) {
  e.type = re_elem_class;
  e.children.clear();
  e.text.clear();
  e.bits.set();
  e.min_repeat = 0;
  e.max_repeat = REPEAT_MAX;
}

re_elem_ptr new_match_all_gap(bool start_anchor, bool end_anchor) {
  re_elem_ptr g = re_elem_any_byte();
  g->min_repeat = 0;
  g->max_repeat = REPEAT_MAX;
  g->start_anchor = start_anchor;
  g->end_anchor = end_anchor;
  return g;
}

re_elem_ptr new_any_char() { return re_elem_any_byte(); }

uint32_t repeat_product(uint32_t a, uint32_t b) {
  uint64_t p = uint64_t{a} * b;
  return p > REPEAT_MAX ? REPEAT_MAX : static_cast<uint32_t>(p);
}

bool class_too_wide(const re_elem& k) {
  if (k.min_repeat == 0) return false;
  uint64_t size = class_members(k);
  uint64_t p = 1;
  for (uint32_t i = 0; i < k.min_repeat; ++i) {
    p *= size;
    if (p > kClassPowerLimit) return true;
    if (p == 0 || p == 1) break;  // 0 or 1 members: powers never grow
  }
  return p > kClassPowerLimit;
}

re_elem_ptr class_cross(const re_elem& a, const re_elem& b) {
  if (!a.is_class() || !b.is_class() || is_full_class(a) || is_full_class(b)) return nullptr;
  re_elem_ptr g = new_group();
  for (int x = 0; x < 256; ++x) {
    if (!a.bits.test(x)) continue;
    for (int y = 0; y < 256; ++y) {
      if (!b.bits.test(y)) continue;
      std::string s{alphabet_char(static_cast<unsigned char>(x)),
                    alphabet_char(static_cast<unsigned char>(y))};
      g->children.push_back(new_literal(std::move(s), false, false));
    }
  }
  g->start_anchor = a.start_anchor;
  g->end_anchor = b.end_anchor;
  return g;
}

re_elem_ptr class_power(const re_elem& k) {
  if (!k.is_class()) return nullptr;
  const uint32_t n = std::min(k.min_repeat, kClassPowerLength);
  if (n < 2) return nullptr;
  re_elem_ptr g = class_cross(k, k);
  if (!g) return nullptr;
  // The alternatives all have the same length; the group keeps growing until it is n.
  while (!g->children.empty() && g->children[0]->text.size() < n) {
    re_elem_ptr next = group_extend_class(*g, k, true, false);
    if (!next || !next->is_group()) return nullptr;
    g = std::move(next);
  }
  // When the strings span the whole run, they touch whatever the run touches.
  if (n == k.min_repeat && k.min_repeat == k.max_repeat) {
    g->start_anchor = k.start_anchor;
    g->end_anchor = k.end_anchor;
  }
  return g;
}

re_elem_ptr group_extend_class(const re_elem& g, const re_elem& k, bool append, bool force) {
  if (!joinable_group(g) || !k.is_class()) return nullptr;
  for (const auto& alt : g.children)
    if (alt->text.size() + 4 > kJoinLimit) return nullptr;
  const size_t size = class_members(k);
  const size_t count = size * g.children.size();
  if (!force && count > kExtensionLimit) {
    QLOG(LOG_DEBUG, planner_msg::kPermutationsExceeded, count,
         static_cast<unsigned>(kExtensionLimit));
    return nullptr;
  }
  // A repeated class does not end (or start) where its first byte does, so its anchor
  // only carries over when it stands for exactly one byte.
  const bool k_start = k.start_anchor && k.max_repeat == 1;
  const bool k_end = k.end_anchor && k.max_repeat == 1;
  re_elem_ptr out = new_group();
  out->children.reserve(count);
  for (const auto& alt : g.children) {
    for (int c = 0; c < 256; ++c) {
      if (!k.bits.test(c)) continue;
      std::string s = append ? alt->text + static_cast<char>(c)
                             : static_cast<char>(c) + alt->text;
      if (append)
        out->children.push_back(new_literal(std::move(s), alt->start_anchor, k_end));
      else
        out->children.push_back(new_literal(std::move(s), k_start, alt->end_anchor));
    }
  }
  out->start_anchor = append ? g.start_anchor : k_start;
  out->end_anchor = append ? k_end : g.end_anchor;
  return out;
}

re_elem_ptr literal_extend_class(const re_elem& l, const re_elem& k, bool append, bool force) {
  if (!joinable_literal(l) || !k.is_class()) return nullptr;
  size_t effective = l.text.size();
  if (l.any_anchor() || k.any_anchor()) effective += 2;
  if (!(force || effective >= 2) || l.text.size() + 4 > kJoinLimit) return nullptr;
  const bool k_start = k.start_anchor && k.max_repeat == 1;
  const bool k_end = k.end_anchor && k.max_repeat == 1;
  re_elem_ptr out = new_group();
  for (int c = 0; c < 256; ++c) {
    if (!k.bits.test(c)) continue;
    if (append)
      out->children.push_back(new_literal(l.text + static_cast<char>(c), l.start_anchor, k_end));
    else
      out->children.push_back(new_literal(static_cast<char>(c) + l.text, k_start, l.end_anchor));
  }
  return out;
}

re_elem_ptr literal_join_group(const re_elem& l, const re_elem& g, bool literal_first) {
  if (!joinable_literal(l) || !joinable_group(g)) return nullptr;
  re_elem_ptr out = new_group();
  for (const auto& alt : g.children) {
    bool start, end;
    std::string s;
    if (literal_first) {
      s = l.text + alt->text;
      start = l.start_anchor;
      end = alt->end_anchor || g.end_anchor;
    } else {
      s = alt->text + l.text;
      start = alt->start_anchor || g.start_anchor;
      end = l.end_anchor;
    }
    cut_join(s, end);
    out->children.push_back(new_literal(std::move(s), start, end));
  }
  return out;
}

re_elem_ptr group_cross(const re_elem& a, const re_elem& b) {
  if (!joinable_group(a) || !joinable_group(b)) return nullptr;
  if (a.children.size() * b.children.size() > kCrossLimit) return nullptr;
  re_elem_ptr out = new_group();
  for (const auto& x : a.children) {
    for (const auto& y : b.children) {
      std::string s = x->text + y->text;
      bool end = false;
      cut_join(s, end);
      out->children.push_back(new_literal(std::move(s), false, false));
    }
  }
  return out;
}

size_t shortest_alternative(const re_elem& g) {
  size_t best = SIZE_MAX;
  for (const auto& alt : g.children) {
    if (!alt->is_literal()) return 0;
    best = std::min(best, alt->text.size());
  }
  return best;
}

void splice_children(std::vector<re_elem_ptr>& children, size_t i, size_t n, re_elem_ptr r,
                     bool flatten) {
  std::vector<re_elem_ptr> out;
  out.reserve(children.size() + (r ? r->children.size() : 0));
  for (size_t j = 0; j < i && j < children.size(); ++j) out.push_back(std::move(children[j]));
  if (r) {
    if (flatten && r->is_sequence()) {
      const size_t first = out.size();
      for (auto& c : r->children) out.push_back(std::move(c));
      if (out.size() > first) {
        if (r->start_anchor) out[first]->start_anchor = true;
        if (r->end_anchor) out.back()->end_anchor = true;
      }
    } else {
      out.push_back(std::move(r));
    }
  }
  for (size_t j = i + n; j < children.size(); ++j) out.push_back(std::move(children[j]));
  children = std::move(out);
}

}  // namespace quarn
