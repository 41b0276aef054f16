#include "service/scope_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/strfmt.h"
#include "index/format.h"
#include "retrieval/data_source.h"
#include "service/service_messages.h"

namespace quarn {
namespace {

const char* kind_name(bool rdata) { return rdata ? "rdata" : "rrname"; }

// True when the file starts with the index magic.
bool looks_like_index(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  uint8_t head[8] = {};
  const bool full = ::read(fd, head, sizeof head) == static_cast<ssize_t>(sizeof head);
  ::close(fd);
  return full && has_magic(head);
}

}  // namespace

ScopeSource::~ScopeSource() = default;

std::unique_ptr<ScopeSource> ScopeSource::open(const std::string& path, bool rdata,
                                               std::string* error) {
  if (::access(path.c_str(), R_OK) != 0) {
    *error = str_fmt(service_msg::kCannotRead, path.c_str(), std::strerror(errno));
    return nullptr;
  }
  std::unique_ptr<ScopeSource> s(new ScopeSource());
  s->path_ = path;
  s->loaded_at_ = my_gettime();
  bool is_rdata = false;
  if (looks_like_index(path)) {
    auto list = std::make_unique<index_list>();
    if (!list->add(path)) {
      *error = str_fmt(service_msg::kNoIndex, path.c_str());
      return nullptr;
    }
    is_rdata = list->is_rdata();
    s->source_ = std::move(list);
  } else {
    std::unique_ptr<fileset> set = fileset::create(path);
    if (!set || set->loaded_count() == 0) {
      *error = str_fmt(service_msg::kNoIndex, path.c_str());
      return nullptr;
    }
    is_rdata = set->is_rdata();
    s->set_ = set.get();
    s->source_ = std::move(set);
  }
  if (is_rdata != rdata) {
    *error = str_fmt(service_msg::kWrongKind, path.c_str(), kind_name(is_rdata), kind_name(rdata));
    return nullptr;
  }
  return s;
}

std::vector<TgdbRef> ScopeSource::indexes() const { return source_->loaded_indexes(); }

size_t ScopeSource::listed() const { return set_ ? set_->entry_count() : 1; }

TimePoint ScopeSource::last_reload() const { return set_ ? set_->last_reload() : loaded_at_; }

bool ScopeSource::reload_now() {
  if (set_ == nullptr) return true;
  set_->reload_now();
  return set_->loaded_count() == set_->entry_count();
}

}  // namespace quarn
