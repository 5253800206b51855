// A direct-printer page wider than the print record can state (32,767
// pixels a side) fails the job with "Could not write printer file!" and
// leaves nothing in the print-centre folders; a page at the limit goes.
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
  EXPECT_TRUE(e2e::WaitUntil([&] { return fs::exists(marker); }, 10));
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
