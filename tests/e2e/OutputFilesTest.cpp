// Output names, writers and job-file moves through the running program: a
// set output whose name is taken gets a " copy" name, a TIFF set output is
// the program's own TIFF at the job's resolution, a job file dropped twice
// lands in the finished-jobs folder under a " copy" name, and a move that
// cannot be made tells the operator.
#include "e2e/E2E.h"
#include "e2e/PrefsDialog.h"

#include <functional>

#include "host/imageio/ImageFile.h"
#include "host/sys/UserDefaults.h"
#include "layout/Objects.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace {

namespace fs = e2e::fs;

// Stores preferences for the station before it starts.
void WritePrefs(const e2e::Station& station, const std::function<void()>& change) {
  e2e::WritePrefs(station.defaultsFile(), change);
}

jobwriter::TJobDescription PhotoJob(int16_t printer, const std::string& photo) {
  jobwriter::TJobDescription job;
  job.printer = printer;
  job.blocks.print2File.setNumber = 1;
  job.templateName = "E2E";
  job.resolution = 100;
  job.pageWidth = 2;
  job.pageHeight = 3;
  job.objects.push_back(
      jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(photo, 0, 0, 2, 3))));
  return job;
}

uint32_t LE32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}

std::vector<std::string> NamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const fs::path& f : e2e::VisibleFiles(folder)) names.push_back(f.filename().string());
  return names;
}

TEST(OutputFiles, SetOutputWhoseNameIsTakenGetsTheCopyName) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  // Both jobs name their file after the photo (the sets' factory naming).
  for (const char* jobName : {"first.trpr", "second.trpr"}) {
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 200, 300, {220, 20, 20}));
    ASSERT_TRUE(station.Drop(PhotoJob(25, "Red.jpg"), jobName));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    ASSERT_TRUE(e2e::WaitUntil([&] { return !e2e::VisibleFiles(station.SetFolder('A')).empty(); })) << station.Log();
    // The job takes its photo with it; the next one brings its own.
    ASSERT_TRUE(e2e::WaitUntil([&] { return !fs::exists(station.images() / "Red.jpg"); })) << station.Log();
  }
  const fs::path folder = station.SetFolder('A');
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(folder).size() == 2; })) << station.Log();
  EXPECT_EQ(NamesIn(folder), (std::vector<std::string>{"Red copy.jpg", "Red.jpg"}));
  const e2e::Picture copy = e2e::ReadPicture(folder / "Red copy.jpg");
  ASSERT_TRUE(copy.image) << copy.error;
  EXPECT_EQ(copy.width(), 200);
  EXPECT_EQ(copy.height(), 300);
  // The files came through the preferences folder and left nothing there
  // but the page kept for printing.
  for (const fs::path& f : e2e::VisibleFiles(station.prefsFolder()))
    EXPECT_NE(f.filename().string().rfind("Red_", 0), 0u) << f;
  EXPECT_EQ(station.Stop(), 0);
}

TEST(OutputFiles, TiffSetOutputIsTheOwnTiffAtTheJobsResolution) {
  e2e::Station station;
  WritePrefs(station, [] {
    tSpecialPrintToFilePref* set = getMyPrintToFileSetPrefs(1);
    set->fileFormat = 6;
    set->extension = ".tif";
  });
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 200, 300, {20, 20, 220}));
  ASSERT_TRUE(station.Drop(PhotoJob(25, "Blue.jpg"), "tiff.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const fs::path file = station.SetFolder('A') / "Blue.tif";
  ASSERT_TRUE(station.WaitForFile(file)) << station.Log();
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::file_size(file) == 242u + 200u * 300u * 3u; })) << station.Log();
  const std::string tiff = e2e::ReadAll(file);
  EXPECT_EQ(tiff.substr(0, 4), std::string("II\x2A\0", 4));
  EXPECT_EQ(LE32(tiff, 226), 100u);  // X resolution 100/1
  EXPECT_EQ(LE32(tiff, 230), 1u);
  EXPECT_EQ(LE32(tiff, 234), 100u);  // Y resolution 100/1
  EXPECT_EQ(LE32(tiff, 238), 1u);
  // The pixels follow the header as packed RGB: the photo's blue.
  const size_t centre = 242 + (150 * 200 + 100) * 3;
  EXPECT_LT(uint8_t(tiff[centre]), 70);
  EXPECT_GT(uint8_t(tiff[centre + 2]), 180);
  EXPECT_EQ(station.Stop(), 0);
}

