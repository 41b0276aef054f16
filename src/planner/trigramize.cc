#include "planner/trigramize.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"
#include "common/trigram.h"
#include "planner/decompose.h"
#include "planner/messages.h"

namespace quarn {

namespace {

// A bridged one-byte gap is marked by a maximum one above the unbounded value, which no
// parser produces: its bytes are accounted for by the bridge.
constexpr uint32_t kConsumedMarker = REPEAT_MAX + 1;
// Class joins beside a literal stay within this many members and size^2 strings.
constexpr size_t kPairClassMembers = 30;
constexpr size_t kPairClassProduct = 512;
// Longest alternative a class-permuted union is built from.
constexpr size_t kPermutedTextLimit = kJoinLimit - 4;

// What one element is generated with besides itself.
struct generation_context {
  bool start = false;                // the element touches the text's start
  bool end = false;                  // ... or its end
  const re_elem* left = nullptr;     // neighbour in the enclosing sequence, or null
  const re_elem* right = nullptr;
  std::string* error = nullptr;      // receives a failure text; null inside a group
};

uint8_t sym(char c) { return trigram_symbol(static_cast<unsigned char>(c)); }

bool is_empty_query(const tgr_result* q) { return !q || q->empty(); }

bool has_consumed_marker(const re_elem& e) { return e.max_repeat == kConsumedMarker; }

// Literal (not a group) that stands for exactly its text once.
bool single_literal(const re_elem* e) { return e && e->is_literal(); }

// The trigrams of a text, with the boundary trigrams of the ends it touches; a text of
// fewer than three characters touching no end gives an empty node.
tgr_ptr literal_trigrams(std::string_view text, bool start, bool end) {
  // The list is gathered directly and sorted: texts are mostly a few characters long,
  // and literal groups of thousands of alternatives call this once per alternative, so
  // clearing and scanning a whole trigram bitmap each time would dominate planning.
  auto node = std::make_unique<tgr_result>(TGR_INTERSECT_TRIGRAMS);
  std::vector<uint32_t>& list = node->trigrams;
  const size_t n = text.size();
  if (n == 0) return node;
  list.reserve(n + 4);
  if (start) {
    list.push_back(trigram_ordinal_of_symbols(kSymbolPad, kSymbolPad, sym(text[0])));
    if (n >= 2) list.push_back(trigram_ordinal_of_symbols(kSymbolPad, sym(text[0]), sym(text[1])));
  }
  if (end) {
    list.push_back(trigram_ordinal_of_symbols(sym(text[n - 1]), kSymbolPad, kSymbolPad));
    if (n >= 2)
      list.push_back(trigram_ordinal_of_symbols(sym(text[n - 2]), sym(text[n - 1]), kSymbolPad));
  }
  for (size_t i = 0; i + 2 < n; ++i)
    list.push_back(trigram_ordinal_of_symbols(sym(text[i]), sym(text[i + 1]), sym(text[i + 2])));
  std::sort(list.begin(), list.end());
  list.erase(std::unique(list.begin(), list.end()), list.end());
  return node;
}

// A union of single-trigram intersections, ascending without repeats.
tgr_ptr union_of_ordinals(std::vector<uint32_t> list) {
  std::sort(list.begin(), list.end());
  list.erase(std::unique(list.begin(), list.end()), list.end());
  auto u = std::make_unique<tgr_result>(TGR_UNION);
  u->children.reserve(list.size());
  for (uint32_t o : list) u->children.push_back(tgr_single(o));
  return u;
}

// Where the third symbol of a two-character text's trigrams goes.
enum class pair_direction { after, before, both };

// The union of the trigrams x y s (after) and/or s x y (before) over every symbol s;
// null when either character is NUL or the boundary symbol.
tgr_ptr pair_trigram_union(char x, char y, pair_direction dir) {
  if (x == '\0' || y == '\0' || x == '^' || y == '^') return nullptr;
  std::vector<uint32_t> list;
  list.reserve(2 * kAlphabetSize);
  for (uint8_t s = 0; s < kAlphabetSize; ++s) {
    if (dir != pair_direction::before)
      list.push_back(trigram_ordinal_of_symbols(sym(x), sym(y), s));
    if (dir != pair_direction::after)
      list.push_back(trigram_ordinal_of_symbols(s, sym(x), sym(y)));
  }
  return union_of_ordinals(std::move(list));
}

// The union of the trigrams x s z over every symbol s.
tgr_ptr gap_trigram_union(char x, char z) {
  std::vector<uint32_t> list;
  list.reserve(kAlphabetSize);
  for (uint8_t s = 0; s < kAlphabetSize; ++s)
    list.push_back(trigram_ordinal_of_symbols(sym(x), s, sym(z)));
  return union_of_ordinals(std::move(list));
}

tgr_ptr intersect_of(tgr_ptr a, tgr_ptr b) {
  auto node = std::make_unique<tgr_result>(TGR_INTERSECT_CHILDREN);
  node->children.push_back(std::move(a));
  node->children.push_back(std::move(b));
  return node;
}

// Class bytes one at a time, byte order.
template <typename F>
void for_each_byte(const re_elem& k, F&& f) {
  for (int c = 0; c < 256; ++c)
    if (k.bits.test(c)) f(static_cast<char>(c));
}

tgr_ptr class_permuted_union(const std::string& text, const re_elem& k, bool class_at_end) {
  size_t effective = text.size();
  if (k.any_anchor()) effective += 2;
  // The short forms put the text's boundary next to the class byte; they hold only when
  // the class really touches that boundary. Without it the class byte's neighbour is
  // unknown, so the string is too short to give a trigram.
  bool boundary_ok = true;
  if (text.size() < 2) {
    const bool anchored = class_at_end ? k.end_anchor : k.start_anchor;
    boundary_ok = anchored && (text.empty() || k.max_repeat == 1);
  }
  if (effective + 1 < 3 || !boundary_ok) {
    QLOG(LOG_DEBUG, planner_msg::kTooShort, text.c_str());
    return nullptr;
  }
  auto u = std::make_unique<tgr_result>(TGR_UNION);
  const size_t n = text.size();
  for_each_byte(k, [&](char c) {
    uint32_t o;
    if (n == 0)
      o = class_at_end ? trigram_ordinal_of_symbols(sym(c), kSymbolPad, kSymbolPad)
                       : trigram_ordinal_of_symbols(kSymbolPad, kSymbolPad, sym(c));
    else if (n == 1)
      o = class_at_end ? trigram_ordinal_of_symbols(sym(text[0]), sym(c), kSymbolPad)
                       : trigram_ordinal_of_symbols(kSymbolPad, sym(c), sym(text[0]));
    else
      o = class_at_end ? trigram_ordinal_of_symbols(sym(text[n - 2]), sym(text[n - 1]), sym(c))
                       : trigram_ordinal_of_symbols(sym(c), sym(text[0]), sym(text[1]));
    u->children.push_back(tgr_single(o));
  });
  return u;
}

tgr_ptr literal_class_pair_union(const re_elem& l, const re_elem& k, bool class_after) {
  if (!l.is_literal() || l.text.empty() || !k.is_class()) return nullptr;
  const size_t size = class_members(k);
  if (size > kPairClassMembers || size * size > kPairClassProduct) return nullptr;
  auto u = std::make_unique<tgr_result>(TGR_UNION);
  const std::string& t = l.text;
  const bool one_start = t.size() == 1 && l.start_anchor && l.max_repeat == 1;
  const bool one_end = t.size() == 1 && l.end_anchor && l.max_repeat == 1;
  // Bytes that fold to the same symbol give the same strings: keep the first of each.
  uint64_t seen_outer[2] = {0, 0};
  for (int c1 = 0; c1 < 256; ++c1) {
    if (!k.bits.test(c1)) continue;
    const uint8_t s1 = trigram_symbol(static_cast<unsigned char>(c1));
    if ((seen_outer[s1 >> 6] >> (s1 & 63)) & 1) continue;
    seen_outer[s1 >> 6] |= uint64_t{1} << (s1 & 63);
    uint64_t seen_inner[2] = {0, 0};
    for (int c2 = 0; c2 < 256; ++c2) {
      if (!k.bits.test(c2)) continue;
      const uint8_t s2 = trigram_symbol(static_cast<unsigned char>(c2));
      if ((seen_inner[s2 >> 6] >> (s2 & 63)) & 1) continue;
      seen_inner[s2 >> 6] |= uint64_t{1} << (s2 & 63);
      std::string s;
      if (class_after) {
        if (t.size() >= 2)
          s += t[t.size() - 2];
        else if (one_start)
          s += '^';
        s += t.back();
        s += static_cast<char>(c1);
        s += static_cast<char>(c2);
      } else {
        if (k.min_repeat >= 2) s += static_cast<char>(c1);
        s += static_cast<char>(c2);
        s += t[0];
        if (t.size() >= 2)
          s += t[1];
        else if (one_end)
          s += '^';
      }
      u->children.push_back(literal_trigrams(s, false, false));
    }
  }
  return u;
}

tgr_ptr junction_trigrams(const re_elem& n, const std::string& t, size_t& counter,
                          bool neighbour_left) {
  if (n.text.empty() || t.empty()) return nullptr;
  counter += n.text.size() >= 2 ? 2 : 1;
  const std::string& nt = n.text;
  std::string s;
  if (neighbour_left) {
    if (nt.size() >= 2)
      s += nt[nt.size() - 2];
    else if (n.start_anchor && n.max_repeat == 1)
      s += '^';
    s += nt.back();
    s += t[0];
    if (t.size() >= 2) s += t[1];
  } else {
    if (t.size() >= 2) s += t[t.size() - 2];
    s += t.back();
    s += nt[0];
    if (nt.size() >= 2)
      s += nt[1];
    else if (n.end_anchor && n.max_repeat == 1)
      s += '^';
  }
  return literal_trigrams(s, false, false);
}

tgr_ptr generate(re_elem& e, const generation_context& ctx);

tgr_ptr generate_literal(const re_elem& e, const generation_context& ctx) {
  const std::string& t = e.text;
  size_t n = t.size();
  tgr_ptr j;
  if (single_literal(ctx.left))
    j = junction_trigrams(*ctx.left, t, n, true);
  else if (single_literal(ctx.right))
    j = junction_trigrams(*ctx.right, t, n, false);
  if (e.any_anchor() || ctx.start || ctx.end) n += 2;
  if (n >= 3) {
    const bool start = ctx.start || e.start_anchor;
    const bool end = ctx.end || e.end_anchor;
    tgr_ptr own = literal_trigrams(t, start, end);
    if (!j) return own;
    return tgr_merge_trigrams(own.get(), j.get());
  }
  // Too short for a trigram of its own: two bytes give the union over the symbol beside
  // them, a single byte gives nothing.
  pair_direction dir = pair_direction::after;
  if (ctx.left && is_full_class(*ctx.left)) {
    if (has_consumed_marker(*ctx.left)) return nullptr;
    dir = pair_direction::before;
  }
  if (t.size() < 2) return nullptr;
  return pair_trigram_union(t[0], t[1], dir);
}

tgr_ptr generate_class(const re_elem& e) {
  if (!e.any_anchor()) return nullptr;
  if (is_full_class(e) && e.start_anchor && e.end_anchor) return nullptr;
  return class_permuted_union("", e, e.end_anchor);
}

tgr_ptr generate_group(re_elem& e, const generation_context& ctx) {
  auto u = std::make_unique<tgr_result>(TGR_UNION);
  // A repeated group's alternatives stand for its first copy only: the text's end and
  // the right neighbour belong to its last copy.
  const bool repeated = e.max_repeat > 1;
  for (auto& alt : e.children) {
    generation_context c;
    c.start = e.start_anchor || ctx.start;
    c.end = !repeated && (e.end_anchor || ctx.end);
    c.left = ctx.left;
    c.right = repeated ? nullptr : ctx.right;
    c.error = nullptr;  // an alternative's failure only makes the group unconstrained
    tgr_ptr q = generate(*alt, c);
    if (is_empty_query(q.get())) return nullptr;
    u->children.push_back(std::move(q));
  }
  return u;
}

// Common last (or first) character of every alternative of a literal group, and the one
// before (after) it when every alternative has it and they agree.
bool group_edge(const re_elem& g, bool last, char& c1, char& c0, bool& has_c0) {
  if (g.children.empty()) return false;
  has_c0 = true;
  for (size_t i = 0; i < g.children.size(); ++i) {
    const std::string& t = g.children[i]->text;
    if (t.empty()) return false;
    const char a = last ? t.back() : t.front();
    if (i == 0)
      c1 = a;
    else if (sym(a) != sym(c1))
      return false;
    if (t.size() < 2) {
      has_c0 = false;
      continue;
    }
    const char b = last ? t[t.size() - 2] : t[1];
    if (i == 0)
      c0 = b;
    else if (has_c0 && sym(b) != sym(c0))
      has_c0 = false;
  }
  return true;
}

size_t shortest_text(const re_elem& e) {
  if (e.is_literal()) return e.text.size();
  return shortest_alternative(e);
}

// The bridge over a one-byte gap z between x and y, or nullptr when there is none.
tgr_ptr bridge(const re_elem& x, const re_elem& y) {
  char a1 = 0, a0 = 0, b1 = 0, b2 = 0;
  bool has_a0 = false, has_b2 = false;
  if (x.is_literal()) {
    if (x.text.empty()) return nullptr;
    a1 = x.text.back();
    if (x.text.size() >= 2) {
      a0 = x.text[x.text.size() - 2];
      has_a0 = true;
    } else if (x.start_anchor && x.max_repeat == 1) {
      a0 = '^';
      has_a0 = true;
    }
  } else if (is_literal_group(x) && !x.children.empty()) {
    if (!group_edge(x, true, a1, a0, has_a0)) return nullptr;
  } else {
    return nullptr;
  }
  if (y.is_literal()) {
    if (y.text.empty()) return nullptr;
    b1 = y.text[0];
    if (y.text.size() >= 2) {
      b2 = y.text[1];
      has_b2 = true;
    } else if (y.end_anchor && y.max_repeat == 1) {
      b2 = '^';
      has_b2 = true;
    }
  } else if (is_literal_group(y) && !y.children.empty()) {
    if (!group_edge(y, false, b1, b2, has_b2)) return nullptr;
  } else {
    return nullptr;
  }
  if (shortest_text(x) > 2 && shortest_text(y) > 2) return nullptr;
  // Every symbol the unknown byte may fold to, '^' included: a key may hold that byte.
  auto u = std::make_unique<tgr_result>(TGR_UNION);
  for (uint8_t s = 0; s < kAlphabetSize; ++s) {
    const char sc = trigram_symbol_char(s);
    std::string t;
    if (has_a0) t += a0;
    t += a1;
    t += sc;
    t += b1;
    if (has_b2) t += b2;
    if (t.size() > 3)
      u->children.push_back(literal_trigrams(t, false, false));
    else
      u->children.push_back(tgr_single(trigram_ordinal_of_symbols(sym(a1), s, sym(b1))));
  }
  return u;
}

// One child of a sequence as the rules see it: its neighbours and its own context.
struct sequence_child {
  re_elem& x;
  re_elem* w;  // the child before, or null
  re_elem* z;  // the child after, or null
  re_elem* y;  // the child two after, or null
  generation_context ctx;
};

sequence_child child_at(re_elem& e, size_t i, const generation_context& ctx) {
  auto& v = e.children;
  const size_t count = v.size();
  sequence_child c{*v[i], i > 0 ? v[i - 1].get() : nullptr,
                   i + 1 < count ? v[i + 1].get() : nullptr,
                   i + 2 < count ? v[i + 2].get() : nullptr, generation_context{}};
  c.ctx.error = ctx.error;
  c.ctx.start = i == 0 && (e.start_anchor || ctx.start);
  c.ctx.end = i + 1 == count && (e.end_anchor || ctx.end);
  // The sequence's own neighbours touch only its first and last children.
  c.ctx.left = i == 0 ? ctx.left : c.w;
  c.ctx.right = i + 1 == count ? ctx.right : c.z;
  return c;
}

// Unknown bytes may be anything, so they constrain nothing.
bool constrains_nothing(const re_elem& x) { return is_full_class(x); }

// An unknown byte at the text's start or end still sits beside the boundary symbol.
// A literal gets the boundary trigram as an extra member of the sequence (and goes on to
// the other rules); a class gets the union over its bytes as its contribution.
tgr_ptr anchored_gap(const sequence_child& c, tgr_result& r) {
  int side = 0;  // 1 end, -1 start
  if (c.z && is_one_char_gap(*c.z) && c.z->end_anchor)
    side = 1;
  else if (c.w && is_one_char_gap(*c.w) && c.w->start_anchor)
    side = -1;
  if (side == 0) return nullptr;
  const re_elem& x = c.x;
  if (x.is_literal() && !x.text.empty()) {
    r.children.push_back(side > 0 ? gap_trigram_union(x.text.back(), '^')
                                  : gap_trigram_union('^', x.text.front()));
    return nullptr;
  }
  if (!x.is_class()) return nullptr;
  auto u = std::make_unique<tgr_result>(TGR_UNION);
  for_each_byte(x, [&](char ch) {
    u->children.push_back(side > 0 ? gap_trigram_union(ch, '^') : gap_trigram_union('^', ch));
  });
  return u;
}

// A class repeated at least twice gives byte pairs whose trigrams reach into the
// literals beside it.
tgr_ptr repeated_class_between_literals(const sequence_child& c) {
  const re_elem& x = c.x;
  if (!x.is_class() || x.min_repeat < 2) return nullptr;
  tgr_ptr a = c.w && c.w->is_literal() ? literal_class_pair_union(*c.w, x, true) : nullptr;
  tgr_ptr b = c.z && c.z->is_literal() ? literal_class_pair_union(*c.z, x, false) : nullptr;
  if (a && b) return intersect_of(std::move(a), std::move(b));
  return a ? std::move(a) : std::move(b);
}

// One unknown byte between two literals takes one of the symbols, so the union over
// them keeps the trigrams that span the gap. Stores the bridge (and the literal's own
// trigrams) in `r` and marks the gap consumed; false when there is no bridge.
bool bridge_one_byte_gap(const sequence_child& c, tgr_result& r) {
  re_elem& x = c.x;
  if (!c.z || !is_one_char_gap(*c.z) || !c.y ||
      !(x.is_literal() || (is_literal_group(x) && !x.children.empty())))
    return false;
  tgr_ptr b = bridge(x, *c.y);
  if (!b) return false;
  r.children.push_back(std::move(b));
  c.z->min_repeat = 0;
  c.z->max_repeat = kConsumedMarker;
  if (x.is_literal()) {
    const bool start = x.start_anchor || c.ctx.start;
    const bool end = x.end_anchor || c.ctx.end;
    r.children.push_back(literal_trigrams(x.text, start, end));
  }
  return true;
}

// Each alternative of a literal group joined with every byte of the class beside it;
// null when an alternative is too long or too short to give a class-permuted trigram.
tgr_ptr permuted_alternatives(const re_elem& group, const re_elem& klass, bool class_after) {
  bool any_short = false;
  for (const auto& alt : group.children) any_short |= alt->text.size() <= 1;
  auto u = std::make_unique<tgr_result>(TGR_UNION);
  for (const auto& alt : group.children) {
    tgr_ptr perm = alt->text.size() <= kPermutedTextLimit
                       ? class_permuted_union(alt->text, klass, class_after)
                       : nullptr;
    if (!perm) return nullptr;
    // A short alternative's own trigrams are those the permutation already holds.
    if (any_short)
      u->children.push_back(std::move(perm));
    else
      u->children.push_back(intersect_of(
          literal_trigrams(alt->text, alt->start_anchor, alt->end_anchor), std::move(perm)));
  }
  return u;
}

struct group_class_join {
  tgr_ptr query;            // null when no pair qualifies or when the join failed
  bool failed = false;      // a pair qualified but could not be joined
  bool skips_next = false;  // the join used the next child as well
};

// A literal group beside a small class is read as the strings the two spell
// together, the class byte being the trigram's third symbol.
group_class_join literal_group_beside_class(const sequence_child& c) {
  struct pair_try {
    re_elem* group;
    re_elem* klass;
    bool class_after;
    bool skips_next;
  };
  const pair_try tries[4] = {{&c.x, c.w, false, false},
                             {c.w, &c.x, true, true},
                             {c.z, &c.x, false, false},
                             {&c.x, c.z, true, true}};
  for (const pair_try& p : tries) {
    if (!p.group || !p.klass || !is_literal_group(*p.group) || !p.klass->is_class() ||
        is_full_class(*p.klass))
      continue;
    group_class_join j;
    j.query = permuted_alternatives(*p.group, *p.klass, p.class_after);
    j.failed = !j.query;
    j.skips_next = p.skips_next;
    return j;
  }
  return {};
}

// A child without a condition adds no constraint, unless it failed with an error,
// which then fails the whole sequence.
bool store_condition(tgr_result& r, tgr_ptr q, const std::string* error) {
  if (q) {
    r.children.push_back(std::move(q));
    return true;
  }
  return !error || error->empty();
}

// The rules in order, over each child with its neighbours; the first rule that gives a
// contribution decides the child, and a child no rule takes generates its own condition.
tgr_ptr generate_sequence(re_elem& e, const generation_context& ctx) {
  auto r = std::make_unique<tgr_result>(TGR_INTERSECT_CHILDREN);
  size_t i = 0;
  while (i < e.children.size()) {
    const sequence_child c = child_at(e, i, ctx);
    if (constrains_nothing(c.x)) {
      ++i;
      continue;
    }
    size_t next = i + 1;
    tgr_ptr q = anchored_gap(c, *r);
    if (!q) q = repeated_class_between_literals(c);
    if (!q && bridge_one_byte_gap(c, *r)) {
      i += 2;
      continue;
    }
    if (!q) {
      group_class_join j = literal_group_beside_class(c);
      if (j.failed) {
        if (ctx.error) *ctx.error = planner_msg::kCoalesceFailed;
        return nullptr;
      }
      if (j.skips_next) next = i + 2;
      q = std::move(j.query);
    }
    if (!q) q = generate(c.x, c.ctx);
    if (!store_condition(*r, std::move(q), ctx.error)) return nullptr;
    i = next;
  }
  return r;
}

tgr_ptr generate(re_elem& e, const generation_context& ctx) {
  switch (e.type) {
    case re_elem_literal:
      return generate_literal(e, ctx);
    case re_elem_class:
      return generate_class(e);
    case re_elem_group:
      return generate_group(e, ctx);
    case re_elem_sequence:
      return generate_sequence(e, ctx);
  }
  return nullptr;
}

}  // namespace

tgr_ptr trigramize(re_elem& root, std::string* error, bool start, bool end, const re_elem* left,
                   const re_elem* right) {
  std::string local_error;
  generation_context ctx;
  ctx.start = start;
  ctx.end = end;
  ctx.left = left;
  ctx.right = right;
  ctx.error = &local_error;
  tgr_ptr q = generate(root, ctx);
  if (!is_empty_query(q.get())) {
    if (error) *error = local_error;
    return q;
  }
  // The retry reads the tree as the first pass left it: gaps it bridged are marked
  // consumed, so no rule leans on them a second time.
  q.reset();
  local_error.clear();
  q = generate(root, ctx);
  if (error) *error = local_error;
  return q;
}

}  // namespace quarn
