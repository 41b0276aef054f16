// A lookup over one or several record stores: the records a query covers, the stores'
// records of the same (name, type, value) merged into one, filtered by time, after an
// offset and up to a limit.
//
// Use: Lookup::start() with the stores (in the order their records should be taken as
// "first seen", normally oldest first) and the query, then valid() / record() / next().
// !valid() after the last record or on failure; failed() tells which, error() then
// names the store and the damage. The stores and the query must outlive the lookup.
//
// Merging follows the index builder: counts add, the earliest first time and the latest
// last time are kept, the bailiwick is the first one seen in store order. Records come
// in name order for name queries (name, then type, then value) and in value order for
// value and prefix queries (value, then name). The merged record lives in buffers of the
// lookup that keep their capacity, so a lookup allocates nothing per record once warm.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "lookup/lookup_query.h"
#include "lookup/store_source.h"
#include "store/store_reader.h"
#include "store/store_record.h"

namespace quarn {

struct LookupStats {
  uint64_t records_read = 0;      // store records the sources walked
  uint64_t records_returned = 0;  // merged records handed out
};

class Lookup {
 public:
  // Starts the lookup positioned on its first record. Never fails itself: a damaged
  // store shows as failed() at once or later.
  static std::unique_ptr<Lookup> start(std::span<const RecordStore* const> stores,
                                       const LookupQuery& query);
  Lookup(const Lookup&) = delete;
  Lookup& operator=(const Lookup&) = delete;

  bool valid() const { return valid_; }
  // The current merged record; its views live until next().
  const StoreRecord& record() const { return out_; }
  void next();
  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }
  LookupStats stats() const;

 private:
  explicit Lookup(const LookupQuery& query) : q_(query) {}
  bool merge_next();  // the next merged record, before filters
  int compare(const StoreRecord& a, const StoreRecord& b) const;
  bool check_failed();
  void advance();     // next record that passes the filters

  const LookupQuery& q_;
  std::vector<std::unique_ptr<StoreSource>> sources_;
  StoreRecord out_;
  std::string name_, raw_, text_, bailiwick_;
  uint64_t skipped_ = 0;
  uint64_t returned_ = 0;
  bool valid_ = false;
  bool failed_ = false;
  std::string error_;
};

}  // namespace quarn
