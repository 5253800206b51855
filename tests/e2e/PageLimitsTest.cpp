// A direct-printer page wider than the print record can state (32,767
// pixels a side) fails the job with "Could not write printer file!" and
// leaves nothing in the print-centre folders; a page at the limit goes. A
// sub-job over that size fails the same way (its objects could not reach
// its far end); one at the limit is made whole.
#include "e2e/E2E.h"

#include "host/sys/UserDefaults.h"
#include "layout/Objects.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace {

namespace fs = std::filesystem;

// A page `width` inches wide and a tenth of an inch high at 100 dpi, painted
// red, for printer 1 (which takes the page at its own size).
jobwriter::TJobDescription WidePage(float width, const std::string& templateName) {
  jobwriter::TJobDescription job;
  job.printer = 1;
  job.resolution = 100;
  job.templateName = CStr31_AC(templateName);
  job.pageWidth = width;
  job.pageHeight = 0.1f;
  job.objects.push_back(jobwriter::RecordOf(
      *layout::TBackColorObject::New(jobwriter::BackColorDesc(RGBColor{0xFFFF, 0, 0}, 0, 0, width, 0.1f))));
  return job;
}

TEST(PageLimits, AHandOffPageWiderThanTheRecordFailsWithoutWritingAnything) {
  e2e::Station station("limits");
  const fs::path marker = station.base() / "print-centre-started";
  setMyProcessedJobsPrefToFactoryDefaults(getMyProcessedJobsPrefs());
  getMyProcessedJobsPrefs()->useNewHandOff = 0;
  ASSERT_TRUE(station.SetDefault(kPrintCenterPrefsKey, host::PlistValue(ProcessedJobsPrefBlob())));
  ASSERT_TRUE(station.SetDefault("KivoPrintCenterCommand", e2e::Command({"/usr/bin/touch", marker.string()})));
  ASSERT_TRUE(station.SetDefault("KivoOlderPrintCenterCommand", e2e::Command({"/usr/bin/touch", marker.string()})));
  ASSERT_TRUE(station.Start()) << station.Log();
  const fs::path center = station.app() / "Kivo-PrintCenter Folder";

  // 330 inches at 100 dpi: 33,000 pixels wide.
  ASSERT_TRUE(station.Drop(WidePage(330, "TooWide"), "too-wide.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(station.unknown() / "too-wide.trpr"); }, 60)) << station.Log();
  const std::string log = station.Log();
  EXPECT_NE(log.find("The page of 33000 x 10 pixels is larger than the print centre takes"), std::string::npos)
      << log;
  EXPECT_NE(log.find("Could not write printer file!"), std::string::npos) << log;
  EXPECT_TRUE(e2e::EntriesBelow(center).empty());
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_EQ(station.PrintLog().find("TooWide"), std::string::npos) << station.PrintLog();

  // 327.675 inches: 32,767 pixels, the widest page the record holds.
  ASSERT_TRUE(station.Drop(WidePage(327.675f, "AtLimit"), "at-limit.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  fs::path handOff;
  ASSERT_TRUE(e2e::WaitUntil([&] {
    for (const fs::path& f : e2e::EntriesBelow(center / "Jobs To Be Printed"))
      if (f.filename().string().find("AtLimit") != std::string::npos) handOff = f;
    return !handOff.empty();
  }, 30)) << station.Log();
  const std::string bytes = e2e::ReadAll(handOff);
  ASSERT_GT(bytes.size(), 10u);
  // The width follows the length word and the magic.
  EXPECT_EQ((uint8_t(bytes[6]) << 8) | uint8_t(bytes[7]), 32767);
  EXPECT_TRUE(e2e::WaitUntil([&] { return fs::exists(marker); }, 60));
  EXPECT_EQ(station.Stop(), 0);
}

bool IsRed(const std::array<int, 3>& c) { return c[0] > 180 && c[1] < 80 && c[2] < 80; }
bool IsBlue(const std::array<int, 3>& c) { return c[0] < 80 && c[1] < 80 && c[2] > 180; }

// A set job whose sub-job is `width` inches wide and an inch high at 100 dpi,
// a blue photo at its left end and a red one at its right end; the sub-job's
// page is the job's output as it is.
jobwriter::TJobDescription WideSubJob(float width, const std::string& templateName) {
  jobwriter::TJobDescription job = e2e::SetOneJob("Left.jpg", templateName);
  job.resolution = 100;
  job.hasSubJob = true;
  job.subJobWidth = width;
  job.subJobHeight = 1;
  job.subJobObjects.push_back(
      jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Left.jpg", 0, 0, 2, 1))));
  job.subJobObjects.push_back(
      jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Right.jpg", width - 2, 0, 2, 1))));
  CAttributeDesc attr{};
  attr.SaveCKTemplateAsIs = 1;
  job.subJobObjects.push_back(jobwriter::RecordOf(*layout::TAttributeObject::New(attr)));
  return job;
}

TEST(PageLimits, ASubJobWiderThanItsObjectsCanReachFailsWithoutWritingAnything) {
  e2e::Station station("limits");
  ASSERT_TRUE(station.Start()) << station.Log();
  auto photos = [&] {
    return e2e::WritePhoto(station.images() / "Left.jpg", 200, 100, {20, 20, 220}) &&
           e2e::WritePhoto(station.images() / "Right.jpg", 200, 100, {220, 20, 20});
  };

  // 360 inches at 100 dpi: 36,000 pixels wide. Its right end lies where no
  // object can be placed, so the job fails and keeps its file and photos.
  ASSERT_TRUE(photos());
  ASSERT_TRUE(station.Drop(WideSubJob(360, "TooWide"), "too-wide.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "too-wide.trpr"); }, 60))
      << station.Log();
  std::string log = station.Log();
  EXPECT_NE(log.find("The sub-job of 36000 x 100 pixels is larger than its objects can be placed on"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Could not write printer file!"), std::string::npos) << log;
  EXPECT_TRUE(e2e::EntriesBelow(station.SetFolder('A')).empty());
  EXPECT_TRUE(e2e::EntriesBelow(station.SetFolder('H')).empty());
  EXPECT_TRUE(station.PrintLog().empty()) << station.PrintLog();
  EXPECT_TRUE(fs::exists(station.images() / "Left.jpg"));
  EXPECT_TRUE(fs::exists(station.images() / "Right.jpg"));

  // Taller than that, however narrow: the same.
  jobwriter::TJobDescription tall = WideSubJob(4, "TooTall");
  tall.subJobHeight = 400;
  ASSERT_TRUE(station.Drop(tall, "too-tall.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "too-tall.trpr"); }, 60))
      << station.Log();
  EXPECT_NE(station.Log().find("The sub-job of 400 x 40000 pixels"), std::string::npos) << station.Log();

  // 327.675 inches: 32,767 pixels, the widest sub-job; it is made whole,
  // its right end included.
  ASSERT_TRUE(station.Drop(WideSubJob(327.675f, "AtLimit"), "at-limit.trpr"));
  const auto outputs = station.WaitForSetOutput('A', 120);
  ASSERT_EQ(outputs.size(), 1u) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(outputs[0]);
  ASSERT_EQ(page.width(), 32767) << page.error;
  ASSERT_EQ(page.height(), 100);
  EXPECT_TRUE(IsBlue(page.rgb(100, 50)));
  EXPECT_TRUE(IsRed(page.rgb(32667, 50)));
  // The print log's line follows the page's placing and counting.
  EXPECT_TRUE(e2e::WaitUntil([&] { return station.PrintLog().find("Template: AtLimit") != std::string::npos; }, 60))
      << station.PrintLog();
  EXPECT_EQ(station.PrintLog().find("TooWide"), std::string::npos) << station.PrintLog();
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
