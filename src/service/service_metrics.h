// Counters of the running service, rendered in the Prometheus text exposition format.
//
// Every field is atomic and only ever added to, so request threads update them without
// a lock; a scrape reads each counter on its own (a scrape is not a consistent snapshot
// across counters, which the format does not promise either). Gauges that belong to
// other objects (searches running and queued, index files per scope) are passed in by
// the caller at render time.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/search_stats.h"

namespace quarn {

// Upper bounds (seconds) of the request duration histogram's buckets.
inline constexpr std::array<double, 12> kDurationBuckets = {
    0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 1, 5, 30};
// The fin codes counted one by one; any other code counts as "other".
inline constexpr std::array<int, 19> kCountedCodes = {
    200, 400, 401, 404, 413, 414, 416, 500, 503, 504, 801, 802, 803, 804, 805, 806, 807, 808, 809};

struct ScopeGauges {
  const char* scope;
  uint64_t files = 0;
  uint64_t bytes = 0;
  uint64_t unloaded = 0;  // listed entries without a loaded index
};

class ServiceMetrics {
 public:
  void count_request(int fin_code, double seconds);
  void count_search(const SearchStats& stats, uint64_t results, uint64_t bytes_streamed);
  void count_reload() { reloads_.fetch_add(1, std::memory_order_relaxed); }
  void count_failed_load() { failed_loads_.fetch_add(1, std::memory_order_relaxed); }
  void count_split() { splits_.fetch_add(1, std::memory_order_relaxed); }
  uint64_t splits() const { return splits_.load(std::memory_order_relaxed); }

  std::string render(unsigned running, unsigned queued,
                     const std::vector<ScopeGauges>& scopes) const;

 private:
  static constexpr size_t kOther = kCountedCodes.size();
  std::array<std::atomic<uint64_t>, kCountedCodes.size() + 1> by_code_{};
  std::array<std::atomic<uint64_t>, kDurationBuckets.size() + 1> buckets_{};
  std::atomic<uint64_t> duration_micros_{0};
  std::atomic<uint64_t> requests_{0};
  std::atomic<uint64_t> results_{0};
  std::atomic<uint64_t> bytes_streamed_{0};
  std::atomic<uint64_t> bytes_read_{0};
  std::atomic<uint64_t> pages_read_{0};
  std::atomic<uint64_t> trigram_matches_{0};
  std::atomic<uint64_t> pattern_matches_{0};
  std::atomic<uint64_t> reloads_{0};
  std::atomic<uint64_t> failed_loads_{0};
  std::atomic<uint64_t> splits_{0};
};

}  // namespace quarn
