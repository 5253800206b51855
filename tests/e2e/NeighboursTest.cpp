// The running processor against neighbours that do not answer or cannot be
// had: a session bus that accepts and stays silent, a video encoder that
// hangs, printers that never answer or are busy, a display with no server,
// an application folder that cannot be made and a second copy. Each time the
// program goes on or says why it cannot, and SIGTERM ends it within seconds.
#include <sys/socket.h>
#include <sys/un.h>
#include <netinet/in.h>
#include <arpa/inet.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>

#include "e2e/E2E.h"

#include "host/sys/UserDefaults.h"
#include "layout/Objects.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace {

namespace fs = e2e::fs;

jobwriter::TJobDescription PhotoJob(const std::string& photo, const std::string& templ = "E2E") {
  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  job.templateName = CStr31_AC(templ);
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(photo, 0, 0, 4, 6))));
  return job;
}

// A listening socket in the test process that accepts connections and never
// writes a byte: a bus, printer or server that hangs.
class MuteListener {
 public:
  // A Unix socket at `path`, or a TCP port on the loopback interface when
  // `path` is empty.
  explicit MuteListener(const fs::path& path = {}) {
    if (!path.empty()) {
      fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
      ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    } else {
      fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      socklen_t size = sizeof address;
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
      port_ = ntohs(address.sin_port);
    }
    ok_ = ok_ && ::listen(fd_, 16) == 0;
    thread_ = std::thread([this] {
      for (;;) {
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        std::lock_guard<std::mutex> lock(mutex_);
        clients_.push_back(c);
      }
    });
  }
  ~MuteListener() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
    for (int c : clients_) ::close(c);
  }
  bool ok() const { return ok_; }
  int port() const { return port_; }
  size_t connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return clients_.size();
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  bool ok_ = false;
  std::mutex mutex_;
  std::vector<int> clients_;
  std::thread thread_;
};

TEST(Neighbours, ASilentSessionBusTurnsNotificationsOffAndJobsStillPrint) {
  e2e::Station station("silentbus");
  MuteListener bus(station.base() / "bus");
  ASSERT_TRUE(bus.ok());
  station.SetEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (station.base() / "bus").string());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(PhotoJob("Red.jpg"), "red.trpr"));
  EXPECT_FALSE(station.WaitForSetOutput('A', 60).empty()) << station.Log();
  EXPECT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_NE(station.Log().find("notifications to and from the other station applications are off"), std::string::npos)
      << station.Log();
  EXPECT_GE(bus.connections(), 1u);
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
