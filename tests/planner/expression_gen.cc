#include "expression_gen.h"

#include <algorithm>
#include <cctype>

namespace quarn::testing {

namespace {

// Bytes literals and samples are drawn from: the trigram alphabet, upper case, and a
// few bytes outside it (including '^', which shares the boundary symbol).
const char kLiteralBytes[] = "abcdefghijklmnopqrstuvwxyzABCXYZ0123456789.-_.-abceox@!#%~ ^";
// Punctuation that is safe as a single member inside a bracket expression.
const char kClassSingles[] = "!#%&*+,/:;<=>?@_~.0x";
const char kRegexSpecial[] = "$()*+.?[\\^{|";

void add_range(std::bitset<256>& s, int lo, int hi) {
  for (int c = lo; c <= hi; ++c) s.set(c);
}

}  // namespace

char expression_gen::random_byte() {
  switch (pick(12)) {
    case 0:
      return static_cast<char>(128 + pick(128));
    case 1:
      return static_cast<char>(' ' + pick(95));
    default:
      return kLiteralBytes[pick(sizeof kLiteralBytes - 1)];
  }
}

std::string expression_gen::random_literal() {
  static const char* const kWords[] = {"example", "com", "net", "mail", "www", "ns1", "cdn",
                                       "a", "ab", "abc", "x", "xy", "-", ".", "_dmarc", "Q"};
  std::string s;
  int parts = 1 + pick(2);
  for (int i = 0; i < parts; ++i) {
    if (chance(50)) {
      s += kWords[pick(sizeof kWords / sizeof kWords[0])];
    } else {
      int n = 1 + pick(chance(10) ? 12 : 3);
      for (int j = 0; j < n; ++j) s += kLiteralBytes[pick(sizeof kLiteralBytes - 1)];
    }
  }
  return s;
}

gen_node expression_gen::random_class(bool glob) {
  gen_node n;
  n.kind = gen_node::klass;
  std::string& t = n.text;  // rendering inside the brackets (without negation)
  int pieces = 1 + pick(3);
  bool first = true;
  for (int i = 0; i < pieces; ++i) {
    switch (pick(9)) {
      case 0: {
        int lo = pick(26), hi = lo + pick(26 - lo);
        t += static_cast<char>('a' + lo);
        t += '-';
        t += static_cast<char>('a' + hi);
        add_range(n.members, 'a' + lo, 'a' + hi);
        break;
      }
      case 1: {
        int lo = pick(10), hi = lo + pick(10 - lo);
        t += static_cast<char>('0' + lo);
        t += '-';
        t += static_cast<char>('0' + hi);
        add_range(n.members, '0' + lo, '0' + hi);
        break;
      }
      case 2: {
        int lo = pick(26), hi = lo + pick(std::min(26 - lo, 4));
        t += static_cast<char>('A' + lo);
        t += '-';
        t += static_cast<char>('A' + hi);
        add_range(n.members, 'A' + lo, 'A' + hi);
        break;
      }
      case 3:
        t += "[:digit:]";
        add_range(n.members, '0', '9');
        break;
      case 4:
        if (first) {
          t += ']';
          n.members.set(']');
          break;
        }
        [[fallthrough]];
      case 5: {
        char c = kClassSingles[pick(sizeof kClassSingles - 1)];
        t += c;
        n.members.set(static_cast<unsigned char>(c));
        break;
      }
      default: {
        char c = static_cast<char>('a' + pick(26));
        t += c;
        n.members.set(static_cast<unsigned char>(c));
        break;
      }
    }
    first = false;
  }
  if (chance(15)) {
    t += '-';
    n.members.set('-');
  }
  if (chance(glob ? 25 : 20)) {
    n.text = std::string(glob ? "!" : "^") + t;
    n.members.flip();
  }
  return n;
}

void expression_gen::apply_repeat(gen_node& n) {
  switch (pick(14)) {
    case 0: n.min = 0; n.max = 0; break;   // *
    case 1: n.min = 1; n.max = 0; break;   // +
    case 2: n.min = 0; n.max = 1; break;   // ?
    case 3: n.min = n.max = 2 + pick(3); break;
    case 4: n.min = 1 + pick(3); n.max = n.min + pick(4); break;
    case 5: n.min = 2 + pick(3); n.max = 0; break;
    case 6: n.min = n.max = 9 + pick(8); break;
    default: break;
  }
}

gen_node expression_gen::atom(int depth) {
  gen_node n;
  int k = pick(depth > 2 ? 7 : 9);
  if (k <= 2) {
    n.kind = gen_node::literal;
    n.text = random_literal();
  } else if (k <= 4) {
    n = random_class(false);
  } else if (k <= 6) {
    n.kind = gen_node::any;
  } else {
    n.kind = gen_node::group;
    int alts = 1 + pick(4);
    for (int i = 0; i < alts; ++i) {
      if (chance(8)) {
        gen_node empty;
        empty.kind = gen_node::sequence;
        n.kids.push_back(empty);
      } else
        n.kids.push_back(sequence(depth + 1, false));
    }
  }
  if (chance(30)) apply_repeat(n);
  // A repetition applies to the last character of a literal only; keep the tree honest.
  if (n.kind == gen_node::literal && !(n.min == 1 && n.max == 1) && n.text.size() > 1) {
    gen_node seq;
    seq.kind = gen_node::sequence;
    gen_node head;
    head.text = n.text.substr(0, n.text.size() - 1);
    gen_node tail;
    tail.text = n.text.substr(n.text.size() - 1);
    tail.min = n.min;
    tail.max = n.max;
    seq.kids.push_back(head);
    seq.kids.push_back(tail);
    gen_node g;
    g.kind = gen_node::group;
    g.kids.push_back(seq);
    return g;
  }
  return n;
}

gen_node expression_gen::sequence(int depth, bool top) {
  gen_node s;
  s.kind = gen_node::sequence;
  int n = 1 + pick(top ? 5 : 3);
  for (int i = 0; i < n; ++i) s.kids.push_back(atom(depth));
  s.start = chance(top ? 30 : 2);
  s.end = chance(top ? 30 : 2);
  return s;
}

gen_node expression_gen::small_sequence() {
  // Short literals, small classes and single unknown bytes side by side: the shapes
  // where joins, class expansions, bridges and anchored gaps apply.
  gen_node s;
  s.kind = gen_node::sequence;
  int n = 2 + pick(4);
  for (int i = 0; i < n; ++i) {
    gen_node a;
    switch (pick(6)) {
      case 0:
      case 1:
        a.kind = gen_node::literal;
        for (int j = 0, k = 1 + pick(3); j < k; ++j)
          a.text += kLiteralBytes[pick(sizeof kLiteralBytes - 1)];
        break;
      case 2: {
        a.kind = gen_node::klass;
        int k = 1 + pick(4);
        for (int j = 0; j < k; ++j) {
          char c = static_cast<char>(chance(80) ? 'a' + pick(6) : "!A0^"[pick(4)]);
          if (c == '^' && j == 0) c = 'z';
          a.text += c;
          a.members.set(static_cast<unsigned char>(c));
        }
        break;
      }
      case 3:
        a.kind = gen_node::any;
        break;
      case 4: {
        a.kind = gen_node::group;
        for (int j = 0, k = 1 + pick(3); j < k; ++j) {
          gen_node alt;
          alt.kind = gen_node::sequence;
          gen_node lit;
          for (int m = 0, l = 1 + pick(3); m < l; ++m) lit.text += static_cast<char>('a' + pick(5));
          alt.kids.push_back(lit);
          a.kids.push_back(alt);
        }
        break;
      }
      default:
        a.kind = gen_node::literal;
        a.text = static_cast<char>('a' + pick(4));
        break;
    }
    if (chance(25)) {
      switch (pick(4)) {
        case 0: a.min = a.max = 2 + pick(3); break;
        case 1: a.min = 1 + pick(2); a.max = a.min + 1 + pick(3); break;
        case 2: a.min = 2; a.max = 0; break;
        default: a.min = 0; a.max = 1; break;
      }
      if (a.kind == gen_node::literal && a.text.size() > 1) a.text = a.text.substr(0, 1);
    }
    s.kids.push_back(a);
  }
  s.start = chance(35);
  s.end = chance(35);
  return s;
}

gen_node expression_gen::regex_tree() {
  if (chance(40)) return small_sequence();
  if (chance(20)) {
    gen_node g;
    g.kind = gen_node::group;  // top-level alternation, rendered without parentheses
    int alts = 2 + pick(3);
    for (int i = 0; i < alts; ++i) g.kids.push_back(sequence(1, true));
    g.min = g.max = 1;
    g.start = true;  // marks "top level" for the renderer
    return g;
  }
  return sequence(0, true);
}

gen_node expression_gen::glob_tree() {
  gen_node s;
  s.kind = gen_node::sequence;
  s.start = s.end = true;
  int n = 1 + pick(6);
  for (int i = 0; i < n; ++i) {
    gen_node a;
    switch (pick(6)) {
      case 0:
        a.kind = gen_node::any;
        a.min = 0;
        a.max = 0;
        break;
      case 1:
        a.kind = gen_node::any;
        break;
      case 2:
        a = random_class(true);
        break;
      default:
        a.kind = gen_node::literal;
        a.text = random_literal();
        break;
    }
    s.kids.push_back(a);
  }
  return s;
}

static void render_repeat_suffix(const gen_node& n, std::string& out) {
  if (n.min == 1 && n.max == 1) return;
  if (n.min == 0 && n.max == 0) { out += '*'; return; }
  if (n.min == 1 && n.max == 0) { out += '+'; return; }
  if (n.min == 0 && n.max == 1) { out += '?'; return; }
  out += '{' + std::to_string(n.min);
  if (n.max == 0)
    out += ",}";
  else if (n.max != n.min)
    out += ',' + std::to_string(n.max) + '}';
  else
    out += '}';
}

std::string expression_gen::render_regex(const gen_node& n) {
  std::string out;
  switch (n.kind) {
    case gen_node::literal:
      for (char c : n.text) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) continue;
        for (const char* p = kRegexSpecial; *p; ++p)
          if (*p == c) out += '\\';
        out += c;
      }
      break;
    case gen_node::klass:
      out += '[' + n.text + ']';
      break;
    case gen_node::any:
      out += '.';
      break;
    case gen_node::group: {
      const bool top = n.start && n.min == 1 && n.max == 1;
      if (!top) out += '(';
      for (size_t i = 0; i < n.kids.size(); ++i) {
        if (i) out += '|';
        out += render_regex(n.kids[i]);
      }
      if (!top) out += ')';
      break;
    }
    case gen_node::sequence:
      if (n.start) out += '^';
      for (const auto& k : n.kids) out += render_regex(k);
      if (n.end) out += '$';
      return out;
  }
  render_repeat_suffix(n, out);
  return out;
}

