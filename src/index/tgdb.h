// A loaded trigram index file (Tgdb), shared by reference counting.
//
// Order of use: tgdb_load(path) maps the file read-only, checks it (size, magic, real
// nref table, sections, and that every trigram list lies inside the file) and returns a
// TgdbRef holding the first reference, or an empty TgdbRef after logging why at level
// "error". Every holder that must keep the index alive copies the TgdbRef (or calls
// tgdb_acquire on the raw pointer and later tgdb_release); the last release unmaps it.
// Nothing in a loaded index changes after loading, so any number of threads may read it;
// only the count is shared mutable state and it is atomic.
//
// Invariants after a successful load (callers may rely on them without re-checking):
//   - the string table and line index are non-empty and lie inside the file;
//   - for every ordinal, list(ordinal) points at nrefs * 5 readable bytes inside the file
//     (nullptr when nrefs is 0).
// The contents of lists, lines and line-index entries are NOT validated: decoders must
// still treat them as untrusted (see format.h and line_lookup.h).
//
// The mapping assumes the file is never written in place: index files are replaced by
// renaming a new file over the old name. The file's identity at load (identity()) lets a
// holder notice, before using the index again, that the name now stands for other bytes
// (file_changed()) and load it afresh. A file changed while a search reads it cannot
// take the process down: trigram table entries are checked again at every use, every
// other section is read through bounds-checked decoders, and a truncation under the
// mapping turns the lost pages into zeros (index/mapping_guard.h) and sets pages_lost().
// What a search read from such a file cannot be trusted: the search asks
// changed_in_place() when it ends, and fails when it says true.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "index/format.h"

namespace quarn {

// What tells one version of a file from another: a rename-replacement changes the inode
// (and usually the device stays), an in-place rewrite the size or the modification time
// (kept to the nanosecond, so two writes within one second still differ).
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t mtime_sec = 0;
  int64_t mtime_nsec = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at path now; false when it cannot be stat'ed.
bool current_file_identity(const std::string& path, FileIdentity& out);

// One trigram table entry.
struct TrigramEntry {
  uint64_t nrefs = 0;   // number of 5-byte references; 0 = trigram occurs in no line
  uint64_t offset = 0;  // absolute file offset of the list (meaningless when nrefs is 0)
};

class Tgdb {
 public:
  Tgdb(const Tgdb&) = delete;
  Tgdb& operator=(const Tgdb&) = delete;

  const std::string& path() const { return path_; }
  const TgdbHeader& header() const { return header_; }
  uint32_t flags() const { return header_.flags; }
  bool is_rdata() const { return (header_.flags & kFlagRdata) != 0; }
  bool has_timefence() const { return (header_.flags & kFlagTimefence) != 0; }
  uint32_t earliest_seen() const { return header_.earliest_seen; }
  uint32_t latest_seen() const { return header_.latest_seen; }
  // Always kTrigramCount.
  uint32_t slot_count() const { return kTrigramCount; }

  // The whole mapped file.
  const uint8_t* base() const { return base_; }
  uint64_t file_size() const { return length_; }
  const uint8_t* limit() const { return base_ + length_; }

  // Trigram table entry of an ordinal (< kTrigramCount, checked). An entry whose list no
  // longer lies inside the file (written in place since loading) reads as no references.
  TrigramEntry trigram(uint32_t ordinal) const;
  uint64_t nrefs(uint32_t ordinal) const { return trigram(ordinal).nrefs; }
  // First byte of the ordinal's list, or nullptr when it has no references. The list's
  // nrefs * 5 bytes lie inside the mapping.
  const uint8_t* list(uint32_t ordinal) const;
  // The ordinal's count from the real nref table, 0 when the file has none.
  uint64_t real_nrefs(uint32_t ordinal) const;
  bool has_real_nref_table() const { return real_nrefs_ != nullptr; }

  const char* string_table() const { return string_table_; }
  uint64_t string_table_size() const { return header_.string_table_size; }
  const uint8_t* line_index() const { return line_index_; }
  uint64_t line_index_size() const { return header_.line_index_size; }

