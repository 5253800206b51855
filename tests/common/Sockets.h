// Listening sockets for the fake servers of the tests (printer, bus).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace testing_support {

// Opens `fd` listening on a port of 127.0.0.1 the kernel chooses free and
// tells it in `port`; false when that fails.
inline bool ListenOnLoopback(int& fd, int& port) {
  fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 16) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  port = ntohs(address.sin_port);
  return ok;
}

// Opens `fd` listening on a Unix socket made at `path`; false when that fails.
inline bool ListenOnUnixSocket(int& fd, const std::string& path) {
  fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 16) == 0;
}

}  // namespace testing_support
