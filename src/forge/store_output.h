// The record-store output of a build (-R): every distinct (owner name, record type,
// rdata value) of the JSON observations, merged, written as one record store file.
//
// Each rdata element of an accepted JSON line becomes one sorted-table entry, tagged
// kStoreTag so that store entries follow the index entries in the build's merged stream.
// The key is the owner-name key of key_codec.h followed by the rdata key of the value:
// both encodings delimit themselves and order bytewise as the store orders (name, then
// type, then value), so the merged stream arrives in exactly the order StoreWriter
// takes. The entry value is five varints followed by the bailiwick's bytes: first seen
// (varint32), last seen (varint32), count, the input records merged into the entry and
// the owner-name count it carries (varint64 each). merge_store_values folds two entries
// as the indexes fold theirs (counts add, earliest first, latest last) and keeps the
// first bailiwick seen (the first value's, else the second's), so input order decides
// which one stays. An entry too long for the sorted tables (only counts near 2^64 with a
// bailiwick of over 200 bytes come near) leaves its bailiwick out.
//
// A build that writes the store and an index derives the index from the store entries
// rather than sorting entries of its own (build.cc): the owner-name count is the count
// of the observation lines whose first record the entry is (each line's owner name is
// counted once, however many values it holds), and the input records are what the
// rdata index's summary counts. Lines without (name, value) pairs give name-only
// entries: the tag and an owner-name key alone, valued as count values (merge_counts),
// which sort just before the store entries of their name and type.
//
// Raw index lines carry no (name, value) pairs and add nothing to the store.
//
// Use: StoreOutput::add() for every store entry of the merged stream in order, then
// finish(); the complete file waits under staged() (registered with the TempFiles
// object, so it is removed on failure or interruption) for the build to publish it.
// Memory: StoreWriter keeps the records in memory until finish() lays out the rdata
// order (store_writer.h); the budget given to the first add() bounds it, and a store
// that would pass it fails the build with the writer's kOverBudget text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "forge/merge_ops.h"

namespace quarn {

class StoreFeed;
class StoreWriter;
class TempFiles;
struct ValueFold;

// First byte of store entries in the build's sorted tables (after 'D' and 'N').
inline constexpr char kStoreTag = 'S';

// Longest bailiwick an entry carries: entry values are at most 255 bytes and the count
// value takes up to 20. A longer one (no real zone name is) is dropped.
inline constexpr size_t kMaxEntryBailiwick = 230;

inline constexpr const char* kStoreErrEntry = "internal error: undecodable record-store entry";
inline constexpr const char* kStoreErrEmpty = "no records for the record store %s";

// Appends the key of one store entry (without the tag); false when the name cannot be
// encoded (encode_name_key).
bool encode_store_key(std::string_view name, uint16_t rrtype, std::string_view raw,
                      std::string& out);
// True when the key (without its tag) is a name-only entry's: an owner-name key alone.
bool is_name_only_key(std::string_view key);
// v.observations is the number of input records; name_count the owner-name count.
void encode_store_value(const CountValue& v, uint64_t name_count, std::string_view bailiwick,
                        std::string& out);
// Splits an entry; false for anything encode_store_* could not have produced.
bool decode_store_value(std::string_view value, CountValue* v, uint64_t* name_count,
                        std::string_view* bailiwick);
// The SortabMergeFunc of store entries (name-only entries merge with merge_counts).
void merge_store_values(std::string_view key, std::string_view a, std::string_view b,
                        std::string& out);

class StoreOutput {
 public:
  // The writer sorts on up to `threads` threads and, with more than one, takes its
  // records on a thread of its own (store_feed.h); with fold_values it adds up each
  // value's records for finish()'s visitor (store_writer.h).
  StoreOutput(std::string path, TempFiles& temps, size_t threads = 1, bool fold_values = false);
  ~StoreOutput();
  StoreOutput(const StoreOutput&) = delete;
  StoreOutput& operator=(const StoreOutput&) = delete;

  bool wanted() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  const std::string& staged() const { return staged_; }
  bool complete() const { return complete_; }
  uint64_t records() const { return records_; }

  // One merged entry (key without its tag). The first call creates the staged file with
  // the given memory budget. false with *error on a bad entry or a writer failure (on
  // the feeding thread, reported by a later call or by flush()).
  bool add(std::string_view key, std::string_view value, uint64_t budget, std::string* error);
  // Completes the staged file, then hands each distinct value with its fold to visit (in
  // value order) when folding; true without doing anything when no entry came (the
  // build then reports the empty store).
  bool finish(std::string* error,
              const std::function<bool(uint16_t, std::string_view, const ValueFold&,
                                       std::string*)>& visit = {});
  // Waits until every entry given is in the writer; false with the writer's error.
  bool flush(std::string* error);
  // Bytes the writer holds (0 before the first entry and after finish()); only while no
  // entry is on its way (after flush()).
  uint64_t memory_bytes() const;

 private:
  bool open(uint64_t budget, std::string* error);
  bool start(uint64_t budget, std::string* error);
  // Decodes an entry and adds its record (on the feeding thread when there is one).
  bool add_now(std::string_view key, std::string_view value, std::string* error);

  std::string path_;
  TempFiles& temps_;
  size_t threads_;
  bool fold_values_;
  std::string staged_;
  std::unique_ptr<StoreWriter> writer_;
  std::unique_ptr<StoreFeed> feed_;  // declared after writer_: it stops first
  bool complete_ = false;
  uint64_t records_ = 0;
  std::string name_, raw_;  // decoding buffers of add_now, reused
};

}  // namespace quarn
