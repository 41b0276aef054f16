#include "index/index_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "common/strfmt.h"
#include "index/file_io.h"
#include "index/format.h"
#include "index/index_messages.h"
#include "index/line_index_builder.h"
#include "index/name_order.h"
#include "index/ref_encoder.h"

namespace quarn {

namespace {

// Output is gathered into blocks of this size before each write call: large enough
// that the write calls cost nothing next to the encoding.
constexpr size_t kWriteBlock = size_t{256} << 10;
// With a list budget, the line index goes to the spill file in pieces of this size, so
// that its 14 bytes per 64 lines do not grow with the input either.
constexpr size_t kLineIndexPiece = size_t{64} << 10;
// The real nref table and the trigram table are filled for this many ordinals at a time
// and then written in place, instead of holding both tables (1.6 MB) in memory.
constexpr uint32_t kTableBlock = 1024;

template <class Buf>
inline void put_varint(Buf& v, uint64_t x) {
  while (x >= 0x80) {
    v.push_back(static_cast<uint8_t>(x | 0x80));
    x >>= 7;
  }
  v.push_back(static_cast<uint8_t>(x));
}

inline uint64_t get_varint(const uint8_t*& p) {
  uint64_t x = 0;
  int shift = 0;
  while (*p & 0x80) {
    x |= static_cast<uint64_t>(*p++ & 0x7F) << shift;
    shift += 7;
  }
  x |= static_cast<uint64_t>(*p++) << shift;
  return x;
}

// Each run's read buffer while finish() merges the runs back: at most this, and together
// no more than the list budget, since there is one per run (but never below the minimum,
// so that reading still goes in sensible steps when a tiny budget made many runs).
constexpr size_t kMaxRunBuffer = size_t{64} << 10;
constexpr size_t kMinRunBuffer = 512;
// Allocator overhead counted per list buffer, so that the many tiny lists of a fresh run
// are not undercounted against the budget.
constexpr size_t kAllocOverhead = 16;
constexpr uint32_t kNoOrdinal = kTrigramCount;

// Reads back one run of the spill file: a sequence of segments {varint ordinal,
// varint count, count delta varints}, ordinals strictly ascending. Every read is checked
// against the run's end, so a damaged file ends in an error, never in a wild read.
class RunReader {
 public:
  RunReader(int fd, uint64_t begin, uint64_t end, size_t buffer)
      : fd_(fd), pos_(begin), end_(end), buffer_(buffer) {}

  // Reads the next segment head; ordinal() is kNoOrdinal when the run is exhausted.
  // false (errno set) on a read error or a damaged run.
  bool next_segment() {
    if (bp_ == bn_ && pos_ == end_) {
      ord_ = kNoOrdinal;
      count_ = 0;
      return true;
    }
    uint64_t ord = 0;
    if (!varint(&ord) || !varint(&count_)) return false;
    if (ord >= kTrigramCount || (ord_ != kNoOrdinal && ord <= ord_) || count_ == 0)
      return damaged();
    ord_ = static_cast<uint32_t>(ord);
    return true;
  }
  uint32_t ordinal() const { return ord_; }
  uint64_t count() const { return count_; }

  bool varint(uint64_t* v) {
    uint64_t x = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (bp_ == bn_ && !refill()) return false;
      const uint8_t b = buf_[bp_++];
      x |= static_cast<uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) {
        *v = x;
        return true;
      }
    }
    return damaged();
  }

 private:
  bool damaged() {
    errno = EIO;
    return false;
  }
  bool refill() {
    if (pos_ == end_) return damaged();
    if (buf_.empty()) buf_.resize(buffer_);
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buf_.size(), end_ - pos_));
    ssize_t n;
    do {
      n = pread(fd_, buf_.data(), want, static_cast<off_t>(pos_));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return n == 0 ? damaged() : false;
    pos_ += static_cast<uint64_t>(n);
    bp_ = 0;
    bn_ = static_cast<size_t>(n);
    return true;
  }

  int fd_;
  uint64_t pos_, end_;  // file range of the run not yet read into buf_
  size_t buffer_;
  std::vector<uint8_t> buf_;
  size_t bp_ = 0, bn_ = 0;
  uint32_t ord_ = kNoOrdinal;
  uint64_t count_ = 0;
};

}  // namespace

