// Line-by-line reading of one input file or standard input, plain or compressed with
// gzip, zstd or xz.
//
// Compression is recognised by content (input_decoder.h), so names need no particular
// suffix. Order of use: open(), then next() until it returns false; failed()/error()
// tell a read error from the normal end, and damaged() a stream that is cut short or
// corrupt: every complete line before the damage has been returned by then, a partial
// one is dropped, and the error names the last line read. The line returned by next()
// excludes its line feed (and a carriage return before it) and stays valid until the
// following call. Lines longer than
// kMaxInputLine are returned cut with `too_long()` set, so the caller can reject them
// without the reader holding an unbounded line in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "forge/input_decoder.h"

namespace quarn {

// Longest input line taken whole; no sensible observation comes near it.
constexpr size_t kMaxInputLine = 1 << 20;

inline constexpr const char* kInputErrOpen = "cannot open input %s: %s";
inline constexpr const char* kInputErrRead = "cannot read input %s: %s";
inline constexpr const char* kInputErrDamaged = "input %s is damaged after line %llu: %s";
inline constexpr const char* kStdinName = "-";

class LineInput {
 public:
  // "-" is standard input. Returns null with the reason in *error.
  static std::unique_ptr<LineInput> open(const std::string& name, std::string* error);
  ~LineInput();
  LineInput(const LineInput&) = delete;
  LineInput& operator=(const LineInput&) = delete;

  bool next(std::string_view* line);
  bool too_long() const { return too_long_; }
  uint64_t line_number() const { return line_number_; }
  // Compressed or plain bytes consumed from the file (or pipe) so far.
  uint64_t bytes_read() const;
  bool failed() const { return !error_.empty(); }
  bool damaged() const { return damaged_; }
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }

 private:
  LineInput(std::string name, std::unique_ptr<InputDecoder> decoder);
  bool refill();

  std::string name_;
  std::unique_ptr<InputDecoder> decoder_;
  std::vector<char> buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  bool too_long_ = false;
  bool damaged_ = false;
  uint64_t line_number_ = 0;
  std::string long_line_;
  std::string error_;
};

}  // namespace quarn
