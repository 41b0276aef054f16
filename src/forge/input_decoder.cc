#include "forge/input_decoder.h"

#include <lzma.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cerrno>
#include <cstring>

namespace quarn {
namespace {

// Read size of the input file: large enough that a read call costs nothing beside the
// decoding, small beside the memory budget's read reserve.
constexpr size_t kInputChunk = 256 * 1024;

// Longest magic number recognised (xz).
constexpr size_t kMagicBytes = 6;

constexpr unsigned char kGzipMagic[] = {0x1f, 0x8b};
constexpr unsigned char kZstdMagic[] = {0x28, 0xb5, 0x2f, 0xfd};
constexpr unsigned char kXzMagic[] = {0xfd, 0x37, 0x7a, 0x58, 0x5a, 0x00};

template <size_t N>
bool starts_with(const char* data, size_t size, const unsigned char (&magic)[N]) {
  return size >= N && memcmp(data, magic, N) == 0;
}

class PlainDecoder final : public InputDecoder {
 public:
  explicit PlainDecoder(int fd) : InputDecoder(fd) {}

 protected:
  Result decode(char* out, size_t cap, size_t* got) override {
    if (in_size() == 0 && !fill()) return error().empty() ? Result::kEnd : Result::kError;
    const size_t n = std::min(cap, in_size());
    memcpy(out, in_data(), n);
    consume(n);
    *got = n;
    return Result::kData;
  }
};

class GzipDecoder final : public InputDecoder {
 public:
  explicit GzipDecoder(int fd) : InputDecoder(fd) {}
  ~GzipDecoder() override {
    if (started_) inflateEnd(&z_);
  }
  bool start() {
    // 16 + 15: a gzip wrapper (header and CRC checked) around the largest window.
    started_ = inflateInit2(&z_, 16 + 15) == Z_OK;
    return started_;
  }

 protected:
  Result decode(char* out, size_t cap, size_t* got) override {
    z_.next_out = reinterpret_cast<Bytef*>(out);
    z_.avail_out = static_cast<uInt>(cap);
    while (z_.avail_out == cap && !ended_) {
      if (in_size() == 0 && !fill()) {
        if (!error().empty()) return Result::kError;
        return fail_damaged(kDecodeErrTruncated);
      }
      z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in_data()));
      z_.avail_in = static_cast<uInt>(in_size());
      const int rc = inflate(&z_, Z_NO_FLUSH);
      consume(in_size() - z_.avail_in);
      if (rc == Z_STREAM_END) {
        if (!next_member()) ended_ = true;
        if (!error().empty()) {
          *got = cap - z_.avail_out;
          return Result::kError;
        }
      } else if (rc != Z_OK && !(rc == Z_BUF_ERROR && z_.avail_in == 0)) {
        *got = cap - z_.avail_out;
        return fail_damaged(z_.msg != nullptr ? z_.msg : "invalid compressed data");
      }
    }
    *got = cap - z_.avail_out;
    return *got == 0 ? Result::kEnd : Result::kData;
  }

 private:
  // After a member: another one follows only when its magic does; anything else after
  // the last member is ignored.
  bool next_member() {
    if (in_size() < sizeof kGzipMagic) fill_at_least(sizeof kGzipMagic);
    if (!starts_with(in_data(), in_size(), kGzipMagic)) return false;
    inflateReset(&z_);
    return true;
  }

  z_stream z_{};
  bool started_ = false;
  bool ended_ = false;
};

class ZstdDecoder final : public InputDecoder {
 public:
  explicit ZstdDecoder(int fd) : InputDecoder(fd), ds_(ZSTD_createDStream()) {}
  ~ZstdDecoder() override { ZSTD_freeDStream(ds_); }
  bool start() { return ds_ != nullptr && !ZSTD_isError(ZSTD_initDStream(ds_)); }

 protected:
  Result decode(char* out, size_t cap, size_t* got) override {
    ZSTD_outBuffer o{out, cap, 0};
    while (o.pos == 0) {
      ZSTD_inBuffer in{in_data(), in_size(), 0};
      if (in.size == 0 && !fill()) {
        if (!error().empty()) return Result::kError;
        if (!frame_open_) return Result::kEnd;
        // End of file inside a frame: what the decoder still holds may finish it.
        in = ZSTD_inBuffer{nullptr, 0, 0};
        const size_t r = ZSTD_decompressStream(ds_, &o, &in);
        if (ZSTD_isError(r)) return fail_damaged(ZSTD_getErrorName(r));
        if (o.pos == 0) return fail_damaged(kDecodeErrTruncated);
        frame_open_ = r != 0;
        break;
      }
      in = ZSTD_inBuffer{in_data(), in_size(), 0};
      const size_t r = ZSTD_decompressStream(ds_, &o, &in);
      consume(in.pos);
      if (ZSTD_isError(r)) {
        *got = o.pos;
        return fail_damaged(ZSTD_getErrorName(r));
      }
      frame_open_ = r != 0;  // 0: a frame is complete and fully flushed
    }
    *got = o.pos;
    return Result::kData;
  }

