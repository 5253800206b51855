#include "host/print/CupsPrint.h"

#include <cups/cups.h>
#include <cups/pwg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "host/base/EnvironmentLimit.h"
#include "host/sys/Termination.h"

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnectTimeoutMs = 10000;
// How often libcups's own wait asks whether to go on, and how often the
// watch of a connection looks at the wall clock and the request to end.
constexpr double kWaitSliceSeconds = 0.25;
constexpr auto kWatchSlice = std::chrono::milliseconds(100);
// The time an answer already waiting in the socket when a wait ends gets
// to be read, once per request.
constexpr auto kReadGrace = std::chrono::seconds(3);
// A look at the wait this long after the one before means the program was
// stopped (or the machine held it) in between.
constexpr auto kStoppedGap = std::chrono::seconds(2);

// Whether something waits to be read on `fd` (bytes, or the peer's end).
bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

// The wait of one connection for its answers. libcups asks KeepWaiting only
// after a silent slice, so an answer that trickles in a byte at a time would
// never be given up there: a watch thread keeps the limit and the request to
// end on the wall clock, and shuts the connection's socket down when either
// is reached, which ends any read or write on it at once.
//
// A wait is judged over only when nothing of the answer waits in the
// socket. After the program was stopped (SIGSTOP) the clock is past the
// limit while the answer the printer sent meanwhile lies unread: the reader
// then gets kReadGrace, once per request, to take it. Both threads wake
// from a stop together, and the reader may already have taken the answer
// out of the socket when the watch looks, so a look that finds the wait
// unwatched for kStoppedGap gives the reader kReadGrace as well. A request
// read to its end was answered, whatever the clock says afterwards.
class AnswerWait {
 public:
  explicit AnswerWait(std::chrono::seconds limit) : limit_(limit) {}
  ~AnswerWait() { Stop(); }
  AnswerWait(const AnswerWait&) = delete;
  AnswerWait& operator=(const AnswerWait&) = delete;

  // Starts watching the connection's socket.
  void Watch(int fd) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fd_ = fd;
    }
    watch_ = std::thread([this] {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!stop_) {
        if (inRequest_ && !GoOn()) {
          ::shutdown(fd_, SHUT_RDWR);
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
  // A request begins: its answer has the whole limit.
  void Begin() {
    std::lock_guard<std::mutex> lock(mutex_);
    inRequest_ = true;
    graceGiven_ = false;
    lastLook_ = Clock::now();
    deadline_ = lastLook_ + limit_;
  }
  // The request is over; true when its wait was given up. Between requests
  // the watch leaves the connection alone.
  bool End() {
    std::lock_guard<std::mutex> lock(mutex_);
    inRequest_ = false;
    return gaveUp_;
  }
  // libcups's question after a slice without an answer: false gives the
  // wait up.
  bool KeepWaiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return GoOn();
  }
  // Whether a wait on this connection was given up (the connection is of
  // no more use then), or the program is ending.
  bool gaveUp() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return gaveUp_ || TerminationRequested();
  }
  std::chrono::seconds limit() const { return limit_; }

 private:
  // Whether the request's wait goes on; once it does not, it never does.
  // Called with the lock held.
  bool GoOn() {
    if (gaveUp_) return false;
    const Clock::time_point now = Clock::now();
    if (now - lastLook_ > kStoppedGap && deadline_ < now + kReadGrace) deadline_ = now + kReadGrace;
    lastLook_ = now;
    if (!TerminationRequested() && now < deadline_) return true;
    if (!graceGiven_ && fd_ >= 0 && Readable(fd_)) {
      graceGiven_ = true;
      deadline_ = Clock::now() + kReadGrace;
      return true;
    }
    gaveUp_ = true;
    return false;
  }

  const std::chrono::seconds limit_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Clock::time_point deadline_;
  Clock::time_point lastLook_;
  int fd_ = -1;
  bool inRequest_ = false;
  bool graceGiven_ = false;
  bool gaveUp_ = false;
  bool stop_ = false;
  std::thread watch_;
};

// libcups calls this each time a slice of the wait has passed without an
// answer; 0 gives the wait up.
int KeepWaiting(http_t*, void* context) { return static_cast<AnswerWait*>(context)->KeepWaiting() ? 1 : 0; }

