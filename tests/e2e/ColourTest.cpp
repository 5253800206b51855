// Colour through the running program: a photo whose sidecar carries colour
// settings prints corrected, a job that asks for colour matching prints
// matched from its source profile to the printer's profile, and a job that
// honours embedded profiles prints CMYK and PNG photos through their own.
#include "e2e/E2E.h"

#include "host/base/ByteOrder.h"
#include "common/CmykProfile.h"
#include "host/files/ResourceFork.h"
#include "layout/Objects.h"
#include "pipeline/PrinterRecords.h"

namespace {

std::array<int, 3> PageCentre(e2e::Station& station) {
  const auto outputs = station.WaitForSetOutput('A');
  EXPECT_FALSE(outputs.empty()) << station.Log();
  if (outputs.empty()) return {-1, -1, -1};
  const e2e::Picture page = e2e::ReadPicture(outputs.front());
  EXPECT_TRUE(page.image) << page.error;
  if (!page.image) return {-1, -1, -1};
  for (const auto& file : outputs) e2e::fs::remove(file);
  return page.rgb(page.width() / 2, page.height() / 2);
}

void ExpectNear(const std::array<int, 3>& got, const std::array<int, 3>& want, int tolerance) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[size_t(i)], want[size_t(i)], tolerance) << "channel " << i;
}

TEST(Colour, PhotoWithSettingsSidecarPrintsCorrected) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Plain.jpg", 600, 900, {200, 100, 50}));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Tuned.jpg", 600, 900, {200, 100, 50}));
  // Colour settings as a station stores them: ten big-endian floats in
  // 'Pref' 5002 of the photo's resource fork. Red halved, exposure +0.5.
  const float values[10] = {1, 0, 1, 0.5f, 1, 1, 0, 1, 0.5f, 0};
  std::vector<uint8_t> bytes(1048, 0);
  for (int i = 0; i < 10; ++i) host::StoreBEF32(&bytes[size_t(i) * 4], values[i]);
  host::ResourceMap fork;
  fork.Set(FourCC("Pref"), 5002, "", bytes, false);
  ASSERT_EQ(host::WriteResourceFork((station.images() / "Tuned.jpg").string(), fork), noErr);

  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Plain.jpg"), "plain.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ExpectNear(PageCentre(station), {200, 100, 50}, 4);

  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Tuned.jpg"), "tuned.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  // 200 * 0.5 * 2^0.5 = 141, 100 * 2^0.5 = 141, 50 * 2^0.5 = 71.
  ExpectNear(PageCentre(station), {141, 141, 71}, 5);
  EXPECT_EQ(station.Stop(), 0);
}