 private:
  ZSTD_DStream* ds_;
  bool frame_open_ = true;  // the magic of a first frame has been seen
};

const char* lzma_text(lzma_ret ret) {
  switch (ret) {
    case LZMA_MEM_ERROR: return kDecodeErrMemory;
    case LZMA_FORMAT_ERROR: return "not in the xz format";
    case LZMA_OPTIONS_ERROR: return "unsupported xz options";
    case LZMA_DATA_ERROR: return "compressed data is corrupt";
    case LZMA_BUF_ERROR: return kDecodeErrTruncated;
    default: return "xz decoding failed";
  }
}

class XzDecoder final : public InputDecoder {
 public:
  explicit XzDecoder(int fd) : InputDecoder(fd) {}
  ~XzDecoder() override { lzma_end(&s_); }
  bool start() { return lzma_stream_decoder(&s_, UINT64_MAX, LZMA_CONCATENATED) == LZMA_OK; }

 protected:
  Result decode(char* out, size_t cap, size_t* got) override {
    s_.next_out = reinterpret_cast<uint8_t*>(out);
    s_.avail_out = cap;
    while (s_.avail_out == cap && !ended_) {
      // Once the file has ended, the decoder is told to finish and must stay told.
      if (!finishing_ && in_size() == 0 && !fill()) {
        if (!error().empty()) return Result::kError;
        finishing_ = true;
      }
      s_.next_in = reinterpret_cast<const uint8_t*>(in_data());
      s_.avail_in = in_size();
      const lzma_ret ret = lzma_code(&s_, finishing_ ? LZMA_FINISH : LZMA_RUN);
      consume(in_size() - s_.avail_in);
      if (ret == LZMA_STREAM_END) {
        ended_ = true;
      } else if (ret != LZMA_OK) {
        *got = cap - s_.avail_out;
        return fail_damaged(lzma_text(ret));
      }
    }
    *got = cap - s_.avail_out;
    return *got == 0 ? Result::kEnd : Result::kData;
  }

 private:
  lzma_stream s_ = LZMA_STREAM_INIT;
  bool finishing_ = false;
  bool ended_ = false;
};

template <typename D>
std::unique_ptr<InputDecoder> started(std::unique_ptr<D> d, std::string* error) {
  if (!d->start()) {
    *error = kDecodeErrMemory;
    return nullptr;
  }
  return d;
}

}  // namespace

InputDecoder::InputDecoder(int fd) : fd_(fd), in_(new char[kInputChunk]) {}

InputDecoder::~InputDecoder() {
  if (fd_ >= 0) close(fd_);
}

std::unique_ptr<InputDecoder> InputDecoder::open(int fd, std::string* error) {
  // A plain decoder reads the magic; the one that fits takes over its buffer.
  auto probe = std::make_unique<PlainDecoder>(fd);
  if (!probe->fill_at_least(kMagicBytes) && !probe->error().empty()) {
    *error = probe->error();
    return nullptr;
  }
  const char* head = probe->in_data();
  const size_t size = probe->in_size();
  std::unique_ptr<InputDecoder> d;
  if (starts_with(head, size, kGzipMagic)) {
    d = started(std::make_unique<GzipDecoder>(-1), error);
  } else if (starts_with(head, size, kZstdMagic)) {
    d = started(std::make_unique<ZstdDecoder>(-1), error);
  } else if (starts_with(head, size, kXzMagic)) {
    d = started(std::make_unique<XzDecoder>(-1), error);
  } else {
    return probe;
  }
  if (!d) return nullptr;
  std::swap(d->fd_, probe->fd_);
  std::swap(d->in_, probe->in_);
  d->in_end_ = probe->in_end_;
  d->eof_ = probe->eof_;
  d->bytes_in_ = probe->bytes_in_;
  return d;
}

InputDecoder::Result InputDecoder::read(char* out, size_t cap, size_t* got) {
  *got = 0;
  if (done_) return last_;
  const Result r = decode(out, cap, got);
  if (r == Result::kData) return r;
  done_ = true;
  last_ = r;
  // Text decoded before the end or the damage still goes out first.
  return *got > 0 ? Result::kData : r;
}

bool InputDecoder::fill() {
  if (eof_ || !error_.empty()) return false;
  if (in_pos_ > 0) {
    memmove(in_.get(), in_.get() + in_pos_, in_end_ - in_pos_);
    in_end_ -= in_pos_;
    in_pos_ = 0;
  }
  if (in_end_ == kInputChunk) return true;
  for (;;) {
    const ssize_t n = ::read(fd_, in_.get() + in_end_, kInputChunk - in_end_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error_ = strerror(errno);
      return false;
    }
    if (n == 0) {
      eof_ = true;
      return false;
    }
    in_end_ += static_cast<size_t>(n);
    bytes_in_ += static_cast<uint64_t>(n);
    return true;
  }
}

bool InputDecoder::fill_at_least(size_t n) {
  while (in_size() < n) {
    if (!fill()) return false;
  }
  return true;
}

InputDecoder::Result InputDecoder::fail_damaged(const std::string& why) {
  damaged_ = true;
  error_ = why;
  return Result::kError;
}

}  // namespace quarn
