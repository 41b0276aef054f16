#include "forge/input_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace quarn {

bool starts_with_magic(const std::string& path, std::string_view magic) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<char> head(magic.size());
  const ssize_t n = ::read(fd, head.data(), head.size());
  ::close(fd);
  return n == static_cast<ssize_t>(magic.size()) &&
         std::memcmp(head.data(), magic.data(), magic.size()) == 0;
}

}  // namespace quarn
