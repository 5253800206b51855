// The system printer against a shop's real neighbours: a CUPS queue of
// Debian's cupsd (started by the test in folders of its own) whose device
// is an IPP Everywhere printer (ippeveprinter), and that printer on its own.
// The program is killed, stopped and ended at each durable step of the
// route and started again; the printer must get each page exactly once, or
// the job is set aside and the operator told when the printer can no longer
// say whether it has the page.
#include <csignal>
#include <regex>

#include "common/CupsServer.h"
#include "common/IppPrinter.h"
#include "common/TempDir.h"
#include "e2e/E2E.h"
#include "e2e/PrefsDialog.h"
#include "prefs/PrefRecords.h"

namespace {

namespace fs = e2e::fs;
using testipp::AnswerRelay;
using testipp::CupsServer;
using testipp::IppPrinter;

// A printer, and a scheduler with a queue on it (unless `queue` is false).
// The printer takes JPEG and PWG raster (IPP Everywhere asks for a raster
// format; the queue passes JPEG on); a colour one offers photo paper.
class Shop {
 public:
  explicit Shop(bool queue = true, const std::string& history = "Yes", bool colour = false, int printSeconds = 0) {
    std::string pattern = (fs::temp_directory_path() / "kivo-shop-XXXXXX").string();
    if (::mkdtemp(pattern.data())) folder_ = pattern;
    IppPrinter::Options options;
    options.formats = "image/jpeg,image/pwg-raster";
    options.speed = 600;
    if (colour) options.colorSpeed = 600;
    options.printSeconds = printSeconds;
    printer_ = std::make_unique<IppPrinter>(folder_, options);
    if (queue && printer_->ready()) cups_ = std::make_unique<CupsServer>(CupsServer::Options{printer_->uri(), history});
  }
  ~Shop() {
    cups_.reset();
    printer_.reset();
    std::error_code ec;
    if (!folder_.empty() && !std::getenv("KIVO_KEEP_E2E")) fs::remove_all(folder_, ec);
  }

  bool ready() const { return printer_->ready() && (!cups_ || cups_->ready()); }
  std::string why() const { return printer_->log() + (cups_ ? cups_->ErrorLog() : std::string()); }
  CupsServer& cups() { return *cups_; }
  IppPrinter& printer() { return *printer_; }
  // Prints through the queue, reached at `server` (by default the
  // scheduler itself).
  void Use(e2e::Station& station, const std::string& server = {}) {
    station.SetEnv("CUPS_SERVER", server.empty() ? cups_->server() : server);
    station.SetEnv("PRINTER", CupsServer::kQueue);
  }
  size_t Documents() const { return printer_->documents().size(); }
  // Until the scheduler has finished every job it was given.
  bool Settled() {
    return e2e::WaitUntil([&] { return cups_->UnfinishedJobs().empty(); }, 60);
  }

 private:
  fs::path folder_;
  std::unique_ptr<IppPrinter> printer_;
  std::unique_ptr<CupsServer> cups_;
};

// Skips a test where the neighbours cannot run as they do in a shop.
#define KIVO_NEED_ROOT()                                                                   \
  if (::geteuid() != 0) GTEST_SKIP() << "cupsd runs its backends as user lp only when started as root"

// After a restart the job is finished and the queue got its page once: one
// document at the printer, one page-log line of the job at the scheduler,
// one count and (unless the job was finished from the record, which keeps
// no print-log line) one print-log line.
void ExpectPrintedOnce(e2e::Station& station, Shop& shop, const std::string& jobFile, size_t documentsBefore,
                       bool logged = true) {
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_TRUE(station.WaitUntilGone(station.images() / "Green.jpg")) << station.Log();
  ASSERT_TRUE(shop.Settled()) << shop.why();
  EXPECT_EQ(shop.Documents(), documentsBefore + 1) << station.Log();
  EXPECT_EQ(shop.cups().PagesNamed(jobFile + " #"), 1u) << station.Log();
  EXPECT_EQ(e2e::PrintLogLines(station), logged ? 1u : 0u);
  EXPECT_EQ(e2e::SystemPrinterCount(station), 1);
  EXPECT_TRUE(shop.cups().UnfinishedJobs().empty()) << "no empty job is left at the scheduler";
}

// Prints `job` (of the photo Green.jpg, written here) as `jobFile`, killed
// (SIGKILL) at crash point `point`; the next start kills no more.
void KilledAt(e2e::Station& station, const char* point, const std::string& jobFile,
              const jobwriter::TJobDescription& job = e2e::SystemPrinterJob("Green.jpg")) {
  station.SetEnv("KIVO_KILL_AT", point);
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(job, jobFile));
  ASSERT_EQ(station.Wait(60), 128 + SIGKILL) << station.Log();
  station.SetEnv("KIVO_KILL_AT", "");
}

