#include "retrieval/result_deadline.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "retrieval/search_context.h"

namespace quarn {

TimePoint timeout_duration(double timeout) {
  TimePoint d;
  const double secs = std::floor(timeout);
  d.sec = static_cast<int64_t>(secs);
  d.nsec = static_cast<int64_t>((timeout - secs) * 1e9);
  return d;
}

ResultDeadline::ResultDeadline(double timeout, search_context& ctx, probe_fn probe,
                               double probe_interval)
    : armed_(timeout > 0 && timeout == timeout),
      timeout_(armed_ ? timeout_duration(std::min(timeout, kMaxTimeoutSeconds)) : TimePoint{}),
      ctx_(ctx),
      probe_(std::move(probe)),
      probe_interval_(timeout_duration(probe_interval > 0 ? probe_interval : 0.1)) {
  ctx_.set_timeout_callback([this](TimePoint& deadline) { return on_passed(deadline); });
}

TimePoint ResultDeadline::next_check(const TimePoint& now) const {
  if (!probe_) return current_;
  const TimePoint probe_at = time_add(now, probe_interval_);
  return armed_ && time_before(current_, probe_at) ? current_ : probe_at;
}

void ResultDeadline::arm() {
  if (!armed_ && !probe_) return;
  const TimePoint now = my_gettime();
  if (armed_) current_ = time_add(now, timeout_);
  check_ = next_check(now);
  // Just computed from the clock, so ahead of it: no need for the next step to read it
  // again. arm() runs after every result, and the clock read is a visible share of a
  // broad search's cost per result.
  ctx_.move_deadline(check_);
}

bool ResultDeadline::on_passed(TimePoint& deadline) {
  if (probe_ && probe_()) {
    aborted_ = true;
    return false;
  }
  const TimePoint now = my_gettime();
  if (armed_ && !time_before(now, current_)) {
    timed_out_ = true;
    return false;
  }
  deadline = next_check(now);
  return true;
}

void ResultDeadline::expire_if_passed(const TimePoint& at) {
  if (armed_ && time_before(current_, at)) timed_out_ = true;
}

void ResultDeadline::disarm() { ctx_.set_deadline(nullptr); }

}  // namespace quarn
