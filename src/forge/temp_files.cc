#include "forge/temp_files.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/strfmt.h"

namespace quarn {
namespace {

// The signal handler may only read what is already built, so registered names live in
// a fixed table of heap copies that the handler walks with unlink (async-signal-safe).
char* g_names[kMaxTempFiles];

int slot_of(const std::string& path) {
  for (size_t i = 0; i < kMaxTempFiles; ++i) {
    if (g_names[i] != nullptr && path == g_names[i]) return static_cast<int>(i);
  }
  return -1;
}

void cleanup_on_signal(int sig) {
  for (size_t i = 0; i < kMaxTempFiles; ++i) {
    char* name = g_names[i];
    if (name != nullptr) unlink(name);
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

TempFiles::TempFiles(std::string dir) : dir_(std::move(dir)) {
  if (dir_.empty()) {
    const char* env = getenv("TMPDIR");
    dir_ = env != nullptr && env[0] != '\0' ? env : "/tmp";
  }
}

TempFiles::~TempFiles() { remove_all(); }

bool TempFiles::add(const std::string& path) {
  for (size_t i = 0; i < kMaxTempFiles; ++i) {
    if (g_names[i] == nullptr) {
      char* copy = strdup(path.c_str());
      if (copy == nullptr) return false;
      g_names[i] = copy;
      paths_.push_back(path);
      return true;
    }
  }
  return false;
}

std::string TempFiles::new_run_name(std::string* error) {
  std::string name = str_fmt("%s/gramforge-%d-%u.run", dir_.c_str(), static_cast<int>(getpid()),
                             next_++);
  if (!add(name)) {
    *error = kTempErrTooMany;
    return std::string();
  }
  return name;
}

void TempFiles::release(const std::string& path) {
  const int slot = slot_of(path);
  if (slot >= 0) {
    char* name = g_names[slot];
    g_names[slot] = nullptr;
    free(name);
  }
  paths_.erase(std::remove(paths_.begin(), paths_.end(), path), paths_.end());
}

void TempFiles::remove(const std::string& path) {
  unlink(path.c_str());
  release(path);
}

void TempFiles::remove_all() {
  const std::vector<std::string> paths = paths_;
  for (const std::string& p : paths) remove(p);
}

void TempFiles::install_cleanup_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = cleanup_on_signal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

}  // namespace quarn
