// The deadline of one search: a timeout measured from the last result, and optionally a
// probe that can end the search early (a client that has gone, a server shutting down).
//
// Order of use: construct beside the search_context (the context's timeout callback then
// refers to this object, so it must stay where it was made while the context lives);
// arm() before compiling and after every delivered result; disarm() before the merger
// is destroyed; then read timed_out() / aborted().
//
// Without a probe, the context's deadline is the timeout itself and its first passing
// ends the search. With a probe, the context's deadline is also pulled in to at most
// probe_interval from now, so a search that produces nothing for a while still asks the
// probe every interval; a probe answering true aborts the search (aborted() turns true),
// otherwise the deadline moves on to the next interval or to the real timeout.
//
// Timeouts: only a positive, finite timeout arms one; 0, negative or NaN mean none. A
// timeout beyond kMaxTimeoutSeconds is clamped. Nothing here fails.
#pragma once

#include <functional>

#include "common/my_time.h"

namespace quarn {

class search_context;

// About 30 years: as good as no limit, and keeps the deadline arithmetic far from overflow.
constexpr double kMaxTimeoutSeconds = 1e9;

// Whole seconds and nanoseconds of a timeout in seconds (fraction truncated).
TimePoint timeout_duration(double timeout);

class ResultDeadline {
 public:
  // True when the search must stop now.
  using probe_fn = std::function<bool()>;

  ResultDeadline(double timeout, search_context& ctx, probe_fn probe = nullptr,
                 double probe_interval = 0.1);
  ResultDeadline(const ResultDeadline&) = delete;
  ResultDeadline& operator=(const ResultDeadline&) = delete;

  // Sets the timeout to one period from now (and the probe's next turn).
  void arm();
  // Marks the search timed out when the timeout lies before `at`: a phase without
  // deadline checks (planning and compiling) may overrun it.
  void expire_if_passed(const TimePoint& at);
  // A deadline must not outlive the loop it guards.
  void disarm();
  bool timed_out() const { return timed_out_; }
  bool aborted() const { return aborted_; }

 private:
  // The context's callback: true carries on with `deadline` moved.
  bool on_passed(TimePoint& deadline);
  // The earlier of the timeout and the probe's next turn, from now.
  TimePoint next_check(const TimePoint& now) const;

  const bool armed_;
  const TimePoint timeout_;
  search_context& ctx_;
  probe_fn probe_;
  TimePoint probe_interval_;
  TimePoint current_;  // the real timeout (valid when armed_)
  TimePoint check_;    // the deadline the context holds
  bool timed_out_ = false;
  bool aborted_ = false;
};

}  // namespace quarn
