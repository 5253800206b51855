// A real CUPS scheduler for tests, and a relay that can hold its answers.
//
// CupsServer starts Debian's cupsd in folders of its own (configuration,
// spool, cache, state, logs) with a cupsd.conf and cups-files.conf written
// here, listening on a free port of the loopback interface and on a socket
// in its folder, and nowhere else. It has one queue, made as a shop makes
// one for an IPP Everywhere printer (lpadmin -m everywhere) on the printer
// the test names. Nothing of the system's /etc/cups is read, and nothing is
// left running. Its policy is Debian's default one, so that it answers as a
// shop's scheduler does. Started as root, cupsd runs its backends as user
// lp: its folders are made reachable by lp (a folder of its own under /tmp,
// mode 0755).
//
// AnswerRelay stands between the program and a printer or scheduler on the
// loopback interface, passing every byte on, until it is told to hold the
// answers that follow a request of one operation (it reads them and keeps
// them back until it is told to let them go), or to stop the program once
// it has sent such a request, so that the answer arrives while it is
// stopped.
#pragma once

#include <cups/cups.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/IppPrinter.h"
#include "common/Sockets.h"

namespace testipp {

// The ids of the jobs the IPP server on `port` of the loopback interface
// has not finished at `printerURI`, as its Get-Jobs lists them.
inline std::vector<int> UnfinishedJobsAt(int port, const std::string& printerURI) {
  std::vector<int> ids;
  http_t* http = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 10000, nullptr);
  if (!http) return ids;
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerURI.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  ipp_t* answer = cupsDoRequest(http, request, "/");
  for (ipp_attribute_t* a = answer ? ippFindAttribute(answer, "job-id", IPP_TAG_INTEGER) : nullptr; a;
       a = ippFindNextAttribute(answer, "job-id", IPP_TAG_INTEGER))
    ids.push_back(ippGetInteger(a, 0));
  ippDelete(answer);
  httpClose(http);
  return ids;
}

class CupsServer {
 public:
  static constexpr const char* kQueue = "KivoQueue";

  struct Options {
    // An IPP Everywhere printer's URI, for the queue kQueue; empty: no
    // queue is made.
    std::string deviceURI;
    // PreserveJobHistory: "Yes" keeps finished jobs, "No" forgets each the
    // moment it finishes.
    std::string jobHistory = "Yes";
  };

