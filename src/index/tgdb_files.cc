#include "index/tgdb_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/log.h"
#include "common/strfmt.h"
#include "index/format.h"
#include "index/index_messages.h"
#include "index/tgdb.h"

namespace quarn {

namespace {
// Building processes number their runs; this system never runs more than one.
constexpr unsigned long kBuildSequence = 0;
// Longest TMPDIR value taken; a longer one is cut.
constexpr size_t kMaxTmpDir = 1023;

const std::string& temp_dir() {
  static const std::string dir = [] {
    const char* env = getenv("TMPDIR");
    if (env == nullptr) return std::string("/tmp");
    return std::string(env, strnlen(env, kMaxTmpDir));
  }();
  return dir;
}
}  // namespace

MappedText& MappedText::operator=(MappedText&& o) noexcept {
  if (this != &o) {
    if (map_ != nullptr) munmap(map_, map_size_);
    data_ = o.data_;
    size_ = o.size_;
    map_ = o.map_;
    map_size_ = o.map_size_;
    o.data_ = nullptr;
    o.size_ = 0;
    o.map_ = nullptr;
    o.map_size_ = 0;
  }
  return *this;
}

MappedText::~MappedText() {
  if (map_ != nullptr) munmap(map_, map_size_);
}

int load_string_table(const char* path, MappedText* out) {
  *out = MappedText();
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    uint8_t head[kHeaderSize];
    ssize_t n = pread(fd, head, sizeof head, 0);
    close(fd);
    if (n == static_cast<ssize_t>(sizeof head) && has_magic(head)) {
      QLOG(LOG_INFO, msg::kLoadingTgdb, size_t{1}, size_t{1}, path);
      TgdbRef t = tgdb_load(path);
      if (t) {
        // Map just the table: the index mapping goes away with the reference.
        const uint64_t off = string_table_offset(t->header().header_length);
        const uint64_t size = t->string_table_size();
        int tfd = open(path, O_RDONLY | O_CLOEXEC);
        if (tfd < 0) {
          perror("open");
          return -1;
        }
        void* m = mmap(nullptr, size, PROT_READ, MAP_SHARED, tfd, static_cast<off_t>(off));
        close(tfd);
        if (m == MAP_FAILED) {
          perror("mmap");
          return -1;
        }
        *out = MappedText(static_cast<const char*>(m), size, m, size);
        return 0;
      }
      fprintf(stderr, msg::kLoadFailedStderr, path);
    }
  }
  // Plain text.
  fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    perror("open");
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    perror("stat");
    close(fd);
    return -1;
  }
  if (st.st_size == 0) {
    close(fd);
    return 0;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  void* m = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (m == MAP_FAILED) {
    perror("mmap");
    return -1;
  }
  *out = MappedText(static_cast<const char*>(m), size, m, size);
  return 0;
}

bool temp_file_name(int k, std::string* out, bool existing_allowed) {
  if (out == nullptr) return false;
  const std::string& dir = temp_dir();
  *out = str_fmt("%s/tgdb-%d-%lu-%d", dir.c_str(), static_cast<int>(getpid()), kBuildSequence, k);
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    perror("mkdir");
    return false;
  }
  if (existing_allowed) return true;
  struct stat st;
  if (stat(out->c_str(), &st) == 0) {
    fprintf(stderr, msg::kTmpfileExists, out->c_str(), strerror(EEXIST));
    return false;
  }
  if (errno != ENOENT) {
    fprintf(stderr, msg::kTmpfileExists, out->c_str(), strerror(errno));
    return false;
  }
  return true;
}

}  // namespace quarn
