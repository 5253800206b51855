// Outputs that leave the program, each handed over exactly once and reported
// printed only when it was: the system printer against printers that take
// the page and never answer, answer late or drip their answer, the printer
// hand-off and the copies of originals killed at each durable step, and
// copies of originals that cannot be written.
#include <csignal>
#include <fstream>

#include "common/FakeIppPrinter.h"
#include "e2e/E2E.h"

#include "layout/Objects.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace {

namespace fs = e2e::fs;

using testing_support::FakeIppPrinter;
using After = FakeIppPrinter::AfterDocument;

// The durable steps of handing an output over (see platform/CrashPoints.h).
constexpr const char* kStopPoints[] = {"placing-recorded", "output-placed", "output-recorded"};

// The folders made for the system printer's documents: in the program's
// private folder (or, `in` given, another folder).
std::vector<fs::path> DocumentFolders(const e2e::Station& station, fs::path in = {}) {
  if (in.empty()) in = station.spoolPrivate();
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::directory_iterator it(in, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().rfind("Print document ", 0) == 0) found.push_back(it->path());
  return found;
}

// Waits for the program to stop at its point and kills it there.
void KillAtStop(e2e::Station& station, const char* point) {
  ASSERT_TRUE(e2e::WaitUntil([&] { return station.Stopped(); }, 60)) << point << "\n" << station.Log();
  ASSERT_EQ(::kill(station.pid(), SIGKILL), 0);
  ASSERT_EQ(station.Wait(), 128 + SIGKILL);
  station.SetEnv("KIVO_STOP_AT", "");
}

// The same, and starts it again without the point.
void KillAtStopAndRestart(e2e::Station& station, const char* point) {
  ASSERT_NO_FATAL_FAILURE(KillAtStop(station, point));
  ASSERT_TRUE(station.Start()) << station.Log();
}

// ---- the system printer

// A printer that takes the page and never answers: after the answer limit
// the program asks the printer what became of the job, and, since the
// printer shows no document, holds the job (the page went and may have
// printed): nothing is reported printed, counted or logged, the photo stays
// with the job in the unknown-jobs folder, the alert says it may have
// printed, and the web server is not told it failed. A printer that did
// keep the document makes the job printed, once.
TEST(HandOverOnce, APrinterThatNeverAnswersHoldsTheJobUnlessItHasTheDocument) {
  for (const bool keeps : {false, true}) {
    SCOPED_TRACE(keeps ? "the printer has the document" : "the printer lost the document");
    e2e::Station station(keeps ? "mutekeeps" : "mutelost");
    FakeIppPrinter printer(0, After::kNeverAnswer);
    ASSERT_TRUE(printer.ok());
    printer.SetKeepsUnansweredDocuments(keeps);
    station.SetEnv("PRINTER", printer.uri());
    station.SetEnv("KIVO_PRINTER_ANSWER_LIMIT", "3");
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
    ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), "mute.trpr"));
    if (keeps) {
      ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::PrintLogLines(station) == 1; }, 60)) << station.Log();
      EXPECT_TRUE(station.WaitForQueueEmpty()) << station.Log();
      EXPECT_NE(station.Log().find("the printer did not answer but has the document"), std::string::npos);
      EXPECT_TRUE(station.WaitUntilGone(station.images() / "Green.jpg"));
    } else {
      ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "mute.trpr"); }, 60))
          << station.Log();
      const std::string log = station.Log();
      EXPECT_NE(log.find("the printer did not answer within 3 s"), std::string::npos) << log;
      EXPECT_NE(log.find("the printer has the job without its document"), std::string::npos) << log;
      EXPECT_NE(log.find("Alert 1001: This job may already have printed: the printer took the page as job"),
                std::string::npos)
          << log;
      EXPECT_EQ(log.find("Printed as job"), std::string::npos) << log;
      EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
      EXPECT_EQ(printer.cancelled(), 1) << "the empty job is not left waiting at the printer";
    }
    EXPECT_EQ(printer.documents().size(), 1u);
    EXPECT_GE(printer.jobAttributesAsked(), 1);
    EXPECT_EQ(station.Stop(), 0);
    EXPECT_EQ(fs::exists(station.root() / "Kivo-Processor Count"), keeps);
    EXPECT_EQ(e2e::PrintLogLines(station), keeps ? 1u : 0u);
  }
}