class IndexWriter::Impl {
 public:
  Impl(std::string path, std::string tmp, int fd, const IndexWriterOptions& o)
      : path_(std::move(path)), tmp_(std::move(tmp)), fd_(fd), opt_(o),
        lists_(kTrigramCount), last_(kTrigramCount, 0) {
    if (!opt_.compare && opt_.kind == IndexKind::kRrname) opt_.compare = name_order;
    buf_.reserve(kWriteBlock);
  }
  ~Impl() {
    if (fd_ >= 0) close(fd_);
    if (spill_fd_ >= 0) close(spill_fd_);
    if (!done_) unlink(tmp_.c_str());
  }

  bool add_line(std::string_view line, std::string* error);
  bool finish(std::string* error);
  uint64_t lines() const { return lines_; }
  uint64_t spill_runs() const { return runs_.size(); }
  void set_time_fence(uint32_t earliest, uint32_t latest) {
    opt_.timefence = true;
    opt_.earliest_seen = earliest;
    opt_.latest_seen = latest;
  }

 private:
  bool fail(std::string* error, std::string text) {
    failed_ = true;
    if (error != nullptr) *error = std::move(text);
    return false;
  }
  bool io_fail(std::string* error, const char* call) {
    return fail(error, str_fmt(index_msg::kWriterIo, tmp_.c_str(), call, strerror(errno)));
  }
  // Appends to the output buffer, writing it out in blocks.
  bool emit(const void* data, size_t len, std::string* error);
  bool flush(std::string* error);
  bool emit_padding(std::string* error);
  bool write_at(const void* data, size_t len, uint64_t offset, std::string* error);
  // Moves every in-memory list to a new run of the spill file and frees them.
  bool spill(std::string* error);
  bool open_spill(std::string* error);
  bool spill_fail(std::string* error, const char* call) {
    return fail(error, str_fmt(index_msg::kWriterIo, spill_path_.c_str(), call, strerror(errno)));
  }
  // Feeds the line numbers of trigram o from the runs (in run order) and memory to the
  // encoder, which writes the list; the encoder's counts then describe it.
  bool stream_list(uint32_t o, std::vector<RunReader>& readers, RefEncoder& enc,
                   std::string* error);
  // Moves the line index built so far to the spill file.
  bool spill_line_index(std::string* error);
  // Appends the line index (spilled pieces, then the rest) to the output.
  bool emit_line_index(std::string* error);
  // The steps of finish(), in order: close the string table with the line index; open
  // a reader per spilled run; write every list and the tables; check that the runs held
  // nothing more; write the header; sync and rename into place.
  bool finish_string_table(std::string* error);
  bool open_runs(std::vector<RunReader>* readers, std::string* error);
  bool write_lists(std::vector<RunReader>& readers, std::string* error);
  bool check_runs_read(const std::vector<RunReader>& readers, std::string* error);
  bool write_header(uint64_t region_size, std::string* error);
  bool publish(std::string* error);

  std::string path_, tmp_;
  int fd_;
  IndexWriterOptions opt_;
  std::vector<std::vector<uint8_t>> lists_;  // per trigram: delta varints of line + 1
  std::vector<uint64_t> last_;               // per trigram: last listed line + 1, 0 = none
  LineIndexBuilder line_index_;
  std::string buf_;
  uint64_t pos_ = kWriterStringTableOffset;  // file offset of buf_'s first byte + buf_.size()
  uint64_t table_size_ = 0;
  uint64_t lines_ = 0;
  std::string prev_line_;
  bool failed_ = false;
  bool done_ = false;
  // Spilling: bytes the lists hold (capacity plus allocator overhead), the spill file
  // (already unlinked: only the descriptor keeps it) and each run's byte range in it.
  size_t list_bytes_ = 0;
  int spill_fd_ = -1;
  std::string spill_path_;
  uint64_t spill_size_ = 0;
  std::vector<std::pair<uint64_t, uint64_t>> runs_;
  std::vector<std::pair<uint64_t, uint64_t>> line_index_pieces_;
  uint64_t line_index_size_ = 0;  // bytes of the line index, spilled pieces included
};

