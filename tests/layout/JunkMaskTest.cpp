// A photo's include (junk) mask carried in the photo's alpha where the image
// object keeps it: the cached photo of the placement path for print modes 3
// and up, and the first-image-only route's photo.
#include <gtest/gtest.h>

#include "PhotoFixtures.h"
#include "chromakey/MaskFixtures.h"
#include "host/files/ResourceFork.h"
#include "layout/ImageDraw.h"
#include "layout/Objects.h"

using namespace layout;
namespace fs = std::filesystem;

namespace {

struct JunkMask : ::testing::Test {
  TempDir dir;
  FakeJobContext view;
  void SetUp() override {
    fs::create_directories(dir / "images");
    view.images = dir / "images";
    view.values.printMode = 3;
    view.values.enlargeMethod = 1;
    view.values.reduceMethod = 1;
    DisposePhotoCache();
    // 200 x 100 with an include mask over its left half (shapes are given
    // at half size and scaled by 2).
    WriteHalvesPhoto(dir / "images/masked.png", 200, 100, host::ImageFormat::kPng);
    host::ResourceMap map;
    map.Set(FourCC("Pref"), 5011, "", cktest::ArchiveShapes({{"rectangle", "{{0, 0}, {50, 50}}"}}), false);
    ASSERT_EQ(host::WriteResourceFork(dir / "images/masked.png", map), noErr);
  }
  void TearDown() override { DisposePhotoCache(); }
  static CImageDesc Desc() {
    CImageDesc d;
    d.head.fLeft = 1; d.head.fTop = 1; d.head.fWidth = 2; d.head.fHeight = 1;
    d.fFile.name = "masked.png";
    return d;
  }
};

uint8_t Alpha(const host::GWorld& g, int x, int y) { return g.scanline(y)[4 * x]; }

}  // namespace

TEST_F(JunkMask, PlacedPhotoCarriesItsIncludeMaskIntoThePage) {
  auto page = host::GWorld::Create(CLongRect_AC(0, 0, 300, 400));
  ASSERT_TRUE(TImageObject::New(Desc())->Draw4Printing(page.get(), 100, view));
  EXPECT_TRUE(IsRed(*page, 150, 150));
  EXPECT_TRUE(IsBlue(*page, 250, 150)) << "the colours are drawn everywhere";
  EXPECT_EQ(Alpha(*page, 150, 150), 255);
  EXPECT_EQ(Alpha(*page, 250, 150), 0) << "outside the include mask";
  EXPECT_EQ(Alpha(*page, 50, 50), 255) << "the rest of the page stays opaque";
}

TEST_F(JunkMask, PhotosWithoutAMaskStayOpaque) {
  WriteHalvesPhoto(dir / "images/plain.png", 200, 100, host::ImageFormat::kPng);
  CImageDesc d = Desc();
  d.fFile.name = "plain.png";
  auto page = host::GWorld::Create(CLongRect_AC(0, 0, 300, 400));
  ASSERT_TRUE(TImageObject::New(d)->Draw4Printing(page.get(), 100, view));
  EXPECT_EQ(Alpha(*page, 250, 150), 255);
}

TEST_F(JunkMask, FirstImageRouteKeepsTheMaskInTheShrunkPhoto) {
  host::GWorldHandle shrunk = TImageObject::New(Desc())->Draw4PrintingSpecial(100, view);
  ASSERT_TRUE(shrunk);
  EXPECT_EQ(shrunk->bounds(), CLongRect_AC(0, 0, 320, 640));
  EXPECT_EQ(Alpha(*shrunk, 100, 160), 255);
  EXPECT_EQ(Alpha(*shrunk, 540, 160), 0);
  ASSERT_EQ(view.registered.size(), 1u);
  EXPECT_EQ(view.names, std::vector<std::string>{"masked.png"});

  CImageDesc none = Desc();
  none.fFile.name = "No File";
  EXPECT_FALSE(TImageObject::New(none)->Draw4PrintingSpecial(100, view));
  EXPECT_EQ(view.registered.size(), 1u) << "\"No File\" is not registered";
}
