// Tells whether the client of the current connection has gone away.
//
// The HTTP library does not give a request handler its socket, and a search that finds
// nothing for a while writes nothing that could fail; so the probe finds the socket
// itself: the open descriptor whose local and peer addresses are those of the request
// (unique among open sockets, and stable while the handler runs, since the connection
// cannot close under its own handler). Other threads' descriptors are only named, by
// their /proc link, and asked for their addresses. It is looked up on the first question only:
// searches that finish before the first probe interval pay nothing.
//
// gone() is true when the peer closed or reset the connection (hang-up, error, or a
// readable socket with nothing left to read). Used on the connection's own thread only.
#pragma once

#include <string>

namespace quarn {

class ClientProbe {
 public:
  ClientProbe(std::string remote_addr, int remote_port, std::string local_addr, int local_port);

  bool gone();
  // The descriptor found, or -1 (nothing found yet, or no such socket).
  int fd() const { return fd_; }

 private:
  bool find_socket();

  std::string remote_addr_;
  int remote_port_;
  std::string local_addr_;
  int local_port_;
  bool looked_ = false;
  int fd_ = -1;
};

}  // namespace quarn