bool IndexWriter::Impl::open_spill(std::string* error) {
  std::string dir = opt_.tmpdir;
  if (dir.empty()) {
    const char* env = getenv("TMPDIR");
    dir = env != nullptr && *env != '\0' ? env : "/tmp";
  }
  spill_path_ = dir + "/quarn-refs-XXXXXX";
  spill_fd_ = mkostemp(spill_path_.data(), O_CLOEXEC);
  if (spill_fd_ < 0)
    return fail(error, str_fmt(index_msg::kWriterCreate, spill_path_.c_str(), strerror(errno)));
  // Nothing but our descriptor refers to it from now on, so no exit path can leave it.
  if (unlink(spill_path_.c_str()) != 0) return spill_fail(error, "unlink");
  return true;
}

bool IndexWriter::Impl::spill(std::string* error) {
  if (spill_fd_ < 0 && !open_spill(error)) return false;
  const uint64_t begin = spill_size_;
  std::string out;
  out.reserve(kWriteBlock);
  for (uint32_t o = 0; o < kTrigramCount; ++o) {
    std::vector<uint8_t>& deltas = lists_[o];
    if (deltas.empty()) continue;
    uint64_t count = 0;
    for (uint8_t b : deltas) count += (b & 0x80) == 0;
    put_varint(out, o);
    put_varint(out, count);
    out.append(reinterpret_cast<const char*>(deltas.data()), deltas.size());
    std::vector<uint8_t>().swap(deltas);
    if (out.size() >= kWriteBlock) {
      if (write_all(spill_fd_, out.data(), out.size(), IoReport::kQuiet) != 0)
        return spill_fail(error, "write");
      spill_size_ += out.size();
      out.clear();
    }
  }
  if (write_all(spill_fd_, out.data(), out.size(), IoReport::kQuiet) != 0)
    return spill_fail(error, "write");
  spill_size_ += out.size();
  runs_.emplace_back(begin, spill_size_);
  list_bytes_ = 0;
  return true;
}

bool IndexWriter::Impl::stream_list(uint32_t o, std::vector<RunReader>& readers,
                                    RefEncoder& enc, std::string* error) {
  uint64_t plus1 = 0;  // last line + 1; runs continue each other's deltas
  for (RunReader& r : readers) {
    if (r.ordinal() != o) continue;
    for (uint64_t i = 0; i < r.count(); ++i) {
      uint64_t d = 0;
      if (!r.varint(&d)) return spill_fail(error, "read");
      if (d == 0 || d > lines_ - plus1) {
        errno = EIO;
        return spill_fail(error, "read");
      }
      plus1 += d;
      if (!enc.add(plus1 - 1)) return false;
    }
    if (!r.next_segment()) return spill_fail(error, "read");
  }
  std::vector<uint8_t>& deltas = lists_[o];
  const uint8_t* p = deltas.data();
  const uint8_t* end = p + deltas.size();
  while (p < end) {
    plus1 += get_varint(p);
    if (!enc.add(plus1 - 1)) return false;
  }
  std::vector<uint8_t>().swap(deltas);  // memory goes back as the lists are written
  return enc.finish();
}

bool IndexWriter::Impl::spill_line_index(std::string* error) {
  if (spill_fd_ < 0 && !open_spill(error)) return false;
  const std::string& b = line_index_.bytes();
  if (write_all(spill_fd_, b.data(), b.size(), IoReport::kQuiet) != 0)
    return spill_fail(error, "write");
  line_index_pieces_.emplace_back(spill_size_, spill_size_ + b.size());
  spill_size_ += b.size();
  line_index_size_ += b.size();
  line_index_.clear_bytes();
  return true;
}

