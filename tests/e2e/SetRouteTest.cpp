// A job for print-to-file set 1 through the running program: the page lands
// in set A's folder at the job's size, the job leaves the spool folder, the
// print log gets its line, the finished page is kept in the preferences
// folder and the program stops on SIGTERM when idle.
#include "e2e/E2E.h"
#include "e2e/PrefsDialog.h"

#include "layout/Objects.h"
#include "prefs/PrefRecords.h"

namespace {

TEST(SetRoute, PhotoJobLandsInSetFolderAtPageSize) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 600, 900, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));

  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto outputs = station.WaitForSetOutput('A');
  ASSERT_FALSE(outputs.empty()) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(outputs.front());
  ASSERT_TRUE(page.image) << page.error;
  EXPECT_EQ(page.width(), 1200);
  EXPECT_EQ(page.height(), 1800);
  const auto centre = page.rgb(600, 900);
  EXPECT_GT(centre[0], 180);
  EXPECT_LT(centre[1], 70);
  // The finished page is kept as "OutputForPrint.jpg" too; it is written
  // beside the route and complete once the job has left the queue.
  const e2e::Picture kept = e2e::ReadPicture(station.prefsFolder() / "OutputForPrint.jpg");
  ASSERT_TRUE(kept.image) << kept.error;
  EXPECT_EQ(kept.width(), 1200);
  EXPECT_EQ(kept.height(), 1800);
  EXPECT_GT(kept.rgb(600, 900)[0], 180);
  EXPECT_LT(kept.rgb(600, 900)[1], 70);
  EXPECT_NE(station.PrintLog().find("Template: E2E"), std::string::npos) << station.PrintLog();
  EXPECT_EQ(station.Stop(), 0);
}

// A photo large enough to be decoded in bands on the worker pool prints
// whole: its rows land where they belong and none is missing. The photo's
// red rises and falls by one step a row (a triangle of 512 rows), so that a
// row out of place by a few shows; its green grows across the rows.
TEST(SetRoute, LargePhotoPrintsEveryRowInPlace) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  constexpr int32_t kWidth = 2400, kHeight = 3600;
  auto triangle = [](int32_t row) { return row % 512 < 256 ? row % 512 : 511 - row % 512; };
  {
    host::GWorldHandle photo = host::GWorld::Create(CLongRect_AC(0, 0, kHeight, kWidth));
    ASSERT_TRUE(photo);
    for (int32_t y = 0; y < kHeight; ++y) {
      uint8_t* p = photo->scanline(y);
      for (int32_t x = 0; x < kWidth; ++x, p += 4) {
        p[1] = uint8_t(triangle(y));
        p[2] = uint8_t(x * 255 / (kWidth - 1));
        p[3] = 90;
      }
    }
    host::ImageWriteOptions options;
    options.jpegQuality = 95;
    ASSERT_TRUE(host::WriteImageFile(*photo, station.images() / "Ramp.jpg", host::ImageFormat::kJpeg, options).ok());
  }
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Ramp.jpg", "Ramp"), "ramp.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto outputs = station.WaitForSetOutput('A');
  ASSERT_FALSE(outputs.empty()) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(outputs.front());
  ASSERT_TRUE(page.image) << page.error;
  ASSERT_EQ(page.width(), 1200);
  ASSERT_EQ(page.height(), 1800);
  // Page row y shows photo rows 2y and 2y + 1.
  for (int32_t y = 5; y < page.height() - 5; y += 37) {
    const auto rgb = page.rgb(600, y);
    EXPECT_NEAR(rgb[0], triangle(2 * y), 6) << "row " << y;
    EXPECT_NEAR(rgb[1], 600 * 255 / (page.width() - 1), 6) << "row " << y;
    EXPECT_NEAR(rgb[2], 90, 6) << "row " << y;
  }
  EXPECT_EQ(station.Stop(), 0);
}

// A further set prints the page at the size the set printed it, whether
// the set also wrote its web copy (fitted into 640 x 640) or not: set 1
// writes a web copy and copies into set 2, set 3 writes none and copies
// into set 4 (both TIFF); all four share set A's folder. A job without
// a quality of its own is written at 75, not at the web copy's quality.
TEST(SetRoute, AFurtherSetPrintsThePageAtItsSizeWithOrWithoutAWebCopy) {
  e2e::Station station("furtherset");
  e2e::WritePrefs(station.defaultsFile(), [] {
    getMyPrintToFileSetPrefs(1)->createJpegForWeb = 1;
    getMyPrintToFileSetPrefs(1)->alsoCopyToSet = {3, 0, 0};
    getMyPrintToFileSetPrefs(2)->fileFormat = kFormatTIFF;
    getMyPrintToFileSetPrefs(2)->extension = ".tif";
    getMyPrintToFileSetPrefs(3)->alsoCopyToSet = {5, 0, 0};
    getMyPrintToFileSetPrefs(4)->fileFormat = kFormatTIFF;
    getMyPrintToFileSetPrefs(4)->extension = ".tif";
    getMyWebUploadPrefs()->folder.createIfMissing = 1;
  });
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 400, 600, {220, 20, 20}));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 400, 600, {20, 20, 220}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));
  jobwriter::TJobDescription blue = e2e::SetOneJob("Blue.jpg");
  blue.blocks.print2File.setNumber = 3;
  ASSERT_TRUE(station.Drop(blue, "blue.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFilesBelow(station.SetFolder('A')).size() == 4; }, 60))
      << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();

  const auto web = e2e::VisibleFiles(station.app() / e2e::fs::u8path("WEB UPLOAD FOLDER ƒ"));
  ASSERT_EQ(web.size(), 1u);
  const e2e::Picture webCopy = e2e::ReadPicture(web.front());
  ASSERT_TRUE(webCopy.image) << webCopy.error;
  EXPECT_EQ(webCopy.width(), 426);
  EXPECT_EQ(webCopy.height(), 640);
  for (const char* name : {"Red.jpg", "Red.tif", "Blue.jpg", "Blue.tif"}) {
    const e2e::Picture page = e2e::ReadPicture(station.SetFolder('A') / name);
    ASSERT_TRUE(page.image) << name << ": " << page.error;
    EXPECT_EQ(page.width(), 1200) << name;
    EXPECT_EQ(page.height(), 1800) << name;
  }
  EXPECT_GT(e2e::ReadPicture(station.SetFolder('A') / "Red.tif").rgb(600, 900)[0], 180);
  // The job carries no quality: its page is written at 75, the web copy at
  // the Output Files panel's 50.
  auto quality = [](const e2e::fs::path& file) { return e2e::ToolOutput({"identify", "-format", "%Q", file.string()}); };
  EXPECT_EQ(quality(station.SetFolder('A') / "Red.jpg"), "75");
  EXPECT_EQ(quality(web.front()), "50");
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
