// The index files of one scope (owner names or rdata) of the service.
//
// A scope is opened from one path: an index file (recognised by its magic) becomes a
// one-file index list, anything else is read as a set file. It is refused at start,
// with the error text in *error, when it cannot be read, holds no loadable index, or
// holds indexes of the other kind. Afterwards the source lives for the life of the
// service: searches open it concurrently (the data sources lock themselves), and
// reload_now() re-reads a set file at once (SIGHUP).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/my_time.h"
#include "index/tgdb.h"

namespace quarn {

class data_source;
class fileset;

class ScopeSource {
 public:
  static std::unique_ptr<ScopeSource> open(const std::string& path, bool rdata, std::string* error);
  ~ScopeSource();
  ScopeSource(const ScopeSource&) = delete;
  ScopeSource& operator=(const ScopeSource&) = delete;

  data_source& source() { return *source_; }
  const std::string& path() const { return path_; }
  bool is_set_file() const { return set_ != nullptr; }
  // The indexes a search would read now (own references).
  std::vector<TgdbRef> indexes() const;
  // Entries listed (set file) or files named (index file).
  size_t listed() const;
  TimePoint last_reload() const;
  TimePoint loaded_at() const { return loaded_at_; }
  // Re-reads the set file now; false when an entry of it is left without an index.
  bool reload_now();

 private:
  ScopeSource() = default;
  std::string path_;
  std::unique_ptr<data_source> source_;
  fileset* set_ = nullptr;  // source_ when it is a fileset
  TimePoint loaded_at_;
};

}  // namespace quarn