  explicit CupsServer(const Options& options) {
    std::string pattern = (fs::temp_directory_path() / "kivo-cupsd-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return;
    folder_ = pattern;
    fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    for (const char* sub : {"etc", "spool", "spool/tmp", "cache", "state", "log"})
      fs::create_directories(folder_ / sub);
    WriteFilesConf(true);
    options_ = options;
    // A port found free may be taken again before cupsd binds it: try a few.
    for (int attempt = 0; attempt < 3 && !ready_; ++attempt) {
      port_ = FreeLoopbackPort();
      ready_ = Run();
    }
    if (ready_ && !options.deviceURI.empty()) ready_ = AddQueue(kQueue, options.deviceURI);
  }
  ~CupsServer() {
    Resume();
    Reap(pid_);
    if (!folder_.empty() && !std::getenv("KIVO_KEEP_E2E")) {
      std::error_code ec;
      fs::remove_all(folder_, ec);
    }
  }
  CupsServer(const CupsServer&) = delete;
  CupsServer& operator=(const CupsServer&) = delete;

  bool ready() const { return ready_; }
  // Adds the queue `name` on the IPP Everywhere printer `deviceURI` as a
  // shop adds one (lpadmin -m everywhere). The scheduler makes the queue's
  // driver from the printer's attributes after lpadmin has returned: with
  // `waitForDriver`, true once it has made it and answers for the queue;
  // otherwise once lpadmin ended with status 0.
  bool AddQueue(const std::string& name, const std::string& deviceURI, bool waitForDriver = true) const {
    testing_support::SpawnOptions lpadmin;
    lpadmin.words = {"lpadmin", "-h", socket().string(), "-p", name, "-E", "-v", deviceURI, "-m", "everywhere"};
    lpadmin.outputFile = (folder_ / "log" / "lpadmin.out").string();
    lpadmin.errorToOutput = true;
    if (testing_support::WaitForExitOrKill(testing_support::SpawnProgram(lpadmin), 30) != 0) return false;
    return !waitForDriver ||
           WaitFor([&] { return fs::exists(folder_ / "etc" / "ppd" / (name + ".ppd")) && Answers(name); }, 30);
  }
  // For CUPS_SERVER. libcups takes a connection to a host of another name
  // than the server's (which the scheduler calls "localhost" in the URIs it
  // gives) for one to the printer itself.
  std::string server() const { return "localhost:" + std::to_string(port_); }
  int port() const { return port_; }
  std::string printerURI(const std::string& queue = kQueue) const {
    return "ipp://127.0.0.1:" + std::to_string(port_) + "/printers/" + queue;
  }
  pid_t pid() const { return pid_; }
  // The page log's lines: "<job id> <pages> <job name>", one per job that
  // went to the device.
  std::vector<std::string> PageLog() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(folder_ / "log" / "page_log"));
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) lines.push_back(line);
    return lines;
  }
  // The page log's lines of jobs whose names begin with `name`.
  size_t PagesNamed(const std::string& name) const {
    size_t n = 0;
    for (const std::string& line : PageLog()) {
      const size_t first = line.find(' ');
      const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
      if (second != std::string::npos && line.compare(second + 1, name.size(), name) == 0) ++n;
    }
    return n;
  }
  std::string ErrorLog() const {
    return ReadFile(folder_ / "log" / "cupsd.out") + ReadFile(folder_ / "log" / "lpadmin.out") +
           ReadFile(folder_ / "log" / "error_log");
  }

  // The state of job `id` as the scheduler tells it (IPP job-state); 0 when
  // it does not know the job.
  int JobState(int id) const {
    http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 10000, nullptr);
    if (!http) return 0;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerURI().c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ipp_t* answer = cupsDoRequest(http, request, "/jobs");
    int state = 0;
    if (answer && ippGetStatusCode(answer) <= IPP_STATUS_OK_CONFLICTING)
      if (ipp_attribute_t* a = ippFindAttribute(answer, "job-state", IPP_TAG_ENUM)) state = ippGetInteger(a, 0);
    ippDelete(answer);
    httpClose(http);
    return state;
  }
  // Whether it answers for its queue (or the queue `queue`).
  bool Answers(const std::string& queue = kQueue) const {
    return AskAboutQueue(queue, [](ipp_t*) { return true; });
  }
  // Whether its queue shows `reason` among its printer-state-reasons (the
  // backend's "STATE:" messages set them while it passes a job on).
  bool QueueShowsReason(const std::string& reason) const {
    return AskAboutQueue(kQueue, [&](ipp_t* answer) {
      ipp_attribute_t* reasons = ippFindAttribute(answer, "printer-state-reasons", IPP_TAG_KEYWORD);
      for (int i = 0, n = reasons ? ippGetCount(reasons) : 0; i < n; ++i)
        if (const char* r = ippGetString(reasons, i, nullptr); r && reason == r) return true;
      return false;
    });
  }
  // The ids of the jobs it has not finished.
  std::vector<int> UnfinishedJobs() const { return UnfinishedJobsAt(port_, printerURI()); }

  // Ends the scheduler (SIGTERM); with `loseJobs` its job cache and spool
  // go too, as a machine loses them, so that it counts its jobs from 1
  // again when it starts.
  void Stop(bool loseJobs = false) {
    Resume();
    Reap(pid_);
    pid_ = 0;
    if (!loseJobs) return;
    std::error_code ec;
    fs::remove(folder_ / "cache" / "job.cache", ec);
    for (const auto& entry : fs::directory_iterator(folder_ / "spool", ec))
      if (entry.is_regular_file()) fs::remove(entry.path(), ec);
  }
  // Starts it again on its port, with its queue. `rootIsSystem` false
  // leaves root out of its system users, as Debian's SystemGroup lpadmin
  // does: root then sees other users' jobs as any user does.
  bool Restart(bool rootIsSystem = true) {
    Stop();
    WriteFilesConf(rootIsSystem);
    return ready_ = Run() && WaitFor([&] { return Answers(); }, 30);
  }
  // The socket it listens on besides its port.
  fs::path socket() const { return folder_ / "cups.sock"; }
  // Prints a copy of `file` on the queue as user `user` with lp; true when
  // lp took it.
  bool PrintAs(const std::string& user, const fs::path& file, const std::string& title) const {
    const fs::path copy = folder_ / ("lp-" + file.filename().string());
    std::error_code ec;
    fs::copy_file(file, copy, fs::copy_options::overwrite_existing, ec);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read, ec);
    testing_support::SpawnOptions lp;
    lp.words = {"runuser", "-u", user, "--", "lp", "-h", "127.0.0.1:" + std::to_string(port_), "-d", kQueue,
                "-t", title, copy.string()};
    lp.outputFile = (folder_ / "log" / "lp.out").string();
    lp.errorToOutput = true;
    return testing_support::WaitForExitOrKill(testing_support::SpawnProgram(lp), 30) == 0;
  }

  // Stops and continues the scheduler (SIGSTOP, SIGCONT).
  void Pause() {
    if (pid_ > 0) ::kill(pid_, SIGSTOP);
  }
  void Resume() {
    if (pid_ > 0) ::kill(pid_, SIGCONT);
  }

 private:
  // Asks for the attributes of `queue`; what `look` says of a good answer,
  // false without one.
  template <typename Look>
  bool AskAboutQueue(const std::string& queue, Look look) const {
    http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 2000, nullptr);
    if (!http) return false;
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerURI(queue).c_str());
    ipp_t* answer = cupsDoRequest(http, request, "/");
    const bool ok = answer && ippGetStatusCode(answer) <= IPP_STATUS_OK_CONFLICTING && look(answer);
    ippDelete(answer);
    httpClose(http);
    return ok;
  }
  // Starts cupsd on port_; true once it listens.
  bool Run() {
    Reap(pid_);
    pid_ = 0;
    std::error_code ec;
    fs::remove(socket(), ec);
    WriteConf(options_);
    pid_ = Spawn({"/usr/sbin/cupsd", "-f", "-c", (folder_ / "etc" / "cupsd.conf").string(), "-s",
                  (folder_ / "etc" / "cups-files.conf").string()},
                 folder_ / "log" / "cupsd.out", {});
    return WaitFor(
               [&] {
                 if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                   pid_ = 0;
                   return true;  // ended: not ready
                 }
                 return fs::exists(socket());
               },
               20) &&
           pid_ > 0;
  }
  // lpadmin reaches it as root over its socket: root is a system user
  // while the queue is made.
  void WriteFilesConf(bool rootIsSystem) const {
    std::ofstream conf(folder_ / "etc" / "cups-files.conf");
    const std::string f = folder_.string();
    conf << "ServerRoot " << f << "/etc\nRequestRoot " << f << "/spool\nTempDir " << f << "/spool/tmp\n"
         << "CacheDir " << f << "/cache\nStateDir " << f << "/state\nErrorLog " << f << "/log/error_log\n"
         << "AccessLog " << f << "/log/access_log\nPageLog " << f << "/log/page_log\n"
         << "Printcap " << f << "/etc/printcap\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\nFileDevice Yes\n";
    if (::geteuid() == 0) conf << "User lp\nGroup lp\nSystemGroup " << (rootIsSystem ? "root" : "lpadmin") << "\n";
  }
  void WriteConf(const Options& options) const {
    std::ofstream conf(folder_ / "etc" / "cupsd.conf");
    conf << "LogLevel debug\nMaxLogSize 0\nPageLogFormat %j %P %{job-name}\n"
         << "Listen 127.0.0.1:" << port_ << "\nListen " << socket().string() << "\n"
         << "Browsing No\nBrowseLocalProtocols none\nWebInterface No\nDefaultAuthType Basic\n"
         << "PreserveJobHistory " << options.jobHistory << "\nPreserveJobFiles No\n"
         << "<Location />\n  Order allow,deny\n</Location>\n"
         << kDefaultPolicy;
  }

  // Debian's default policy (its /etc/cups/cupsd.conf).
  static constexpr const char* kDefaultPolicy = R"(<Policy default>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit Create-Job Print-Job Print-URI Validate-Job>
    Order deny,allow
  </Limit>
  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes Create-Job-Subscription Renew-Subscription Cancel-Subscription Get-Notifications Reprocess-Job Cancel-Current-Job Suspend-Current-Job Resume-Job Cancel-My-Jobs Close-Job CUPS-Move-Job>
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit CUPS-Get-Document>
    AuthType Default
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit CUPS-Add-Modify-Printer CUPS-Delete-Printer CUPS-Add-Modify-Class CUPS-Delete-Class CUPS-Set-Default CUPS-Get-Devices>
    AuthType Default
    Require user @SYSTEM
    Order deny,allow
  </Limit>
  <Limit Pause-Printer Resume-Printer Enable-Printer Disable-Printer Pause-Printer-After-Current-Job Hold-New-Jobs Release-Held-New-Jobs Deactivate-Printer Activate-Printer Restart-Printer Shutdown-Printer Startup-Printer Promote-Job Schedule-Job-After Cancel-Jobs CUPS-Accept-Jobs CUPS-Reject-Jobs>
    AuthType Default
    Require user @SYSTEM
    Order deny,allow
  </Limit>
  <Limit Cancel-Job CUPS-Authenticate-Job>
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
)";

  fs::path folder_;
  Options options_;
  int port_ = 0;
  pid_t pid_ = 0;
  bool ready_ = false;
};