// SIGTERM while a printer holds the page without answering: the job stays
// queued with its photo, uncounted. At the next start the printer is asked
// for the job by its name; since it has the document the page is not sent
// again, and the job is finished, logged and counted once.
TEST(HandOverOnce, SigtermDuringTheAnswerWaitKeepsTheJobAndTheNextStartDoesNotSendItAgain) {
  e2e::Station station("mutesigterm");
  FakeIppPrinter printer(0, After::kNeverAnswer);
  ASSERT_TRUE(printer.ok());
  printer.SetKeepsUnansweredDocuments(true);
  station.SetEnv("PRINTER", printer.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), "held.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return printer.documents().size() == 1; }, 60)) << station.Log();
  EXPECT_EQ(station.Stop(15), 0) << station.Log();
  EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
  EXPECT_TRUE(e2e::ExistsAsEntry(station.allFiles() / "held.trpr")) << station.Log();
  EXPECT_FALSE(fs::exists(station.root() / "Kivo-Processor Count"));
  EXPECT_EQ(station.Log().find("Printed as job"), std::string::npos) << station.Log();

  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_TRUE(station.WaitForLog("since an earlier try: it is not sent again")) << station.Log();
  EXPECT_EQ(printer.documents().size(), 1u);
  EXPECT_EQ(printer.jobsCreated(), 1);
  const auto names = printer.jobNames();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].rfind("held.trpr #", 0), 0u) << names[0];
  EXPECT_TRUE(station.WaitUntilGone(station.images() / "Green.jpg"));
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_TRUE(fs::exists(station.root() / "Kivo-Processor Count"));
  EXPECT_EQ(e2e::PrintLogLines(station), 1u);
}

// A printer that answers late: nothing is said printed, counted or logged
// before its answer comes; then the job is printed once.
TEST(HandOverOnce, ALateAnswerIsWaitedForBeforeTheJobIsPrinted) {
  e2e::Station station("lateanswer");
  FakeIppPrinter printer(0, After::kHold);
  ASSERT_TRUE(printer.ok());
  station.SetEnv("PRINTER", printer.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  // A document folder an earlier version left in the preferences folder
  // when it was killed holds a customer's page: it goes with the next print.
  const fs::path leftover = station.prefsFolder() / "Print document Ab12Cd";
  ASSERT_TRUE(fs::create_directory(leftover));
  fs::permissions(leftover, fs::perms::owner_all, fs::perm_options::replace);
  ASSERT_TRUE(e2e::WritePhoto(leftover / "testPdf2-0badf00d.jpg", 30, 45, {1, 2, 3}));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), "late.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return printer.documents().size() == 1 && printer.holding(); }, 60))
      << station.Log();
  // Meanwhile the document waits in a folder of the program's alone, under
  // a name nobody could foresee; nothing stands at the old fixed name.
  const std::vector<fs::path> privateFolders = DocumentFolders(station);
  ASSERT_EQ(privateFolders.size(), 1u);
  EXPECT_EQ(fs::status(privateFolders[0]).permissions() & fs::perms::all, fs::perms::owner_all);
  const auto documents = e2e::VisibleFiles(privateFolders[0]);
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_EQ(documents[0].filename().string().rfind("testPdf2-", 0), 0u) << documents[0];
  EXPECT_FALSE(e2e::ExistsAsEntry(station.prefsFolder() / "testPdf2.jpg"));
  EXPECT_TRUE(DocumentFolders(station, station.prefsFolder()).empty()) << "nothing private in the preferences folder";
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(station.Log().find("Printed as job"), std::string::npos) << station.Log();
  EXPECT_EQ(e2e::PrintLogLines(station), 0u);
  EXPECT_FALSE(fs::exists(station.root() / "Kivo-Processor Count"));
  EXPECT_FALSE(station.QueueEmpty());
  printer.Release();
  ASSERT_TRUE(station.WaitForLog("Printed as job 1")) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(printer.documents().size(), 1u);
  EXPECT_FALSE(fs::exists(privateFolders[0]));
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_EQ(e2e::PrintLogLines(station), 1u);
}

