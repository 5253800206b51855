// IPP printers for tests that a real one cannot play: one that answers
// "busy" to the first few jobs before it takes one, and a listener that
// accepts connections and never answers (a printer, or a bus on a Unix
// socket, that hangs). They listen on a free port of the loopback
// interface, chosen when they start. The printer speaks just
// enough IPP over HTTP/1.1 for libcups: printer attributes with Letter
// paper at 300 dpi, Create-Job, Send-Document and the job calls around them.
// It keeps its jobs by name and state, so that Get-Jobs and
// Get-Job-Attributes tell what it has, and it can be made to take a document
// and then never answer, hold an answer until the test releases it, or drip
// its answer one header line every 0.2 s. It can list finished jobs without
// their names, as cupsd does right after a job completes, forget finished
// jobs at once, as a printer that keeps no history does, and forget all its
// jobs and count them from 1 again, as a restarted printer does.
#pragma once

#include <arpa/inet.h>
#include <cups/cups.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/Sockets.h"

namespace testing_support {

// A listening socket that accepts and never writes a byte: on 127.0.0.1, or
// a Unix socket at `unixPath` when one is given.
class MuteListener {
 public:
  explicit MuteListener(const std::string& unixPath = {}) {
    if (!unixPath.empty()) {
      ok_ = ListenOnUnixSocket(fd_, unixPath);
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
  // What the printer does once it has read a Send-Document request.
  enum class AfterDocument {
    kAnswer,       // answers at once; the job is completed
    kNeverAnswer,  // never answers (the connection stays open)
    kHold,         // answers once Release() is called (the job has its document)
    kDrip,         // one header line every 0.2 s, without end
  };

  // Answers server-error-busy to the first `busyAnswers` Create-Job requests.
  explicit FakeIppPrinter(int busyAnswers, AfterDocument after = AfterDocument::kAnswer)
      : busyLeft_(busyAnswers), after_(after) {
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
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      released_ = true;
    }
    changed_.notify_all();
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
  // The names of the jobs created, in order.
  std::vector<std::string> jobNames() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const Job& j : jobs_) names.push_back(j.name);
    return names;
  }
  int getJobsAsked() const { return getJobsAsked_; }
  int jobAttributesAsked() const { return jobAttributesAsked_; }
  int cancelled() const { return cancelled_; }
  // Whether a document that was taken without an answer counts as had: a
  // job that has it says "processing" when asked, one that lost it stays
  // pending without documents.
  void SetKeepsUnansweredDocuments(bool keeps) { keepsUnanswered_ = keeps; }
  // Holds every Create-Job answer (the job is made first) until Release().
  void HoldCreateJob() { holdCreate_ = true; }
  // Lets held answers go, and all later ones at once.
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }
  // Whether an answer is being held now.
  bool holding() const { return holding_ > 0; }
  // Whether Get-Jobs names the jobs that have finished (by default it does).
  void SetNamesFinishedJobs(bool names) { namesFinished_ = names; }
  // Whether a job is forgotten the moment it finishes.
  void SetForgetsFinishedJobs(bool forgets) { forgetsFinished_ = forgets; }
  // Forgets every job and counts new ones from 1 again.
  void ForgetJobs() {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.clear();
    nextId_ = 0;
  }
  // A finished job of another client's, under the next id.
  void AddFinishedJob(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    Job job;
    job.id = ++nextId_;
    job.name = name;
    job.state = IPP_JSTATE_COMPLETED;
    job.documents = 1;
    jobs_.push_back(job);
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

  struct Job {
    int id = 0;
    std::string name;
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    int documents = 0;
  };

  // The job's attributes; a listing of a scheduler's finished job gives its
  // id and state only.
  void AddJob(ipp_t* response, const Job& job, bool listing = false) {
    const bool bare = listing && !namesFinished_ && job.state >= IPP_JSTATE_CANCELED;
    ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", job.id);
    const std::string uriText = uri() + "/" + std::to_string(job.id);
    ippAddString(response, IPP_TAG_JOB, IPP_TAG_URI, "job-uri", nullptr, uriText.c_str());
    if (!bare) ippAddString(response, IPP_TAG_JOB, IPP_TAG_NAME, "job-name", nullptr, job.name.c_str());
    ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", job.state);
    ippAddString(response, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-state-reasons", nullptr, "none");
    if (!bare) ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_INTEGER, "number-of-documents", job.documents);
  }

  // The job a request names by its job-id (or job-uri); null when none.
  Job* JobOf(ipp_t* request) {
    int id = 0;
    if (ipp_attribute_t* a = ippFindAttribute(request, "job-id", IPP_TAG_INTEGER)) {
      id = ippGetInteger(a, 0);
    } else if (ipp_attribute_t* u = ippFindAttribute(request, "job-uri", IPP_TAG_URI)) {
      const std::string text = ippGetString(u, 0, nullptr);
      id = std::atoi(text.substr(text.rfind('/') + 1).c_str());
    }
    for (Job& j : jobs_)
      if (j.id == id) return &j;
    return nullptr;
  }

  std::string Answer(const std::string& body, ipp_op_t* operation) {
    Reader reader{&body};
    ipp_t* request = ippNew();
    std::string out;
    *operation = IPP_OP_CUPS_INVALID;
    if (ippReadIO(&reader, ReadIpp, 1, nullptr, request) != IPP_STATE_DATA) {
      ippDelete(request);
      return out;
    }
    const std::string document = body.substr(reader.at);
    ipp_t* response = ippNewResponse(request);
    *operation = ippGetOperation(request);
    std::lock_guard<std::mutex> lock(mutex_);
    switch (*operation) {
      case IPP_OP_GET_PRINTER_ATTRIBUTES: AddPrinterAttributes(response); break;
      case IPP_OP_CREATE_JOB:
        if (busyLeft_ > 0) {
          --busyLeft_;
          ++busyAnswered_;
          ippSetStatusCode(response, IPP_STATUS_ERROR_BUSY);
          ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_TEXT, "status-message", nullptr,
                       "Currently printing another job");
        } else {
          Job job;
          ++jobsCreated_;
          job.id = ++nextId_;
          if (ipp_attribute_t* a = ippFindAttribute(request, "job-name", IPP_TAG_NAME))
            job.name = ippGetString(a, 0, nullptr);
          jobs_.push_back(job);
          AddJob(response, job);
        }
        break;
      case IPP_OP_SEND_DOCUMENT: {
        documents_.push_back(document);
        if (Job* job = JobOf(request)) {
          // A held answer is late, not lost: that printer has the document.
          const bool had = after_ == AfterDocument::kAnswer || after_ == AfterDocument::kHold || keepsUnanswered_;
          job->documents = had ? 1 : 0;
          job->state = after_ == AfterDocument::kAnswer ? IPP_JSTATE_COMPLETED
                       : had                             ? IPP_JSTATE_PROCESSING
                                                         : IPP_JSTATE_PENDING;
          AddJob(response, *job);
          if (forgetsFinished_ && job->state == IPP_JSTATE_COMPLETED)
            std::erase_if(jobs_, [&](const Job& j) { return j.id == job->id; });
        }
        break;
      }
      case IPP_OP_GET_JOB_ATTRIBUTES:
        ++jobAttributesAsked_;
        if (Job* job = JobOf(request)) AddJob(response, *job);
        else ippSetStatusCode(response, IPP_STATUS_ERROR_NOT_FOUND);
        break;
      case IPP_OP_GET_JOBS:
        ++getJobsAsked_;
        for (const Job& job : jobs_) {
          ippAddSeparator(response);
          AddJob(response, job, true);
        }
        break;
      case IPP_OP_CANCEL_JOB:
        if (Job* job = JobOf(request)) {
          job->state = IPP_JSTATE_CANCELED;
          ++cancelled_;
        }
        break;
      default: break;  // validate: fine
    }
    ippWriteIO(&out, WriteIpp, 1, nullptr, response);
    ippDelete(response);
    ippDelete(request);
    return out;
  }

