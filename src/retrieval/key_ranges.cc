// Key ranges of a split search; see key_ranges.h.
#include "retrieval/key_ranges.h"

#include <cstring>
#include <string_view>

#include "index/name_order.h"
#include "retrieval/rdata_order.h"
#include "retrieval/tgdb_merger.h"

namespace quarn {
namespace {

int rdata_compare(std::string_view a, std::string_view b) { return rdata_line_compare(a, b); }

const Tgdb& largest_of(const std::vector<TgdbRef>& indexes) {
  const Tgdb* best = indexes.front().get();
  for (const TgdbRef& t : indexes)
    if (t->string_table_size() > best->string_table_size()) best = t.get();
  return *best;
}

// The split key of the line starting at p: the whole line for rdata (its order reads the
// annotation's type), the bare name for owner names.
std::string split_key_at(const char* p, const char* end, bool rdata) {
  const char* stop = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
  if (stop == nullptr) stop = end;
  std::string_view line(p, static_cast<size_t>(stop - p));
  if (!rdata) line = line.substr(0, line.find_first_of("\t "));
  return std::string(line);
}

// Up to parts - 1 strictly ascending split keys from evenly spaced bytes of the table.
std::vector<std::string> split_keys(const Tgdb& t, size_t parts, line_compare_fn compare) {
  std::vector<std::string> keys;
  const char* table = t.string_table();
  const uint64_t size = t.string_table_size();
  const char* end = table + size;
  for (size_t p = 1; p < parts; ++p) {
    const char* at = table + size / parts * p;
    const void* nl = std::memchr(at, '\n', static_cast<size_t>(end - at));
    if (nl == nullptr) break;
    const char* line = static_cast<const char*>(nl) + 1;
    if (line >= end) break;
    std::string key = split_key_at(line, end, t.is_rdata());
    if (key.empty()) continue;
    if (!keys.empty() && compare(keys.back(), key) >= 0) continue;
    keys.push_back(std::move(key));
  }
  return keys;
}

}  // namespace

bool split_key_ranges(const std::vector<TgdbRef>& indexes, size_t parts, KeyRanges* out) {
  out->indexes = indexes;
  out->parts.clear();
  if (indexes.empty()) return true;
  const line_compare_fn compare = indexes.front()->is_rdata() ? &rdata_compare : &name_order;
  const std::vector<std::string> keys = split_keys(largest_of(indexes), parts, compare);
  out->parts.assign(keys.size() + 1, std::vector<LineRange>(indexes.size()));
  for (size_t i = 0; i < indexes.size(); ++i) {
    LineRange previous = whole_table(*indexes[i]);
    for (size_t k = 0; k < keys.size(); ++k) {
      uint64_t line = 0;
      const char* pos = nullptr;
      if (!first_line_not_before(*indexes[i], keys[k], compare, &line, &pos)) return false;
      // A table out of order may bisect backwards; a slice never runs backwards.
      if (pos < previous.begin || line < previous.first) {
        pos = previous.begin;
        line = previous.first;
      }
      previous.end = line;
      previous.stop = pos;
      out->parts[k][i] = previous;
      previous.first = line;
      previous.begin = pos;
      previous.end = UINT64_MAX;
      previous.stop = whole_table(*indexes[i]).stop;
    }
    out->parts[keys.size()][i] = previous;
  }
  return true;
}

std::unique_ptr<tgdb_merger> open_merger(search_context& context,
                                         const std::vector<TgdbRef>& indexes,
                                         const std::vector<LineRange>* ranges) {
  if (indexes.empty()) return nullptr;
  auto merger = std::make_unique<tgdb_merger>(context, indexes.front()->is_rdata());
  for (size_t i = 0; i < indexes.size(); ++i)
    merger->add_index(indexes[i].get(), ranges != nullptr ? &(*ranges)[i] : nullptr);
  return merger;
}

}  // namespace quarn