// A printer that drips its answer, one header line every 0.2 s, never
// holds the program: SIGTERM ends it within seconds with the job kept, and
// the answer limit is kept on the wall clock, failing the job. The job of
// the page that was being sent when SIGTERM came, shown without its page
// at the next start, may have printed: it is set aside, not sent again.
TEST(HandOverOnce, ADrippingAnswerGivesWayToSigtermAndToTheLimit) {
  e2e::Station station("drip");
  FakeIppPrinter printer(0, After::kDrip);
  ASSERT_TRUE(printer.ok());
  station.SetEnv("PRINTER", printer.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), "drip.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return printer.documents().size() == 1; }, 60)) << station.Log();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(station.Stop(15), 0) << station.Log();
  EXPECT_TRUE(e2e::ExistsAsEntry(station.allFiles() / "drip.trpr")) << station.Log();
  EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
  EXPECT_EQ(e2e::PrintLogLines(station), 0u);

  // The next start finds that job without its page at the printer: set
  // aside, the job cancelled there. With a short limit it gives the next
  // job's dripping answer up, finds that job without its page and fails it.
  station.SetEnv("KIVO_PRINTER_ANSWER_LIMIT", "3");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "drip.trpr"); }, 60))
      << station.Log();
  EXPECT_NE(station.Log().find("though its page was being sent when the program stopped"), std::string::npos)
      << station.Log();
  EXPECT_EQ(printer.documents().size(), 1u) << "not sent again";
  EXPECT_EQ(printer.cancelled(), 1);
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Red.jpg"), "next.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "next.trpr"); }, 60))
      << station.Log();
  EXPECT_NE(station.Log().find("the printer did not answer within 3 s"), std::string::npos) << station.Log();
  EXPECT_EQ(printer.documents().size(), 2u);
  EXPECT_EQ(printer.cancelled(), 2);
  EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
  EXPECT_TRUE(fs::exists(station.images() / "Red.jpg"));
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_FALSE(fs::exists(station.root() / "Kivo-Processor Count"));
}

