// The bytes of one input file as plain text, whatever compression the collector used.
//
// open() takes a file descriptor (and owns it from then on), reads the first bytes and
// picks the decoder by magic number, never by file name: gzip (1f 8b), zstd
// (28 b5 2f fd) and xz (fd 37 7a 58 5a 00); anything else is read through unchanged.
// Concatenated gzip members, zstd frames and xz streams are read as one text, as the
// compressors' own tools do; bytes after the last gzip member that start no new member
// are ignored, as zlib's reader has always done.
//
// read() fills a caller's buffer and returns kData (got > 0), kEnd, or kError with the
// reason in error(). A stream cut short or failing its checks is an error with
// damaged() set; a failing read of the file is an error without it. After kEnd or
// kError every further read() returns the same. bytes_in() counts the file bytes
// consumed, so it is true for pipes as well as for files.
//
// Memory: a 256 KiB input buffer plus the decoder's own state, which for zstd and xz is
// the window the compressor chose (a few MiB at the tools' default levels).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quarn {

inline constexpr const char* kDecodeErrTruncated = "unexpected end of file";
inline constexpr const char* kDecodeErrMemory = "out of memory for the decoder";

class InputDecoder {
 public:
  enum class Result { kData, kEnd, kError };

  // Null with *error set (strerror text) when the first bytes cannot be read or the
  // decoder cannot start. Closes fd in every case once called.
  static std::unique_ptr<InputDecoder> open(int fd, std::string* error);
  virtual ~InputDecoder();
  InputDecoder(const InputDecoder&) = delete;
  InputDecoder& operator=(const InputDecoder&) = delete;

  Result read(char* out, size_t cap, size_t* got);
  uint64_t bytes_in() const { return bytes_in_; }
  bool damaged() const { return damaged_; }
  const std::string& error() const { return error_; }

 protected:
  explicit InputDecoder(int fd);
  // One step of the format: decodes from the input window into out.
  virtual Result decode(char* out, size_t cap, size_t* got) = 0;

  // Makes input available; false at end of file (eof()) or on a read error (then
  // error_ is set).
  bool fill();
  bool eof() const { return eof_; }
  // Reads until at least n bytes are buffered; false when the file ends first.
  bool fill_at_least(size_t n);
  Result fail_damaged(const std::string& why);

  const char* in_data() const { return in_.get() + in_pos_; }
  size_t in_size() const { return in_end_ - in_pos_; }
  void consume(size_t n) { in_pos_ += n; }

 private:

  int fd_;
  std::unique_ptr<char[]> in_;
  size_t in_pos_ = 0;
  size_t in_end_ = 0;
  bool eof_ = false;
  bool damaged_ = false;
  bool done_ = false;
  Result last_ = Result::kData;
  uint64_t bytes_in_ = 0;
  std::string error_;
};

}  // namespace quarn
