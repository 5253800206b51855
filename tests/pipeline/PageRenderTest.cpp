// Rendering written jobs into a page, finishing it, and the output sizes.
#include <gtest/gtest.h>

#include "output/SystemPrint.h"
#include "FakeServices.h"
#include "common/TempDir.h"
#include "host/files/FSSpec.h"
#include "host/imageio/ImageFile.h"
#include "host/qd/GWorld.h"
#include "layout/ImageDraw.h"
#include "pipeline/BGPrintView.h"
#include "pipeline/OutputSizes.h"
#include "platform/FolderSpecs.h"
#include "jobwriter/JobWriter.h"

using namespace pipeline;
namespace fs = std::filesystem;

namespace {

struct RenderServices : FakeServices {
  fs::path images;
  std::vector<std::string> statuses;
  int previews = 0;
  fs::path ImagesFolder() override { return images; }
  std::filesystem::path GraphicsFolder() override { return {}; }
  void SetStatus(const std::string& s) override { statuses.push_back(s); }
  void SetImage(const host::GWorld* g, const std::string&) override { if (g) ++previews; }
};

const uint8_t* Px(const host::GWorld& g, int x, int y) { return g.scanline(y) + x * 4; }
bool Red(const host::GWorld& g, int x, int y) { auto p = Px(g, x, y); return p[1] > 200 && p[2] < 60 && p[3] < 60; }
bool Blue(const host::GWorld& g, int x, int y) { auto p = Px(g, x, y); return p[1] < 60 && p[2] < 60 && p[3] > 200; }
bool White(const host::GWorld& g, int x, int y) { auto p = Px(g, x, y); return p[1] > 240 && p[2] > 240 && p[3] > 240; }

struct PageRender : ::testing::Test {
  TempDir dir;
  RenderServices services;
  FSSpec savedPrefs = gKivoPrefsFSSpec;

  void SetUp() override {
    fs::create_directories(dir / "images");
    fs::create_directories(dir / "prefs");
    services.images = dir / "images";
    ASSERT_EQ(host::MakeFolderSpecFromPath(dir / std::string("prefs"), &gKivoPrefsFSSpec), noErr);
    layout::DisposePhotoCache();
    // Left half red, right half blue, 200 x 100.
    auto g = host::GWorld::Create(CLongRect_AC(0, 0, 100, 200));
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 200; ++x) {
        uint8_t* p = g->scanline(y) + x * 4;
        p[1] = x < 100 ? 0xFF : 0; p[2] = 0; p[3] = x < 100 ? 0 : 0xFF;
      }
    ASSERT_TRUE(host::WriteImageFile(*g, dir / "images/photo.jpg", host::ImageFormat::kJpeg).ok());
  }
  void TearDown() override {
    gKivoPrefsFSSpec = savedPrefs;
    layout::DisposePhotoCache();
  }

  // A 4 x 3 inch page at 100 dpi with the photo fitted into a 2 x 1 inch box
  // at (1, 1) and a green band painted after it over its top.
  jobwriter::TJobDescription Job(const std::string& photo) {
    jobwriter::TJobDescription j;
    j.pageWidth = 4;
    j.pageHeight = 3;
    j.resolution = 100;
    j.enlargeMethod = 2;
    j.reduceMethod = 2;
    // The system printer: no printer answers in these tests, so the job
    // fails after "OutputForPrint.jpg", the finished page, is written.
    j.printer = 8;
    CImageDesc image = jobwriter::ImageDesc(photo, 1, 1, 2, 1);
    image.fCropToFill = 0;
    j.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(image)));
    j.objects.push_back(jobwriter::RecordOf(
        *layout::TBackColorObject::New(jobwriter::BackColorDesc(RGBColor{0, 0xFFFF, 0}, 0, 0, 4, 1.1f))));
    return j;
  }

  std::unique_ptr<TSpoolerPrintView> Read(const jobwriter::TJobDescription& j) {
    const fs::path file = dir / "job";
    EXPECT_TRUE(jobwriter::WriteJobFile(j, file));
    auto view = std::make_unique<TSpoolerPrintView>(services);
    EXPECT_EQ(view->ReadObjects(file), kResultOK);
    return view;
  }

  static std::vector<int16_t> DrawAll(TSpoolerPrintView& view) {
    std::vector<int16_t> results;
    for (int i = 0; i < 10; ++i) {
      results.push_back(view.DrawNextObject());
      if (results.back() != kResultOK && results.back() != kResultObjectDrawn) break;
    }
    return results;
  }
};

}  // namespace