// The job is set aside, its photo kept, uncounted, and the operator told,
// naming it, that it may already have printed because `why`.
void ExpectSetAside(e2e::Station& station, const std::string& jobFile, const std::string& why) {
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / jobFile); }, 60)) << station.Log();
  const std::string log = station.Log();
  EXPECT_NE(log.find("This job may already have printed"), std::string::npos) << log;
  EXPECT_NE(log.find(why), std::string::npos) << log;
  EXPECT_NE(log.find("Job file: " + jobFile), std::string::npos) << log;
  EXPECT_EQ(log.find("not sent again"), std::string::npos) << log;
  EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
  EXPECT_EQ(e2e::SystemPrinterCount(station), 0);
  EXPECT_EQ(e2e::PrintLogLines(station), 0u);
}

// Killed (SIGKILL) at each durable step of the route and started again, at
// once or once the scheduler has finished the job (and lists it without its
// name): the queue gets the page once.
TEST(RealCups, KilledAtEachStepTheQueueGetsThePageOnce) {
  KIVO_NEED_ROOT();
  Shop shop;
  ASSERT_TRUE(shop.ready()) << shop.why();
  struct Case {
    const char* point;
    bool waitForTheScheduler;
  };
  int n = 0;
  for (const Case c : {Case{"placing-recorded", false}, Case{"printer-job-recorded", false},
                       Case{"output-placed", false}, Case{"output-placed", true}, Case{"output-recorded", true}}) {
    SCOPED_TRACE(std::string(c.point) + (c.waitForTheScheduler ? ", restarted once the job was done there" : ""));
    const std::string jobFile = "kill" + std::to_string(++n) + ".trpr";
    const size_t before = shop.Documents();
    e2e::Station station("cupskill");
    shop.Use(station);
    ASSERT_NO_FATAL_FAILURE(KilledAt(station, c.point, jobFile));
    if (c.waitForTheScheduler) {
      ASSERT_TRUE(shop.Settled());
    }
    ASSERT_TRUE(station.Start()) << station.Log();
    ExpectPrintedOnce(station, shop, jobFile, before, std::string(c.point) != "output-recorded");
    EXPECT_EQ(station.Stop(), 0);
  }
}

// SIGTERM at each step of the route (the program stopped there, the signal
// sent, the program continued): it ends with status 0 and the queue gets
// the page once, at that run or the next.
TEST(RealCups, EndedAtEachStepTheQueueGetsThePageOnce) {
  KIVO_NEED_ROOT();
  Shop shop;
  ASSERT_TRUE(shop.ready()) << shop.why();
  int n = 0;
  for (const char* point : {"placing-recorded", "printer-job-recorded", "output-placed"}) {
    SCOPED_TRACE(point);
    const std::string jobFile = "term" + std::to_string(++n) + ".trpr";
    const size_t before = shop.Documents();
    e2e::Station station("cupsterm");
    shop.Use(station);
    station.SetEnv("KIVO_STOP_AT", point);
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
    ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), jobFile));
    ASSERT_TRUE(e2e::WaitUntil([&] { return station.Stopped(); }, 60)) << station.Log();
    ASSERT_EQ(::kill(station.pid(), SIGTERM), 0);
    ASSERT_EQ(::kill(station.pid(), SIGCONT), 0);
    ASSERT_EQ(station.Wait(30), 0) << station.Log();
    station.SetEnv("KIVO_STOP_AT", "");
    ASSERT_TRUE(station.Start()) << station.Log();
    ExpectPrintedOnce(station, shop, jobFile, before);
    EXPECT_EQ(station.Stop(), 0);
  }
}

// The scheduler takes the page and its answer is held back; SIGTERM ends
// the program in its wait, the job kept uncounted. The scheduler prints the
// page and then lists the job without its name; the next start asks for the
// job by its id and does not send the page again.
TEST(RealCups, SigtermWhileTheSchedulersAnswerIsHeldBackSendsThePageOnce) {
  KIVO_NEED_ROOT();
  Shop shop;
  ASSERT_TRUE(shop.ready()) << shop.why();
  AnswerRelay relay(shop.cups().port());
  ASSERT_TRUE(relay.ok());
  e2e::Station station("cupsheld");
  shop.Use(station, relay.server());
  station.SetEnv("KIVO_STOP_AT", "printer-job-recorded");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), "held.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return station.Stopped(); }, 60)) << station.Log();
  relay.HoldAnswersFrom(IPP_OP_SEND_DOCUMENT);
  ASSERT_EQ(::kill(station.pid(), SIGCONT), 0);
  ASSERT_TRUE(e2e::WaitUntil([&] { return relay.held() > 0; }, 60)) << station.Log();
  ASSERT_EQ(station.Stop(), 0) << station.Log();
  EXPECT_TRUE(e2e::ExistsAsEntry(station.allFiles() / "held.trpr")) << station.Log();
  EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
  EXPECT_EQ(e2e::SystemPrinterCount(station), 0);
  EXPECT_EQ(e2e::PrintLogLines(station), 0u);
  relay.Release();
  ASSERT_TRUE(shop.Settled());
  ASSERT_EQ(shop.cups().PagesNamed("held.trpr #"), 1u);

  station.SetEnv("KIVO_STOP_AT", "");
  ASSERT_TRUE(station.Start()) << station.Log();
  ExpectPrintedOnce(station, shop, "held.trpr", 0);
  EXPECT_NE(station.Log().find("since an earlier try: it is not sent again"), std::string::npos) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

