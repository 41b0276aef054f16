#include "common/my_time.h"

#include <sys/time.h>

#include "common/check.h"

namespace quarn {

TimePoint my_gettime() {
  struct timeval tv;
  int res = gettimeofday(&tv, nullptr);
  QUARN_CHECK(res == 0);
  return TimePoint{tv.tv_sec, static_cast<int64_t>(tv.tv_usec) * 1000};
}

TimePoint time_diff(const TimePoint& a, const TimePoint& b) {
  TimePoint d{b.sec - a.sec, b.nsec - a.nsec};
  if (d.nsec < 0) {
    d.sec -= 1;
    d.nsec += 1000000000;
  }
  return d;
}

double elapsed_seconds(const TimePoint& a, const TimePoint& b) {
  if (!a.is_set() || !b.is_set()) return 0.0;
  return duration_seconds(time_diff(a, b));
}

TimePoint time_add(const TimePoint& a, const TimePoint& b) {
  TimePoint r{a.sec + b.sec, a.nsec + b.nsec};
  while (r.nsec >= 1000000000) {
    r.sec += 1;
    r.nsec -= 1000000000;
  }
  return r;
}

}  // namespace quarn