bool IsPrinterURI(const std::string& s) { return s.rfind("ipp://", 0) == 0 || s.rfind("ipps://", 0) == 0; }

struct Dest {
  cups_dest_t* dest = nullptr;
  http_t* http = nullptr;
  cups_dinfo_t* info = nullptr;
  std::string resource;
  // The destination as found: its CUPS name, or the printer URI it was
  // named by.
  std::string name;
  // The print scheduler a queue was found at ("localhost:631", or its
  // socket's path); empty for a printer named by its URI.
  std::string scheduler;
  AnswerWait wait{PrinterAnswerLimit()};
  ~Dest() {
    wait.Stop();
    if (info) cupsFreeDestInfo(info);
    if (http) httpClose(http);
    if (dest) cupsFreeDests(1, dest);
  }
  // Runs one request on the connection within the answer limit; true when
  // its wait was given up.
  template <class Request>
  bool Within(Request request) {
    wait.Begin();
    request();
    return wait.End();
  }
  // The URI requests about jobs name the printer by.
  std::string PrinterURI() const {
    const char* uri = cupsGetOption("printer-uri-supported", dest->num_options, dest->options);
    if (!uri) uri = cupsGetOption("device-uri", dest->num_options, dest->options);
    return uri ? uri : "ipp://localhost/";
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

// The path of an IPP URI ("/printers/Q" of "ipp://host:631/printers/Q").
std::string ResourceOf(const std::string& uri) {
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user, host, sizeof host,
                      &port, resource, sizeof resource) < HTTP_URI_STATUS_OK)
    return "/";
  return resource;
}

// Finds and connects to the destination. A destination named by its URI is
// reached directly; any other through the scheduler (CUPS_SERVER, in every
// form libcups takes: "host:port", an address, a socket path), over one
// connection made to the scheduler itself, which then also answers for the
// destination's attributes whatever host name its URIs carry. `unreachable`
// tells a printer or scheduler that cannot be reached from one that answered.
std::unique_ptr<Dest> OpenDest(const std::string& destination, std::string* error, bool* unreachable = nullptr) {
  if (unreachable) *unreachable = false;
  std::string name = destination;
  if (name.empty()) {
    if (const char* e = std::getenv("LPDEST"); e && *e) name = e;
    else if (const char* p = std::getenv("PRINTER"); p && *p) name = p;
  }
  auto d = std::make_unique<Dest>();
  auto cannotReach = [&](const std::string& what) {
    if (unreachable) *unreachable = !TerminationRequested();
    if (error) *error = TerminationRequested() ? std::string(kStoppedText) : LastError(what.c_str());
    return nullptr;
  };
  // The connection gives way to a request to end the program, and so does
  // every wait for an answer on it.
  auto watch = [&] {
    httpSetTimeout(d->http, kWaitSliceSeconds, KeepWaiting, &d->wait);
    d->wait.Watch(httpGetFd(d->http));
  };
  if (IsPrinterURI(name)) {
    d->dest = cupsGetDestWithURI("kivo", name.c_str());
    if (!d->dest) {
      if (error) *error = LastError(("the printer address \"" + name + "\" is not usable").c_str());
      return nullptr;
    }
    char resource[1024] = {};
    d->http = cupsConnectDest(d->dest, CUPS_DEST_FLAGS_DEVICE, kConnectTimeoutMs, TerminationCancelFlag(), resource,
                              sizeof resource, nullptr, nullptr);
    if (!d->http) return cannotReach("the printer cannot be reached");
    d->resource = resource;
    watch();
  } else {
    const std::string server = cupsServer();
    d->http = httpConnect2(server.c_str(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectTimeoutMs,
                           TerminationCancelFlag());
    d->scheduler = server.rfind('/', 0) == 0 ? server : server + ":" + std::to_string(ippPort());
    if (!d->http) return cannotReach("the print scheduler at " + d->scheduler + " cannot be reached");
    watch();
    const char* wanted = name.empty() ? nullptr : name.c_str();
    const bool gaveUp = d->Within([&] { d->dest = cupsGetNamedDest(d->http, wanted, nullptr); });
    if (!d->dest) {
      if (error)
        *error = gaveUp || TerminationRequested() ? WhyNoAnswer(*d, "the print scheduler does not answer")
                 : name.empty()                   ? LastError("no default printer")
                                                  : LastError(("printer \"" + name + "\" not found").c_str());
      return nullptr;
    }
    d->resource = ResourceOf(d->PrinterURI());
  }
  d->name = IsPrinterURI(name) || !d->dest->name ? name : std::string(d->dest->name);
  d->Within([&] { d->info = cupsCopyDestInfo(d->http, d->dest); });
  // libcups connects lazily: a printer that cannot be reached shows here.
  if (!d->info && !d->wait.gaveUp() && cupsLastError() == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE)
    return cannotReach("the printer cannot be reached");
  if (!d->info) {
    if (error) *error = WhyNoAnswer(*d, "the printer gives no information");
    return nullptr;
  }
  return d;
}

// A request about jobs of the printer `printerURI` (by default the
// destination's own), from this user.
ipp_t* NewJobsRequest(const Dest& d, ipp_op_t operation, const std::string& printerURI = {}) {
  ipp_t* request = ippNewRequest(operation);
  const std::string uri = printerURI.empty() ? d.PrinterURI() : printerURI;
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  return request;
}

void AskForJobAttributes(ipp_t* request) {
  static const char* const kWanted[] = {"job-id",          "job-name",  "job-state", "number-of-documents",
                                        "job-originating-user-name", "date-time-at-creation"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(kWanted)), nullptr,
                kWanted);
}

