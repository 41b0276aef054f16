// Finding a subtree's run of lines; see subtree_run.h.
#include "index/subtree_run.h"

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "common/trigram.h"
#include "index/format.h"
#include "index/line_lookup.h"
#include "index/name_order.h"
#include "index/tgdb.h"

namespace quarn {

namespace {

struct line_pos {
  uint64_t number = 0;
  const char* text = nullptr;  // the table's end when past the last line
};

class table_view {
 public:
  explicit table_view(const Tgdb& index)
      : index_(index),
        begin_(index.string_table()),
        end_(begin_ + index.string_table_size()) {
    const uint64_t li = index.line_index_size();
    entries_ = li < 8 ? 0 : (li - 8) / kLineIndexEntrySize + 1;
  }

  const char* end() const { return end_; }
  std::string_view line(const char* p) const {
    return std::string_view(p, static_cast<size_t>(end_ - p));
  }

  // The first line for which past() holds, where past() is false on a prefix of the
  // lines and true after it (the table's end when it never holds). False when the line
  // index is damaged or the lines between two entries do not agree with that shape.
  template <class Past>
  bool first_past(Past past, line_pos* out) const {
    if (begin_ == end_) {
      *out = line_pos{0, end_};
      return true;
    }
    const char* p = nullptr;
    if (entries_ == 0 || !entry_line(0, &p) || p == nullptr) return false;
    if (past(line(p))) {
      *out = line_pos{0, p};
      return true;
    }
    // Invariant: past() is false at entry lo's line; entries from hi on are past it or
    // missing.
    uint64_t lo = 0, hi = entries_;
    while (hi - lo > 1) {
      const uint64_t mid = lo + (hi - lo) / 2;
      if (!entry_line(mid, &p)) return false;
      if (p == nullptr || past(line(p)))
        hi = mid;
      else
        lo = mid;
    }
    if (!entry_line(lo, &p) || p == nullptr) return false;
    uint64_t n = lo * kLinesPerIndexEntry;
    // The next entry's line is past it, so it is reached within one entry's lines.
    for (uint64_t step = 0; step < kLinesPerIndexEntry; ++step) {
      const void* nl = std::memchr(p, '\n', static_cast<size_t>(end_ - p));
      p = nl ? static_cast<const char*>(nl) + 1 : end_;
      ++n;
      if (p == end_ || past(line(p))) {
        *out = line_pos{n, p};
        return true;
      }
    }
    return false;
  }

 private:
  bool entry_line(uint64_t k, const char** p) const {
    bool damaged = false;
    *p = line_lookup(index_, k * kLinesPerIndexEntry, &damaged);
    return !damaged;
  }

  const Tgdb& index_;
  const char* begin_;
  const char* end_;
  uint64_t entries_ = 0;
};

// True when `name` is `root` or ends with "." + root.
bool in_subtree(std::string_view name, std::string_view root) {
  if (name.size() < root.size() || name.substr(name.size() - root.size()) != root) return false;
  return name.size() == root.size() || name[name.size() - root.size() - 1] == '.';
}

std::string_view name_of(std::string_view line) { return name_order_split(line).name; }

// The label of `name` just left of `parent` (a run of trailing labels, empty for the
// rightmost label), or false when the name does not end with those labels.
bool label_left_of(std::string_view name, std::string_view parent, std::string_view* label) {
  if (!parent.empty()) {
    if (name.size() <= parent.size() || !in_subtree(name, parent)) return false;
    name = name.substr(0, name.size() - parent.size() - 1);
  }
  const size_t dot = name.rfind('.');
  *label = dot == std::string_view::npos ? name : name.substr(dot + 1);
  return true;
}

// True when some line's name spells the label [from, to) of root, under the rest of
// root, with an upper-case letter at `at` and the root's bytes before it. Such labels
// lie between the label with every letter from `at` on upper-cased and the one with
// only `at` upper-cased, so the first line at or after the lower one tells.
bool upper_case_spelling_at(const table_view& table, std::string_view root, size_t from,
                            size_t to, size_t at, std::string* probe) {
  const std::string_view parent = to < root.size() ? root.substr(to + 1) : std::string_view();
  probe->assign(root.substr(0, to));
  probe->erase(0, from);
  for (size_t i = at - from; i < probe->size(); ++i)
    (*probe)[i] = static_cast<char>(std::toupper(static_cast<unsigned char>((*probe)[i])));
  std::string high(root.substr(from, to - from));
  high[at - from] = (*probe)[at - from];
  const size_t label_length = probe->size();
  if (!parent.empty()) probe->append(".").append(parent);
  line_pos pos;
  const std::string_view key(*probe);
  if (!table.first_past([&](std::string_view l) { return name_order(l, key) >= 0; }, &pos))
    return true;  // cannot tell: count it as there
  if (pos.text == table.end()) return false;
  std::string_view label;
  if (!label_left_of(name_of(table.line(pos.text)), parent, &label)) return false;
  return label.size() == label_length && label.compare(high) <= 0;
}

// True when no line may spell the root's labels with upper-case letters (see above).
bool root_spelled_lower_case_only(const table_view& table, std::string_view root) {
  std::string probe;
  size_t to = root.size();
  while (true) {
    const size_t dot = to == 0 ? std::string_view::npos : root.rfind('.', to - 1);
    const size_t from = dot == std::string_view::npos ? 0 : dot + 1;
    for (size_t at = from; at < to; ++at) {
      if (!std::islower(static_cast<unsigned char>(root[at]))) continue;
      if (upper_case_spelling_at(table, root, from, to, at, &probe)) return false;
    }
    if (dot == std::string_view::npos) return true;
    to = dot;
  }
}

}  // namespace

bool keys_may_hold_blank(const Tgdb& index) {
  // Every trigram with the symbol in one of its three places: 3 * 41 * 41 list sizes,
  // read from the trigram table (no list is opened).
  for (uint8_t a = 0; a < kAlphabetSize; ++a) {
    for (uint8_t b = 0; b < kAlphabetSize; ++b) {
      if (index.nrefs(trigram_ordinal_of_symbols(kSymbolOther, a, b)) != 0 ||
          index.nrefs(trigram_ordinal_of_symbols(a, kSymbolOther, b)) != 0 ||
          index.nrefs(trigram_ordinal_of_symbols(a, b, kSymbolOther)) != 0)
        return true;
    }
  }
  return false;
}

bool find_subtree_run(const Tgdb& index, const name_subtree& subtree, subtree_run* run,
                      uint64_t max_lines) {
  const std::string_view root(subtree.root);
  if (index.is_rdata() || root.empty() || keys_may_hold_blank(index)) return false;
  const table_view table(index);
  line_pos first, end;
  const bool with_root = subtree.include_root;
  if (!table.first_past(
          [&](std::string_view l) {
            const int c = name_order(l, root);
            return with_root ? c >= 0 : c > 0;
          },
          &first))
    return false;
  if (!table.first_past(
          [&](std::string_view l) {
            return name_order(l, root) > 0 && !in_subtree(name_of(l), root);
          },
          &end))
    return false;
  // The spelling probes cost a bisection per letter of the root: only for a run that
  // will be used.
  if (end.number < first.number || end.number - first.number > max_lines ||
      !root_spelled_lower_case_only(table, root))
    return false;
  *run = subtree_run{first.number, end.number, first.text, end.text};
  return true;
}

}  // namespace quarn
