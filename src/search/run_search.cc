#include "search/run_search.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "common/check.h"
#include "common/log.h"
#include "common/my_time.h"
#include "common/search_stats.h"
#include "output/json_output.h"
#include "output/output_buffer.h"
#include "output/text_output.h"
#include "retrieval/data_source.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"
#include "search/messages.h"

namespace quarn {
namespace {

// Names searches in log lines; counts from 1 over the life of the process.
uint32_t g_search_number = 1;

// A timeout beyond this many seconds (about 30 years) is as good as none, and keeps the
// deadline arithmetic far from overflow.
constexpr double kMaxTimeoutSeconds = 1e9;

TimePoint accumulate(const TimePoint& total, const TimePoint& from, const TimePoint& to) {
  return time_add(total, time_diff(from, to));
}

// Splits the timeout into whole seconds and nanoseconds (fraction truncated).
TimePoint timeout_duration(double timeout) {
  TimePoint d;
  const double secs = std::floor(timeout);
  d.sec = static_cast<int64_t>(secs);
  d.nsec = static_cast<int64_t>((timeout - secs) * 1e9);
  return d;
}

void install_time_filters(const SearchOptions& o, search_context& ctx) {
  if (o.after_set) {
    if (o.complete) {
      ctx.set_time_first_after(o.after);
    } else {
      ctx.set_time_last_after(o.after);
    }
  }
  if (o.before_set) {
    if (o.complete) {
      ctx.set_time_last_before(o.before);
    } else {
      ctx.set_time_first_before(o.before);
    }
  }
}

}  // namespace

bool run_search(const SearchOptions& options, std::string_view expression, OutputBuffer& out) {
  QUARN_CHECK(options.source != nullptr);
  auto ctx = std::make_unique<search_context>();
  SearchStats stats;
  LogScope log_scope;
  log_set_prefix(msg::kSearchPrefix, g_search_number++);

  // Only a positive, finite timeout arms a deadline; 0, negative or NaN mean none.
  const bool has_timeout = options.timeout > 0 && options.timeout == options.timeout;
  const TimePoint timeout =
      has_timeout ? timeout_duration(std::min(options.timeout, kMaxTimeoutSeconds)) : TimePoint{};
  bool timed_out = false;
  ctx->set_timeout_callback([&timed_out](TimePoint&) {
    timed_out = true;
    return false;
  });
  install_time_filters(options, *ctx);

  TimePoint deadline;
  auto arm_deadline = [&]() {
    if (!has_timeout) return;
    deadline = time_add(my_gettime(), timeout);
    ctx->set_deadline(&deadline);
  };
  // Planning and compiling count against the timeout: the first period starts here.
  arm_deadline();

  stats.start = my_gettime();
  std::string error;
  if (!ctx->compile(expression, options.glob, &error)) {
    QLOG(LOG_INFO, msg::kPatternError, options.glob ? "glob" : "regex",
         error.empty() ? msg::kUnspecifiedReason : error.c_str());
    return false;
  }
  stats.pattern_done = my_gettime();
  log_elapsed(LOG_DEBUG, msg::kPatternFinished, stats.start, stats.pattern_done);
  QLOG(LOG_INFO, msg::kDispatching, static_cast<int>(expression.size()), expression.data());
  // A compile that outlasted the timeout ends the search as timed out, before any index
  // is opened.
  if (has_timeout && time_before(deadline, stats.pattern_done)) timed_out = true;

  TimePoint before = my_gettime();
  std::unique_ptr<tgdb_merger> merger;
  if (!timed_out) merger = options.source->open(*ctx);
  TimePoint after = my_gettime();
  stats.search_time = accumulate(stats.search_time, before, after);
  if (!merger && !timed_out) {
    QLOG(LOG_ERROR, msg::kEmptySource);
    return false;
  }
  if (!timed_out) {
    stats.launched = my_gettime();
    log_elapsed(LOG_DEBUG, msg::kLaunched, stats.pattern_done, stats.launched);
  }

  std::string line;  // reused for every result, so printing allocates only while warming up
  bool output_ok = true;
  // The time inside the merger is only ever shown by the timing report; two clock reads
  // per result are a measurable share of a broad search, so they are skipped when the
  // report will not be printed.
  const bool time_merger = log_enabled(LOG_STAT);
  while (merger && stats.results < options.limit) {
    if (time_merger) before = my_gettime();
    std::unique_ptr<result_entry> result = merger->next();
    if (time_merger) {
      after = my_gettime();
      stats.search_time = accumulate(stats.search_time, before, after);
    }

    const search_counters& c = ctx->counters();
    TimePoint first;
    if (stats.pattern_matches == 0 && ctx->first_match_time(&first)) stats.first_pattern = first;
    stats.trigram_matches += c.trigram_matches;
    stats.pattern_matches += c.pattern_matches;
    stats.bytes_read += c.bytes_read;
    stats.pages_read += c.pages_read;

    if (!result) break;
    if (stats.results == 0) stats.first_result = my_gettime();
    ++stats.results;

    line.clear();
    if (options.json) {
      // Refused elements are reported by the JSON writer; the rest are still printed.
      format_json(line, *result, 0, true);
    } else if (options.raw) {
      format_raw(line, *result);
    } else {
      format_text(line, *result);
    }
    out.append(line);
    merger->recycle(std::move(result));
    if (out.failed()) {
      // Nobody reads the results any more (closed pipe, full disk): stop, and say so.
      QLOG(LOG_ERROR, msg::kOutputFailed);
      output_ok = false;
      break;
    }
    arm_deadline();
  }
  // A deadline must not outlive the loop it guards (the merger is destroyed below).
  ctx->set_deadline(nullptr);

  stats.end = my_gettime();
  QLOG(LOG_INFO, msg::kSearchEnded, timed_out ? "timed out" : "completed",
       static_cast<size_t>(stats.results));
  print_search_report(stats);
  merger.reset();
  if (!out.flush() && output_ok) {
    QLOG(LOG_ERROR, msg::kOutputFailed);
    output_ok = false;
  }
  return output_ok;
}

bool run_search_stream(const SearchOptions& options, FILE* in, OutputBuffer& out) {
  char buf[kStdinLineBuffer];
  while (std::fgets(buf, sizeof buf, in) != nullptr) {
    buf[std::strcspn(buf, "\r\n")] = '\0';
    if (buf[0] == '\0') continue;
    if (!run_search(options, buf, out)) return false;
  }
  std::fputs(msg::kEndOfInput, stderr);
  return true;
}

}  // namespace quarn
