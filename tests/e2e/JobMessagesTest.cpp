// What the operator and the log are told about a job file the program cannot
// read: each alert keeps its own text and names the job file in its detail
// line, and the reader's log lines end with a line end, so that the next
// line starts on a line of its own. Under the user service the day log
// reaches the journal too.
#include <sys/stat.h>

#include "e2e/E2E.h"

namespace {

namespace fs = std::filesystem;

TEST(JobMessages, AlertsForUnreadableJobFilesNameTheJobFile) {
  e2e::Station station("jobmessages");
  ASSERT_TRUE(station.Start()) << station.Log();
  // Not a job at all: the version number is wrong.
  const fs::path bogus = station.staging() / "not a job.trpr";
  e2e::WriteAll(bogus, "this is no job file");
  ASSERT_TRUE(station.DropFile(bogus, "not a job.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(station.unknown() / "not a job.trpr"); }, 60)) << station.Log();

  // A job cut short after its header: the rest cannot be read.
  jobwriter::TJobDescription job = e2e::SetOneJob("Red.jpg");
  const fs::path whole = station.staging() / "whole.trpr";
  ASSERT_TRUE(jobwriter::WriteJobFile(job, whole));
  const std::string bytes = e2e::ReadAll(whole);
  const fs::path cut = station.staging() / "cut short.trpr";
  e2e::WriteAll(cut, bytes.substr(0, 40));
  ASSERT_TRUE(station.DropFile(cut, "cut short.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(station.unknown() / "cut short.trpr"); }, 60)) << station.Log();
  ASSERT_TRUE(station.WaitForLog("Job file: cut short.trpr", 20)) << station.Log();

  const std::string log = station.Log();
  EXPECT_NE(log.find("Alert 1001: Invalid Job Version Number!\nJob file: not a job.trpr\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Alert 1001: Read File Error!\nJob file: cut short.trpr\n"), std::string::npos) << log;
  EXPECT_EQ(station.Stop(), 0);
}

// A job of a printer code the processor knows no printer of (4): the alert
// keeps its own text, and says which code and what becomes of the job, and
// names the job file; the job goes on to the print centre.
TEST(JobMessages, AnUnknownPrinterCodeIsNamedWithTheJobFile) {
  e2e::Station station("unknowncode");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  jobwriter::TJobDescription job = e2e::SetOneJob("Red.jpg");
  job.printer = 4;
  ASSERT_TRUE(station.Drop(job, "code four.trpr"));
  ASSERT_TRUE(station.WaitForLog("Job file: code four.trpr", 60)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_NE(station.Log().find("Alert 1001: TBGPrintView::ReadColorCorrectionValue: Unknown Printer Type!\n"
                               "The job's printer code 4 is not one this processor knows: the job is read on and "
                               "handed to the print centre as a job for printer 4.\nJob file: code four.trpr\n"),
            std::string::npos)
      << station.Log();
  EXPECT_FALSE(e2e::VisibleFilesBelow(station.app() / "Kivo-PrintCenter Folder" / "Jobs To Be Printed").empty())
      << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

TEST(JobMessages, ReaderLogLinesEndWithALineEnd) {
  e2e::Station station("readerlines");
  ASSERT_TRUE(station.Start()) << station.Log();
  // A job that says it holds no objects.
  jobwriter::TJobDescription job = e2e::SetOneJob("Red.jpg");
  job.objectCount = 0;
  ASSERT_TRUE(station.Drop(job, "empty.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(station.unknown() / "empty.trpr"); }, 60)) << station.Log();
  ASSERT_TRUE(station.WaitForLog("count of main job is [0]", 20)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);

  const std::string log = station.Log();
  EXPECT_NE(log.find("Something BAD happened?? count of main job is [0]\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Inside TBGPrintView::ReadObjects\n"), std::string::npos) << log;
  // Nothing follows either text on its own line.
  for (const std::string text : {"Inside TBGPrintView::ReadObjects", "Something BAD happened??"})
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
      const size_t end = log.find('\n', at);
      ASSERT_NE(end, std::string::npos);
      const std::string line = log.substr(at, end - at);
      EXPECT_EQ(e2e::CountOf(line, "kivo-processor["), 0u) << "another log line ran into it: " << line;
    }
}

// Started by a systemd service, standard error is the journal, whose
// stream systemd names in JOURNAL_STREAM ("<device>:<inode>"); here the
// test's own file plays it. What the day log says reaches it as well: the
// alert of a failed job with its job file, and the last line the day log
// got before the program ended. A JOURNAL_STREAM that names another stream
// (standard error redirected by a wrapper) is not taken for the journal.
TEST(JobMessages, UnderTheServiceWhatTheDayLogSaysAlsoReachesTheJournal) {
  for (const bool journal : {true, false}) {
    SCOPED_TRACE(journal ? "standard error is the journal" : "standard error is another stream");
    e2e::Station station("journal");
    e2e::WriteAll(station.output(), "");
    const fs::path other = station.base() / "another stream";
    e2e::WriteAll(other, "");
    struct stat stream {};
    ASSERT_EQ(::stat((journal ? station.output() : other).c_str(), &stream), 0);
    station.SetEnv("JOURNAL_STREAM", std::to_string(stream.st_dev) + ":" + std::to_string(stream.st_ino));
    ASSERT_TRUE(station.Start()) << station.Log();
    const fs::path bogus = station.staging() / "journal.trpr";
    e2e::WriteAll(bogus, "this is no job file");
    ASSERT_TRUE(station.DropFile(bogus, "journal.trpr"));
    ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(station.unknown() / "journal.trpr"); }, 60)) << station.Log();
    ASSERT_EQ(station.Stop(), 0);

    std::string dayLog;
    for (const auto& entry : fs::recursive_directory_iterator(station.state()))
      if (entry.is_regular_file()) dayLog += e2e::ReadAll(entry.path());
    const std::string alert = "Alert 1001: Invalid Job Version Number!\nJob file: journal.trpr\n";
    ASSERT_NE(dayLog.find(alert), std::string::npos) << dayLog;
    // The last stamped line (time and process) the day log got.
    std::string lastLine;
    std::istringstream lines(dayLog);
    for (std::string line; std::getline(lines, line);)
      if (line.find(" kivo-processor[") != std::string::npos) lastLine = line;
    ASSERT_FALSE(lastLine.empty()) << dayLog;
    const std::string console = station.Console();
    EXPECT_EQ(console.find(alert) != std::string::npos, journal) << console;
    EXPECT_EQ(console.find(lastLine) != std::string::npos, journal) << lastLine << "\n" << console;
  }
}

}  // namespace