// Killed at each durable step of the system printer, and while the printer
// holds its answer to the job's creation or to its document: the printer
// receives the document exactly once, and the job is finished.
TEST(HandOverOnce, TheSystemPrinterGetsThePageOnceAcrossKills) {
  for (const char* point : kStopPoints) {
    SCOPED_TRACE(point);
    e2e::Station station("printerkill");
    FakeIppPrinter printer(0);
    ASSERT_TRUE(printer.ok());
    station.SetEnv("PRINTER", printer.uri());
    station.SetEnv("KIVO_STOP_AT", point);
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
    ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), "kill.trpr"));
    KillAtStopAndRestart(station, point);
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    EXPECT_TRUE(station.WaitUntilGone(station.images() / "Green.jpg"));
    EXPECT_EQ(printer.documents().size(), 1u);
    // The killed print's document folder did not stay behind once the page
    // was printed (the last point's job is not printed again, so its
    // folder waits for the next print).
    if (std::string(point) != "output-recorded") {
      EXPECT_TRUE(DocumentFolders(station).empty());
    }
    EXPECT_EQ(station.Stop(), 0);
  }
  for (const bool atCreation : {true, false}) {
    SCOPED_TRACE(atCreation ? "killed while the job is created" : "killed while the document is answered");
    e2e::Station station("printerhold");
    FakeIppPrinter printer(0, atCreation ? After::kAnswer : After::kHold);
    ASSERT_TRUE(printer.ok());
    if (atCreation) printer.HoldCreateJob();
    station.SetEnv("PRINTER", printer.uri());
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
    ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), "hold.trpr"));
    ASSERT_TRUE(e2e::WaitUntil([&] { return printer.holding(); }, 60)) << station.Log();
    ASSERT_EQ(::kill(station.pid(), SIGKILL), 0);
    ASSERT_EQ(station.Wait(), 128 + SIGKILL);
    printer.Release();
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    EXPECT_EQ(printer.documents().size(), 1u);
    // The job made without its document is cancelled, not left waiting.
    EXPECT_EQ(printer.jobsCreated(), atCreation ? 2 : 1);
    EXPECT_EQ(printer.cancelled(), atCreation ? 1 : 0);
    const auto names = printer.jobNames();
    for (const std::string& name : names) EXPECT_EQ(name, names.front());
    EXPECT_EQ(station.Stop(), 0);
    EXPECT_EQ(e2e::PrintLogLines(station), 1u);
  }
}

// ---- the printer hand-off

void StoreHandOffPrefs(e2e::Station& station, bool pair) {
  setMyProcessedJobsPrefToFactoryDefaults(getMyProcessedJobsPrefs());
  getMyProcessedJobsPrefs()->useNewHandOff = pair ? 1 : 0;
  ASSERT_TRUE(station.SetDefault(kPrintCenterPrefsKey, host::PlistValue(ProcessedJobsPrefBlob())));
}

// The hand-off files in the print-centre folders: complete ones only (the
// working "Tempfile_" names do not count).
std::vector<fs::path> HandOffs(const e2e::Station& station, bool pair) {
  const fs::path folder =
      station.app() / "Kivo-PrintCenter Folder" / (pair ? "Jobs To Be Printed---NEW" : "Jobs To Be Printed");
  std::vector<fs::path> found;
  for (const fs::path& f : e2e::VisibleFiles(folder))
    if (f.filename().string().rfind("Tempfile_", 0) != 0) found.push_back(f);
  return found;
}

// The print centre takes each hand-off the moment it appears: killed at each
// durable step, with the hand-off taken away before the next start, the job
// is never handed off again. Once the hand-off was put in place the record
// says so and the job is finished; killed after the record of the placing
// and before the placing, where the record cannot tell whether the print
// centre took it, the job is held with its photo and an alert naming it.
TEST(HandOverOnce, ThePrinterHandOffIsWrittenOnceAcrossKills) {
  for (const bool pair : {false, true}) {
    for (const char* point : kStopPoints) {
      SCOPED_TRACE(std::string(pair ? "pair, " : "binary, ") + point);
      e2e::Station station("handoffkill");
      StoreHandOffPrefs(station, pair);
      station.SetEnv("KIVO_STOP_AT", point);
      ASSERT_TRUE(station.Start()) << station.Log();
      ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 200, {220, 20, 20}));
      jobwriter::TJobDescription job = e2e::SetOneJob("Red.jpg", "HandOff");
      job.printer = 21;
      ASSERT_TRUE(station.Drop(job, "handoff.trpr"));
      ASSERT_NO_FATAL_FAILURE(KillAtStop(station, point));
      const bool placed = std::string(point) != "placing-recorded";
      const auto left = HandOffs(station, pair);
      size_t whole = 0;
      for (const fs::path& f : left) {
        if (!pair || f.extension() == ".plist") ++whole;
        fs::remove(f);  // taken by the print centre
      }
      EXPECT_EQ(whole, placed ? 1u : 0u) << station.Log();
      ASSERT_TRUE(station.Start()) << station.Log();
      if (placed) {
        ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
        EXPECT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg"));
      } else {
        ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "handoff.trpr"); }, 60))
            << station.Log();
        EXPECT_NE(station.Log().find("Whether the job file [handoff.trpr] printed cannot be told"), std::string::npos)
            << station.Log();
        EXPECT_TRUE(fs::exists(station.images() / "Red.jpg")) << "a held job keeps its photo";
      }
      EXPECT_EQ(station.Stop(), 0);
      EXPECT_TRUE(HandOffs(station, pair).empty()) << "handed off again\n" << station.Log();
    }
  }
}

