// IPP printers for tests that a real one cannot play: one that answers
// "busy" to the first few jobs before it takes one, and a listener that
// accepts connections and never answers (a printer, or a bus on a Unix
// socket, that hangs). They listen on a free port of the loopback
// interface, chosen when they start. The printer speaks just
// enough IPP over HTTP/1.1 for libcups: printer attributes with Letter
// paper at 300 dpi, Create-Job, Send-Document and the job calls around them.
#pragma once

#include <arpa/inet.h>
#include <cups/cups.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

// A listening socket that accepts and never writes a byte: on 127.0.0.1, or
// a Unix socket at `unixPath` when one is given.
class MuteListener {
 public:
  explicit MuteListener(const std::string& unixPath = {}) {
    if (!unixPath.empty()) {
      fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, unixPath.c_str(), sizeof address.sun_path - 1);
      ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd_, 16) == 0;
    } else {
      ok_ = ListenOnLoopback(fd_, port_);
    }
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
  MuteListener(const MuteListener&) = delete;
  MuteListener& operator=(const MuteListener&) = delete;

  bool ok() const { return ok_; }
  int port() const { return port_; }
  std::string uri() const { return "ipp://127.0.0.1:" + std::to_string(port_) + "/ipp/print"; }
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

class FakeIppPrinter {
 public:
  // Answers server-error-busy to the first `busyAnswers` Create-Job requests.
  explicit FakeIppPrinter(int busyAnswers) : busyLeft_(busyAnswers) {
    ok_ = ListenOnLoopback(fd_, port_);
    acceptor_ = std::thread([this] {
      for (;;) {
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        std::lock_guard<std::mutex> lock(mutex_);
        clients_.push_back(c);
        workers_.emplace_back([this, c] { Serve(c); });
      }
    });
  }
  ~FakeIppPrinter() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    acceptor_.join();
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (int c : clients_) ::shutdown(c, SHUT_RDWR);
      workers.swap(workers_);
    }
    for (auto& t : workers) t.join();
    for (int c : clients_) ::close(c);
  }
  FakeIppPrinter(const FakeIppPrinter&) = delete;
  FakeIppPrinter& operator=(const FakeIppPrinter&) = delete;

  bool ok() const { return ok_; }
  std::string uri() const { return "ipp://127.0.0.1:" + std::to_string(port_) + "/ipp/print"; }
  int busyAnswered() const { return busyAnswered_; }
  int jobsCreated() const { return jobsCreated_; }
  // The documents received, in order.
  std::vector<std::string> documents() {
    std::lock_guard<std::mutex> lock(mutex_);
    return documents_;
  }

 private:
  struct Reader {
    const std::string* data;
    size_t at = 0;
  };
  static ssize_t ReadIpp(void* context, ipp_uchar_t* buffer, size_t bytes) {
    auto* r = static_cast<Reader*>(context);
    const size_t n = std::min(bytes, r->data->size() - r->at);
    std::memcpy(buffer, r->data->data() + r->at, n);
    r->at += n;
    return ssize_t(n);
  }
  static ssize_t WriteIpp(void* context, ipp_uchar_t* buffer, size_t bytes) {
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(buffer), bytes);
    return ssize_t(bytes);
  }

  // Reads more into `in`; false at the end of the connection.
  static bool More(int fd, std::string& in) {
    char chunk[65536];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    in.append(chunk, size_t(n));
    return true;
  }

  static std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }

  // One HTTP request's body; false when the connection ended first.
  static bool ReadRequest(int fd, std::string& in, std::string& body) {
    size_t end;
    while ((end = in.find("\r\n\r\n")) == std::string::npos)
      if (!More(fd, in)) return false;
    const std::string head = Lower(in.substr(0, end));
    in.erase(0, end + 4);
    if (head.find("expect: 100-continue") != std::string::npos) {
      const std::string go = "HTTP/1.1 100 Continue\r\n\r\n";
      if (::write(fd, go.data(), go.size()) < 0) return false;
    }
    body.clear();
    if (head.find("transfer-encoding: chunked") != std::string::npos) {
      for (;;) {
        size_t line;
        while ((line = in.find("\r\n")) == std::string::npos)
          if (!More(fd, in)) return false;
        const size_t size = std::stoul(in.substr(0, line), nullptr, 16);
        in.erase(0, line + 2);
        while (in.size() < size + 2)
          if (!More(fd, in)) return false;
        body.append(in, 0, size);
        in.erase(0, size + 2);
        if (size == 0) return true;
      }
    }
    size_t length = 0;
    if (const size_t at = head.find("content-length:"); at != std::string::npos)
      length = std::stoul(head.substr(at + 15));
    while (in.size() < length)
      if (!More(fd, in)) return false;
    body = in.substr(0, length);
    in.erase(0, length);
    return true;
  }

  void AddPrinterAttributes(ipp_t* response) {
    const std::string u = uri();
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_URI, "printer-uri-supported", nullptr, u.c_str());
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "uri-security-supported", nullptr, "none");
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "uri-authentication-supported", nullptr, "none");
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, "Busy");
    ippAddInteger(response, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_IDLE);
    ippAddBoolean(response, IPP_TAG_PRINTER, "printer-is-accepting-jobs", 1);
    static const int kOperations[] = {IPP_OP_PRINT_JOB,   IPP_OP_VALIDATE_JOB,       IPP_OP_CREATE_JOB,
                                      IPP_OP_SEND_DOCUMENT, IPP_OP_CANCEL_JOB,       IPP_OP_GET_JOB_ATTRIBUTES,
                                      IPP_OP_GET_JOBS,    IPP_OP_GET_PRINTER_ATTRIBUTES};
    ippAddIntegers(response, IPP_TAG_PRINTER, IPP_TAG_ENUM, "operations-supported", int(std::size(kOperations)),
                   kOperations);
    static const char* const kFormats[] = {"image/jpeg", "application/octet-stream"};
    ippAddStrings(response, IPP_TAG_PRINTER, IPP_TAG_MIMETYPE, "document-format-supported", 2, nullptr, kFormats);
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_MIMETYPE, "document-format-default", nullptr, "image/jpeg");
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "media-default", nullptr, "na_letter_8.5x11in");
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "media-supported", nullptr, "na_letter_8.5x11in");
    auto mediaCol = [] {
      ipp_t* col = ippNew();
      ipp_t* size = ippNew();
      ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", 21590);
      ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", 27940);
      ippAddCollection(col, IPP_TAG_ZERO, "media-size", size);
      ippDelete(size);
      for (const char* margin : {"media-bottom-margin", "media-left-margin", "media-right-margin", "media-top-margin"})
        ippAddInteger(col, IPP_TAG_ZERO, IPP_TAG_INTEGER, margin, 635);
      return col;
    };
    ipp_t* col = mediaCol();
    ippAddCollection(response, IPP_TAG_PRINTER, "media-col-default", col);
    ippAddCollection(response, IPP_TAG_PRINTER, "media-col-database", col);
    ippDelete(col);
    ipp_t* size = ippNew();
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", 21590);
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", 27940);
    ippAddCollection(response, IPP_TAG_PRINTER, "media-size-supported", size);
    ippDelete(size);
    ippAddResolution(response, IPP_TAG_PRINTER, "printer-resolution-default", IPP_RES_PER_INCH, 300, 300);
    ippAddResolution(response, IPP_TAG_PRINTER, "printer-resolution-supported", IPP_RES_PER_INCH, 300, 300);
    ippAddRange(response, IPP_TAG_PRINTER, "copies-supported", 1, 99);
    ippAddInteger(response, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "copies-default", 1);
    static const int kOrientations[] = {3, 4};
    ippAddIntegers(response, IPP_TAG_PRINTER, IPP_TAG_ENUM, "orientation-requested-supported", 2, kOrientations);
    static const char* const kVersions[] = {"1.1", "2.0"};
    ippAddStrings(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "ipp-versions-supported", 2, nullptr, kVersions);
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_CHARSET, "charset-configured", nullptr, "utf-8");
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_CHARSET, "charset-supported", nullptr, "utf-8");
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_LANGUAGE, "natural-language-configured", nullptr, "en");
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_LANGUAGE, "generated-natural-language-supported", nullptr, "en");
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "compression-supported", nullptr, "none");
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pdl-override-supported", nullptr, "attempted");
  }

  void AddJob(ipp_t* response, int id, ipp_jstate_t state) {
    ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", id);
    const std::string job = uri() + "/" + std::to_string(id);
    ippAddString(response, IPP_TAG_JOB, IPP_TAG_URI, "job-uri", nullptr, job.c_str());
    ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", state);
    ippAddString(response, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-state-reasons", nullptr, "none");
  }

  std::string Answer(const std::string& body) {
    Reader reader{&body};
    ipp_t* request = ippNew();
    std::string out;
    if (ippReadIO(&reader, ReadIpp, 1, nullptr, request) != IPP_STATE_DATA) {
      ippDelete(request);
      return out;
    }
    const std::string document = body.substr(reader.at);
    ipp_t* response = ippNewResponse(request);
    switch (ippGetOperation(request)) {
      case IPP_OP_GET_PRINTER_ATTRIBUTES: AddPrinterAttributes(response); break;
      case IPP_OP_CREATE_JOB:
        if (busyLeft_ > 0) {
          --busyLeft_;
          ++busyAnswered_;
          ippSetStatusCode(response, IPP_STATUS_ERROR_BUSY);
          ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_TEXT, "status-message", nullptr,
                       "Currently printing another job");
        } else {
          AddJob(response, ++jobsCreated_, IPP_JSTATE_PENDING);
        }
        break;
      case IPP_OP_SEND_DOCUMENT: {
        std::lock_guard<std::mutex> lock(mutex_);
        documents_.push_back(document);
        AddJob(response, jobsCreated_, IPP_JSTATE_COMPLETED);
        break;
      }
      case IPP_OP_GET_JOB_ATTRIBUTES: AddJob(response, jobsCreated_, IPP_JSTATE_COMPLETED); break;
      default: break;  // validate, cancel, get jobs: fine
    }
    ippWriteIO(&out, WriteIpp, 1, nullptr, response);
    ippDelete(response);
    ippDelete(request);
    return out;
  }

  void Serve(int fd) {
    std::string in, body;
    while (ReadRequest(fd, in, body)) {
      const std::string ipp = Answer(body);
      const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nContent-Length: " +
                               std::to_string(ipp.size()) + "\r\n\r\n";
      const std::string reply = head + ipp;
      if (::write(fd, reply.data(), reply.size()) < 0) return;
    }
  }

  int fd_ = -1;
  int port_ = 0;
  bool ok_ = false;
  std::atomic<int> busyLeft_;
  std::atomic<int> busyAnswered_{0};
  std::atomic<int> jobsCreated_{0};
  std::mutex mutex_;
  std::vector<int> clients_;
  std::vector<std::thread> workers_;
  std::vector<std::string> documents_;
  std::thread acceptor_;
};

}  // namespace testing_support
