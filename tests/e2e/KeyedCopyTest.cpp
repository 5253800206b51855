// A sub-job whose photo is chroma-keyed leaves a JPEG of its keyed page in
// print-to-file set 8's folder, under the subfolder and name the job gives.
#include "e2e/E2E.h"
#include "e2e/Keying.h"

#include "layout/Objects.h"

namespace {

namespace fs = std::filesystem;

bool IsRed(const std::array<int, 3>& c) { return c[0] > 180 && c[1] < 80 && c[2] < 80; }
bool IsBlue(const std::array<int, 3>& c) { return c[0] < 80 && c[1] < 80 && c[2] > 180; }

TEST(KeyedCopy, AKeyedSubJobLeavesItsPageInSet8) {
  e2e::Station station("ckcopy");
  ASSERT_TRUE(station.Start()) << station.Log();
  // Green backing with a red subject in the middle.
  ASSERT_TRUE(e2e::WriteGreenScreen(station.images() / "Green.png", 200, 300, 60, 100, 140, 200));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Outer.jpg", 200, 300, {20, 200, 20}));

  jobwriter::TJobDescription job;
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  job.PrintMode = 3;
  job.resolution = 100;
  job.pageWidth = 4;
  job.pageHeight = 6;
  job.hasSubJob = true;
  job.subJobWidth = 2;
  job.subJobHeight = 3;
  job.printToFileSet.subFolderName = "Keyed Copies";
  job.nameSuffix = "studio";
  // The sub-job: a blue background with the keyed photo over it.
  job.subJobObjects.push_back(jobwriter::RecordOf(
      *layout::TBackColorObject::New(jobwriter::BackColorDesc(RGBColor{0, 0, 0xFFFF}, 0, 0, 2, 3))));
  CImageDesc image = jobwriter::ImageDesc("Green.png", 0, 0, 2, 3);
  image.fCropToFill = 0;
  auto keyed = layout::TImageObject::New(image);
  keyed->SetChromaKeySettings(e2e::KeyingSettings());
  job.subJobObjects.push_back(jobwriter::RecordOf(*keyed));
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Outer.jpg", 1, 1, 2, 3))));
  ASSERT_TRUE(station.Drop(job, "keyed-subjob.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  // Every set's folder is the program's default set folder here, set 8's too.
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(station.SetFolder('A') / "Outer.jpg"); }, 30)) << station.Log();
  const fs::path copy = station.SetFolder('A') / "Keyed Copies" / "Green_CK_studio.jpg";
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(copy); }, 60)) << station.Log();
  const e2e::Picture kept = e2e::ReadPicture(copy);
  ASSERT_TRUE(kept.image) << kept.error;
  // The sub-job's page, 2 x 3 inches at 100 dpi: the subject over the blue
  // that replaced the backing.
  EXPECT_EQ(kept.width(), 200);
  EXPECT_EQ(kept.height(), 300);
  EXPECT_TRUE(IsRed(kept.rgb(100, 150)));
  EXPECT_TRUE(IsBlue(kept.rgb(20, 20)));
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