// The hand-off's page is encoded in memory, never written as "TempFile" in
// the preferences folder and read back by its name: with another picture
// standing there, the binary hand-off of printer 30 (a JPEG) and the JPEG of
// the pair carry the customer's page, and "TempFile" is neither read nor
// changed.
TEST(HandOverOnce, TheHandedOffPageIsTheCustomersWhateverStandsAtTempFile) {
  for (const bool pair : {false, true}) {
    SCOPED_TRACE(pair ? "pair" : "binary");
    e2e::Station station("tempfile");
    StoreHandOffPrefs(station, pair);
    ASSERT_TRUE(station.Start()) << station.Log();
    const fs::path other = station.prefsFolder() / "TempFile";
    ASSERT_TRUE(e2e::WritePhoto(station.base() / "black.jpg", 300, 200, {0, 0, 0}));
    fs::copy_file(station.base() / "black.jpg", other);
    const std::string otherBytes = e2e::ReadAll(other);
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 200, {220, 20, 20}));
    jobwriter::TJobDescription job = e2e::SetOneJob("Red.jpg", "HandOff");
    job.printer = 30;
    ASSERT_TRUE(station.Drop(job, "handoff.trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    ASSERT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg")) << station.Log();
    EXPECT_EQ(station.Stop(), 0);
    std::string bytes;
    for (const fs::path& f : HandOffs(station, pair))
      if (!pair || f.extension() == ".jpeg") bytes = e2e::ReadAll(f);
    const size_t jpeg = bytes.find("\xFF\xD8\xFF");
    ASSERT_NE(jpeg, std::string::npos) << station.Log();
    const host::ImageReadResult page = host::DecodeImage(std::span<const uint8_t>(
        reinterpret_cast<const uint8_t*>(bytes.data()) + jpeg, bytes.size() - jpeg));
    ASSERT_TRUE(page.image) << page.error;
    const uint8_t* middle = page.image->scanline(page.image->height() / 2) + 4 * size_t(page.image->width() / 2);
    EXPECT_GT(middle[1], 180) << "the page is the customer's red";
    EXPECT_EQ(e2e::ReadAll(other), otherBytes);
  }
}

// The copy-of-originals counter of the count file (0 when there is none).
int32_t OriginalsCount(const e2e::Station& station) {
  const std::string bytes = e2e::ReadAll(station.root() / "Kivo-Processor Count");
  return bytes.size() < 8 ? 0 : e2e::CounterAt(bytes, 4);
}

// ---- copies of originals

// A hot-folder consumer takes each copy of an original the moment it
// appears: killed at each durable step, with the copy taken away before the
// next start, the original is copied once: again only when the kill came
// before the copy was put in place (its placing recorded, its working copy
// still private), never once it was; counted once either way.
TEST(HandOverOnce, ACopyOfTheOriginalIsMadeOnceAcrossKills) {
  for (const char* point : {"record-written", "output-renamed", "output-placed", "output-recorded"}) {
    SCOPED_TRACE(point);
    e2e::Station station("originalkill");
    station.SetEnv("KIVO_STOP_AT", point);
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "p0.jpg", 320, 240, {200, 120, 40}));
    const std::string original = e2e::ReadAll(station.images() / "p0.jpg");
    ASSERT_TRUE(station.Drop(e2e::CopyOriginalJob("p0.jpg"), "original.trpr"));
    ASSERT_NO_FATAL_FAILURE(KillAtStop(station, point));
    const bool placed = std::string(point) != "record-written";
    const auto taken = e2e::VisibleFilesBelow(station.SetFolder('A'));
    EXPECT_EQ(taken.size(), placed ? 1u : 0u) << station.Log();
    for (const fs::path& f : taken) fs::remove(f);
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    EXPECT_TRUE(station.WaitUntilGone(station.images() / "p0.jpg"));
    EXPECT_EQ(station.Stop(), 0);
    const auto copies = e2e::VisibleFilesBelow(station.SetFolder('A'));
    ASSERT_EQ(copies.size(), placed ? 0u : 1u) << station.Log();
    if (!placed) {
      EXPECT_EQ(e2e::ReadAll(copies.front()), original);
    }
    EXPECT_EQ(OriginalsCount(station), 1);
  }
}


