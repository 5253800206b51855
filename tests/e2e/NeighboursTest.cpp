// The running processor against neighbours that do not answer or cannot be
// had: a session bus that accepts and stays silent, a video encoder that
// hangs, printers that never answer or are busy, a display with no server,
// an application folder that cannot be made and a second copy. Each time the
// program goes on or says why it cannot, and SIGTERM ends it within seconds.
#include <fstream>

#include "common/FakeIppPrinter.h"
#include "e2e/E2E.h"

#include "host/sys/UserDefaults.h"
#include "layout/Objects.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace {

namespace fs = e2e::fs;

jobwriter::TJobDescription PhotoJob(const std::string& photo, const std::string& templ = "E2E") {
  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  job.templateName = CStr31_AC(templ);
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(photo, 0, 0, 4, 6))));
  return job;
}

using testing_support::FakeIppPrinter;
using testing_support::MuteListener;

TEST(Neighbours, ASilentSessionBusTurnsNotificationsOffAndJobsStillPrint) {
  e2e::Station station("silentbus");
  MuteListener bus((station.base() / "bus").string());
  ASSERT_TRUE(bus.ok());
  station.SetEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (station.base() / "bus").string());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(PhotoJob("Red.jpg"), "red.trpr"));
  EXPECT_FALSE(station.WaitForSetOutput('A', 60).empty()) << station.Log();
  EXPECT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_NE(station.Log().find("notifications to and from the other station applications are off"), std::string::npos)
      << station.Log();
  EXPECT_GE(bus.connections(), 1u);
  EXPECT_EQ(station.Stop(), 0);
}

jobwriter::TJobDescription PrinterJob(const std::string& photo) {
  jobwriter::TJobDescription job = PhotoJob(photo, "Printer");
  job.printer = 8;
  job.canvas = 5;
  return job;
}

// A printer that takes the connection and never answers holds the job; on
// SIGTERM the program ends within seconds and the job is still there, with
// its photo, for the next start; nothing went to the unknown-jobs folder and
// nothing was counted.
TEST(Neighbours, SigtermEndsTheWaitForASilentPrinterAndKeepsTheJob) {
  e2e::Station station("silentprinter");
  MuteListener printer;
  ASSERT_TRUE(printer.ok());
  station.SetEnv("PRINTER", printer.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(PrinterJob("Green.jpg"), "silent.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return printer.connections() >= 1; }, 60)) << station.Log();
  // Well inside the printer's own answer limit of a minute.
  EXPECT_EQ(station.Stop(15), 0) << station.Log();
  EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
  EXPECT_TRUE(fs::exists(station.allFiles() / "silent.trpr") || fs::exists(station.jobs() / "silent.trpr"))
      << station.Log();
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_FALSE(fs::exists(station.root() / "Kivo-Processor Count"));
  EXPECT_EQ(station.Log().find("The page could not be printed"), std::string::npos) << station.Log();
  EXPECT_NE(station.Log().find("the job is kept"), std::string::npos) << station.Log();

  // The next start prints it.
  FakeIppPrinter working(0);
  ASSERT_TRUE(working.ok());
  station.SetEnv("PRINTER", working.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(e2e::WaitUntil([&] { return working.documents().size() == 1; }, 60)) << station.Log();
  EXPECT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

// A printer that is busy twice and then takes the job: the program waits and
// offers it again, saying so, and the job prints once and is counted.
TEST(Neighbours, ABusyPrinterIsWaitedForAndTakesTheJob) {
  e2e::Station station("busyprinter");
  FakeIppPrinter printer(2);
  ASSERT_TRUE(printer.ok());
  station.SetEnv("PRINTER", printer.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(PrinterJob("Green.jpg"), "busy.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return printer.documents().size() == 1; }, 60)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(printer.busyAnswered(), 2);
  EXPECT_EQ(printer.jobsCreated(), 1);
  const std::string log = station.Log();
  EXPECT_NE(log.find("Printer busy: trying again in 2 s (try 2)"), std::string::npos) << log;
  EXPECT_NE(log.find("Printer busy: trying again in 4 s (try 3)"), std::string::npos) << log;
  EXPECT_NE(log.find("Currently printing another job"), std::string::npos) << log;
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_TRUE(fs::exists(station.root() / "Kivo-Processor Count"));
}

// A printer that stays busy fails the job once the (here shortened) limit
// has passed, like any printer that does not take it.
TEST(Neighbours, APrinterBusyBeyondTheLimitFailsTheJob) {
  e2e::Station station("alwaysbusy");
  FakeIppPrinter printer(1000);
  ASSERT_TRUE(printer.ok());
  station.SetEnv("PRINTER", printer.uri());
  station.SetEnv("KIVO_PRINTER_BUSY_LIMIT", "5");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(PrinterJob("Green.jpg"), "busy.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return !e2e::VisibleFiles(station.unknown()).empty(); }, 60)) << station.Log();
  EXPECT_TRUE(printer.documents().empty());
  EXPECT_EQ(printer.busyAnswered(), 2);  // after 2 s, the next pause of 4 s would pass the limit
  EXPECT_NE(station.Log().find("the printer stayed busy for 5 s"), std::string::npos) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_FALSE(fs::exists(station.root() / "Kivo-Processor Count"));
}

// DISPLAY naming no X server: the program runs on the offscreen platform and
// says so, instead of aborting.
TEST(Neighbours, ADisplayWithNoServerGivesTheOffscreenPlatform) {
  e2e::Station station("nodisplay");
  station.SetEnv("QT_QPA_PLATFORM", "");
  station.SetEnv("WAYLAND_DISPLAY", "");
  station.SetEnv("DISPLAY", ":4917");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(PhotoJob("Red.jpg"), "red.trpr"));
  EXPECT_FALSE(station.WaitForSetOutput('A', 60).empty()) << station.Log();
  const std::string expected = "The display :4917 cannot be used (platform \"xcb\"): running on the offscreen platform";
  EXPECT_NE(station.Console().find(expected), std::string::npos) << station.Console();
  EXPECT_NE(station.Log().find(expected), std::string::npos);
  EXPECT_EQ(station.Stop(), 0);
}

// An application folder that cannot be made ends the program at once with a
// non-zero status and the reason on its standard error.
TEST(Neighbours, AnApplicationFolderThatCannotBeMadeStopsTheStart) {
  e2e::Station station("noappfolder");
  e2e::WriteAll(station.base() / "plain-file", "not a folder");
  const fs::path app = station.base() / "plain-file" / "app";
  station.SetEnv("KIVO_APP_FOLDER", app.string());
  ASSERT_TRUE(station.Launch());
  EXPECT_EQ(station.Wait(30), 1) << station.Log();
  const std::string console = station.Console();
  EXPECT_NE(console.find("Kivo-Processor cannot start: the folder \"" + app.string() + "\" cannot be created"),
            std::string::npos)
      << console;
  EXPECT_FALSE(fs::exists(app));
}

// A second copy is refused with status 1, and says why on its standard error
// as well as in the log.
TEST(Neighbours, ASecondCopySaysWhyItEnds) {
  e2e::Station first("firstcopy");
  ASSERT_TRUE(first.Start()) << first.Log();
  e2e::Station second("secondcopy");
  second.SetEnv("XDG_RUNTIME_DIR", (first.base() / "run").string());
  ASSERT_TRUE(second.Launch());
  EXPECT_EQ(second.Wait(30), 1) << second.Log();
  EXPECT_NE(second.Console().find("Another version of Kivo-Processor is already running"), std::string::npos)
      << second.Console();
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(first.Stop(), 0);
}

}  // namespace
