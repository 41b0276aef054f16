// Candidate-line sources: the lines of one index that a search's trigram query admits.
//
// build_query_iterator turns the search's trigram query tree into a tree of iterators
// (trackers at the leaves, union and intersection nodes inside); a line_source pulls
// ascending line numbers from it and turns each into its line in the mapped string
// table. Without a query the source scans the string table in file order (index/
// table_scan.h): every line, or, where the search's pattern allows, only the lines
// whose keys the pattern matches, found many lines at a time and marked confirmed.
// When the search names the owner-name subtree every match lies in (search_hooks::
// subtree) and the index can promise where that subtree's run of lines is (index/
// subtree_run.h), a source whose query would admit about as many lines as the run holds
// reads only the run, as a table scan of that line range: no reference list is opened.
// An exact subtree's lines are all confirmed without the matcher; a large run of another
// is scanned in blocks, a short one line by line. No line outside the run can match.
// Every line the query admits is yielded, and possibly more where that is cheaper: a
// query whose lists admit most lines becomes a table scan, and an intersection leaves
// out a wide union that would narrow it little. The caller confirms every line that is
// not marked confirmed with the pattern anyway, so only the amount of work differs.
// A search that sets its intersection budget (search_hooks::intersection_budget) also
// has each intersection walk only its three shortest members and those admitting at
// most four times the lines of its shortest one (the shortest bounds what the
// intersection admits; an enclosing intersection passes its bound down): seeking long
// lists to every candidate of short ones costs more than the matcher's rejections of
// the extra candidates. Members of a union are never left out, so no match is lost;
// the counters (lists opened, candidates) differ, which is why the budget is off by
// default.
// Nothing is materialised: every candidate is computed on demand, and next() allocates
// nothing.
//
// A source may be limited to a line range of its index (index/line_range.h): it then
// yields only the candidates among those lines, as a search split by key needs.
//
// Order of use: create (once per index and search), next() until it returns false,
// destroy. The source holds one reference on the index from create to destruction, and
// borrows the search hooks (which must outlive it). next() checks the search deadline
// and may throw search_aborted; the source stays destructible.
//
// Failures: create returns nullptr with *error = true when a reference list is malformed
// (logged at level "error"), and with *error = false when the query admits no line of
// this index (a trigram without references under an intersection). A line number past
// the end of the string table (the lists and the table disagree) ends the source after
// one log line: every later line number is larger, so it cannot be found either.
// A line index whose positions cannot be trusted (line_lookup's damage, or a line that
// does not come after the one before) ends the source too, with damaged() set: nothing
// more of this index may be used in the search, and the caller fails the search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "index/line_range.h"
#include "index/table_scan.h"
#include "index/tgdb.h"

namespace quarn {

struct tgr_result;
class search_hooks;
class n_iter;

// The iterator tree of `node` over the index's reference lists, or nullptr. With a
// non-null error flag, *error tells a decoding error (true) from an empty result (false).
// A union skips members that admit nothing; an intersection with such a member admits
// nothing; a decoding error anywhere makes the enclosing nodes fail.
std::unique_ptr<n_iter> build_query_iterator(const Tgdb* index, search_hooks& search,
                                             const tgr_result* node, bool* error);

// The candidate lines `query` admits in the index by the sizes of its lists alone (no
// list is read): a trigram's lines, summed over a union's members, the least over an
// intersection's. 0 when it admits nothing.
double query_candidate_estimate(const Tgdb& index, const tgr_result& query);
// Whether a line_source for the query reads the whole table (no query, or one whose
// estimate is most of the index's lines) instead of walking reference lists.
bool query_scans_table(const Tgdb& index, const tgr_result* query);

class line_source {
 public:
  // nullptr with *error as described above; otherwise a source positioned before the
  // first candidate. range (may be null: every line) must be one of this index.
  static std::unique_ptr<line_source> create(Tgdb* index, search_hooks& search,
                                             bool* error, const LineRange* range = nullptr);
  ~line_source();
  line_source(const line_source&) = delete;
  line_source& operator=(const line_source&) = delete;

  // true and the next candidate line: its first byte in the mapped string table and its
  // length up to (not including) its line feed; false when there is none left.
  bool next(const char** line, size_t* length);
  // True when the key of the line next() handed out last is known to match the
  // search's pattern (only a table scan confirms lines); the exclusion and everything
  // else still apply to it.
  bool confirmed() const { return confirmed_; }

  // True once the source ended on a damaged line index (see above).
  bool damaged() const { return damaged_; }

  const Tgdb* index() const { return index_.get(); }
  // Start of the mapped string table (page-aligned), for page accounting by the caller.
  const char* table_begin() const { return table_; }

 private:
  explicit line_source(Tgdb* index);

  TgdbRef index_;                 // one reference, released on destruction
  std::unique_ptr<n_iter> root_;     // null: table scan
  std::unique_ptr<table_scan> scan_;  // table scan only
  const char* table_ = nullptr;
  const char* table_end_ = nullptr;
  const char* last_line_ = nullptr;  // query: the line handed out last
  uint64_t end_line_ = UINT64_MAX;   // query: the first line number past the range
  bool exhausted_ = false;
  bool confirmed_ = false;
  bool damaged_ = false;
};

}  // namespace quarn
