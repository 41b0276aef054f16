#include "forge/run_spiller.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>

#include "common/huge_pages.h"
#include "common/strfmt.h"
#include "common/parallel_sort.h"

namespace quarn {
namespace {

// How far ahead of the entry being read the sorted walks fetch its arena bytes: the
// entries are in key order but their bytes in input order, so without it nearly every
// entry costs a cache miss; sixteen entries ahead covers the memory latency.
constexpr size_t kPrefetchAhead = 16;

// The sorted last batch as a source: folds each group of equal keys on the way out,
// exactly as spill() does when it writes a run.
class MemoryRun final : public SortabSource {
 public:
  MemoryRun(std::shared_ptr<const RunSpiller::Batch> batch, SortabMergeFunc merge)
      : batch_(std::move(batch)), merge_(std::move(merge)) {}

  bool next() override {
    const size_t n = batch_->entries.size();
    if (i_ >= n) return false;
    const std::string_view key = batch_->key(i_);
    merged_.assign(batch_->value(i_));
    for (++i_; i_ < n; ++i_) {
      batch_->prefetch(i_ + kPrefetchAhead);
      if (batch_->key(i_) != key) break;
      scratch_.clear();
      merge_(key, merged_, batch_->value(i_), scratch_);
      merged_.swap(scratch_);
    }
    key_ = key;
    return true;
  }
  std::string_view key() const override { return key_; }
  std::string_view value() const override { return merged_; }
  bool failed() const override { return false; }
  const std::string& error() const override { return no_error_; }

