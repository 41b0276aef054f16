// The records of one record store that a lookup query covers, in the query's order.
//
// A name query walks the store's name order from the name on, for as long as the names
// are the name itself or (for a subtree) lie under it: in name_order a name and all its
// descendants are one run, so the walk ends at the first name outside. A value query
// seeks each candidate value in turn and keeps the values whose stored text is the text
// asked for; a prefix query walks the value order from the prefix's first address until
// a value passes its last, skipping values of other types and lengths. The record type
// filter is applied here, the time filter only after stores are merged (a record's
// times are those of all stores together).
//
// Same protocol as the store cursors: start(), valid(), record(), next(), failed() /
// error(). Borrows the store and the query, which must outlive it. Allocation-free per
// record.
#pragma once

#include <string>

#include "lookup/lookup_query.h"
#include "store/store_cursors.h"

namespace quarn {

class StoreSource {
 public:
  StoreSource(const RecordStore& store, const LookupQuery& query);
  StoreSource(const StoreSource&) = delete;
  StoreSource& operator=(const StoreSource&) = delete;

  void start();
  bool valid() const { return valid_; }
  const StoreRecord& record() const;
  void next();
  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }
  uint64_t records_read() const { return read_; }

 private:
  bool by_value() const;
  void settle_name();
  void settle_value();
  void settle_prefix();
  bool cursor_failed();

  const LookupQuery& q_;
  NameCursor names_;
  ValueCursor values_;
  size_t target_ = 0;
  bool valid_ = false;
  bool failed_ = false;
  uint64_t read_ = 0;
  std::string error_;
};

}  // namespace quarn