TEST(OutputFiles, PictSetOutputIsReadAtItsSizeAndResolutionByOtherReaders) {
  e2e::Station station;
  WritePrefs(station, [] {
    tSpecialPrintToFilePref* set = getMyPrintToFileSetPrefs(1);
    set->fileFormat = 4;
    set->extension = ".pict";
  });
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 450, 300, {30, 180, 60}));
  // A 3 x 2 inch page at 150 dpi: 450 x 300 pixels.
  jobwriter::TJobDescription job = PhotoJob(25, "Green.jpg");
  job.resolution = 150;
  job.pageWidth = 3;
  job.pageHeight = 2;
  job.objects.clear();
  job.objects.push_back(
      jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Green.jpg", 0, 0, 3, 2))));
  ASSERT_TRUE(station.Drop(job, "pict.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const fs::path file = station.SetFolder('A') / "Green.pict";
  ASSERT_TRUE(station.WaitForFile(file)) << station.Log();

  int status = -1;
  const std::string exif = e2e::ToolOutput(
      {"exiftool", "-s3", "-ImageWidth", "-ImageHeight", "-XResolution", "-YResolution", file.string()}, &status);
  ASSERT_EQ(status, 0) << "exiftool (libimage-exiftool-perl) is needed";
  EXPECT_EQ(exif, "450\n300\n150\n150\n");
  const std::string magick = e2e::ToolOutput(
      {"identify", "-format", "%w %h %[pixel:p{225,150}]", file.string()}, &status);
  ASSERT_EQ(status, 0) << "ImageMagick's identify cannot read the picture";
  int width = 0, height = 0, r = 0, g = 0, b = 0;
  ASSERT_EQ(std::sscanf(magick.c_str(), "%d %d srgb(%d,%d,%d)", &width, &height, &r, &g, &b), 5) << magick;
  EXPECT_EQ(width, 450);
  EXPECT_EQ(height, 300);
  // The photo's green, through a JPEG.
  EXPECT_NEAR(r, 30, 3);
  EXPECT_NEAR(g, 180, 3);
  EXPECT_NEAR(b, 60, 3);
  EXPECT_EQ(station.Stop(), 0);
}

TEST(OutputFiles, WebCopyRecordsThePrintedFileAsAPathEscapedFromMacRoman) {
  e2e::Station station;
  WritePrefs(station, [] {
    getMyPrintToFileSetPrefs(1)->createJpegForWeb = 1;
    getMyWebUploadPrefs()->folder.createIfMissing = 1;
  });
  ASSERT_TRUE(station.Start()) << station.Log();
  const std::string photo = "Caf\xC3\xA9.jpg";  // "Café.jpg"
  ASSERT_TRUE(e2e::WritePhoto(station.images() / photo, 200, 300, {200, 150, 20}));
  ASSERT_TRUE(station.Drop(PhotoJob(25, photo), "web.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const fs::path web = station.app() / fs::u8path("WEB UPLOAD FOLDER \xC6\x92") / photo;
  ASSERT_TRUE(station.WaitForFile(web)) << station.Log();
  std::string comment;
  ASSERT_TRUE(e2e::WaitUntil([&] {
    const host::ImageInfoResult info = host::ReadImageInfo(web);
    comment = info.ok() ? info.info.userComment : std::string();
    return !comment.empty();
  })) << station.Log();
  // "ƒ" is 0xC4 and "é" 0x8E in Mac Roman; nothing is escaped from UTF-8.
  EXPECT_NE(comment.find("PRINT%20TO%20FILE%20FOLDER%20SET%20A%C4/Caf%8E.jpg"), std::string::npos) << comment;
  EXPECT_EQ(comment.find("%C3"), std::string::npos) << comment;
  EXPECT_EQ(station.Stop(), 0);
}

TEST(OutputFiles, JobDroppedTwiceLandsInFinishedJobsUnderTheCopyName) {
  e2e::Station station;
  WritePrefs(station, [] { getMyPrintServerPrefs()->keepJobFiles = 1; });
  ASSERT_TRUE(station.Start()) << station.Log();
  // Kept job files keep their photos too: one photo serves both jobs.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 100, 150, {20, 200, 20}));
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(station.Drop(PhotoJob(25, "Green.jpg"), "same.trpr"));
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(station.finished()).size() == size_t(round + 1); }))
        << station.Log();
  }
  EXPECT_EQ(NamesIn(station.finished()), (std::vector<std::string>{"same copy.trpr", "same.trpr"}));
  EXPECT_EQ(station.Stop(), 0);
}

TEST(OutputFiles, AJobFileMoveThatFailsTellsTheOperator) {
  e2e::Station station;
  WritePrefs(station, [] { getMyPrintServerPrefs()->keepJobFiles = 1; });
  // A plain file stands where the finished-jobs folder belongs: no move can
  // go there.
  fs::create_directories(station.root());
  e2e::WriteAll(station.finished(), "not a folder");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Grey.jpg", 100, 150, {120, 120, 120}));
  ASSERT_TRUE(station.Drop(PhotoJob(25, "Grey.jpg"), "stuck.trpr"));
  ASSERT_TRUE(station.WaitForLog("Cannot Copy and Move File!")) << station.Log();
  // The job file is kept where it was, not lost.
  EXPECT_TRUE(e2e::WaitUntil([&] { return fs::exists(station.allFiles() / "stuck.trpr"); })) << station.Log();
  EXPECT_EQ(e2e::ReadAll(station.finished()), "not a folder");
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
