// The record merger: the merged results of one search over several index files.
//
// Every added index contributes an ascending stream of candidate lines (a line_source:
// the lines its trigram query admits, or every line for a table scan). The merger keeps
// one cursor per index in a heap ordered by the key order of the index kind (name_order
// for owner names, the rdata line comparison for rdata), walks the union of the streams
// in that order, confirms each distinct key once with the context's matcher, merges the
// annotations of every line sharing the key into one result_entry, applies the record
// filters and hands the entry out, one per next() call.
//
// Order of use: construct (normally through a data source's open()), add_index() every
// index, then next() until it returns nullptr; destroy. A merger given a line range per
// index (a slice of the key order, index/line_range.h) merges only those lines; keys
// never straddle a slice, so the slices' results, one after the other, are the whole
// search's. The caller owns every returned
// entry, and may hand it back with recycle() for reuse. The merger borrows the search_context, which must outlive it; it takes its own
// reference on every index it reads (through the line sources), so an index retired by a
// fileset reload stays mapped until the merger is destroyed.
//
// Aborts: a passed deadline (search_context::check_deadline) inside add_index() or next()
// is caught here; the merger then reports no further result. Nothing leaks on that path.
//
// Damage: a line source that ends on a damaged line index (line_source::damaged) fails
// the search: the merger reports no further result, not even the one being assembled
// (it may lack that index's lines), and failed() turns true; the caller must report the
// search as failed.
//
// A file written in place during the search (index/tgdb.h): a truncation noticed while
// merging fails the search as damage does; indexes_unchanged(), asked when the search
// ends, fails it for any other in-place change, after a line naming the file.
//
// Time-skipped indexes: an index whose time fence the context's coarse test rules out
// (search_context::index_may_match) contributes no candidates, since no key held only by
// such indexes can pass the record filters. A key that is also in a searched index must
// still get their lines: a record's times and count are those of all its observations,
// however they are split into files. So for each matched key, before the record filters
// run, the lines of the same key in every skipped index are merged in, found by a
// forward-only search of its string table (index/key_cursor.h): keys come in ascending
// order, so most skipped indexes cost one compare per key. Skipped indexes count as read
// for the in-place checks below.
//
// Out-of-range shortcuts: when every added index carries a time fence, a
// time_first_after later than every index's latest time, or a time_last_before earlier
// than every index's earliest time, ends the search at once. They stay sound with the
// merging above: the fence covers skipped indexes too, and a merged record's first time
// is one of its observations' (so not after the greatest latest) and its last time too
// (so not before the least earliest). An index without a fence turns the shortcuts off,
// since its records may lie anywhere in time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/heap.h"
#include "index/key_cursor.h"
#include "index/line_range.h"
#include "index/tgdb.h"
#include "retrieval/result_entry.h"

namespace quarn {

class search_context;
class line_source;

// Merge functions: fold one string-table line (text up to, not including, its line
// feed) into *result, creating it when null. A line whose annotations do not parse is
// ignored: a result created for it is discarded, an existing one keeps its data. When
// spare holds an entry, a new result reuses it (cleared, its buffers kept) instead of
// allocating.
void merge_rrname(std::unique_ptr<result_entry>& result, std::string_view line,
                  std::unique_ptr<result_entry>* spare = nullptr);
void merge_rdata(std::unique_ptr<result_entry>& result, std::string_view line,
                 std::unique_ptr<result_entry>* spare = nullptr);

// True exactly when name_order(a, b) == 0, computed with a few byte searches and
// compares instead of a label walk: the merger asks "same key?" once per candidate line,
// and a label-wise order is only needed to keep the heap sorted.
bool rrname_keys_equal(std::string_view a, std::string_view b);

// Result filter: replaces a time_last of 0 by time_first, keeps the elements that pass
// the rrtype, time and count tests (a count of 0 counting as 1). False when nothing is
// kept (or result is null); the caller then discards the result.
bool result_filter(const search_context& context, result_entry* result);

class tgdb_merger {
 public:
  tgdb_merger(search_context& context, bool is_rdata);
  ~tgdb_merger();
  tgdb_merger(const tgdb_merger&) = delete;
  tgdb_merger& operator=(const tgdb_merger&) = delete;

