#include "imaging/ImageLoading.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ImagingTestUtil.h"
#include "common/TempDir.h"
#include "host/files/File.h"
#include "host/imageio/ImageFile.h"
#include "imaging/ImagingMessages.h"
#include "imaging/Offscreen.h"
#include "imaging/ImageWriters.h"
#include "imaging/OutputFileHelpers.h"
#include "imaging/PhotoshopReader.h"

namespace fs = std::filesystem;

namespace {

// 32 x 16: quadrants red (top left), green (top right), blue (bottom left),
// white (bottom right).
host::GWorldHandle Quadrants() {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, 16, 32));
  fillPixelMap(g.get(), 0xFFFFFF);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) {
      uint8_t* p = g->scanline(y) + 4 * x;
      const uint32_t c = y < 8 ? (x < 16 ? 0xFF0000 : 0x00FF00) : (x < 16 ? 0x0000FF : 0xFFFFFF);
      p[1] = c >> 16;
      p[2] = (c >> 8) & 0xFF;
      p[3] = c & 0xFF;
    }
  return g;
}

// The colour (rounded to 0 or 255 per channel) near a corner.
uint32_t Corner(const host::GWorld& g, bool right, bool bottom) {
  const int x = right ? g.width() - 3 : 2, y = bottom ? g.height() - 3 : 2;
  const uint8_t* p = g.scanline(y) + 4 * x;
  auto q = [](uint8_t v) { return v > 127 ? 0xFFu : 0u; };
  return (q(p[1]) << 16) | (q(p[2]) << 8) | q(p[3]);
}

host::GWorldHandle Load(const std::string& path) {
  TFile file;
  EXPECT_EQ(file.SpecifyWithPath(path), noErr);
  bool turned = false;
  return ReadFile2(&file, 0, 0.0f, turned, nullptr);
}

struct BlurValue {
  explicit BlurValue(float v) : saved(myBlurValue) { myBlurValue = v; }
  ~BlurValue() { myBlurValue = saved; }
  float saved;
};

}  // namespace

TEST(Loading, OrientationsOneToEight) {
  TempDir dir;
  BlurValue noBlur(0);
  auto source = Quadrants();
  for (int o = 1; o <= 8; ++o) {
    host::ImageWriteOptions options;
    options.jpegQuality = 100;
    options.orientation = o;
    std::string name = "o";
    name += std::to_string(o);
    name += ".jpg";
    const std::string path = dir / name;
    ASSERT_TRUE(host::WriteImageFile(*source, path, host::ImageFormat::kJpeg, options).ok());
    FSRef ref{path};
    CImageFile file(&ref);
    EXPECT_EQ(file.GetOrientation(), o);

    // The loader turns orientation 3 by a half turn and draws the others as
    // stored.
    auto loaded = Load(path);
    ASSERT_TRUE(loaded) << o;
    EXPECT_EQ(loaded->width(), 32);
    if (o == 3) {
      EXPECT_EQ(Corner(*loaded, false, false), 0xFFFFFFu);
      EXPECT_EQ(Corner(*loaded, true, true), 0xFF0000u);
    } else {
      EXPECT_EQ(Corner(*loaded, false, false), 0xFF0000u) << o;
      EXPECT_EQ(Corner(*loaded, true, false), 0x00FF00u) << o;
    }

    // Turning an image upright for its orientation.
    CGImageRef upright = createNewRotatedImageRef(file.GetCurrentCGImage(), o);
    ASSERT_TRUE(upright);
    if (o == 6) {  // a quarter turn clockwise: blue comes to the top left
      EXPECT_EQ(upright->width(), 16);
      EXPECT_EQ(Corner(*upright, false, false), 0x0000FFu);
      EXPECT_EQ(Corner(*upright, true, false), 0xFF0000u);
    } else if (o == 8) {  // counter-clockwise: green to the top left
      EXPECT_EQ(upright->width(), 16);
      EXPECT_EQ(Corner(*upright, false, false), 0x00FF00u);
      EXPECT_EQ(Corner(*upright, false, true), 0xFF0000u);
    } else if (o == 3) {
      EXPECT_EQ(Corner(*upright, false, false), 0xFFFFFFu);
    } else {
      EXPECT_EQ(upright->width(), 32);
      EXPECT_EQ(Corner(*upright, false, false), 0xFF0000u) << o;
    }
  }
}

