// The running processor against a session bus that answers the first
// connection (the check at start-up) and then hangs the next: the program
// starts, prints without notifications, and ends on SIGTERM.
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "e2e/E2E.h"

namespace {

namespace fs = e2e::fs;

// A listener on a Unix socket that acts as a bus for its first connection
// (authentication accepted, the first call answered) and takes every later
// connection without ever saying a word.
class OnceAnsweringBus {
 public:
  explicit OnceAnsweringBus(const fs::path& socketPath) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd_, 16) == 0;
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

TEST(SessionBus, ABusThatAnswersOnceAndThenHangsDoesNotHoldTheStart) {
  e2e::Station station("hangbus");
  OnceAnsweringBus bus(station.base() / "bus");
  ASSERT_TRUE(bus.ok());
  station.SetEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (station.base() / "bus").string());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));
  EXPECT_FALSE(station.WaitForSetOutput('A', 60).empty()) << station.Log();
  EXPECT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const std::string log = station.Log();
  EXPECT_NE(log.find("the session bus did not answer the connection in time"), std::string::npos) << log;
  EXPECT_NE(log.find("notifications to and from the other station applications are off"), std::string::npos) << log;
  // The check and the connection the program would have used.
  EXPECT_GE(bus.connections(), 2);
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
