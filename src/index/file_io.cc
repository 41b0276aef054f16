#include "index/file_io.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/log.h"
#include "index/index_messages.h"

namespace quarn {

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

int write_all(int fd, const void* buf, size_t len) {
  const char* p = static_cast<const char*>(buf);
  while (len > 0) {
    ssize_t n = write(fd, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      perror("write");
      return -1;
    }
    p += n;
    len -= static_cast<size_t>(n);
  }
  return 0;
}

int pwrite_all(int fd, const void* buf, size_t len, uint64_t offset) {
  const char* p = static_cast<const char*>(buf);
  while (len > 0) {
    ssize_t n = pwrite(fd, p, len, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      perror("pwrite");
      return -1;
    }
    p += n;
    offset += static_cast<uint64_t>(n);
    len -= static_cast<size_t>(n);
  }
  return 0;
}

int sendfile_all(int out_fd, int in_fd, off_t offset, size_t len) {
  while (len > 0) {
    ssize_t n = sendfile(out_fd, in_fd, &offset, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      perror("sendfile");
      return -1;
    }
    len -= static_cast<size_t>(n);
  }
  return 0;
}

int align_output(FILE* out) {
  long pos = ftell(out);
  if (pos < 0) {
    perror("ftell");
    return -1;
  }
  static const char kZeros[4096] = {};
  const uint64_t pad = align_padding(static_cast<uint64_t>(pos));
  if (pad > 0 && fwrite(kZeros, 1, pad, out) != pad) {
    perror("fwrite");
    return -1;
  }
  if (fflush(out) != 0) perror("fflush");
  return 0;
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
