#include "host/print/CupsPrint.h"

#include <cups/cups.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "host/sys/Termination.h"

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnectTimeoutMs = 10000;
// How long one request may wait for the printer's answer, and how often the
// wait looks whether the program is asked to end.
constexpr std::chrono::seconds kAnswerLimit{60};
constexpr double kWaitSliceSeconds = 0.25;

// The wait of one connection: libcups calls this each time a slice of the
// wait has passed without an answer; 0 gives the wait up.
struct AnswerWait {
  Clock::time_point deadline = Clock::now() + kAnswerLimit;
  bool gaveUp = false;
  void Restart() { deadline = Clock::now() + kAnswerLimit; }
};

int KeepWaiting(http_t*, void* context) {
  auto* wait = static_cast<AnswerWait*>(context);
  if (TerminationRequested() || Clock::now() >= wait->deadline) {
    wait->gaveUp = true;
    return 0;
  }
  return 1;
}

bool IsPrinterURI(const std::string& s) { return s.rfind("ipp://", 0) == 0 || s.rfind("ipps://", 0) == 0; }

struct Dest {
  cups_dest_t* dest = nullptr;
  http_t* http = nullptr;
  cups_dinfo_t* info = nullptr;
  AnswerWait wait;
  ~Dest() {
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
  if (d.wait.gaveUp)
    return std::string(what) + ": the printer did not answer within " + std::to_string(kAnswerLimit.count()) + " s";
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
  httpSetTimeout(d->http, kWaitSliceSeconds, KeepWaiting, &d->wait);
  d->info = cupsCopyDestInfo(d->http, d->dest);
  if (!d->info) {
    if (error) *error = WhyNoAnswer(*d, "the printer gives no information");
    return nullptr;
  }
  return d;
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
  FILE* file = std::fopen(r.documentPath.c_str(), "rb");
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
  const char* title = r.jobName.empty() ? "Kivo-Processor" : r.jobName.c_str();
  d->wait.Restart();
  ipp_status_t status = cupsCreateDestJob(d->http, d->dest, d->info, &jobID, title, count, options);
  if (status > IPP_STATUS_OK_CONFLICTING || jobID <= 0) {
    refused(status, "the printer refused the job");
    cupsFreeOptions(count, options);
    return stopped();
  }
  result.jobID = jobID;
  d->wait.Restart();
  if (cupsStartDestDocument(d->http, d->dest, d->info, jobID, title, r.documentFormat.c_str(), 0, nullptr, 1) !=
      HTTP_STATUS_CONTINUE) {
    refused(cupsLastError(), "the printer refused the document");
    if (!TerminationRequested()) cupsCancelDestJob(d->http, d->dest, jobID);
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
  if (!written || status > IPP_STATUS_OK_CONFLICTING) {
    refused(status, "the document could not be sent");
    return stopped();
  }
  result.ok = true;
  return result;
}

}  // namespace host
