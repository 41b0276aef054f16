#include "index/file_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>


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

}  // namespace quarn
