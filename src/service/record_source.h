// The record stores of the service (--records): one store file, or a set file listing
// them, mapped and re-read while the service runs.
//
// A path whose file starts with the store magic is one store; anything else is read as a
// set file: one path per line, relative paths taken from the set file's directory, blank
// lines and lines starting with '#' skipped, stores in the order listed (the order in
// which a lookup takes a bailiwick as first seen, so list older stores first). At start
// the path is refused, with the error text, when it cannot be read, lists one file twice
// (its records would count twice) or leaves no loadable store.
//
// Lookups take a snapshot (current()): the stores loaded at that moment, held by shared
// ownership, so a reload meanwhile never unmaps a store under a running lookup. At most
// every kRecheckSeconds, current() checks the set file and every loaded store (inode,
// size, modification time; a store truncated under its mapping counts as changed) and
// re-reads them when any changed; reload_now() does that at once (SIGHUP). A re-read
// keeps the stores whose files did not change, opens the others, and drops a store that
// no longer opens with a log line. A set file that no longer reads, or lists a file
// twice, keeps the previous stores until it is fixed.
//
// Thread-safe; nothing here ends the process.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/my_time.h"
#include "index/tgdb.h"

namespace quarn {

class RecordStore;

// How often current() looks for changed files, as the index set files are checked.
inline constexpr double kRecheckSeconds = 5;

struct LoadedStore {
  std::string path;
  std::unique_ptr<RecordStore> store;
  FileIdentity identity;
  TimePoint loaded_at;
  ~LoadedStore();
};

struct StoreSnapshot {
  std::vector<std::shared_ptr<const LoadedStore>> loaded;
  std::vector<const RecordStore*> stores;  // the same, as a lookup takes them
  size_t listed = 0;                        // entries of the set file (1 for a store)
};

class RecordSource {
 public:
  static std::unique_ptr<RecordSource> open(const std::string& path, std::string* error);
  RecordSource(const RecordSource&) = delete;
  RecordSource& operator=(const RecordSource&) = delete;

  const std::string& path() const { return path_; }
  bool is_set_file() const { return set_file_; }
  TimePoint last_reload() const;
  std::shared_ptr<const StoreSnapshot> current();
  // Re-reads now; false when a listed store is left without a loaded one.
  bool reload_now();

 private:
  RecordSource() = default;
  // Builds a new snapshot from the listed paths, reusing unchanged stores.
  bool load(std::string* error);
  bool changed() const;
  bool list_paths(std::vector<std::string>* paths, std::string* error) const;

  std::string path_;
  bool set_file_ = false;
  FileIdentity set_identity_;
  std::mutex reload_mutex_;  // one re-read at a time
  mutable std::mutex mutex_;  // guards the fields below
  std::shared_ptr<const StoreSnapshot> snapshot_;
  TimePoint last_check_{};
  TimePoint last_reload_{};
};

}  // namespace quarn
