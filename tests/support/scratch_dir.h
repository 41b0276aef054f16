// Test helper: a fresh directory under TMPDIR (or /tmp), removed with everything in it
// when the object goes. Tests put the index files and set files they write here.
#pragma once

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

}  // namespace quarn::testing
