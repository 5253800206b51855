// Printing through libcups to printers on the loopback interface that a
// real printer cannot stand in for: one that is busy before it takes a job,
// and one that accepts connections and never answers.
#include <gtest/gtest.h>
#include <cups/cups.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/FakeIppPrinter.h"
#include "common/TempDir.h"
#include "host/print/CupsPrint.h"
#include "host/sys/Termination.h"

namespace {

using namespace std::chrono_literals;

std::string Document(const TempDir& dir) {
  const std::string path = dir / "page.jpg";
  std::ofstream(path, std::ios::binary) << "\xFF\xD8 not really a picture \xFF\xD9";
  return path;
}

TEST(CupsPrint, ABusyPrinterSaysSoAndTakesTheJobLater) {
  testing_support::FakeIppPrinter printer(1);
  ASSERT_TRUE(printer.ok());
  TempDir dir;
  host::PrintJobRequest request;
  request.destination = printer.uri();
  request.documentPath = Document(dir);
  request.copies = 2;

  const auto paper = host::QueryPrinterPaper(printer.uri(), "");
  ASSERT_TRUE(paper);
  EXPECT_EQ(paper->media, "na_letter_8.5x11in");
  EXPECT_EQ(paper->ydpi, 300);

  const host::PrintJobResult busy = host::SubmitPrintJob(request);
  EXPECT_FALSE(busy.ok);
  EXPECT_TRUE(busy.busy);
  EXPECT_FALSE(busy.interrupted);
  EXPECT_EQ(busy.ippStatus, IPP_STATUS_ERROR_BUSY);
  EXPECT_NE(busy.message.find("Currently printing another job"), std::string::npos) << busy.message;
  EXPECT_TRUE(printer.documents().empty());

  const host::PrintJobResult taken = host::SubmitPrintJob(request);
  EXPECT_TRUE(taken.ok) << taken.message;
  EXPECT_FALSE(taken.busy);
  ASSERT_EQ(printer.documents().size(), 1u);
  EXPECT_EQ(printer.documents().front(), "\xFF\xD8 not really a picture \xFF\xD9");
}

// A printer that never answers is given up at once when the program is
// asked to end; run in a process of its own, since that request stays.
TEST(CupsPrintDeathTest, ASilentPrinterGivesWayToARequestToEnd) {
  // The statement runs in a fresh copy of the test program, not a fork of
  // this one, whose listener thread may hold a lock at that moment.
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  testing_support::MuteListener silent;
  ASSERT_TRUE(silent.ok());
  TempDir dir;
  const std::string document = Document(dir);
  EXPECT_EXIT(
      {
        std::thread([] {
          std::this_thread::sleep_for(500ms);
          host::NoteTerminationRequested();
        }).detach();
        std::string error;
        const auto paper = host::QueryPrinterPaper(silent.uri(), "", &error);
        host::PrintJobRequest request;
        request.destination = silent.uri();
        request.documentPath = document;
        const host::PrintJobResult r = host::SubmitPrintJob(request);
        // The listener is this copy's own: the printer was asked.
        const bool ok = !paper && error == host::kStoppedText && !r.ok && r.interrupted && !r.busy &&
                        silent.connections() >= 1;
        if (!ok) std::fprintf(stderr, "paper error: %s; job: %s\n", error.c_str(), r.message.c_str());
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// A printer that takes the document and never answers, or drips its answer
// a header line at a time: the wait ends at the limit on the wall clock,
// is never success, and the printer is asked what became of the job. Only
// a printer that says it has the document makes the job printed; a job
// left without it is cancelled there and may have printed all the same.
TEST(CupsPrint, AnUnansweredDocumentIsPrintedOnlyWhenThePrinterHasIt) {
  using After = testing_support::FakeIppPrinter::AfterDocument;
  ::setenv("KIVO_PRINTER_ANSWER_LIMIT", "2", 1);
  TempDir dir;
  struct Case {
    After after;
    bool keeps;
  };
  for (const Case c : {Case{After::kNeverAnswer, false}, Case{After::kNeverAnswer, true}, Case{After::kDrip, false}}) {
    SCOPED_TRACE(std::string(c.after == After::kDrip ? "drip" : "silent") + (c.keeps ? ", has it" : ", lost it"));
    testing_support::FakeIppPrinter printer(0, c.after);
    ASSERT_TRUE(printer.ok());
    printer.SetKeepsUnansweredDocuments(c.keeps);
    host::PrintJobRequest request;
    request.destination = printer.uri();
    request.documentPath = Document(dir);
    const host::PrintJobResult r = host::SubmitPrintJob(request);
    EXPECT_EQ(r.ok, c.keeps) << r.message;
    EXPECT_EQ(r.mayHavePrinted, !c.keeps) << r.message;
    EXPECT_FALSE(r.interrupted);
    EXPECT_EQ(r.jobID, 1);
    EXPECT_NE(r.message.find(c.keeps ? "has the document" : "did not answer within 2 s"), std::string::npos)
        << r.message;
    EXPECT_EQ(printer.jobAttributesAsked(), 1);
    EXPECT_EQ(printer.cancelled(), c.keeps ? 0 : 1);
    EXPECT_EQ(printer.documents().size(), 1u);
  }
  ::unsetenv("KIVO_PRINTER_ANSWER_LIMIT");
}

}  // namespace
