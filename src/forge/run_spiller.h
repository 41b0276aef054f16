// Sorts (key, value) entries within a memory budget by spilling sorted runs.
//
// Entries are packed into one arena; when arena and entry table would pass the budget,
// they are sorted bytewise by key, entries with equal keys are folded with the merge
// function, and the result is written as one sorted-table run under the TempFiles
// directory. finish() deals with the last batch: when no run was written and the batch
// takes at most `keep_limit` bytes, it stays in memory, sorted, and take_memory_run()
// hands it out as a source (so a small build never touches the temporary directory);
// otherwise it is spilled like the others. When there are more runs than a merge may
// read at once (kMaxFanIn), finish() merges groups of neighbouring runs into larger
// runs that take their place, so the final merge opens at most kMaxFanIn files and the
// runs stay in the order of their entries: equal keys always fold in the order they
// were added, which decides values such as the first bailiwick kept. The run files
// belong to the TempFiles object. Batches are sorted on `sort_threads` threads
// (parallel_sort.h); the order is the same for any number.
//
// Order of use: add()..., finish(), then runs() and take_memory_run() (once); the
// final stream is the merge of all of them, and the kept batch, if any, is the only
// source.
//
// Sorting: entries are ordered first by the eleven key bytes they carry, without
// touching the arena; each run of entries that tie on those is then ordered by its next
// eight key bytes, read from the arena once per entry (in a linear walk that can fetch
// ahead) into the entry's prefix word, and so on until every run is split or its keys
// end. Comparisons that walk the arena from the first byte again and again, as a plain
// comparison sort's do on keys that share long beginnings (owner names under one zone,
// store keys of one name), are what this avoids.
//
// Memory: the budget bounds the arena plus the entry table; the arena and table are
// reserved once, at most the budget together; a kept batch holds memory_run_bytes()
// until its source is destroyed. Failures (a full disk, a registry that is full)
// return false with the reason in *error and leave the spiller unusable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "forge/sortab.h"
#include "forge/temp_files.h"

namespace quarn {

// Most runs one merge reads at a time (each costs an open file and a read buffer).
constexpr size_t kMaxFanIn = 64;
// Smallest budget accepted; below it every few entries would make a run.
constexpr size_t kMinSortBudget = 1 << 20;
// Longest entry value (its length shares a word with key bytes in the entry table).
constexpr size_t kMaxSpillValue = 255;

inline constexpr const char* kSpillErrValue = "entry value longer than 255 bytes";

class RunSpiller {
 public:
  // max_fan_in (at least 2) bounds the runs one merge reads; tests lower it.
  RunSpiller(TempFiles& temps, size_t budget, SortabMergeFunc merge,
             size_t max_fan_in = kMaxFanIn, size_t sort_threads = 1);
  RunSpiller(const RunSpiller&) = delete;
  RunSpiller& operator=(const RunSpiller&) = delete;

  // Keys are at most kSortabMaxField bytes and non-empty; values at most 255 bytes
  // (kSpillErrValue otherwise).
  bool add(std::string_view key, std::string_view value, std::string* error);
  bool finish(std::string* error, size_t keep_limit = 0);

  // After finish(): the runs to merge (at most max_fan_in).
  const std::vector<std::string>& runs() const { return runs_; }
  // After finish(): the batch kept in memory as a sorted source with distinct keys,
  // or null when there is none (or it was taken already).
  std::unique_ptr<SortabSource> take_memory_run();
  // Memory held by the kept batch (0 when there is none).
  size_t memory_run_bytes() const { return kept_ ? memory_bytes() : 0; }
  uint64_t runs_written() const { return runs_written_; }
  uint64_t bytes_spilled() const { return bytes_spilled_; }

 private:
  struct Entry {
    // The first 8 key bytes, big-endian and zero-padded: most comparisons of the sort
    // end here without touching the arena.
    uint64_t prefix;
    uint64_t offset;  // of the key in the arena; the value follows it
    uint32_t key_len;
    // Key bytes 8 to 10 (zero-padded) above the value's length (at most 255): owner
    // names share their first bytes (tag, top-level label) so widely that the sort
    // would reach the arena for most of its comparisons without these three.
    uint32_t tail;
    uint32_t value_len() const { return tail & 0xff; }
  };
  static bool same_inline_key(const Entry& a, const Entry& b) {
    return a.prefix == b.prefix && (a.tail ^ b.tail) >> 8 == 0;
  }

 public:
  // A batch handed out by take_memory_run(): the entry table, sorted, over the arena.
  struct Batch {
    std::vector<char> arena;
    std::vector<Entry> entries;
    std::string_view key(size_t i) const {
      return {arena.data() + entries[i].offset, entries[i].key_len};
    }
    std::string_view value(size_t i) const {
      const Entry& e = entries[i];
      return {arena.data() + e.offset + e.key_len, e.value_len()};
    }
    // Asks for the bytes of entry i (if there is one) to be fetched into the cache.
    void prefetch(size_t i) const {
      if (i >= entries.size()) return;
      const char* p = arena.data() + entries[i].offset;
      __builtin_prefetch(p);
      __builtin_prefetch(p + 63);
    }
  };

 private:
  void sort_entries();
  void order_inline_ties(size_t first, size_t last);
  void order_ties(size_t first, size_t last, size_t depth);
  void order_by_suffix(size_t first, size_t last, size_t depth);
  size_t memory_bytes() const { return arena_.size() + entries_.size() * sizeof(Entry); }
  bool spill(std::string* error);
  bool merge_runs(size_t first, size_t count, std::string* error);
  std::string_view key_of(const Entry& e) const { return {arena_.data() + e.offset, e.key_len}; }
  // Asks for key bytes from `depth` on of entry i, if it is before `limit` (entries past
  // it may be moving on another thread).
  void prefetch_key(size_t i, size_t depth, size_t limit) const {
    if (i < limit) __builtin_prefetch(arena_.data() + entries_[i].offset + depth);
  }
  void prefetch_entry(size_t i) const { prefetch_key(i, 0, entries_.size()); }
  std::string_view value_of(const Entry& e) const {
    return {arena_.data() + e.offset + e.key_len, e.value_len()};
  }

  TempFiles& temps_;
  SortabMergeFunc merge_;
  size_t max_fan_in_;
  size_t sort_threads_;
  size_t arena_limit_;
  size_t entry_limit_;
  std::vector<char> arena_;
  std::vector<Entry> entries_;
  std::vector<std::string> runs_;
  uint64_t runs_written_ = 0;
  uint64_t bytes_spilled_ = 0;
  bool kept_ = false;
  std::string merged_;
  std::string scratch_;
};

}  // namespace quarn
