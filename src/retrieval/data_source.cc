#include "retrieval/data_source.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "common/log.h"
#include "retrieval/my_fileset.h"
#include "retrieval/retrieval_messages.h"
#include "retrieval/tgdb_merger.h"

namespace quarn {

namespace {

const char* kind_name(bool is_rdata) {
  return is_rdata ? retrieval_msg::kKindRdata : retrieval_msg::kKindRrname;
}

}  // namespace

// ---- index list ----------------------------------------------------------------------

index_list::~index_list() = default;

bool index_list::add(const std::string& path) {
  TgdbRef index = tgdb_load(path);
  std::lock_guard<std::mutex> guard(lock_);
  if (!index) return false;
  for (const TgdbRef& listed : indexes_) {
    const FileIdentity& a = listed->identity();
    const FileIdentity& b = index->identity();
    if (a.device == b.device && a.inode == b.inode) {
      QLOG(LOG_ERROR, retrieval_msg::kListedTwice, path.c_str(), listed->path().c_str());
      return false;
    }
  }
  if (indexes_.empty()) {
    is_rdata_ = index->is_rdata();
  } else if (!of_list_kind(*index, path)) {
    return false;  // index releases its reference
  }
  indexes_.push_back(std::move(index));
  return true;
}

bool index_list::of_list_kind(const Tgdb& index, const std::string& path) const {
  if (index.is_rdata() == is_rdata_) return true;
  QLOG(LOG_ERROR, retrieval_msg::kListRejected, kind_name(index.is_rdata()), path.c_str(),
       kind_name(is_rdata_));
  return false;
}

size_t index_list::size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return indexes_.size();
}

