#include "service/service_search.h"

#include <cstring>
#include <memory>

#include "common/log.h"
#include "common/my_time.h"
#include "output/json_output.h"
#include "output/status_message.h"
#include "pattern/parse.h"
#include "retrieval/data_source.h"
#include "retrieval/key_ranges.h"
#include "retrieval/result_deadline.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"
#include "retrieval/prepared_expression.h"
#include "service/pattern_cache.h"
#include "service/phase_metrics.h"
#include "service/service_lookup.h"
#include "service/service_messages.h"

namespace quarn {
namespace {

// The part of a printf format before its first conversion.
std::string_view format_prefix(const char* fmt) {
  const char* pct = std::strchr(fmt, '%');
  return pct ? std::string_view(fmt, static_cast<size_t>(pct - fmt)) : std::string_view(fmt);
}

bool starts_with_format(const std::string& text, const char* fmt) {
  return text.rfind(format_prefix(fmt), 0) == 0;
}

void install_filters(const query_request& r, search_context& ctx) {
  ctx.set_rrtype(r.rrtype);
  if (r.time_first_before_set) ctx.set_time_first_before(r.time_first_before);
  if (r.time_first_after_set) ctx.set_time_first_after(r.time_first_after);
  if (r.time_last_before_set) ctx.set_time_last_before(r.time_last_before);
  if (r.time_last_after_set) ctx.set_time_last_after(r.time_last_after);
}

}  // namespace

int expression_error_code(bool regex, const std::string& text) {
  // The faults of a character the dialect does not know, as opposed to broken syntax.
  const bool unsupported = starts_with_format(text, reparse_error::kInvalidCharCode) ||
                           starts_with_format(text, reparse_error::kInvalidEscape) ||
                           starts_with_format(text, reparse_error::kCollating) ||
                           starts_with_format(text, reparse_error::kClassName);
  if (regex) return unsupported ? kStatusRegexUnsupported : kStatusRegexSyntax;
  return unsupported ? kStatusGlobUnsupported : kStatusGlobSyntax;
}

namespace {

// The prepared expression (or exclusion) of a request: from the cache, or prepared and
// added to it. Null with *error set when it does not prepare.
std::shared_ptr<const prepared_expression> find_or_prepare(PatternRole role,
                                                           const query_request& r,
                                                           std::string_view expression,
                                                           PatternCache* cache,
                                                           PhaseTimes& times,
                                                           std::string* error) {
  const TimePoint start = my_gettime();
  std::string key;
  if (cache != nullptr) {
    key = pattern_cache_key(role, r.regex, r.scope, expression);
    if (auto hit = cache->find(key)) {
      times[Phase::kPlan] += elapsed_seconds(start, my_gettime());
      return hit;
    }
  }
  const bool glob = !r.regex;
  std::shared_ptr<const prepared_expression> e;
  if (role == PatternRole::kExclusion) {
    e = prepare_exclusion(expression, glob, error);
  } else {
    // Parsed on its own first: a fault is classified by the parser's own message.
    const bool parses = glob ? glob_parse(expression, error) != nullptr
                             : regex_parse(expression, error) != nullptr;
    if (parses) e = prepare_expression(expression, glob, error);
  }
  const double total = elapsed_seconds(start, my_gettime());
  const double compile = e ? e->compile_seconds : 0;
  times[Phase::kPlan] += total - compile;
  times[Phase::kCompile] += compile;
  if (e && cache != nullptr) cache->insert(key, e);
  return e;
}

}  // namespace

std::optional<std::string> prepare_search(const query_request& r, search_context& ctx,
                                          PatternCache* cache, PhaseTimes* times) {
  PhaseTimes ignored;
  PhaseTimes& t = times != nullptr ? *times : ignored;
  install_filters(r, ctx);
  std::string error;
  auto e = find_or_prepare(PatternRole::kSearch, r, r.value, cache, t, &error);
  TimePoint start = my_gettime();
  if (!e || !ctx.install(*e, &error)) {
    if (error.empty()) error = status_text(r.regex ? kStatusRegexSyntax : kStatusGlobSyntax);
    return build_status_message(expression_error_code(r.regex, error), error.c_str());
  }
  t[Phase::kCompile] += elapsed_seconds(start, my_gettime());
  if (!r.exclude) return std::nullopt;
  e = find_or_prepare(PatternRole::kExclusion, r, *r.exclude, cache, t, &error);
  start = my_gettime();
  if (!e || !ctx.install_exclusion(*e, &error)) {
    return build_status_message(kStatusExcludeSyntax,
                                error.empty() ? nullptr : error.c_str());
  }
  t[Phase::kCompile] += elapsed_seconds(start, my_gettime());
  return std::nullopt;
}

std::string decide_fin(const SearchOutcome& o, int* code, const char* abort_text) {
  const char* text = nullptr;
  if (o.no_source) {
    *code = kStatusInternalError;
    text = service_msg::kNoSourceForScope;
  } else if (o.records_error != nullptr) {
    *code = kStatusInternalError;
    text = o.records_error;
  } else if (o.damaged) {
    *code = kStatusInternalError;
    text = service_msg::kDamagedIndex;
  } else if (o.aborted) {
    *code = kStatusInternalError;
    text = abort_text;
  } else if (o.timed_out) {
    *code = kStatusTimedOut;
  } else {
    *code = o.results > 0 ? kStatusOk : kStatusNoResults;
  }
  return build_status_message(*code, text);
}

// Refused elements are reported by the JSON writer; the rest are still written. The
// first kOutputSampleEvery results are timed each, then one in kOutputSampleEvery,
// standing for the others.
void format_result(const query_request& r, const result_entry& result, uint64_t n,
                   std::string& batch, double* seconds) {
  const uint64_t weight = n < kOutputSampleEvery              ? 1
                          : n % kOutputSampleEvery == 0 ? kOutputSampleEvery
                                                        : 0;
  if (weight == 0) {
    format_json(batch, result, r.rrtype, r.details);
    return;
  }
  const TimePoint start = my_gettime();
  format_json(batch, result, r.rrtype, r.details);
  *seconds += static_cast<double>(weight) * elapsed_seconds(start, my_gettime());
}

namespace {

// Hands the batch to the sink, timed as output; false when the client is gone.
bool send_batch(const LineSink& sink, std::string& batch, SearchOutcome& o) {
  const TimePoint start = my_gettime();
  const bool ok = sink(batch);
  o.output_seconds += elapsed_seconds(start, my_gettime());
  batch.clear();
  if (!ok) o.write_failed = true;
  return ok;
}

void stream_results(const query_request& r, const SearchLimits& limits, search_context& ctx,
                    tgdb_merger& merger, ResultDeadline& deadline, std::string& batch,
                    const LineSink& sink, RecordFollower* follower, SearchOutcome& o) {
  uint64_t skipped = 0;
  while (o.results < limits.limit) {
    std::unique_ptr<result_entry> result = merger.next();
    o.stats.add(ctx.counters());
    if (!result) break;
    if (skipped < limits.offset) {
      ++skipped;
    } else {
      format_result(r, *result, o.results, batch, &o.output_seconds);
      ++o.results;
      if (follower != nullptr && !follower->append(*result, batch)) {
        o.records_error = follower->error();
        return;
      }
      if (batch.size() >= kResultBatchBytes && !send_batch(sink, batch, o)) return;
    }
    merger.recycle(std::move(result));
    deadline.arm();
  }
}

using MergerOpener = std::function<std::unique_ptr<tgdb_merger>(search_context&)>;

SearchOutcome run_search(const query_request& r, const SearchLimits& limits,
                         search_context& ctx, const MergerOpener& open, const LineSink& sink,
                         const AbortProbe& probe, RecordFollower* follower) {
  SearchOutcome o;
  std::string batch;
  // While the search runs the probe also sends what has piled up, so that a slow search
  // shows its first results within a probe interval.
  ResultDeadline deadline(limits.timeout, ctx, [&]() {
    if (!batch.empty()) {
      if (!sink(batch)) return true;
      batch.clear();
    }
    return probe && probe();
  });
  const TimePoint start = my_gettime();
  deadline.arm();
  std::unique_ptr<tgdb_merger> merger = open(ctx);
  if (!merger) {
    deadline.disarm();
    o.no_source = true;
    return o;
  }
  stream_results(r, limits, ctx, *merger, deadline, batch, sink, follower, o);
  if (follower != nullptr) o.records = follower->records();
  deadline.disarm();
  o.timed_out = deadline.timed_out();
  o.aborted = deadline.aborted();
  o.damaged = merger->failed();
  merger.reset();
  o.search_seconds = elapsed_seconds(start, my_gettime()) - o.output_seconds;
  if (!o.write_failed && !batch.empty()) send_batch(sink, batch, o);
  return o;
}

}  // namespace

SearchOutcome run_search_request(const query_request& r, const SearchLimits& limits,
                                 search_context& ctx, data_source& source,
                                 const LineSink& sink, const AbortProbe& probe,
                                 RecordFollower* follower) {
  return run_search(r, limits, ctx, [&source](search_context& c) { return source.open(c); },
                    sink, probe, follower);
}

SearchOutcome run_search_over(const query_request& r, const SearchLimits& limits,
                              search_context& ctx, const std::vector<TgdbRef>& indexes,
                              const LineSink& sink, const AbortProbe& probe,
                              RecordFollower* follower) {
  return run_search(r, limits, ctx,
                    [&indexes](search_context& c) { return open_merger(c, indexes); }, sink,
                    probe, follower);
}

}  // namespace quarn
