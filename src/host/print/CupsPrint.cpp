#include "host/print/CupsPrint.h"

#include <cups/cups.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "host/sys/Termination.h"

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnectTimeoutMs = 10000;
// How often libcups's own wait asks whether to go on, and how often the
// watch of a connection looks at the wall clock and the request to end.
constexpr double kWaitSliceSeconds = 0.25;
constexpr auto kWatchSlice = std::chrono::milliseconds(100);

// The wait of one connection for its answers. libcups asks KeepWaiting only
// after a silent slice, so an answer that trickles in a byte at a time would
// never be given up there: a watch thread keeps the limit and the request to
// end on the wall clock, and shuts the connection's socket down when either
// is reached, which ends any read or write on it at once.
class AnswerWait {
 public:
  explicit AnswerWait(std::chrono::seconds limit) : limit_(limit) { Restart(); }
  ~AnswerWait() { Stop(); }
  AnswerWait(const AnswerWait&) = delete;
  AnswerWait& operator=(const AnswerWait&) = delete;

  // Starts watching the connection's socket.
  void Watch(int fd) {
    watch_ = std::thread([this, fd] {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!stop_) {
        if (TerminationRequested() || Clock::now() >= deadline_) {
          gaveUp_ = true;
          ::shutdown(fd, SHUT_RDWR);
          return;
        }
        changed_.wait_for(lock, kWatchSlice);
      }
    });
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    if (watch_.joinable()) watch_.join();
  }
  // A new request: its answer has the whole limit.
  void Restart() {
    std::lock_guard<std::mutex> lock(mutex_);
    deadline_ = Clock::now() + limit_;
  }
  bool gaveUp() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return gaveUp_ || TerminationRequested() || Clock::now() >= deadline_;
  }
  std::chrono::seconds limit() const { return limit_; }

 private:
  const std::chrono::seconds limit_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Clock::time_point deadline_;
  bool gaveUp_ = false;
  bool stop_ = false;
  std::thread watch_;
};

// libcups calls this each time a slice of the wait has passed without an
// answer; 0 gives the wait up.
int KeepWaiting(http_t*, void* context) { return static_cast<AnswerWait*>(context)->gaveUp() ? 0 : 1; }

bool IsPrinterURI(const std::string& s) { return s.rfind("ipp://", 0) == 0 || s.rfind("ipps://", 0) == 0; }

struct Dest {
  cups_dest_t* dest = nullptr;
  http_t* http = nullptr;
  cups_dinfo_t* info = nullptr;
  std::string resource;
  AnswerWait wait{PrinterAnswerLimit()};
  ~Dest() {
    wait.Stop();
    if (info) cupsFreeDestInfo(info);
    if (http) httpClose(http);
    if (dest) cupsFreeDests(1, dest);
  }
};

std::string LastError(const char* what) {
  const char* text = cupsLastErrorString();
  return std::string(what) + ": " + (text && *text ? text : "no reason given");
}

// What to say about a request that failed: the program is ending, the
// printer did not answer in time, or what libcups says.
std::string WhyNoAnswer(const Dest& d, const char* what) {
  if (TerminationRequested()) return kStoppedText;
  if (d.wait.gaveUp())
    return std::string(what) + ": the printer did not answer within " + std::to_string(d.wait.limit().count()) +
           " s";
  return LastError(what);
}

// Finds and connects to the destination.
std::unique_ptr<Dest> OpenDest(const std::string& destination, std::string* error) {
  std::string name = destination;
  if (name.empty()) {
    if (const char* e = std::getenv("LPDEST"); e && *e) name = e;
    else if (const char* p = std::getenv("PRINTER"); p && *p) name = p;
  }
  auto d = std::make_unique<Dest>();
  if (IsPrinterURI(name)) d->dest = cupsGetDestWithURI("kivo", name.c_str());
  else d->dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.empty() ? nullptr : name.c_str(), nullptr);
  if (!d->dest) {
    if (error)
      *error = name.empty() ? LastError("no default printer") : LastError(("printer \"" + name + "\" not found").c_str());
    return nullptr;
  }
  char resource[1024] = {};
  // A printer named by its URI is reached directly, not through a scheduler.
  const unsigned flags = IsPrinterURI(name) ? CUPS_DEST_FLAGS_DEVICE : CUPS_DEST_FLAGS_NONE;
  // The connection gives way to a request to end the program, and so does
  // every wait for an answer on it.
  d->http = cupsConnectDest(d->dest, flags, kConnectTimeoutMs, TerminationCancelFlag(), resource, sizeof resource,
                            nullptr, nullptr);
  if (!d->http) {
    if (error) *error = TerminationRequested() ? std::string(kStoppedText) : LastError("the printer cannot be reached");
    return nullptr;
  }
  d->resource = resource;
  httpSetTimeout(d->http, kWaitSliceSeconds, KeepWaiting, &d->wait);
  d->wait.Restart();
  d->wait.Watch(httpGetFd(d->http));
  d->info = cupsCopyDestInfo(d->http, d->dest);
  if (!d->info) {
    if (error) *error = WhyNoAnswer(*d, "the printer gives no information");
    return nullptr;
  }
  return d;
}

