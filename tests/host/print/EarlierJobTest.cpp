// A job made at a printer by an earlier try, asked for again by its id: the
// printer has the page, never had it, or cannot say; and the jobs a try
// leaves at a printer without their document.
#include <gtest/gtest.h>
#include <cups/cups.h>

#include <fstream>
#include <string>

#include "common/FakeIppPrinter.h"
#include "common/TempDir.h"
#include "host/print/CupsPrint.h"

namespace {

using State = host::EarlierJobAnswer::State;
using testing_support::FakeIppPrinter;

std::string Document(const TempDir& dir) {
  const std::string path = dir / "page.jpg";
  std::ofstream(path, std::ios::binary) << "\xFF\xD8 a page \xFF\xD9";
  return path;
}

// Sends a page named `name` and returns the job the printer made, as the
// request's callback was told of it before the page went.
host::CreatedPrintJob SendPage(const FakeIppPrinter& printer, const TempDir& dir, const std::string& name,
                               bool* ok = nullptr) {
  host::PrintJobRequest request;
  request.destination = printer.uri();
  request.documentPath = Document(dir);
  request.jobName = name;
  host::CreatedPrintJob made;
  request.jobCreated = [&](const host::CreatedPrintJob& job) {
    made = job;
    return true;
  };
  const host::PrintJobResult result = host::SubmitPrintJob(request);
  if (ok) *ok = result.ok;
  EXPECT_EQ(result.jobID, made.id);
  return made;
}

// Creates a job named `name` at the printer and sends no document, as a
// try killed between the two requests leaves it, or cancels job `cancel`
// when that is given; the id of the job made, or 0.
int OnThePrinter(const FakeIppPrinter& printer, const std::string& name, int cancel = 0) {
  cups_dest_t* dest = cupsGetDestWithURI("t", printer.uri().c_str());
  http_t* http = cupsConnectDest(dest, CUPS_DEST_FLAGS_DEVICE, 10000, nullptr, nullptr, 0, nullptr, nullptr);
  cups_dinfo_t* info = http ? cupsCopyDestInfo(http, dest) : nullptr;
  int id = 0;
  if (info && cancel > 0) cupsCancelDestJob(http, dest, cancel);
  else if (info) cupsCreateDestJob(http, dest, info, &id, name.c_str(), 0, nullptr);
  if (info) cupsFreeDestInfo(info);
  if (http) httpClose(http);
  cupsFreeDests(1, dest);
  return id;
}

// A job made and recorded whose page never went waits at the printer: it is
// cancelled, and the page may be sent again; so may one that ended without
// a document. One the printer cancelled after it had the page cannot be
// told apart from a printed one; a printer that cannot be reached is told
// apart from one that answered. A job that cannot be recorded is cancelled at once, its page
// never sent.
TEST(EarlierJob, OnlyAJobThatNeverHadThePageLetsItGoAgain) {
  TempDir dir;
  FakeIppPrinter printer(0);
  ASSERT_TRUE(printer.ok());

  const int waiting = OnThePrinter(printer, "page #5");
  ASSERT_GT(waiting, 0);
  const host::CreatedPrintJob left{waiting, printer.uri(), printer.uri()};
  host::EarlierJobAnswer answer = host::AskAboutEarlierJob(left, "page #5");
  EXPECT_EQ(answer.state, State::kWithoutDocument) << answer.message;
  EXPECT_EQ(printer.cancelled(), 1) << "the empty job no longer holds the printer";
  // Asked again, the cancelled job had no document either.
  EXPECT_EQ(host::AskAboutEarlierJob(left, "page #5").state, State::kWithoutDocument);

  bool ok = false;
  const host::CreatedPrintJob printed = SendPage(printer, dir, "page #6", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(printed.destination, printer.uri());
  EXPECT_EQ(printed.printerURI, printer.uri());
  EXPECT_EQ(host::AskAboutEarlierJob(printed, "page #6").state, State::kHasDocument);
  OnThePrinter(printer, "", printed.id);
  answer = host::AskAboutEarlierJob(printed, "page #6");
  EXPECT_EQ(answer.state, State::kCannotSay);
  EXPECT_NE(answer.message.find("cancelled at the printer"), std::string::npos) << answer.message;

  // A printer nobody answers for cannot say yet: it is told apart, to be
  // waited for.
  const host::CreatedPrintJob gone{4, "ipp://127.0.0.1:1/ipp/print", "ipp://127.0.0.1:1/ipp/print"};
  answer = host::AskAboutEarlierJob(gone, "page #4");
  EXPECT_EQ(answer.state, State::kUnreachable) << answer.message;
  EXPECT_NE(answer.message.find("cannot be asked"), std::string::npos) << answer.message;

  host::PrintJobRequest request;
  request.destination = printer.uri();
  request.documentPath = Document(dir);
  request.jobName = "page #7";
  request.jobCreated = [](const host::CreatedPrintJob&) { return false; };
  const host::PrintJobResult refused = host::SubmitPrintJob(request);
  EXPECT_FALSE(refused.ok);
  EXPECT_FALSE(refused.busy);
  EXPECT_NE(refused.message.find("could not be recorded"), std::string::npos) << refused.message;
  EXPECT_EQ(printer.documents().size(), 1u) << "only page #6 went";
  EXPECT_EQ(printer.cancelled(), 3);
}

// The answer to a job's creation does not come within the limit: the job
// the printer may have made is cancelled over a new connection, so that
// none waits there without its document, holding the printer up.
TEST(EarlierJob, AJobWhoseCreationWasNotAnsweredInTimeIsCancelled) {
  ::setenv("KIVO_PRINTER_ANSWER_LIMIT", "1", 1);
  TempDir dir;
  FakeIppPrinter printer(0);
  ASSERT_TRUE(printer.ok());
  printer.HoldCreateJob();
  host::PrintJobRequest request;
  request.destination = printer.uri();
  request.documentPath = Document(dir);
  request.jobName = "page #6";
  bool told = false;
  request.jobCreated = [&](const host::CreatedPrintJob&) { return told = true; };
  const host::PrintJobResult r = host::SubmitPrintJob(request);
  printer.Release();
  ::unsetenv("KIVO_PRINTER_ANSWER_LIMIT");
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.interrupted);
  EXPECT_FALSE(told) << "no job id came";
  EXPECT_NE(r.message.find("did not answer within 1 s"), std::string::npos) << r.message;
  EXPECT_EQ(printer.jobsCreated(), 1);
  EXPECT_EQ(printer.cancelled(), 1);
  EXPECT_TRUE(printer.documents().empty());
}

}  // namespace
