// Test support for the index tests: scratch directories, files written by the project's
// writer, hand-patched lists and headers, a log capture, and an independent decoder that
// turns a reference list back into its line numbers.
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

namespace quarn::index_test {

using TempDir = quarn::testing::ScratchDir;

inline std::string write_index(const TempDir& dir, const std::string& text,
                               const IndexWriterOptions& options = {},
                               const std::string& name = "t.idx") {
  std::string path = dir.file(name);
  std::string error;
  EXPECT_TRUE(write_index_from_text(path, text, options, &error)) << error;
  return path;
}

inline std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  std::vector<uint8_t> b(static_cast<size_t>(f.tellg()));
  f.seekg(0);
  f.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return b;
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Appends raw entries at the end of the file and points `ordinal` at them.
inline void patch_list(const std::string& path, uint32_t ordinal, const std::vector<uint64_t>& entries) {
  std::vector<uint8_t> b = read_file(path);
  const uint32_t header_length = load_le32(b.data() + 12);
  const uint64_t offset = b.size();
  for (uint64_t e : entries) {
    uint8_t r[5];
    ref_write(r, e);
    b.insert(b.end(), r, r + 5);
  }
  uint8_t* slot = b.data() + kHeaderSize + header_length + kTrigramEntrySize * ordinal;
  store_le64(slot, entries.size());
  store_le64(slot + 8, offset);
  write_file(path, b);
}

// Sets one trigram entry to arbitrary values.
inline void patch_entry(const std::string& path, uint32_t ordinal, uint64_t nrefs, uint64_t offset) {
  std::vector<uint8_t> b = read_file(path);
  uint8_t* slot = b.data() + kHeaderSize + load_le32(b.data() + 12) + kTrigramEntrySize * ordinal;
  store_le64(slot, nrefs);
  store_le64(slot + 8, offset);
  write_file(path, b);
}

// Decodes a valid list into its lines; false on any structural fault.
inline bool decode_list(const uint8_t* list, uint64_t n, std::vector<uint64_t>* lines) {
  lines->clear();
  for (uint64_t j = 0; j < n; ++j) {
    const uint64_t e = ref_at(list, j);
    if (ref_is_start(e)) {
      if (j + 1 >= n || !ref_is_end(ref_at(list, j + 1))) return false;
      const uint64_t end = ref_value(ref_at(list, j + 1));
      for (uint64_t x = ref_value(e); x <= end; ++x) lines->push_back(x);
      ++j;
    } else if (ref_is_end(e)) {
      return false;
    } else if (ref_is_other(e)) {
      if (j == 0) return false;
      const uint64_t prev = ref_at(list, j - 1);
      if (ref_is_start(prev) || ref_is_other(prev)) return false;
      RefOffsets d = decode_offsets(e);
      if (d.count == 0) return false;
      uint64_t base = ref_value(prev);
      for (int s = 0; s < 4; ++s) {
        if ((d.mask >> s) & 1) {
          base += d.slot[s];
          lines->push_back(base);
        }
      }
    } else {
      lines->push_back(ref_value(e));
    }
  }
  for (size_t i = 1; i < lines->size(); ++i)
    if ((*lines)[i] <= (*lines)[i - 1]) return false;
  return true;
}

using LogCapture = quarn::testing::LogCapture;

}  // namespace quarn::index_test
