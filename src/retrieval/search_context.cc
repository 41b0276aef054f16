#include "retrieval/search_context.h"

#include <utility>

#include "common/log.h"

namespace quarn {

search_context::search_context() = default;
search_context::~search_context() = default;

void search_context::set_time_first_before(int64_t t) {
  time_first_before_ = t;
  time_first_before_set_ = true;
  time_filter_set_ = true;
}

void search_context::set_time_first_after(int64_t t) {
  time_first_after_ = t;
  time_first_after_set_ = true;
  time_filter_set_ = true;
}

void search_context::set_time_last_before(int64_t t) {
  time_last_before_ = t;
  time_last_before_set_ = true;
  time_filter_set_ = true;
}

void search_context::set_time_last_after(int64_t t) {
  time_last_after_ = t;
  time_last_after_set_ = true;
  time_filter_set_ = true;
}

void search_context::set_rrtype(uint16_t rrtype) { rrtype_ = rrtype; }

void search_context::set_count_range(uint64_t min, uint64_t max) {
  count_min_ = min;
  count_max_ = max;
}

void search_context::set_deadline(const TimePoint* deadline) { arm_deadline(deadline); }

void search_context::move_deadline(const TimePoint& deadline) { move_armed_deadline(deadline); }

void search_context::deadline_passed() {
  if (timeout_callback_ && timeout_callback_(deadline_)) return;
  throw search_aborted{};
}

void search_context::set_timeout_callback(timeout_callback cb) {
  timeout_callback_ = std::move(cb);
}

void search_context::reset_counters() { counters_.clear_counters(); }

void search_context::note_pattern_match() {
  if (!first_match_seen_) {
    first_match_ = my_gettime();
    first_match_seen_ = true;
  }
  ++counters_.pattern_matches;
}

bool search_context::first_match_time(TimePoint* out) const {
  if (!first_match_seen_) return false;
  if (out) *out = first_match_;
  return true;
}

bool search_context::match(const char* text, size_t length) {
  return pattern_match(&match_, &exclude_, text, length);
}

bool search_context::record_passes(int64_t time_first, int64_t time_last) const {
  if (time_first_before_set_ && time_first > time_first_before_) return false;
  if (time_first_after_set_ && time_first < time_first_after_) return false;
  if (time_last_before_set_ && time_last > time_last_before_) return false;
  if (time_last_after_set_ && time_last < time_last_after_) return false;
  return true;
}

bool search_context::index_may_match(int64_t earliest, int64_t latest) const {
  if (!time_filter_set_) return true;
  // These two bounds need per-record tests; the index range alone cannot rule them out
  // without also knowing the spread of each record.
  if (time_first_after_set_ || time_last_before_set_) return true;
  // Inclusive: a record first seen exactly at the bound passes the record test.
  if (time_first_before_set_ && time_first_before_ >= earliest) return true;
  if (time_last_after_set_) return time_last_after_ <= latest;
  return false;
}

}  // namespace quarn
