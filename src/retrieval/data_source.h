// Data sources: where a search's index files come from.
//
// A data_source hands out a tgdb_merger filled with its indexes for one search (open).
// Two kinds exist:
//  - index_list: the index files named on the command line, loaded at start-up. Before
//    every search each file whose identity on disk (device, inode, size, modification
//    time) differs from the loaded one is loaded again from its path, or dropped with a
//    log line when it no longer loads.
//  - fileset: a set file listing index files, one per line (a line starting with "/" is
//    absolute, any other is relative to the set file's directory). It is re-read by
//    open() when more than reload_interval seconds have passed since the last reload and
//    the set file's bytes changed; entries whose line stays keep their loaded index,
//    dropped lines are unloaded, new lines are loaded. Before every search an entry whose
//    file's identity on disk changed is loaded again (empty when it no longer loads); an
//    entry left empty by a failed load is tried again once its file's identity differs
//    from the one seen at that attempt.
// Index files are meant to be replaced by rename; the identity check also catches a file
// rewritten in place between searches, and the merger fails a search during which one
// was rewritten (tgdb_merger::indexes_unchanged).
// All indexes of one source are of one kind (owner names or rdata); the first index
// loaded fixes it, later indexes of the other kind are rejected with a log line.
//
// Ownership: a source holds one reference on each loaded index for as long as the index
// is listed; each merger takes its own references, so an index retired by a reload stays
// valid for a search that already uses it. Every fileset entry holds its own reference.
// One file is never listed twice in a source (its records would count twice): the index
// list refuses the second add, the fileset a set file that names one file twice
// (my_fileset.h). Sources are neither copyable nor movable.
//
// Failures: index_list::add returns false after the loader's or the rejection's log line
// (the caller prints "Failed to add file %s"); open() returns nullptr when the source has
// no loaded index (the driver reports "Error dispatching search: empty data source").
// A fileset whose set file cannot be stat'ed or opened keeps its current entries.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/my_time.h"
#include "index/tgdb.h"

namespace quarn {

class search_context;
class tgdb_merger;
template <typename Data>
class my_fileset;

class data_source {
 public:
  virtual ~data_source() = default;
  // A merger over the source's current indexes for this search, or nullptr when there
  // is none.
  virtual std::unique_ptr<tgdb_merger> open(search_context& context) = 0;
  // The indexes a search opened now would read, each with its own reference, in the
  // order open() adds them (for status reports and plans; nothing is reloaded).
  virtual std::vector<TgdbRef> loaded_indexes() const = 0;
  // What open() reads, without the merger: reloads as open() does, then lists the
  // indexes with their own references (for a search that builds its mergers itself).
  virtual std::vector<TgdbRef> refreshed_indexes() = 0;
};

class index_list final : public data_source {
 public:
  index_list() = default;
  ~index_list() override;
  index_list(const index_list&) = delete;
  index_list& operator=(const index_list&) = delete;

  // Loads the index file and appends it. False (after a log line) when it does not load,
  // is of the other kind than the first index of the list, or is a file already listed
  // (same device and inode, under any name).
  bool add(const std::string& path);
  size_t size() const;
  bool is_rdata() const { return is_rdata_; }

  // Reloads every index whose file changed since it was loaded ("Reloaded index file %s",
  // info) and drops one that no longer loads or is of the other kind ("Dropped index file
  // %s", error). open() calls it first.
  void refresh_changed();
  std::unique_ptr<tgdb_merger> open(search_context& context) override;
  std::vector<TgdbRef> loaded_indexes() const override;
  std::vector<TgdbRef> refreshed_indexes() override;

 private:
  // True when index is of this list's kind; otherwise logs the refusal.
  bool of_list_kind(const Tgdb& index, const std::string& path) const;

  bool is_rdata_ = false;
  // Guards indexes_: searches running at once may each refresh the list.
  mutable std::mutex lock_;
  std::vector<TgdbRef> indexes_;  // one reference each
};

class fileset final : public data_source {
 public:
  // Source of the wall-clock time that paces reloads (replaceable for tests).
  using clock_fn = std::function<TimePoint()>;

  // Seconds that must pass (strictly more) between two reads of the set file.
  static constexpr int64_t kReloadIntervalSeconds = 5;

  // Logs "Loading fileset: %s" and reads the set file at once. The caller has checked
  // that the set file is readable.
  static std::unique_ptr<fileset> create(const std::string& path, clock_fn clock = nullptr);
  ~fileset() override;
  fileset(const fileset&) = delete;
  fileset& operator=(const fileset&) = delete;

  // Re-reads the set file when the reload interval has passed; then, every time, reloads
  // each entry whose file changed on disk ("Fileset %s: %s changed on disk", info).
  void reload();
  // Re-reads the set file now, whatever the interval says (a reload asked for by an
  // operator), then refreshes changed entries as reload() does.
  void reload_now();
  std::unique_ptr<tgdb_merger> open(search_context& context) override;
  std::vector<TgdbRef> loaded_indexes() const override;
  std::vector<TgdbRef> refreshed_indexes() override;
  // Wall-clock time of the last read of the set file.
  TimePoint last_reload() const;

  const std::string& path() const { return path_; }
  bool kind_known() const { return kind_known_; }
  bool is_rdata() const { return is_rdata_; }
  // Number of entries and of entries holding a loaded index (read under the lock).
  size_t entry_count() const;
  size_t loaded_count() const;
  // The loaded index of entry i (sorted by file name), or nullptr; for inspection only.
  const Tgdb* entry_index(size_t i) const;

 private:
  fileset(const std::string& path, clock_fn clock);
  TgdbRef load_entry(const std::string& file);
  TgdbRef try_load_entry(const std::string& file);
  void unload_entry(const std::string& file, TgdbRef& index);
  bool entry_changed(const std::string& file, const TgdbRef& index) const;
  void reload_locked(bool force);
  // True when the set file is due for a read or a listed file changed (shared lock).
  bool reload_needed() const;

  std::string path_;
  bool is_rdata_ = false;
  bool kind_known_ = false;
  int64_t reload_interval_ = kReloadIntervalSeconds;
  TimePoint last_reload_;
  clock_fn clock_;
  mutable std::shared_mutex lock_;  // guards the entries of set_file_
  std::unique_ptr<my_fileset<TgdbRef>> set_file_;
  // File identity at the last failed load of each entry left empty (guarded by lock_).
  std::unordered_map<std::string, FileIdentity> failed_loads_;
};

}  // namespace quarn
