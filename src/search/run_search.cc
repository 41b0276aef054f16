#include "search/run_search.h"

#include <algorithm>
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
#include "retrieval/result_deadline.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"
#include "search/messages.h"

namespace quarn {
namespace {

// Names searches in log lines; counts from 1 over the life of the process.
uint32_t g_search_number = 1;

TimePoint accumulate(const TimePoint& total, const TimePoint& from, const TimePoint& to) {
  return time_add(total, time_diff(from, to));
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

// Plans and compiles the expression, logging a failure. Records the pattern time.
bool compile_expression(const SearchOptions& options, std::string_view expression,
                        search_context& ctx, SearchStats& stats) {
  stats.start = my_gettime();
  std::string error;
  if (!ctx.compile(expression, options.glob, &error)) {
    QLOG(LOG_INFO, search_msg::kPatternError, options.glob ? "glob" : "regex",
         error.empty() ? search_msg::kUnspecifiedReason : error.c_str());
    return false;
  }
  stats.pattern_done = my_gettime();
  log_elapsed(LOG_DEBUG, search_msg::kPatternFinished, stats.start, stats.pattern_done);
  QLOG(LOG_INFO, search_msg::kDispatching, static_cast<int>(expression.size()),
       expression.data());
  return true;
}

// Opens the merger on the data source; nullptr (logged) when there is nothing to search.
// Opening counts as search time and, unless it ran out of time, launches the search.
std::unique_ptr<tgdb_merger> open_merger(const SearchOptions& options, search_context& ctx,
                                         const ResultDeadline& deadline, SearchStats& stats) {
  const TimePoint before = my_gettime();
  std::unique_ptr<tgdb_merger> merger = options.source->open(ctx);
  stats.search_time = accumulate(stats.search_time, before, my_gettime());
  if (!merger) {
    QLOG(LOG_ERROR, search_msg::kEmptySource);
    return nullptr;
  }
  if (!deadline.timed_out()) {
    stats.launched = my_gettime();
    log_elapsed(LOG_DEBUG, search_msg::kLaunched, stats.pattern_done, stats.launched);
  }
  return merger;
}

// Appends the chosen form of one result to line.
void format_result(const SearchOptions& options, const result_entry& result, std::string& line) {
  if (options.json) {
    // Refused elements are reported by the JSON writer; the rest are still printed.
    format_json(line, result, 0, true);
  } else if (options.raw) {
    format_raw(line, result);
  } else {
    format_text(line, result);
  }
}

// Prints results until the limit, the end of the results or the deadline. False (logged)
// when the output could not be written.
bool print_results(const SearchOptions& options, search_context& ctx, tgdb_merger& merger,
                   ResultDeadline& deadline, SearchStats& stats, OutputBuffer& out) {
  std::string line;  // reused for every result, so printing allocates only while warming up
  // The time inside the merger is only ever shown by the timing report; two clock reads
  // per result are a measurable share of a broad search, so they are skipped when the
  // report will not be printed.
  const bool time_merger = log_enabled(LOG_STAT);
  while (stats.results < options.limit) {
    const TimePoint before = time_merger ? my_gettime() : TimePoint{};
    std::unique_ptr<result_entry> result = merger.next();
    if (time_merger) stats.search_time = accumulate(stats.search_time, before, my_gettime());

    TimePoint first;
    if (stats.pattern_matches == 0 && ctx.first_match_time(&first)) stats.first_pattern = first;
    stats.add(ctx.counters());

    if (!result) break;
    if (stats.results == 0) stats.first_result = my_gettime();
    ++stats.results;

    line.clear();
    format_result(options, *result, line);
    out.append(line);
    merger.recycle(std::move(result));
    if (out.failed()) {
      // Nobody reads the results any more (closed pipe, full disk): stop, and say so.
      QLOG(LOG_ERROR, search_msg::kOutputFailed);
      return false;
    }
    deadline.arm();
  }
  return true;
}

// Reads the next line of in into buf (kMaxStdinLine bytes) up to its first carriage
// return or line feed; the rest of the line, up to and including the line feed, is read
// and dropped, so a line is always exactly one expression. fault names what makes the
// line unusable (longer than the buffer, or holding a NUL), or is nullptr. False at end
// of input with nothing read.
bool read_stream_line(FILE* in, char* buf, size_t& len, const char*& fault) {
  len = 0;
  fault = nullptr;
  bool any = false;
  bool cut = false;  // past the first carriage return: the bytes no longer count
  int c;
  while ((c = std::getc(in)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (cut) continue;
    if (c == '\r') {
      cut = true;
    } else if (len == kMaxStdinLine) {
      fault = search_msg::kLineTooLong;
      cut = true;
    } else {
      if (c == '\0' && fault == nullptr) fault = search_msg::kLineHasNul;
      buf[len++] = static_cast<char>(c);
    }
  }
  return any;
}

// A line that cannot be an expression fails as a pattern that does not compile does:
// under its own search number, with the same log line, and with the same result.
bool reject_line(const SearchOptions& options, const char* reason) {
  LogScope log_scope;
  log_set_prefix(search_msg::kSearchPrefix, g_search_number++);
  QLOG(LOG_INFO, search_msg::kPatternError, options.glob ? "glob" : "regex", reason);
  return false;
}

}  // namespace

bool run_search(const SearchOptions& options, std::string_view expression, OutputBuffer& out) {
  QUARN_CHECK(options.source != nullptr);
  auto ctx = std::make_unique<search_context>();
  SearchStats stats;
  LogScope log_scope;
  log_set_prefix(search_msg::kSearchPrefix, g_search_number++);
  ResultDeadline deadline(options.timeout, *ctx);
  install_time_filters(options, *ctx);

  // Planning and compiling count against the timeout: the first period starts here.
  deadline.arm();
  if (!compile_expression(options, expression, *ctx, stats)) return false;
  // A compile that outlasted the timeout ends the search as timed out, before any index
  // is opened.
  deadline.expire_if_passed(stats.pattern_done);
  std::unique_ptr<tgdb_merger> merger;
  bool output_ok = true;
  bool search_ok = true;
  if (!deadline.timed_out()) {
    merger = open_merger(options, *ctx, deadline, stats);
    if (!merger) return false;
    output_ok = print_results(options, *ctx, *merger, deadline, stats, out);
    // A damaged index, or one written in place while it was read, was logged where it
    // was found; what was printed cannot be trusted to be complete or right.
    if (!merger->indexes_unchanged() || merger->failed()) search_ok = false;
  }
  deadline.disarm();  // the merger is destroyed below

  stats.end = my_gettime();
  QLOG(LOG_INFO, search_msg::kSearchEnded,
       !search_ok ? "failed" : deadline.timed_out() ? "timed out" : "completed",
       static_cast<size_t>(stats.results));
  print_search_report(stats);
  merger.reset();
  if (!out.flush() && output_ok) {
    QLOG(LOG_ERROR, search_msg::kOutputFailed);
    output_ok = false;
  }
  return output_ok && search_ok;
}

bool run_search_stream(const SearchOptions& options, FILE* in, OutputBuffer& out) {
  char buf[kMaxStdinLine];
  size_t len = 0;
  const char* fault = nullptr;
  while (read_stream_line(in, buf, len, fault)) {
    if (fault != nullptr) {
      if (!reject_line(options, fault)) return false;
      continue;
    }
    if (len == 0) continue;
    if (!run_search(options, std::string_view(buf, len), out)) return false;
  }
  std::fputs(search_msg::kEndOfInput, stderr);
  return true;
}

}  // namespace quarn
