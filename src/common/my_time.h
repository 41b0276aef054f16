// Wall-clock time points as seconds and nanoseconds.
//
// my_gettime reads the real-time clock at microsecond resolution (microseconds times
// 1000), as the timing report expects. A point whose seconds plus nanoseconds is not
// greater than zero counts as unset.
#pragma once

#include <cstdint>

namespace quarn {

struct TimePoint {
  int64_t sec = 0;
  int64_t nsec = 0;
  bool is_set() const { return sec + nsec > 0; }
};

TimePoint my_gettime();

// b - a in seconds; 0 when either point is unset. A negative nanosecond difference
// borrows one second.
double elapsed_seconds(const TimePoint& a, const TimePoint& b);

// Seconds of a duration held as a time point (seconds plus nanoseconds / 1e9).
inline double duration_seconds(const TimePoint& d) {
  return static_cast<double>(d.sec) + static_cast<double>(d.nsec) / 1e9;
}

// Adds b to a, keeping nanoseconds below one second.
TimePoint time_add(const TimePoint& a, const TimePoint& b);

// b - a as a duration (nanoseconds normalised to 0..999999999).
TimePoint time_diff(const TimePoint& a, const TimePoint& b);

// a < b
inline bool time_before(const TimePoint& a, const TimePoint& b) {
  return a.sec < b.sec || (a.sec == b.sec && a.nsec < b.nsec);
}

}  // namespace quarn