 private:
  std::shared_ptr<const RunSpiller::Batch> batch_;
  SortabMergeFunc merge_;
  size_t i_ = 0;
  std::string_view key_;
  std::string merged_, scratch_, no_error_;
};

}  // namespace

RunSpiller::RunSpiller(TempFiles& temps, size_t budget, SortabMergeFunc merge,
                       size_t max_fan_in, size_t sort_threads)
    : temps_(temps),
      merge_(std::move(merge)),
      max_fan_in_(std::max<size_t>(2, max_fan_in)),
      sort_threads_(std::max<size_t>(1, sort_threads)) {
  budget = std::max(budget, kMinSortBudget);
  // Three quarters for key and value bytes, one quarter for the entry table: owner
  // names and rdata keys run to a few dozen bytes against 16 bytes of entry.
  arena_limit_ = budget / 4 * 3;
  entry_limit_ = budget / 4 / sizeof(Entry);
  arena_.reserve(arena_limit_);
  entries_.reserve(entry_limit_);
  // The sort and the sorted walks read both in key order, far from their input order.
  advise_huge_pages(arena_.data(), arena_.capacity());
  advise_huge_pages(entries_.data(), entries_.capacity() * sizeof(Entry));
}

bool RunSpiller::add(std::string_view key, std::string_view value, std::string* error) {
  if (value.size() > kMaxSpillValue) {
    *error = kSpillErrValue;
    return false;
  }
  const size_t need = key.size() + value.size();
  if (arena_.size() + need > arena_limit_ || entries_.size() == entry_limit_) {
    if (!spill(error)) return false;
  }
  if (need > arena_limit_) {
    *error = "entry larger than the sort budget";
    return false;
  }
  const uint64_t offset = arena_.size();
  arena_.insert(arena_.end(), key.begin(), key.end());
  arena_.insert(arena_.end(), value.begin(), value.end());
  uint64_t prefix = 0;
  for (size_t i = 0; i < 8; ++i) {
    prefix = prefix << 8 | (i < key.size() ? static_cast<uint8_t>(key[i]) : 0);
  }
  uint32_t tail = 0;
  for (size_t i = 8; i < 11; ++i) {
    tail = tail << 8 | (i < key.size() ? static_cast<uint8_t>(key[i]) : 0);
  }
  entries_.push_back({prefix, offset, static_cast<uint32_t>(key.size()),
                      tail << 8 | static_cast<uint32_t>(value.size())});
  return true;
}

namespace {

// Key bytes each entry carries in its own fields (prefix word and tail).
constexpr size_t kInlineKeyBytes = 11;
// Runs still tied this deep are ordered by comparing the rest of their keys: only keys
// that repeat one long beginning get there, and it bounds the refinement's recursion.
constexpr size_t kMaxRefineDepth = 256;

// Key bytes [at, at + 8) as a big-endian word, zero-padded past the key's end.
uint64_t key_word(const char* key, size_t length, size_t at) {
  uint8_t b[8] = {};
  if (at < length) std::memcpy(b, key + at, std::min<size_t>(8, length - at));
  uint64_t w = 0;
  for (uint8_t c : b) w = w << 8 | c;
  return w;
}

}  // namespace

void RunSpiller::sort_entries() {
  parallel_sort(entries_.begin(), entries_.end(), sort_threads_,
                [](const Entry& a, const Entry& b) {
                  if (a.prefix != b.prefix) return a.prefix < b.prefix;
                  // The key bytes sit above the length, so the words order as the bytes.
                  if ((a.tail ^ b.tail) >> 8 != 0) return a.tail < b.tail;
                  return a.offset < b.offset;
                });
  // Runs of ties are independent: each thread takes a share that starts and ends at run
  // boundaries.
  const size_t threads = entries_.size() < kParallelSortMin ? 1 : sort_threads_;
  std::vector<size_t> bounds{0};
  for (size_t t = 1; t < threads; ++t) {
    size_t at = std::max(bounds.back(), entries_.size() * t / threads);
    while (at > 0 && at < entries_.size() && same_inline_key(entries_[at - 1], entries_[at])) ++at;
    bounds.push_back(at);
  }
  bounds.push_back(entries_.size());
  std::vector<std::thread> helpers;
  for (size_t t = 1; t + 1 < bounds.size(); ++t) {
    try {
      helpers.emplace_back([this, &bounds, t] { order_inline_ties(bounds[t], bounds[t + 1]); });
    } catch (const std::system_error&) {
      order_inline_ties(bounds[t], bounds[t + 1]);
    }
  }
  order_inline_ties(bounds[0], bounds[1]);
  for (std::thread& h : helpers) h.join();
}

// Orders each run of entries in [first, last) that tie on their inline key bytes.
void RunSpiller::order_inline_ties(size_t first, size_t last) {
  for (size_t i = first; i < last;) {
    size_t j = i + 1;
    while (j < last && same_inline_key(entries_[i], entries_[j])) {
      prefetch_key(j + kPrefetchAhead, kInlineKeyBytes, last);
      ++j;
    }
    prefetch_key(j + kPrefetchAhead, kInlineKeyBytes, last);
    if (j - i > 1) order_ties(i, j, kInlineKeyBytes);
    i = j;
  }
}

// Orders entries [first, last), which agree on their first `depth` key bytes (padding
// counted as 00): by the bytes that follow, a key that ends first (a prefix of the
// others) before them, equal keys in the order they were added.
void RunSpiller::order_ties(size_t first, size_t last, size_t depth) {
  uint32_t longest = 0;
  for (size_t i = first; i < last; ++i) longest = std::max(longest, entries_[i].key_len);
  const auto shorter_then_older = [](const Entry& a, const Entry& b) {
    return a.key_len != b.key_len ? a.key_len < b.key_len : a.offset < b.offset;
  };
  if (longest <= depth) {
    // Every key ends by here: the tied bytes are all there is, padding aside.
    std::sort(entries_.begin() + first, entries_.begin() + last, shorter_then_older);
    return;
  }
  if (depth >= kMaxRefineDepth) {
    order_by_suffix(first, last, depth);
    return;
  }
  for (size_t i = first; i < last; ++i) {
    prefetch_key(i + kPrefetchAhead, depth, last);
    Entry& e = entries_[i];
    e.prefix = key_word(arena_.data() + e.offset, e.key_len, depth);
  }
  std::sort(entries_.begin() + first, entries_.begin() + last,
            [](const Entry& a, const Entry& b) {
              return a.prefix != b.prefix ? a.prefix < b.prefix : a.offset < b.offset;
            });
  for (size_t i = first; i < last;) {
    size_t j = i + 1;
    while (j < last && entries_[j].prefix == entries_[i].prefix) ++j;
    if (j - i > 1) order_ties(i, j, depth + 8);
    i = j;
  }
}

// The same order by plain comparison of the keys past `depth`.
void RunSpiller::order_by_suffix(size_t first, size_t last, size_t depth) {
  std::sort(entries_.begin() + first, entries_.begin() + last,
            [this, depth](const Entry& a, const Entry& b) {
              const std::string_view ka = key_of(a), kb = key_of(b);
              const int c = ka.substr(std::min<size_t>(depth, ka.size()))
                                .compare(kb.substr(std::min<size_t>(depth, kb.size())));
              // A key that ended before `depth` has an empty rest, so it comes first.
              if (c != 0) return c < 0;
              return a.key_len != b.key_len ? a.key_len < b.key_len : a.offset < b.offset;
            });
}

bool RunSpiller::spill(std::string* error) {
  if (entries_.empty()) return true;
  sort_entries();
  const std::string name = temps_.new_run_name(error);
  if (name.empty()) return false;
  auto writer = SortabWriter::create(name, error);
  if (!writer) return false;
  for (size_t i = 0; i < entries_.size();) {
    const std::string_view key = key_of(entries_[i]);
    merged_.assign(value_of(entries_[i]));
    size_t j = i + 1;
    for (; j < entries_.size(); ++j) {
      prefetch_entry(j + kPrefetchAhead);
      if (key_of(entries_[j]) != key) break;
      scratch_.clear();
      merge_(key, merged_, value_of(entries_[j]), scratch_);
      merged_.swap(scratch_);
    }
    if (!writer->add(key, merged_, error)) return false;
    i = j;
  }
  if (!writer->finish(error)) return false;
  bytes_spilled_ += writer->bytes_written();
  ++runs_written_;
  runs_.push_back(name);
  arena_.clear();
  entries_.clear();
  return true;
}

bool RunSpiller::merge_runs(size_t first, size_t count, std::string* error) {
  SortabMerger merger(merge_);
  for (size_t i = first; i < first + count; ++i) {
    auto reader = SortabReader::open(runs_[i], error);
    if (!reader) return false;
    merger.add_source(std::move(reader));
  }
  const std::string name = temps_.new_run_name(error);
  if (name.empty()) return false;
  auto writer = SortabWriter::create(name, error);
  if (!writer) return false;
  while (merger.next()) {
    if (!writer->add(merger.key(), merger.value(), error)) return false;
  }
  if (merger.failed()) {
    *error = merger.error();
    return false;
  }
  if (!writer->finish(error)) return false;
  bytes_spilled_ += writer->bytes_written();
  ++runs_written_;
  for (size_t i = first; i < first + count; ++i) temps_.remove(runs_[i]);
  const auto at = runs_.begin() + static_cast<std::ptrdiff_t>(first);
  runs_.erase(at + 1, at + static_cast<std::ptrdiff_t>(count));
  *at = name;
  return true;
}

std::unique_ptr<SortabSource> RunSpiller::take_memory_run() {
  if (!kept_) return nullptr;
  kept_ = false;
  // The source owns the batch from here on; the spiller is done with it.
  auto batch = std::make_shared<Batch>();
  batch->arena.swap(arena_);
  batch->entries.swap(entries_);
  return std::make_unique<MemoryRun>(std::move(batch), merge_);
}

bool RunSpiller::finish(std::string* error, size_t keep_limit) {
  if (runs_.empty() && !entries_.empty() && memory_bytes() <= keep_limit) {
    sort_entries();
    kept_ = true;
    return true;
  }
  if (!spill(error)) return false;
  // Give the arena back before the final merge and the index writers need memory.
  std::vector<char>().swap(arena_);
  std::vector<Entry>().swap(entries_);
  // Neighbouring groups merge in turn from the front, so no run is read again before
  // every other has been merged once.
  for (size_t first = 0; runs_.size() > max_fan_in_; ++first) {
    if (runs_.size() - first < 2) first = 0;
    if (!merge_runs(first, std::min(max_fan_in_, runs_.size() - first), error)) return false;
  }
  return true;
}

}  // namespace quarn