class AnswerRelay {
 public:
  explicit AnswerRelay(int targetPort) : target_(targetPort) {
    ok_ = testing_support::ListenOnLoopback(fd_, port_);
    acceptor_ = std::thread([this] {
      for (;;) {
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        const int server = Connect();
        std::lock_guard<std::mutex> lock(mutex_);
        sockets_.push_back(client);
        if (server < 0) {
          ::shutdown(client, SHUT_RDWR);
          continue;
        }
        sockets_.push_back(server);
        auto connection = std::make_shared<Connection>();
        pumps_.emplace_back([this, client, server, connection] { Requests(client, server, *connection); });
        pumps_.emplace_back([this, client, server, connection] { Answers(server, client, *connection); });
      }
    });
  }
  ~AnswerRelay() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    acceptor_.join();
    std::vector<std::thread> pumps;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (int s : sockets_) ::shutdown(s, SHUT_RDWR);
      pumps.swap(pumps_);
    }
    for (auto& t : pumps) t.join();
    for (int s : sockets_) ::close(s);
  }
  AnswerRelay(const AnswerRelay&) = delete;
  AnswerRelay& operator=(const AnswerRelay&) = delete;

  bool ok() const { return ok_; }
  int port() const { return port_; }
  // "localhost:<port>", for CUPS_SERVER (see CupsServer::server).
  std::string server() const { return "localhost:" + std::to_string(port_); }

  // From the end of the next request of `operation` on, the answers on its
  // connection are held until Release() (an interim "100 Continue" before
  // the request's body still goes).
  void HoldAnswersFrom(ipp_op_t operation) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdFrom_ = operation;
    released_ = false;
  }
  // Stops the program `pid` (SIGSTOP) when the next request of `operation`
  // has been read to its end, before it is passed on: the answer comes
  // while the program is stopped.
  void StopProgramAfter(ipp_op_t operation, pid_t pid) {
    std::lock_guard<std::mutex> lock(mutex_);
    stopAfter_ = operation;
    stopPid_ = pid;
  }
  // The bytes of answers passed back since the program was stopped.
  size_t answeredWhileStopped() const { return answeredWhileStopped_; }
  // The bytes of answers held back now.
  size_t held() const { return held_; }
  // Lets the held answers go (and every later one), and waits until they
  // were written to the program's side, for at most `seconds`.
  bool Release(double seconds = 20) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
      holdFrom_ = IPP_OP_CUPS_INVALID;
    }
    changed_.notify_all();
    return WaitFor([&] { return held_ == 0; }, seconds);
  }

 private:
  struct Connection {
    std::atomic<bool> holding{false};
    ipp_op_t operation = IPP_OP_CUPS_INVALID;  // of the request being read
  };

  int Connect() const {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(target_));
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return s;
    ::close(s);
    return -1;
  }

  static bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= size_t(n);
    }
    return true;
  }

  // Passes the program's requests on, and notes the operation of each: an
  // HTTP head, then a body of Content-Length bytes or of chunks, whose
  // bytes 2 and 3 are the IPP operation. What arrived is looked at before
  // it is passed on, so that the answer to a request cannot come before
  // its end was seen.
  void Requests(int from, int to, Connection& connection) {
    std::string pending;
    enum { kHead, kBody, kChunkSize, kChunk, kChunkEnd, kLastChunkEnd } part = kHead;
    size_t left = 0;
    std::string start;  // the first bytes of the body
    auto body = [&](size_t n) {
      if (start.size() < 4) {
        start.append(pending, 0, std::min(n, 4 - start.size()));
        if (start.size() == 4) connection.operation = ipp_op_t((uint8_t(start[2]) << 8) | uint8_t(start[3]));
      }
      pending.erase(0, n);
      left -= n;
    };
    char chunk[65536];
    for (;;) {
      const ssize_t n = ::recv(from, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      pending.append(chunk, size_t(n));
      for (bool more = true; more;) {
        more = false;
        if (part == kHead) {
          const size_t end = pending.find("\r\n\r\n");
          if (end == std::string::npos) break;
          std::string head = pending.substr(0, end);
          std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return char(std::tolower(c)); });
          pending.erase(0, end + 4);
          start.clear();
          if (head.find("transfer-encoding: chunked") != std::string::npos) {
            part = kChunkSize;
          } else if (const size_t at = head.find("content-length:"); at != std::string::npos) {
            left = std::strtoul(head.c_str() + at + 15, nullptr, 10);
            part = left > 0 ? kBody : kHead;
          }
          more = true;
        } else if (part == kBody || part == kChunk) {
          const size_t take = std::min(left, pending.size());
          body(take);
          if (left == 0) {
            if (part == kBody) Ended(connection);
            part = part == kBody ? kHead : kChunkEnd;
            more = true;
          }
        } else if (part == kChunkSize) {
          const size_t end = pending.find("\r\n");
          if (end == std::string::npos) break;
          left = std::strtoul(pending.c_str(), nullptr, 16);
          pending.erase(0, end + 2);
          part = left > 0 ? kChunk : kLastChunkEnd;
          more = true;
        } else if (pending.size() >= 2) {  // the line end after a chunk, or after the last
          pending.erase(0, 2);
          if (part == kLastChunkEnd) Ended(connection);
          part = part == kChunkEnd ? kChunkSize : kHead;
          more = true;
        }
      }
      if (!SendAll(to, chunk, size_t(n))) break;
    }
    ::shutdown(to, SHUT_WR);
  }

  // A request has been read to its end.
  void Ended(Connection& connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connection.operation == holdFrom_ && !released_) connection.holding = true;
    if (connection.operation == stopAfter_ && stopPid_ > 0) {
      ::kill(stopPid_, SIGSTOP);
      WaitFor([&] { return ProcessState(stopPid_) == 'T'; }, 20);
      stopAfter_ = IPP_OP_CUPS_INVALID;
      stopPid_ = 0;
      stopped_ = true;
    }
    connection.operation = IPP_OP_CUPS_INVALID;
  }

  // The state letter of process `pid` ('T' when stopped); 0 when gone.
  static char ProcessState(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(status)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? 0 : text[close + 2];
  }

  // Passes the answers back, or holds them while their connection holds.
  void Answers(int from, int to, Connection& connection) {
    char chunk[65536];
    for (;;) {
      const ssize_t n = ::recv(from, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      if (connection.holding) {
        held_ += size_t(n);
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return released_ || stopping_; });
        lock.unlock();
        const bool sent = SendAll(to, chunk, size_t(n));
        held_ -= size_t(n);
        if (!sent) break;
        continue;
      }
      if (!SendAll(to, chunk, size_t(n))) break;
      if (stopped_) answeredWhileStopped_ += size_t(n);
    }
    ::shutdown(to, SHUT_WR);
  }

  int target_;
  int fd_ = -1;
  int port_ = 0;
  bool ok_ = false;
  std::atomic<size_t> held_{0};
  ipp_op_t holdFrom_ = IPP_OP_CUPS_INVALID;
  ipp_op_t stopAfter_ = IPP_OP_CUPS_INVALID;
  pid_t stopPid_ = 0;
  std::atomic<bool> stopped_{false};
  std::atomic<size_t> answeredWhileStopped_{0};
  bool released_ = false;
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> sockets_;
  std::vector<std::thread> pumps_;
  std::thread acceptor_;
};

}  // namespace testipp
