#include "index/tgdb.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/check.h"
#include "common/log.h"
#include "index/index_messages.h"
#include "index/mapping_guard.h"

namespace quarn {

namespace {
std::atomic<uint64_t> g_next_serial{1};

FileIdentity identity_of(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<uint64_t>(st.st_size);
  id.mtime_sec = static_cast<int64_t>(st.st_mtim.tv_sec);
  id.mtime_nsec = static_cast<int64_t>(st.st_mtim.tv_nsec);
  return id;
}

// Closes a descriptor on every return path of the loader.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};
}  // namespace

bool current_file_identity(const std::string& path, FileIdentity& out) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  out = identity_of(st);
  return true;
}

bool Tgdb::file_changed() const {
  FileIdentity now;
  return !current_file_identity(path_, now) || !(now == identity_);
}

bool Tgdb::changed_in_place() const {
  if (pages_lost()) return true;
  FileIdentity now;
  // Gone or renamed over: the mapping still holds the old file's bytes, which nobody
  // can write any more through the old name.
  if (!current_file_identity(path_, now)) return false;
  if (now.device != identity_.device || now.inode != identity_.inode) return false;
  return !(now == identity_);
}

bool Tgdb::pages_lost() const { return mapping_guard_faulted(guard_slot_); }

Tgdb::~Tgdb() {
  mapping_guard_remove(guard_slot_);
  if (base_ != nullptr) munmap(const_cast<uint8_t*>(base_), length_);
}

TrigramEntry Tgdb::raw_trigram(uint32_t ordinal) const {
  QUARN_CHECK(ordinal < kTrigramCount);
  const uint8_t* p = trigram_table_ + static_cast<uint64_t>(ordinal) * kTrigramEntrySize;
  return TrigramEntry{load_le64(p), load_le64(p + 8)};
}

bool Tgdb::list_inside(const TrigramEntry& e) const {
  return e.nrefs <= length_ / kRefSize && e.offset <= length_ &&
         e.nrefs * kRefSize <= length_ - e.offset;
}

TrigramEntry Tgdb::trigram(uint32_t ordinal) const {
  const TrigramEntry e = raw_trigram(ordinal);
  // Every entry was inside the file at load; one outside now means the file was written
  // in place since, and its list cannot be read.
  if (e.nrefs != 0 && !list_inside(e)) return TrigramEntry{};
  return e;
}

const uint8_t* Tgdb::list(uint32_t ordinal) const {
  TrigramEntry e = trigram(ordinal);
  return e.nrefs == 0 ? nullptr : base_ + e.offset;
}

uint64_t Tgdb::real_nrefs(uint32_t ordinal) const {
  QUARN_CHECK(ordinal < kTrigramCount);
  return real_nrefs_ == nullptr ? 0 : load_le64(real_nrefs_ + 8ull * ordinal);
}

void tgdb_acquire(Tgdb* t) {
  if (t != nullptr) t->refs_.fetch_add(1, std::memory_order_relaxed);
}