bool IndexWriter::Impl::emit_line_index(std::string* error) {
  std::vector<char> piece;
  for (const auto& [begin, end] : line_index_pieces_) {
    piece.resize(static_cast<size_t>(end - begin));
    if (pread_all(spill_fd_, piece.data(), piece.size(), begin, IoReport::kQuiet) != 0)
      return spill_fail(error, "read");
    if (!emit(piece.data(), piece.size(), error)) return false;
  }
  const std::string& rest = line_index_.bytes();
  line_index_size_ += rest.size();
  return emit(rest.data(), rest.size(), error);
}

bool IndexWriter::Impl::flush(std::string* error) {
  if (buf_.empty()) return true;
  if (write_all(fd_, buf_.data(), buf_.size(), IoReport::kQuiet) != 0)
    return io_fail(error, "write");
  buf_.clear();
  return true;
}

bool IndexWriter::Impl::emit(const void* data, size_t len, std::string* error) {
  buf_.append(static_cast<const char*>(data), len);
  pos_ += len;
  return buf_.size() < kWriteBlock || flush(error);
}

bool IndexWriter::Impl::emit_padding(std::string* error) {
  static const char kZeros[kSectionAlign] = {};
  return emit(kZeros, align_up(pos_, kSectionAlign) - pos_, error);
}

bool IndexWriter::Impl::write_at(const void* data, size_t len, uint64_t offset,
                                 std::string* error) {
  if (pwrite_all(fd_, data, len, offset, IoReport::kQuiet) != 0) return io_fail(error, "pwrite");
  return true;
}

bool IndexWriter::Impl::add_line(std::string_view line, std::string* error) {
  if (failed_ || done_) return fail(error, index_msg::kWriterFinished);
  const unsigned long n = lines_;
  if (line.empty()) return fail(error, str_fmt(index_msg::kWriterEmptyLine, n));
  if (line.find('\n') != std::string_view::npos)
    return fail(error, str_fmt(index_msg::kWriterLineFeed, n));
  const size_t tab = line.find('\t');
  if (tab == std::string_view::npos) return fail(error, str_fmt(index_msg::kWriterNoTab, n));
  if (tab == 0) return fail(error, str_fmt(index_msg::kWriterEmptyKey, n));
  if (lines_ > kMaxLineNumber)
    return fail(error, str_fmt(index_msg::kWriterTooMany, static_cast<unsigned long>(kMaxLineNumber + 1)));
  const std::string_view key = line.substr(0, tab);
  if (opt_.compare && lines_ > 0 && opt_.compare(prev_line_, line) > 0) {
    const std::string_view prev_key(prev_line_.data(), prev_line_.find('\t'));
    return fail(error, str_fmt(index_msg::kWriterOrder, n, static_cast<int>(key.size()), key.data(),
                               static_cast<int>(prev_key.size()), prev_key.data()));
  }
  if (opt_.compare) prev_line_.assign(line);

  line_index_.add_line(table_size_);
  if (opt_.list_budget != 0 && line_index_.bytes().size() >= kLineIndexPiece &&
      !spill_line_index(error))
    return false;
  if (!emit(line.data(), line.size(), error) || !emit("\n", 1, error)) return false;
  table_size_ += line.size() + 1;

  // Trigrams of the key padded with two '^' on each side: key length + 2 of them.
  const uint64_t cur = lines_ + 1;
  uint8_t v0 = kSymbolPad, v1 = kSymbolPad;
  for (size_t j = 0; j < key.size() + 2; ++j) {
    const uint8_t v2 = j < key.size() ? trigram_symbol(static_cast<unsigned char>(key[j])) : kSymbolPad;
    const uint32_t o = trigram_ordinal_of_symbols(v0, v1, v2);
    if (last_[o] != cur) {  // a trigram repeated within one key is listed once
      std::vector<uint8_t>& list = lists_[o];
      const size_t cap = list.capacity();
      put_varint(list, cur - last_[o]);
      if (list.capacity() != cap)
        list_bytes_ += list.capacity() - cap + (cap == 0 ? kAllocOverhead : 0);
      last_[o] = cur;
    }
    v0 = v1;
    v1 = v2;
  }
  ++lines_;
  if (opt_.list_budget != 0 && list_bytes_ > opt_.list_budget) return spill(error);
  return true;
}