// Makes a folder read-only for the test's lifetime, also for root (through
// the immutable flag) where the file system allows it.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(fs::path folder) : folder_(std::move(folder)) {
    fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                 fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    immutable_ = std::system(("chattr +i '" + folder_.string() + "' 2>/dev/null").c_str()) == 0;
  }
  ~ReadOnlyFolder() {
    if (immutable_) std::system(("chattr -i '" + folder_.string() + "' 2>/dev/null").c_str());
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add);
  }
  // Whether this process really cannot write there.
  bool effective() const { return immutable_ || ::geteuid() != 0; }

 private:
  fs::path folder_;
  bool immutable_ = false;
};

// A copy of an original that cannot be written (a folder in the way of its
// name with the set's overwrite on, a read-only set folder) fails the job
// with "Could not write printer file!", and a job whose photo is missing
// fails saying so: the photos stay, nothing is counted, logged or notified
// as processed, and the job files go to the unknown-jobs folder.
TEST(HandOverOnce, CopiesOfOriginalsThatCannotBeMadeFailTheJob) {
  e2e::Station station("originalfail");
  mySetAllDefaults();
  tSpecialPrintToFilePref* set = getMyPrintToFileSetPrefs(1);
  set->namingType = 3;  // the photo's name
  set->overwrite = 1;
  const std::vector<uint8_t> blob = PrintToFileSetBlob(1);
  ASSERT_TRUE(station.SetDefault(PrintToFileSetKey(1), host::PlistValue(host::PlistData(blob.begin(), blob.end()))));
  ASSERT_TRUE(station.Start()) << station.Log();

  ASSERT_TRUE(e2e::WritePhoto(station.images() / "p0.jpg", 320, 240, {200, 120, 40}));
  ASSERT_TRUE(station.Drop(e2e::CopyOriginalJob("p0.jpg"), "a-first.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ASSERT_TRUE(station.WaitUntilGone(station.images() / "p0.jpg"));
  const auto copies = e2e::VisibleFilesBelow(station.SetFolder('A'));
  ASSERT_EQ(copies.size(), 1u) << station.Log();
  const fs::path copy = copies.front();
  ASSERT_TRUE(e2e::WaitUntil([&] { return OriginalsCount(station) == 1; }, 60));

  // A folder where the copy goes.
  fs::remove(copy);
  fs::create_directory(copy);
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "p0.jpg", 320, 240, {20, 120, 200}));
  ASSERT_TRUE(station.Drop(e2e::CopyOriginalJob("p0.jpg"), "b-folder.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "b-folder.trpr"); }, 60))
      << station.Log();
  EXPECT_TRUE(fs::exists(station.images() / "p0.jpg"));
  EXPECT_TRUE(fs::is_directory(copy));
  const size_t writeFailures = e2e::CountOf(station.Log(), "Could not write printer file!");
  EXPECT_GE(writeFailures, 1u) << station.Log();

  // The photo named by the job is not there.
  ASSERT_TRUE(station.Drop(e2e::CopyOriginalJob("Missing.jpg"), "c-missing.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "c-missing.trpr"); }, 60))
      << station.Log();
  EXPECT_NE(station.Log().find("The image file \"Missing.jpg\" could not be found!"), std::string::npos)
      << station.Log();

  // A set folder nobody may write in.
  fs::remove(copy);
  {
    ReadOnlyFolder readOnly(copy.parent_path());
    if (readOnly.effective()) {
      ASSERT_TRUE(station.Drop(e2e::CopyOriginalJob("p0.jpg"), "d-readonly.trpr"));
      ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "d-readonly.trpr"); }, 60))
          << station.Log();
      EXPECT_TRUE(fs::exists(station.images() / "p0.jpg"));
      EXPECT_GT(e2e::CountOf(station.Log(), "Could not write printer file!"), writeFailures) << station.Log();
    }
  }
  EXPECT_TRUE(e2e::VisibleFilesBelow(station.SetFolder('A')).empty());
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_EQ(OriginalsCount(station), 1);
  EXPECT_EQ(e2e::PrintLogLines(station), 1u);
}

