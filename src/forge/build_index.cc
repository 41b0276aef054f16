#include "forge/build_index.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "common/check.h"
#include "common/strfmt.h"

namespace quarn {

size_t build_slot_bytes(uint64_t max_refs) {
  // Saturate instead of wrapping: an absurd maximum must fail to map, not map small.
  if (max_refs > (std::numeric_limits<size_t>::max() - 4096) / 5) {
    return std::numeric_limits<size_t>::max() / kTrigramCount;
  }
  return (max_refs * 5 + 4096) / 4096 * 4096;
}

BuildIndex::BuildIndex(uint8_t* base, size_t slot_bytes, uint64_t max_refs)
    : base_(base), slot_bytes_(slot_bytes), max_refs_(max_refs),
      nrefs_(new uint64_t[kTrigramCount]()) {}

std::unique_ptr<BuildIndex> BuildIndex::create(uint64_t max_refs, std::string* error) {
  const size_t slot = build_slot_bytes(max_refs);
  void* base = MAP_FAILED;
  if (slot <= std::numeric_limits<size_t>::max() / kTrigramCount) {
    base = mmap(nullptr, slot * kTrigramCount, PROT_READ | PROT_WRITE,
                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  } else {
    errno = ENOMEM;
  }
  if (base == MAP_FAILED) {
    *error = str_fmt("mmap: %s\n", strerror(errno));
    append_fmt(*error, kBuildIndexHint, static_cast<size_t>(max_refs));
    return nullptr;
  }
  return std::unique_ptr<BuildIndex>(
      new BuildIndex(static_cast<uint8_t*>(base), slot, max_refs));
}

BuildIndex::~BuildIndex() { munmap(base_, slot_bytes_ * kTrigramCount); }

bool BuildIndex::append(uint32_t ordinal, uint64_t ref) {
  QUARN_CHECK(ordinal < kTrigramCount);
  if (nrefs_[ordinal] >= max_refs_) return false;
  uint8_t* p = base_ + ordinal * slot_bytes_ + nrefs_[ordinal] * 5;
  for (int i = 4; i >= 0; --i) {
    p[i] = static_cast<uint8_t>(ref);
    ref >>= 8;
  }
  ++nrefs_[ordinal];
  return true;
}

}  // namespace quarn