TEST(Loading, ExtensionsFallbackAndBlur) {
  EXPECT_TRUE(TNewAllFilesHandler::isValidFileForHere(CStr255_AC("photo.nef")));
  EXPECT_TRUE(TNewAllFilesHandler::isValidFileForHere(CStr255_AC("photo.nef extra")));
  EXPECT_TRUE(TNewAllFilesHandler::isValidFileForHere(CStr255_AC("IMG.Jpeg")));
  EXPECT_FALSE(TNewAllFilesHandler::isValidFileForHere(CStr255_AC("a.b")));
  EXPECT_FALSE(TNewAllFilesHandler::isValidFileForHere(CStr255_AC("photo.png")));
  EXPECT_FALSE(TNewAllFilesHandler::isValidFileForHere(CStr255_AC("noextension")));

  TempDir dir;
  auto source = Quadrants();
  ASSERT_TRUE(host::WriteImageFile(*source, dir / "q.png", host::ImageFormat::kPng).ok());
  ASSERT_TRUE(host::WriteImageFile(*source, dir / "q.tif", host::ImageFormat::kTiff).ok());
  {
    BlurValue noBlur(0);
    // A PNG goes to the plain importer and still loads; pixels are exact.
    auto png = Load(dir / "q.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(Pixel(*png, 15, 7) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(Pixel(*png, 16, 7) & 0xFFFFFF, 0x00FF00u);
    auto tif = Load(dir / "q.tif");
    ASSERT_TRUE(tif);
    EXPECT_EQ(Pixel(*tif, 15, 7) & 0xFFFFFF, 0xFF0000u);
  }
  {
    // The job-wide blur softens the edges of photos loaded by extension only.
    BlurValue blur(2.0f);
    auto tif = Load(dir / "q.tif");
    ASSERT_TRUE(tif);
    EXPECT_NE(Pixel(*tif, 15, 7) & 0xFFFFFF, 0xFF0000u);
    auto png = Load(dir / "q.png");
    EXPECT_EQ(Pixel(*png, 15, 7) & 0xFFFFFF, 0xFF0000u);
  }
  WriteText(dir / "broken.jpg", "not an image");
  EXPECT_FALSE(Load(dir / "broken.jpg"));
}

TEST(Loading, GraphicsFolderAndCroppedImages) {
  TempDir dir;
  fs::create_directories(dir / "graphics/Frames");
  auto source = Quadrants();
  ASSERT_TRUE(host::WriteImageFile(*source, dir / "graphics/Frames/gold.png", host::ImageFormat::kPng).ok());
  SetGraphicsFolderPath(dir / "graphics");
  auto graphic = getGraphicOnOffscreen(CStr255_AC("gold.png"), CStr255_AC("Frames"), true);
  ASSERT_TRUE(graphic);
  EXPECT_EQ(Pixel(*graphic, 31, 15) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_FALSE(getGraphicOnOffscreen(CStr255_AC(std::string(32, 'g')), CStr255_AC("Frames"), true));
  EXPECT_FALSE(getGraphicOnOffscreen(CStr255_AC("gold.png"), CStr255_AC(".."), true));
  EXPECT_FALSE(getGraphicOnOffscreen(CStr255_AC("silver.png"), CStr255_AC("Frames"), true));
  // The category is matched without regard to case and accents, as overlays match it.
  fs::create_directories(dir / "graphics/EQUIPE");
  ASSERT_TRUE(host::WriteImageFile(*source, dir / "graphics/EQUIPE/team.png", host::ImageFormat::kPng).ok());
  EXPECT_TRUE(getGraphicOnOffscreen(CStr255_AC("gold.png"), CStr255_AC("FRAMES"), true));
  EXPECT_TRUE(getGraphicOnOffscreen(CStr255_AC("team.png"), CStr255_AC("\xC3\xA9quipe"), true));
  EXPECT_FALSE(getGraphicOnOffscreen(CStr255_AC("../Frames/gold.png"), CStr255_AC("EQUIPE"), true));
  SetGraphicsFolderPath("");
  EXPECT_FALSE(PicHandle2GWorld(nullptr));

  // A crop reaching past the photo is clipped to it.
  const FSSpec spec = SpecOf(dir / "graphics/Frames/gold.png");
  auto cut = getCroppedImage(spec, CGRect{24, 4, 100, 100});
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->width(), 8);
  EXPECT_EQ(cut->height(), 12);
  EXPECT_EQ(Pixel(*cut, 0, 0) & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(Pixel(*cut, 7, 11) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_FALSE(getCroppedImage(spec, CGRect{100, 100, 10, 10}));
}

TEST(Loading, TheCodecsAreThereAndTheStartUpCheckStaysQuiet) {
  long version = 0;
  EXPECT_TRUE(IsQuickTimeAvail(&version));
  EXPECT_EQ(version, 0x07000000);
  int beeps = 0;
  std::string told;
  imaging::SetTextMessageSink([&](const char* text) { told = text; });
  CheckIfQuickTimeInstalled([&] { ++beeps; });
  imaging::SetTextMessageSink(nullptr);
  EXPECT_EQ(beeps, 0);
  EXPECT_TRUE(told.empty());
}

TEST(Loading, PhotoshopFiles) {
  TempDir dir;
  BlurValue noBlur(0);
  auto page = Gradient(5, 3);
  ASSERT_TRUE(NewSaveOffscreenToFile(kOutputPhotoshop, page.get(), SpecOf(dir / "p.psd"), false, 200, 75));
  auto loaded = Load(dir / "p.psd");
  ASSERT_TRUE(loaded);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(Pixel(*loaded, x, y) & 0xFFFFFF, Pixel(*page, x, y) & 0xFFFFFF);

  // PackBits rows: a 3 x 1 RGB image, red 10 10 10 (a run), green 1 2 3
  // (literal), blue 7 7 7.
  const std::vector<uint8_t> rle = {
      '8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 3, 0, 8, 0, 3,
      0, 0, 0, 0,  // colour mode data
      0, 0, 0, 0,  // image resources
      0, 0, 0, 0,  // layers
      0, 1,        // PackBits
      0, 2, 0, 4, 0, 2,
      0xFE, 10,
      2, 1, 2, 3,
      0xFE, 7};
  auto decoded = imaging::DecodePhotoshop(rle);
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  EXPECT_EQ(Pixel(*decoded.image, 0, 0), 0xFF0A0107u);
  EXPECT_EQ(Pixel(*decoded.image, 2, 0), 0xFF0A0307u);
  // Every shortened form of it is refused.
  for (size_t n = 0; n < rle.size(); ++n) {
    EXPECT_FALSE(imaging::DecodePhotoshop(std::span<const uint8_t>(rle.data(), n)).ok()) << n;
  }
  auto overlong = rle;
  overlong[overlong.size() - 2] = 0xF0;  // a run longer than the row
  EXPECT_FALSE(imaging::DecodePhotoshop(overlong).ok());
}
