// The order of owner-name (rrname) string-table lines.
//
// name_order(a, b) compares two lines (key TAB annotations, or just a key) by their keys:
// negative when a sorts first, 0 for equal keys, positive when b sorts first. The key
// ends at the first tab or line feed, so a pointer into a mapped table may be passed with
// the table's end as the view's end. A view with no data or of length 0 is "none/empty":
// it sorts before every non-empty line and equals another empty one.
//
// The key is split at its first blank lying strictly inside it into a name and a suffix
// (the suffix keeps the blank); otherwise the name is the whole key less one trailing
// blank. Names compare label by label from the right ('.' separates labels): a shorter
// label sorts first, equal lengths compare bytewise (unsigned); a name that runs out of
// labels first sorts first, so a parent precedes its children (example.com before
// mail.example.com). A trailing dot is an empty last label, and empty labels elsewhere
// (leading or doubled dots) are ordinary zero-length labels. Equal names with a suffix on
// both sides compare the suffixes bytewise, then the shorter first; otherwise equal.
//
// Allocation-free and copy-free: it is the compare function of the record merger's heap.
#pragma once

#include <string_view>

namespace quarn {

int name_order(std::string_view a, std::string_view b);

// A line's key split as the order sees it: the name and, when the key holds a blank
// strictly inside it, the suffix from that blank on. Views into the line; no copy.
struct name_order_key {
  std::string_view name;
  std::string_view suffix;
  bool has_suffix = false;
};
name_order_key name_order_split(std::string_view line);

// Comparator object for containers and the index writer's order check.
struct NameOrderLess {
  bool operator()(std::string_view a, std::string_view b) const { return name_order(a, b) < 0; }
};

}  // namespace quarn
