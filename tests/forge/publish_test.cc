// Publishing staged outputs: refusal to replace without force, and roll back of a
// partial publish.
#include "forge/publish.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace quarn {
namespace {

class PublishTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(testing::TempDir()) + "/publish-" + std::to_string(getpid());
    mkdir(dir_.c_str(), 0700);
  }
  void TearDown() override { EXPECT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void put(const std::string& name, const std::string& text) {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  std::string get(const std::string& name) const {
    std::ifstream f(path(name), std::ios::binary);
    if (!f) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  std::string dir_;
};

TEST_F(PublishTest, NeverReplacesWithoutForce) {
  put("a.new", "new");
  put("a", "old");  // appeared after the build checked its outputs
  std::string error;
  EXPECT_FALSE(publish_outputs({{path("a.new"), path("a")}}, false, &error));
  EXPECT_NE(error.find("output file exists"), std::string::npos) << error;
  EXPECT_EQ(get("a"), "old");
  EXPECT_EQ(get("a.new"), "new");
  EXPECT_TRUE(publish_outputs({{path("a.new"), path("a")}}, true, &error)) << error;
  EXPECT_EQ(get("a"), "new");
  EXPECT_EQ(system(("test $(ls '" + dir_ + "' | wc -l) -eq 1").c_str()), 0);
}

TEST_F(PublishTest, FailedRenameRestoresEveryTarget) {
  put("a.new", "new a");
  put("a", "old a");
  put("b", "old b");  // b's staged file is missing, so its rename fails
  std::string error;
  EXPECT_FALSE(publish_outputs({{path("a.new"), path("a")}, {path("b.new"), path("b")}}, true,
                               &error));
  EXPECT_NE(error.find("cannot rename"), std::string::npos) << error;
  EXPECT_EQ(get("a"), "old a");
  EXPECT_EQ(get("a.new"), "new a");
  EXPECT_EQ(get("b"), "old b");
  EXPECT_EQ(system(("test $(ls '" + dir_ + "' | wc -l) -eq 3").c_str()), 0);
}

TEST_F(PublishTest, SamePathComparesDirectories) {
  EXPECT_TRUE(same_output_path("a.idx", "./a.idx"));
  EXPECT_TRUE(same_output_path(path("a.idx"), dir_ + "/./a.idx"));
  EXPECT_FALSE(same_output_path("a.idx", "b.idx"));
  EXPECT_FALSE(same_output_path(path("a.idx"), "a.idx"));
}

}  // namespace
}  // namespace quarn
