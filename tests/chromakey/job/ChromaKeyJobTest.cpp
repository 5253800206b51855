// A chroma-key job from the job-file writer rendered to a page: the green
// backing is replaced by what the page holds under the photo, the subject is
// kept, and the photo's include and exclusion masks take effect.
#include <gtest/gtest.h>

#include "chromakey/MaskFixtures.h"
#include "chromakey/engine/KeyPipeline.h"
#include "chromakey/engine/Keyers.h"
#include "host/files/FSSpec.h"
#include "host/imageio/ImageFile.h"
#include "host/qd/GWorld.h"
#include "jobwriter/JobWriter.h"
#include "layout/ImageDraw.h"
#include "pipeline/BGPrintView.h"
#include "pipeline/FakeServices.h"

using namespace pipeline;
namespace fs = std::filesystem;

namespace {

constexpr uint8_t kBacking[3] = {30, 190, 40};

struct Services : FakeServices {
  fs::path images;
  fs::path ImagesFolder() override { return images; }
  std::filesystem::path GraphicsFolder() override { return {}; }
};

const uint8_t* Px(const host::GWorld& g, int x, int y) { return g.scanline(y) + size_t(x) * 4; }
bool Near(const host::GWorld& g, int x, int y, int r, int gr, int b) {
  const uint8_t* p = Px(g, x, y);
  return std::abs(p[1] - r) < 16 && std::abs(p[2] - gr) < 16 && std::abs(p[3] - b) < 16;
}
bool Blue(const host::GWorld& g, int x, int y) { return Near(g, x, y, 0, 0, 255); }
bool Red(const host::GWorld& g, int x, int y) { return Near(g, x, y, 220, 30, 30); }
bool Backing(const host::GWorld& g, int x, int y) { return Near(g, x, y, kBacking[0], kBacking[1], kBacking[2]); }

tChromaKeySettings GreenSettings() {
  using namespace chromakey;
  tChromaKeySettings s;
  initialize_data(&s.para);
  s.para.flag = kFlagFloatKernels | kFlagKeyerRT;
  KeyerRT model;
  model.set_center_backing(kBacking[0] * 256.0f, kBacking[1] * 256.0f, kBacking[2] * 256.0f, &s.para);
  s.para.center_r = kBacking[0] * 256.0f;
  s.para.center_g = kBacking[1] * 256.0f;
  s.para.center_b = kBacking[2] * 256.0f;
  return s;
}

struct ChromaKeyJob : ::testing::Test {
  cktest::PhotoDir dir;
  Services services;

  void SetUp() override {
    fs::create_directories(fs::path(dir.path()) / "images");
    services.images = fs::path(dir.path()) / "images";
    layout::DisposePhotoCache();
  }
  void TearDown() override { layout::DisposePhotoCache(); }

  // A 200 x 100 photo: green backing, a red subject in 80..120 x 30..70 and a
  // small red patch at 180..200 x 80..100, with the given mask resources.
  void WritePhoto(const std::vector<uint8_t>& include, const std::vector<uint8_t>& exclusion) {
    auto g = host::GWorld::Create(CLongRect_AC(0, 0, 100, 200));
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 200; ++x) {
        uint8_t* p = g->scanline(y) + size_t(x) * 4;
        const bool subject = (x >= 80 && x < 120 && y >= 30 && y < 70) || (x >= 180 && y >= 80);
        p[1] = subject ? 220 : kBacking[0];
        p[2] = subject ? 30 : kBacking[1];
        p[3] = subject ? 30 : kBacking[2];
      }
    const fs::path file = services.images / "photo.png";
    ASSERT_TRUE(host::WriteImageFile(*g, file, host::ImageFormat::kPng).ok());
    host::ResourceMap map;
    if (!include.empty()) map.Set(FourCC("Pref"), 5011, "", include, false);
    if (!exclusion.empty()) map.Set(FourCC("Pref"), 5012, "", exclusion, false);
    if (!map.IsEmpty()) {
      ASSERT_EQ(host::WriteResourceFork(file.string(), map), noErr);
    }
  }

  // A 4 x 3 inch page at 100 dpi painted blue, then the keyed photo fitted
  // into a 2 x 1 inch box at (1, 1): page pixels 100..300 x 100..200.
  // The blue page with the keyed photo as records.
  static std::vector<jobwriter::TRecordBytes> KeyedPage() {
    std::vector<jobwriter::TRecordBytes> records;
    records.push_back(jobwriter::RecordOf(
        *layout::TBackColorObject::New(jobwriter::BackColorDesc(RGBColor{0, 0, 0xFFFF}, 0, 0, 4, 3))));
    CImageDesc image = jobwriter::ImageDesc("photo.png", 1, 1, 2, 1);
    image.fCropToFill = 0;
    auto object = layout::TImageObject::New(image);
    object->SetChromaKeySettings(GreenSettings());
    records.push_back(jobwriter::RecordOf(*object));
    return records;
  }

