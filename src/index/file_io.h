// Small file helpers for index writers: complete reads and writes. Each reports a failure
// as -1; none ever exits the process.
//
// The transfer helpers (write_all, pwrite_all, pread_all) loop until the
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

// Writes all len bytes at the descriptor's position ("write" on failure). 0 on success.
int write_all(int fd, const void* buf, size_t len, IoReport report = IoReport::kPrint);

// Writes all len bytes at offset, leaving the position alone ("pwrite"). 0 on success.
int pwrite_all(int fd, const void* buf, size_t len, uint64_t offset,
               IoReport report = IoReport::kPrint);

// Reads exactly len bytes from offset ("pread"; the file ending first is a failure).
int pread_all(int fd, void* buf, size_t len, uint64_t offset,
              IoReport report = IoReport::kPrint);

}  // namespace quarn
