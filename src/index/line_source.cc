#include "index/line_source.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/trigram.h"
#include "index/format.h"
#include "index/line_lookup.h"
#include "index/n_iter.h"
#include "index/search_hooks.h"
#include "index/subtree_run.h"
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
// Intersection budget (searches that ask for it): past its kBudgetKeep shortest
// members, an intersection does not walk a member admitting more than kBudgetFactor
// times the lines of its shortest one. Measured at 10 million names (bench_search
// --budget): selective literals ran two to five times faster (12 trigrams: 1.0 to
// 0.3 ms), the three shortest lists leaving a few hundred candidates for the matcher;
// keeping two left thousands (up to 25 times the results) and lost as much as it won,
// and a factor of 2 instead of 4 admitted ten times the candidates on anchored queries.
constexpr size_t kBudgetKeep = 3;
constexpr double kBudgetFactor = 4.0;
// How many lines of a subtree's run one candidate of the query's estimate is worth.
// A line of an exact subtree's run costs a line-feed search; a candidate costs a seek
// into every list of the query, a line lookup and a matcher call, and the estimate of
// an end-anchored suffix is about the run itself: at 10 million names such runs read
// 1.5 to 2 times faster (results included). Otherwise the run is scanned in blocks,
// about 7 ns a line, while the estimate (a bound) may exceed the candidates walked
// many times over: ^mail\.[a-z]+\.fr$ (688 results) estimates a third of its run's
// lines and ran a fifth slower through it, so only a run within the estimate is read.
constexpr double kRunLinesPerCandidate = 8.0;
constexpr double kMatchedRunLinesPerCandidate = 1.0;
// Queries estimated to admit fewer lines than this are read without looking for the
// run: finding it costs a few dozen microseconds (a bisection per letter of the root),
// about what a thousand candidates cost, and it could save no more than that.
constexpr double kRunWorthCandidates = 1024;
// A run shorter than this is matched line by line: compiling the block matcher costs
// about what matching this many bytes line by line costs.
constexpr size_t kBlockScanRunBytes = 1 << 20;

// Lines of one trigram's list: its line count, or its entry count when the file has no
// real nref table (then every entry stands for at least one line).
double list_lines(const Tgdb& index, uint32_t k) {
  if (k >= kTrigramCount) return 0;
  return static_cast<double>(index.has_real_nref_table() ? index.real_nrefs(k) : index.nrefs(k));
}

// Candidate lines a query node can yield in this index, from the list sizes alone: a
// trigram's line count (its entry count when the file has no real nref table), the sum
// over a union's members (lines in several members count several times, as they cost
// a heap step each), the least over an intersection's children.
double estimate_node(const Tgdb& index, const tgr_result& node) {
  double least = std::numeric_limits<double>::infinity();
  switch (node.op) {
    case TGR_INTERSECT_TRIGRAMS:
      for (uint32_t k : node.trigrams) least = std::min(least, list_lines(index, k));
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

// Which members of an intersection are not walked, and the candidate ceiling its
// members may count on (what the intersection admits at most).
struct member_plan {
  std::vector<bool> skip;  // empty: every member is walked
  double ceiling = std::numeric_limits<double>::infinity();
};

// An intersection advances at the pace of its sparsest member and seeks every other
// member to each of that member's lines. Seeking a wide union moves every one of its
// trackers, so a wide union that admits many times more lines than the sparsest member
// costs far more than it saves: it is left out, and the matcher rejects the few extra
// candidates that it would have kept out. With the search's intersection budget, any
// member admitting more than kBudgetFactor times the lines of the sparsest one (or of
// the ceiling an enclosing intersection gives) is left out the same way. Only necessary
// conditions of an intersection are dropped, never members of a union, so the search's
// results are the same.
member_plan plan_members(const Tgdb& index, const search_hooks& search,
                         const tgr_result& node, double ceiling) {
  member_plan plan;
  const size_t n = node.size();
  if (node.op == TGR_UNION || n < 2) return plan;
  const bool by_list = node.op == TGR_INTERSECT_TRIGRAMS;
  if (by_list && !search.intersection_budget()) return plan;
  std::vector<double> lines(n, 0);
  size_t pace = 0;
  for (size_t i = 0; i < n; ++i) {
    const tgr_result* child = by_list ? nullptr : node.children[i].get();
    lines[i] = by_list ? list_lines(index, node.trigrams[i])
                       : child ? estimate_node(index, *child) : 0;
    if (lines[i] < lines[pace]) pace = i;
  }
  plan.skip.assign(n, false);
  plan.ceiling = std::min(ceiling, lines[pace]);
  // Rank of each member by its lines: the kBudgetKeep shortest are always walked.
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&lines](size_t a, size_t b) { return lines[a] < lines[b]; });
  std::vector<bool> kept_short(n, false);
  for (size_t r = 0; r < n && r < kBudgetKeep; ++r) kept_short[order[r]] = true;
  for (size_t i = 0; i < n; ++i) {
    if (i == pace) continue;
    const tgr_result* child = by_list ? nullptr : node.children[i].get();
    if (child && child->op == TGR_UNION && tracker_count(*child) > kWideUnion &&
        lines[i] > kDenseUnionFactor * lines[pace]) {
      QLOG(LOG_DETAIL, tracker_msg::kUnionLeftOut, tracker_count(*child));
      plan.skip[i] = true;
    } else if (search.intersection_budget() && !kept_short[i] &&
               lines[i] > kBudgetFactor * plan.ceiling) {
      QLOG(LOG_DETAIL, tracker_msg::kOverBudget, lines[i], plan.ceiling);
      plan.skip[i] = true;
    }
  }
  return plan;
}