  std::unique_ptr<TSpoolerPrintView> Render(int16_t printMode = 3) {
    jobwriter::TJobDescription j;
    j.pageWidth = 4;
    j.pageHeight = 3;
    j.resolution = 100;
    j.enlargeMethod = 2;
    j.reduceMethod = 2;
    j.PrintMode = printMode;
    j.objects = KeyedPage();
    const fs::path jobFile = fs::path(dir.path()) / "job";
    EXPECT_TRUE(jobwriter::WriteJobFile(j, jobFile));
    auto view = std::make_unique<TSpoolerPrintView>(services);
    EXPECT_EQ(view->ReadObjects(jobFile), kResultOK);
    EXPECT_EQ(view->CreateOffscreens(), kResultOK);
    EXPECT_EQ(view->DrawNextObject(), kResultObjectDrawn);
    EXPECT_EQ(view->DrawNextObject(), kResultAllObjectsDrawn);
    return view;
  }
};

}  // namespace

TEST_F(ChromaKeyJob, BackingIsReplacedByTheBackgroundAndTheSubjectKept) {
  WritePhoto({}, {});
  for (int16_t mode : {3, 0}) {  // both placement paths
    layout::DisposePhotoCache();
    auto view = Render(mode);
    const host::GWorld& page = *view->pageOffscreen;
    EXPECT_TRUE(Blue(page, 110, 110)) << mode;
    EXPECT_TRUE(Blue(page, 290, 130)) << mode;
    EXPECT_TRUE(Red(page, 200, 150)) << mode;
    EXPECT_TRUE(Red(page, 295, 195)) << mode;
    EXPECT_TRUE(Blue(page, 50, 50)) << mode;
  }
}

TEST_F(ChromaKeyJob, IncludeMaskKeepsItsAreaUnkeyed) {
  // Photo area 0..20 x 0..20, stored at half size.
  WritePhoto(cktest::ArchiveShapes({{"rectangle", "{{0, 0}, {10, 10}}"}}), {});
  auto view = Render();
  const host::GWorld& page = *view->pageOffscreen;
  EXPECT_TRUE(Backing(page, 105, 105));
  EXPECT_TRUE(Blue(page, 130, 130));
  EXPECT_TRUE(Red(page, 200, 150));
}

TEST_F(ChromaKeyJob, ExclusionMaskKeysOnlyInsideItsShapes) {
  // The shape around the subject (photo 70..130 x 20..80): the red patch
  // outside it goes, the subject inside it stays.
  WritePhoto({}, cktest::ArchiveShapes({{"rectangle", "{{35, 10}, {30, 30}}"}}));
  auto view = Render();
  const host::GWorld& page = *view->pageOffscreen;
  EXPECT_TRUE(Red(page, 200, 150));
  EXPECT_TRUE(Blue(page, 295, 195));
  EXPECT_TRUE(Blue(page, 110, 110));
}

TEST_F(ChromaKeyJob, DamagedMaskResourceIsNoMask) {
  WritePhoto({1, 2, 3}, {4, 5, 6});
  auto view = Render();
  const host::GWorld& page = *view->pageOffscreen;
  EXPECT_TRUE(Blue(page, 105, 105));
  EXPECT_TRUE(Red(page, 200, 150));
  EXPECT_TRUE(Red(page, 295, 195));
}

TEST_F(ChromaKeyJob, KeyedSubJobIsPlacedIntoTheMainJobsImageBoxes) {
  WritePhoto({}, {});
  for (int16_t resize : {0, 1}) {
    layout::DisposePhotoCache();
    jobwriter::TJobDescription j;
    j.pageWidth = 4;
    j.pageHeight = 3;
    j.resolution = 100;
    j.PrintMode = 5;
    j.enlargeMethod = 1;
    j.reduceMethod = 1;
    j.hasSubJob = true;
    j.subJobWidth = 4;
    j.subJobHeight = 3;
    j.SubjobResizeMode = resize;
    j.subJobObjects = KeyedPage();
    // The main job: one 3 x 1 inch box at (0.5, 1); its photo is never read.
    CImageDesc box = jobwriter::ImageDesc("unused.png", 0.5f, 1, 3, 1);
    j.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(box)));
    const fs::path jobFile = fs::path(dir.path()) / "job";
    ASSERT_TRUE(jobwriter::WriteJobFile(j, jobFile));
    TSpoolerPrintView view(services);
    ASSERT_EQ(view.ReadObjects(jobFile), kResultOK);
    ASSERT_EQ(view.DrawSubJob(), kResultOK);
    const host::GWorld* sub = view.GetSubJobOffscreen();
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->width(), 400);
    EXPECT_EQ(sub->height(), 300);
    EXPECT_TRUE(Blue(*sub, 110, 110));
    EXPECT_TRUE(Red(*sub, 200, 150));
    ASSERT_EQ(view.CreateOffscreens(), kResultOK);
    EXPECT_EQ(view.DrawNextObject(), kResultAllObjectsDrawn);
    const host::GWorld& page = *view.pageOffscreen;
    // Box 50..350 x 100..200. Fitted (0): the 400 x 300 page becomes 133 x 100
    // in the middle; cropped to fill (1): 300 x 100 across the whole box.
    if (resize == 0) {
      EXPECT_TRUE(Near(page, 100, 150, 255, 255, 255)) << "outside the fitted page";
      EXPECT_TRUE(Blue(page, 150, 150));
    } else {
      EXPECT_TRUE(Blue(page, 60, 150));
      EXPECT_TRUE(Blue(page, 340, 150));
    }
    EXPECT_TRUE(Red(page, 200, 150)) << resize;  // the keyed subject at the centre
  }
}
