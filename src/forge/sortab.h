// Sorted tables: files of (key, value) entries in ascending bytewise key order, a
// reader, and a k-way merger that folds equal keys with a merge function.
//
// The builder spills sorted runs of observations into these files when its memory
// budget fills and merges the runs back into one ordered stream; the same pieces serve
// any process that wants to read several such files as one.
//
// File layout (integers are varints of sortab_varint.h):
//   "QSRTAB1\n"                              8-byte magic
//   { klen (varint32, >= 1) key  vlen (varint32) value }*   keys strictly ascending
//   0 (varint32)  entry count (varint64)  "QSRTEND\n"       trailer
// A file without its trailer (a crash while writing, a full disk) is rejected when the
// reader reaches the end, so a truncated run never passes for a short one.
//
// Order of use: SortabWriter::create, add() in ascending order, finish(); then
// SortabReader::open per file, and SortabMerger over several sources.
// Every source starts before its first entry: call next() to reach it. key() and
// value() stay valid until the following next(). A source that fails stops (next()
// gives false) and failed()/error() say why; exhaustion without error is not failure.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/heap.h"

namespace quarn {

// Longest key or value a table accepts; anything longer is treated as corruption so
// that a damaged length field cannot make a reader allocate without bound.
constexpr uint32_t kSortabMaxField = 1u << 20;
// Read buffer of each SortabReader and write buffer of each SortabWriter: what a merge
// costs per input run and per output, for callers that budget memory.
constexpr size_t kSortabReadBuffer = 64 * 1024;
constexpr size_t kSortabWriteBuffer = 1 << 20;

// Error texts of the module.
inline constexpr const char* kSortabErrOpen = "cannot open sorted table %s: %s";
inline constexpr const char* kSortabErrCreate = "cannot create sorted table %s: %s";
inline constexpr const char* kSortabErrWrite = "cannot write sorted table %s: %s";
inline constexpr const char* kSortabErrRead = "cannot read sorted table %s: %s";
inline constexpr const char* kSortabErrMagic = "not a sorted table: %s";
inline constexpr const char* kSortabErrCorrupt = "corrupt sorted table %s at byte %llu";
inline constexpr const char* kSortabErrTruncated = "truncated sorted table %s";
inline constexpr const char* kSortabErrOrder = "sorted table %s: keys out of order";

// Writes one table. Not copyable; the file is closed by finish() or the destructor
// (which leaves an unfinished file without its trailer, so readers refuse it).
class SortabWriter {
 public:
  static std::unique_ptr<SortabWriter> create(const std::string& path, std::string* error);
  ~SortabWriter();
  SortabWriter(const SortabWriter&) = delete;
  SortabWriter& operator=(const SortabWriter&) = delete;

  // Keys must be non-empty, at most kSortabMaxField bytes and strictly ascending.
  bool add(std::string_view key, std::string_view value, std::string* error);
  bool finish(std::string* error);
  uint64_t entries() const { return entries_; }
  uint64_t bytes_written() const { return bytes_; }

 private:
  SortabWriter(std::string path, FILE* file) : path_(std::move(path)), file_(file) {}
  bool put(const void* data, size_t len, std::string* error);

  std::string path_;
  FILE* file_;
  std::string last_key_;
  uint64_t entries_ = 0;
  uint64_t bytes_ = 0;
};

// A forward stream of entries in ascending key order.
class SortabSource {
 public:
  virtual ~SortabSource() = default;
  virtual bool next() = 0;
  virtual std::string_view key() const = 0;
  virtual std::string_view value() const = 0;
  virtual bool failed() const = 0;
  virtual const std::string& error() const = 0;
};

// Reads one table through a bounded buffer (it never maps or slurps the file).
class SortabReader : public SortabSource {
 public:
  static std::unique_ptr<SortabReader> open(const std::string& path, std::string* error);
  ~SortabReader() override;
  SortabReader(const SortabReader&) = delete;
  SortabReader& operator=(const SortabReader&) = delete;

  bool next() override;
  std::string_view key() const override { return key_; }
  std::string_view value() const override { return value_; }
  bool failed() const override { return !error_.empty(); }
  const std::string& error() const override { return error_; }

 private:
  SortabReader(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  // Makes at least n bytes available at pos_ unless the file ends first.
  bool fill(size_t n);
  bool fail(std::string text);

  std::string path_;
  int fd_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0;   // next unread byte in buf_
  size_t end_ = 0;   // bytes of buf_ holding file data
  uint64_t file_offset_ = 0;  // file offset of buf_[0]
  bool eof_ = false;
  bool done_ = false;
  uint64_t count_ = 0;
  std::string key_;
  std::string value_;
  std::string prev_key_;
  std::string error_;
};

// Folds the values of two entries with the same key into out (which the caller
// clears first). Called once per surplus entry, never allocates when out has room.
using SortabMergeFunc = std::function<void(std::string_view key, std::string_view a,
                                           std::string_view b, std::string& out)>;

// Merges sources into one stream with distinct keys. Owns its sources. Equal keys of
// several sources are folded in source order with the merge function. Not copyable or
// movable (its heap refers to its own source list): hold it in place or by unique_ptr.
class SortabMerger : public SortabSource {
 public:
  explicit SortabMerger(SortabMergeFunc merge)
      : merge_(std::move(merge)), heap_(SourceOrder{&sources_}) {}
  SortabMerger(const SortabMerger&) = delete;
  SortabMerger& operator=(const SortabMerger&) = delete;
  void add_source(std::unique_ptr<SortabSource> source) {
    sources_.push_back(std::move(source));
  }

  bool next() override;
  std::string_view key() const override { return key_; }
  std::string_view value() const override { return value_; }
  bool failed() const override { return !error_.empty(); }
  const std::string& error() const override { return error_; }

 private:
  // Live sources by their current key, ties by source number (so equal keys fold in
  // source order).
  struct SourceOrder {
    const std::vector<std::unique_ptr<SortabSource>>* sources;
    int operator()(size_t a, size_t b) const;
  };
  bool advance(size_t i);

  SortabMergeFunc merge_;
  std::vector<std::unique_ptr<SortabSource>> sources_;
  heap<size_t, SourceOrder> heap_;  // indices of live sources, least key on top
  bool started_ = false;
  std::string key_;
  std::string value_;
  std::string scratch_;
  std::string error_;
};

}  // namespace quarn
