#include "index/file_io.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/log.h"
#include "index/index_messages.h"

namespace quarn {

namespace {

// The one transfer loop: step(done) moves bytes from position `done` of the whole and
// returns what a read/write-style call returns.
template <class Step>
int transfer_all(size_t len, const char* call, IoReport report, Step step) {
  size_t done = 0;
  while (done < len) {
    const ssize_t n = step(done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      if (report == IoReport::kPrint) perror(call);
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

int create_fresh_file(const char* path, int flags) {
  if (unlink(path) != 0 && errno != ENOENT) {
    perror("unlink");
    return -1;
  }
  if (flags == 0) flags = O_WRONLY;
  int fd = open(path, flags | O_CREAT | O_EXCL | O_TRUNC | O_CLOEXEC, 0704);
  if (fd < 0) perror("open");
  return fd;
}

int write_all(int fd, const void* buf, size_t len, IoReport report) {
  const char* p = static_cast<const char*>(buf);
  return transfer_all(len, "write", report,
                      [&](size_t done) { return write(fd, p + done, len - done); });
}

int pwrite_all(int fd, const void* buf, size_t len, uint64_t offset, IoReport report) {
  const char* p = static_cast<const char*>(buf);
  return transfer_all(len, "pwrite", report, [&](size_t done) {
    return pwrite(fd, p + done, len - done, static_cast<off_t>(offset + done));
  });
}

int pread_all(int fd, void* buf, size_t len, uint64_t offset, IoReport report) {
  char* p = static_cast<char*>(buf);
  return transfer_all(len, "pread", report, [&](size_t done) {
    return pread(fd, p + done, len - done, static_cast<off_t>(offset + done));
  });
}

int sendfile_all(int out_fd, int in_fd, off_t offset, size_t len, IoReport report) {
  // sendfile advances offset itself.
  return transfer_all(len, "sendfile", report,
                      [&](size_t done) { return sendfile(out_fd, in_fd, &offset, len - done); });
}

size_t count_lines(const char* buf, size_t len) {
  const bool progress = log_enabled(LOG_INFO);
  size_t count = 0;
  for (size_t i = 0; i < len; ++i) {
    if (buf[i] != '\n') continue;
    if (i + 1 < len && buf[i + 1] == '\n') continue;
    if (progress && (count + 1) % 10000000 == 0)
      fprintf(stderr, index_msg::kLineCountProgress, i * 100 / len);
    ++count;
  }
  if (progress) fputc('\n', stderr);
  return count;
}

}  // namespace quarn
