// Key ranges: one search's index files cut into slices of the key order, so that each
// slice can be searched on its own thread and the slices' answers, in slice order, are
// the answer of the whole search.
//
// split_key_ranges picks up to parts - 1 split keys from the string table of the largest
// index (the keys at evenly spaced bytes, so that the slices hold about equal shares of
// its lines), drops repeats, and in every index finds each slice's lines by bisection
// (index/line_range.h). Slice p holds the keys from split key p - 1 (included) up to
// split key p (excluded); a key equal to a split key therefore lands in exactly one
// slice in every file. Owner-name split keys are bare names (no annotation, no suffix),
// so that lines the merger treats as one key never fall on two sides of one.
//
// open_merger builds a merger over given indexes, optionally limited to one slice; it is
// what a data source's open() does once its indexes are known.
//
// Ownership: KeyRanges holds its own reference on each index, so the ranges' pointers
// stay valid for as long as it lives. Failures: split_key_ranges returns false when a
// line index turned out damaged; the search is then run whole, which reports it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "index/line_range.h"
#include "index/tgdb.h"

namespace quarn {

class search_context;
class tgdb_merger;

struct KeyRanges {
  std::vector<TgdbRef> indexes;
  // parts[p][i]: the lines of slice p in indexes[i]; every slice has one per index.
  std::vector<std::vector<LineRange>> parts;
};

bool split_key_ranges(const std::vector<TgdbRef>& indexes, size_t parts, KeyRanges* out);

// A merger over the indexes (all of one kind, at least one), each limited to its line
// range when ranges is given (one per index, in the same order).
std::unique_ptr<tgdb_merger> open_merger(search_context& context,
                                         const std::vector<TgdbRef>& indexes,
                                         const std::vector<LineRange>* ranges = nullptr);

}  // namespace quarn