TEST_F(PageRender, AJobDrawsItsObjectsInOrderOnePerCall) {
  auto view = Read(Job("photo.jpg"));
  ASSERT_EQ(view->CreateOffscreens(), kResultOK);
  ASSERT_TRUE(view->pageOffscreen);
  EXPECT_EQ(view->pageOffscreen->width(), 400);
  EXPECT_EQ(view->pageOffscreen->height(), 300);
  EXPECT_EQ(DrawAll(*view), (std::vector<int16_t>{kResultObjectDrawn, kResultAllObjectsDrawn}));
  const host::GWorld& page = *view->pageOffscreen;
  // The band (rows 0..110, rounded outwards) covers the top of the photo.
  EXPECT_FALSE(Red(page, 105, 105));
  EXPECT_TRUE(Red(page, 105, 150));
  EXPECT_TRUE(Blue(page, 295, 195));
  EXPECT_TRUE(White(page, 95, 150));
  EXPECT_TRUE(White(page, 305, 150));
  EXPECT_TRUE(White(page, 150, 205));
  EXPECT_EQ(view->CurrentImageName(), "photo");
  EXPECT_EQ(view->CurrentExtension(), ".JPG");
  EXPECT_EQ(view->TicketNumber(), "photo");
  EXPECT_GE(services.previews, 1);
}

TEST_F(PageRender, FinishingMirrorsGreysAndKeepsACopyOfThePage) {
  auto j = Job("photo.jpg");
  j.isMirror = true;
  j.isColor = false;
  j.printer = 8;
  auto view = Read(j);
  ASSERT_EQ(view->CreateOffscreens(), kResultOK);
  DrawAll(*view);
  // No printer answers there: the job fails (at once, not after the
  // printer's retry time); the finished page is kept as
  // "OutputForPrint.jpg" before it is handed to the printer.
  setenv("PRINTER", "ipp://127.0.0.1:9/ipp/print", 1);
  setenv("KIVO_PRINTER_BUSY_LIMIT", "0", 1);
  EXPECT_EQ(view->FinishJob(), output::kResultSystemPrintFailed);
  unsetenv("PRINTER");
  unsetenv("KIVO_PRINTER_BUSY_LIMIT");
  auto kept = host::ReadImageFile(dir / "prefs/OutputForPrint.jpg");
  ASSERT_TRUE(kept.image) << kept.error;
  EXPECT_EQ(kept.image->width(), 400);
  EXPECT_EQ(kept.image->height(), 300);
  const host::GWorld& page = *kept.image;
  for (int x : {105, 295}) {
    const auto p = Px(page, x, 150);
    EXPECT_LE(std::abs(int(p[1]) - int(p[2])), 3);
    EXPECT_LE(std::abs(int(p[2]) - int(p[3])), 3);
  }
  // Mirrored: the blue (darker grey) half is now on the left.
  EXPECT_LT(Px(page, 105, 150)[1], Px(page, 295, 150)[1]);
}

TEST_F(PageRender, AColourJobIsNotGreyed) {
  auto view = Read(Job("photo.jpg"));
  ASSERT_EQ(view->CreateOffscreens(), kResultOK);
  DrawAll(*view);
  setenv("PRINTER", "ipp://127.0.0.1:9/ipp/print", 1);
  setenv("KIVO_PRINTER_BUSY_LIMIT", "0", 1);
  view->FinishJob();
  unsetenv("PRINTER");
  unsetenv("KIVO_PRINTER_BUSY_LIMIT");
  auto kept = host::ReadImageFile(dir / "prefs/OutputForPrint.jpg");
  ASSERT_TRUE(kept.image) << kept.error;
  EXPECT_TRUE(Red(*kept.image, 105, 150));
}

