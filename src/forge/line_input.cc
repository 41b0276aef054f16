#include "forge/line_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/strfmt.h"

namespace quarn {
namespace {

// Decoded text handed out per refill; lines are cut from it in place.
constexpr size_t kLineChunk = 256 * 1024;

}  // namespace

LineInput::LineInput(std::string name, std::unique_ptr<InputDecoder> decoder)
    : name_(std::move(name)), decoder_(std::move(decoder)) {}

std::unique_ptr<LineInput> LineInput::open(const std::string& name, std::string* error) {
  int fd = name == kStdinName ? dup(STDIN_FILENO) : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = str_fmt(kInputErrOpen, name.c_str(), strerror(errno));
    return nullptr;
  }
  std::string why;
  auto decoder = InputDecoder::open(fd, &why);
  if (!decoder) {
    *error = str_fmt(kInputErrOpen, name.c_str(), why.c_str());
    return nullptr;
  }
  std::unique_ptr<LineInput> in(new LineInput(name, std::move(decoder)));
  in->buf_.resize(kLineChunk);
  return in;
}

LineInput::~LineInput() = default;

uint64_t LineInput::bytes_read() const { return decoder_->bytes_in(); }

bool LineInput::refill() {
  if (eof_ || failed()) return false;
  size_t got = 0;
  switch (decoder_->read(buf_.data(), buf_.size(), &got)) {
    case InputDecoder::Result::kData:
      pos_ = 0;
      end_ = got;
      return true;
    case InputDecoder::Result::kEnd:
      eof_ = true;
      return false;
    case InputDecoder::Result::kError:
      break;
  }
  damaged_ = decoder_->damaged();
  error_ = damaged_ ? str_fmt(kInputErrDamaged, name_.c_str(),
                              static_cast<unsigned long long>(line_number_),
                              decoder_->error().c_str())
                    : str_fmt(kInputErrRead, name_.c_str(), decoder_->error().c_str());
  return false;
}

bool LineInput::next(std::string_view* line) {
  too_long_ = false;
  long_line_.clear();
  bool any = false;
  for (;;) {
    if (pos_ == end_ && !refill()) {
      if (failed() || !any) return false;
      break;  // last line without a line feed
    }
    any = true;
    const char* start = buf_.data() + pos_;
    const char* nl = static_cast<const char*>(memchr(start, '\n', end_ - pos_));
    const size_t len = nl ? static_cast<size_t>(nl - start) : end_ - pos_;
    if (long_line_.empty() && nl != nullptr && len <= kMaxInputLine) {
      // The common case: the whole line lies in the buffer, hand it out in place.
      pos_ += len + 1;
      ++line_number_;
      *line = std::string_view(start, len);
      if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
      return true;
    }
    const size_t room = long_line_.size() < kMaxInputLine ? kMaxInputLine - long_line_.size() : 0;
    if (len > room) too_long_ = true;
    long_line_.append(start, std::min(len, room));
    pos_ += nl ? len + 1 : len;
    if (nl) break;
  }
  ++line_number_;
  *line = long_line_;
  if (!too_long_ && !line->empty() && line->back() == '\r') line->remove_suffix(1);
  return true;
}

}  // namespace quarn
