#include "common/search_stats.h"

#include "common/log.h"

namespace quarn {

void SearchStats::add(const SearchStats& o) {
  trigram_matches += o.trigram_matches;
  pattern_matches += o.pattern_matches;
  bytes_read += o.bytes_read;
  pages_read += o.pages_read;
  lists_opened += o.lists_opened;
  entries_decoded += o.entries_decoded;
  seeks += o.seeks;
  results += o.results;
}

void log_elapsed(int level, const char* label, const TimePoint& a, const TimePoint& b) {
  QLOG(level, "%s: %f s", label, elapsed_seconds(a, b));
}

void log_duration(int level, const char* label, const TimePoint& d) {
  QLOG(level, "%s: %f s", label, duration_seconds(d));
}

void log_rate(int level, const char* label, uint64_t count, const TimePoint& total) {
  double secs = duration_seconds(total);
  double rate = secs > 0 ? static_cast<double>(count) / secs : 0.0;
  QLOG(level, "%s: %lu (%f /s)", label, static_cast<unsigned long>(count), rate);
}

void print_search_report(const SearchStats& s) {
  if (!log_enabled(LOG_STAT)) return;
  log_elapsed(LOG_STAT, "            Regex", s.start, s.pattern_done);
  log_elapsed(LOG_STAT, "    First Trigram", s.pattern_done, s.launched);
  log_elapsed(LOG_STAT, "    First Pattern", s.launched, s.first_pattern);
  log_duration(LOG_STAT, "Total Search Time", s.search_time);
  log_write(LOG_STAT, " Total Bytes Read: %zu  (%zu pages)", static_cast<size_t>(s.bytes_read),
            static_cast<size_t>(s.pages_read));
  log_rate(LOG_STAT, "  Trigram Matches", s.trigram_matches, s.search_time);
  log_rate(LOG_STAT, "  Pattern Matches", s.pattern_matches, s.search_time);
  log_rate(LOG_STAT, "          Results", s.results, s.search_time);
  log_elapsed(LOG_STAT, "    Total Elapsed", s.start, s.end);
}

}  // namespace quarn
