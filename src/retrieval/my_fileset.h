// A set file: a text file listing other files, one per line, re-read when it changes.
//
// Order of use: construct with the set file's path and the load/unload callbacks, then
// call reload() whenever the caller's pacing says so (the fileset data source does it at
// most every few seconds). reload() re-reads the file only when its inode number or its
// modification time (seconds) differ from the stamp of the last read.
//
// Line format: a line starting with "/" is an absolute path; any other line is taken
// relative to the set file's directory ("<dir>/<line>"). Only the trailing line feed is
// removed; nothing is trimmed and no line is skipped.
//
// Entries are kept sorted by file name (plain byte order, cmp_fileset_entry). On a
// re-read, a line already present keeps its data (the load callback is not called
// again); a new line gets the load callback's result; an entry whose line disappeared
// gets the unload callback. A name listed twice becomes two entries, each holding its own
// copy of the data (Data must be copyable; for a counted reference a copy is one more
// reference), so every entry is unloaded exactly once.
//
// Ownership: the object owns the entries and their Data values (Data is moved in from
// the load callback and handed to the unload callback by reference before the entry is
// destroyed). Not thread-safe: the caller serialises reload() against readers.
// Failures: a set file that cannot be stat'ed is reported on standard error
// ("%s: stat('%s') failed: %s") and leaves the entries unchanged, as does one that
// cannot be opened.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "retrieval/retrieval_messages.h"

namespace quarn {

template <typename Data>
class my_fileset {
 public:
  struct entry {
    bool kept = false;
    std::string name;
    Data data{};
  };
  using load_fn = std::function<Data(const std::string& name)>;
  using unload_fn = std::function<void(const std::string& name, Data& data)>;

  // my_fileset_init: no entries and a zero change stamp until the first reload().
  my_fileset(std::string path, load_fn load, unload_fn unload)
      : path_(std::move(path)), load_(std::move(load)), unload_(std::move(unload)) {
    const size_t slash = path_.rfind('/');
    dir_ = slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : path_.substr(0, slash);
  }

  ~my_fileset() {
    for (auto& e : entries_)
      if (unload_) unload_(e->name, e->data);
  }
  my_fileset(const my_fileset&) = delete;
  my_fileset& operator=(const my_fileset&) = delete;

  const std::string& path() const { return path_; }
  const std::string& directory() const { return dir_; }
  const std::vector<std::unique_ptr<entry>>& entries() const { return entries_; }

  // The full path a set-file line stands for.
  std::string resolve(const std::string& line) const {
    if (!line.empty() && line[0] == '/') return line;
    return dir_ + "/" + line;
  }

  static bool cmp_fileset_entry(const std::unique_ptr<entry>& a,
                                const std::unique_ptr<entry>& b) {
    return a->name < b->name;
  }

  // True when the set file changed since the last read (and records the new stamp).
  // False when it did not, or cannot be stat'ed (reported on standard error).
  bool setfile_updated() {
    struct stat st;
    if (::stat(path_.c_str(), &st) != 0) {
      std::fprintf(stderr, retrieval_msg::kSetfileStatFailed, retrieval_msg::kSetfileUpdatedName,
                   path_.c_str(), std::strerror(errno));
      return false;
    }
    if (static_cast<uint64_t>(st.st_ino) == stamp_inode_ &&
        static_cast<int64_t>(st.st_mtime) == stamp_mtime_)
      return false;
    stamp_inode_ = static_cast<uint64_t>(st.st_ino);
    stamp_mtime_ = static_cast<int64_t>(st.st_mtime);
    return true;
  }

  // my_fileset_reload: re-reads the set file when it changed.
  void reload() {
    if (!setfile_updated()) return;
    FILE* f = std::fopen(path_.c_str(), "r");
    if (f == nullptr) return;  // the new stamp stays: read again after the next change

    std::vector<std::unique_ptr<entry>> fresh;
    std::unordered_map<std::string, size_t> seen;  // name -> first entry in fresh
    char* buf = nullptr;
    size_t cap = 0;
    ssize_t n;
    while ((n = ::getline(&buf, &cap, f)) >= 0) {
      std::string line(buf, static_cast<size_t>(n));
      if (!line.empty() && line.back() == '\n') line.pop_back();
      auto e = std::make_unique<entry>();
      e->name = resolve(line);
      entry* old = find_unkept(e->name);
      auto twin = seen.find(e->name);
      if (old != nullptr) {
        old->kept = true;
        e->data = std::move(old->data);
      } else if (twin != seen.end()) {
        e->data = fresh[twin->second]->data;  // listed again: its own copy
      } else if (load_) {
        e->data = load_(e->name);
      }
      seen.emplace(e->name, fresh.size());
      fresh.push_back(std::move(e));
    }
    std::free(buf);
    std::fclose(f);
    std::stable_sort(fresh.begin(), fresh.end(), cmp_fileset_entry);

    for (auto& old : entries_)
      if (!old->kept && unload_) unload_(old->name, old->data);
    entries_ = std::move(fresh);
  }

 private:
  // Binary search among the current entries for the first one with this name whose data
  // has not been taken over yet.
  entry* find_unkept(const std::string& name) {
    auto it = std::lower_bound(
        entries_.begin(), entries_.end(), name,
        [](const std::unique_ptr<entry>& e, const std::string& n) { return e->name < n; });
    for (; it != entries_.end() && (*it)->name == name; ++it)
      if (!(*it)->kept) return it->get();
    return nullptr;
  }

  std::string path_;
  std::string dir_;
  load_fn load_;
  unload_fn unload_;
  uint64_t stamp_inode_ = 0;
  int64_t stamp_mtime_ = 0;
  std::vector<std::unique_ptr<entry>> entries_;
};

}  // namespace quarn
