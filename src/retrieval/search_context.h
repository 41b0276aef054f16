// The state of one search that every retrieval stage consults.
//
// Order of use: construct; install filters, the timeout callback and (optionally) an
// exclusion; compile(); hand the context to a data source's open(); arm and re-arm the
// deadline between merger calls; read the per-call counters after each next-result call;
// destroy at the end of the search.
//
// The index layer sees the context only through the search_hooks interface that it
// implements: the query, the counters, the deadline check and the table-scan filter.
//
// Ownership: the context owns the compiled matcher(s) (the block matcher of table scans
// too, compiled on the first scan's request: a search that never scans never pays for
// it), the trigram query tree and the
// pattern texts, and frees them on destruction. It is neither copyable nor movable
// (iterators and mergers keep a reference to it): hold it on the stack or in a
// std::unique_ptr. The merger and the index iteration only borrow it.
//
// Deadline: check_deadline() is called by the index iteration at every step (each seek
// of a reference-list iterator, each line of a table scan) and reads the clock at the
// first check after set_deadline() and then every kDeadlineCheckStride-th check
// (index/search_hooks.h). When the armed deadline has passed and no callback extends it,
// it throws search_aborted; the merger catches that at
// its abort points, so the exception never reaches the caller of tgdb_merger. Everything
// on the aborted path is owned by RAII objects.
//
// Failures: compile() and compile_exclusion() return false with a message in *error
// (which may be left empty when the failing stage gave no text); the context stays
// destructible and reusable for filter queries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "common/my_time.h"
#include "index/search_hooks.h"
#include "pattern/block_matcher.h"
#include "pattern/matcher.h"
#include "pattern/name_subtree.h"
#include "planner/tgr_result.h"

namespace quarn {

struct prepared_expression;

// Thrown by check_deadline() when the search must stop; caught by the merger only.
struct search_aborted {};

class search_context final : public search_hooks {
 public:
  // Called with the deadline (which it may move) when the deadline has passed; returning
  // true carries on, false aborts the search.
  using timeout_callback = std::function<bool(TimePoint& deadline)>;

  search_context();
  ~search_context();
  search_context(const search_context&) = delete;
  search_context& operator=(const search_context&) = delete;

  // Plans the expression (regular expression, or glob when glob is set) into a trigram
  // query (none: table scan) and compiles the matcher. On a planner error logs
  // "Error in decomposition: %s" at level "debug"; either failure returns false with the
  // stage's message in *error.
  bool compile(std::string_view expression, bool glob, std::string* error);
  // Installs an expression prepared once (prepared_expression.h), as compile() would have
  // left the context, sharing its query and database; false with the matcher's scratch
  // error when the matcher's scratch cannot be allocated.
  bool install(const prepared_expression& e, std::string* error);
  // Installs a prepared trigram query (nullptr: table scan) in place of the planned one,
  // for callers that plan by other means; the matcher is left as it is.
  void set_query(tgr_ptr query) { query_ = std::move(query); }
  // Compiles an exclusion pattern: texts it matches are rejected by match().
  bool compile_exclusion(std::string_view expression, bool glob, std::string* error);
  bool install_exclusion(const prepared_expression& e, std::string* error);

  // Time bounds (inclusive, seconds since 1970 UTC). Each setter also turns on time
  // filtering as a whole.
  void set_time_first_before(int64_t t);
  void set_time_first_after(int64_t t);
  void set_time_last_before(int64_t t);
  void set_time_last_after(int64_t t);
  void set_rrtype(uint16_t rrtype);                    // 0 = any
  void set_count_range(uint64_t min, uint64_t max);    // max 0 = unbounded
  // nullptr disarms; otherwise the absolute wall-clock time after which to abort.
  void set_deadline(const TimePoint* deadline);
  // Moves the armed deadline (or arms it) to one the caller has just computed from the
  // clock, so it lies ahead: the clock is next read when the current stride ends, not at
  // the next check. For the per-result re-arming of a running search.
  void move_deadline(const TimePoint& deadline);
  void set_timeout_callback(timeout_callback cb);

  // counters() (from search_hooks) are those of the last merger call.
  // Resets the counters (the merger, at each call's start).
  void reset_counters();
  // Counts a pattern match; the first one of the search also records the time. The
  // clock is read once per search, not once per call: a call per result would otherwise
  // pay a clock read for every result.
  void note_pattern_match();
  // false until the search has confirmed a pattern match; then *out = that first time.
  bool first_match_time(TimePoint* out) const;

