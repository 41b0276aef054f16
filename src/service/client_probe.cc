#include "service/client_probe.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace quarn {
namespace {

// The numeric address and port of a socket address.
bool address_of(const sockaddr_storage& sa, std::string* addr, int* port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (sa.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&sa);
    inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    *port = ntohs(in->sin_port);
  } else if (sa.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&sa);
    inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    *port = ntohs(in6->sin6_port);
  } else {
    return false;
  }
  *addr = text;
  return true;
}

bool end_matches(int fd, bool peer, const std::string& addr, int port) {
  sockaddr_storage sa;
  socklen_t len = sizeof sa;
  const int rc = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len)
                      : getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  std::string a;
  int p = -1;
  return rc == 0 && address_of(sa, &a, &p) && p == port && a == addr;
}

}  // namespace

ClientProbe::ClientProbe(std::string remote_addr, int remote_port, std::string local_addr,
                         int local_port)
    : remote_addr_(std::move(remote_addr)),
      remote_port_(remote_port),
      local_addr_(std::move(local_addr)),
      local_port_(local_port) {}

bool ClientProbe::find_socket() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return false;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    // The link text tells a socket without touching the descriptor, which may belong to
    // a connection another thread is opening or closing right now.
    char link[64];
    const std::string path = std::string("/proc/self/fd/") + e->d_name;
    const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
    if (n <= 0 || std::strncmp(link, "socket:", 7) != 0) continue;
    const int fd = std::atoi(e->d_name);
    if (end_matches(fd, true, remote_addr_, remote_port_) &&
        end_matches(fd, false, local_addr_, local_port_)) {
      fd_ = fd;
      break;
    }
  }
  closedir(dir);
  return fd_ >= 0;
}

bool ClientProbe::gone() {
  if (!looked_) {
    looked_ = true;
    find_socket();
  }
  if (fd_ < 0) return false;  // cannot tell: let the search run its course
  pollfd p{fd_, POLLIN | POLLRDHUP, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  if ((p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) return true;
  if ((p.revents & POLLIN) != 0) {
    char c;
    return recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
  }
  return false;
}

}  // namespace quarn