// The program is stopped (SIGSTOP) while the scheduler's answer to the page
// comes, and continued long after the answer limit: the answer waiting in
// its socket is read, and the job is printed and counted once, not set
// aside.
TEST(RealCups, AnAnswerThatCameWhileTheProgramWasStoppedIsRead) {
  KIVO_NEED_ROOT();
  Shop shop;
  ASSERT_TRUE(shop.ready()) << shop.why();
  AnswerRelay relay(shop.cups().port());
  ASSERT_TRUE(relay.ok());
  e2e::Station station("cupsstop");
  shop.Use(station, relay.server());
  // The limit leaves a slow (sanitizer) build the time to send the page;
  // the program then stays stopped for longer than the limit.
  station.SetEnv("KIVO_PRINTER_ANSWER_LIMIT", "10");
  station.SetEnv("KIVO_STOP_AT", "printer-job-recorded");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), "paused.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return station.Stopped(); }, 60)) << station.Log();
  relay.StopProgramAfter(IPP_OP_SEND_DOCUMENT, station.pid());
  ASSERT_EQ(::kill(station.pid(), SIGCONT), 0);
  ASSERT_TRUE(e2e::WaitUntil([&] { return relay.answeredWhileStopped() > 0; }, 60)) << station.Log();
  ASSERT_TRUE(station.Stopped());
  // The answer lies in the program's socket while its limit passes.
  std::this_thread::sleep_for(std::chrono::seconds(12));
  ASSERT_EQ(::kill(station.pid(), SIGCONT), 0);
  ExpectPrintedOnce(station, shop, "paused.trpr", 0);
  const std::string log = station.Log();
  EXPECT_NE(log.find("Printed as job"), std::string::npos) << log;
  EXPECT_EQ(log.find("did not answer"), std::string::npos) << log;
  EXPECT_EQ(station.Stop(), 0);
}

// A scheduler that keeps no job history forgets the job the moment it is
// printed. Killed before it recorded the page printed, the program cannot
// learn whether the page went: the job is set aside with its photo,
// uncounted, and the operator is told it may already have printed, naming
// the job; the web server is not told it failed. The page goes again only
// when the operator moves the job back, and the web server is then told it
// was processed.
TEST(RealCups, AJobTheSchedulerForgotIsSetAsideUntilTheOperatorSendsItAgain) {
  KIVO_NEED_ROOT();
  Shop shop(true, "No");
  ASSERT_TRUE(shop.ready()) << shop.why();
  e2e::Station station("cupsforgot");
  const e2e::BusWatcher watcher(station.base() / "bus.txt");
  const std::string url = "https://example.org/" + station.base().filename().string() + "-forgot.jpg";
  auto told = [&](const char* what) {
    size_t n = 0;
    for (const auto& signal : watcher.Seen())
      n += signal.userInfo.find(url) != std::string::npos && signal.userInfo.find(what) != std::string::npos;
    return n;
  };
  shop.Use(station);
  jobwriter::TJobDescription job = e2e::SystemPrinterJob("Green.jpg");
  job.webDictionary = jobwriter::WebDataArchive({{"imageurl", url}, {"order", "48"}});
  ASSERT_NO_FATAL_FAILURE(KilledAt(station, "output-placed", "forgot.trpr", job));
  ASSERT_TRUE(shop.Settled());
  ASSERT_EQ(shop.cups().PagesNamed("forgot.trpr #"), 1u);
  const int id = std::atoi(shop.cups().PageLog().back().c_str());
  ASSERT_TRUE(e2e::WaitUntil([&] { return shop.cups().JobState(id) == 0; }, 60)) << "the scheduler forgets the job";

  ASSERT_TRUE(station.Start()) << station.Log();
  ExpectSetAside(station, "forgot.trpr", "no longer knows the job");
  EXPECT_EQ(shop.Documents(), 1u);

  // The operator sends it again.
  std::error_code ec;
  fs::rename(station.unknown() / "forgot.trpr", station.jobs() / "forgot.trpr", ec);
  ASSERT_FALSE(ec);
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ASSERT_TRUE(shop.Settled());
  EXPECT_EQ(shop.Documents(), 2u);
  EXPECT_EQ(e2e::PrintLogLines(station), 1u);
  EXPECT_EQ(e2e::SystemPrinterCount(station), 1);
  EXPECT_TRUE(e2e::WaitUntil([&] { return told("Job processed") == 1; }, 30)) << station.Log();
  EXPECT_EQ(told("Job failed to process"), 0u) << "a job that may have printed is not told as failed";
  EXPECT_EQ(station.Stop(), 0);
}

