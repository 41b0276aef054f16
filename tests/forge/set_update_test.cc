// Set-file updates: lines kept as written, outputs added once and spelled relative to
// the set file when they lie under it, merged inputs dropped by identity, and the old
// list in place until the single rename.
#include "forge/set_update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "support/scratch_dir.h"

namespace quarn {
namespace {

class SetUpdateTest : public ::testing::Test {
 protected:
  std::string put(const std::string& name, const std::string& text = "x") {
    std::ofstream(dir_.file(name), std::ios::binary) << text;
    return dir_.file(name);
  }
  static std::string slurp(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  static FileIdentity id(const std::string& p) {
    FileIdentity i;
    EXPECT_TRUE(current_file_identity(p, i)) << p;
    return i;
  }
  bool update(const SetFileChange& change, std::function<void(const char*)> step = {}) {
    error_.clear();
    return update_set_file(set_, change, temps_, step, &error_);
  }

  quarn::testing::ScratchDir dir_, elsewhere_;
  std::string set_ = dir_.file("names.set");
  TempFiles temps_{dir_.path()};
  std::string error_;
};

TEST_F(SetUpdateTest, AddsOnceAndKeepsEveryOtherLine) {
  mkdir(dir_.file("sub").c_str(), 0700);
  const std::string a = put("a.idx"), b = put("sub/b.idx");
  const std::string c = elsewhere_.file("c.idx");
  std::ofstream(c) << "x";
  // A missing set file is created.
  ASSERT_TRUE(update({{a}, {}})) << error_;
  EXPECT_EQ(slurp(set_), "a.idx\n");
  // Lines naming nothing, or a file by another spelling, stay as they are; a file
  // already listed under any name is not added again; the last line gets its line feed.
  put("names.set", "./a.idx\nmissing.idx\n" + elsewhere_.path() + "/../" +
                       elsewhere_.path().substr(elsewhere_.path().rfind('/') + 1) + "/c.idx");
  ASSERT_TRUE(update({{a, b, c, dir_.path() + "/sub/../a.idx"}, {}})) << error_;
  EXPECT_EQ(slurp(set_), "./a.idx\nmissing.idx\n" + elsewhere_.path() + "/../" +
                             elsewhere_.path().substr(elsewhere_.path().rfind('/') + 1) +
                             "/c.idx\nsub/b.idx\n");
  put("names.set", "");
  ASSERT_TRUE(update({{c}, {}})) << error_;
  EXPECT_EQ(slurp(set_), c + "\n");  // outside the set file's directory: absolute
}

TEST_F(SetUpdateTest, ReplaceDropsTheMergedFilesInOneRename) {
  const std::string a = put("a.idx"), b = put("b.idx"), c = put("c.idx"), d = put("d.idx");
  const std::string old_list = "a.idx\n./b.idx\nc.idx\n";
  put("names.set", old_list);
  int steps = 0;
  ASSERT_TRUE(update({{d}, {id(a), id(b)}}, [&](const char* step) {
    EXPECT_STREQ(step, "set-staged");
    EXPECT_EQ(slurp(set_), old_list);  // readers still see the old list
    ++steps;
  })) << error_;
  EXPECT_EQ(steps, 1);
  EXPECT_EQ(slurp(set_), "c.idx\nd.idx\n");
  struct stat st;
  EXPECT_NE(stat((set_ + ".gf-" + std::to_string(getpid())).c_str(), &st), 0);
}

TEST_F(SetUpdateTest, FailuresLeaveTheSetFileAlone) {
  const std::string a = put("a.idx");
  put("names.set", "a.idx\n");
  EXPECT_FALSE(update({{dir_.file("gone.idx")}, {}}));
  EXPECT_NE(error_.find("cannot find output"), std::string::npos) << error_;
  EXPECT_FALSE(update({{dir_.file("new\nline.idx")}, {}}));
  EXPECT_EQ(slurp(set_), "a.idx\n");
  set_ = dir_.path();
  EXPECT_FALSE(update({{a}, {}}));
  EXPECT_NE(error_.find("is not a regular file"), std::string::npos) << error_;
}

}  // namespace
}  // namespace quarn
