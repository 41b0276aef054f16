// Small file helpers for index writers: fresh files, complete reads and writes and line
// counting. Each reports a failure as -1; none ever exits the process.
//
// The transfer helpers (write_all, pwrite_all, pread_all, sendfile_all) loop until the
// whole length is moved, retrying interrupted calls; a call that moves nothing counts as
// a failure with errno EIO. By default a failure prints the failing call's name with the
// system error (perror style) to standard error; IoReport::kQuiet prints nothing and
// leaves errno for a caller that words the failure itself (the index writer names the
// file it was writing).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace quarn {

enum class IoReport { kPrint, kQuiet };

// Deletes path if present, then creates it exclusively and truncated with the given open
// flags (write-only when 0), mode 0704. Returns the descriptor or -1.
int create_fresh_file(const char* path, int flags);

// Writes all len bytes at the descriptor's position ("write" on failure). 0 on success.
int write_all(int fd, const void* buf, size_t len, IoReport report = IoReport::kPrint);

// Writes all len bytes at offset, leaving the position alone ("pwrite"). 0 on success.
int pwrite_all(int fd, const void* buf, size_t len, uint64_t offset,
               IoReport report = IoReport::kPrint);

// Reads exactly len bytes from offset ("pread"; the file ending first is a failure).
int pread_all(int fd, void* buf, size_t len, uint64_t offset,
              IoReport report = IoReport::kPrint);

// Copies len bytes from in_fd at offset to out_fd with sendfile ("sendfile"); a zero
// length gives 0.
int sendfile_all(int out_fd, int in_fd, off_t offset, size_t len,
                 IoReport report = IoReport::kPrint);

// Number of line feeds not followed by another line feed (the buffer's end counts as not
// a line feed): the number of non-empty lines when the text does not begin with an empty
// line. At log level "info" or more verbose, prints "Line count progress: %zu%%\r" at each
// 10,000,000th line and a line feed at the end, to standard error.
size_t count_lines(const char* buf, size_t len);

}  // namespace quarn