// What the destination says of one of its jobs.
struct JobState {
  int id = 0;
  std::string name;  // empty: not said
  int state = 0;
  int documents = -1;  // not said
  std::string user;    // whose job it is; empty: not said
  time_t created = 0;  // when it was made; 0: not said
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
    else if (n == "job-originating-user-name" && ippGetString(a, 0, nullptr)) job.user = ippGetString(a, 0, nullptr);
    else if (n == "date-time-at-creation" && ippGetValueTag(a) == IPP_TAG_DATE) job.created = ippDateToTime(ippGetDate(a, 0));
  }
  return jobs;
}

// Sends `request` (taken over) and returns the answer, whatever its status,
// or null with `error` when none came.
ipp_t* AskForAnswer(Dest& d, ipp_t* request, const char* what, std::string* error) {
  ipp_t* answer = nullptr;
  d.Within([&] { answer = cupsDoRequest(d.http, request, d.resource.c_str()); });
  if (!answer && error) *error = WhyNoAnswer(d, what);
  return answer;
}

// Sends `request` (taken over) and returns the answer, or null with `error`
// when none came or it says the request failed.
ipp_t* Ask(Dest& d, ipp_t* request, const char* what, std::string* error) {
  ipp_t* answer = AskForAnswer(d, request, what, error);
  if (answer && ippGetStatusCode(answer) > IPP_STATUS_OK_CONFLICTING) {
    if (error) *error = WhyNoAnswer(d, what);
    ippDelete(answer);
    return nullptr;
  }
  return answer;
}

