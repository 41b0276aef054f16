#include "forge/store_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "common/strfmt.h"
#include "forge/input_checks.h"
#include "forge/store_output.h"
#include "store/store_cursors.h"
#include "store/store_reader.h"

namespace quarn {

bool has_store_magic(const std::string& path) {
  return starts_with_magic(path, std::string_view(kStoreMagic, sizeof kStoreMagic));
}

StoreInput::StoreInput(std::string path, const RetentionWindow& window)
    : path_(std::move(path)), window_(window) {}

StoreInput::~StoreInput() = default;

std::unique_ptr<StoreInput> StoreInput::open(const std::string& path,
                                             const RetentionWindow& window, std::string* error) {
  std::unique_ptr<StoreInput> in(new StoreInput(path, window));
  std::string why;
  if (!current_file_identity(path, in->identity_) ||
      !(in->store_ = RecordStore::open(path, &why))) {
    // The store's own text already names the file.
    *error = why.empty() ? str_fmt(kStoreInputErrLoad, path.c_str(), strerror(errno)) : why;
    return nullptr;
  }
  in->cursor_ = std::make_unique<NameCursor>(*in->store_);
  return in;
}

bool StoreInput::fail(const char* reason) {
  error_ = str_fmt(kStoreInputErrDamaged, path_.c_str(),
                   static_cast<unsigned long long>(records_), reason);
  return false;
}

bool StoreInput::encode_current(bool* keep) {
  const StoreRecord& r = cursor_->record();
  if (!valid_time_range(r.time_first, r.time_last)) return fail(kStoreInputBadTime);
  CountValue v;
  v.first = static_cast<uint32_t>(r.time_first);
  v.last = static_cast<uint32_t>(r.time_last);
  v.count = r.count;
  *keep = window_.keeps(v.first, v.last);
  if (!*keep) {
    ++dropped_;
    return true;
  }
  key_.assign(1, kStoreTag);
  if (!encode_store_key(r.name, r.rrtype, r.raw, key_)) return fail(kStoreInputBadName);
  value_.clear();
  // A stored record stands for no observation of its own and names no line's owner.
  encode_store_value(v, 0, r.bailiwick.size() <= kMaxEntryBailiwick ? r.bailiwick : "", value_);
  if (!prev_key_.empty() && !(prev_key_ < key_)) return fail(kStoreInputOrder);
  prev_key_.assign(key_);
  return true;
}

bool StoreInput::next() {
  if (failed()) return false;
  for (;;) {
    if (!started_) {
      cursor_->seek_first();
      started_ = true;
    } else if (cursor_->valid()) {
      cursor_->next();
    }
    if (!cursor_->valid()) {
      if (cursor_->failed()) error_ = cursor_->error();
      return false;
    }
    ++records_;
    bool keep = false;
    if (!encode_current(&keep)) return false;
    if (keep) return true;
  }
}

}  // namespace quarn
