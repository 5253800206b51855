// The job view's side of the layout objects: the first-image-only route and
// nodes that name job files.
#include <gtest/gtest.h>

#include <fstream>

#include "FakeServices.h"
#include "common/TempDir.h"
#include "host/files/FSSpec.h"
#include "host/imageio/ImageFile.h"
#include "jobwriter/JobWriter.h"
#include "layout/ImageDraw.h"
#include "pipeline/BGPrintView.h"

using namespace pipeline;
namespace fs = std::filesystem;

namespace {

struct RouteServices : FakeServices {
  fs::path images;
  std::vector<fs::path> handedOver;
  fs::path ImagesFolder() override { return images; }
  std::filesystem::path GraphicsFolder() override { return {}; }
  void SetFilesToDelete(std::vector<fs::path> files) override { handedOver = std::move(files); }
};

struct LayoutRoutes : ::testing::Test {
  TempDir dir;
  RouteServices services;
  void SetUp() override {
    fs::create_directories(dir / "images");
    services.images = dir / "images";
    layout::DisposePhotoCache();
    // 200 x 100: left half red, right half blue.
    auto g = host::GWorld::Create(CLongRect_AC(0, 0, 100, 200));
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 200; ++x) {
        uint8_t* p = g->scanline(y) + x * 4;
        p[1] = x < 100 ? 0xFF : 0; p[2] = 0; p[3] = x < 100 ? 0 : 0xFF;
      }
    ASSERT_TRUE(host::WriteImageFile(*g, dir / "images/photo.png", host::ImageFormat::kPng).ok());
  }
  void TearDown() override { layout::DisposePhotoCache(); }

  std::unique_ptr<TSpoolerPrintView> Read(const jobwriter::TJobDescription& j, const fs::path& file) {
    EXPECT_TRUE(jobwriter::WriteJobFile(j, file));
    auto view = std::make_unique<TSpoolerPrintView>(services);
    EXPECT_EQ(view->ReadObjects(file), kResultOK);
    return view;
  }
  static jobwriter::TRecordBytes ImageRecord(const std::string& name) {
    return jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(name, 0, 0, 1, 1)));
  }
};

}  // namespace

TEST_F(LayoutRoutes, FirstImageRouteTakesTheMainImageWhenTheSubJobNodeHasNone) {
  jobwriter::TJobDescription j;
  j.hasSubJob = true;
  j.subJobWidth = 1;
  j.subJobHeight = 1;
  const auto colour = layout::TBackColorObject::New(jobwriter::BackColorDesc(RGBColor{0, 0, 0}, 0, 0, 1, 1));
  j.subJobObjects.push_back(jobwriter::NodeRecord(jobwriter::NodeDesc(0, 0, 1, 1), {colour.get()}));
  j.objects.push_back(ImageRecord("photo.png"));
  auto view = Read(j, dir / "job");
  EXPECT_EQ(view->DrawSpecialJob(), kResultOK);
  const host::GWorld* shrunk = view->GetSubJobOffscreen();
  ASSERT_NE(shrunk, nullptr);
  EXPECT_EQ(shrunk->bounds(), CLongRect_AC(0, 0, 320, 640)) << "200 x 100 fitted into 640 x 640, at the origin";
  EXPECT_GT(shrunk->scanline(160)[4 * 100 + 1], 200);
  EXPECT_GT(shrunk->scanline(160)[4 * 540 + 3], 200);
  EXPECT_FALSE(view->IsDrawingSubJob());
  EXPECT_EQ(services.handedOver, std::vector<fs::path>{fs::path(dir / "images/photo.png")});
  EXPECT_EQ(view->CurrentImageName(), "photo");

  view->ProcessSubAsOutput();
  ASSERT_TRUE(view->pageOffscreen);
  EXPECT_EQ(view->pageOffscreen->width(), 640);
}

TEST_F(LayoutRoutes, FirstImageRouteWithoutAPhotoFailsSayingWhy) {
  jobwriter::TJobDescription j;
  j.objects.push_back(jobwriter::RecordOf(
      *layout::TTextObject::New(jobwriter::TextDesc("only text", 0, 0, 1, 1))));
  auto none = Read(j, dir / "job0");
  EXPECT_EQ(none->DrawSpecialJob(), kResultObjectFailed);
  EXPECT_EQ(none->DrawFailure(), "The job's image is missing!");
  j.objects.push_back(ImageRecord("No File"));
  auto view = Read(j, dir / "job");
  EXPECT_EQ(view->DrawSpecialJob(), kResultObjectFailed);
  EXPECT_EQ(view->GetSubJobOffscreen(), nullptr);
  EXPECT_EQ(view->DrawFailure(), "The job's image is missing!");
  j.objects = {ImageRecord("missing.png")};
  auto missing = Read(j, dir / "job2");
  EXPECT_EQ(missing->DrawSpecialJob(), kResultObjectFailed);
  EXPECT_EQ(missing->GetSubJobOffscreen(), nullptr);
  EXPECT_EQ(missing->DrawFailure(), "The image file \"missing.png\" could not be found!");
}

TEST_F(LayoutRoutes, ANodeNeverReadsTheJobFileThatHoldsItAgain) {
  const fs::path file = dir / "self.trpr";
  FSSpec self;
  {
    std::ofstream(file) << "x";
    ASSERT_EQ(host::MakeFSSpecFromPath(file.string(), &self), noErr);
  }
  // A second job file the node may read: its objects are appended.
  const fs::path other = dir / "other.trpr";
  jobwriter::TJobDescription o;
  o.resolution = 100;
  o.objects.push_back(ImageRecord("photo.png"));
  ASSERT_TRUE(jobwriter::WriteJobFile(o, other));
  FSSpec otherSpec;
  ASSERT_EQ(host::MakeFSSpecFromPath(other.string(), &otherSpec), noErr);

  jobwriter::TJobDescription j;
  j.pageWidth = 2;
  j.pageHeight = 2;
  j.resolution = 100;
  CNodeDesc selfNode = jobwriter::NodeDesc(0, 0, 1, 1);
  selfNode.fFile = self;
  CNodeDesc otherNode = jobwriter::NodeDesc(1, 1, 1, 1);
  otherNode.fFile = otherSpec;
  const auto red = layout::TBackColorObject::New(jobwriter::BackColorDesc(RGBColor{65535, 0, 0}, 0, 0, 1, 1));
  j.objects.push_back(jobwriter::NodeRecord(selfNode, {red.get()}));
  j.objects.push_back(jobwriter::NodeRecord(otherNode, {red.get()}));
  j.objects.push_back(jobwriter::NodeRecord(selfNode, {red.get()}));
  auto view = Read(j, file);
  ASSERT_EQ(view->objectList.size(), 3u);
  ASSERT_EQ(view->CreateOffscreens(), kResultOK);
  EXPECT_EQ(view->DrawNextObject(), kResultObjectDrawn);
  EXPECT_EQ(view->objectList.size(), 3u) << "its own job file is not read again";
  EXPECT_EQ(view->DrawNextObject(), kResultObjectDrawn);
  EXPECT_EQ(view->objectList.size(), 4u) << "another job file is read once";
  EXPECT_EQ(view->DrawNextObject(), kResultAllObjectsDrawn);
  EXPECT_EQ(view->objectList.size(), 4u);
  const host::GWorld& page = *view->pageOffscreen;
  EXPECT_GT(page.scanline(50)[4 * 50 + 1], 200);
  EXPECT_LT(page.scanline(50)[4 * 50 + 3], 60);
  EXPECT_GT(page.scanline(150)[4 * 150 + 1], 200);
}
