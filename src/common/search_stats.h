// Per-search timing and counting record and the printers of its report.
//
// One SearchStats per search, zeroed at its start. The report (print_search_report)
// is written at level "stat" only when the current level is at least "stat"; the
// elapsed-time printer is also used for the "Pattern finished" and "Search launched"
// debug lines during a search.
#pragma once

#include <cstdint>

#include "common/my_time.h"

namespace quarn {

struct SearchStats {
  TimePoint start;
  TimePoint pattern_done;
  TimePoint launched;
  TimePoint first_pattern;
  TimePoint first_result;
  TimePoint search_time;  // accumulated duration, not a point
  TimePoint end;
  uint64_t trigram_matches = 0;
  uint64_t pattern_matches = 0;
  uint64_t results = 0;
  uint64_t bytes_read = 0;
  uint64_t pages_read = 0;
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
