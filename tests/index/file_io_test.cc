// File helpers of the writers: the transfer loops with their two ways of reporting a
// failure.
#include "index/file_io.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "index_test_util.h"

namespace quarn {
namespace {

using index_test::TempDir;

TEST(FileIo, CompleteTransfers) {
  TempDir dir;
  const std::string path = dir.file("f");
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write_all(fd, "abcdef", 6), 0);
  EXPECT_EQ(pwrite_all(fd, "XY", 2, 1), 0);
  char back[4] = {};
  EXPECT_EQ(pread_all(fd, back, 3, 2), 0);
  EXPECT_EQ(std::string(back), "Yde");  // "aXYdef"
  close(fd);
  int in = open(path.c_str(), O_RDONLY);
  // Reading past the end is a failure, not a short read; quietly, errno says why.
  errno = 0;
  EXPECT_EQ(pread_all(in, back, 3, 5, IoReport::kQuiet), -1);
  EXPECT_EQ(errno, EIO);
  // A descriptor opened for reading refuses writes.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(write_all(in, "x", 1, IoReport::kQuiet), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(write_all(in, "x", 1), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr().rfind("write: ", 0), 0u);
  close(in);
}

}  // namespace
}  // namespace quarn
