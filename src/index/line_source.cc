#include "index/line_source.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "common/log.h"
#include "index/format.h"
#include "index/line_lookup.h"
#include "index/n_iter.h"
#include "index/search_hooks.h"
#include "index/tracker.h"
#include "index/tracker_messages.h"
#include "planner/tgr_result.h"

namespace quarn {

namespace {

// Share of the index's lines above which a query's estimated candidates make a table
// scan the cheaper way to the same lines. Measured on owner-name indexes of 1 and 10
// million lines: queries whose lists admit 80% or more of the lines (wide unions of
// common trigrams) ran two to three times faster as scans, while at about 50% the
// iterators still won by a fifth.
constexpr double kScanShare = 0.75;
// A union under an intersection with more trackers than this, admitting more than this
// factor times the lines of the intersection's sparsest child, is not walked.
constexpr size_t kWideUnion = 16;
constexpr double kDenseUnionFactor = 4.0;

double estimate_node(const Tgdb& index, const tgr_result& node) {
  double least = std::numeric_limits<double>::infinity();
  switch (node.op) {
    case TGR_INTERSECT_TRIGRAMS:
      for (uint32_t k : node.trigrams) {
        const uint64_t n = k >= kTrigramCount        ? 0
                           : index.has_real_nref_table() ? index.real_nrefs(k)
                                                         : index.nrefs(k);
        least = std::min(least, static_cast<double>(n));
      }
      return node.trigrams.empty() ? 0 : least;
    case TGR_UNION: {
      double sum = 0;
      for (const tgr_ptr& child : node.children)
        sum += child ? estimate_node(index, *child) : 0;
      return sum;
    }
    default:
      for (const tgr_ptr& child : node.children)
        least = std::min(least, child ? estimate_node(index, *child) : 0);
      return node.children.empty() ? 0 : least;
  }
}

// Trackers a seek into the node moves: its trigrams, summed over every child.
size_t tracker_count(const tgr_result& node) {
  if (node.op == TGR_INTERSECT_TRIGRAMS) return node.trigrams.size();
  size_t n = 0;
  for (const tgr_ptr& child : node.children) n += child ? tracker_count(*child) : 0;
  return n;
}

// An intersection advances at the pace of its sparsest child and seeks every other
// child to each of that child's lines. Seeking a wide union moves every one of its
// trackers, so a wide union that admits many times more lines than the sparsest child
// costs far more than it saves: it is left out, and the matcher rejects the few extra
// candidates that it would have kept out. Only a necessary condition is dropped, so the
// search's results are the same. Returns which children to leave out.
std::vector<bool> children_not_worth_walking(const Tgdb& index, const tgr_result& node) {
  std::vector<bool> skip(node.children.size(), false);
  std::vector<double> lines(node.children.size(), 0);
  size_t pace = 0;
  for (size_t i = 0; i < node.children.size(); ++i) {
    lines[i] = node.children[i] ? estimate_node(index, *node.children[i]) : 0;
    if (lines[i] < lines[pace]) pace = i;
  }
  for (size_t i = 0; i < node.children.size(); ++i) {
    if (i == pace || !node.children[i] || node.children[i]->op != TGR_UNION) continue;
    skip[i] = tracker_count(*node.children[i]) > kWideUnion &&
              lines[i] > kDenseUnionFactor * lines[pace];
  }
  return skip;
}

// Builds one node's iterator; see the header for the error-flag rules.
std::unique_ptr<n_iter> build_node(const Tgdb* index, search_hooks& search,
                                   const tgr_result* node, bool* error) {
  if (index == nullptr || node == nullptr) return nullptr;
  const size_t count = node->size();
  if (count == 0) return nullptr;

  const bool is_union = node->op == TGR_UNION;
  std::unique_ptr<union_iter> unite;
  std::unique_ptr<intersect_iter> intersect;
  if (is_union)
    unite = union_iter_new();
  else
    intersect = intersect_iter_new();

  // Each failure path below destroys the node built so far with whatever it holds.
  auto fail = [&]() -> std::unique_ptr<n_iter> {
    QLOG(LOG_DEBUG, tracker_msg::kEmptyAfterFill, count);
    return nullptr;
  };

  std::vector<bool> skip;
  if (node->op == TGR_INTERSECT_CHILDREN && count > 1)
    skip = children_not_worth_walking(*index, *node);

  size_t added = 0;
  for (size_t i = 0; i < count; ++i) {
    if (!skip.empty() && skip[i]) {
      QLOG(LOG_DETAIL, tracker_msg::kUnionLeftOut, tracker_count(*node->children[i]));
      continue;
    }
    std::unique_ptr<n_iter> child;
    if (node->op == TGR_INTERSECT_TRIGRAMS) {
      const uint32_t k = node->trigrams[i];
      bool local_error = false;
      bool ok = k < kTrigramCount && index->nrefs(k) != 0 && index->list(k) != nullptr;
      if (ok) {
        tracker t;
        if (tracker_init(t, index, &search, k) < 0) {
          QLOG(LOG_ERROR, "%s", tracker_msg::kTrackerUpdateFailed);
          local_error = true;
          ok = false;
        } else {
          child = tracker_iter_new(t);
          if (error) *error = false;
        }
      }
      if (!ok) {
        if (error) *error = local_error;
        QLOG(LOG_DEBUG, tracker_msg::kTrigramNotAdded, k);
        return fail();
      }
    } else {
      child = build_node(index, search, node->children[i].get(), error);
      if (!child) {
        if (!is_union || (error && *error)) {
          QLOG(LOG_DEBUG, "%s", tracker_msg::kSubtrackerFailed);
          return fail();
        }
        // A member that admits nothing adds nothing to a union.
        QLOG(LOG_DETAIL, "%s", tracker_msg::kSubtrackerFailed);
        continue;
      }
    }
    if (is_union)
      union_iter_add(*unite, std::move(child));
    else
      intersect_iter_add(*intersect, std::move(child));
    ++added;
  }

  if (added == 0) {
    QLOG(LOG_DETAIL, tracker_msg::kEmptyAfterFill, count);
    return nullptr;
  }
  return is_union ? union_iter_finish(std::move(unite))
                  : intersect_iter_finish(std::move(intersect));
}

}  // namespace

std::unique_ptr<n_iter> build_query_iterator(const Tgdb* index, search_hooks& search,
                                             const tgr_result* node, bool* error) {
  return build_node(index, search, node, error);
}

// A trigram's line count is its entry count when the file has no real nref table; lines
// in several union members count several times, as they cost a heap step each.
double estimate_candidates(const Tgdb& index, const tgr_result& node) {
  return estimate_node(index, node);
}

line_source::line_source(Tgdb* index) : index_(TgdbRef::share(index)) {
  table_ = index->string_table();
  table_end_ = table_ + index->string_table_size();
}

line_source::~line_source() = default;

std::unique_ptr<line_source> line_source::create(Tgdb* index, search_hooks& search,
                                                 bool* error, const LineRange* range) {
  bool err = false;
  if (error) *error = false;
  if (index == nullptr) return nullptr;
  std::unique_ptr<line_source> source(new line_source(index));
  // A query whose lists would yield most of the lines costs more through the iterators
  // (a heap step per entry of every union member, a seek into every member of a union
  // under an intersection) than reading the table in order, and the matcher gives the
  // same lines either way. The estimate is 0 for a query that admits nothing (an
  // intersection with an empty list), so such queries still end at once below.
  bool scan = search.query() == nullptr;
  if (!scan) {
    const double candidates = estimate_candidates(*index, *search.query());
    const uint64_t lines = line_count_bound(*index);
    if (candidates > kScanShare * static_cast<double>(lines)) {
      QLOG(LOG_DETAIL, tracker_msg::kScanInstead, candidates, static_cast<unsigned long>(lines));
      scan = true;
    }
  }
  // The scan-or-iterate choice above is the whole index's, so that every range of a
  // split search reads its index the same way.
  const LineRange lines = range != nullptr ? *range : whole_table(*index);
  if (scan) {
    source->scan_ = std::make_unique<table_scan>(lines.begin, lines.stop, search);
  } else {
    source->root_ = build_query_iterator(index, search, search.query(), &err);
    if (error) *error = err;
    if (!source->root_) return nullptr;
    if (lines.first > 0) source->root_->seek(lines.first);
    source->end_line_ = lines.end;
  }
  return source;
}

bool line_source::next(const char** line, size_t* length) {
  const char* p;
  if (root_) {
    uint64_t n;
    if (exhausted_ || !n_iter_next(*root_, &n)) return false;
    if (n >= end_line_) {
      exhausted_ = true;
      return false;
    }
    bool bad_position = false;
    p = line_lookup(*index_, n, &bad_position);
    // Line numbers ascend strictly, so their lines must too: a line at or before the last
    // one would be merged twice or out of key order.
    if (p != nullptr && p <= last_line_) bad_position = true;
    if (bad_position) {
      QLOG(LOG_ERROR, tracker_msg::kLineIndexDamaged, index_->path().c_str(),
           static_cast<unsigned long>(n));
      damaged_ = exhausted_ = true;
      return false;
    }
    if (p == nullptr) {
      QLOG(LOG_ERROR, tracker_msg::kLinePastTable, static_cast<unsigned long>(n),
           index_->path().c_str());
      exhausted_ = true;
      return false;
    }
    last_line_ = p;
    const void* nl = std::memchr(p, '\n', static_cast<size_t>(table_end_ - p));
    *line = p;
    *length = nl ? static_cast<size_t>(static_cast<const char*>(nl) - p)
                 : static_cast<size_t>(table_end_ - p);
    return true;
  }

  return scan_->next(line, length, &confirmed_);
}

}  // namespace quarn
