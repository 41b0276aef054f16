#include "forge/line_input.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "common/strfmt.h"

namespace quarn {
namespace {

constexpr size_t kInputChunk = 256 * 1024;

gzFile as_gz(void* p) { return static_cast<gzFile>(p); }

}  // namespace

std::unique_ptr<LineInput> LineInput::open(const std::string& name, std::string* error) {
  int fd = name == kStdinName ? dup(STDIN_FILENO) : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = str_fmt(kInputErrOpen, name.c_str(), strerror(errno));
    return nullptr;
  }
  gzFile gz = gzdopen(fd, "rb");
  if (gz == nullptr) {
    *error = str_fmt(kInputErrOpen, name.c_str(), strerror(errno ? errno : ENOMEM));
    close(fd);
    return nullptr;
  }
  gzbuffer(gz, kInputChunk);
  std::unique_ptr<LineInput> in(new LineInput(name, gz));
  in->buf_.resize(kInputChunk);
  return in;
}

LineInput::~LineInput() { gzclose(as_gz(gz_)); }

uint64_t LineInput::bytes_read() const {
  const z_off_t off = gzoffset(as_gz(gz_));
  return off < 0 ? 0 : static_cast<uint64_t>(off);
}

bool LineInput::refill() {
  if (eof_ || failed()) return false;
  const int got = gzread(as_gz(gz_), buf_.data(), static_cast<unsigned>(buf_.size()));
  if (got < 0) {
    int code = 0;
    const char* msg = gzerror(as_gz(gz_), &code);
    error_ = str_fmt(kInputErrRead, name_.c_str(),
                     code == Z_ERRNO ? strerror(errno) : msg);
    return false;
  }
  if (got == 0) {
    // gzread reports a stream cut short only through gzerror.
    int code = 0;
    const char* msg = gzerror(as_gz(gz_), &code);
    if (code != Z_OK && code != Z_STREAM_END) {
      error_ = str_fmt(kInputErrRead, name_.c_str(), msg);
      return false;
    }
    eof_ = true;
    return false;
  }
  pos_ = 0;
  end_ = static_cast<size_t>(got);
  return true;
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
