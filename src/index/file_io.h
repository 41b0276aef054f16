// Small file helpers for index writers: fresh files, complete writes, 4 KiB alignment and
// line counting. Each reports a failure as -1 after printing the failing call's name with
// the system error (perror style) to standard error; none ever exits the process.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace quarn {

// Deletes path if present, then creates it exclusively and truncated with the given open
// flags (write-only when 0), mode 0704. Returns the descriptor or -1.
int create_fresh_file(const char* path, int flags);

// Writes all len bytes; a failed or empty write prints "write" and gives -1. 0 on success.
int write_all(int fd, const void* buf, size_t len);

// pwrite-style variant used by the index writer to fill in the header area at the end.
int pwrite_all(int fd, const void* buf, size_t len, uint64_t offset);

// Copies len bytes from in_fd at offset to out_fd with sendfile; prints "sendfile" and
// gives -1 on failure; a zero length gives 0.
int sendfile_all(int out_fd, int in_fd, off_t offset, size_t len);

// Pads the stream with zero bytes up to the next multiple of 4096 and flushes. "ftell" or
// "fwrite" failures give -1; a failed flush prints "fflush" but is not an error.
int align_output(FILE* out);

// Zero bytes needed to bring pos to the next multiple of 4096.
inline uint64_t align_padding(uint64_t pos) { return (4096 - pos % 4096) % 4096; }

// Number of line feeds not followed by another line feed (the buffer's end counts as not
// a line feed): the number of non-empty lines when the text does not begin with an empty
// line. At log level "info" or more verbose, prints "Line count progress: %zu%%\r" at each
// 10,000,000th line and a line feed at the end, to standard error.
size_t count_lines(const char* buf, size_t len);

}  // namespace quarn