// Killed once the scheduler had the page, the scheduler down at the
// restart for longer than the wait: the job is set aside (it may have
// printed, and it did). Moved back as the alert says, it prints again: the
// scheduler's job of the earlier try, which has the page, is not taken for
// this try's. Kept in the finished-jobs folder and moved back from there, it
// prints again too.
TEST(RealCups, AJobMovedBackAfterAHoldOrFromTheFinishedJobsPrintsAgain) {
  KIVO_NEED_ROOT();
  Shop shop;
  ASSERT_TRUE(shop.ready()) << shop.why();
  e2e::Station station("cupsback");
  e2e::WritePrefs(station.defaultsFile(), [] { getMyPrintServerPrefs()->keepJobFiles = 1; });
  shop.Use(station);
  station.SetEnv("KIVO_PRINTER_BUSY_LIMIT", "3");
  ASSERT_NO_FATAL_FAILURE(KilledAt(station, "output-placed", "back.trpr"));
  ASSERT_TRUE(shop.Settled());
  ASSERT_EQ(shop.Documents(), 1u);
  shop.cups().Stop();
  ASSERT_TRUE(station.Start()) << station.Log();
  ExpectSetAside(station, "back.trpr", "cannot be reached");
  ASSERT_TRUE(shop.cups().Restart()) << shop.why();

  const fs::path finished = station.finished() / "back.trpr";
  fs::rename(station.unknown() / "back.trpr", station.jobs() / "back.trpr");
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(finished); }, 60)) << station.Log();
  ASSERT_TRUE(shop.Settled());
  EXPECT_EQ(shop.Documents(), 2u) << station.Log();
  EXPECT_EQ(shop.cups().PagesNamed("back.trpr #"), 2u);
  EXPECT_EQ(station.Log().find("not sent again"), std::string::npos) << station.Log();
  EXPECT_EQ(e2e::SystemPrinterCount(station), 1);

  fs::rename(finished, station.jobs() / "back.trpr");
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::PrintLogLines(station) == 2 && e2e::ExistsAsEntry(finished); }, 60))
      << station.Log();
  ASSERT_TRUE(shop.Settled());
  EXPECT_EQ(shop.Documents(), 3u) << station.Log();
  EXPECT_EQ(shop.cups().PagesNamed("back.trpr #"), 3u);
  EXPECT_EQ(e2e::SystemPrinterCount(station), 2);
  EXPECT_EQ(station.Stop(), 0);
}

