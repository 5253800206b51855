// A sub-job whose photo is chroma-keyed leaves a JPEG of its keyed page in
// print-to-file set 8's folder, under the subfolder and name the job gives.
#include "e2e/E2E.h"

#include "chromakey/engine/KeyPipeline.h"
#include "chromakey/engine/Keyers.h"
#include "layout/Objects.h"

namespace {

namespace fs = std::filesystem;

bool IsRed(const std::array<int, 3>& c) { return c[0] > 180 && c[1] < 80 && c[2] < 80; }
bool IsBlue(const std::array<int, 3>& c) { return c[0] < 80 && c[1] < 80 && c[2] > 180; }

TEST(KeyedCopy, AKeyedSubJobLeavesItsPageInSet8) {
  e2e::Station station("ckcopy");
  ASSERT_TRUE(station.Start()) << station.Log();
  // Green backing with a red subject in the middle.
  const uint8_t backing[3] = {30, 190, 40};
  host::GWorldHandle photo = host::GWorld::Create(CLongRect_AC(0, 0, 300, 200));
  ASSERT_TRUE(photo);
  for (int32_t y = 0; y < 300; ++y)
    for (int32_t x = 0; x < 200; ++x) {
      uint8_t* p = photo->scanline(y) + 4 * x;
      const bool subject = x >= 60 && x < 140 && y >= 100 && y < 200;
      p[0] = 255;
      p[1] = subject ? 220 : backing[0];
      p[2] = subject ? 30 : backing[1];
      p[3] = subject ? 30 : backing[2];
    }
  ASSERT_TRUE(host::WriteImageFile(*photo, station.images() / "Green.png", host::ImageFormat::kPng).ok());
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Outer.jpg", 200, 300, {20, 200, 20}));

  tChromaKeySettings settings;
  chromakey::initialize_data(&settings.para);
  settings.para.flag = chromakey::kFlagFloatKernels | chromakey::kFlagKeyerRT;
  chromakey::KeyerRT model;
  model.set_center_backing(backing[0] * 256.0f, backing[1] * 256.0f, backing[2] * 256.0f, &settings.para);
  settings.para.center_r = backing[0] * 256.0f;
  settings.para.center_g = backing[1] * 256.0f;
  settings.para.center_b = backing[2] * 256.0f;

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
  keyed->SetChromaKeySettings(settings);
  job.subJobObjects.push_back(jobwriter::RecordOf(*keyed));
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Outer.jpg", 1, 1, 2, 3))));
  ASSERT_TRUE(station.Drop(job, "keyed-subjob.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  // Every set's folder is the program's default set folder here, set 8's too.
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(station.SetFolder('A') / "Outer.jpg"); }, 30)) << station.Log();
  const fs::path copy = station.SetFolder('A') / "Keyed Copies" / "Green_CK_studio.jpg";
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(copy); }, 10)) << station.Log();
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
