#include "index/index_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/strfmt.h"
#include "index/format.h"
#include "index/index_messages.h"
#include "index/line_index_builder.h"
#include "index/name_order.h"
#include "index/ref_encoder.h"

namespace quarn {

namespace {

// Output is gathered into blocks of this size before each write call.
constexpr size_t kWriteBlock = 1 << 20;

inline void put_varint(std::vector<uint8_t>& v, uint64_t x) {
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
    if (!done_) unlink(tmp_.c_str());
  }

  bool add_line(std::string_view line, std::string* error);
  bool finish(std::string* error);
  uint64_t lines() const { return lines_; }

 private:
  bool fail(std::string* error, std::string text) {
    failed_ = true;
    if (error != nullptr) *error = std::move(text);
    return false;
  }
  bool io_fail(std::string* error, const char* call) {
    return fail(error, str_fmt(msg::kWriterIo, tmp_.c_str(), call, strerror(errno)));
  }
  // Appends to the output buffer, writing it out in blocks.
  bool emit(const void* data, size_t len, std::string* error);
  bool flush(std::string* error);
  bool emit_padding(std::string* error);
  bool write_at(const void* data, size_t len, uint64_t offset, std::string* error);

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
};

bool IndexWriter::Impl::flush(std::string* error) {
  if (buf_.empty()) return true;
  const char* p = buf_.data();
  size_t len = buf_.size();
  while (len > 0) {
    ssize_t n = write(fd_, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return io_fail(error, "write");
    }
    p += n;
    len -= static_cast<size_t>(n);
  }
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
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    ssize_t n = pwrite(fd_, p, len, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return io_fail(error, "pwrite");
    }
    p += n;
    offset += static_cast<uint64_t>(n);
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool IndexWriter::Impl::add_line(std::string_view line, std::string* error) {
  if (failed_ || done_) return fail(error, msg::kWriterFinished);
  const unsigned long n = lines_;
  if (line.empty()) return fail(error, str_fmt(msg::kWriterEmptyLine, n));
  if (line.find('\n') != std::string_view::npos)
    return fail(error, str_fmt(msg::kWriterLineFeed, n));
  const size_t tab = line.find('\t');
  if (tab == std::string_view::npos) return fail(error, str_fmt(msg::kWriterNoTab, n));
  if (tab == 0) return fail(error, str_fmt(msg::kWriterEmptyKey, n));
  if (lines_ > kMaxLineNumber)
    return fail(error, str_fmt(msg::kWriterTooMany, static_cast<unsigned long>(kMaxLineNumber + 1)));
  const std::string_view key = line.substr(0, tab);
  if (opt_.compare && lines_ > 0 && opt_.compare(prev_line_, line) > 0) {
    const std::string_view prev_key(prev_line_.data(), prev_line_.find('\t'));
    return fail(error, str_fmt(msg::kWriterOrder, n, static_cast<int>(key.size()), key.data(),
                               static_cast<int>(prev_key.size()), prev_key.data()));
  }
  if (opt_.compare) prev_line_.assign(line);

  line_index_.add_line(table_size_);
  if (!emit(line.data(), line.size(), error) || !emit("\n", 1, error)) return false;
  table_size_ += line.size() + 1;

  // Trigrams of the key padded with two '^' on each side: key length + 2 of them.
  const uint64_t cur = lines_ + 1;
  uint8_t v0 = kSymbolPad, v1 = kSymbolPad;
  for (size_t j = 0; j < key.size() + 2; ++j) {
    const uint8_t v2 = j < key.size() ? trigram_symbol(static_cast<unsigned char>(key[j])) : kSymbolPad;
    const uint32_t o = trigram_ordinal_of_symbols(v0, v1, v2);
    if (last_[o] != cur) {  // a trigram repeated within one key is listed once
      put_varint(lists_[o], cur - last_[o]);
      last_[o] = cur;
    }
    v0 = v1;
    v1 = v2;
  }
  ++lines_;
  return true;
}

bool IndexWriter::Impl::finish(std::string* error) {
  if (failed_ || done_) return fail(error, msg::kWriterFinished);
  if (lines_ == 0) return fail(error, msg::kWriterNoLines);
  line_index_.finish();
  const std::string& li = line_index_.bytes();
  if (!emit_padding(error) || !emit(li.data(), li.size(), error) || !emit_padding(error))
    return false;

  // Header area: fixed header, real nref table, trigram table; written last.
  std::vector<uint8_t> head(kHeaderSize + kRealNrefTableSize + kTrigramTableSize, 0);
  uint8_t* real = head.data() + kHeaderSize;
  uint8_t* table = real + kRealNrefTableSize;
  const uint64_t region = pos_;
  std::vector<uint64_t> lines;
  std::string encoded;
  for (uint32_t o = 0; o < kTrigramCount; ++o) {
    std::vector<uint8_t>& deltas = lists_[o];
    if (deltas.empty()) continue;
    lines.clear();
    const uint8_t* p = deltas.data();
    const uint8_t* end = p + deltas.size();
    uint64_t plus1 = 0;
    while (p < end) {
      plus1 += get_varint(p);
      lines.push_back(plus1 - 1);
    }
    std::vector<uint8_t>().swap(deltas);  // memory goes back as the lists are written
    encoded.clear();
    const uint64_t nrefs = encode_ref_list(lines.data(), lines.size(), &encoded);
    store_le64(real + 8ull * o, lines.size());
    store_le64(table + kTrigramEntrySize * o, nrefs);
    store_le64(table + kTrigramEntrySize * o + 8, pos_);
    if (!emit(encoded.data(), encoded.size(), error)) return false;
  }
  const uint64_t region_size = pos_ - region;
  if (!flush(error)) return false;

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
  h.line_index_size = li.size();
  h.tgdb_size = region_size;
  encode_header(h, head.data());
  if (!write_at(head.data(), head.size(), 0, error)) return false;
  // The file must be complete on disk before it takes the final name.
  if (fsync(fd_) != 0) return io_fail(error, "fsync");
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) return io_fail(error, "close");
  if (rename(tmp_.c_str(), path_.c_str()) != 0) return io_fail(error, "rename");
  done_ = true;
  return true;
}

IndexWriter::IndexWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
IndexWriter::~IndexWriter() = default;

std::unique_ptr<IndexWriter> IndexWriter::create(const std::string& path,
                                                 const IndexWriterOptions& options,
                                                 std::string* error) {
  std::string tmp = str_fmt("%s.tmp.%ld", path.c_str(), static_cast<long>(getpid()));
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error != nullptr) *error = str_fmt(msg::kWriterCreate, tmp.c_str(), strerror(errno));
    return nullptr;
  }
  // The header area is filled in by finish(); the string table starts after it.
  if (lseek(fd, static_cast<off_t>(kWriterStringTableOffset), SEEK_SET) < 0) {
    if (error != nullptr) *error = str_fmt(msg::kWriterCreate, tmp.c_str(), strerror(errno));
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
uint64_t IndexWriter::line_count() const { return impl_->lines(); }

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
