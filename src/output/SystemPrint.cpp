#include "output/SystemPrint.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "host/base/EnvironmentLimit.h"
#include "host/files/HeldFolders.h"
#include "host/files/NoLinkFile.h"
#include "host/files/PrivateFolder.h"
#include "host/imageio/ImageFile.h"
#include "host/print/CupsPrint.h"
#include "imaging/ImageWriters.h"
#include "imaging/Offscreen.h"
#include "imaging/Resampler.h"
#include "output/PrintInfo.h"
#include "host/sys/Termination.h"
#include "platform/CrashPoints.h"
#include "platform/Log.h"
#include "platform/Polling.h"

namespace output {

namespace {

// The private folder of one print, the document in it, and the name of the
// mark recorded as the job's output while the printer is offered the job
// (never made: a job stopped then is finished only once the printer says it
// has the job).
constexpr char kPrintFolderPrefix[] = "Print document ";
constexpr char kPrintDocumentStem[] = "testPdf2";
constexpr char kSentMarkName[] = "offered to the printer";

bool WriteAllTo(int fd, const std::vector<uint8_t>& bytes) {
  return host::WriteAllBytes(fd, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())) == 0 &&
         ::fsync(fd) == 0;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

const host::PlistValue* FindKey(const host::PlistDict& dict, const char* key) {
  const auto it = dict.find(key);
  return it == dict.end() ? nullptr : &it->second;
}

// Waits `pause`, keeping the windows painted; false as soon as the program
// is asked to end.
bool PauseUnlessEnding(std::chrono::milliseconds pause) {
  const auto end = std::chrono::steady_clock::now() + pause;
  while (std::chrono::steady_clock::now() < end) {
    if (host::TerminationRequested()) return false;
    myNewApplicationPollEvent();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return !host::TerminationRequested();
}

// The waits of one print for a printer that is busy or cannot be reached:
// pauses that grow, shown in the status window, all of them together within
// PrinterBusyLimit.
class PrinterWait {
 public:
  explicit PrinterWait(const TChooserPrintJob& job)
      : job_(job), limit_(PrinterBusyLimit()), first_(std::chrono::steady_clock::now()) {}
  // Waits before the next try; false when the program is ending or the
  // limit would be passed (over()).
  bool Again(const char* state, const std::string& why) {
    const auto pause = PrinterBusyPause(++attempt_);
    if (std::chrono::steady_clock::now() + pause - first_ > limit_) {
      over_ = true;
      return false;
    }
    const std::string wait =
        platform::StringF("%s: trying again in %lld s (try %d)", state, (long long)pause.count(), attempt_ + 1);
    platform::LogLine(wait + " - " + why);
    if (job_.setStatus) job_.setStatus(wait);
    if (!PauseUnlessEnding(pause)) return false;
    if (job_.setStatus) job_.setStatus("Printing\xE2\x80\xA6");
    return true;
  }
  bool over() const { return over_; }
  long long limitSeconds() const { return (long long)limit_.count(); }

 private:
  const TChooserPrintJob& job_;
  const std::chrono::seconds limit_;
  const std::chrono::steady_clock::time_point first_;
  int attempt_ = 0;
  bool over_ = false;
};

constexpr char kUnreachableState[] = "Printer cannot be reached";

}  // namespace

std::string PrinterJobName(const std::filesystem::path& jobFile, const std::string& attempt) {
  std::string name = jobFile.filename().string();
  if (name.size() > 200) {
    size_t cut = 200;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return attempt.empty() ? name : name + " #" + attempt;
}

namespace {
constexpr char kPrinterJobWord[] = "printer job";
// Marks recorded just before a job's document is sent and once the printer
// has it: the printer-job mark of that job after these words.
constexpr char kSendingWords[] = "sending to ";
constexpr char kSentWords[] = "sent to ";
}  // namespace

std::string PrinterJobMark(const host::CreatedPrintJob& job) {
  std::string mark = std::string(kPrinterJobWord) + "\t" + std::to_string(job.id) + "\t" + job.destination + "\t" +
                     job.printerURI;
  if (job.notBefore > 0) mark += "\t" + std::to_string(job.notBefore);
  return mark;
}

std::optional<host::CreatedPrintJob> PrinterJobOfMark(const std::string& mark) {
  std::vector<std::string> fields;
  for (size_t start = 0;;) {
    const size_t tab = mark.find('\t', start);
    fields.push_back(mark.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  // Marks of earlier versions have no time.
  if ((fields.size() != 4 && fields.size() != 5) || fields[0] != kPrinterJobWord || fields[2].empty() ||
      fields[3].empty())
    return std::nullopt;
  char* end = nullptr;
  const long id = std::strtol(fields[1].c_str(), &end, 10);
  if (fields[1].empty() || *end != '\0' || id <= 0 || id > 0x7FFFFFFF) return std::nullopt;
  long long notBefore = 0;
  if (fields.size() == 5) {
    notBefore = std::strtoll(fields[4].c_str(), &end, 10);
    if (fields[4].empty() || *end != '\0' || notBefore <= 0) return std::nullopt;
  }
  return host::CreatedPrintJob{int(id), fields[2], fields[3], notBefore};
}

std::chrono::seconds PrinterBusyLimit() {
  return host::LimitFromEnvironment("KIVO_PRINTER_BUSY_LIMIT", std::chrono::minutes(5), std::chrono::seconds(0),
                                    std::chrono::hours(24));
}

std::chrono::seconds PrinterBusyPause(int attempt) {
  if (attempt < 1) attempt = 1;
  return std::chrono::seconds(attempt >= 5 ? 30 : std::min(30, 1 << attempt));
}

std::string PwgMediaOfPaperName(const std::string& paperName) {
  const std::string n = Lower(paperName);
  if (n.find('_') != std::string::npos) return paperName;  // already a PWG name
  struct Entry { const char* name; const char* pwg; };
  static constexpr Entry kTable[] = {
      {"na-letter", "na_letter_8.5x11in"}, {"letter", "na_letter_8.5x11in"}, {"us letter", "na_letter_8.5x11in"},
      {"na-legal", "na_legal_8.5x14in"},   {"legal", "na_legal_8.5x14in"},   {"iso-a4", "iso_a4_210x297mm"},
      {"a4", "iso_a4_210x297mm"},          {"iso-a5", "iso_a5_148x210mm"},   {"a5", "iso_a5_148x210mm"},
      {"iso-a6", "iso_a6_105x148mm"},      {"a6", "iso_a6_105x148mm"},       {"4x6", "na_index-4x6_4x6in"},
      {"na-index-4x6", "na_index-4x6_4x6in"}, {"5x7", "na_5x7_5x7in"},      {"na-5x7", "na_5x7_5x7in"},
      {"8x10", "na_govt-letter_8x10in"},
  };
  for (const auto& e : kTable)
    if (n == e.name) return e.pwg;
  return {};
}

TSystemPrintSettings SystemPrintSettingsOf(const host::PlistDict& info) {
  TSystemPrintSettings s;
  const host::PlistDict* attributes = &info;
  if (const auto* a = FindKey(info, "NSAttributes"); a && a->asDict()) attributes = a->asDict();
  if (const auto* paper = FindKey(*attributes, "NSPaperName"); paper && paper->asString())
    s.media = PwgMediaOfPaperName(*paper->asString());
  if (const auto* o = FindKey(*attributes, "NSOrientation")) {
    double v = 0;
    if (o->toDouble(v)) s.orientation = v == 1 ? 2 : 1;  // 0 portrait, 1 landscape
  }
  const host::PlistValue* printer = FindKey(*attributes, "NSPrinter");
  if (printer && printer->asString()) s.destination = *printer->asString();
  else if (printer && printer->asDict()) {
    if (const auto* name = FindKey(*printer->asDict(), "NSName"); name && name->asString()) s.destination = *name->asString();
  }
  if (const auto* name = FindKey(*attributes, "NSPrinterName"); s.destination.empty() && name && name->asString())
    s.destination = *name->asString();
  return s;
}

bool computeAdjustedRect(const CLongRect_AC& image, CLongRect_AC& page, int16_t imageVRes, int16_t imageHRes,
                         int16_t deviceVRes, int16_t deviceHRes) {
  const float rV = float(imageVRes) / float(deviceVRes);
  const float rH = float(imageHRes) / float(deviceHRes);
  const int64_t w = image.Width();
  const int64_t h = image.Height();
  const int64_t Wp = page.Width();
  const int64_t Hp = page.Height();
  const int64_t W = int64_t(std::trunc(float(w) / rH));
  const int64_t H = int64_t(std::trunc(float(h) / rV));
  CLongRect_AC result;
  if (W <= Wp && H <= Hp) {
    result = CLongRect_AC(0, 0, int32_t(H), int32_t(W));
    const int32_t dh = Wp - W > 1 ? int32_t((Wp - W) / 2) : 0;
    const int32_t dv = Hp - H > 1 ? int32_t((Hp - H) / 2) : 0;
    result.Offset(dh, dv);
  } else {
    const double pW = std::trunc(100.0 * double(W) / double(Wp));
    const double pH = std::trunc(100.0 * double(H) / double(Hp));
    double W2, H2;
    if (pH > pW) {
      W2 = std::trunc(double(W) * double(Hp) / double(H));
      H2 = double(Hp);
    } else {
      W2 = double(Wp);
      H2 = std::trunc(double(H) * double(Wp) / double(W));
    }
    result.left = int32_t(std::trunc((double(Wp) - W2) / 2));
    result.top = int32_t(std::trunc((double(Hp) - H2) / 2));
    result.right = int32_t(std::trunc(W2 + (double(Wp) - W2) / 2));
    result.bottom = int32_t(std::trunc(H2 + (double(Hp) - H2) / 2));
  }
  page = result;
  return true;
}

host::GWorldHandle rescaleImageForChooserPrinting(const host::GWorld* source, int16_t imageResolution,
                                                  CLongRect_AC& page, int16_t deviceResolution, bool turn) {
  if (!source) return nullptr;
  CLongRect_AC S = source->bounds();
  S.ZeroOrigin();
  CLongRect_AC G = page;
  G.ZeroOrigin();
  const bool pagePortrait = G.Width() < G.Height();
  const bool imagePortrait = S.Width() < S.Height();
  computeAdjustedRect(S, page, imageResolution, imageResolution, deviceResolution, deviceResolution);
  if (turn && pagePortrait != imagePortrait) {
    page = G;
    const CLongRect_AC R(0, 0, int32_t(S.Width()), int32_t(S.Height()));
    computeAdjustedRect(R, page, imageResolution, imageResolution, deviceResolution, deviceResolution);
    host::GWorldHandle turned = myNewGWorld(R);
    if (!turned) return nullptr;
    if (!rotateImage90Degrees(2, source, turned.get()))
      platform::LogLine("rescaleImageForChooserPrinting=> rotateImage90Degrees FAILED");
    return turned;
  }
  return nullptr;  // draw the source itself
}

int16_t DoChooserPrint(host::GWorldHandle page, const TChooserPrintJob& job, std::string* message) {
  platform::LogLine("TBGPrintView::DoChooserPrint");
  if (!page) {
    platform::LogLine("TBGPrintView::DoChooserPrint => anOffscreen ==NIL?????");
    if (message) *message = "there is no page to print";
    return kResultSystemPrintFailed;
  }
  TSystemPrintSettings settings;
  if (gCocoaPrintInfo && gCocoaPrintInfo->settings.asDict())
    settings = SystemPrintSettingsOf(*gCocoaPrintInfo->settings.asDict());
  auto fail = [&](const std::string& why) {
    if (message) *message = why;
    platform::LogF("The page could not be printed: %s", why.c_str());
    return kResultSystemPrintFailed;
  };

  auto stopped = [&] {
    if (message) *message = host::kStoppedText;
    platform::LogLine("The program is ending: the page was not printed and the job is kept");
    return kResultSystemPrintStopped;
  };

  // The documents of prints stopped by a kill hold customers' pages: they
  // go first. Earlier versions made them in the preferences folder: those
  // go too.
  int left = host::RemoveLeftoverPrivateFolders(job.documentFolder, kPrintFolderPrefix);
  if (const std::string prefs = imaging::PreferencesFolderPath(); !prefs.empty())
    left += host::RemoveLeftoverPrivateFolders(prefs, kPrintFolderPrefix);
  if (left > 0) platform::LogF("Removed %d document folder(s) left by an earlier print", left);

  // An earlier try had the printer make a job for the page: the printer is
  // asked for that job (the last one made; each before it was found without
  // the page) before anything is sent again.
  std::optional<host::CreatedPrintJob> earlier;
  for (const std::string& step : job.recordedSteps)
    if (auto made = PrinterJobOfMark(step)) earlier = made;
  if (earlier) {
    const std::string mark = PrinterJobMark(*earlier);
    for (const std::string& step : job.recordedSteps)
      if (step == kSendingWords + mark || step == kSentWords + mark) earlier->documentSending = true;
  }
  PrinterWait wait(job);
  if (earlier) {
    using State = host::EarlierJobAnswer::State;
    host::EarlierJobAnswer answer = host::AskAboutEarlierJob(*earlier, job.jobName);
    // A printer that may have the page is waited for until it can say.
    while (answer.state == State::kUnreachable && wait.Again(kUnreachableState, answer.message))
      answer = host::AskAboutEarlierJob(*earlier, job.jobName);
    if (answer.state == State::kUnreachable) {
      if (host::TerminationRequested()) return stopped();
      answer.state = State::kCannotSay;
      answer.message += platform::StringF(" (for %lld s)", wait.limitSeconds());
    }
    switch (answer.state) {
      case State::kHasDocument:
        platform::LogF("The printer has had this page as job %d since an earlier try: it is not sent again",
                       earlier->id);
        return 0;
      case State::kWithoutDocument:
        platform::LogF("Job %d of an earlier try never had its page (%s): the page is sent now", earlier->id,
                       answer.message.c_str());
        break;
      case State::kStopped: return stopped();
      case State::kUnreachable:
      case State::kCannotSay:
        platform::LogF("The printer cannot say whether it has the page it was given as job %d of %s: %s",
                       earlier->id, earlier->destination.c_str(), answer.message.c_str());
        if (message)
          *message = platform::StringF("This job may already have printed: the printer cannot say what became of "
                                       "the page it was sent as job %d (%s). The job is set aside with its "
                                       "photos; to print it again, move it back into the print jobs folder.",
                                       earlier->id, answer.message.c_str());
        return kResultSystemPrintUncertain;
    }
  }

  std::string error;
  bool unreachable = false;
  auto paper = host::QueryPrinterPaper(settings.destination, settings.media, &error, &unreachable);
  // Nothing of this page has gone yet: a printer that cannot be reached is
  // waited for.
  while (!paper && unreachable && wait.Again(kUnreachableState, error))
    paper = host::QueryPrinterPaper(settings.destination, settings.media, &error, &unreachable);
  if (!paper && wait.over()) error += platform::StringF(" (for %lld s)", wait.limitSeconds());
  if (!paper) return host::TerminationRequested() ? stopped() : fail(error);
  // The printing area is the whole sheet (no margins), at the device
  // resolution, turned when the settings ask for landscape.
  const int16_t deviceRes = int16_t(std::clamp(paper->ydpi, 1, 2400));
  int32_t wDots = int32_t(std::lround(paper->widthHundredthsMM / 2540.0 * deviceRes));
  int32_t hDots = int32_t(std::lround(paper->lengthHundredthsMM / 2540.0 * deviceRes));
  if (settings.orientation == 2) std::swap(wDots, hDots);
  CLongRect_AC area(0, 0, hDots, wDots);
  host::GWorldHandle sheet = myNewGWorld(area);
  if (!sheet) return fail("no memory for the printed sheet");

  CLongRect_AC dest = area;
  const int16_t imageRes = job.resolution > 0 ? job.resolution : 72;
  host::GWorldHandle turned = rescaleImageForChooserPrinting(page.get(), imageRes, dest, deviceRes, true);
  platform::LogF("myImageDPI = [%i] = [0x%02x]\n", imageRes, imageRes);
  host::GWorld* drawn = turned ? turned.get() : page.get();
  if (!dest.IsEmpty() && !betterResizeGworldToGworld(drawn, drawn->bounds(), sheet.get(), dest, kScaleLanczos2))
    return fail("the page could not be fitted to the paper");
  turned.reset();
  page.reset();

  // The document is written where nobody else can read or replace it
  // before the printer has it: a private folder made for this print.
  host::PrivateFolder folder;
  std::string why;
  if (!folder.Create(job.documentFolder, kPrintFolderPrefix, &why)) return fail(why);
  std::string document;
  const int documentFd = folder.CreateFile(kPrintDocumentStem, ".jpg", &document, &why);
  if (documentFd < 0) return fail(why);
  host::ImageWriteOptions options;
  options.dpi = deviceRes;
  options.jpegQuality = imaging::JpegQualityFromPercent(95);
  std::vector<uint8_t> bytes;
  if (!host::EncodeImage(*sheet, host::ImageFormat::kJpeg, options, &bytes).ok() ||
      !WriteAllTo(documentFd, bytes))
    return fail("the document " + document + " could not be written");
  bytes = {};
  sheet.reset();

  host::PrintJobRequest request;
  request.destination = settings.destination;
  request.documentPath = document;
  request.documentFd = documentFd;
  request.jobName = job.jobName;
  // An earlier try of this job may have reached the printer before the
  // program was stopped: the printer is asked first.
  request.lookForEarlierJob = true;
  // The job the printer makes is recorded before the page goes, so that a
  // try stopped from then on asks for it by its id.
  request.jobCreated = [&job](const host::CreatedPrintJob& made) {
    if (job.recordStep && !job.recordStep(PrinterJobMark(made))) return false;
    platform::PassCrashPoint("printer-job-recorded");
    return true;
  };
  // From the moment its document goes, a job the printer shows without it
  // may have printed: that is recorded first, and once the printer has it.
  request.documentSending = [&job](const host::CreatedPrintJob& made) {
    return !job.recordStep || job.recordStep(kSendingWords + PrinterJobMark(made));
  };
  request.documentSent = [&job](const host::CreatedPrintJob& made) {
    if (job.recordStep && !job.recordStep(kSentWords + PrinterJobMark(made)))
      platform::LogF("That the printer has the page of job %d could not be recorded", made.id);
  };
  request.copies = std::max<int>(1, job.copies);
  request.orientationRequested = settings.orientation == 2 ? 4 : 3;
  request.media = paper->media;
  request.mediaCol = paper->mediaCol;
  // A busy printer, or one that cannot be reached, is offered the job again
  // after a pause that grows, for as long as PrinterBusyLimit allows.
  host::PrintJobResult result;
  // Recorded before the printer is offered the job, so that a job stopped
  // from here on is looked for at the printer before it is sent again.
  if (job.beforeSending && !job.beforeSending(folder.path() + "/" + kSentMarkName))
    return fail("the print could not be recorded before it was sent");
  for (;;) {
    result = host::SubmitPrintJob(request);
    if (result.ok) break;
    if (result.interrupted || host::TerminationRequested()) return stopped();
    if (result.mayHavePrinted) {
      platform::LogF("The printer cannot say whether it printed the page it was sent as job %d: %s", result.jobID,
                     result.message.c_str());
      if (message)
        *message = platform::StringF("This job may already have printed: the printer took the page as job %d and "
                                     "then could not say what became of it (%s). The job is set aside with its "
                                     "photos; to print it again, move it back into the print jobs folder.",
                                     result.jobID, result.message.c_str());
      return kResultSystemPrintUncertain;
    }
    if (!result.busy && !result.unreachable)
      return fail(result.message + " (IPP status 0x" + platform::StringF("%04x", result.ippStatus) + ")");
    if (wait.Again(result.busy ? "Printer busy" : kUnreachableState, result.message)) continue;
    if (!wait.over()) return stopped();
    return fail(platform::StringF(result.busy ? "the printer stayed busy for %lld s: "
                                              : "the printer could not be reached for %lld s: ",
                                  wait.limitSeconds()) +
                result.message);
  }
  if (result.alreadyThere) {
    platform::LogF("The printer has had this page as job %d since an earlier try: it is not sent again",
                   result.jobID);
    return 0;
  }
  if (!result.message.empty()) platform::LogF("Job %d: %s", result.jobID, result.message.c_str());
  platform::LogF("Printed as job %d (%d copies, %s, %dx%d dots at %d dpi)", result.jobID, request.copies,
                 paper->media.c_str(), int(wDots), int(hDots), int(deviceRes));
  return 0;
}

}  // namespace output
