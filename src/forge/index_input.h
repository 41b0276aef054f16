// An existing index file as an input of a build: its lines, in key order, as a sorted
// source of builder entries, so that index files merge with each other and with
// observations by the rules observations merge by.
//
// Order of use: IndexInput::open(path, window) maps and checks the file (tgdb.h), then
// the builder hands the object to its k-way merge (it is a SortabSource) and reads the
// time fence and counters once the source is exhausted.
//
// Each string-table line becomes the entries an equal raw index line would give
// (input_record.h): an owner-name line one entry per record type, keyed by the tagged
// owner-name key, an rdata line one entry keyed by its raw rdata and type; the values
// are count values (merge_ops.h). Lines are read straight from the mapping, one at a
// time, into reused buffers: nothing is allocated per line once the buffers have grown,
// and the pages already read are given back so that a large input does not fill the
// resident size (the memory budget does not count mapped inputs).
// Aggregates outside the retention window (retention.h) are skipped; an owner name
// left with none yields no entry.
//
// The entry keys must come out strictly ascending, as the merge requires: a line that
// does not parse, a time the index format cannot hold, keys out of order or repeated,
// or a last line without its line feed make the source fail with
// kIndexInputErrDamaged naming the file and the line, which fails the build. A file
// that does not load fails open() with kIndexInputErrLoad.
//
// Ownership: the object holds its own reference to the mapped file (TgdbRef).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "forge/key_codec.h"
#include "forge/retention.h"
#include "forge/sortab.h"
#include "index/tgdb.h"
#include "retrieval/result_entry.h"

namespace quarn {

inline constexpr const char* kIndexInputErrLoad = "input %s is not a readable index file";
inline constexpr const char* kIndexInputErrDamaged = "input index %s is damaged at line %llu: %s";
inline constexpr const char* kIndexInputBadLine = "the line does not parse";
inline constexpr const char* kIndexInputBadTime = "a time is zero, over 32 bits or out of order";
inline constexpr const char* kIndexInputOrder = "keys out of order or repeated";
inline constexpr const char* kIndexInputNoNewline = "the last line has no line feed";

// True when path is a regular file that starts with the index file magic (false for
// pipes and devices, which are read as observations, and for files that cannot be
// read).
bool has_index_magic(const std::string& path);

// Most string-table bytes an input keeps resident: pages read are given back in steps
// of this size, often enough to keep the resident size small, rarely enough that the
// system calls cost nothing (a few hundred for a file of 100 MB). Builds that budget
// memory count it per index input.
constexpr uint64_t kIndexInputResident = uint64_t{256} << 10;

class IndexInput final : public SortabSource {
 public:
  static std::unique_ptr<IndexInput> open(const std::string& path,
                                          const RetentionWindow& window, std::string* error);
  IndexInput(const IndexInput&) = delete;
  IndexInput& operator=(const IndexInput&) = delete;

  bool is_rdata() const { return tgdb_->is_rdata(); }
  // The first key byte of owner-name entries (kNameKeyTag unless set): a build that
  // derives its owner-name lines from the record-store stream has them sort among the
  // store's entries as name-only entries. Set before the first next().
  void set_name_tag(char tag) { name_tag_ = tag; }
  const std::string& path() const { return path_; }
  // The file as it was opened (a --replace drops the set-file line naming it).
  const FileIdentity& identity() const { return tgdb_->identity(); }
  uint64_t file_bytes() const { return tgdb_->file_size(); }

  bool next() override;
  std::string_view key() const override { return key_; }
  std::string_view value() const override { return value_; }
  bool failed() const override { return !error_.empty(); }
  const std::string& error() const override { return error_; }

  // After exhaustion: lines read and entries delivered.
  uint64_t lines() const { return lines_; }
  uint64_t entries() const { return entries_; }
  // Aggregates left out as outside the retention window.
  uint64_t dropped() const { return dropped_; }
  // After exhaustion: the earliest first and latest last time of what this input
  // contributes. Without a retention window that is the file's own fence when it has
  // one (which also covers records its build left out, as a build from the original
  // observations would); otherwise that of the delivered entries. false when the input
  // contributes nothing.
  bool fence(uint32_t* earliest, uint32_t* latest) const;

 private:
  IndexInput(std::string path, TgdbRef tgdb, const RetentionWindow& window);
  // Reads lines until one yields entries; false at the end or on damage.
  bool read_line();
  bool parse_name_line(std::string_view key, std::string_view annotation);
  bool parse_rdata_line(std::string_view annotation);
  bool emit_name_entry();
  bool accept_key();
  bool fail(const char* reason);
  void release_read_pages();

  std::string path_;
  TgdbRef tgdb_;
  RetentionWindow window_;
  const char* table_;
  uint64_t table_size_;
  uint64_t pos_ = 0;       // next unread byte of the string table
  uint64_t released_ = 0;  // string-table bytes whose pages were given back
  uint64_t lines_ = 0;
  uint64_t entries_ = 0;
  uint64_t dropped_ = 0;
  uint32_t earliest_ = UINT32_MAX;  // fence of the delivered entries
  uint32_t latest_ = 0;
  std::string name_;                     // normalised owner name of the current line
  std::vector<rrtype_summary> summaries_;  // its record types
  size_t next_summary_ = 0;
  std::vector<uint8_t> raw_;
  std::string key_, prev_key_, value_, error_;
  char name_tag_ = kNameKeyTag;
};

}  // namespace quarn
