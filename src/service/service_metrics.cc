#include "service/service_metrics.h"

#include "common/strfmt.h"

namespace quarn {
namespace {

void add(std::atomic<uint64_t>& c, uint64_t n) { c.fetch_add(n, std::memory_order_relaxed); }
uint64_t get(const std::atomic<uint64_t>& c) { return c.load(std::memory_order_relaxed); }
unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

void counter(std::string& out, const char* name, const char* help, uint64_t value) {
  append_fmt(out, "# HELP %s %s\n# TYPE %s counter\n%s %llu\n", name, help, name, name, ull(value));
}

void gauge_header(std::string& out, const char* name, const char* help) {
  append_fmt(out, "# HELP %s %s\n# TYPE %s gauge\n", name, help, name);
}

}  // namespace

void ServiceMetrics::count_request(int fin_code, double seconds) {
  size_t slot = kOther;
  for (size_t i = 0; i < kCountedCodes.size(); ++i)
    if (kCountedCodes[i] == fin_code) slot = i;
  add(by_code_[slot], 1);
  size_t b = 0;
  while (b < kDurationBuckets.size() && seconds > kDurationBuckets[b]) ++b;
  add(buckets_[b], 1);
  add(duration_micros_, static_cast<uint64_t>(seconds * 1e6));
  add(requests_, 1);
}

void ServiceMetrics::count_search(const SearchStats& s, uint64_t results, uint64_t bytes) {
  add(results_, results);
  add(bytes_streamed_, bytes);
  add(bytes_read_, s.bytes_read);
  add(pages_read_, s.pages_read);
  add(trigram_matches_, s.trigram_matches);
  add(pattern_matches_, s.pattern_matches);
}

std::string ServiceMetrics::render(unsigned running, unsigned queued,
                                   const std::vector<ScopeGauges>& scopes) const {
  std::string out;
  out += "# HELP quarn_requests_total Requests answered, by fin code.\n"
         "# TYPE quarn_requests_total counter\n";
  for (size_t i = 0; i < kCountedCodes.size(); ++i)
    append_fmt(out, "quarn_requests_total{fin=\"%d\"} %llu\n", kCountedCodes[i], ull(get(by_code_[i])));
  append_fmt(out, "quarn_requests_total{fin=\"other\"} %llu\n", ull(get(by_code_[kOther])));

  out += "# HELP quarn_request_duration_seconds Time from request to fin line.\n"
         "# TYPE quarn_request_duration_seconds histogram\n";
  uint64_t cumulative = 0;
  for (size_t b = 0; b < kDurationBuckets.size(); ++b) {
    cumulative += get(buckets_[b]);
    append_fmt(out, "quarn_request_duration_seconds_bucket{le=\"%g\"} %llu\n", kDurationBuckets[b],
               ull(cumulative));
  }
  cumulative += get(buckets_[kDurationBuckets.size()]);
  append_fmt(out, "quarn_request_duration_seconds_bucket{le=\"+Inf\"} %llu\n", ull(cumulative));
  append_fmt(out, "quarn_request_duration_seconds_sum %.6f\n", get(duration_micros_) / 1e6);
  append_fmt(out, "quarn_request_duration_seconds_count %llu\n", ull(get(requests_)));

  counter(out, "quarn_results_total", "Results streamed.", get(results_));
  counter(out, "quarn_streamed_bytes_total", "NDJSON bytes streamed.", get(bytes_streamed_));
  counter(out, "quarn_read_bytes_total", "String-table bytes read by searches.", get(bytes_read_));
  counter(out, "quarn_read_pages_total", "String-table pages touched by searches.", get(pages_read_));
  counter(out, "quarn_trigram_matches_total", "Candidate keys tested.", get(trigram_matches_));
  counter(out, "quarn_pattern_matches_total", "Candidate keys confirmed.", get(pattern_matches_));
  counter(out, "quarn_reloads_total", "Forced reloads of set files.", get(reloads_));
  counter(out, "quarn_failed_loads_total", "Reloads that left a listed index unloaded.",
          get(failed_loads_));
  counter(out, "quarn_split_searches_total", "Searches spread over idle workers.", get(splits_));

  gauge_header(out, "quarn_searches_running", "Searches holding a worker.");
  append_fmt(out, "quarn_searches_running %u\n", running);
  gauge_header(out, "quarn_searches_queued", "Searches waiting for a worker.");
  append_fmt(out, "quarn_searches_queued %u\n", queued);
  gauge_header(out, "quarn_index_files", "Loaded index files per scope.");
  for (const auto& s : scopes) append_fmt(out, "quarn_index_files{scope=\"%s\"} %llu\n", s.scope, ull(s.files));
  gauge_header(out, "quarn_index_bytes", "Bytes of the loaded index files per scope.");
  for (const auto& s : scopes) append_fmt(out, "quarn_index_bytes{scope=\"%s\"} %llu\n", s.scope, ull(s.bytes));
  gauge_header(out, "quarn_index_files_unloaded", "Listed index files that did not load.");
  for (const auto& s : scopes)
    append_fmt(out, "quarn_index_files_unloaded{scope=\"%s\"} %llu\n", s.scope, ull(s.unloaded));
  return out;
}

}  // namespace quarn