std::string expression_gen::render_glob(const gen_node& n) {
  std::string out;
  for (const auto& k : n.kids) {
    switch (k.kind) {
      case gen_node::literal:
        for (char c : k.text) {
          if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) continue;
          if (c == '*' || c == '?' || c == '[' || c == '\\') out += '\\';
          out += c;
        }
        break;
      case gen_node::klass:
        out += '[' + k.text + ']';
        break;
      case gen_node::any:
        out += k.min == 0 ? '*' : '?';
        break;
      default:
        break;
    }
  }
  return out;
}

void expression_gen::sample_into(const gen_node& n, std::string& out) {
  uint32_t max = n.max == 0 ? n.min + 3 : std::min(n.max, n.min + 3);
  uint32_t count = n.min + (max > n.min ? static_cast<uint32_t>(pick(max - n.min + 1)) : 0);
  for (uint32_t r = 0; r < count; ++r) {
    switch (n.kind) {
      case gen_node::literal:
        for (char c : n.text) {
          if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) continue;
          if (chance(20) && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
          else if (chance(20) && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
          out += c;
        }
        break;
      case gen_node::klass: {
        // Any member except the bytes no key holds (line feed, tab).
        for (int tries = 0; tries < 64; ++tries) {
          int c = chance(70) ? pick(128) : pick(256);
          if (n.members.test(c) && c != '\n' && c != '\t' && c != 0) {
            out += static_cast<char>(c);
            break;
          }
        }
        break;
      }
      case gen_node::any:
        out += random_byte();
        break;
      case gen_node::group:
        if (!n.kids.empty()) sample_into(n.kids[pick(static_cast<int>(n.kids.size()))], out);
        break;
      case gen_node::sequence:
        for (const auto& k : n.kids) sample_into(k, out);
        break;
    }
  }
}

std::string expression_gen::sample(const gen_node& n, bool glob) {
  std::string core;
  gen_node once = n;
  once.min = once.max = 1;
  sample_into(once, core);
  if (glob) return core;
  std::string out;
  if (chance(50)) {
    int k = pick(4);
    for (int i = 0; i < k; ++i) out += random_byte();
  }
  out += core;
  if (chance(50)) {
    int k = pick(4);
    for (int i = 0; i < k; ++i) out += random_byte();
  }
  return out;
}

std::string expression_gen::mutate(const std::string& s) {
  std::string t = s;
  int edits = 1 + pick(2);
  for (int e = 0; e < edits; ++e) {
    size_t pos = t.empty() ? 0 : static_cast<size_t>(pick(static_cast<int>(t.size()) + 1));
    switch (pick(5)) {
      case 0:
        t.insert(t.begin() + static_cast<long>(pos), random_byte());
        break;
      case 1:
        if (pos < t.size()) t.erase(pos, 1);
        break;
      case 2:
        if (pos < t.size()) t[pos] = random_byte();
        break;
      case 3:
        if (pos < t.size() && std::isalpha(static_cast<unsigned char>(t[pos])))
          t[pos] = static_cast<char>(t[pos] ^ 0x20);
        break;
      default:
        if (pos < t.size()) t.insert(pos, t.substr(pos, 1 + pick(3)));
        break;
    }
  }
  return t;
}

std::string expression_gen::random_name() {
  static const char* const kLabels[] = {"www", "mail", "example", "abc", "ns1", "cdn", "x",
                                        "_dmarc", "a-b", "test", "com", "net", "org", "io"};
  std::string s;
  int n = 1 + pick(4);
  for (int i = 0; i < n; ++i) {
    if (i) s += '.';
    if (chance(70))
      s += kLabels[pick(sizeof kLabels / sizeof kLabels[0])];
    else
      for (int j = 0, k = 1 + pick(6); j < k; ++j) s += random_byte();
  }
  return s;
}

}  // namespace quarn::testing