// Killed once the scheduler had the page, while it was still passing it on
// to the printer (which takes a few seconds to print it); the scheduler is
// restarted once the printer has answered for the page (the backend waits
// for it to be printed) and shows the job waiting without its document,
// though the printer has printed it. The page is not sent again: the job is
// set aside with its photo, uncounted, the operator told it may already have
// printed, and the scheduler's empty job is cancelled. (Restarted before the
// printer's answer reached it, the scheduler keeps the document and prints
// it again itself.)
TEST(RealCups, APageTheSchedulerWasPassingOnWhenRestartedIsNotSentAgain) {
  KIVO_NEED_ROOT();
  Shop shop(true, "Yes", false, 8);
  ASSERT_TRUE(shop.ready()) << shop.why();
  e2e::Station station("cupssending");
  shop.Use(station);
  ASSERT_NO_FATAL_FAILURE(KilledAt(station, "output-placed", "sending.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return shop.Documents() == 1; }, 60)) << shop.why();
  ASSERT_TRUE(e2e::WaitUntil([&] { return shop.cups().QueueShowsReason("cups-waiting-for-job-completed"); }, 60))
      << shop.why();
  ASSERT_EQ(shop.cups().UnfinishedJobs(), std::vector<int>{1}) << "the scheduler is still passing the page on";
  ASSERT_TRUE(shop.cups().Restart()) << shop.why();

  ASSERT_TRUE(station.Start()) << station.Log();
  ExpectSetAside(station, "sending.trpr", "without its document");
  ASSERT_TRUE(shop.Settled());
  EXPECT_EQ(shop.Documents(), 1u) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

// Killed once the scheduler made the job (its page not sent), then the
// scheduler goes down and loses its jobs: started again, it counts from 1
// and gives the recorded number to another user's job, which prints; it
// hides that job's name and user from this one (Debian's policy, the
// program's user not among its system users). The job of that number is
// not taken for ours: the job is set aside with its photo, uncounted, the
// operator told.
TEST(RealCups, AnotherUsersJobUnderTheRecordedNumberIsNotTakenForOurs) {
  KIVO_NEED_ROOT();
  Shop shop;
  ASSERT_TRUE(shop.ready()) << shop.why();
  e2e::Station station("cupsrenumber");
  shop.Use(station);
  ASSERT_NO_FATAL_FAILURE(KilledAt(station, "printer-job-recorded", "renumbered.trpr"));
  shop.cups().Stop(true);
  ASSERT_TRUE(shop.cups().Restart(false)) << shop.why();
  ASSERT_TRUE(shop.cups().PrintAs("nobody", station.images() / "Green.jpg", "another user's page")) << shop.why();
  ASSERT_TRUE(shop.Settled());
  ASSERT_EQ(shop.cups().PageLog().size(), 1u) << shop.why();
  ASSERT_EQ(std::atoi(shop.cups().PageLog().front().c_str()), 1) << "the other user's job got the number";

  ASSERT_TRUE(station.Start()) << station.Log();
  ExpectSetAside(station, "renumbered.trpr", "does not show whose job has that number");
  EXPECT_EQ(shop.Documents(), 1u);
  EXPECT_EQ(station.Stop(), 0);
}

// The scheduler is down when the program starts again after a kill: it is
// told as a scheduler that cannot be reached, and waited for, the job kept.
// A job that never had the scheduler make a job for its page prints once
// the scheduler is back; one whose job the scheduler made waits until the
// scheduler says what became of it: it kept the job waiting for its page,
// which is cancelled, and the page prints once. SIGTERM ends the wait, the
// job kept for the next start.
TEST(RealCups, ASchedulerThatIsDownIsWaitedFor) {
  KIVO_NEED_ROOT();
  Shop shop;
  ASSERT_TRUE(shop.ready()) << shop.why();
  int n = 0;
  for (const char* point : {"placing-recorded", "printer-job-recorded"}) {
    SCOPED_TRACE(point);
    const std::string jobFile = "down" + std::to_string(++n) + ".trpr";
    const size_t before = shop.Documents();
    e2e::Station station("cupsdown");
    shop.Use(station);
    station.SetEnv("KIVO_PRINTER_BUSY_LIMIT", "300");
    ASSERT_NO_FATAL_FAILURE(KilledAt(station, point, jobFile));
    shop.cups().Stop();
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(station.WaitForLog("Printer cannot be reached: trying again in 4 s (try 3)")) << station.Log();
    EXPECT_NE(station.Log().find("the print scheduler at " + shop.cups().server() + " cannot be reached"),
              std::string::npos)
        << station.Log();
    EXPECT_EQ(station.Log().find("not found"), std::string::npos) << station.Log();
    auto waiting = [&] {
      return e2e::ExistsAsEntry(station.allFiles() / jobFile) || e2e::ExistsAsEntry(station.jobs() / jobFile);
    };
    EXPECT_TRUE(waiting()) << "the job waits";
    if (n == 1) {
      ASSERT_EQ(station.Stop(), 0) << station.Log();
      EXPECT_TRUE(waiting());
      EXPECT_EQ(e2e::SystemPrinterCount(station), 0);
      ASSERT_TRUE(station.Start()) << station.Log();
    }
    ASSERT_TRUE(shop.cups().Restart()) << shop.why();
    ExpectPrintedOnce(station, shop, jobFile, before);
    if (n == 2) {
      EXPECT_NE(station.Log().find("never had its page"), std::string::npos) << station.Log();
    }
    EXPECT_EQ(station.Stop(), 0);
  }
}

// Every form of CUPS_SERVER libcups' own tools take reaches the queue: an
// address and port, a host name and port, the scheduler's socket. LPDEST
// names the queue before PRINTER does, and a job's --print-printer before
// either.
TEST(RealCups, EveryFormOfTheSchedulersAddressReachesTheQueue) {
  KIVO_NEED_ROOT();
  Shop shop;
  ASSERT_TRUE(shop.ready()) << shop.why();
  const std::string port = std::to_string(shop.cups().port());
  struct Case {
    std::string server, lpdest, printer, printPrinter;
  };
  int n = 0;
  for (const Case& c : {Case{"127.0.0.1:" + port, "", CupsServer::kQueue, ""},
                        Case{"localhost:" + port, CupsServer::kQueue, "NoSuchQueue", ""},
                        Case{shop.cups().socket().string(), "NoSuchQueue", "NoSuchQueue", CupsServer::kQueue}}) {
    SCOPED_TRACE(c.server);
    const std::string jobFile = "server" + std::to_string(++n) + ".trpr";
    e2e::Station station("cupsserver");
    station.SetEnv("CUPS_SERVER", c.server);
    station.SetEnv("LPDEST", c.lpdest);
    station.SetEnv("PRINTER", c.printer);
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
    std::vector<std::string> words{"--printer", "8", "--image", "Green.jpg@0,0,4,6"};
    if (!c.printPrinter.empty()) words.insert(words.end(), {"--print-printer", c.printPrinter});
    ASSERT_TRUE(station.DropWritten(words, jobFile));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    ASSERT_TRUE(shop.Settled());
    EXPECT_EQ(shop.cups().PagesNamed(jobFile + " #"), 1u) << station.Log();
    EXPECT_EQ(shop.Documents(), size_t(n)) << station.Log();
    EXPECT_EQ(station.Stop(), 0);
  }
}

// A photo printer that takes JPEG only, given by its IPP address, and a
// queue on a photo printer: 4x6, 5x7 and A6 print on the printer's own
// sizes, sent by address as the keywords it lists (not as the names libcups
// makes of its media database); a size it does not offer is not swapped for
// another: the job is set aside, and the alert names the sizes it offers.
TEST(RealCups, PhotoPaperPrintsByAddressAndThroughAQueue) {
  KIVO_NEED_ROOT();
  Shop shop(true, "Yes", true);
  ASSERT_TRUE(shop.ready()) << shop.why();
  const fs::path photoFolder = shop.printer().spool().parent_path() / "photo";
  IppPrinter photo(photoFolder, IppPrinter::Options{"image/jpeg", 10, 10});
  ASSERT_TRUE(photo.ready()) << photo.log();
  struct Paper {
    const char* asked;
    const char* keyword;
  };
  int n = 0;
  for (const bool byAddress : {true, false}) {
    SCOPED_TRACE(byAddress ? "by its address" : "through a queue");
    e2e::Station station("cupsphoto");
    if (!byAddress) station.SetEnv("CUPS_SERVER", shop.cups().server());
    const std::string printer = byAddress ? photo.uri() : std::string(CupsServer::kQueue);
    auto documents = [&] { return byAddress ? photo.documents().size() : shop.Documents(); };
    ASSERT_TRUE(station.Start()) << station.Log();
    for (const Paper p : {Paper{"4x6", "na_index-4x6_4x6in"}, Paper{"na_index-4x6_4x6in", "na_index-4x6_4x6in"},
                          Paper{"5x7", "na_5x7_5x7in"}, Paper{"a6", "iso_a6_105x148mm"}}) {
      SCOPED_TRACE(p.asked);
      const size_t before = documents();
      const std::string jobFile = "photo" + std::to_string(++n) + ".trpr";
      ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
      ASSERT_TRUE(station.DropWritten({"--printer", "8", "--print-printer", printer, "--print-paper", p.asked,
                                       "--image", "Green.jpg@0,0,4,6"},
                                      jobFile));
      ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
      ASSERT_TRUE(e2e::WaitUntil([&] { return documents() == before + 1; }, 60)) << station.Log();
      EXPECT_FALSE(e2e::ExistsAsEntry(station.unknown() / jobFile)) << station.Log();
      if (byAddress) {
        const fs::path document = photo.documents().back();
        std::string attributes;
        e2e::WaitUntil([&] {
          attributes = e2e::ReadAll(document.string() + ".env");
          return attributes.find("IPP_MEDIA=") != std::string::npos;
        }, 30);
        EXPECT_NE(attributes.find(std::string("IPP_MEDIA=") + p.keyword + "\n"), std::string::npos) << attributes;
      }
    }
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
    ASSERT_TRUE(station.DropWritten({"--printer", "8", "--print-printer", printer, "--print-paper", "8x10",
                                     "--image", "Green.jpg@0,0,4,6"},
                                    "tenbyeight.trpr"));
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "tenbyeight.trpr"); }, 60))
        << station.Log();
    const std::string log = station.Log();
    EXPECT_NE(log.find("the printer offers no paper \"na_govt-letter_8x10in\"; it offers "), std::string::npos) << log;
    EXPECT_NE(log.find("na_5x7_5x7in"), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
    EXPECT_EQ(station.Stop(), 0);
  }
  ASSERT_TRUE(shop.Settled());
}

