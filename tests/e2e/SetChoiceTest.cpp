// Which print-to-file set prints a set job, as the operator sees it: the
// job's own set number decides, not its printer code; the print log names
// the set that printed; a job that names no set, a set that does not exist
// or a set without a folder fails with a line saying which.
#include "e2e/E2E.h"
#include "e2e/PrefsDialog.h"
#include "layout/Objects.h"
#include "prefs/PrefRecords.h"

namespace {

namespace fs = e2e::fs;

// Set 3 writes TIFF files and set 1 JPEG ones, into the one folder all sets
// share, so that the file tells which set wrote it.
void SetThreeWritesTiff(const e2e::Station& station) {
  e2e::WritePrefs(station.defaultsFile(), [] {
    tSpecialPrintToFilePref* three = getMyPrintToFileSetPrefs(3);
    three->fileFormat = kFormatTIFF;
    three->extension = ".tif";
  });
}

// The print log's printer fields, in order.
std::vector<std::string> LoggedPrinters(const std::string& log) {
  std::vector<std::string> printers;
  for (size_t at = log.find("\tPrinter: "); at != std::string::npos; at = log.find("\tPrinter: ", at + 1))
    printers.push_back(log.substr(at + 10, log.find('\t', at + 1) - at - 10));
  return printers;
}

TEST(SetChoice, TheJobsOwnSetPrintsItAndThePrintLogNamesThatSet) {
  e2e::Station station("setchoice");
  SetThreeWritesTiff(station);
  ASSERT_TRUE(station.Start()) << station.Log();
  // Code 27 alone: the writer gives the code's own set, 3.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "First.jpg", 400, 600, {200, 30, 30}));
  ASSERT_TRUE(station.DropWritten({"--printer", "27", "--image", "First.jpg@0,0,4,6"}, "a.trpr"));
  ASSERT_TRUE(station.WaitForFile(station.SetFolder('A') / "First.tif")) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  // Code 25 with set 3: set 3 prints it, whatever set code 25 was made for.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Second.jpg", 400, 600, {30, 200, 30}));
  ASSERT_TRUE(station.DropWritten({"--printer", "25", "--set", "3", "--image", "Second.jpg@0,0,4,6"}, "b.trpr"));
  ASSERT_TRUE(station.WaitForFile(station.SetFolder('A') / "Second.tif")) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  // Code 28 with set 1.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Third.jpg", 400, 600, {30, 30, 200}));
  ASSERT_TRUE(station.DropWritten({"--printer", "28", "--set", "1", "--image", "Third.jpg@0,0,4,6"}, "c.trpr"));
  ASSERT_TRUE(station.WaitForFile(station.SetFolder('A') / "Third.jpg")) << station.Log();
  ASSERT_TRUE(e2e::WaitUntil([&] { return LoggedPrinters(station.PrintLog()).size() == 3; }, 60)) << station.Log();
  EXPECT_EQ(LoggedPrinters(station.PrintLog()),
            (std::vector<std::string>{"Print to File Set 3", "Print to File Set 3", "Print to File Set 1"}));
  EXPECT_EQ(e2e::VisibleFilesBelow(station.SetFolder('A')).size(), 3u);
  EXPECT_EQ(station.Stop(), 0);
}

// Jobs written by a station that leaves the set number out (0), names a set
// that does not exist, or names a set whose folder is gone: each fails, is
// set aside with its photo, and the alert's line under "Print to File Set
// Folder could not be found!" says which.
TEST(SetChoice, AJobWithoutASetItsFolderFailsWithALineSayingWhy) {
  e2e::Station station("setmissing");
  e2e::WritePrefs(station.defaultsFile(), [] { getMyPrintToFileSetPrefs(4)->folder.createIfMissing = 0; });
  ASSERT_TRUE(station.Start()) << station.Log();
  struct Case {
    int16_t printer;
    uint16_t set;
    const char* detail;
  };
  const Case cases[] = {
      {26, 0, "The job names no print-to-file set (its set number is 0)"},
      {25, 12, "The job names print-to-file set 12; only sets 1 to 8 exist."},
      {28, 4, "The job names print-to-file set 4, whose folder could not be found"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string photo = "Photo" + std::to_string(++n) + ".jpg";
    ASSERT_TRUE(e2e::WritePhoto(station.images() / photo, 100, 150, {90, 90, 90}));
    jobwriter::TJobDescription job = e2e::SetOneJob(photo, "Missing", c.printer);
    job.blocks.print2File.setNumber = c.set;
    ASSERT_TRUE(station.Drop(job, "job" + std::to_string(n) + ".trpr"));
  }
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(station.unknown()).size() == 3; }, 60)) << station.Log();
  const std::string log = station.Log();
  for (const Case& c : cases)
    EXPECT_NE(log.find(std::string("Print to File Set Folder could not be found!\n") + c.detail), std::string::npos)
        << c.detail << "\n" << log;
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(fs::exists(station.images() / ("Photo" + std::to_string(i) + ".jpg")));
  EXPECT_TRUE(e2e::VisibleFilesBelow(station.SetFolder('A')).empty());
  EXPECT_TRUE(station.PrintLog().empty());
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
