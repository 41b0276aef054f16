// Test helper: a fresh directory under TMPDIR (or /tmp), removed with everything in it
// when the object goes. Tests put the index files and set files they write here. Also
// the count of what a directory holds, for tests that check temporary files are gone.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace quarn::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quarn-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
      ADD_FAILURE() << "cannot create a scratch directory from " << tmpl;
      tmpl = std::filesystem::temp_directory_path().string();
    }
    path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Entries of dir other than those starting with '.'; 0 when it cannot be read.
inline size_t count_dir_entries(const std::string& dir) {
  size_t n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

}  // namespace quarn::testing
