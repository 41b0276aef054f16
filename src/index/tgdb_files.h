// File-level helpers around loaded indexes for building processes: the string table of
// an existing index (or of a plain text file), and names for per-trigram temporary files.
//
// load_string_table maps what it returns; the MappedText owner unmaps it. temp_file_name
// fixes its directory (TMPDIR, at most 1,023 characters, else "/tmp") on first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarn {

// A read-only mapping of text, unmapped on destruction. Move-only.
class MappedText {
 public:
  MappedText() = default;
  MappedText(const char* data, size_t size, void* map, size_t map_size)
      : data_(data), size_(size), map_(map), map_size_(map_size) {}
  MappedText(MappedText&& o) noexcept { *this = std::move(o); }
  MappedText& operator=(MappedText&& o) noexcept;
  MappedText(const MappedText&) = delete;
  MappedText& operator=(const MappedText&) = delete;
  ~MappedText();

  const char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  const char* data_ = nullptr;
  size_t size_ = 0;
  void* map_ = nullptr;
  size_t map_size_ = 0;
};

// The string table of an index file (when the file starts with the magic and loads), or
// else the whole file as plain text. 0 on success (an empty plain file gives no data and
// size 0); -1 after printing the failing call with the system error to standard error.
int load_string_table(const char* path, MappedText* out);

// Writes "<dir>/tgdb-<pid>-<build sequence 0>-<k>" into *out. Creates the directory
// (mode 0700) when missing. Without existing_allowed, a name that already exists (or
// cannot be examined) prints "Error acquiring tmpfile %s: %s\n" and fails. false on
// failure.
bool temp_file_name(int k, std::string* out, bool existing_allowed);

}  // namespace quarn