void index_list::refresh_changed() {
  std::lock_guard<std::mutex> guard(lock_);
  for (size_t i = 0; i < indexes_.size();) {
    if (!indexes_[i]->file_changed()) {
      ++i;
      continue;
    }
    const std::string path = indexes_[i]->path();
    TgdbRef fresh = tgdb_load(path);
    if (fresh && !of_list_kind(*fresh, path)) fresh.reset();
    if (fresh) {
      QLOG(LOG_INFO, retrieval_msg::kListReloaded, path.c_str());
      indexes_[i++] = std::move(fresh);  // mergers of earlier searches keep the old one
    } else {
      QLOG(LOG_ERROR, retrieval_msg::kListDropped, path.c_str());
      indexes_.erase(indexes_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

std::unique_ptr<tgdb_merger> index_list::open(search_context& context) {
  refresh_changed();
  // The merger takes its own references, so the list may change once they are taken.
  const std::vector<TgdbRef> indexes = loaded_indexes();
  if (indexes.empty()) return nullptr;
  auto merger = std::make_unique<tgdb_merger>(context, is_rdata_);
  for (const TgdbRef& index : indexes) merger->add_index(index.get());
  return merger;
}

std::vector<TgdbRef> index_list::refreshed_indexes() {
  refresh_changed();
  return loaded_indexes();
}

std::vector<TgdbRef> index_list::loaded_indexes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return indexes_;
}

// ---- fileset -------------------------------------------------------------------------

fileset::fileset(const std::string& path, clock_fn clock)
    : path_(path), clock_(clock ? std::move(clock) : clock_fn(&my_gettime)) {}

fileset::~fileset() = default;

std::unique_ptr<fileset> fileset::create(const std::string& path, clock_fn clock) {
  std::unique_ptr<fileset> fs(new fileset(path, std::move(clock)));
  fileset* self = fs.get();
  fs->set_file_ = std::make_unique<my_fileset<TgdbRef>>(
      path, [self](const std::string& file) { return self->load_entry(file); },
      [self](const std::string& file, TgdbRef& index) { self->unload_entry(file, index); },
      [self](const std::string& file, const TgdbRef& index) {
        return self->entry_changed(file, index);
      });
  QLOG(LOG_INFO, retrieval_msg::kLoadingFileset, path.c_str());
  fs->reload();
  return fs;
}

TgdbRef fileset::load_entry(const std::string& file) {
  FileIdentity before;  // stays all zero for a file that is not there
  (void)current_file_identity(file, before);
  TgdbRef index = try_load_entry(file);
  if (index) {
    failed_loads_.erase(file);
  } else {
    failed_loads_[file] = before;
  }
  return index;
}

TgdbRef fileset::try_load_entry(const std::string& file) {
  QLOG(LOG_DEBUG, retrieval_msg::kFilesetLoading, path_.c_str(), file.c_str());
  if (::access(file.c_str(), R_OK) != 0) {
    QLOG(LOG_ERROR, retrieval_msg::kFilesetCannotRead, path_.c_str(), file.c_str(),
         std::strerror(errno));
    return TgdbRef();
  }
  TgdbRef index = tgdb_load(file);
  if (!index) return TgdbRef();
  if (!kind_known_) {
    kind_known_ = true;
    is_rdata_ = index->is_rdata();
  } else if (index->is_rdata() != is_rdata_) {
    QLOG(LOG_ERROR, retrieval_msg::kFilesetRejected, kind_name(index->is_rdata()), file.c_str(),
         kind_name(is_rdata_), path_.c_str());
    return TgdbRef();
  }
  return index;
}

bool fileset::entry_changed(const std::string& file, const TgdbRef& index) const {
  if (index) {
    if (!index->file_changed()) return false;
  } else {
    // An entry that failed to load is tried again only once its file is another one, so
    // that a file caught half-written recovers without a retry (and a log line) per search.
    auto failed = failed_loads_.find(file);
    FileIdentity now;
    if (failed == failed_loads_.end() || !current_file_identity(file, now) ||
        now == failed->second)
      return false;
  }
  QLOG(LOG_INFO, retrieval_msg::kFilesetChanged, path_.c_str(), file.c_str());
  return true;
}

void fileset::unload_entry(const std::string& file, TgdbRef& index) {
  failed_loads_.erase(file);
  QLOG(LOG_DEBUG, retrieval_msg::kFilesetUnloading, path_.c_str(), file.c_str());
  index.reset();  // mergers still reading it hold their own references
}

void fileset::reload() { reload_locked(false); }

void fileset::reload_now() { reload_locked(true); }

TimePoint fileset::last_reload() const {
  std::shared_lock<std::shared_mutex> guard(lock_);
  return last_reload_;
}

std::vector<TgdbRef> fileset::loaded_indexes() const {
  std::shared_lock<std::shared_mutex> guard(lock_);
  std::vector<TgdbRef> out;
  for (const auto& e : set_file_->entries())
    if (e->data) out.push_back(e->data);
  return out;
}

std::vector<TgdbRef> fileset::refreshed_indexes() {
  reload();
  return loaded_indexes();
}

bool fileset::reload_needed() const {
  std::shared_lock<std::shared_mutex> guard(lock_);
  if (clock_().sec - last_reload_.sec > reload_interval_) return true;
  return set_file_->any_changed();
}

void fileset::reload_locked(bool force) {
  // Nearly every search finds nothing to do, and finds it under the shared lock, so that
  // concurrent searches do not queue behind one another's stats.
  if (!force && !reload_needed()) return;
  // The due check runs again under the write lock, so that two searches opening at once
  // neither both reload nor read the stamp while it changes.
  std::unique_lock<std::shared_mutex> guard(lock_);
  const TimePoint now = clock_();
  if (force || now.sec - last_reload_.sec > reload_interval_) {
    set_file_->reload();
    last_reload_ = now;
  }
  // A file replaced under a name that stays listed is caught here, at every search, not
  // only when the set file changes.
  set_file_->refresh_changed();
}

std::unique_ptr<tgdb_merger> fileset::open(search_context& context) {
  reload();
  // The merger is made after the reload so that it takes the kind a first loaded index
  // may just have fixed; made before, it would ignore every index of that kind.
  std::unique_ptr<tgdb_merger> merger;
  size_t loaded = 0;
  {
    std::shared_lock<std::shared_mutex> guard(lock_);
    merger = std::make_unique<tgdb_merger>(context, is_rdata_);
    for (const auto& e : set_file_->entries()) {
      if (!e->data) continue;
      ++loaded;
      merger->add_index(e->data.get());
    }
  }
  if (loaded == 0) return nullptr;
  return merger;
}

size_t fileset::entry_count() const {
  std::shared_lock<std::shared_mutex> guard(lock_);
  return set_file_->entries().size();
}

size_t fileset::loaded_count() const {
  std::shared_lock<std::shared_mutex> guard(lock_);
  size_t n = 0;
  for (const auto& e : set_file_->entries())
    if (e->data) ++n;
  return n;
}

const Tgdb* fileset::entry_index(size_t i) const {
  std::shared_lock<std::shared_mutex> guard(lock_);
  const auto& entries = set_file_->entries();
  return i < entries.size() ? entries[i]->data.get() : nullptr;
}

}  // namespace quarn