  // Adds one loaded index (the caller keeps its own reference). An index of the other
  // kind is ignored silently; one outside the time filter is skipped with a debug line
  // and then only looked up for the keys of other indexes' results (see above).
  // range (may be null: every line) limits the index to one slice of the key order.
  void add_index(Tgdb* index, const LineRange* range = nullptr);
  // The next merged result in key order, or nullptr when there is none (for good).
  std::unique_ptr<result_entry> next();
  // Hands a result back once the caller is done with it; the next result is assembled
  // in it, so a search that prints every result allocates nothing per result. Optional.
  void recycle(std::unique_ptr<result_entry> entry) { spare_ = std::move(entry); }

  bool is_rdata() const { return is_rdata_; }
  bool done() const { return done_; }
  // True when the search hit a damaged index (see above): what it printed is incomplete.
  bool failed() const { return failed_; }
  // False (logged, failed() turns true) when a file the search read was written in place
  // since it was loaded. One stat per file the search read.
  bool indexes_unchanged();
  // Number of indexes that contributed at least one candidate line.
  size_t source_count() const { return sources_added_; }

 private:
  // A candidate line (without its line feed) where it lies in its index's mapping, with
  // where its key ends and whether the key holds a blank: only such keys need the name
  // order's suffix rule to decide whether two lines share a key. The mapping outlives
  // the view: a source that runs out is retired, not freed, until the merger goes.
  struct line_ref {
    std::string_view text;
    size_t key_length = 0;
    bool key_has_blank = false;
    void assign(const char* line, size_t length);
    std::string_view key() const { return text.substr(0, key_length); }
  };
  struct merger_source;
  // Three-way order of two sources by their current lines, in the kind's key order.
  struct source_order {
    int (*compare)(std::string_view, std::string_view);
    int operator()(const std::unique_ptr<merger_source>& a,
                   const std::unique_ptr<merger_source>& b) const;
  };

  bool same_key(const line_ref& a, const line_ref& b) const;
  void merge_line(std::unique_ptr<result_entry>& result, const line_ref& line);
  void count_line(merger_source& source, const char* line, size_t length);
  void advance();
  // Folds the lines of current_key_'s key from every time-skipped index into result.
  void merge_skipped(std::unique_ptr<result_entry>& result);
  // Fails the search when lines ended on a damaged line index.
  void note_damage(const line_source& lines);
  // Fails the search (logged) when the index's file changed in place; true then.
  bool index_changed(const Tgdb& index);
  // False, with the search failed, when a truncation took pages of a searched file.
  bool pages_intact();
  std::unique_ptr<result_entry> next_inner();

  search_context& context_;
  bool is_rdata_;
  bool done_ = false;
  bool failed_ = false;
  uint64_t faults_seen_ = 0;  // mapping_guard_fault_count when last looked at
  std::vector<TgdbRef> searched_;  // every index the search reads
  int (*compare_)(std::string_view, std::string_view);
  // One cursor per index with candidates left, least key on top; owned.
  heap<std::unique_ptr<merger_source>, source_order> heap_;
  // A finished or discarded result kept for reuse (may be null).
  std::unique_ptr<result_entry> spare_;
  // Sources that ran out, kept so that lines of their indexes stay mapped (current_key_
  // may be one of them).
  std::vector<std::unique_ptr<merger_source>> retired_;
  // The line whose key the result being assembled has.
  line_ref current_key_;
  bool have_current_key_ = false;
  // Time fence over the added indexes: least earliest, greatest latest (valid once
  // fence_seen_ is set).
  int64_t earliest_ = 0;
  int64_t latest_ = 0;
  bool fence_seen_ = false;
  // Set when an index without a time fence was added: the shortcuts are then unsound.
  bool unfenced_index_ = false;
  size_t sources_added_ = 0;
  // One cursor per index skipped by the time filter, in the order added; their indexes
  // are held through searched_.
  std::vector<key_cursor> skipped_;
};

}  // namespace quarn
