// The record stores of the service; see record_source.h.
#include "service/record_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "common/log.h"
#include "common/strfmt.h"
#include "service/service_messages.h"
#include "store/store_reader.h"

namespace quarn {
namespace {

bool looks_like_store(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  char head[sizeof kStoreMagic] = {};
  const bool full = ::read(fd, head, sizeof head) == static_cast<ssize_t>(sizeof head);
  ::close(fd);
  return full && memcmp(head, kStoreMagic, sizeof head) == 0;
}

std::string trimmed(const std::string& line) {
  size_t b = 0, e = line.size();
  while (b < e && (line[b] == ' ' || line[b] == '\t')) ++b;
  while (e > b && (line[e - 1] == ' ' || line[e - 1] == '\t' || line[e - 1] == '\r')) --e;
  return line.substr(b, e - b);
}

}  // namespace

LoadedStore::~LoadedStore() = default;

std::unique_ptr<RecordSource> RecordSource::open(const std::string& path, std::string* error) {
  if (::access(path.c_str(), R_OK) != 0) {
    *error = str_fmt(service_msg::kCannotRead, path.c_str(), std::strerror(errno));
    return nullptr;
  }
  std::unique_ptr<RecordSource> s(new RecordSource());
  s->path_ = path;
  s->set_file_ = !looks_like_store(path);
  if (!s->load(error)) return nullptr;
  if (s->snapshot_->stores.empty()) {
    *error = str_fmt(service_msg::kNoStore, path.c_str());
    return nullptr;
  }
  return s;
}

bool RecordSource::list_paths(std::vector<std::string>* paths, std::string* error) const {
  if (!set_file_) {
    paths->push_back(path_);
    return true;
  }
  std::ifstream in(path_);
  if (!in) {
    *error = str_fmt(service_msg::kCannotRead, path_.c_str(), std::strerror(errno));
    return false;
  }
  const size_t slash = path_.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path_.substr(0, slash);
  std::string line;
  while (std::getline(in, line)) {
    const std::string entry = trimmed(line);
    if (entry.empty() || entry[0] == '#') continue;
    paths->push_back(entry[0] == '/' ? entry : dir + "/" + entry);
  }
  return true;
}

bool RecordSource::load(std::string* error) {
  FileIdentity set_identity;
  if (set_file_ && !current_file_identity(path_, set_identity)) {
    *error = str_fmt(service_msg::kCannotRead, path_.c_str(), std::strerror(errno));
    return false;
  }
  std::vector<std::string> paths;
  if (!list_paths(&paths, error)) return false;
  std::shared_ptr<const StoreSnapshot> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old = snapshot_;
  }
  auto fresh = std::make_shared<StoreSnapshot>();
  fresh->listed = paths.size();
  std::vector<FileIdentity> seen;
  for (const std::string& p : paths) {
    FileIdentity id;
    const bool exists = current_file_identity(p, id);
    if (exists && std::find(seen.begin(), seen.end(), id) != seen.end()) {
      *error = str_fmt(service_msg::kStoreTwice, path_.c_str(), p.c_str());
      return false;
    }
    if (exists) seen.push_back(id);
    std::shared_ptr<const LoadedStore> keep;
    for (size_t i = 0; old && i < old->loaded.size() && exists; ++i) {
      const LoadedStore& l = *old->loaded[i];
      if (l.path == p && l.identity == id && !l.store->pages_lost()) keep = old->loaded[i];
    }
    if (!keep) {
      std::string why;
      auto l = std::make_shared<LoadedStore>();
      l->path = p;
      l->identity = id;
      l->loaded_at = my_gettime();
      l->store = exists ? RecordStore::open(p, &why) : nullptr;
      if (!l->store) {
        if (why.empty()) why = std::strerror(errno);
        QLOG(LOG_ERROR, service_msg::kStoreDropped, p.c_str(), why.c_str());
        continue;
      }
      keep = std::move(l);
    }
    fresh->stores.push_back(keep->store.get());
    fresh->loaded.push_back(std::move(keep));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  set_identity_ = set_identity;
  snapshot_ = std::move(fresh);
  last_reload_ = last_check_ = my_gettime();
  return true;
}

bool RecordSource::changed() const {
  FileIdentity id;
  if (set_file_ && (!current_file_identity(path_, id) || !(id == set_identity_))) return true;
  for (const auto& l : snapshot_->loaded) {
    if (!current_file_identity(l->path, id) || !(id == l->identity) || l->store->pages_lost()) return true;
  }
  // A listed store that did not load may load now.
  return snapshot_->loaded.size() != snapshot_->listed;
}

std::shared_ptr<const StoreSnapshot> RecordSource::current() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const TimePoint now = my_gettime();
    if (elapsed_seconds(last_check_, now) < kRecheckSeconds) return snapshot_;
    last_check_ = now;
    if (!changed()) return snapshot_;
  }
  reload_now();
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshot_;
}

bool RecordSource::reload_now() {
  // One re-read at a time; lookups meanwhile keep the snapshot they have.
  std::lock_guard<std::mutex> one(reload_mutex_);
  std::string error;
  if (!load(&error)) {
    if (!error.empty() && error.back() == '\n') error.pop_back();
    QLOG(LOG_ERROR, service_msg::kStoresKept, path_.c_str(), error.c_str());
    std::lock_guard<std::mutex> lock(mutex_);
    last_check_ = my_gettime();
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshot_->loaded.size() == snapshot_->listed;
}

TimePoint RecordSource::last_reload() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_reload_;
}

}  // namespace quarn