void tgdb_release(Tgdb*& ref) {
  Tgdb* t = ref;
  ref = nullptr;
  if (t == nullptr) return;
  if (t->refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete t;
}

// Builds a Tgdb from a file; every check the rest of the system relies on happens here.
class TgdbLoader {
 public:
  static Tgdb* map(const std::string& path);

 private:
  static bool check_sections(Tgdb* t);
  static bool check_lists(Tgdb* t);
};

bool TgdbLoader::check_sections(Tgdb* t) {
  const TgdbHeader& h = t->header_;
  const uint64_t st_off = string_table_offset(h.header_length);
  // An empty section cannot be mapped, and readers need both sections.
  if (h.string_table_size == 0 || st_off > t->length_ ||
      h.string_table_size > t->length_ - st_off) {
    if (h.string_table_size != 0)
      QLOG(LOG_ERROR, index_msg::kSectionOutside, "string table", st_off, h.string_table_size,
           t->length_);
    QLOG(LOG_ERROR, index_msg::kNoStringTable, t->path_.c_str());
    return false;
  }
  t->string_table_ = reinterpret_cast<const char*>(t->base_ + st_off);
  QLOG(LOG_DEBUG, index_msg::kStringTableLoaded, static_cast<size_t>(h.string_table_size));

  const uint64_t li_off = line_index_offset(h.header_length, h.string_table_size);
  if (h.line_index_size == 0 || li_off > t->length_ || h.line_index_size > t->length_ - li_off) {
    if (h.line_index_size != 0)
      QLOG(LOG_ERROR, index_msg::kSectionOutside, "line index", li_off, h.line_index_size, t->length_);
    QLOG(LOG_ERROR, index_msg::kNoLineIndex, t->path_.c_str());
    return false;
  }
  t->line_index_ = t->base_ + li_off;
  QLOG(LOG_DEBUG, index_msg::kLineIndexLoaded, static_cast<size_t>(h.line_index_size));
  return true;
}

bool TgdbLoader::check_lists(Tgdb* t) {
  // One pass over the trigram table; also the only part of the file that loading touches
  // besides the header and the real nref table.
  for (uint32_t k = 0; k < kTrigramCount; ++k) {
    TrigramEntry e = t->raw_trigram(k);
    if (e.nrefs == 0) continue;
    if (!t->list_inside(e)) {
      char text[4];
      trigram_text(k, text);
      QLOG(LOG_ERROR, index_msg::kListOutside, k, text, e.offset, e.nrefs, t->length_);
      return false;
    }
  }
  return true;
}

Tgdb* TgdbLoader::map(const std::string& path) {
  // Non-blocking: opening a FIFO for reading would otherwise wait for a writer forever.
  FdCloser fd{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (fd.fd < 0) {
    QLOG(LOG_ERROR, index_msg::kOpenFailed, path.c_str(), strerror(errno));
    return nullptr;
  }
  struct stat st;
  if (fstat(fd.fd, &st) != 0) {
    QLOG(LOG_ERROR, index_msg::kFstatFailed, strerror(errno));
    return nullptr;
  }
  // Only a regular file has a stable size to map; a device or FIFO is refused up front.
  if (!S_ISREG(st.st_mode)) {
    QLOG(LOG_ERROR, index_msg::kNotRegular, path.c_str());
    return nullptr;
  }
  const uint64_t length = static_cast<uint64_t>(st.st_size);
  if (length < kMinTgdbSize) {
    QLOG(LOG_ERROR, index_msg::kTooSmall, static_cast<size_t>(kMinTgdbSize));
    return nullptr;
  }
  void* m = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd.fd, 0);
  if (m == MAP_FAILED) {
    QLOG(LOG_ERROR, index_msg::kMmapFailed, strerror(errno));
    return nullptr;
  }
  // From here the Tgdb owns the mapping: deleting it unmaps.
  Tgdb* t = new Tgdb();
  t->path_ = path;
  t->base_ = static_cast<const uint8_t*>(m);
  t->length_ = length;
  t->identity_ = identity_of(st);
  t->guard_slot_ = mapping_guard_add(m, length);
  if (!has_magic(t->base_)) {
    QLOG(LOG_ERROR, index_msg::kBadMagic);
    delete t;
    return nullptr;
  }
  t->header_ = decode_header(t->base_);
  const TgdbHeader& h = t->header_;
  if ((h.flags & kFlagRealRef) != 0 && h.header_length != 0) {
    if (h.header_length < kRealNrefTableSize) {
      QLOG(LOG_ERROR, index_msg::kShortRealNref);
      delete t;
      return nullptr;
    }
    t->real_nrefs_ = t->base_ + kHeaderSize;
  }
  // The header area pushes the trigram table back; both must still fit in the file.
  if (kMinTgdbSize + h.header_length > length) {
    QLOG(LOG_ERROR, index_msg::kHeaderAreaOutside, h.header_length, length);
    delete t;
    return nullptr;
  }
  t->trigram_table_ = t->base_ + kHeaderSize + h.header_length;
  if (!check_sections(t) || !check_lists(t)) {
    delete t;
    return nullptr;
  }
  t->serial_ = g_next_serial.fetch_add(1, std::memory_order_relaxed);
  t->refs_.store(1, std::memory_order_relaxed);
  return t;
}

TgdbRef tgdb_load(std::string_view path) {
  std::string name(path);
  Tgdb* t = TgdbLoader::map(name);
  if (t == nullptr) {
    QLOG(LOG_ERROR, index_msg::kLoadFailed, name.c_str());
    return TgdbRef();
  }
  return TgdbRef::adopt(t);
}

}  // namespace quarn
