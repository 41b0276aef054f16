// The statistics record of a search and the printers of its report.
//
// One record serves two scopes. The search context holds one for the current merger
// call: it is zeroed at the call's start and the retrieval stages (merger, reference-list
// iterators, line sources) feed its counters. The driver holds one per search, zeroed at
// the search's start, adds each call's record into it (add) and fills the timings
// itself. The report (print_search_report) is written at level "stat" only when the
// current level is at least "stat"; the elapsed-time printer is also used for the
// "Pattern finished" and "Search launched" debug lines during a search.
#pragma once

#include <cstdint>

#include "common/my_time.h"

namespace quarn {

struct SearchStats {
  // Counters. The first four are the ones the report shows; the rest are finer detail
  // fed by the reference-list iterators and line sources.
  uint64_t trigram_matches = 0;  // distinct candidate keys tested with the matcher
  uint64_t pattern_matches = 0;  // candidate keys the matcher confirmed
  uint64_t bytes_read = 0;       // string-table bytes of every candidate line pulled
  uint64_t pages_read = 0;       // 4096-byte pages those lines touched
  uint64_t lists_opened = 0;     // reference lists a tracker was created on
  uint64_t entries_decoded = 0;  // 5-byte reference entries decoded
  uint64_t seeks = 0;            // tracker seeks (including in-item adjustments)
  uint64_t results = 0;          // results printed (counted by the driver)

  // Timings, kept by the driver only; add leaves them alone.
  TimePoint start;
  TimePoint pattern_done;
  TimePoint launched;
  TimePoint first_pattern;
  TimePoint first_result;
  TimePoint search_time;  // accumulated duration, not a point
  TimePoint end;

  // Adds every counter of other to this record's.
  void add(const SearchStats& other);
  // Zeroes the counters and leaves the timings alone: the merger does this once per
  // result, where rebuilding the whole record showed up in scans of every line.
  void clear_counters() {
    trigram_matches = pattern_matches = bytes_read = pages_read = 0;
    lists_opened = entries_decoded = seeks = results = 0;
  }
};

// "%s: %f s" with the duration from a to b (0.000000 when either is unset).
void log_elapsed(int level, const char* label, const TimePoint& a, const TimePoint& b);
// "%s: %f s" with the duration d.
void log_duration(int level, const char* label, const TimePoint& d);
// "%s: %lu (%f /s)" with count / total seconds, or 0 when total is not above zero.
void log_rate(int level, const char* label, uint64_t count, const TimePoint& total);
// The nine-line statistics report, at level "stat".
void print_search_report(const SearchStats& stats);

}  // namespace quarn
