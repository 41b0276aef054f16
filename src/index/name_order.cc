#include "index/name_order.h"

#include <cstring>

namespace quarn {

namespace {

struct SplitKey {
  std::string_view name;
  std::string_view suffix;
  bool has_suffix = false;
};

inline SplitKey split_key(std::string_view line) {
  size_t len = 0;
  while (len < line.size() && line[len] != '\t' && line[len] != '\n') ++len;
  SplitKey k;
  // A blank strictly inside the key separates name and suffix; the suffix keeps it.
  for (size_t i = 1; i + 1 < len; ++i) {
    if (line[i] == ' ') {
      k.name = line.substr(0, i);
      k.suffix = line.substr(i, len - i);
      k.has_suffix = true;
      return k;
    }
  }
  if (len > 0 && line[len - 1] == ' ') --len;
  k.name = line.substr(0, len);
  return k;
}

// Compares names label by label from the right.
inline int compare_names(std::string_view a, std::string_view b) {
  // end = one past the current rightmost unvisited label; more = labels remain.
  size_t ae = a.size(), be = b.size();
  bool amore = !a.empty(), bmore = !b.empty();
  while (true) {
    if (!amore || !bmore) return amore == bmore ? 0 : (amore ? 1 : -1);
    size_t as = ae, bs = be;
    while (as > 0 && a[as - 1] != '.') --as;
    while (bs > 0 && b[bs - 1] != '.') --bs;
    const size_t al = ae - as, bl = be - bs;
    if (al != bl) return al < bl ? -1 : 1;
    if (al != 0) {
      int c = std::memcmp(a.data() + as, b.data() + bs, al);
      if (c != 0) return c < 0 ? -1 : 1;
    }
    // A label that starts at position 0 was the leftmost one.
    amore = as > 0;
    bmore = bs > 0;
    if (amore) ae = as - 1;
    if (bmore) be = bs - 1;
  }
}

}  // namespace

int name_order(std::string_view a, std::string_view b) {
  if (a.empty()) return b.empty() ? 0 : -1;
  if (b.empty()) return 1;
  const SplitKey ka = split_key(a);
  const SplitKey kb = split_key(b);
  int c = compare_names(ka.name, kb.name);
  if (c != 0 || !ka.has_suffix || !kb.has_suffix) return c;
  const size_t n = ka.suffix.size() < kb.suffix.size() ? ka.suffix.size() : kb.suffix.size();
  c = std::memcmp(ka.suffix.data(), kb.suffix.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  if (ka.suffix.size() == kb.suffix.size()) return 0;
  return ka.suffix.size() < kb.suffix.size() ? -1 : 1;
}

}  // namespace quarn
