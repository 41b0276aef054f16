#include "index/name_order.h"

#include <cstring>

namespace quarn {

namespace {

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

name_order_key name_order_split(std::string_view line) {
  size_t len = line.size();
  if (const void* tab = std::memchr(line.data(), '\t', len))
    len = static_cast<size_t>(static_cast<const char*>(tab) - line.data());
  if (const void* lf = std::memchr(line.data(), '\n', len))
    len = static_cast<size_t>(static_cast<const char*>(lf) - line.data());
  name_order_key k;
  // A blank strictly inside the key separates name and suffix; the suffix keeps it.
  if (len > 2) {
    if (const void* blank = std::memchr(line.data() + 1, ' ', len - 2)) {
      const size_t at = static_cast<size_t>(static_cast<const char*>(blank) - line.data());
      k.name = line.substr(0, at);
      k.suffix = line.substr(at, len - at);
      k.has_suffix = true;
      return k;
    }
  }
  if (len > 0 && line[len - 1] == ' ') --len;
  k.name = line.substr(0, len);
  return k;
}

int name_order(std::string_view a, std::string_view b) {
  if (a.empty()) return b.empty() ? 0 : -1;
  if (b.empty()) return 1;
  const name_order_key ka = name_order_split(a);
  const name_order_key kb = name_order_split(b);
  int c = compare_names(ka.name, kb.name);
  if (c != 0 || !ka.has_suffix || !kb.has_suffix) return c;
  const size_t n = ka.suffix.size() < kb.suffix.size() ? ka.suffix.size() : kb.suffix.size();
  c = std::memcmp(ka.suffix.data(), kb.suffix.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  if (ka.suffix.size() == kb.suffix.size()) return 0;
  return ka.suffix.size() < kb.suffix.size() ? -1 : 1;
}

}  // namespace quarn
