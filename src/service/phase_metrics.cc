#include "service/phase_metrics.h"

#include "common/strfmt.h"

namespace quarn {
namespace {

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }
uint64_t get(const std::atomic<uint64_t>& c) { return c.load(std::memory_order_relaxed); }

void counter(std::string& out, const char* name, const char* help, uint64_t value,
             const char* type = "counter") {
  append_fmt(out, "# HELP %s %s\n# TYPE %s %s\n%s %llu\n", name, help, name, type, name,
             ull(value));
}

}  // namespace

void PhaseMetrics::observe(const PhaseTimes& t) {
  for (size_t p = 0; p < kPhaseCount; ++p) {
    const double s = t.seconds[p];
    if (!(s > 0)) continue;
    size_t b = 0;
    while (b < kPhaseBuckets.size() && s > kPhaseBuckets[b]) ++b;
    Histogram& h = phases_[p];
    h.buckets[b].fetch_add(1, std::memory_order_relaxed);
    h.nanos.fetch_add(static_cast<uint64_t>(s * 1e9), std::memory_order_relaxed);
    h.count.fetch_add(1, std::memory_order_relaxed);
  }
}

std::string PhaseMetrics::render(const PatternCache::Counters& cache) const {
  std::string out =
      "# HELP quarn_phase_seconds Time of a search request in each phase: parse, plan, "
      "compile, search, output.\n# TYPE quarn_phase_seconds histogram\n";
  for (size_t p = 0; p < kPhaseCount; ++p) {
    const Histogram& h = phases_[p];
    uint64_t cumulative = 0;
    for (size_t b = 0; b < kPhaseBuckets.size(); ++b) {
      cumulative += get(h.buckets[b]);
      append_fmt(out, "quarn_phase_seconds_bucket{phase=\"%s\",le=\"%g\"} %llu\n",
                 kPhaseNames[p], kPhaseBuckets[b], ull(cumulative));
    }
    cumulative += get(h.buckets[kPhaseBuckets.size()]);
    append_fmt(out, "quarn_phase_seconds_bucket{phase=\"%s\",le=\"+Inf\"} %llu\n",
               kPhaseNames[p], ull(cumulative));
    append_fmt(out, "quarn_phase_seconds_sum{phase=\"%s\"} %.9f\n", kPhaseNames[p],
               get(h.nanos) / 1e9);
    append_fmt(out, "quarn_phase_seconds_count{phase=\"%s\"} %llu\n", kPhaseNames[p],
               ull(get(h.count)));
  }
  counter(out, "quarn_pattern_cache_hits_total", "Expressions found prepared.", cache.hits);
  counter(out, "quarn_pattern_cache_misses_total", "Expressions prepared anew.", cache.misses);
  counter(out, "quarn_pattern_cache_evictions_total", "Prepared expressions dropped for room.",
          cache.evictions);
  counter(out, "quarn_pattern_cache_entries", "Prepared expressions held.", cache.entries,
          "gauge");
  counter(out, "quarn_pattern_cache_bytes", "Bytes held by prepared expressions.", cache.bytes,
          "gauge");
  return out;
}

}  // namespace quarn
