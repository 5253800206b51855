// A real IPP Everywhere printer for tests: ippeveprinter on the loopback
// interface, with a private system bus and mDNS responder of its own (the
// printer will not start without DNS-SD), keeping every document and the
// job's attributes (as the environment its print command sees). Its port is
// one the kernel reports free at the time it is made.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/Spawn.h"

namespace testipp {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool WaitFor(const std::function<bool()>& condition, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t(seconds * 1000));
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

// A TCP port on the loopback interface that nobody listens on now.
inline int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

// Starts a program in a process group of its own, its output going to `log`.
inline pid_t Spawn(const std::vector<std::string>& words, const fs::path& log,
                   const std::map<std::string, std::string>& env) {
  testing_support::SpawnOptions spawn;
  spawn.words = words;
  spawn.outputFile = log.string();
  spawn.errorToOutput = true;
  spawn.newProcessGroup = true;
  for (const auto& [k, v] : env) spawn.environment[k] = v;
  return testing_support::SpawnProgram(spawn);
}

// SIGTERM, then SIGKILL when it has not ended within 5 seconds.
inline void Reap(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  testing_support::WaitForExitOrKill(pid, 5);
}

class IppPrinter {
 public:
  struct Options {
    std::string formats = "image/jpeg";
    // Pages per minute; a colour speed above 0 makes it a colour printer.
    int speed = 10;
    int colorSpeed = 0;
    // The seconds each job takes to print (its job stays processing).
    int printSeconds = 0;
  };

  IppPrinter(const fs::path& folder, const Options& options) : folder_(folder) {
    fs::create_directories(spool());
    const std::string bus = "unix:path=" + (folder_ / "bus").string();
    busPid_ = Spawn({"dbus-daemon", "--session", "--nofork", "--address=" + bus}, folder_ / "bus.log", {});
    WaitFor([&] { return fs::exists(folder_ / "bus"); }, 10);
    std::ofstream(folder_ / "avahi.conf")
        << "[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\nenable-dbus=yes\n"
           "[publish]\npublish-addresses=no\npublish-hinfo=no\npublish-workstation=no\n";
    const std::map<std::string, std::string> env{{"DBUS_SYSTEM_BUS_ADDRESS", bus}};
    // One responder per machine is all its pid file allows; where mount
    // namespaces may be made, each printer's responder gets a pid folder of
    // its own, so that tests running at the same time do not meet.
    std::vector<std::string> avahi{"avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits", "-f",
                                   (folder_ / "avahi.conf").string()};
    if (std::system("unshare -m --propagation private true >/dev/null 2>&1") == 0) {
      std::string line = "mount -t tmpfs tmpfs /run/avahi-daemon 2>/dev/null; exec";
      for (size_t i = 0; i < avahi.size(); ++i) line += " \"$" + std::to_string(i + 1) + "\"";
      std::vector<std::string> words{"unshare", "-m", "--propagation", "private", "sh", "-c", line, "sh"};
      words.insert(words.end(), avahi.begin(), avahi.end());
      avahi = words;
    }
    avahiPid_ = Spawn(avahi, folder_ / "avahi.log", env);
    WaitFor([&] { return ReadFile(folder_ / "avahi.log").find("startup complete") != std::string::npos; }, 10);
    std::ofstream(folder_ / "record.sh") << "#!/bin/sh\nenv | grep '^IPP_' > \"$1.env\"\nsleep "
                                         << options.printSeconds << "\n";
    fs::permissions(folder_ / "record.sh", fs::perms::owner_all);
    std::string speeds = std::to_string(options.speed);
    if (options.colorSpeed > 0) speeds += "," + std::to_string(options.colorSpeed);
    // A port found free may be taken again before the printer binds it: try
    // a few.
    for (int attempt = 0; attempt < 3 && !ready_; ++attempt) {
      Reap(printerPid_);
      port_ = FreeLoopbackPort();
      printerPid_ = Spawn({"/usr/sbin/ippeveprinter", "-n", "localhost", "-p", std::to_string(port_), "-d",
                           spool().string(), "-k", "-s", speeds, "-f", options.formats, "-c",
                           (folder_ / "record.sh").string(), "KivoTest"},
                          folder_ / "printer.log", env);
      ready_ = WaitFor([&] {
        if (waitpid(printerPid_, nullptr, WNOHANG) == printerPid_) {
          printerPid_ = 0;
          return true;  // ended: not ready, try another port
        }
        return std::system(("ipptool -q " + uri() + " get-printer-attributes.test >/dev/null 2>&1").c_str()) == 0;
      }, 20) && printerPid_ > 0;
    }
  }
  IppPrinter(const fs::path& folder, const std::string& formats) : IppPrinter(folder, Options{formats}) {}
  ~IppPrinter() {
    Reap(printerPid_);
    Reap(avahiPid_);
    Reap(busPid_);
  }
  IppPrinter(const IppPrinter&) = delete;
  IppPrinter& operator=(const IppPrinter&) = delete;

  bool ready() const { return ready_; }
  int port() const { return port_; }
  std::string uri() const { return "ipp://localhost:" + std::to_string(port_) + "/ipp/print"; }
  fs::path spool() const { return folder_ / "spool"; }
  std::string log() const { return ReadFile(folder_ / "printer.log") + ReadFile(folder_ / "avahi.log"); }
  // The documents received (not their .env records).
  std::vector<fs::path> documents() const {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(spool(), ec), end; !ec && it != end; it.increment(ec)) {
      const fs::path& f = it->path();
      if (it->is_regular_file() && (f.extension() == ".jpg" || f.extension() == ".jpeg")) found.push_back(f);
    }
    std::sort(found.begin(), found.end());
    return found;
  }

 private:
  fs::path folder_;
  int port_ = 0;
  pid_t busPid_ = 0, avahiPid_ = 0, printerPid_ = 0;
  bool ready_ = false;
};

}  // namespace testipp
