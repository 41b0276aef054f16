#include "service/pattern_cache.h"

#include <utility>

namespace quarn {

std::string pattern_cache_key(PatternRole role, bool regex, int scope,
                              std::string_view expression) {
  std::string key;
  key.reserve(expression.size() + 3);
  key.push_back(role == PatternRole::kSearch ? 's' : 'x');
  key.push_back(regex ? 'r' : 'g');
  key.push_back(static_cast<char>('0' + scope));
  key.append(expression);
  return key;
}

PatternCache::PatternCache(size_t max_entries, size_t max_bytes)
    : max_entries_(max_entries), max_bytes_(max_bytes) {}

std::shared_ptr<const prepared_expression> PatternCache::find(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = index_.find(key);
  if (it == index_.end()) {
    ++counters_.misses;
    return nullptr;
  }
  ++counters_.hits;
  lru_.splice(lru_.begin(), lru_, it->second);
  return it->second->value;
}

void PatternCache::erase(List::iterator it) {
  counters_.bytes -= it->bytes;
  --counters_.entries;
  index_.erase(it->key);
  lru_.erase(it);
}

void PatternCache::insert(const std::string& key, std::shared_ptr<const prepared_expression> e) {
  if (!e) return;
  const size_t bytes = e->bytes + key.size() + sizeof(Entry);
  if (max_entries_ == 0 || bytes > max_bytes_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto it = index_.find(key); it != index_.end()) erase(it->second);
  while (!lru_.empty() &&
         (counters_.entries + 1 > max_entries_ || counters_.bytes + bytes > max_bytes_)) {
    erase(std::prev(lru_.end()));
    ++counters_.evictions;
  }
  lru_.push_front(Entry{key, std::move(e), bytes});
  index_.emplace(lru_.front().key, lru_.begin());
  counters_.bytes += bytes;
  ++counters_.entries;
}

PatternCache::Counters PatternCache::counters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counters_;
}

}  // namespace quarn