// The operator's manual's recipe for a test printer and a queue on it, as
// docs/OPERATOR.md gives it: the indented blocks after the paragraph naming `test`, the
// first one's lines marked "# your ..." given `values` (by the variable
// each sets). The second block runs in the shell the first ran in, where
// those lines have set their variables. A line it cannot give leaves the
// recipe empty.
class ManualRecipe {
 public:
  ManualRecipe(const std::string& test, const std::map<std::string, std::string>& values) {
    std::istringstream manual(e2e::ReadAll(fs::path(KIVO_SOURCE_DIR) / "docs" / "OPERATOR.md"));
    bool after = false;
    std::string block;
    for (std::string line; std::getline(manual, line) && blocks_.size() < 2;) {
      after = after || line.find("`" + test + "`") != std::string::npos;
      if (after && line.rfind("    ", 0) == 0) {
        block += line.substr(4) + "\n";
      } else if (!block.empty()) {
        blocks_.push_back(block);
        block.clear();
      }
    }
    if (blocks_.size() != 2) {
      blocks_.clear();
      return;
    }
    static const std::regex marked(R"(^(\w+)=\S+(\s+# your .*)$)");
    std::string setUp, yours;
    size_t given = 0;
    std::istringstream lines(blocks_[0]);
    for (std::string line; std::getline(lines, line);) {
      std::smatch m;
      if (std::regex_match(line, m, marked) && values.count(m[1].str())) {
        line = m[1].str() + "=" + values.at(m[1].str()) + m[2].str();
        yours += line + "\n";
        ++given;
      }
      setUp += line + "\n";
    }
    if (given != values.size()) {
      blocks_.clear();
      return;
    }
    blocks_[0] = setUp;
    blocks_[1] = yours + blocks_[1];
  }
  bool ok() const { return !blocks_.empty(); }
  const std::string& setUp() const { return blocks_[0]; }
  const std::string& tearDown() const { return blocks_[1]; }

 private:
  std::vector<std::string> blocks_;
};

