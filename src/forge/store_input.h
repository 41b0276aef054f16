// An existing record store as an input of a build: its records, in the store's name
// order, as a sorted source of record-store entries, so that stores merge with each
// other and with observations into the build's store output (-R) by the rules
// observations merge by (counts add, earliest first, latest last, first bailiwick kept).
//
// Order of use: StoreInput::open(path, window) maps the file and checks its header, then
// the builder hands the object to its k-way merge (it is a SortabSource).
//
// Each record becomes one entry keyed as store_output.h keys them (kStoreTag, owner-name
// key, rdata key), whose byte order is the store's name order, so the entries come out
// ascending with no sorting. Records are decoded one at a time by a NameCursor into
// reused buffers: nothing is allocated per record once the buffers have grown.
// Records outside the retention window (retention.h) are skipped.
//
// A block that does not check out, a time the build cannot hold (zero, over 32 bits,
// first after last), a name the key cannot encode, or keys out of order or repeated
// make the source fail with kStoreInputErrDamaged naming the file, which fails the
// build. A file that is not a readable store fails open() with the store reader's text
// (store_messages.h), or kStoreInputErrLoad when it cannot be examined at all.
//
// Ownership: the object owns its RecordStore; the cursor borrows it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "forge/retention.h"
#include "forge/sortab.h"
#include "index/tgdb.h"

namespace quarn {

class NameCursor;
class RecordStore;

inline constexpr const char* kStoreInputErrLoad = "input %s is not a readable record store: %s";
inline constexpr const char* kStoreInputErrDamaged = "input store %s is damaged at record %llu: %s";
inline constexpr const char* kStoreInputBadTime = "a time is zero, over 32 bits or out of order";
inline constexpr const char* kStoreInputBadName = "the owner name cannot be keyed";
inline constexpr const char* kStoreInputOrder = "records out of order or repeated";

// True when path is a regular file that starts with the record-store magic.
bool has_store_magic(const std::string& path);

class StoreInput final : public SortabSource {
 public:
  static std::unique_ptr<StoreInput> open(const std::string& path,
                                          const RetentionWindow& window, std::string* error);
  ~StoreInput() override;
  StoreInput(const StoreInput&) = delete;
  StoreInput& operator=(const StoreInput&) = delete;

  const std::string& path() const { return path_; }
  // The file as it was opened (a --replace drops the set-file line naming it).
  const FileIdentity& identity() const { return identity_; }
  uint64_t file_bytes() const { return identity_.size; }

  bool next() override;
  std::string_view key() const override { return key_; }
  std::string_view value() const override { return value_; }
  bool failed() const override { return !error_.empty(); }
  const std::string& error() const override { return error_; }

  // After exhaustion: records read and records left out by the retention window.
  uint64_t records() const { return records_; }
  uint64_t dropped() const { return dropped_; }

 private:
  StoreInput(std::string path, const RetentionWindow& window);
  bool fail(const char* reason);
  // Builds the entry of the cursor's record; false (having failed) when it is bad.
  bool encode_current(bool* keep);

  std::string path_;
  RetentionWindow window_;
  FileIdentity identity_;
  std::unique_ptr<RecordStore> store_;
  std::unique_ptr<NameCursor> cursor_;
  bool started_ = false;
  std::string key_, value_, prev_key_;
  std::string error_;
  uint64_t records_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace quarn
