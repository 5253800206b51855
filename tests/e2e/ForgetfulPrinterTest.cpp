// The system printer after a kill, against printers that answer for their
// jobs as a real one may: a scheduler that lists a finished job without its
// name, a printer that forgets a job the moment it is printed, and one
// that started again and has another job under the same number.
#include <csignal>

#include "common/FakeIppPrinter.h"
#include "e2e/E2E.h"

namespace {

namespace fs = e2e::fs;
using testing_support::FakeIppPrinter;

// Prints `jobFile` on `printer`, killed once the printer has the page and
// before the program recorded it, and starts the program again after
// `meanwhile` has run.
void KilledOnceThePrinterHasThePage(e2e::Station& station, FakeIppPrinter& printer, const std::string& jobFile,
                                    const std::function<void()>& meanwhile = {}) {
  station.SetEnv("PRINTER", printer.uri());
  station.SetEnv("KIVO_KILL_AT", "output-placed");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), jobFile));
  ASSERT_EQ(station.Wait(60), 128 + SIGKILL) << station.Log();
  ASSERT_EQ(printer.documents().size(), 1u);
  if (meanwhile) meanwhile();
  station.SetEnv("KIVO_KILL_AT", "");
  ASSERT_TRUE(station.Start()) << station.Log();
}

// Get-Jobs lists the finished job without its name, as cupsd does: the
// printer is asked for the job by its number, and the page is not sent
// again.
TEST(ForgetfulPrinter, AFinishedJobListedWithoutItsNameIsNotSentAgain) {
  e2e::Station station("namelessjob");
  FakeIppPrinter printer(0);
  ASSERT_TRUE(printer.ok());
  printer.SetNamesFinishedJobs(false);
  KilledOnceThePrinterHasThePage(station, printer, "nameless.trpr");
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_TRUE(station.WaitUntilGone(station.images() / "Green.jpg"));
  EXPECT_TRUE(station.WaitForLog("as job 1 since an earlier try: it is not sent again")) << station.Log();
  EXPECT_EQ(printer.documents().size(), 1u);
  EXPECT_EQ(printer.jobsCreated(), 1);
  EXPECT_GE(printer.jobAttributesAsked(), 1);
  EXPECT_EQ(e2e::PrintLogLines(station), 1u);
  EXPECT_EQ(e2e::SystemPrinterCount(station), 1);
  EXPECT_EQ(station.Stop(), 0);
}

// The printer cannot say whether it has the page: it forgot the job, or the
// number now names another job. The page is not sent again: the job is set
// aside with its photo, uncounted, and the operator is told, naming the job,
// that it may already have printed. Moved back by the operator, it prints
// once more and is counted once.
TEST(ForgetfulPrinter, AJobThePrinterCannotAnswerForIsSetAsideUntilTheOperatorSendsItAgain) {
  for (const bool restarted : {false, true}) {
    SCOPED_TRACE(restarted ? "the printer started again and has another job 1" : "the printer forgot the job");
    e2e::Station station("forgetful");
    FakeIppPrinter printer(0);
    ASSERT_TRUE(printer.ok());
    printer.SetForgetsFinishedJobs(!restarted);
    KilledOnceThePrinterHasThePage(station, printer, "forgotten.trpr", [&] {
      if (restarted) {
        printer.ForgetJobs();
        printer.AddFinishedJob("another station's page");
      }
    });
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "forgotten.trpr"); }, 60))
        << station.Log();
    const std::string log = station.Log();
    EXPECT_NE(log.find("This job may already have printed"), std::string::npos) << log;
    EXPECT_NE(log.find(restarted ? "another job under that number" : "no longer knows the job"), std::string::npos)
        << log;
    // Whole, past 255 bytes: what to do with the job ends the alert.
    EXPECT_NE(log.find("to print it again, move it back into the print jobs folder.\nJob file: forgotten.trpr"),
              std::string::npos)
        << log;
    EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
    EXPECT_EQ(printer.documents().size(), 1u);
    EXPECT_EQ(e2e::PrintLogLines(station), 0u);
    EXPECT_EQ(e2e::SystemPrinterCount(station), 0);

    std::error_code ec;
    fs::rename(station.unknown() / "forgotten.trpr", station.jobs() / "forgotten.trpr", ec);
    ASSERT_FALSE(ec);
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    EXPECT_TRUE(station.WaitUntilGone(station.images() / "Green.jpg"));
    EXPECT_EQ(printer.documents().size(), 2u);
    EXPECT_EQ(e2e::PrintLogLines(station), 1u);
    EXPECT_EQ(e2e::SystemPrinterCount(station), 1);
    EXPECT_EQ(station.Stop(), 0);
  }
}

}  // namespace
