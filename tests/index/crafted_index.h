// Test support: index files with hand-made reference lists.
//
// The project's writer produces a valid file from string-table lines; patch_list then
// appends a list of raw 40-bit entries at the end of that file and points one trigram's
// table entry at it, so that decoders can be driven through every list shape, valid or
// not, while the rest of the file stays loadable. Also a scratch directory that removes
// itself, and a log capture that collects the log lines written while it lives.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/log.h"
#include "index/format.h"
#include "index/index_writer.h"
#include "support/log_capture.h"
#include "support/scratch_dir.h"

namespace quarn::testing {


// Writes an index of the given lines (index order) with the project's writer.
inline void write_index(const std::string& path, const std::string& text,
                        const IndexWriterOptions& options = {}) {
  std::string error;
  ASSERT_TRUE(write_index_from_text(path, text, options, &error)) << error;
}

// Appends `entries` as a list at the end of the file and points trigram `ordinal` at it.
inline void patch_list(const std::string& path, uint32_t ordinal,
                       const std::vector<uint64_t>& entries) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(f.good());
  uint8_t header[kHeaderSize];
  f.read(reinterpret_cast<char*>(header), kHeaderSize);
  const uint32_t header_length = load_le32(header + 12);
  f.seekp(0, std::ios::end);
  const uint64_t offset = static_cast<uint64_t>(f.tellp());
  for (uint64_t e : entries) {
    uint8_t b[5];
    ref_write(b, e);
    f.write(reinterpret_cast<const char*>(b), 5);
  }
  uint8_t slot[16];
  store_le64(slot, entries.size());
  store_le64(slot + 8, offset);
  f.seekp(static_cast<std::streamoff>(kHeaderSize + header_length + 16ull * ordinal));
  f.write(reinterpret_cast<const char*>(slot), 16);
  ASSERT_TRUE(f.good());
}


}  // namespace quarn::testing