  // The file's identity when it was mapped.
  const FileIdentity& identity() const { return identity_; }
  // True when the file now at path() is not the one mapped (replaced, rewritten, or gone).
  // One stat: cheap enough to run for every file before every search.
  bool file_changed() const;
  // True when the mapped bytes may differ from those loaded: part of the mapping was lost
  // to a truncation, or the file still at path() is this one with another size or
  // modification time. A file renamed over, or removed, leaves the mapping intact.
  bool changed_in_place() const;
  // True once a truncation under the mapping turned some of its pages into zeros.
  bool pages_lost() const;

  // Process-unique number of this load: identifies the index in per-thread caches even
  // when a later load reuses the same address.
  uint64_t serial() const { return serial_; }
  // Current number of references (for tests and diagnostics).
  uint32_t ref_count() const { return refs_.load(std::memory_order_relaxed); }

 private:
  friend class TgdbLoader;
  friend void tgdb_acquire(Tgdb* t);
  friend void tgdb_release(Tgdb*& ref);
  Tgdb() = default;
  ~Tgdb();
  TrigramEntry raw_trigram(uint32_t ordinal) const;
  bool list_inside(const TrigramEntry& e) const;

  std::string path_;
  TgdbHeader header_;
  const uint8_t* base_ = nullptr;
  uint64_t length_ = 0;
  const uint8_t* trigram_table_ = nullptr;
  const uint8_t* real_nrefs_ = nullptr;
  const char* string_table_ = nullptr;
  const uint8_t* line_index_ = nullptr;
  FileIdentity identity_;
  uint64_t serial_ = 0;
  int guard_slot_ = -1;  // mapping_guard slot, -1 when unguarded
  std::atomic<uint32_t> refs_{0};
};

// Adds one reference. t must be a live index; nullptr is ignored.
void tgdb_acquire(Tgdb* t);
// Drops the reference held in ref and clears ref; the last reference frees the index.
// An empty reference is accepted and left empty.
void tgdb_release(Tgdb*& ref);

// An owning reference: copying acquires, destruction releases. Empty after a failed load.
class TgdbRef {
 public:
  TgdbRef() = default;
  // Adopts a reference the caller already holds (does not acquire).
  static TgdbRef adopt(Tgdb* t) {
    TgdbRef r;
    r.t_ = t;
    return r;
  }
  // Takes a new reference on t.
  static TgdbRef share(Tgdb* t) {
    tgdb_acquire(t);
    return adopt(t);
  }
  TgdbRef(const TgdbRef& o) : t_(o.t_) { tgdb_acquire(t_); }
  TgdbRef(TgdbRef&& o) noexcept : t_(o.t_) { o.t_ = nullptr; }
  TgdbRef& operator=(const TgdbRef& o) {
    if (this != &o) {
      tgdb_acquire(o.t_);
      tgdb_release(t_);
      t_ = o.t_;
    }
    return *this;
  }
  TgdbRef& operator=(TgdbRef&& o) noexcept {
    if (this != &o) {
      tgdb_release(t_);
      t_ = o.t_;
      o.t_ = nullptr;
    }
    return *this;
  }
  ~TgdbRef() { tgdb_release(t_); }

  Tgdb* get() const { return t_; }
  Tgdb* operator->() const { return t_; }
  Tgdb& operator*() const { return *t_; }
  explicit operator bool() const { return t_ != nullptr; }
  void reset() { tgdb_release(t_); }
  // Gives up ownership without releasing; the caller now holds the reference.
  Tgdb* release_ownership() {
    Tgdb* t = t_;
    t_ = nullptr;
    return t;
  }

 private:
  Tgdb* t_ = nullptr;
};

// Maps and checks an index file. On failure logs the reason and then
// "Error: could not deserialize trigram index from file: %s" at level "error" and
// returns an empty reference; nothing stays mapped or allocated.
TgdbRef tgdb_load(std::string_view path);

}  // namespace quarn