// A request about jobs of the destination, from this user.
ipp_t* NewJobsRequest(const Dest& d, ipp_op_t operation) {
  ipp_t* request = ippNewRequest(operation);
  const char* uri = cupsGetOption("printer-uri-supported", d.dest->num_options, d.dest->options);
  if (!uri) uri = cupsGetOption("device-uri", d.dest->num_options, d.dest->options);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri ? uri : "ipp://localhost/");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  return request;
}

void AskForJobAttributes(ipp_t* request) {
  static const char* const kWanted[] = {"job-id", "job-name", "job-state", "number-of-documents"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(kWanted)), nullptr,
                kWanted);
}

// What the destination says of one of its jobs.
struct JobState {
  int id = 0;
  std::string name;
  int state = 0;
  int documents = -1;  // not said
  // The destination has the document: it prints or printed it, or counts it.
  bool HasDocument() const {
    if (state == IPP_JSTATE_PROCESSING || state == IPP_JSTATE_STOPPED || state == IPP_JSTATE_COMPLETED) return true;
    return (state == IPP_JSTATE_PENDING || state == IPP_JSTATE_HELD) && documents > 0;
  }
  bool WaitsForDocument() const { return (state == IPP_JSTATE_PENDING || state == IPP_JSTATE_HELD) && !HasDocument(); }
};

// The jobs described in an answer, one per group of job attributes.
std::vector<JobState> JobsOf(ipp_t* answer) {
  std::vector<JobState> jobs;
  bool open = false;
  for (ipp_attribute_t* a = ippFirstAttribute(answer); a; a = ippNextAttribute(answer)) {
    const char* name = ippGetName(a);
    if (ippGetGroupTag(a) != IPP_TAG_JOB || !name) {
      open = false;
      continue;
    }
    if (!open) {
      jobs.emplace_back();
      open = true;
    }
    JobState& job = jobs.back();
    const std::string n = name;
    if (n == "job-id") job.id = ippGetInteger(a, 0);
    else if (n == "job-state") job.state = ippGetInteger(a, 0);
    else if (n == "number-of-documents") job.documents = ippGetInteger(a, 0);
    else if (n == "job-name" && ippGetString(a, 0, nullptr)) job.name = ippGetString(a, 0, nullptr);
  }
  return jobs;
}

// Sends `request` (taken over) and returns the answer, or null with `error`.
ipp_t* Ask(Dest& d, ipp_t* request, const char* what, std::string* error) {
  d.wait.Restart();
  ipp_t* answer = cupsDoRequest(d.http, request, d.resource.c_str());
  if (!answer || ippGetStatusCode(answer) > IPP_STATUS_OK_CONFLICTING) {
    if (error) *error = WhyNoAnswer(d, what);
    ippDelete(answer);
    return nullptr;
  }
  return answer;
}

// The state of job `id`; none when the destination cannot say.
std::optional<JobState> StateOfJob(const std::string& destination, int id, std::string* error) {
  auto d = OpenDest(destination, error);
  if (!d) return std::nullopt;
  ipp_t* request = NewJobsRequest(*d, IPP_OP_GET_JOB_ATTRIBUTES);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
  AskForJobAttributes(request);
  ipp_t* answer = Ask(*d, request, "the printer does not say what became of the job", error);
  if (!answer) return std::nullopt;
  std::vector<JobState> jobs = JobsOf(answer);
  ippDelete(answer);
  if (jobs.empty() || jobs.front().state == 0) {
    if (error) *error = "the printer does not say what became of the job";
    return std::nullopt;
  }
  jobs.front().id = id;
  return jobs.front();
}