bool IndexWriter::Impl::finish(std::string* error) {
  if (failed_ || done_) return fail(error, index_msg::kWriterFinished);
  if (lines_ == 0) return fail(error, index_msg::kWriterNoLines);
  if (!finish_string_table(error)) return false;
  const uint64_t region = pos_;
  std::vector<RunReader> readers;
  if (!open_runs(&readers, error) || !write_lists(readers, error) ||
      !check_runs_read(readers, error))
    return false;
  std::vector<RunReader>().swap(readers);
  if (spill_fd_ >= 0) {
    close(spill_fd_);
    spill_fd_ = -1;
  }
  const uint64_t region_size = pos_ - region;
  return flush(error) && write_header(region_size, error) && publish(error);
}

bool IndexWriter::Impl::finish_string_table(std::string* error) {
  line_index_.finish();
  if (!emit_padding(error) || !emit_line_index(error) || !emit_padding(error)) return false;
  line_index_.clear_bytes();
  return true;
}

bool IndexWriter::Impl::open_runs(std::vector<RunReader>* readers, std::string* error) {
  // Once anything is spilled, the rest goes too: the runs' read buffers then share the
  // budget alone instead of coming on top of a full budget of lists.
  if (!runs_.empty() && list_bytes_ > 0 && !spill(error)) return false;
  readers->reserve(runs_.size());
  const size_t buffer = runs_.empty() ? 0
      : std::clamp(opt_.list_budget / runs_.size(), kMinRunBuffer, kMaxRunBuffer);
  for (const auto& [begin, end] : runs_) {
    readers->emplace_back(spill_fd_, begin, end, buffer);
    if (!readers->back().next_segment()) return spill_fail(error, "read");
  }
  return true;
}

bool IndexWriter::Impl::write_lists(std::vector<RunReader>& readers, std::string* error) {
  // Each list streams from the runs through the encoder into the output buffer; its
  // counts are known once it is written and go to the tables, which are written in place
  // a block of ordinals at a time.
  RefEncoder enc([this, error](const char* data, size_t len) { return emit(data, len, error); });
  std::vector<uint8_t> real(8 * kTableBlock), table(kTrigramEntrySize * kTableBlock);
  for (uint32_t first = 0; first < kTrigramCount; first += kTableBlock) {
    const uint32_t last = std::min<uint32_t>(first + kTableBlock, kTrigramCount);
    std::fill(real.begin(), real.end(), 0);
    std::fill(table.begin(), table.end(), 0);
    for (uint32_t o = first; o < last; ++o) {
      const uint64_t offset = pos_;
      if (!stream_list(o, readers, enc, error)) return false;  // the error is set
      if (enc.lines() == 0) continue;
      const uint32_t i = o - first;
      store_le64(real.data() + 8ull * i, enc.lines());
      store_le64(table.data() + kTrigramEntrySize * i, enc.entries());
      store_le64(table.data() + kTrigramEntrySize * i + 8, offset);
    }
    const uint32_t n = last - first;
    if (!write_at(real.data(), 8ull * n, kHeaderSize + 8ull * first, error) ||
        !write_at(table.data(), kTrigramEntrySize * n,
                  kHeaderSize + kRealNrefTableSize + kTrigramEntrySize * first, error))
      return false;
  }
  return true;
}

