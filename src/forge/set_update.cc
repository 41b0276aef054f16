#include "forge/set_update.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/strfmt.h"

namespace quarn {
namespace {

// Closes a descriptor on every path out of a function.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

std::string dir_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".")
         : slash == 0               ? std::string("/")
                                    : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The set file's bytes; a missing file reads as empty.
bool read_set(const std::string& path, std::string* text, mode_t* mode, std::string* error) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return true;
    *error = str_fmt(kSetErrRead, path.c_str(), strerror(errno));
    return false;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = str_fmt(kSetErrNotRegular, path.c_str());
    return false;
  }
  *mode = st.st_mode & 07777;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = str_fmt(kSetErrRead, path.c_str(), strerror(errno));
      return false;
    }
    text->append(buf, static_cast<size_t>(n));
  }
}

// The file a set-file line names, as the fileset reader resolves it.
bool identity_of_line(const std::string& dir, std::string_view line, FileIdentity* id) {
  const std::string path =
      !line.empty() && line[0] == '/' ? std::string(line) : dir + "/" + std::string(line);
  return current_file_identity(path, *id);
}

bool listed(const std::vector<FileIdentity>& ids, const FileIdentity& id) {
  for (const FileIdentity& i : ids) {
    if (i.device == id.device && i.inode == id.inode) return true;
  }
  return false;
}

// How a set file in set_dir names output: relative when it lies under set_dir.
bool line_for(const std::string& set_dir, const std::string& output, std::string* line,
              std::string* error) {
  if (output.find('\n') != std::string::npos) {
    *error = str_fmt(kSetErrNewline, output.c_str());
    return false;
  }
  char out_dir[PATH_MAX], real_set_dir[PATH_MAX];
  if (realpath(dir_of(output).c_str(), out_dir) == nullptr ||
      realpath(set_dir.c_str(), real_set_dir) == nullptr) {
    *error = str_fmt(kSetErrOutput, output.c_str(), strerror(errno));
    return false;
  }
  const std::string full = std::string(out_dir) + "/" + base_of(output);
  std::string prefix = real_set_dir;
  if (prefix != "/") prefix += "/";
  *line = full.starts_with(prefix) ? full.substr(prefix.size()) : full;
  return true;
}

// The new list: kept lines first, in their order, then the outputs not yet listed.
bool new_list(const std::string& set_dir, const std::string& old_text,
              const SetFileChange& change, std::string* text, std::string* error) {
  std::vector<FileIdentity> kept;
  size_t at = 0;
  while (at < old_text.size()) {
    size_t lf = old_text.find('\n', at);
    if (lf == std::string::npos) lf = old_text.size();
    const std::string_view line(old_text.data() + at, lf - at);
    at = lf + 1;
    FileIdentity id;
    const bool found = identity_of_line(set_dir, line, &id);
    if (found && listed(change.drop, id)) continue;
    if (found) kept.push_back(id);
    text->append(line);
    text->push_back('\n');
  }
  for (const std::string& output : change.add) {
    FileIdentity id;
    if (!current_file_identity(output, id)) {
      *error = str_fmt(kSetErrOutput, output.c_str(), strerror(errno));
      return false;
    }
    if (listed(kept, id)) continue;
    std::string line;
    if (!line_for(set_dir, output, &line, error)) return false;
    kept.push_back(id);
    text->append(line);
    text->push_back('\n');
  }
  return true;
}

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes text under staged and syncs it.
bool stage(const std::string& staged, const std::string& text, mode_t mode) {
  Fd fd(::open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (fd.get() < 0) return false;
  if (fchmod(fd.get(), mode) != 0 || !write_all(fd.get(), text) || fsync(fd.get()) != 0) {
    return false;
  }
  return ::close(fd.release()) == 0;
}

}  // namespace

bool update_set_file(const std::string& set_path, const SetFileChange& change,
                     TempFiles& temps, const std::function<void(const char*)>& step,
                     std::string* error) {
  const std::string dir = dir_of(set_path);
  Fd dir_fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir_fd.get() < 0 || flock(dir_fd.get(), LOCK_EX) != 0) {
    *error = str_fmt(kSetErrLock, set_path.c_str(), strerror(errno));
    return false;
  }
  std::string old_text, text;
  mode_t mode = 0644;
  if (!read_set(set_path, &old_text, &mode, error) ||
      !new_list(dir, old_text, change, &text, error)) {
    return false;
  }
  if (text == old_text && !old_text.empty()) return true;
  const std::string staged = str_fmt("%s.gf-%d", set_path.c_str(), static_cast<int>(getpid()));
  if (!temps.add(staged)) {
    *error = kTempErrTooMany;
    return false;
  }
  if (!stage(staged, text, mode)) {
    *error = str_fmt(kSetErrWrite, set_path.c_str(), strerror(errno));
    temps.remove(staged);
    return false;
  }
  if (step) step("set-staged");
  if (rename(staged.c_str(), set_path.c_str()) != 0) {
    *error = str_fmt(kSetErrWrite, set_path.c_str(), strerror(errno));
    temps.remove(staged);
    return false;
  }
  temps.release(staged);
  // The rename itself must survive a crash, or the old list could come back.
  fsync(dir_fd.get());
  return true;
}

}  // namespace quarn