// The jobs of this user named `name`, as the destination lists them; empty
// when it lists none or cannot list them.
std::vector<JobState> JobsNamed(Dest& d, const std::string& name) {
  ipp_t* request = NewJobsRequest(d, IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
  ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
  AskForJobAttributes(request);
  std::string error;
  ipp_t* answer = Ask(d, request, "the printer does not list its jobs", &error);
  if (!answer) {
    std::fprintf(stderr, "Looking for an earlier try of the job: %s\n", error.c_str());
    return {};
  }
  std::vector<JobState> jobs = JobsOf(answer);
  ippDelete(answer);
  std::erase_if(jobs, [&](const JobState& j) { return j.name != name || j.id <= 0; });
  return jobs;
}

}  // namespace

std::optional<PrinterPaper> QueryPrinterPaper(const std::string& destination, const std::string& media,
                                              std::string* error) {
  auto d = OpenDest(destination, error);
  if (!d) return std::nullopt;
  cups_size_t size{};
  bool found = false;
  if (!media.empty())
    found = cupsGetDestMediaByName(d->http, d->dest, d->info, media.c_str(), CUPS_MEDIA_FLAGS_DEFAULT, &size) != 0;
  if (!found) found = cupsGetDestMediaDefault(d->http, d->dest, d->info, CUPS_MEDIA_FLAGS_DEFAULT, &size) != 0;
  if (!found || size.width <= 0 || size.length <= 0) {
    if (error) *error = LastError("the printer names no paper");
    return std::nullopt;
  }
  PrinterPaper paper;
  paper.media = size.media;
  paper.widthHundredthsMM = size.width;
  paper.lengthHundredthsMM = size.length;
  paper.topMarginHundredthsMM = size.top;
  paper.leftMarginHundredthsMM = size.left;
  paper.bottomMarginHundredthsMM = size.bottom;
  paper.rightMarginHundredthsMM = size.right;
  if (ipp_attribute_t* modes = cupsFindDestSupported(d->http, d->dest, d->info, "print-color-mode")) {
    for (int i = 0, n = ippGetCount(modes); i < n; ++i) {
      const char* mode = ippGetString(modes, i, nullptr);
      if (mode && std::string(mode) == "color") paper.color = true;
    }
  }
  paper.xdpi = paper.ydpi = 300;
  auto dpi = [](int value, ipp_res_t units) { return units == IPP_RES_PER_CM ? int(value * 2.54 + 0.5) : value; };
  if (ipp_attribute_t* res = cupsFindDestDefault(d->http, d->dest, d->info, "printer-resolution")) {
    ipp_res_t units{};
    int y = 0;
    const int x = ippGetResolution(res, 0, &y, &units);
    if (x > 0 && y > 0) {
      paper.xdpi = dpi(x, units);
      paper.ydpi = dpi(y, units);
    }
  }
  if (ipp_attribute_t* res = cupsFindDestSupported(d->http, d->dest, d->info, "printer-resolution")) {
    for (int i = 0, n = ippGetCount(res); i < n; ++i) {
      ipp_res_t units{};
      int y = 0;
      if (ippGetResolution(res, i, &y, &units) > 0 && y > 0) paper.supportedDpi.push_back(dpi(y, units));
    }
  }
  std::sort(paper.supportedDpi.begin(), paper.supportedDpi.end());
  paper.supportedDpi.erase(std::unique(paper.supportedDpi.begin(), paper.supportedDpi.end()), paper.supportedDpi.end());
  return paper;
}

std::chrono::seconds PrinterAnswerLimit() {
  if (const char* v = std::getenv("KIVO_PRINTER_ANSWER_LIMIT"); v && *v) {
    char* end = nullptr;
    const long seconds = std::strtol(v, &end, 10);
    if (*end == '\0' && seconds >= 1 && seconds <= 3600) return std::chrono::seconds(seconds);
  }
  return std::chrono::seconds(60);
}