  // Waits until Release() or the end; false at the end.
  bool WaitForRelease() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++holding_;
    changed_.wait(lock, [&] { return released_ || stopping_; });
    --holding_;
    return !stopping_;
  }

  void Serve(int fd) {
    std::string in, body;
    while (ReadRequest(fd, in, body)) {
      ipp_op_t operation{};
      const std::string ipp = Answer(body, &operation);
      if (operation == IPP_OP_CREATE_JOB && holdCreate_ && !WaitForRelease()) return;
      if (operation == IPP_OP_SEND_DOCUMENT) {
        if (after_ == AfterDocument::kNeverAnswer) {
          std::unique_lock<std::mutex> lock(mutex_);
          changed_.wait(lock, [&] { return stopping_; });
          return;
        }
        if (after_ == AfterDocument::kHold && !WaitForRelease()) return;
        if (after_ == AfterDocument::kDrip) {
          const std::string start = "HTTP/1.1 200 OK\r\n";
          if (::send(fd, start.data(), start.size(), MSG_NOSIGNAL) < 0) return;
          for (int n = 0;; ++n) {
            std::unique_lock<std::mutex> lock(mutex_);
            if (changed_.wait_for(lock, std::chrono::milliseconds(200), [&] { return stopping_; })) return;
            lock.unlock();
            const std::string line = "X-Drip: " + std::to_string(n) + "\r\n";
            if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) < 0) return;
          }
        }
      }
      const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nContent-Length: " +
                               std::to_string(ipp.size()) + "\r\n\r\n";
      const std::string reply = head + ipp;
      if (::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) return;
    }
  }

  int fd_ = -1;
  int port_ = 0;
  bool ok_ = false;
  std::atomic<int> busyLeft_;
  std::atomic<int> busyAnswered_{0};
  std::atomic<int> jobsCreated_{0};
  int nextId_ = 0;
  std::atomic<bool> namesFinished_{true};
  std::atomic<bool> forgetsFinished_{false};
  const AfterDocument after_;
  std::atomic<bool> keepsUnanswered_{false};
  std::atomic<bool> holdCreate_{false};
  std::atomic<int> getJobsAsked_{0};
  std::atomic<int> jobAttributesAsked_{0};
  std::atomic<int> cancelled_{0};
  std::atomic<int> holding_{0};
  bool released_ = false;
  bool stopping_ = false;
  std::condition_variable changed_;
  std::vector<Job> jobs_;
  std::mutex mutex_;
  std::vector<int> clients_;
  std::vector<std::thread> workers_;
  std::vector<std::string> documents_;
  std::thread acceptor_;
};

}  // namespace testing_support