// A photo the camera turned is copied upright when the set writes web
// JPEGs, replacing a file of its name; a folder in the way fails the job
// like any copy that cannot be written.
TEST(HandOverOnce, ATurnedCopyOfAnOriginalThatCannotBeWrittenFailsTheJob) {
  e2e::Station station("turnedcopy");
  mySetAllDefaults();
  tSpecialPrintToFilePref* set = getMyPrintToFileSetPrefs(1);
  set->fileFormat = 10;
  set->namingType = 3;
  const std::vector<uint8_t> blob = PrintToFileSetBlob(1);
  ASSERT_TRUE(station.SetDefault(PrintToFileSetKey(1), host::PlistValue(host::PlistData(blob.begin(), blob.end()))));
  ASSERT_TRUE(station.Start()) << station.Log();
  auto writeTurned = [&] {
    host::GWorldHandle image = host::GWorld::Create(CLongRect_AC(0, 0, 200, 300));
    ASSERT_TRUE(image);
    for (int32_t y = 0; y < 200; ++y)
      for (int32_t x = 0; x < 300; ++x) {
        uint8_t* p = image->scanline(y) + 4 * x;
        p[0] = 0xFF, p[1] = 220, p[2] = 20, p[3] = 20;
      }
    host::ImageWriteOptions options;
    options.orientation = 6;
    ASSERT_TRUE(host::WriteImageFile(*image, station.images() / "p0.jpg", host::ImageFormat::kJpeg, options).ok());
  };
  writeTurned();
  ASSERT_TRUE(station.Drop(e2e::CopyOriginalJob("p0.jpg"), "a-first.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ASSERT_TRUE(station.WaitUntilGone(station.images() / "p0.jpg"));
  ASSERT_NE(station.Log().find("Orientation of the original: 6"), std::string::npos) << station.Log();
  const auto copies = e2e::VisibleFilesBelow(station.SetFolder('A'));
  ASSERT_EQ(copies.size(), 1u) << station.Log();
  const e2e::Picture upright = e2e::ReadPicture(copies[0]);
  EXPECT_EQ(upright.width(), 200);
  EXPECT_EQ(upright.height(), 300);

  fs::remove(copies[0]);
  fs::create_directory(copies[0]);
  writeTurned();
  ASSERT_TRUE(station.Drop(e2e::CopyOriginalJob("p0.jpg"), "b-folder.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "b-folder.trpr"); }, 60))
      << station.Log();
  EXPECT_TRUE(fs::exists(station.images() / "p0.jpg"));
  EXPECT_TRUE(fs::is_directory(copies[0]));
  EXPECT_NE(station.Log().find("Could not write printer file!"), std::string::npos) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_EQ(OriginalsCount(station), 1);
  EXPECT_EQ(e2e::PrintLogLines(station), 1u);
}

}  // namespace
