// Mapping and checking a record store; block access for the cursors.
#include "store/store_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/strfmt.h"
#include "index/mapping_guard.h"
#include "store/store_codec.h"
#include "store/store_messages.h"

namespace quarn {
namespace {

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

StoreHeader decode_header(const uint8_t* p) {
  StoreHeader h;
  h.earliest = static_cast<int64_t>(get_u64(p + 16));
  h.latest = static_cast<int64_t>(get_u64(p + 24));
  h.record_count = get_u64(p + 32);
  h.value_count = get_u64(p + 40);
  h.name_block_count = get_u64(p + 48);
  h.names_offset = get_u64(p + 56);
  h.names_length = get_u64(p + 64);
  h.name_index_offset = get_u64(p + 72);
  h.values_offset = get_u64(p + 80);
  h.values_length = get_u64(p + 88);
  h.value_index_offset = get_u64(p + 96);
  h.refs_offset = get_u64(p + 104);
  h.file_length = get_u64(p + 112);
  return h;
}

// [offset, offset + count * width) lies inside [0, length), without overflow.
bool inside(uint64_t offset, uint64_t count, uint64_t width, uint64_t length) {
  if (offset > length) return false;
  if (width != 0 && count > (length - offset) / width) return false;
  return true;
}

}  // namespace

std::unique_ptr<RecordStore> RecordStore::open(const std::string& path, std::string* error) {
  // Non-blocking: opening a FIFO for reading would otherwise wait for a writer forever.
  FdCloser fd{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (fd.fd < 0) {
    *error = str_fmt(store_msg::kOpenFailed, path.c_str(), strerror(errno));
    return nullptr;
  }
  struct stat st;
  if (fstat(fd.fd, &st) != 0) {
    *error = str_fmt(store_msg::kOpenFailed, path.c_str(), strerror(errno));
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = str_fmt(store_msg::kNotRegular, path.c_str());
    return nullptr;
  }
  const uint64_t length = static_cast<uint64_t>(st.st_size);
  if (length < kStoreHeaderSize) {
    *error = str_fmt(store_msg::kTooSmall, path.c_str());
    return nullptr;
  }
  void* m = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd.fd, 0);
  if (m == MAP_FAILED) {
    *error = str_fmt(store_msg::kMmapFailed, path.c_str(), strerror(errno));
    return nullptr;
  }
  std::unique_ptr<RecordStore> s(new RecordStore());
  s->path_ = path;
  s->base_ = static_cast<const uint8_t*>(m);
  s->length_ = length;
  s->guard_slot_ = mapping_guard_add(m, length);
  if (!s->check_layout(error)) return nullptr;
  return s;
}

RecordStore::~RecordStore() {
  mapping_guard_remove(guard_slot_);
  if (base_ != nullptr) munmap(const_cast<uint8_t*>(base_), length_);
}

bool RecordStore::pages_lost() const { return mapping_guard_faulted(guard_slot_); }

bool RecordStore::check_layout(std::string* error) {
  const char* p = path_.c_str();
  if (std::memcmp(base_, kStoreMagic, sizeof kStoreMagic) != 0) {
    *error = str_fmt(store_msg::kBadMagic, p);
    return false;
  }
  const uint32_t version = get_u32(base_ + 8);
  if (version != kStoreVersion) {
    *error = str_fmt(store_msg::kBadVersion, p, version);
    return false;
  }
  uint8_t copy[kStoreHeaderSize];
  std::memcpy(copy, base_, kStoreHeaderSize);
  std::memset(copy + 12, 0, 4);
  if (store_crc(copy, kStoreHeaderSize) != get_u32(base_ + 12)) {
    *error = str_fmt(store_msg::kBadHeader, p);
    return false;
  }
  header_ = decode_header(base_);
  const StoreHeader& h = header_;
  const uint64_t n = length_;
  const bool ok = h.file_length == n && inside(h.names_offset, h.names_length, 1, n) &&
                  inside(h.name_index_offset, h.name_block_count, kNameIndexEntry, n) &&
                  inside(h.values_offset, h.values_length, 1, n) &&
                  inside(h.value_index_offset, value_block_count(), kValueIndexEntry, n) &&
                  inside(h.refs_offset, h.record_count, 1, n) &&
                  (h.record_count == 0) == (h.name_block_count == 0) &&
                  h.value_count <= h.record_count;
  if (!ok) {
    *error = str_fmt(store_msg::kBadLayout, p);
    return false;
  }
  names_ok_.resize(h.name_block_count);
  values_ok_.resize(value_block_count());
  refs_ok_.resize(value_block_count());
  return true;
}

void RecordStore::VerifiedSet::resize(uint64_t blocks) {
  const uint64_t words = blocks / 64 + 1;
  words_.reset(new std::atomic<uint64_t>[words]);
  for (uint64_t i = 0; i < words; ++i) words_[i].store(0, std::memory_order_relaxed);
}

bool RecordStore::crc_matches(VerifiedSet& set, uint64_t b, const uint8_t* p, uint64_t n,
                              uint32_t crc) const {
  if (pages_lost()) return false;
  if (set.contains(b)) return true;
  if (store_crc(p, n) != crc) return false;
  set.insert(b);
  return true;
}

std::string RecordStore::error_text(const char* format, uint64_t block) const {
  return str_fmt(format, path_.c_str(), static_cast<unsigned long long>(block));
}

uint64_t RecordStore::name_block_first_ordinal(uint64_t b) const {
  if (b >= header_.name_block_count) return UINT64_MAX;
  return get_u64(base_ + header_.name_index_offset + b * kNameIndexEntry + 8);
}

BlockSpan RecordStore::name_block_hint(uint64_t b) const {
  const StoreHeader& h = header_;
  BlockSpan out;
  if (b >= h.name_block_count) return out;
  const uint8_t* entry = name_entry_address(b);
  const uint64_t start = get_u64(entry);
  const uint64_t end = b + 1 < h.name_block_count ? get_u64(entry + kNameIndexEntry)
                                                  : h.names_length;
  if (start >= end || end > h.names_length) return out;
  out.begin = base_ + h.names_offset + start;
  out.end = base_ + h.names_offset + end;
  return out;
}

BlockSpan RecordStore::value_block_hint(uint64_t b) const {
  const StoreHeader& h = header_;
  const uint64_t count = value_block_count();
  BlockSpan out;
  if (b >= count) return out;
  const uint8_t* entry = value_entry_address(b);
  const uint64_t start = get_u64(entry);
  const uint64_t end = b + 1 < count ? get_u64(entry + kValueIndexEntry) : h.values_length;
  if (start >= end || end > h.values_length) return out;
  out.begin = base_ + h.values_offset + start;
  out.end = base_ + h.values_offset + end;
  return out;
}

bool RecordStore::name_block(uint64_t b, BlockSpan* out, std::string* error) const {
  const BlockSpan span = name_block_hint(b);
  const uint8_t* entry = span.begin == nullptr ? nullptr : name_entry_address(b);
  if (entry == nullptr ||
      !crc_matches(names_ok_, b, span.begin, static_cast<uint64_t>(span.end - span.begin),
                   get_u32(entry + 16))) {
    *error = error_text(store_msg::kDamagedNames, b);
    return false;
  }
  *out = span;
  out->first_ordinal = get_u64(entry + 8);
  out->record_count = get_u32(entry + 20);
  return true;
}

bool RecordStore::value_block(uint64_t b, BlockSpan* out, std::string* error) const {
  const BlockSpan span = value_block_hint(b);
  if (span.begin == nullptr ||
      !crc_matches(values_ok_, b, span.begin, static_cast<uint64_t>(span.end - span.begin),
                   get_u32(value_entry_address(b) + 8))) {
    *error = error_text(store_msg::kDamagedValues, b);
    return false;
  }
  *out = span;
  return true;
}

bool RecordStore::refs_of_block(uint64_t b, uint64_t offset, uint64_t length,
                                const uint8_t** out, std::string* error) const {
  const StoreHeader& h = header_;
  if (b >= value_block_count()) {
    *error = error_text(store_msg::kDamagedRefs, b);
    return false;
  }
  const uint8_t* entry = base_ + h.value_index_offset + b * kValueIndexEntry;
  const uint64_t section = h.file_length - h.refs_offset;
  if (offset > section || length > section - offset ||
      !crc_matches(refs_ok_, b, base_ + h.refs_offset + offset, length, get_u32(entry + 12))) {
    *error = error_text(store_msg::kDamagedRefs, b);
    return false;
  }
  *out = base_ + h.refs_offset + offset;
  return true;
}

}  // namespace quarn
