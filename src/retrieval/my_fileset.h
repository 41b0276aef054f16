// A set file: a text file listing other files, one per line, re-read when it changes.
//
// Order of use: construct with the set file's path and the load/unload callbacks, then
// call reload() whenever the caller's pacing says so (the fileset data source does it at
// most every few seconds). reload() reads the set file and acts only when its bytes differ
// from those of the last read: a set file rewritten in place keeps its inode, size and
// (at second resolution) modification time, so metadata alone would miss it.
//
// Line format: a line starting with "/" is an absolute path; any other line is taken
// relative to the set file's directory ("<dir>/<line>"). Only the trailing line feed is
// removed; nothing is trimmed and no line is skipped.
//
// Entries are kept sorted by file name (plain byte order, cmp_fileset_entry). On a
// re-read, a line already present keeps its data (the load callback is not called
// again); a new line gets the load callback's result; an entry whose line disappeared
// gets the unload callback. A set file that lists one file twice (the same line twice, or
// two names of one file: same device and inode) is refused as a whole: its records would
// be counted twice. It is reported ("Error: set file '%s' lists one file twice ...") and
// the entries stay as they were until the set file's bytes change again. A file can also
// change under a name that stays listed: refresh_changed() asks the optional changed
// callback about every entry and gives a stale one the unload and then the load callback.
//
// Ownership: the object owns the entries and their Data values (Data is moved in from
// the load callback and handed to the unload callback by reference before the entry is
// destroyed). Not thread-safe: the caller serialises reload() against readers.
// Failures: a set file that cannot be stat'ed is reported on standard error
// ("%s: stat('%s') failed: %s") and leaves the entries unchanged, as does one that
// cannot be opened or read, or is not a regular file (reported as "Error: set file '%s'
// is not a regular file").
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
  // True when the data no longer stands for the file now at the entry's name.
  using changed_fn = std::function<bool(const std::string& name, const Data& data)>;

  // my_fileset_init: no entries and no set-file bytes until the first reload().
  my_fileset(std::string path, load_fn load, unload_fn unload, changed_fn changed = nullptr)
      : path_(std::move(path)),
        load_(std::move(load)),
        unload_(std::move(unload)),
        changed_(std::move(changed)) {
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

  // True when the set file's bytes differ from those of the last read (they are then kept
  // as the new ones). False when they do not, or when the set file cannot be stat'ed
  // (reported on standard error) or opened.
  bool setfile_updated() {
    struct stat st;
    if (::stat(path_.c_str(), &st) != 0) {
      std::fprintf(stderr, retrieval_msg::kSetfileStatFailed, retrieval_msg::kSetfileUpdatedName,
                   path_.c_str(), std::strerror(errno));
      return false;
    }
    std::string bytes;
    if (!read_setfile(bytes) || (read_once_ && bytes == content_)) return false;
    content_ = std::move(bytes);
    read_once_ = true;
    return true;
  }

  // True when the changed callback calls the data of some entry stale. Reads only.
  bool any_changed() const {
    if (!changed_) return false;
    for (const auto& e : entries_)
      if (changed_(e->name, e->data)) return true;
    return false;
  }

  // Gives every entry whose data the changed callback calls stale freshly loaded data.
  void refresh_changed() {
    if (!changed_) return;
    for (auto& e : entries_) {
      if (!changed_(e->name, e->data)) continue;
      if (unload_) unload_(e->name, e->data);
      e->data = load_ ? load_(e->name) : Data{};
    }
  }

  // my_fileset_reload: re-reads the set file when its bytes changed.
  void reload() {
    if (!setfile_updated()) return;
    const std::vector<std::string> names = listed_names();
    if (lists_one_file_twice(names)) return;

    std::vector<std::unique_ptr<entry>> fresh;
    for (const std::string& name : names) {
      auto e = std::make_unique<entry>();
      e->name = name;
      if (entry* old = find_unkept(e->name)) {
        old->kept = true;
        e->data = std::move(old->data);
      } else if (load_) {
        e->data = load_(e->name);
      }
      fresh.push_back(std::move(e));
    }
    std::stable_sort(fresh.begin(), fresh.end(), cmp_fileset_entry);

    for (auto& old : entries_)
      if (!old->kept && unload_) unload_(old->name, old->data);
    entries_ = std::move(fresh);
  }

 private:
  // The resolved names of the set file's lines, as getline gives them: split after each
  // line feed, a last line without one still counts, NUL bytes stay in the line.
  std::vector<std::string> listed_names() const {
    std::vector<std::string> names;
    for (size_t start = 0; start < content_.size();) {
      size_t end = content_.find('\n', start);
      if (end == std::string::npos) end = content_.size();
      names.push_back(resolve(content_.substr(start, end - start)));
      start = end + 1;
    }
    return names;
  }

  // True (reported) when two names stand for one file: equal, or the same device and
  // inode. Names that cannot be stat'ed are compared as names only.
  bool lists_one_file_twice(const std::vector<std::string>& names) const {
    std::unordered_map<std::string, size_t> by_name;
    std::unordered_map<std::string, size_t> by_file;  // "device:inode" -> name index
    for (size_t i = 0; i < names.size(); ++i) {
      auto [named, fresh_name] = by_name.emplace(names[i], i);
      size_t first = named->second;
      struct stat st;
      if (fresh_name && ::stat(names[i].c_str(), &st) == 0) {
        const std::string id = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
        auto [filed, fresh_file] = by_file.emplace(id, i);
        if (fresh_file) continue;
        first = filed->second;
      } else if (fresh_name) {
        continue;
      }
      std::fprintf(stderr, retrieval_msg::kSetfileListsTwice, path_.c_str(),
                   names[first].c_str(), names[i].c_str());
      return true;
    }
    return false;
  }

  // The whole set file; false when it cannot be opened or read.
  bool read_setfile(std::string& bytes) const {
    FILE* f = open_setfile();
    if (f == nullptr) return false;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
  }

  // The set file opened for reading, or nullptr. Opened without blocking and refused
  // unless it is a regular file: a FIFO would stall every later search.
  FILE* open_setfile() const {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      std::fprintf(stderr, retrieval_msg::kSetfileNotRegular, path_.c_str());
      ::close(fd);
      return nullptr;
    }
    FILE* f = ::fdopen(fd, "r");
    if (f == nullptr) ::close(fd);
    return f;
  }

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
  changed_fn changed_;
  bool read_once_ = false;  // content_ holds the bytes of a successful read
  std::string content_;
  std::vector<std::unique_ptr<entry>> entries_;
};

}  // namespace quarn
