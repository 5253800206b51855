// The bounded check that a session bus answers: against the real bus the
// test runs on, and against listeners that accept a connection and then
// stay silent at each stage of the exchange.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "host/notify/BusProbe.h"

namespace {

using namespace std::chrono_literals;

// A Unix socket that accepts connections. With `answerAuth` it says "OK" to
// the authentication and then nothing more; without, it never says a word.
class SilentBus {
 public:
  explicit SilentBus(bool answerAuth) : answerAuth_(answerAuth) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kivo-bus-XXXXXX").string();
    folder_ = ::mkdtemp(pattern.data());
    path_ = folder_ + "/bus";
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd_, 8) == 0;
    thread_ = std::thread([this] { Serve(); });
  }
  ~SilentBus() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
    for (int c : clients_) ::close(c);
    std::filesystem::remove_all(folder_);
  }
  bool ok() const { return ok_; }
  std::string address() const { return "unix:path=" + path_; }
  int connections() const { return accepted_; }

 private:
  void Serve() {
    while (!stop_) {
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      clients_.push_back(c);
      ++accepted_;
      if (answerAuth_) {
        char buffer[256];
        std::string got;
        while (got.find("\r\n") == std::string::npos) {
          const ssize_t n = ::read(c, buffer, sizeof buffer);
          if (n <= 0) break;
          got.append(buffer, size_t(n));
        }
        const std::string ok = "OK 0123456789abcdef0123456789abcdef\r\n";
        [[maybe_unused]] ssize_t w = ::write(c, ok.data(), ok.size());
      }
    }
  }

  bool answerAuth_;
  std::string folder_, path_;
  int fd_ = -1;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::vector<int> clients_;
  std::thread thread_;
};

TEST(BusProbe, AddressListsKeepTheSocketsInOrderAndUnescapeValues) {
  const auto list = host::ParseBusAddresses(
      "autolaunch:;unix:path=/run/user/7/my%20bus,guid=ab;unix:abstract=/tmp/dbus-X;tcp:host=127.0.0.1,port=4711;"
      "unix:tmpdir=/tmp");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].path, "/run/user/7/my bus");
  EXPECT_EQ(list[1].abstract, "/tmp/dbus-X");
  EXPECT_EQ(list[2].transport, "tcp");
  EXPECT_EQ(list[2].host, "127.0.0.1");
  EXPECT_EQ(list[2].port, "4711");
  EXPECT_TRUE(host::ParseBusAddresses("").empty());
  EXPECT_TRUE(host::ParseBusAddresses("nonsense").empty());
}

TEST(BusProbe, TheRealSessionBusAnswers) {
  const auto address = host::SessionBusAddress();
  ASSERT_TRUE(address);
  const auto result = host::ProbeBus(*address, 5s);
  EXPECT_TRUE(result.answered) << result.reason;
}

TEST(BusProbe, ABusThatAcceptsAndNeverAnswersIsGivenUp) {
  SilentBus mute(false);
  ASSERT_TRUE(mute.ok());
  const auto silent = host::ProbeBus(mute.address(), 300ms);
  EXPECT_FALSE(silent.answered);
  EXPECT_NE(silent.reason.find("authentication"), std::string::npos) << silent.reason;
  EXPECT_EQ(mute.connections(), 1);

  // One that authenticates but never answers the first call.
  SilentBus half(true);
  ASSERT_TRUE(half.ok());
  const auto halfway = host::ProbeBus(half.address(), 300ms);
  EXPECT_FALSE(halfway.answered);
  EXPECT_NE(halfway.reason.find("first call"), std::string::npos) << halfway.reason;

  // A socket nobody listens on, then the real bus: the second address is used.
  const std::string both = "unix:path=/nonexistent/kivo/bus;" + *host::SessionBusAddress();
  EXPECT_TRUE(host::ProbeBus(both, 5s).answered);
}

// A connection to the given bus, made here (blocking socket).
int ConnectTo(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Whether a read on the socket ends at once (shut down) instead of waiting.
bool ReadsEnd(int fd) {
  pollfd p{fd, POLLIN, 0};
  char c;
  return ::poll(&p, 1, 0) == 1 && ::recv(fd, &c, 1, MSG_DONTWAIT) == 0;
}

TEST(BusProbe, ShuttingDownConnectionsToABusLeavesOtherSocketsAlone) {
  SilentBus mute(false), other(false);
  ASSERT_TRUE(mute.ok() && other.ok());
  const std::string mutePath = mute.address().substr(std::strlen("unix:path="));
  const std::string otherPath = other.address().substr(std::strlen("unix:path="));
  const int first = ConnectTo(mutePath), second = ConnectTo(mutePath), elsewhere = ConnectTo(otherPath);
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  ASSERT_GE(elsewhere, 0);
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  EXPECT_FALSE(ReadsEnd(first));

  // The bus may come second in its list; other transports are passed over.
  EXPECT_EQ(host::ShutDownConnectionsTo("tcp:host=127.0.0.1,port=1;" + mute.address()), 2);
  EXPECT_TRUE(ReadsEnd(first));
  EXPECT_TRUE(ReadsEnd(second));
  EXPECT_FALSE(ReadsEnd(elsewhere));
  EXPECT_FALSE(ReadsEnd(pair[0]));
  // The descriptors stay open for their owners.
  EXPECT_EQ(::fcntl(first, F_GETFD) >= 0, true);
  EXPECT_EQ(host::ShutDownConnectionsTo("unix:path=/nonexistent/kivo/bus"), 0);
  EXPECT_EQ(host::ShutDownConnectionsTo(""), 0);
  for (int fd : {first, second, elsewhere, pair[0], pair[1]}) ::close(fd);
}

TEST(BusProbe, ANotificationToASilentBusIsDroppedNotWaitedFor) {
  SilentBus mute(false);
  ASSERT_TRUE(mute.ok());
  QProcess peer;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(mute.address()));
  peer.setProcessEnvironment(env);
  peer.start(KIVO_NOTIFY_PEER, {"post", "KivoWebServerNotification", "{\"a\":1}", "test"});
  // The peer reports "not posted" once the probe gives up after its few
  // seconds; before the probe it hung in the bus connection for ever.
  ASSERT_TRUE(peer.waitForFinished(60000));
  EXPECT_EQ(peer.exitCode(), 3);
  EXPECT_NE(peer.readAllStandardError().indexOf("session bus cannot be used"), -1);
}

}  // namespace