TEST_F(PageRender, AJobNamingAPhotoOutsideTheImagesFolderFailsAndDeletesNothing) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, 10, 10));
  ASSERT_TRUE(host::WriteImageFile(*g, dir / "x.jpg", host::ImageFormat::kJpeg).ok());
  auto view = Read(Job("../x.jpg"));
  view->filesToDelete = std::make_unique<std::vector<fs::path>>();
  ASSERT_EQ(view->CreateOffscreens(), kResultOK);
  EXPECT_EQ(DrawAll(*view), (std::vector<int16_t>{kResultObjectFailed}));
  EXPECT_EQ(view->DrawFailure(), "The image file \"../x.jpg\" could not be found!");
  EXPECT_TRUE(view->CurrentImageName().empty());
  EXPECT_TRUE(view->filesToDelete->empty());
  EXPECT_TRUE(fs::exists(dir / "x.jpg"));
}

TEST_F(PageRender, AMissingPhotoStopsThePageWith102EvenAsLastObject) {
  auto j = Job("missing.jpg");
  j.objects.pop_back();
  auto view = Read(j);
  ASSERT_EQ(view->CreateOffscreens(), kResultOK);
  EXPECT_EQ(view->DrawNextObject(), kResultObjectFailed);
}

TEST_F(PageRender, IgnoredFileOverlaysAreSkippedAndAnEmptyListDrawsNothing) {
  TSpoolerPrintView empty(services);
  empty.resolution = 100; empty.pageWidth = 1; empty.pageHeight = 1;
  ASSERT_EQ(empty.CreateOffscreens(), kResultOK);
  EXPECT_EQ(empty.DrawNextObject(), kResultReadFailure);

  TSpoolerPrintView view(services);
  view.resolution = 100; view.pageWidth = 1; view.pageHeight = 1;
  view.IgnoreOverlays = 1;
  view.AddObject(layout::TFileOverlayObject::New(COverlayDesc{}));
  view.AddObject(layout::TFileOverlayObject::New(COverlayDesc{}));
  ASSERT_EQ(view.CreateOffscreens(), kResultOK);
  EXPECT_EQ(view.DrawNextObject(), kResultOK);
  EXPECT_EQ(view.DrawNextObject(), kResultAllObjectsDrawn);
}

TEST_F(PageRender, PageOfEightByTenAt300Dpi) {
  TSpoolerPrintView view(services);
  view.resolution = 300; view.pageWidth = 8; view.pageHeight = 10;
  ASSERT_EQ(view.CreateOffscreens(), kResultOK);
  EXPECT_EQ(view.pageOffscreen->width(), 2400);
  EXPECT_EQ(view.pageOffscreen->height(), 3000);
}

TEST(PageResize, CropToNewSizeCentresFitsOrLeavesWhite) {
  auto make = [] {
    auto g = host::GWorld::Create(CLongRect_AC(0, 0, 100, 200));
    for (size_t i = 0; i < g->byteCount(); i += 4) { g->pixels()[i + 1] = 0xFF; g->pixels()[i + 2] = 0; g->pixels()[i + 3] = 0; }
    return g;
  };
  auto src = make();
  auto big = TSpoolerPrintView::CropGWorldToNewSize(src, CLongRect_AC(0, 0, 300, 400), 0);
  ASSERT_TRUE(big);
  EXPECT_FALSE(src);  // taken over
  EXPECT_TRUE(Red(*big, 100, 100));
  EXPECT_TRUE(Red(*big, 299, 199));
  EXPECT_TRUE(White(*big, 99, 100));
  EXPECT_TRUE(White(*big, 300, 199));

  src = make();
  auto white = TSpoolerPrintView::CropGWorldToNewSize(src, CLongRect_AC(0, 0, 50, 50), 0);
  ASSERT_TRUE(white);
  EXPECT_TRUE(White(*white, 25, 25));

  src = make();
  auto filled = TSpoolerPrintView::CropGWorldToNewSize(src, CLongRect_AC(0, 0, 50, 50), 1);
  EXPECT_TRUE(Red(*filled, 0, 0));
  EXPECT_TRUE(Red(*filled, 49, 49));

  src = make();
  auto fitted = TSpoolerPrintView::ResizeToNewSize(src, CLongRect_AC(0, 0, 100, 100));
  ASSERT_TRUE(fitted);
  EXPECT_FALSE(src);
  EXPECT_EQ(fitted->width(), 100);
  EXPECT_EQ(fitted->height(), 50);
}