PrintJobResult SubmitPrintJob(const PrintJobRequest& r) {
  PrintJobResult result;
  auto d = OpenDest(r.destination, &result.message);
  auto stopped = [&] {
    result.interrupted = TerminationRequested();
    return result;
  };
  if (!d) return stopped();
  // A request that failed: its status, whether the printer only said it is
  // busy, and why (or that the program is ending).
  auto refused = [&](int status, const char* what) {
    result.ippStatus = status;
    result.busy = status == IPP_STATUS_ERROR_BUSY;
    result.message = WhyNoAnswer(*d, what);
  };
  const char* title = r.jobName.empty() ? "Kivo-Processor" : r.jobName.c_str();
  if (r.lookForEarlierJob && !r.jobName.empty()) {
    for (const JobState& earlier : JobsNamed(*d, r.jobName)) {
      if (earlier.HasDocument()) {
        result.ok = true;
        result.alreadyThere = true;
        result.jobID = earlier.id;
        result.message = "the printer has had the document since an earlier try";
        return result;
      }
      // A job left without its document would wait there for ever.
      if (earlier.WaitsForDocument()) cupsCancelDestJob(d->http, d->dest, earlier.id);
    }
    if (TerminationRequested()) {
      result.message = kStoppedText;
      return stopped();
    }
  }

  FILE* file = nullptr;
  if (r.documentFd >= 0) {
    const int copy = ::dup(r.documentFd);
    if (copy >= 0 && ::lseek(copy, 0, SEEK_SET) == 0) file = ::fdopen(copy, "rb");
    if (!file && copy >= 0) ::close(copy);
  } else {
    file = std::fopen(r.documentPath.c_str(), "rb");
  }
  if (!file) {
    result.message = "the document " + r.documentPath + " cannot be read";
    return result;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> closer(file, std::fclose);

  cups_option_t* options = nullptr;
  int count = 0;
  count = cupsAddIntegerOption("copies", r.copies < 1 ? 1 : r.copies, count, &options);
  if (r.orientationRequested == 3 || r.orientationRequested == 4)
    count = cupsAddIntegerOption("orientation-requested", r.orientationRequested, count, &options);
  if (!r.media.empty()) count = cupsAddOption("media", r.media.c_str(), count, &options);

  int jobID = 0;
  d->wait.Restart();
  ipp_status_t status = cupsCreateDestJob(d->http, d->dest, d->info, &jobID, title, count, options);
  if (status > IPP_STATUS_OK_CONFLICTING || jobID <= 0 || d->wait.gaveUp()) {
    refused(status, "the printer refused the job");
    cupsFreeOptions(count, options);
    return stopped();
  }
  result.jobID = jobID;
  d->wait.Restart();
  if (cupsStartDestDocument(d->http, d->dest, d->info, jobID, title, r.documentFormat.c_str(), 0, nullptr, 1) !=
      HTTP_STATUS_CONTINUE) {
    refused(cupsLastError(), "the printer refused the document");
    if (!d->wait.gaveUp()) cupsCancelDestJob(d->http, d->dest, jobID);
    cupsFreeOptions(count, options);
    return stopped();
  }
  std::vector<char> buffer(64 * 1024);
  bool written = true;
  size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
    d->wait.Restart();
    if (cupsWriteRequestData(d->http, buffer.data(), n) != HTTP_STATUS_CONTINUE) { written = false; break; }
  }
  if (std::ferror(file)) written = false;
  d->wait.Restart();
  status = cupsFinishDestDocument(d->http, d->dest, d->info);
  cupsFreeOptions(count, options);
  result.ippStatus = status;
  // A wait given up is never success, whatever status libcups kept from
  // before.
  const bool gaveUp = d->wait.gaveUp();
  if (written && !gaveUp && status <= IPP_STATUS_OK_CONFLICTING) {
    result.ok = true;
    return result;
  }
  refused(status, "the document could not be sent");
  if (TerminationRequested()) return stopped();
  if (!gaveUp) return result;
  // The printer took the document, or part of it, and did not answer: it is
  // asked over a new connection what became of the job.
  d.reset();
  std::string why;
  const std::optional<JobState> job = StateOfJob(r.destination, jobID, &why);
  if (job && job->HasDocument()) {
    result.ok = true;
    result.message = "the printer did not answer but has the document";
    return result;
  }
  if (TerminationRequested()) return stopped();
  if (job) {
    std::string ignored;
    if (auto again = OpenDest(r.destination, &ignored); again && job->WaitsForDocument())
      cupsCancelDestJob(again->http, again->dest, jobID);
    result.message += "; the printer has the job without its document";
  } else {
    result.message += "; " + why;
  }
  return result;
}

}  // namespace host