// Runs `commands` with bash in `folder` (its output into `log`) and gives
// its exit status, -1 when it did not end within `seconds`. With
// `ownAvahiFolder`, in a mount namespace of its own where one may be made,
// with a folder of its own for avahi-daemon's pid file, so that the
// responder it starts meets no other on this machine.
int RunCommands(const std::string& commands, const fs::path& folder, const std::string& name,
                const std::map<std::string, std::string>& env, double seconds, bool ownAvahiFolder = false) {
  e2e::WriteAll(folder / (name + ".sh"), commands);
  testing_support::SpawnOptions spawn;
  spawn.words = {"bash", (folder / (name + ".sh")).string()};
  if (ownAvahiFolder && std::system("unshare -m --propagation private true >/dev/null 2>&1") == 0)
    spawn.words = {"unshare", "-m", "--propagation", "private", "sh", "-c",
                   "mount -t tmpfs tmpfs /run/avahi-daemon 2>/dev/null; exec bash \"$0\"",
                   (folder / (name + ".sh")).string()};
  spawn.outputFile = (folder / (name + ".log")).string();
  spawn.errorToOutput = true;
  spawn.newProcessGroup = true;
  for (const auto& [k, v] : env) spawn.environment[k] = v;
  const pid_t pid = testing_support::SpawnProgram(spawn);
  const int status = testing_support::WaitForExitOrKill(pid, seconds);
  if (status == -1) ::kill(-pid, SIGKILL);
  return status;
}

// The manual's commands for a test printer and a queue on it, run as they
// stand there with this test's folder and port, and the scheduler of the
// test as the machine's: the queue they make prints a 4x6 job, the page
// kept among the printer's pages; the manual's last commands remove the
// queue and stop the printer.
TEST(RealCups, TheManualsRecipeMakesAQueueThatPrints) {
  KIVO_NEED_ROOT();
  const TempDir folder;
  ASSERT_TRUE(folder.ok());
  const fs::path dir = fs::path(folder.path()) / "printer";
  const ManualRecipe recipe("RealCups.TheManualsRecipeMakesAQueueThatPrints",
                            {{"dir", dir.string()}, {"port", std::to_string(testipp::FreeLoopbackPort())}});
  ASSERT_TRUE(recipe.ok()) << "the operator's manual gives no recipe with a folder and a port of your own";
  CupsServer cups(CupsServer::Options{""});
  ASSERT_TRUE(cups.ready()) << cups.ErrorLog();
  const std::map<std::string, std::string> machine{{"CUPS_SERVER", cups.socket().string()}};
  // Whatever the recipe's own last commands leave running is ended too.
  struct TearDown {
    const ManualRecipe& recipe;
    const fs::path folder, dir;
    const std::map<std::string, std::string>& env;
    ~TearDown() {
      RunCommands(recipe.tearDown(), folder, "teardown", env, 30);
      for (const char* started : {"printer.pid", "avahi.pid", "bus.pid"}) {
        const pid_t pid = std::atoi(e2e::ReadAll(dir / started).c_str());
        // Only while that number is still the program the recipe started.
        const std::string line = e2e::ReadAll("/proc/" + std::to_string(pid) + "/cmdline");
        if (pid > 0 && line.find(dir.string()) != std::string::npos) ::kill(pid, SIGKILL);
      }
    }
  } tearDown{recipe, folder.path(), dir, machine};
  ASSERT_EQ(RunCommands(recipe.setUp(), folder.path(), "setup", machine, 120, true), 0)
      << e2e::ReadAll(fs::path(folder.path()) / "setup.log") << e2e::ReadAll(dir / "printer.log") << cups.ErrorLog();
  EXPECT_NE(e2e::ReadAll(fs::path(folder.path()) / "setup.log").find("- IPP Everywhere'"), std::string::npos)
      << "the recipe's last line shows the queue's driver\n" << e2e::ReadAll(fs::path(folder.path()) / "setup.log");

  e2e::Station station("cupsrecipe");
  station.SetEnv("CUPS_SERVER", cups.server());
  station.SetEnv("PRINTER", "PhotoQueue");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(
      station.DropWritten({"--printer", "8", "--print-paper", "4x6", "--image", "Green.jpg@0,0,4,6"}, "recipe.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_FALSE(e2e::ExistsAsEntry(station.unknown() / "recipe.trpr")) << station.Log();
  EXPECT_TRUE(e2e::WaitUntil([&] { return cups.PagesNamed("recipe.trpr #") == 1; }, 60)) << cups.ErrorLog();
  EXPECT_TRUE(e2e::WaitUntil([&] { return !e2e::VisibleFilesBelow(dir / "pages").empty(); }, 60))
      << e2e::ReadAll(dir / "printer.log");
  EXPECT_EQ(station.Stop(), 0);

  const pid_t printer = std::atoi(e2e::ReadAll(dir / "printer.pid").c_str());
  ASSERT_GT(printer, 0);
  EXPECT_EQ(RunCommands(recipe.tearDown(), folder.path(), "teardown", machine, 30), 0)
      << e2e::ReadAll(fs::path(folder.path()) / "teardown.log");
  EXPECT_TRUE(e2e::WaitUntil([&] { return ::kill(printer, 0) != 0; }, 10)) << "the printer stops";
  EXPECT_FALSE(cups.Answers("PhotoQueue")) << "the queue is removed";
}

// A queue whose printer does not offer what IPP Everywhere asks for (JPEG
// only, no raster format): lpadmin ends with status 0, the scheduler makes
// no driver, says so in its error log only, and shows the queue as a raw
// one. A job on the queue fails,
// its photo kept, with an alert that names the queue, says it has no driver
// and where the scheduler says why; not one about the paper.
TEST(RealCups, AJobOnAQueueWithoutADriverFailsNamingTheQueue) {
  KIVO_NEED_ROOT();
  const TempDir folder;
  ASSERT_TRUE(folder.ok());
  IppPrinter printer(fs::path(folder.path()) / "printer", IppPrinter::Options{"image/jpeg", 10, 10});
  ASSERT_TRUE(printer.ready()) << printer.log();
  CupsServer cups(CupsServer::Options{""});
  ASSERT_TRUE(cups.ready()) << cups.ErrorLog();
  ASSERT_TRUE(cups.AddQueue("NoDriverQueue", printer.uri(), false)) << cups.ErrorLog();
  ASSERT_TRUE(e2e::WaitUntil(
      [&] { return cups.ErrorLog().find("NoDriverQueue: PPD creation failed") != std::string::npos; }, 60))
      << cups.ErrorLog();
  // As the manual's check shows such a queue.
  const std::string options = e2e::ToolOutput({"lpoptions", "-h", cups.server(), "-p", "NoDriverQueue"});
  EXPECT_NE(options.find("printer-make-and-model='Local Raw Printer'"), std::string::npos) << options;

  e2e::Station station("cupsnodriver");
  station.SetEnv("CUPS_SERVER", cups.server());
  station.SetEnv("PRINTER", "NoDriverQueue");
  ASSERT_TRUE(station.Start()) << station.Log();
  int n = 0;
  for (const std::vector<std::string>& paper : {std::vector<std::string>{"--print-paper", "4x6"},
                                                std::vector<std::string>{}}) {
    SCOPED_TRACE(paper.empty() ? "the job names no paper" : "the job names its paper");
    const std::string jobFile = "nodriver" + std::to_string(++n) + ".trpr";
    std::vector<std::string> words{"--printer", "8", "--image", "Green.jpg@0,0,4,6"};
    words.insert(words.end(), paper.begin(), paper.end());
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
    ASSERT_TRUE(station.DropWritten(words, jobFile));
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / jobFile); }, 60)) << station.Log();
    EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
  }
  const std::string log = station.Log();
  const std::string alert = "Alert 1001: The page could not be printed: the queue \"NoDriverQueue\" of the print "
                            "scheduler at " + cups.server() +
                            " has no driver, so it offers no paper; the scheduler's error log says why (";
  for (const char* jobFile : {"nodriver1.trpr", "nodriver2.trpr"}) {
    const size_t at = log.find(alert);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_NE(log.find("\nJob file: " + std::string(jobFile) + "\n", at), std::string::npos) << log;
  }
  EXPECT_EQ(e2e::CountOf(log, alert), 2u) << log;
  EXPECT_EQ(log.find("offers no paper \""), std::string::npos) << log;
  EXPECT_EQ(log.find("Invalid argument"), std::string::npos) << log;
  EXPECT_EQ(e2e::SystemPrinterCount(station), 0);
  EXPECT_EQ(station.Stop(), 0);
}