TEST(Colour, PhotoWithImagePropertiesDrawsWithItsOwnColourAdjustment) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Props.jpg", 600, 900, {160, 100, 120}));
  // 'Pref' 5000, 144 bytes big-endian: whole image (crop mode 1 at byte 12),
  // centred (crop position 1 at 24), red +32 and blue -32 (bytes 26 and 30).
  std::vector<uint8_t> props(144, 0);
  host::StoreBE16(&props[12], 1);
  host::StoreBE16(&props[24], 1);
  host::StoreBE16(&props[26], 32);
  host::StoreBE16(&props[30], uint16_t(-32));
  host::ResourceMap fork;
  fork.Set(FourCC("Pref"), 5000, "Image Properties", props);
  ASSERT_EQ(host::WriteResourceFork((station.images() / "Props.jpg").string(), fork), noErr);

  jobwriter::TJobDescription job = e2e::SetOneJob("Props.jpg");
  job.PrintMode = 0;  // the drawing path that reads a photo's image properties
  ASSERT_TRUE(station.Drop(job, "props.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const auto centre = PageCentre(station);
  EXPECT_GT(centre[0], 175);
  EXPECT_NEAR(centre[1], 100, 5);
  EXPECT_LT(centre[2], 105);
  EXPECT_EQ(station.Stop(), 0);
}

TEST(Colour, JobWithPrinterProfilePrintsMatched) {
  e2e::Station station;
  // The profiles are installed for the user, under names of their own.
  const e2e::fs::path icc = station.base() / "data/icc";
  e2e::fs::create_directories(icc);
  e2e::fs::copy_file("/usr/share/color/icc/colord/sRGB.icc", icc / "Kivo Camera.icc");
  // An accented name: the profile's name travels in Mac Roman and is found on
  // disk in UTF-8.
  e2e::fs::copy_file("/usr/share/color/icc/colord/SwappedRedAndGreen.icc", icc / "Kivo Imprimante \u00E9.icc");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Photo.jpg", 600, 900, {200, 100, 50}));

  jobwriter::TJobDescription job = e2e::SetOneJob("Photo.jpg");
  job.colorSyncPrefs->w0 = 1;
  job.colorSyncPrefs->profiles[2].name = "Kivo Camera.icc";
  job.colorSyncPrefs->printers[25].w0 = 1;
  job.colorSyncPrefs->printers[25].profile.name = "Kivo Imprimante \u00E9.icc";
  ASSERT_TRUE(station.Drop(job, "matched.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ExpectNear(PageCentre(station), {100, 200, 50}, 5);
  EXPECT_NE(station.Log().find("Color Matching was successful"), std::string::npos) << station.Log();

  // A printer profile that is not installed leaves the page unmatched. (The
  // first job's photo went with it: a station sends its photo with each job.)
  ASSERT_TRUE(station.WaitUntilGone(station.images() / "Photo.jpg"));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Photo.jpg", 600, 900, {200, 100, 50}));
  job.colorSyncPrefs->printers[25].profile.name = "Missing.icc";
  ASSERT_TRUE(station.Drop(job, "unmatched.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ExpectNear(PageCentre(station), {200, 100, 50}, 4);
  EXPECT_EQ(station.Stop(), 0);
}

// Runs a tool with its argument vector; its exit status.
int RunTool(const std::vector<std::string>& words) {
  int status = -1;
  e2e::ToolOutput(words, &status);
  return status;
}

TEST(Colour, EmbeddedCmykAndPngProfilesAreHonouredWhenTheJobAsks) {
  e2e::Station station;
  ASSERT_TRUE(station.Start()) << station.Log();
  // A CMYK separation of a red photo with its printer profile embedded, and
  // the reference colour: jpgicc's reading of it through that profile.
  const e2e::fs::path work = station.base() / "work";
  e2e::fs::create_directories(work);
  ASSERT_TRUE(testprofiles::WriteCmykProfile(work / "printer.icc"));
  ASSERT_TRUE(e2e::WritePhoto(work / "red.jpg", 600, 900, {200, 40, 30}));
  ASSERT_EQ(RunTool({"jpgicc", "-q100", "-e", "-o" + (work / "printer.icc").string(), (work / "red.jpg").string(),
                 (work / "cmyk.jpg").string()}),
            0);
  ASSERT_EQ(RunTool({"jpgicc", "-q100", (work / "cmyk.jpg").string(), (work / "reference.jpg").string()}), 0);
  const e2e::Picture reference = e2e::ReadPicture(work / "reference.jpg");
  ASSERT_TRUE(reference.image) << reference.error;
  const std::array<int, 3> want = reference.rgb(300, 450);

  jobwriter::TJobDescription job = e2e::SetOneJob("Cmyk.jpg");
  job.colorSyncPrefs->applyEmbedded = 1;
  e2e::fs::copy_file(work / "cmyk.jpg", station.images() / "Cmyk.jpg");
  ASSERT_TRUE(station.Drop(job, "cmyk.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ExpectNear(PageCentre(station), want, 5);
  EXPECT_EQ(station.Log().find("profile of the image is not applied"), std::string::npos) << station.Log();

  // A PNG whose profile exchanges the red and green primaries.
  const host::GWorldHandle flat = e2e::ReadPicture(work / "red.jpg").image;
  ASSERT_TRUE(flat);
  host::ImageWriteOptions swapped;
  const std::string profile = e2e::ReadAll("/usr/share/color/icc/colord/SwappedRedAndGreen.icc");
  swapped.iccProfile.assign(profile.begin(), profile.end());
  ASSERT_TRUE(host::WriteImageFile(*flat, station.images() / "Swapped.png", host::ImageFormat::kPng, swapped).ok());
  job = e2e::SetOneJob("Swapped.png");
  job.colorSyncPrefs->applyEmbedded = 1;
  ASSERT_TRUE(station.Drop(job, "png.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ExpectNear(PageCentre(station), {40, 200, 30}, 6);
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