// Builds one node's iterator; see the header for the error-flag rules.
std::unique_ptr<n_iter> build_node(const Tgdb* index, search_hooks& search,
                                   const tgr_result* node, double ceiling, bool* error) {
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

  const member_plan plan = plan_members(*index, search, *node, ceiling);

  size_t added = 0;
  for (size_t i = 0; i < count; ++i) {
    if (!plan.skip.empty() && plan.skip[i]) continue;
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
      child = build_node(index, search, node->children[i].get(), plan.ceiling, error);
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

// The fewest lines listed under a trigram of the root as a key ends with it (the root
// and the two padding bytes): every line of the run holds all of them, so this bounds
// the run from above (from the entry counts when the file has no line counts, a guess
// then), from the trigram table alone.
double run_lines_bound(const Tgdb& index, const std::string& root) {
  double least = std::numeric_limits<double>::infinity();
  const std::string padded = root + "^^";
  for (size_t i = 0; i + 2 < padded.size(); ++i) {
    const auto* p = reinterpret_cast<const unsigned char*>(padded.data() + i);
    least = std::min(least, list_lines(index, trigram_ordinal(p[0], p[1], p[2])));
  }
  return least;
}

// The lines of the search's subtree run within `lines`, when reading them is the better
// way to this index's matches: the run holds every line that can match (see
// index/subtree_run.h), and scanning it costs less than walking the query's lists.
// False: read the index the usual way.
// `candidates` is the query's estimate, infinite when the index is to be scanned.
bool choose_subtree_run(const Tgdb& index, search_hooks& search, const LineRange& lines,
                        double candidates, LineRange* out) {
  if (search.subtree() == nullptr || index.is_rdata()) return false;
  const bool always = search.subtree_runs_always();
  const bool scan = candidates == std::numeric_limits<double>::infinity();
  if (!always && candidates < kRunWorthCandidates) return false;
  const double worth =
      search.subtree()->exact ? kRunLinesPerCandidate : kMatchedRunLinesPerCandidate;
  const double most = always ? std::numeric_limits<double>::infinity() : worth * candidates;
  const uint64_t max_lines =
      most >= static_cast<double>(UINT64_MAX) ? UINT64_MAX : static_cast<uint64_t>(most);
  // Bisecting for the run touches a few dozen scattered pages: not for a run that the
  // trigram table already shows to be too long.
  if (!always && run_lines_bound(index, search.subtree()->root) > most) return false;
  subtree_run run;
  if (!find_subtree_run(index, *search.subtree(), &run, max_lines)) return false;
  // Byte positions are line starts on both sides, so the overlap is whole lines.
  out->begin = std::max(run.begin, lines.begin);
  out->stop = std::min(run.end, lines.stop);
  if (out->stop < out->begin) out->stop = out->begin;
  out->first = std::max(run.first_line, lines.first);
  out->end = std::min(run.end_line, lines.end);
  QLOG(LOG_DETAIL, tracker_msg::kSubtreeRun, static_cast<unsigned long>(run.lines()),
       static_cast<unsigned long>(run.first_line), scan ? -1.0 : candidates,
       static_cast<unsigned long>(out->stop - out->begin));
  return true;
}

// Whether a query of this estimate reads the table in order rather than its lists.
bool estimate_scans_table(const Tgdb& index, double estimate) {
  return estimate > kScanShare * static_cast<double>(line_count_bound(index));
}

}  // namespace

double query_candidate_estimate(const Tgdb& index, const tgr_result& query) {
  return estimate_node(index, query);
}

bool query_scans_table(const Tgdb& index, const tgr_result* query) {
  return query == nullptr || estimate_scans_table(index, estimate_node(index, *query));
}

std::unique_ptr<n_iter> build_query_iterator(const Tgdb* index, search_hooks& search,
                                             const tgr_result* node, bool* error) {
  return build_node(index, search, node, std::numeric_limits<double>::infinity(), error);
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
  const double estimate = search.query() ? estimate_node(*index, *search.query()) : 0;
  const bool scan = search.query() == nullptr || estimate_scans_table(*index, estimate);
  if (scan && search.query() != nullptr) {
    QLOG(LOG_DETAIL, tracker_msg::kScanInstead, estimate,
         static_cast<unsigned long>(line_count_bound(*index)));
  }
  // The scan-or-iterate choice above is the whole index's, so that every range of a
  // split search reads its index the same way.
  const LineRange lines = range != nullptr ? *range : whole_table(*index);
  LineRange run;
  const double candidates = scan ? std::numeric_limits<double>::infinity() : estimate;
  if (choose_subtree_run(*index, search, lines, candidates, &run)) {
    if (run.begin == run.stop) return nullptr;
    // Every line of an exact subtree's run matches: a run is only used in a file whose
    // keys hold nothing but the bytes of names. A short run is matched line by line.
    scan_filter fixed;
    if (search.subtree()->exact)
      fixed.kind = scan_filter::every_key;
    else if (search.subtree_runs_always() ||
             static_cast<size_t>(run.stop - run.begin) >= kBlockScanRunBytes)
      fixed.kind = scan_filter::blocks;  // the search's own filter
    source->scan_ =
        std::make_unique<table_scan>(run.begin, run.stop, search, kScanBlockSize, &fixed);
  } else if (scan) {
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
