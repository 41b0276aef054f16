// Differential test of the whole search path: quarnsearch -r over several index files
// must print exactly what a brute-force scan of the same lines prints - the same keys in
// the same order, each once, with the same merged and filtered observations.
//
// The brute force is independent of the code under test: its own key orders, its own
// merge and filter, and Hyperscan compiling the expression as typed (globs translated
// to an anchored regular expression here), so a fault in parsing, rendering, planning,
// the reference lists, the trackers, the iterators or the merger shows up as a lost,
// invented, duplicated or misplaced result.
#include <gtest/gtest.h>
#include <hs.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/e2e_support.h"

namespace quarn::test {
namespace {

// ---- records and their text ------------------------------------------------------------

struct Obs {
  uint16_t type = 0;
  int64_t first = 0;  // 0 with last 0: a token written without times
  int64_t last = 0;
  uint64_t count = 0;  // 0: a token written without a count
};

const std::map<uint16_t, char> kLetters = {
    {1, '4'},  {2, 'n'},  {5, 'c'},  {6, 's'},  {10, '0'}, {11, 'w'}, {12, 'p'}, {13, 'h'},
    {15, 'm'}, {16, 't'}, {17, 'r'}, {28, '6'}, {29, 'l'}, {30, 'x'}, {33, 'v'}, {35, 'N'},
    {39, 'd'}, {44, 'f'}, {52, 'T'}, {59, 'C'}, {60, 'k'}, {99, 'S'}};

std::string type_code(uint16_t t) {
  auto it = kLetters.find(t);
  return it != kLetters.end() ? std::string(1, it->second) : std::to_string(t) ;
}

std::string hex(uint64_t v) {
  char b[32];
  std::snprintf(b, sizeof b, "%llx", static_cast<unsigned long long>(v));
  return b;
}

// A token as an index line carries it (times and count may be left out).
std::string index_token(const Obs& o, bool upper) {
  std::string t = type_code(o.type);
  // A letter code alone may stand without ":"; a number always needs it.
  if (o.first == 0 && o.last == 0 && o.count == 0) return kLetters.count(o.type) ? t : t + ":";
  std::string rest = ":" + hex(o.first);
  if (o.last != o.first) rest += "," + hex(o.last - o.first);
  if (o.count != 0) rest += ":" + hex(o.count);
  if (upper) {
    for (char& c : rest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return t + rest;
}

// A token as the raw output prints it (times and count always present).
std::string raw_token(const Obs& o) {
  std::string t = type_code(o.type) + ":" + hex(o.first);
  if (o.last != o.first) t += "," + hex(o.last - o.first);
  return t + ":" + hex(o.count);
}

// ---- independent key orders ------------------------------------------------------------

// Owner names: labels from the right, shorter label first, equal lengths bytewise, a
// name that runs out of labels first sorts first.
int oracle_name_order(const std::string& a, const std::string& b) {
  auto labels = [](const std::string& s) {
    std::vector<std::string> v;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
      if (i == s.size() || s[i] == '.') {
        v.push_back(s.substr(start, i - start));
        start = i + 1;
      }
    }
    return v;
  };
  const auto la = labels(a), lb = labels(b);
  size_t i = la.size(), j = lb.size();
  while (i > 0 && j > 0) {
    const std::string &x = la[--i], &y = lb[--j];
    if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
    const int c = std::memcmp(x.data(), y.data(), x.size());
    if (c != 0) return c;
  }
  if (i == 0 && j == 0) return 0;
  return i == 0 ? -1 : 1;
}

// Rdata values: raw bytes with the type as one more symbol after them, where a type
// equal to the longer value's next byte sorts after that byte.
std::vector<uint32_t> rdata_sequence(const std::vector<uint8_t>& raw, uint16_t type) {
  std::vector<uint32_t> seq;
  for (uint8_t b : raw) seq.push_back(2u * b);
  seq.push_back(2u * type + 1);
  return seq;
}

// ---- data -------------------------------------------------------------------------------

constexpr int kFiles = 3;
constexpr int64_t kTimeLow = 1400000000;
constexpr int64_t kTimeHigh = 1700000000;

struct Entry {
  std::string key;                       // owner name, or rdata text
  std::vector<uint8_t> raw;              // rdata only
  uint16_t rdata_type = 0;               // rdata only
  std::vector<std::vector<Obs>> per_file;  // per file: the observations (empty: absent)
};

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {}

  int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
  template <typename T>
  const T& pick(const std::vector<T>& v) { return v[uniform(0, static_cast<int>(v.size()) - 1)]; }

  std::string random_label(int min_len, int max_len) {
    static const std::string chars = "abcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string s;
    const int n = uniform(min_len, max_len);
    for (int i = 0; i < n; ++i) s += chars[uniform(0, i == 0 ? 35 : 37)];
    return s;
  }

  std::string name() {
    static const std::vector<std::string> subs = {"www", "mail", "api", "cdn", "ns1", "ns2", "mx",
                                                  "smtp", "vpn", "dev", "test", "login", "m",
                                                  "static", "img", "shop", "blog", "autodiscover",
                                                  "_dmarc", "_sip._tcp", "a", "x1"};
    static const std::vector<std::string> words = {"example", "acme", "bank", "paypal", "micro",
                                                   "cloud", "data", "hostco", "web", "shop",
                                                   "secure-login", "google", "foo", "bar", "a1"};
    static const std::vector<std::string> tlds = {"com", "net", "org", "de", "co.uk", "io", "ru",
                                                  "cn", "info", "xn--p1ai", "com.br"};
    std::string n;
    const int shape = uniform(0, 9);
    if (shape <= 5) {
      n = pick(words) + (chance(0.3) ? std::to_string(uniform(0, 99)) : "") + "." + pick(tlds);
      const int depth = uniform(0, 2);
      for (int i = 0; i < depth; ++i) n = (chance(0.7) ? pick(subs) : random_label(1, 10)) + "." + n;
    } else if (shape <= 8) {
      const int labels = uniform(1, 4);
      for (int i = 0; i < labels; ++i) n += (i ? "." : "") + random_label(1, 12);
    } else {
      n = "*." + pick(words) + "." + pick(tlds);
    }
    if (chance(0.05)) n += ".";  // a few fully qualified names
    if (chance(0.05)) {
      for (char& c : n) {
        if (c >= 'a' && c <= 'z' && chance(0.5)) c = static_cast<char>(c - 32);
      }
    }
    return n;
  }

  // bare: a token may come without times (owner-name lines only).
  Obs obs(uint16_t type, bool bare_allowed) {
    Obs o;
    o.type = type;
    const int shape = uniform(0, 19);
    if (shape == 0 && bare_allowed) return o;  // type only: no times, no count
    o.first = uniform(static_cast<int>(kTimeLow), static_cast<int>(kTimeHigh));
    o.last = chance(0.3) ? o.first : o.first + uniform(0, 40000000);
    o.count = shape == 1 ? 0 : static_cast<uint64_t>(uniform(1, 5000));
    return o;
  }

  // Which files hold a key: mostly one, often two or three, so keys overlap.
  std::vector<bool> files() {
    std::vector<bool> in(kFiles, false);
    const int n = chance(0.55) ? 1 : chance(0.6) ? 2 : 3;
    int placed = 0;
    while (placed < n) {
      const int f = uniform(0, kFiles - 1);
      if (!in[f]) {
        in[f] = true;
        ++placed;
      }
    }
    return in;
  }

  std::mt19937_64& rng() { return rng_; }

 private:
  std::mt19937_64 rng_;
};

std::vector<Entry> make_names(Generator& g, int count) {
  static const std::vector<uint16_t> types = {1, 2, 5, 6, 15, 16, 28, 33, 99, 257, 65280};
  std::set<std::string> seen;
  std::vector<Entry> out;
  while (static_cast<int>(out.size()) < count) {
    std::string n = g.name();
    if (!seen.insert(n).second) continue;
    Entry e;
    e.key = n;
    e.per_file.resize(kFiles);
    const auto in = g.files();
    for (int f = 0; f < kFiles; ++f) {
      if (!in[f]) continue;
      std::set<uint16_t> ts;
      const int k = g.uniform(1, 3);
      while (static_cast<int>(ts.size()) < k) ts.insert(g.pick(types));
      for (uint16_t t : ts) e.per_file[f].push_back(g.obs(t, true));
    }
    out.push_back(std::move(e));
  }
  std::sort(out.begin(), out.end(),
            [](const Entry& a, const Entry& b) { return oracle_name_order(a.key, b.key) < 0; });
  return out;
}

std::vector<uint8_t> wire_name(const std::string& name) {
  std::vector<uint8_t> w;
  size_t start = 0;
  while (start < name.size()) {
    size_t dot = name.find('.', start);
    if (dot == std::string::npos) dot = name.size();
    w.push_back(static_cast<uint8_t>(dot - start));
    for (size_t i = start; i < dot; ++i) w.push_back(static_cast<uint8_t>(name[i]));
    start = dot + 1;
  }
  w.push_back(0);
  return w;
}

std::vector<Entry> make_rdata(Generator& g, int count) {
  std::set<std::vector<uint32_t>> seen;
  std::vector<Entry> out;
  while (static_cast<int>(out.size()) < count) {
    Entry e;
    char buf[128];
    switch (g.uniform(0, 5)) {
      case 0: {  // A
        e.rdata_type = 1;
        e.raw = {static_cast<uint8_t>(g.chance(0.5) ? 10 : 192), static_cast<uint8_t>(g.uniform(0, 3)),
                 static_cast<uint8_t>(g.uniform(0, 255)), static_cast<uint8_t>(g.uniform(0, 255))};
        std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", e.raw[0], e.raw[1], e.raw[2], e.raw[3]);
        e.key = buf;
        break;
      }
      case 1: {  // AAAA
        e.rdata_type = 28;
        e.raw.assign(16, 0);
        e.raw[0] = 0x20;
        e.raw[1] = 0x01;
        e.raw[2] = 0x0d;
        e.raw[3] = 0xb8;
        e.raw[15] = static_cast<uint8_t>(g.uniform(0, 255));
        e.raw[14] = static_cast<uint8_t>(g.uniform(0, 3));
        std::snprintf(buf, sizeof buf, "2001:db8::%x", e.raw[14] * 256 + e.raw[15]);
        e.key = buf;
        break;
      }
      case 2:
      case 3: {  // NS or CNAME: the same name under two types gives two keys
        e.rdata_type = g.chance(0.5) ? 2 : 5;
        std::string n = g.name();
        while (!n.empty() && n.back() == '.') n.pop_back();
        std::transform(n.begin(), n.end(), n.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
        if (n.empty() || n.find("..") != std::string::npos || n.size() > 60) continue;
        e.raw = wire_name(n);
        e.key = n + ".";
        break;
      }
      case 4: {  // TXT, with blanks and quotes in the key
        e.rdata_type = 16;
        std::string s = "v=spf1 " + g.random_label(1, 8) + " ~all";
        e.raw.push_back(static_cast<uint8_t>(s.size()));
        e.raw.insert(e.raw.end(), s.begin(), s.end());
        e.key = "\"" + s + "\"";
        break;
      }
      default: {  // NULL-like short values from a tiny alphabet: many are prefixes of others
        e.rdata_type = static_cast<uint16_t>(g.chance(0.5) ? 10 : 1);
        const int n = g.uniform(1, 5);
        std::string text = "\\# " + std::to_string(n) + " ";
        for (int i = 0; i < n; ++i) {
          static const uint8_t alphabet[] = {0x00, 0x01, 0x02, 0x0a, 0xff};
          e.raw.push_back(alphabet[g.uniform(0, 4)]);
          std::snprintf(buf, sizeof buf, "%02x", e.raw.back());
          text += buf;
        }
        e.key = text;
        break;
      }
    }
    if (!seen.insert(rdata_sequence(e.raw, e.rdata_type)).second) continue;
    e.per_file.resize(kFiles);
    const auto in = g.files();
    for (int f = 0; f < kFiles; ++f) {
      if (in[f]) e.per_file[f].push_back(g.obs(e.rdata_type, false));
    }
    out.push_back(std::move(e));
  }
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) {
    return rdata_sequence(a.raw, a.rdata_type) < rdata_sequence(b.raw, b.rdata_type);
  });
  return out;
}

std::string raw_prefix(const std::vector<uint8_t>& raw, bool upper) {
  std::string s = std::to_string(raw.size()) + "/";
  char b[3];
  for (uint8_t c : raw) {
    std::snprintf(b, sizeof b, upper ? "%02X" : "%02x", c);
    s += b;
  }
  return s;
}

// Writes one index file per file slot; the last file carries no time fence.
std::vector<std::string> write_files(const TempDir& dir, const std::string& stem,
                                     const std::vector<Entry>& entries, bool rdata) {
  std::vector<std::string> paths;
  for (int f = 0; f < kFiles; ++f) {
    std::vector<std::string> lines;
    TimeFence fence;
    fence.set = f != kFiles - 1;
    fence.earliest = UINT32_MAX;
    for (const Entry& e : entries) {
      const auto& obs = e.per_file[f];
      if (obs.empty()) continue;
      const bool upper = (f == 1);
      std::string line = e.key + "\t";
      if (rdata) line += raw_prefix(e.raw, upper) + " ";
      for (size_t i = 0; i < obs.size(); ++i) line += (i ? " " : "") + index_token(obs[i], upper);
      lines.push_back(line);
      for (const Obs& o : obs) {
        fence.earliest = std::min<uint32_t>(fence.earliest, static_cast<uint32_t>(o.first));
        fence.latest = std::max<uint32_t>(fence.latest, static_cast<uint32_t>(std::max(o.first, o.last)));
      }
    }
    paths.push_back(dir.file(stem + std::to_string(f) + ".idx"));
    write_index(paths.back(), lines, rdata, fence, rdata);
  }
  return paths;
}

// ---- the brute force ---------------------------------------------------------------------

struct Filter {
  std::vector<std::string> args;
  bool after_set = false, before_set = false, complete = false;
  int64_t after = 0, before = 0;