bool IndexWriter::Impl::check_runs_read(const std::vector<RunReader>& readers,
                                        std::string* error) {
  for (const RunReader& r : readers) {
    if (r.ordinal() != kNoOrdinal) {  // a segment no trigram asked for: a damaged run
      errno = EIO;
      return spill_fail(error, "read");
    }
  }
  return true;
}

bool IndexWriter::Impl::write_header(uint64_t region_size, std::string* error) {
  TgdbHeader h;
  std::memcpy(h.magic, kTgdbMagic, 8);
  h.flags = kFlagUnified | kFlagRealRef;
  if (opt_.kind == IndexKind::kRdata) h.flags |= kFlagRdata;
  if (opt_.timefence) {
    h.flags |= kFlagTimefence;
    h.earliest_seen = opt_.earliest_seen;
    h.latest_seen = opt_.latest_seen;
  }
  h.header_length = static_cast<uint32_t>(kWriterHeaderLength);
  h.string_table_size = table_size_;
  h.line_index_size = line_index_size_;
  h.tgdb_size = region_size;
  uint8_t head[kHeaderSize];
  encode_header(h, head);
  return write_at(head, sizeof head, 0, error);
}

bool IndexWriter::Impl::publish(std::string* error) {
  // The file must be complete on disk before it takes the final name.
  if (fsync(fd_) != 0) return io_fail(error, "fsync");
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) return io_fail(error, "close");
  if (rename(tmp_.c_str(), path_.c_str()) != 0) return io_fail(error, "rename");
  done_ = true;
  return true;
}

size_t index_writer_fixed_bytes() {
  // Per trigram: the list's vector head and its last line; the output block; the line
  // index piece and its read-back buffer; the two table blocks; the encoder. Allocator overhead of the lists
  // themselves is counted in the budget as they grow.
  return kTrigramCount * (sizeof(std::vector<uint8_t>) + sizeof(uint64_t)) + kWriteBlock +
         2 * kLineIndexPiece + (8 + kTrigramEntrySize) * kTableBlock + sizeof(RefEncoder);
}

IndexWriter::IndexWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
IndexWriter::~IndexWriter() = default;

std::unique_ptr<IndexWriter> IndexWriter::create(const std::string& path,
                                                 const IndexWriterOptions& options,
                                                 std::string* error) {
  std::string tmp = str_fmt("%s.tmp.%ld", path.c_str(), static_cast<long>(getpid()));
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error != nullptr) *error = str_fmt(index_msg::kWriterCreate, tmp.c_str(), strerror(errno));
    return nullptr;
  }
  // The header area is filled in by finish(); the string table starts after it.
  if (lseek(fd, static_cast<off_t>(kWriterStringTableOffset), SEEK_SET) < 0) {
    if (error != nullptr) *error = str_fmt(index_msg::kWriterCreate, tmp.c_str(), strerror(errno));
    close(fd);
    unlink(tmp.c_str());
    return nullptr;
  }
  return std::unique_ptr<IndexWriter>(
      new IndexWriter(std::make_unique<Impl>(path, std::move(tmp), fd, options)));
}

bool IndexWriter::add_line(std::string_view line, std::string* error) {
  return impl_->add_line(line, error);
}
bool IndexWriter::finish(std::string* error) { return impl_->finish(error); }
void IndexWriter::set_time_fence(uint32_t earliest, uint32_t latest) {
  impl_->set_time_fence(earliest, latest);
}
uint64_t IndexWriter::line_count() const { return impl_->lines(); }
uint64_t IndexWriter::spill_runs() const { return impl_->spill_runs(); }

bool write_index_from_text(const std::string& path, std::string_view text,
                           const IndexWriterOptions& options, std::string* error) {
  auto w = IndexWriter::create(path, options, error);
  if (!w) return false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    if (!w->add_line(text.substr(pos, end - pos), error)) return false;
    pos = end + 1;
  }
  return w->finish(error);
}

}  // namespace quarn
