// What the index iteration needs from the search it serves: the trigram query, the
// counters it feeds, the deadline check it makes at every step, how a table scan may
// narrow the lines it hands out, and the owner-name subtree every match lies in.
//
// The search itself lives in a higher layer, which derives from search_hooks and owns
// everything behind it; the index layer only borrows a search_hooks& (or a pointer, null
// for "no search": nothing counted, no deadline) for as long as a tracker or line source
// lives. Not copyable: iterators keep the reference.
//
// Deadline: check_deadline() is called per seek and per scanned line (per block of lines
// when a table scan runs the matcher over blocks), so the common case
// (no deadline armed) is one inline flag test. An armed deadline reads the clock at the
// first check after it was set (or moved by deadline_passed()), then only every
// kDeadlineCheckStride-th check; move_armed_deadline() keeps the stride running:
// a clock read costs more than a seek through a dense list, and a deadline (a timeout in
// seconds, a probe every 100 ms) needs no finer grain than a few thousand steps give.
// Only a passed deadline reaches the virtual deadline_passed(),
// which either returns (the search carries on, perhaps with a later deadline) or throws
// the search's abort exception through the index code. Everything the index holds on that
// path is owned by RAII objects.
#pragma once

#include <cstdint>

#include "common/my_time.h"
#include "common/search_stats.h"

namespace quarn {

struct tgr_result;
struct name_subtree;
class block_matcher;

// How a table scan chooses the lines it hands out.
struct scan_filter {
  enum kind_t {
    every_line,  // every line, each confirmed by the caller as usual
    every_key,   // every line, already confirmed: the pattern matches any key
    blocks,      // only the lines `matcher` finds in blocks of the table, confirmed
  };
  kind_t kind = every_line;
  block_matcher* matcher = nullptr;  // blocks only; owned by the search
};

// Checks between two clock reads of an armed deadline. The slowest step is a matcher run
// over one table-scan block (well under a millisecond), so a passed deadline is seen
// within a few milliseconds at worst.
constexpr uint32_t kDeadlineCheckStride = 32;

class search_hooks {
 public:
  search_hooks(const search_hooks&) = delete;
  search_hooks& operator=(const search_hooks&) = delete;

  // The trigram query (nullptr: every line is a candidate). Owned by the search.
  virtual const tgr_result* query() const = 0;

  // Called by each table scan before its first line; the first call of a search may
  // compile (inside the compile budget). The filter's matcher stays valid as long as the
  // search. The default confirms nothing.
  virtual scan_filter prepare_table_scan() { return {}; }

  // The owner-name subtree every match of the pattern lies in (pattern/name_subtree.h),
  // or nullptr when there is none or the search does not want the shortcut. Owned by
  // the search. Owner-name sources may then read only that subtree's run of lines
  // (index/subtree_run.h).
  virtual const name_subtree* subtree() const { return nullptr; }
  // How a source reads a subtree's run: only where it pays (false), or wherever the
  // index allows, scanned in blocks however short it is (true: tests drive small files
  // through the block scan of a run this way).
  virtual bool subtree_runs_always() const { return false; }

  // Counters of the current merger call (reset at the start of each next-result call);
  // the mutable form is for the iterators that feed them. The timings are unused here.
  const SearchStats& counters() const { return counters_; }
  SearchStats& counters() { return counters_; }

  // Whether intersections may leave reference lists far longer than their shortest one to
  // the matcher (index/line_source.h). Off by default: it changes the counters a search
  // reports (lists opened, candidates), never its results.
  bool intersection_budget() const { return intersection_budget_; }
  void set_intersection_budget(bool on) { intersection_budget_ = on; }

  // Returns normally, or throws the search's abort exception once the armed deadline has
  // passed and deadline_passed() declines to carry on. Cheap when no deadline is armed.
  void check_deadline() {
    if (deadline_armed_ && --deadline_countdown_ == 0) check_armed_deadline();
  }

 protected:
  search_hooks() = default;
  ~search_hooks() = default;  // never destroyed through this interface

  // Called when the armed deadline has passed: returns to carry on (having moved
  // deadline_, or not), or throws to abort the search.
  virtual void deadline_passed() = 0;

  // Arms `deadline` (or disarms, given null); the next check reads the clock.
  void arm_deadline(const TimePoint* deadline) {
    deadline_armed_ = deadline != nullptr;
    if (deadline != nullptr) deadline_ = *deadline;
    deadline_countdown_ = 1;
  }

  // Arms `deadline` without restarting the stride: the caller vouches it lies ahead.
  void move_armed_deadline(const TimePoint& deadline) {
    deadline_armed_ = true;
    deadline_ = deadline;
  }

  TimePoint deadline_;
  SearchStats counters_;

 private:
  void check_armed_deadline() {
    deadline_countdown_ = kDeadlineCheckStride;
    const TimePoint now = my_gettime();
    if (deadline_.sec > now.sec || (deadline_.sec == now.sec && deadline_.nsec >= now.nsec))
      return;
    // A deadline moved by the callback is first checked at the very next step, as a
    // newly set one is: the callback may have set it to one already passed.
    deadline_countdown_ = 1;
    deadline_passed();
  }

  bool deadline_armed_ = false;
  uint32_t deadline_countdown_ = 1;
  bool intersection_budget_ = false;
};

}  // namespace quarn
