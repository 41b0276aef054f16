// Batched writing of result lines to a stream.
//
// Results are formatted into memory and handed to the stream in large writes, which is
// what makes printing millions of short lines cheap. The buffer is complete and in order
// on the stream after flush(), which the driver calls at the end of every search (so a
// reader of a pipe sees each search's results before the next search starts) and which
// the destructor calls as a last resort.
//
// Use: append whole lines with append(); the buffer writes itself out once it holds at
// least kOutputFlushBytes. The stream is not owned. A failed write (closed pipe, full
// disk) is remembered: failed() reports it, and later output is discarded rather than
// retried line by line.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace quarn {

// Large enough to amortise the write calls, small enough to keep latency per search low.
constexpr size_t kOutputFlushBytes = 64 * 1024;

class OutputBuffer {
 public:
  explicit OutputBuffer(FILE* stream);
  ~OutputBuffer();
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  void append(std::string_view text);
  // Writes everything buffered and flushes the stream; false if any write has failed.
  bool flush();
  bool failed() const { return failed_; }

 private:
  void write_out();

  FILE* stream_;
  std::string buf_;
  bool failed_ = false;
};

}  // namespace quarn
