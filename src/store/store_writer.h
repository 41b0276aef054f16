// Writes one record store file (format: store_reader.h).
//
// Use: create() on a temporary path, add() every record in the store's name order
// (owner name in name_order, then type, then value in value_order; each (name, type,
// value) once, already merged), finish(), then publish the file by renaming it. A writer
// destroyed before a successful finish() removes its file.
//
// The rdata order is built here rather than taken as a second sorted stream: while the
// records arrive the writer keeps their encoded form (about 10 bytes a record plus each
// new name), 8 bytes a record for the value it names and its reference, and each
// distinct value once in a ValueTable (its bytes, 12 bytes of entry and 32 or fewer of
// hash slots, in arena chunks of up to 4 MiB). Values wait in a small buffer until a
// batch of them is interned together. finish() sorts the distinct values (24 bytes of
// layout each), lays out the value order and writes the file. The budget counts all of
// that, finish()'s layout included. When that would pass the memory budget, add() fails
// with kOverBudget: the caller then writes several stores (a lookup merges them) or
// raises the budget.
//
// With value folds asked for at create(), the writer also adds up, per distinct value,
// the times, counts and observations of the records that name it (ValueFold, 32 bytes a
// value, counted in the budget), and finish() hands each value with its fold to a
// visitor in value order (while the file is written, on another thread, when the writer
// has more than one): a build derives the lines of an rdata
// index from them without sorting its values a second time.
//
// Owner names must be non-empty, at most kMaxStoreName bytes, without blank, tab or line
// feed (they would not sort as names); rdata values at most kMaxStoreRdata bytes; at
// most 2^32 - 1 records. Every failure is reported as false with an error text from
// store_messages.h; after one, the writer accepts nothing more.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/store_record.h"
#include "store/value_table.h"

namespace quarn {

class FileOut;
struct ValueLayout;
struct StoreHeader;

// The records of one distinct value added up: earliest first, latest last, counts and
// observations summed (saturating).
struct ValueFold {
  int64_t first = 0;
  int64_t last = 0;
  uint64_t count = 0;
  uint64_t observations = 0;
};

// Receives each distinct value with its fold; false (with *error) fails finish().
using ValueVisitor = std::function<bool(uint16_t rrtype, std::string_view raw,
                                        const ValueFold& fold, std::string* error)>;

class StoreWriter {
 public:
  // finish() sorts the distinct values on up to `threads` threads; with fold_values the
  // writer keeps a ValueFold per value for finish()'s visitor.
  static std::unique_ptr<StoreWriter> create(const std::string& path, uint64_t memory_budget,
                                             std::string* error, size_t threads = 1,
                                             bool fold_values = false);
  ~StoreWriter();
  StoreWriter(const StoreWriter&) = delete;
  StoreWriter& operator=(const StoreWriter&) = delete;

  bool add(const RecordInput& record, std::string* error);
  // Writes the file and, when given and the writer folds values, calls visit on the
  // calling thread for each distinct value in value order. false when either fails.
  bool finish(std::string* error, const ValueVisitor& visit = {});

  uint64_t record_count() const { return record_value_.size(); }
  uint64_t value_count() const { return values_.size(); }
  // Bytes the writer holds now, as its budget counts them.
  uint64_t memory_bytes() const;

 private:
  StoreWriter() = default;
  bool check_input(const RecordInput& r, std::string* error) const;
  void intern_waiting();
  void fold_waiting(const uint32_t* ids);
  void lay_out_values(ValueLayout* layout) const;
  void prefetch_value(const ValueLayout& layout, uint64_t rank) const;
  bool write_names(FileOut& out, const ValueLayout& layout, StoreHeader* h, std::string* error);
  bool write_values(FileOut& out, const ValueLayout& layout, StoreHeader* h,
                    std::string* error);
  bool write_file(std::string* error, const ValueVisitor& visit);
  bool write_sections(const ValueLayout& layout, std::string* error);
  bool visit_values(const ValueLayout& layout, const ValueVisitor& visit, std::string* error);

  std::string path_;
  int fd_ = -1;
  bool finished_ = false;
  bool broken_ = false;
  uint64_t budget_ = 0;
  size_t threads_ = 1;
  // Records as they came, without their values (record_value_ holds those).
  std::vector<std::string> pending_;  // in chunks, each filled up to its capacity
  uint64_t pending_bytes_ = 0;        // their capacities
  std::string record_scratch_;
  std::vector<uint32_t> record_value_;  // value id of each record, once interned
  ValueTable values_;
  bool fold_values_ = false;
  std::vector<ValueFold> folds_;  // by value id, when folding
  // Values of the latest records, not yet interned: they go to the table a batch at a
  // time (ValueTable::intern_batch), their bytes one after another in waiting_bytes_.
  struct Waiting {
    uint16_t rrtype;
    uint32_t length;
    ValueFold fold;  // of the record alone, when folding
  };
  std::string waiting_bytes_;
  std::vector<Waiting> waiting_;  // at most kInternBatch: add() interns at that many
  std::string last_name_, last_raw_;  // of the last record, for the order check
  uint16_t last_rrtype_ = 0;
  int64_t earliest_ = 0;
  int64_t latest_ = 0;
};

}  // namespace quarn
