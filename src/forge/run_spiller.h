// Sorts (key, value) entries within a memory budget by spilling sorted runs.
//
// Entries are packed into one arena; when arena and entry table would pass the budget,
// they are sorted bytewise by key, entries with equal keys are folded with the merge
// function, and the result is written as one sorted-table run under the TempFiles
// directory. finish() spills the rest and, when there are more runs than a merge may
// read at once (kMaxFanIn), merges groups of them into larger runs, so the final merge
// opens at most kMaxFanIn files. The run files belong to the TempFiles object.
//
// Memory: the budget bounds the arena plus the entry table; the arena and table are
// reserved once, at most the budget together. Failures (a full disk, a registry that
// is full) return false with the reason in *error and leave the spiller unusable.
#pragma once

#include <cstdint>
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

class RunSpiller {
 public:
  // max_fan_in (at least 2) bounds the runs one merge reads; tests lower it.
  RunSpiller(TempFiles& temps, size_t budget, SortabMergeFunc merge,
             size_t max_fan_in = kMaxFanIn);
  RunSpiller(const RunSpiller&) = delete;
  RunSpiller& operator=(const RunSpiller&) = delete;

  // Keys are at most kSortabMaxField bytes and non-empty; values at most 255 bytes.
  bool add(std::string_view key, std::string_view value, std::string* error);
  bool finish(std::string* error);

  // After finish(): the runs to merge (at most max_fan_in).
  const std::vector<std::string>& runs() const { return runs_; }
  uint64_t runs_written() const { return runs_written_; }
  uint64_t bytes_spilled() const { return bytes_spilled_; }

 private:
  struct Entry {
    // The first 8 key bytes, big-endian and zero-padded: most comparisons of the sort
    // end here without touching the arena.
    uint64_t prefix;
    uint64_t offset;  // of the key in the arena; the value follows it
    uint32_t key_len;
    uint32_t value_len;
  };
  bool spill(std::string* error);
  bool merge_runs(size_t first, size_t count, std::string* error);
  std::string_view key_of(const Entry& e) const { return {arena_.data() + e.offset, e.key_len}; }
  std::string_view value_of(const Entry& e) const {
    return {arena_.data() + e.offset + e.key_len, e.value_len};
  }

  TempFiles& temps_;
  SortabMergeFunc merge_;
  size_t max_fan_in_;
  size_t arena_limit_;
  size_t entry_limit_;
  std::vector<char> arena_;
  std::vector<Entry> entries_;
  std::vector<std::string> runs_;
  uint64_t runs_written_ = 0;
  uint64_t bytes_spilled_ = 0;
  std::string merged_;
  std::string scratch_;
};

}  // namespace quarn
