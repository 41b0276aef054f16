// File helpers of the writers: line counting, fresh files, and the transfer loops with
// their two ways of reporting a failure.
#include "index/file_io.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "index_test_util.h"

namespace quarn {
namespace {

using index_test::TempDir;

TEST(FileIo, CountLinesSkipsEmptyLines) {
  EXPECT_EQ(count_lines("a\nb\n\nc\n", 7), 3u);
  EXPECT_EQ(count_lines("a\nb", 3), 1u);
  EXPECT_EQ(count_lines("", 0), 0u);
}

TEST(FileIo, FreshFilesAndCompleteTransfers) {
  TempDir dir;
  const std::string path = dir.file("f");
  int fd = create_fresh_file(path.c_str(), 0);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write_all(fd, "hello", 5), 0);
  close(fd);
  fd = create_fresh_file(path.c_str(), O_RDWR);  // replaces the old file
  ASSERT_GE(fd, 0);
  struct stat st;
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(st.st_mode & 0777, 0704u);
  EXPECT_EQ(write_all(fd, "abcdef", 6), 0);
  EXPECT_EQ(pwrite_all(fd, "XY", 2, 1), 0);
  char back[4] = {};
  EXPECT_EQ(pread_all(fd, back, 3, 2), 0);
  EXPECT_EQ(std::string(back), "Yde");  // "aXYdef"
  close(fd);
  int in = open(path.c_str(), O_RDONLY);
  int out = create_fresh_file(dir.file("g").c_str(), 0);
  EXPECT_EQ(sendfile_all(out, in, 2, 3), 0);
  EXPECT_EQ(sendfile_all(out, in, 0, 0), 0);
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
  close(out);
  const auto g = index_test::read_file(dir.file("g"));
  EXPECT_EQ(std::string(g.begin(), g.end()), "Yde");
}

}  // namespace
}  // namespace quarn
