// The service's cache of prepared expressions: a repeated search skips parsing,
// planning and compiling its expression, which for a selective search is most of the
// work.
//
// Entries are keyed by everything that changes what preparation makes: the role (the
// expression searched, or an exclusion), the method (regex or glob), the scope and the
// expression's bytes. A prepared expression is immutable and is installed into each
// search context by sharing (the context allocates its own matcher scratch), so one
// entry serves searches on any number of threads at once.
//
// Bounds: at most max_entries entries and max_bytes bytes (the entries' own estimate of
// what they hold, plus their keys); the least recently used entries go first. An entry
// larger than max_bytes on its own is not kept. Limits of 0 disable the cache.
//
// Thread-safe: one mutex guards the table; find() and insert() do no preparation under
// it. Two threads missing the same key at once both prepare it, and the second insert
// replaces the first; either result is correct.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "retrieval/prepared_expression.h"

namespace quarn {

// Defaults: a few thousand distinct expressions of a busy day, within a budget that is
// small beside the index files the service maps.
inline constexpr size_t kPatternCacheEntries = 4096;
inline constexpr size_t kPatternCacheBytes = 64 * 1024 * 1024;

enum class PatternRole : uint8_t { kSearch, kExclusion };

std::string pattern_cache_key(PatternRole role, bool regex, int scope,
                              std::string_view expression);

class PatternCache {
 public:
  PatternCache(size_t max_entries = kPatternCacheEntries, size_t max_bytes = kPatternCacheBytes);
  PatternCache(const PatternCache&) = delete;
  PatternCache& operator=(const PatternCache&) = delete;

  // The entry for key (now the most recently used), or null.
  std::shared_ptr<const prepared_expression> find(const std::string& key);
  void insert(const std::string& key, std::shared_ptr<const prepared_expression> e);

  struct Counters {
    uint64_t hits = 0;
    uint64_t misses = 0;
    uint64_t evictions = 0;
    size_t entries = 0;
    size_t bytes = 0;
  };
  Counters counters() const;

 private:
  struct Entry {
    std::string key;
    std::shared_ptr<const prepared_expression> value;
    size_t bytes = 0;
  };
  using List = std::list<Entry>;  // most recently used first

  void erase(List::iterator it);

  const size_t max_entries_;
  const size_t max_bytes_;
  mutable std::mutex mutex_;
  List lru_;
  std::unordered_map<std::string_view, List::iterator> index_;  // views into lru_ keys
  Counters counters_;
};

}  // namespace quarn