TEST(OutputSizes, TablesByPrinterAndMedia) {
  auto size = [](int16_t printer, int32_t w, int32_t h, TOutputMedia m) {
    m.printer = printer;
    if (m.resolution == 0) m.resolution = 300;
    const CLongRect_AC r = OutputRectFor(CLongRect_AC(0, 0, h, w), m);
    return std::pair<int64_t, int64_t>(r.Width(), r.Height());
  };
  using P = std::pair<int64_t, int64_t>;
  TOutputMedia m;
  m.jobMediaType = 1;
  for (int16_t p : {15, 16, 24}) EXPECT_EQ(size(p, 1800, 1200, m), P(1800, 1200)) << p;
  TOutputMedia mitsu;
  mitsu.mitsubishiMediaType = 1;
  EXPECT_EQ(size(23, 1800, 1200, mitsu), P(1800, 1200));
  m.jobMediaType = 0;
  EXPECT_EQ(size(29, 1800, 1200, m), P(1800, 1200));
  m.jobMediaType = 4;
  EXPECT_EQ(size(29, 1800, 1200, m), P(1800, 1200));
  TOutputMedia ribbon;
  ribbon.jobRibbonType = 5;
  EXPECT_EQ(size(33, 1800, 1200, ribbon), P(1800, 1200));
  TOutputMedia r37;
  r37.recordMediaType = 3;
  r37.recordCutInHalf = 2;
  EXPECT_EQ(size(37, 10, 10, r37), P(1248, 1848));
  r37.recordCutInHalf = 1;
  EXPECT_EQ(size(37, 10, 10, r37), P(1248, 2448));
  EXPECT_EQ(size(5, 1800, 2400, {}), P(2400, 1800));
  EXPECT_EQ(size(5, 2400, 1800, {}), P(2400, 1800));
  EXPECT_EQ(size(5, 3000, 2400, {}), P(2400, 3000));
  EXPECT_EQ(size(99, 3000, 2000, {}), P(2000, 3000));
  TOutputMedia m15;
  m15.jobMediaType = 11;
  EXPECT_EQ(size(15, 10, 10, m15), P(2446, 3707));
  TOutputMedia m57;
  m57.jobMediaType = 4;
  m57.jobCutInHalf = 6;
  EXPECT_EQ(size(57, 10, 10, m57), P(1852, 6036));
  m57.jobCutInHalf = 7;
  EXPECT_EQ(size(57, 10, 20, m57), P(10, 20));
  TOutputMedia m44;
  m44.jobMediaType = 2;
  m44.jobCutInHalf = 13;
  EXPECT_EQ(size(44, 10, 20, m44), P(2560, 2436));
}

TEST_F(PageRender, SepiaTonesFromGreyAndBadProfileIndexIsOnlyLogged) {
  auto j = Job("photo.jpg");
  j.pageColorMode = 99;
  j.pageColorAdjust.red = 20;
  j.pageColorAdjust.blue = -20;
  auto view = Read(j);
  view->colorSyncPrefs->w0 = 1;
  view->printer = 150;
  ASSERT_EQ(view->CreateOffscreens(), kResultOK);
  DrawAll(*view);
  view->FinishJob();
  EXPECT_TRUE(services.Logged("No printer profile entry for printer code 150"));
  // Printer 150 is a direct printer that takes the page over; the kept copy
  // shows the finished page.
  auto kept = host::ReadImageFile(dir / "prefs/OutputForPrint.jpg", {});
  ASSERT_TRUE(kept.ok());
  const uint8_t* p = Px(*kept.image, 105, 150);
  EXPECT_GE(p[1], p[3]);  // toned warm: red at least blue
  EXPECT_NE(p[1], p[3]);
  bool saidSepia = false;
  for (const auto& s : services.statuses) saidSepia |= s.find("Sepiatone") != std::string::npos;
  EXPECT_TRUE(saidSepia);
}