  bool passes(int64_t f, int64_t l) const {
    if (!complete) {
      if (before_set && f > before) return false;
      if (after_set && l < after) return false;
    } else {
      if (after_set && f < after) return false;
      if (before_set && l > before) return false;
    }
    return true;
  }
};

class Oracle {
 public:
  bool compile(const std::string& regex) {
    hs_compile_error_t* err = nullptr;
    if (hs_compile(regex.c_str(), HS_FLAG_CASELESS | HS_FLAG_SINGLEMATCH | HS_FLAG_ALLOWEMPTY,
                   HS_MODE_BLOCK, nullptr, &db_, &err) != HS_SUCCESS) {
      hs_free_compile_error(err);
      return false;
    }
    return hs_alloc_scratch(db_, &scratch_) == HS_SUCCESS;
  }
  ~Oracle() {
    hs_free_scratch(scratch_);
    hs_free_database(db_);
  }
  bool match(const std::string& s) {
    bool hit = false;
    hs_scan(db_, s.data(), static_cast<unsigned>(s.size()), 0, scratch_,
            [](unsigned, unsigned long long, unsigned long long, unsigned, void* ctx) {
              *static_cast<bool*>(ctx) = true;
              return 1;
            },
            &hit);
    return hit;
  }

 private:
  hs_database_t* db_ = nullptr;
  hs_scratch_t* scratch_ = nullptr;
};

// One expected raw line, its tokens in a canonical order (the merger's element order
// depends on which index's line it met first, which the search does not promise).
std::string canonical(const std::string& key, std::vector<std::string> tokens, const std::string& prefix) {
  std::sort(tokens.begin(), tokens.end());
  std::string s = key + "\t" + prefix;
  for (size_t i = 0; i < tokens.size(); ++i) s += (i ? " " : "") + tokens[i];
  return s;
}

std::vector<std::string> brute_force(const std::vector<Entry>& entries, bool rdata, Oracle& re,
                                     const Filter& filter) {
  std::vector<std::string> out;
  for (const Entry& e : entries) {
    if (!re.match(e.key)) continue;
    std::map<uint16_t, Obs> merged;
    std::vector<uint16_t> order;
    for (const auto& obs : e.per_file) {
      for (const Obs& o : obs) {
        auto [it, fresh] = merged.try_emplace(o.type, o);
        if (fresh) continue;
        it->second.count += o.count;
        it->second.first = std::min(it->second.first, o.first);
        it->second.last = std::max(it->second.last, o.last);
      }
    }
    std::vector<std::string> tokens;
    for (auto& [type, o] : merged) {
      if (o.last == 0) o.last = o.first;
      if (!filter.passes(o.first, o.last)) continue;
      if (o.count == 0) o.count = 1;
      tokens.push_back(raw_token(o));
    }
    if (tokens.empty()) continue;
    out.push_back(canonical(e.key, tokens, rdata ? raw_prefix(e.raw, false) + " " : ""));
  }
  return out;
}

std::vector<std::string> canonical_output(const std::string& out, bool rdata) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    size_t nl = out.find('\n', start);
    if (nl == std::string::npos) nl = out.size();
    const std::string line = out.substr(start, nl - start);
    start = nl + 1;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      lines.push_back("MALFORMED: " + line);
      continue;
    }
    std::string rest = line.substr(tab + 1), prefix;
    if (rdata) {
      const size_t blank = rest.find(' ');
      prefix = rest.substr(0, blank + 1);
      rest = rest.substr(blank + 1);
    }
    std::vector<std::string> tokens;
    size_t p = 0;
    while (p <= rest.size()) {
      size_t q = rest.find(' ', p);
      if (q == std::string::npos) q = rest.size();
      tokens.push_back(rest.substr(p, q - p));
      p = q + 1;
    }
    lines.push_back(canonical(line.substr(0, tab), tokens, prefix));
  }
  return lines;
}