// Cancels job `id` of the destination; false when it was not done.
bool CancelJob(Dest& d, int id) {
  ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
  const bool gaveUp = d.Within([&] { status = cupsCancelDestJob(d.http, d.dest, id); });
  return !gaveUp && status <= IPP_STATUS_OK_CONFLICTING;
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

// The jobs of this user named `name`, as the destination lists them
// (`which`: "all" or "not-completed"); empty when it lists none or cannot
// list them. A scheduler may list a job that just ended without its name:
// such a job is not among them.
std::vector<JobState> JobsNamed(Dest& d, const std::string& name, const char* which = "all") {
  ipp_t* request = NewJobsRequest(d, IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, which);
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

// Cancels the jobs named `name` that wait for their document at the
// destination: what a Create-Job whose answer was given up may have left,
// which would hold the printer up. Over a connection of its own.
void CancelEmptyJobsNamed(const std::string& destination, const std::string& name) {
  std::string error;
  auto d = OpenDest(destination, &error);
  if (!d) {
    std::fprintf(stderr, "Looking for a job left without its document: %s\n", error.c_str());
    return;
  }
  for (const JobState& job : JobsNamed(*d, name, "not-completed")) {
    if (!job.WaitsForDocument()) continue;
    if (!CancelJob(*d, job.id))
      std::fprintf(stderr, "Job %d, left without its document, could not be cancelled: %s\n", job.id,
                   WhyNoAnswer(*d, "the printer did not cancel it").c_str());
  }
}

// The media keywords the destination offers (its media-supported).
std::vector<std::string> OfferedMedia(Dest& d) {
  std::vector<std::string> offered;
  d.Within([&] {
    if (ipp_attribute_t* supported = cupsFindDestSupported(d.http, d.dest, d.info, "media"))
      for (int i = 0, n = ippGetCount(supported); i < n; ++i)
        if (const char* m = ippGetString(supported, i, nullptr); m && *m) offered.push_back(m);
  });
  return offered;
}

// The name the printer is sent for the paper `size` libcups found: the
// keyword asked for when the printer lists it, else the first it lists of
// the same size. libcups names a paper of the printer's media database
// after its size, type and margins ("na_index-4x6_4x6in_photo_borderless"),
// which a printer need not know as a keyword. Empty when it lists none of
// that size (the paper then goes as media-col).
std::string SentMediaName(const cups_size_t& size, const std::string& asked, const std::vector<std::string>& offered) {
  auto sameSize = [&](const std::string& keyword) {
    const pwg_media_t* pwg = pwgMediaForPWG(keyword.c_str());
    return pwg && std::abs(pwg->width - size.width) <= 1 && std::abs(pwg->length - size.length) <= 1;
  };
  for (const std::string& name : {asked, std::string(size.media)})
    if (std::find(offered.begin(), offered.end(), name) != offered.end() && sameSize(name)) return name;
  for (const std::string& keyword : offered)
    if (sameSize(keyword)) return keyword;
  return {};
}

// The paper as a media-col value: its size and margins as the printer's
// media database gives them.
std::string MediaColOf(const cups_size_t& size) {
  return "{media-size={x-dimension=" + std::to_string(size.width) + " y-dimension=" + std::to_string(size.length) +
         "} media-bottom-margin=" + std::to_string(size.bottom) + " media-left-margin=" + std::to_string(size.left) +
         " media-right-margin=" + std::to_string(size.right) + " media-top-margin=" + std::to_string(size.top) + "}";
}

// Why a destination that offers no paper at all cannot print: a queue the
// scheduler holds without a driver (lpadmin -m everywhere returns before
// the scheduler has made the driver from the printer's attributes, and a
// failure to make it shows only in the scheduler's error log), or one, or a
// printer, that lists no paper.
std::string NoPaperAtAll(const Dest& d) {
  if (d.scheduler.empty()) return "the printer " + d.name + " offers no paper at all";
  const char* model = cupsGetOption("printer-make-and-model", d.dest->num_options, d.dest->options);
  // What the scheduler calls a queue without a driver of its own.
  const bool noDriver = model && std::string(model) == "Local Raw Printer";
  return "the queue \"" + d.name + "\" of the print scheduler at " + d.scheduler +
         (noDriver ? " has no driver, so it offers no paper" : " offers no paper at all") +
         "; the scheduler's error log says why (/var/log/cups/error_log, or ErrorLog in its cups-files.conf)";
}

const char* JobStateWord(int state) {
  switch (state) {
    case IPP_JSTATE_CANCELED: return "cancelled";
    case IPP_JSTATE_ABORTED: return "aborted";
    default: return "ended";
  }
}

}  // namespace

std::optional<PrinterPaper> QueryPrinterPaper(const std::string& destination, const std::string& media,
                                              std::string* error, bool* unreachable) {
  auto d = OpenDest(destination, error, unreachable);
  if (!d) return std::nullopt;
  cups_size_t size{};
  bool found = false;
  d->Within([&] {
    if (!media.empty())
      found = cupsGetDestMediaByName(d->http, d->dest, d->info, media.c_str(), CUPS_MEDIA_FLAGS_DEFAULT, &size) != 0;
    else found = cupsGetDestMediaDefault(d->http, d->dest, d->info, CUPS_MEDIA_FLAGS_DEFAULT, &size) != 0;
  });
  const std::vector<std::string> offered = OfferedMedia(*d);
  if (!found || size.width <= 0 || size.length <= 0) {
    if (error) {
      if (TerminationRequested()) *error = kStoppedText;
      else if (offered.empty()) *error = NoPaperAtAll(*d);
      else {
        // A paper the printer does not have is not swapped for another: the
        // operator learns which it has.
        std::string list;
        for (const std::string& m : offered) list += (list.empty() ? "" : ", ") + m;
        *error = media.empty() ? "the job names no paper and the printer names none as its default; it offers " + list
                               : "the printer offers no paper \"" + media + "\"; it offers " + list;
      }
    }
    return std::nullopt;
  }
  PrinterPaper paper;
  paper.media = SentMediaName(size, media, offered);
  if (paper.media.empty()) paper.mediaCol = MediaColOf(size);
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
  return LimitFromEnvironment("KIVO_PRINTER_ANSWER_LIMIT", std::chrono::seconds(60), std::chrono::seconds(1),
                              std::chrono::hours(1));
}

EarlierJobAnswer AskAboutEarlierJob(const CreatedPrintJob& job, const std::string& jobName) {
  using State = EarlierJobAnswer::State;
  EarlierJobAnswer result;
  auto say = [&](State state, const std::string& message) {
    result.state = TerminationRequested() && state == State::kCannotSay ? State::kStopped : state;
    result.message = result.state == State::kStopped ? std::string(kStoppedText) : message;
    return result;
  };
  std::string error;
  bool unreachable = false;
  auto d = OpenDest(job.destination, &error, &unreachable);
  if (!d) return say(unreachable ? State::kUnreachable : State::kCannotSay, "the printer cannot be asked: " + error);
  ipp_t* request = NewJobsRequest(*d, IPP_OP_GET_JOB_ATTRIBUTES, job.printerURI);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job.id);
  AskForJobAttributes(request);
  ipp_t* answer = AskForAnswer(*d, request, "the printer does not say what became of the job", &error);
  if (!answer) return say(State::kCannotSay, error);
  const ipp_status_t status = ippGetStatusCode(answer);
  std::vector<JobState> jobs = JobsOf(answer);
  ippDelete(answer);
  if (status == IPP_STATUS_ERROR_NOT_FOUND) return say(State::kCannotSay, "the printer no longer knows the job");
  if (status > IPP_STATUS_OK_CONFLICTING || jobs.empty() || jobs.front().state == 0)
    return say(State::kCannotSay, LastError("the printer does not say what became of the job"));
  const JobState& found = jobs.front();
  // The job of that number is this one only when the printer shows it is:
  // by its name, and by its user and its making (not before this job was
  // asked for) where it shows them. A printer that counts its jobs from 1
  // again may have given the number to another user's job, whose name it
  // keeps to itself.
  if (found.name.empty())
    return say(State::kCannotSay, "the printer does not show whose job has that number now");
  if (found.name != jobName) return say(State::kCannotSay, "the printer has another job under that number now");
  if (!found.user.empty() && found.user != cupsUser())
    return say(State::kCannotSay, "the printer has a job of user \"" + found.user + "\" under that number now");
  if (found.created != 0 && job.notBefore != 0 && found.created < job.notBefore)
    return say(State::kCannotSay, "the printer's job of that number was made before this one was asked for");
  if (found.HasDocument()) return say(State::kHasDocument, "the printer has the document");
  // The page was on its way when the program stopped: a scheduler that
  // shows the job without it may have passed it on and lost it since.
  const char* wasSent = ", though its page was being sent when the program stopped";
  if (found.WaitsForDocument()) {
    // Nothing of the page is there; the empty job would wait for ever.
    if (!CancelJob(*d, job.id))
      return say(State::kCannotSay, WhyNoAnswer(*d, "the job waiting for its document could not be cancelled"));
    if (job.documentSending)
      return say(State::kCannotSay, std::string("the printer shows the job without its document") + wasSent +
                                        "; it is cancelled there");
    return say(State::kWithoutDocument, "the job waited for its document and is cancelled");
  }
  // Cancelled or aborted: only a job that says it never had a document can
  // be given the page again.
  const std::string ended = std::string("the job was ") + JobStateWord(found.state);
  if (found.documents == 0 && job.documentSending)
    return say(State::kCannotSay, ended + " without its document" + wasSent);
  if (found.documents == 0) return say(State::kWithoutDocument, ended + " without its document");
  return say(State::kCannotSay, ended + " at the printer");
}