// The printer's answer to a job's creation is held back past the limit:
// the job the printer made is cancelled, so that it does not hold the
// printer, which takes the next job.
TEST(RealCups, AnEmptyJobLeftByAnUnansweredCreationIsCancelled) {
  KIVO_NEED_ROOT();
  Shop shop(false);
  ASSERT_TRUE(shop.ready()) << shop.why();
  AnswerRelay relay(shop.printer().port());
  ASSERT_TRUE(relay.ok());
  e2e::Station station("ippcreate");
  station.SetEnv("PRINTER", "ipp://127.0.0.1:" + std::to_string(relay.port()) + "/ipp/print");
  station.SetEnv("KIVO_PRINTER_ANSWER_LIMIT", "2");
  station.SetEnv("KIVO_PRINTER_BUSY_LIMIT", "4");
  relay.HoldAnswersFrom(IPP_OP_CREATE_JOB);
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), "unanswered.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "unanswered.trpr"); }, 60))
      << station.Log();
  EXPECT_NE(station.Log().find("the printer refused the job: the printer did not answer within 2 s"),
            std::string::npos)
      << station.Log();
  EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
  relay.Release();
  EXPECT_TRUE(testipp::UnfinishedJobsAt(shop.printer().port(), shop.printer().uri()).empty());
  EXPECT_EQ(shop.Documents(), 0u);

  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {200, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Red.jpg"), "next.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg")) << station.Log();
  EXPECT_EQ(shop.Documents(), 1u) << station.Log();
  EXPECT_EQ(e2e::PrintLogLines(station), 1u);
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
