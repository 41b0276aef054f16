// The reference space of an in-memory build index: one buffer per trigram, all carved
// from a single anonymous mapping reserved up front, so that appending a reference to
// a trigram's list never reallocates or moves a list.
//
// Each buffer holds up to `max_refs` 5-byte references and is (max_refs x 5 + 4096)
// rounded down to a multiple of 4096 bytes; buffer k starts at k x that size. The whole
// mapping is that size times the 68,921 trigrams, which is why the maximum is a setting:
// when the mapping cannot be made, create() fails with a message that says to lower it.
// The object owns the mapping and unmaps it on destruction. Pages are only touched, and
// so only cost memory, where references are appended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/trigram.h"

namespace quarn {

inline constexpr const char* kBuildIndexHint =
    "Try lowering the maximum nrefs value with gramforge -n (current value = %zu).\n";

// Bytes of one trigram buffer for a maximum reference count.
size_t build_slot_bytes(uint64_t max_refs);

class BuildIndex {
 public:
  // Reserves kTrigramCount buffers. On failure returns null and sets *error to
  // "mmap: <system error>\n" followed by kBuildIndexHint with the maximum.
  static std::unique_ptr<BuildIndex> create(uint64_t max_refs, std::string* error);
  ~BuildIndex();
  BuildIndex(const BuildIndex&) = delete;
  BuildIndex& operator=(const BuildIndex&) = delete;

  uint64_t capacity() const { return max_refs_; }
  uint64_t nrefs(uint32_t ordinal) const { return nrefs_[ordinal]; }
  const uint8_t* data(uint32_t ordinal) const { return base_ + ordinal * slot_bytes_; }
  // Appends one 40-bit reference (big-endian, as in index files) to a trigram's list.
  // false when the list is full.
  bool append(uint32_t ordinal, uint64_t ref);

 private:
  BuildIndex(uint8_t* base, size_t slot_bytes, uint64_t max_refs);

  uint8_t* base_;
  size_t slot_bytes_;
  uint64_t max_refs_;
  std::unique_ptr<uint64_t[]> nrefs_;
};

}  // namespace quarn
