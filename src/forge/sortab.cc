#include "forge/sortab.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "forge/sortab_varint.h"
#include "common/strfmt.h"

namespace quarn {
namespace {

constexpr char kMagic[8] = {'Q', 'S', 'R', 'T', 'A', 'B', '1', '\n'};
constexpr char kEndMagic[8] = {'Q', 'S', 'R', 'T', 'E', 'N', 'D', '\n'};
// Read granularity of a reader; a merge of many runs holds one such buffer per run.
constexpr size_t kReadChunk = kSortabReadBuffer;
// Output buffer of a writer.
constexpr size_t kWriteBuffer = kSortabWriteBuffer;

}  // namespace

// ---------------------------------------------------------------------------- writer

std::unique_ptr<SortabWriter> SortabWriter::create(const std::string& path,
                                                   std::string* error) {
  FILE* f = fopen(path.c_str(), "wbx");
  if (f == nullptr) {
    *error = str_fmt(kSortabErrCreate, path.c_str(), strerror(errno));
    return nullptr;
  }
  setvbuf(f, nullptr, _IOFBF, kWriteBuffer);
  std::unique_ptr<SortabWriter> w(new SortabWriter(path, f));
  if (!w->put(kMagic, sizeof kMagic, error)) return nullptr;
  return w;
}

SortabWriter::~SortabWriter() {
  if (file_ != nullptr) fclose(file_);
}

bool SortabWriter::put(const void* data, size_t len, std::string* error) {
  if (file_ == nullptr || fwrite(data, 1, len, file_) != len) {
    *error = str_fmt(kSortabErrWrite, path_.c_str(), strerror(errno ? errno : EIO));
    return false;
  }
  bytes_ += len;
  return true;
}

bool SortabWriter::add(std::string_view key, std::string_view value, std::string* error) {
  if (key.empty() || key.size() > kSortabMaxField || value.size() > kSortabMaxField ||
      (entries_ > 0 && key <= std::string_view(last_key_))) {
    *error = str_fmt(kSortabErrOrder, path_.c_str());
    return false;
  }
  uint8_t head[kVarint32Max];
  size_t n = sortab_varint_encode32(head, static_cast<uint32_t>(key.size()));
  if (!put(head, n, error) || !put(key.data(), key.size(), error)) return false;
  n = sortab_varint_encode32(head, static_cast<uint32_t>(value.size()));
  if (!put(head, n, error) || !put(value.data(), value.size(), error)) return false;
  last_key_.assign(key);
  ++entries_;
  return true;
}

bool SortabWriter::finish(std::string* error) {
  std::string trailer;
  sortab_varint_append32(trailer, 0);
  sortab_varint_append64(trailer, entries_);
  trailer.append(kEndMagic, sizeof kEndMagic);
  if (!put(trailer.data(), trailer.size(), error)) return false;
  // No fsync: runs are scratch data that a crash makes worthless anyway, and a
  // truncated run is caught by its missing trailer.
  errno = 0;
  const bool ok = fflush(file_) == 0;
  const int saved = errno;
  const bool closed = fclose(file_) == 0;
  file_ = nullptr;
  if (!ok || !closed) {
    *error = str_fmt(kSortabErrWrite, path_.c_str(), strerror(saved ? saved : EIO));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------- reader

std::unique_ptr<SortabReader> SortabReader::open(const std::string& path,
                                                 std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = str_fmt(kSortabErrOpen, path.c_str(), strerror(errno));
    return nullptr;
  }
  std::unique_ptr<SortabReader> r(new SortabReader(path, fd));
  r->buf_.resize(kReadChunk);
  if (!r->fill(sizeof kMagic) || memcmp(r->buf_.data(), kMagic, sizeof kMagic) != 0) {
    *error = r->failed() ? r->error_ : str_fmt(kSortabErrMagic, path.c_str());
    return nullptr;
  }
  r->pos_ = sizeof kMagic;
  return r;
}

SortabReader::~SortabReader() { ::close(fd_); }

bool SortabReader::fail(std::string text) {
  error_ = std::move(text);
  done_ = true;
  return false;
}

bool SortabReader::fill(size_t n) {
  if (end_ - pos_ >= n) return true;
  // Keep the unread tail, move it to the front and read behind it.
  const size_t tail = end_ - pos_;
  memmove(buf_.data(), buf_.data() + pos_, tail);
  file_offset_ += pos_;
  pos_ = 0;
  end_ = tail;
  if (buf_.size() < n) buf_.resize(std::max(n, buf_.size() * 2));
  while (end_ < n && !eof_) {
    const ssize_t got = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail(str_fmt(kSortabErrRead, path_.c_str(), strerror(errno)));
    }
    if (got == 0) eof_ = true;
    end_ += static_cast<size_t>(got);
  }
  return end_ >= n;
}

bool SortabReader::next() {
  if (done_) return false;
  auto corrupt = [this]() {
    return fail(str_fmt(kSortabErrCorrupt, path_.c_str(),
                        static_cast<unsigned long long>(file_offset_ + pos_)));
  };
  // A length field is at most kVarint32Max bytes; near the end of the file fewer remain.
  fill(kVarint32Max);
  if (failed()) return false;
  if (pos_ == end_) return fail(str_fmt(kSortabErrTruncated, path_.c_str()));
  uint32_t klen = 0;
  size_t n = sortab_varint_decode32(buf_.data() + pos_, buf_.data() + end_, &klen);
  if (n == 0 || klen > kSortabMaxField) return corrupt();
  if (klen == 0) {
    // Trailer: entry count and end magic, then nothing.
    pos_ += n;
    fill(kVarint64Max + sizeof kEndMagic);
    if (failed()) return false;
    uint64_t count = 0;
    n = sortab_varint_decode64(buf_.data() + pos_, buf_.data() + end_, &count);
    if (n == 0) return fail(str_fmt(kSortabErrTruncated, path_.c_str()));
    pos_ += n;
    // Ask for one byte more than the magic so that bytes after the trailer are seen.
    fill(sizeof kEndMagic + 1);
    if (failed()) return false;
    if (end_ - pos_ < sizeof kEndMagic) return fail(str_fmt(kSortabErrTruncated, path_.c_str()));
    if (end_ - pos_ > sizeof kEndMagic || count != count_ ||
        memcmp(buf_.data() + pos_, kEndMagic, sizeof kEndMagic) != 0) {
      return corrupt();
    }
    done_ = true;
    return false;
  }
  fill(n + klen + kVarint32Max);
  if (failed()) return false;
  if (end_ - pos_ < n + klen + 1) return fail(str_fmt(kSortabErrTruncated, path_.c_str()));
  key_.assign(reinterpret_cast<const char*>(buf_.data() + pos_ + n), klen);
  pos_ += n + klen;
  uint32_t vlen = 0;
  n = sortab_varint_decode32(buf_.data() + pos_, buf_.data() + end_, &vlen);
  if (n == 0 || vlen > kSortabMaxField) return corrupt();
  if (!fill(n + vlen)) {
    return failed() ? false : fail(str_fmt(kSortabErrTruncated, path_.c_str()));
  }
  value_.assign(reinterpret_cast<const char*>(buf_.data() + pos_ + n), vlen);
  pos_ += n + vlen;
  if (count_ > 0 && key_ <= prev_key_) return fail(str_fmt(kSortabErrOrder, path_.c_str()));
  prev_key_ = key_;
  ++count_;
  return true;
}

// ---------------------------------------------------------------------------- merger

int SortabMerger::SourceOrder::operator()(size_t a, size_t b) const {
  const int c = (*sources)[a]->key().compare((*sources)[b]->key());
  if (c != 0) return c;
  return a < b ? -1 : a > b ? 1 : 0;
}

// Moves source i (on top of the heap) to its next entry and restores the heap.
bool SortabMerger::advance(size_t i) {
  if (sources_[i]->next()) {
    heap_.siftup(0);
    return true;
  }
  if (sources_[i]->failed()) {
    error_ = sources_[i]->error();
    heap_.clear();
    return false;
  }
  heap_.pop();
  return true;
}

bool SortabMerger::next() {
  if (!error_.empty()) return false;
  if (!started_) {
    started_ = true;
    for (size_t i = 0; i < sources_.size(); ++i) {
      if (sources_[i]->next()) {
        heap_.append(i);
      } else if (sources_[i]->failed()) {
        error_ = sources_[i]->error();
        heap_.clear();
        return false;
      }
    }
    heap_.heapify();
  }
  if (heap_.empty()) return false;
  size_t top = *heap_.peek();
  key_.assign(sources_[top]->key());
  value_.assign(sources_[top]->value());
  if (!advance(top)) return false;
  while (!heap_.empty() && sources_[*heap_.peek()]->key() == std::string_view(key_)) {
    top = *heap_.peek();
    scratch_.clear();
    merge_(key_, value_, sources_[top]->value(), scratch_);
    value_.swap(scratch_);
    if (!advance(top)) return false;
  }
  return true;
}

}  // namespace quarn
