// A stand-in session bus for the end-to-end tests: a listener on a Unix
// socket the test owns.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/Sockets.h"

namespace e2e {

// A listener on a Unix socket that acts as a bus for its first connection
// (authentication accepted, the first call answered) and takes every later
// connection without ever saying a word.
class OnceAnsweringBus {
 public:
  explicit OnceAnsweringBus(const std::filesystem::path& socketPath) {
    ok_ = testing_support::ListenOnUnixSocket(fd_, socketPath.string());
    thread_ = std::thread([this] {
      for (;;) {
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          clients_.push_back(c);
        }
        if (connections_++ == 0) Answer(c);
      }
    });
  }
  ~OnceAnsweringBus() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
    for (int c : clients_) ::close(c);
  }
  bool ok() const { return ok_; }
  int connections() const { return connections_; }

 private:
  static bool ReadUntil(int c, std::string& buffer, const std::string& end) {
    char chunk[1024];
    while (buffer.find(end) == std::string::npos) {
      const ssize_t n = ::recv(c, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buffer.append(chunk, size_t(n));
    }
    return true;
  }
  // The authentication, then a method return (reply serial 1) to the
  // first call, in the little-endian wire format.
  static void Answer(int c) {
    std::string buffer;
    if (!ReadUntil(c, buffer, "\r\n")) return;
    const std::string ok = "OK 0123456789abcdef0123456789abcdef\r\n";
    if (::send(c, ok.data(), ok.size(), MSG_NOSIGNAL) < 0 || !ReadUntil(c, buffer, "BEGIN\r\n")) return;
    const unsigned char reply[24] = {'l', 2, 1, 1, 0, 0, 0, 0, 1, 0, 0, 0,   // return, no body, serial 1
                                     8, 0, 0, 0,                             // header fields: 8 bytes
                                     5, 1, 'u', 0, 1, 0, 0, 0};              // reply serial 1
    [[maybe_unused]] const ssize_t sent = ::send(c, reply, sizeof reply, MSG_NOSIGNAL);
  }

  int fd_ = -1;
  bool ok_ = false;
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::vector<int> clients_;
  std::thread thread_;
};

}  // namespace e2e
