#include "output/output_buffer.h"

namespace quarn {

OutputBuffer::OutputBuffer(FILE* stream) : stream_(stream) { buf_.reserve(kOutputFlushBytes * 2); }

OutputBuffer::~OutputBuffer() { flush(); }

void OutputBuffer::append(std::string_view text) {
  buf_.append(text);
  if (buf_.size() >= kOutputFlushBytes) write_out();
}

void OutputBuffer::write_out() {
  if (!buf_.empty() && !failed_) {
    if (std::fwrite(buf_.data(), 1, buf_.size(), stream_) != buf_.size()) failed_ = true;
  }
  buf_.clear();
}

bool OutputBuffer::flush() {
  write_out();
  if (!failed_ && std::fflush(stream_) != 0) failed_ = true;
  return !failed_;
}

}  // namespace quarn