// ---- expressions -------------------------------------------------------------------------

std::string regex_escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (std::string("$()*+.?[\\^{|").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

std::string glob_escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '*' || c == '?' || c == '[' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

// The glob as an anchored regular expression for the brute force.
std::string glob_to_regex(const std::string& g) {
  std::string re = "^";
  for (size_t i = 0; i < g.size(); ++i) {
    const char c = g[i];
    if (c == '*') {
      re += ".*";
    } else if (c == '?') {
      re += ".";
    } else if (c == '[') {
      const size_t close = g.find(']', i + 2);
      std::string body = g.substr(i + 1, close - i - 1);
      if (!body.empty() && body[0] == '!') body[0] = '^';
      re += "[" + body + "]";
      i = close;
    } else if (c == '\\') {
      re += "\\";
      re += g[++i];
    } else if (std::isalnum(static_cast<unsigned char>(c))) {
      re += c;
    } else {
      re += "\\";
      re += c;
    }
  }
  return re + "$";
}

std::string substring(Generator& g, const std::string& s, int min_len, int max_len) {
  const int len = std::min<int>(static_cast<int>(s.size()), g.uniform(min_len, max_len));
  const int start = g.uniform(0, static_cast<int>(s.size()) - len);
  return s.substr(start, len);
}

std::string flip_case(Generator& g, std::string s) {
  if (g.chance(0.2)) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return s;
}

std::string last_labels(const std::string& key, int n) {
  size_t p = key.size();
  for (int i = 0; i < n && p != std::string::npos && p > 0; ++i) p = key.rfind('.', p - 1);
  return p == std::string::npos ? key : key.substr(p + 1);
}

std::string make_regex(Generator& g, const std::vector<Entry>& entries) {
  const std::string& k = g.pick(entries).key;
  const std::string& k2 = g.pick(entries).key;
  switch (g.uniform(0, 13)) {
    case 0:
    case 1: return flip_case(g, regex_escape(substring(g, k, 3, 8)));
    case 2: return regex_escape(last_labels(k, g.uniform(1, 2))) + "$";
    case 3: return "^" + regex_escape(substring(g, k.substr(0, k.find('.')), 1, 6));
    case 4: return "(" + regex_escape(substring(g, k, 3, 6)) + "|" + regex_escape(substring(g, k2, 3, 6)) + ")";
    case 5: return "^(www|mail|ns[0-9])\\." + (g.chance(0.5) ? std::string("") : "[a-z]+\\.");
    case 6: return regex_escape(substring(g, k, 2, 4)) + "[0-9]{1,2}";
    case 7: return "[a-z]{2,3}[0-9]+\\." + regex_escape(last_labels(k, 1));
    case 8: {
      std::string s = substring(g, k, 4, 8);
      s[g.uniform(0, static_cast<int>(s.size()) - 1)] = '#';
      std::string re = regex_escape(s);
      re.replace(re.find('#'), 1, ".");
      return re;
    }
    case 9: return regex_escape(substring(g, k, 2, 4)) + ".*" + regex_escape(substring(g, k2, 2, 4));
    case 10: return "(" + regex_escape(substring(g, k, 2, 5)) + ")?" + regex_escape(substring(g, k2, 3, 5));
    case 11: return g.pick(std::vector<std::string>{"", ".", "[0-9]", "e", "^.{3,7}$", "^[^.]+$", "-", "_",
                                                      "\\.$", "^[a-z]", "(a|b)c", "zzzqqq", "\\*"});
    case 12: return "^" + regex_escape(k) + "$";
    default: return regex_escape(substring(g, k, 3, 5)) + "[^.]*\\.[a-z]+$";
  }
}

std::string make_glob(Generator& g, const std::vector<Entry>& entries) {
  const std::string& k = g.pick(entries).key;
  switch (g.uniform(0, 7)) {
    case 0: return "*" + glob_escape(substring(g, k, 3, 6)) + "*";
    case 1: return "*." + glob_escape(last_labels(k, 1));
    case 2: return glob_escape(k.substr(0, k.find('.'))) + ".*";
    case 3: return "?" + glob_escape(k.substr(1));
    case 4: return g.pick(std::vector<std::string>{"[a-m]*", "*[0-9]*", "*[!a-z.]*", "*", "??", "*-*"});
    case 5: return flip_case(g, glob_escape(k));
    case 6: return "*" + glob_escape(substring(g, k, 2, 3)) + "?" + glob_escape(substring(g, k, 2, 3)) + "*";
    default: return "[!w]*" + glob_escape(substring(g, k, 3, 4)) + "*";
  }
}

// A random time filter of one of the six shapes (-A, -B or both, with or without -c).
// Most bounds are times that the given records carry, so that the inclusive edges of
// the filters are exercised, not only their insides.
Filter make_filter(Generator& g, const std::vector<const Entry*>& pool) {
  auto t = [&]() -> int64_t {
    if (!pool.empty() && g.chance(0.7)) {
      const Entry* e = g.pick(pool);
      for (const auto& obs : e->per_file) {
        for (const Obs& o : obs) {
          if (o.first != 0 && g.chance(0.5)) return g.chance(0.5) ? o.first : o.last;
        }
      }
    }
    return g.uniform(static_cast<int>(kTimeLow), static_cast<int>(kTimeHigh));
  };
  Filter f;
  f.complete = g.chance(0.5);
  const int shape = g.uniform(0, 2);  // -A, -B, both
  f.after_set = shape != 1;
  f.before_set = shape != 0;
  if (f.after_set) f.after = t();
  if (f.before_set) f.before = t();
  if (shape == 2 && f.before < f.after) std::swap(f.before, f.after);
  if (f.complete) f.args.push_back("-c");
  if (f.after_set) f.args.insert(f.args.end(), {"-A", std::to_string(f.after)});
  if (f.before_set) f.args.insert(f.args.end(), {"-B", std::to_string(f.before)});
  return f;
}

uint64_t test_seed() {
  const char* s = std::getenv("QUARN_DIFF_SEED");
  return s != nullptr ? std::strtoull(s, nullptr, 10) : 20261208;
}

void run_differential(const std::vector<Entry>& entries, const std::vector<std::string>& files,
                      bool rdata, Generator& g, int expressions) {
  int nonempty = 0;
  for (int i = 0; i < expressions; ++i) {
    const bool glob = g.chance(0.3);
    const std::string expr = glob ? make_glob(g, entries) : make_regex(g, entries);
    Oracle re;
    ASSERT_TRUE(re.compile(glob ? glob_to_regex(expr) : expr)) << expr;
    // Every expression runs unfiltered, and with two time filters whose bounds mostly
    // come from the records it matches.
    std::vector<const Entry*> matching;
    for (const Entry& e : entries) {
      if (re.match(e.key)) matching.push_back(&e);
    }
    const std::vector<Filter> filters = {Filter{}, make_filter(g, matching), make_filter(g, matching)};
    for (const Filter* f : {&filters[0], &filters[1], &filters[2]}) {
      std::vector<std::string> args = {"-r", "-L", "-1"};
      for (const std::string& file : files) args.insert(args.end(), {"-l", file});
      if (glob) args.push_back("-g");
      args.insert(args.end(), f->args.begin(), f->args.end());
      args.insert(args.end(), {"-s", expr});
      const RunResult r = run_quarnsearch(args);
      std::string cmd;
      for (const std::string& a : args) cmd += " '" + a + "'";
      ASSERT_EQ(r.status, 0) << "quarnsearch" << cmd << "\n" << r.err;
      const auto want = brute_force(entries, rdata, re, *f);
      const auto got = canonical_output(r.out, rdata);
      if (f == &filters[0]) nonempty += !want.empty();
      if (want == got) continue;
      // Name the first difference: easier to read than two long lists.
      size_t d = 0;
      while (d < want.size() && d < got.size() && want[d] == got[d]) ++d;
      FAIL() << "quarnsearch" << cmd << "\n(seed " << test_seed() << ") expected " << want.size()
             << " results, got " << got.size() << "; first difference at " << d << ":\n  expected: "
             << (d < want.size() ? want[d] : "<end>") << "\n  got:      " << (d < got.size() ? got[d] : "<end>");
    }
  }
  // The generator must produce searches with results, or the comparison proves little.
  EXPECT_GT(nonempty, expressions / 2);
}

TEST(Differential, OwnerNameSearchesMatchBruteForce) {
  Generator g(test_seed());
  TempDir dir;
  const auto entries = make_names(g, 4000);
  const auto files = write_files(dir, "names", entries, false);
  run_differential(entries, files, false, g, 160);
}

TEST(Differential, RdataSearchesMatchBruteForce) {
  Generator g(test_seed() + 1);
  TempDir dir;
  const auto entries = make_rdata(g, 2500);
  const auto files = write_files(dir, "rdata", entries, true);
  run_differential(entries, files, true, g, 70);
}

}  // namespace
}  // namespace quarn::test
