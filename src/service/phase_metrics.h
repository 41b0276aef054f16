// Where the time of the service's searches goes: one histogram per phase of a search,
// and the pattern cache's counters, in the Prometheus text exposition format.
//
// Phases, per search request: parse (reading the query message or URL parameters),
// plan (parsing the expression and planning its trigram query; on a pattern cache hit,
// the lookup), compile (compiling the matcher; on a hit, allocating its scratch), search
// (the index work: walking the merger, less the output), output (turning results into
// JSON lines and writing them to the client). The output phase's formatting share is
// measured on each of the first kOutputSampleEvery results, then on one result in
// kOutputSampleEvery, scaled: a clock read per result would cost as much as the
// formatting it measures.
//
// Thread-safe: every field is atomic and only added to, as in ServiceMetrics.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "service/pattern_cache.h"

namespace quarn {

enum class Phase : size_t { kParse, kPlan, kCompile, kSearch, kOutput };
inline constexpr size_t kPhaseCount = 5;
inline constexpr std::array<const char*, kPhaseCount> kPhaseNames = {"parse", "plan", "compile",
                                                                     "search", "output"};
// Upper bounds (seconds) of the phase histograms' buckets: fine at the low end, where a
// selective search's phases lie.
inline constexpr std::array<double, 14> kPhaseBuckets = {
    0.00001, 0.000025, 0.00005, 0.0001, 0.00025, 0.0005, 0.001,
    0.0025,  0.005,    0.01,    0.025,  0.1,     1,      10};
inline constexpr uint64_t kOutputSampleEvery = 16;

// The seconds one request spent in each phase.
struct PhaseTimes {
  std::array<double, kPhaseCount> seconds{};
  double& operator[](Phase p) { return seconds[static_cast<size_t>(p)]; }
};

class PhaseMetrics {
 public:
  // Counts one request's phases; a phase of 0 seconds (not reached) is not counted.
  void observe(const PhaseTimes& t);
  std::string render(const PatternCache::Counters& cache) const;

 private:
  struct Histogram {
    std::array<std::atomic<uint64_t>, kPhaseBuckets.size() + 1> buckets{};
    std::atomic<uint64_t> nanos{0};
    std::atomic<uint64_t> count{0};
  };
  std::array<Histogram, kPhaseCount> phases_;
};

}  // namespace quarn
