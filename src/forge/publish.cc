#include "forge/publish.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/strfmt.h"

namespace quarn {
namespace {

// Renames without replacing an existing file. File systems without the kernel's
// no-replace flag get a hard link (which refuses an existing name too) and an unlink
// of the old name.
int rename_noreplace(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
  if (link(from, to) != 0) return -1;
  unlink(from);
  return 0;
}

bool exists(const std::string& path, bool* is_dir) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  *is_dir = S_ISDIR(st.st_mode);
  return true;
}

std::string dir_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What publishing has done so far, undone in reverse order on failure.
struct Undo {
  std::vector<std::pair<std::string, std::string>> renames;  // (from, to) done

  void roll_back() {
    for (auto it = renames.rbegin(); it != renames.rend(); ++it) {
      rename(it->second.c_str(), it->first.c_str());
    }
  }
};

bool check_targets(const std::vector<StagedOutput>& outputs, bool force, std::string* error) {
  for (const StagedOutput& o : outputs) {
    bool is_dir = false;
    if (!exists(o.target, &is_dir)) continue;
    *error = is_dir ? str_fmt(kPublishErrIsDir, o.target.c_str())
                    : str_fmt(kPublishErrExists, o.target.c_str());
    if (is_dir || !force) return false;
  }
  return true;
}

// Makes the renames into each target's directory durable: without it a crash soon
// after publishing can bring back the old names (or none) although the files' data was
// synced. Each directory is synced once; a failure is ignored, as the files are
// already in place and nothing better can be done.
void sync_directories(const std::vector<StagedOutput>& outputs) {
  std::vector<std::string> done;
  for (const StagedOutput& o : outputs) {
    const std::string dir = dir_of(o.target);
    bool seen = false;
    for (const std::string& d : done) seen = seen || d == dir;
    if (seen) continue;
    done.push_back(dir);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    fsync(fd);
    close(fd);
  }
}

}  // namespace

bool publish_outputs(const std::vector<StagedOutput>& outputs, bool force, std::string* error) {
  if (!check_targets(outputs, force, error)) return false;
  Undo undo;
  std::vector<std::string> aside;
  auto fail = [&](const std::string& from, const std::string& to) {
    *error = str_fmt(kPublishErrRename, from.c_str(), to.c_str(), strerror(errno));
    undo.roll_back();
    return false;
  };
  for (const StagedOutput& o : outputs) {
    bool is_dir = false;
    if (force && exists(o.target, &is_dir)) {
      const std::string old = str_fmt("%s.gf-old-%d", o.target.c_str(), static_cast<int>(getpid()));
      if (rename_noreplace(o.target.c_str(), old.c_str()) != 0) return fail(o.target, old);
      undo.renames.emplace_back(o.target, old);
      aside.push_back(old);
    }
    if (rename_noreplace(o.staged.c_str(), o.target.c_str()) != 0) {
      return fail(o.staged, o.target);
    }
    undo.renames.emplace_back(o.staged, o.target);
  }
  for (const std::string& old : aside) unlink(old.c_str());
  sync_directories(outputs);
  return true;
}

bool same_output_path(const std::string& a, const std::string& b) {
  if (a == b) return true;
  if (base_of(a) != base_of(b)) return false;
  struct stat sa, sb;
  if (stat(dir_of(a).c_str(), &sa) != 0 || stat(dir_of(b).c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace quarn
