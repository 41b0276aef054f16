// Rdata entries held for the merge with the store's values; see held_rdata.h.
#include "forge/held_rdata.h"

#include "forge/key_codec.h"
#include "forge/sortab.h"
#include "forge/temp_files.h"
#include "store/value_order.h"

namespace quarn {

HeldRdata::HeldRdata(TempFiles& temps) : temps_(temps) {}

HeldRdata::~HeldRdata() = default;

bool HeldRdata::hold(std::string_view key, std::string_view value, std::string* error) {
  if (!writer_) {
    path_ = temps_.new_run_name(error);
    if (path_.empty()) return false;
    writer_ = SortabWriter::create(path_, error);
    if (!writer_) return false;
  }
  return writer_->add(key, value, error);
}

bool HeldRdata::start_reading(std::string* error) {
  if (!writer_) return true;
  const bool ok = writer_->finish(error);
  writer_.reset();
  if (!ok) return false;
  reader_ = SortabReader::open(path_, error);
  return reader_ != nullptr && advance(error);
}

bool HeldRdata::advance(std::string* error) {
  current_ = false;
  if (!reader_->next()) {
    if (!reader_->failed()) return true;
    *error = reader_->error();
    return false;
  }
  if (!decode_rdata_key(reader_->key(), raw_, &rrtype_) ||
      !decode_count_value(reader_->value(), &value_)) {
    *error = kHeldRdataErrEntry;
    return false;
  }
  current_ = true;
  return true;
}

bool HeldRdata::emit_before(uint16_t rrtype, std::string_view raw, CountValue* v,
                            const Emit& emit, std::string* error) {
  while (current_) {
    const int order = value_order(raw_, rrtype_, raw, rrtype);
    if (order > 0) return true;
    if (order == 0) {
      fold_counts(v, value_);
      return advance(error);
    }
    if (!emit(rrtype_, raw_, value_, error) || !advance(error)) return false;
  }
  return true;
}

bool HeldRdata::emit_rest(const Emit& emit, std::string* error) {
  while (current_) {
    if (!emit(rrtype_, raw_, value_, error) || !advance(error)) return false;
  }
  if (reader_) {
    reader_.reset();
    temps_.remove(path_);
  }
  return true;
}

}  // namespace quarn