  // True if the text matches the pattern and not the exclusion; true for every text
  // when nothing was compiled.
  bool match(const char* text, size_t length);
  // match() for a text already known to match the pattern (a confirmed scan line).
  bool match_confirmed(const char* text, size_t length) {
    return !(exclude_.ready() && exclude_.matches(text, length));
  }
  bool record_passes(int64_t time_first, int64_t time_last) const;
  bool rrtype_passes(uint16_t rrtype) const { return rrtype_ == 0 || rrtype_ == rrtype; }
  bool count_passes(uint64_t count) const {
    return count >= count_min_ && (count_max_ == 0 || count <= count_max_);
  }
  // Coarse test of an index's time range (header earliest/latest) before it is searched.
  // False only when no record whose observations all lie in such ranges can pass the
  // record test: the merger then takes no candidates from the index, though it still
  // merges its lines into keys found elsewhere (tgdb_merger.h). Both boundary comparisons
  // are inclusive: records seen exactly at a bound pass the record test, so an index that
  // holds them must not be skipped.
  bool index_may_match(int64_t earliest, int64_t latest) const;

  // check_deadline() (from search_hooks) throws search_aborted once the armed deadline
  // has passed and the callback (if any) declines to extend it.

  // The trigram query (nullptr: every line is a candidate) and the matcher pattern.
  const tgr_result* query() const override { return query_.get(); }
  // How table scans of this search may narrow their lines (index/search_hooks.h): every
  // key when the pattern matches any key, blocks when the pattern has a block matcher,
  // else every line. Planned and compiled once per compile(); a block matcher that does
  // not compile only costs the speed-up (logged at level "debug").
  scan_filter prepare_table_scan() override;
  // The owner-name subtree every match lies in, derived by install() from the matcher's
  // text (nullptr: none, or turned off). Sources then read only its run of lines where
  // the index allows and that pays.
  const name_subtree* subtree() const override {
    return has_subtree_ && subtree_runs_ != subtree_runs::off ? &subtree_ : nullptr;
  }
  bool subtree_runs_always() const override { return subtree_runs_ == subtree_runs::always; }
  // Whether sources use subtree runs: where they pay (the default), never (every source
  // reads as it would without a subtree), or wherever the index allows. The last two
  // are for comparisons in tests and benches.
  enum class subtree_runs { off, where_worthwhile, always };
  void set_subtree_runs(subtree_runs mode) { subtree_runs_ = mode; }
  // Plans the table-scan filter as `planned` (a context of the same expression on
  // another thread) has, sharing its block matcher's database instead of compiling it
  // again. When the matcher cannot be shared this context plans its own at its first
  // scan, as if this had not been called.
  void share_table_scan(search_context& planned);
  const std::string& pattern_text() const { return pattern_text_; }
  const std::string& exclusion_text() const { return exclusion_text_; }

  bool time_filter_set() const { return time_filter_set_; }
  bool time_first_after_set() const { return time_first_after_set_; }
  bool time_first_before_set() const { return time_first_before_set_; }
  bool time_last_after_set() const { return time_last_after_set_; }
  bool time_last_before_set() const { return time_last_before_set_; }
  int64_t time_first_after() const { return time_first_after_; }
  int64_t time_first_before() const { return time_first_before_; }
  int64_t time_last_after() const { return time_last_after_; }
  int64_t time_last_before() const { return time_last_before_; }

 private:
  // The armed deadline has passed: the callback may move it and carry on; otherwise
  // throws search_aborted.
  void deadline_passed() override;
  void plan_scan_filter();

  compiled_pattern match_;
  compiled_pattern exclude_;
  std::shared_ptr<const tgr_result> query_;  // shared with a prepared expression
  std::unique_ptr<block_matcher> block_matcher_;
  scan_filter scan_filter_;
  bool scan_filter_planned_ = false;
  name_subtree subtree_;
  bool has_subtree_ = false;
  subtree_runs subtree_runs_ = subtree_runs::where_worthwhile;

  int64_t time_first_after_ = 0;
  int64_t time_first_before_ = 0;
  int64_t time_last_after_ = 0;
  int64_t time_last_before_ = 0;
  bool time_first_after_set_ = false;
  bool time_first_before_set_ = false;
  bool time_last_after_set_ = false;
  bool time_last_before_set_ = false;
  bool time_filter_set_ = false;

  uint16_t rrtype_ = 0;
  uint64_t count_min_ = 0;
  uint64_t count_max_ = 0;

  timeout_callback timeout_callback_;

  TimePoint first_match_;
  bool first_match_seen_ = false;

  std::string pattern_text_;
  std::string exclusion_text_;
};

}  // namespace quarn