PrintJobResult SubmitPrintJob(const PrintJobRequest& r) {
  PrintJobResult result;
  auto d = OpenDest(r.destination, &result.message, &result.unreachable);
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
      if (earlier.WaitsForDocument()) CancelJob(*d, earlier.id);
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
  else if (!r.mediaCol.empty()) count = cupsAddOption("media-col", r.mediaCol.c_str(), count, &options);
  std::unique_ptr<cups_option_t, std::function<void(cups_option_t*)>> freeOptions(
      options, [count](cups_option_t* o) { cupsFreeOptions(count, o); });

  int jobID = 0;
  ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
  const time_t asked = std::time(nullptr);
  bool gaveUp =
      d->Within([&] { status = cupsCreateDestJob(d->http, d->dest, d->info, &jobID, title, count, options); });
  if (gaveUp || status > IPP_STATUS_OK_CONFLICTING || jobID <= 0) {
    refused(status, "the printer refused the job");
    // The printer may have made the job before its answer was given up:
    // left without its document it would hold the printer up. When the
    // program is ending, the next try's look for earlier jobs does this.
    if (gaveUp && !TerminationRequested()) {
      d.reset();
      CancelEmptyJobsNamed(r.destination, title);
    }
    return stopped();
  }
  result.jobID = jobID;
  const CreatedPrintJob made{jobID, d->name, d->PrinterURI(), asked};
  if (r.jobCreated && !r.jobCreated(made)) {
    CancelJob(*d, jobID);
    result.message = "the job made at the printer could not be recorded, so its document is not sent";
    return result;
  }
  // Nothing is sent once the program is ending: the job made waits without
  // its document and is cancelled at the next try.
  if (TerminationRequested()) {
    result.message = kStoppedText;
    return stopped();
  }
  if (r.documentSending && !r.documentSending(made)) {
    CancelJob(*d, jobID);
    result.message = "the sending of the document could not be recorded, so it is not sent";
    return result;
  }
  http_status_t started = HTTP_STATUS_ERROR;
  gaveUp = d->Within([&] {
    started = cupsStartDestDocument(d->http, d->dest, d->info, jobID, title, r.documentFormat.c_str(), 0, nullptr, 1);
  });
  if (gaveUp || started != HTTP_STATUS_CONTINUE) {
    refused(cupsLastError(), "the printer refused the document");
    if (!gaveUp) CancelJob(*d, jobID);
    return stopped();
  }
  std::vector<char> buffer(64 * 1024);
  bool written = true;
  size_t n = 0;
  while (written && (n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
    http_status_t wrote = HTTP_STATUS_ERROR;
    gaveUp = d->Within([&] { wrote = cupsWriteRequestData(d->http, buffer.data(), n); });
    written = !gaveUp && wrote == HTTP_STATUS_CONTINUE;
  }
  if (std::ferror(file)) written = false;
  // A wait given up is never success, whatever status libcups kept from
  // before; an answer read in full is one, however late it was read.
  gaveUp = d->Within([&] { status = cupsFinishDestDocument(d->http, d->dest, d->info); });
  result.ippStatus = status;
  if (written && !gaveUp && status <= IPP_STATUS_OK_CONFLICTING) {
    result.ok = true;
    if (r.documentSent) r.documentSent(made);
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
  // What went may have been printed, whatever the job shows now: it is
  // never sent again without the operator.
  result.mayHavePrinted = true;
  if (job) {
    std::string ignored;
    if (auto again = OpenDest(r.destination, &ignored); again && job->WaitsForDocument()) CancelJob(*again, jobID);
    result.message += "; the printer has the job without its document";
  } else {
    result.message += "; " + why;
  }
  return result;
}

}  // namespace host
