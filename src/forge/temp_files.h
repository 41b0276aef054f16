// Temporary files of a build: sorted runs under TMPDIR and output files under
// construction. Every file registered here is removed when the TempFiles object is
// destroyed (normal end or an error unwinding the build) and also when the process
// receives SIGINT, SIGTERM or SIGHUP after install_cleanup_handlers(), so an
// interrupted build leaves nothing behind. A file that has been renamed into place must
// be forgotten with release() first.
//
// Single-threaded. At most kMaxTempFiles files may be registered at once.
#pragma once

#include <string>
#include <vector>

namespace quarn {

constexpr size_t kMaxTempFiles = 1024;

inline constexpr const char* kTempErrTooMany = "too many temporary files";

class TempFiles {
 public:
  // dir: where run files go; empty means TMPDIR, or /tmp when TMPDIR is unset or empty.
  explicit TempFiles(std::string dir = std::string());
  ~TempFiles();
  TempFiles(const TempFiles&) = delete;
  TempFiles& operator=(const TempFiles&) = delete;

  const std::string& dir() const { return dir_; }
  // A fresh run-file name "<dir>/gramforge-<pid>-<n>.run", registered. Empty (with
  // *error set) when the registry is full.
  std::string new_run_name(std::string* error);
  // Registers any path for removal. false when the registry is full.
  bool add(const std::string& path);
  // Removes the file now and forgets it.
  void remove(const std::string& path);
  // Forgets the file without removing it.
  void release(const std::string& path);
  // Removes every registered file.
  void remove_all();

  // Installs the signal handlers (once per process).
  static void install_cleanup_handlers();

 private:
  std::string dir_;
  unsigned next_ = 0;
  std::vector<std::string> paths_;
};

}  // namespace quarn
