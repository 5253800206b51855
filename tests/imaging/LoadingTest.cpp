#include "imaging/ImageLoading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ImagingTestUtil.h"
#include "common/PsdFile.h"
#include "common/TempDir.h"
#include "host/files/File.h"
#include "host/imageio/ImageFile.h"
#include "imaging/ImagingMessages.h"
#include "imaging/Offscreen.h"
#include "imaging/ImageWriters.h"
#include "imaging/OutputFileHelpers.h"
#include "imaging/PhotoshopReader.h"
#include "platform/Polling.h"

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
  EXPECT_FALSE(PicHandleToOffscreen(nullptr));

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

namespace {

testpsd::Image PsdOf(uint16_t mode, uint16_t depth, std::vector<uint16_t> values, bool packBits = false) {
  testpsd::Image image;
  image.mode = mode;
  image.depth = depth;
  image.width = 5;
  image.height = 3;
  image.packBits = packBits;
  for (uint16_t v : values) image.channels.push_back(testpsd::Plane(image, v));
  return image;
}

struct EmbeddedSwitch {
  explicit EmbeddedSwitch(bool on) : saved(gApplyEmbedded) { gApplyEmbedded = on; }
  ~EmbeddedSwitch() { gApplyEmbedded = saved; }
  bool saved;
};

}  // namespace

TEST(Loading, PhotoshopDepthsModesAndProfiles) {
  // 16-bit RGB, raw and packed: the high byte, rounded, of each sample.
  for (const bool packed : {false, true}) {
    testpsd::Image rgb = PsdOf(testpsd::kRGB, 16, {0xABCD, 0x0101, 0xFFFF}, packed);
    rgb.channels[0][7] = 0x1280;  // one pixel apart: x 2, y 1
    const auto decoded = imaging::DecodePhotoshop(testpsd::Write(rgb));
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    EXPECT_EQ(decoded.info.bitsPerSample, 16);
    EXPECT_EQ(Pixel(*decoded.image, 0, 0), 0xFFAB01FFu) << packed;
    EXPECT_EQ(Pixel(*decoded.image, 2, 1), 0xFF1201FFu) << packed;
    // Cut anywhere, the file is refused rather than half read.
    const auto bytes = testpsd::Write(rgb);
    for (size_t n = 0; n < bytes.size(); n += 7)
      EXPECT_FALSE(imaging::DecodePhotoshop(std::span(bytes).first(n)).ok()) << n;
  }
  const auto grey = imaging::DecodePhotoshop(testpsd::Write(PsdOf(testpsd::kGrey, 16, {90 * 257})));
  ASSERT_TRUE(grey.ok()) << grey.error;
  EXPECT_EQ(grey.info.colorModel, host::ImageColorModel::kGrey);
  EXPECT_EQ(Pixel(*grey.image, 4, 2), 0xFF5A5A5Au);
  // A duotone's composite is its grey.
  testpsd::Image duotone = PsdOf(8, 8, {77});
  duotone.colourModeData.assign(10, 0);
  const auto duo = imaging::DecodePhotoshop(testpsd::Write(duotone));
  ASSERT_TRUE(duo.ok()) << duo.error;
  EXPECT_EQ(Pixel(*duo.image, 0, 2), 0xFF4D4D4Du);

  // CMYK is stored as the paper left; kept, the inks come back (0 = no ink),
  // otherwise RGB without a profile.
  const auto cmykFile = testpsd::Write(PsdOf(testpsd::kCMYK, 8, {155, 255, 55, 205}));
  const auto inks = imaging::DecodePhotoshop(cmykFile, true);
  ASSERT_TRUE(inks.ok()) << inks.error;
  EXPECT_TRUE(inks.cmyk);
  EXPECT_EQ(inks.info.colorModel, host::ImageColorModel::kCMYK);
  EXPECT_EQ(Pixel(*inks.image, 1, 1), 0x6400C832u);
  const auto rgbOfInks = imaging::DecodePhotoshop(cmykFile);
  ASSERT_TRUE(rgbOfInks.ok());
  EXPECT_FALSE(rgbOfInks.cmyk);
  EXPECT_EQ(Pixel(*rgbOfInks.image, 1, 1), 0xFF7DCD2Cu);  // 155*205/255, 255*205/255, 55*205/255
  const auto cmyk16 = imaging::DecodePhotoshop(
      testpsd::Write(PsdOf(testpsd::kCMYK, 16, {155 * 257, 255 * 257, 55 * 257, 205 * 257}, true)), true);
  ASSERT_TRUE(cmyk16.ok()) << cmyk16.error;
  EXPECT_EQ(Pixel(*cmyk16.image, 4, 0), 0x6400C832u);

  // With a negative layer count the channel after the colours is the
  // transparency, straight; kept inks carry it beside them. Without, an
  // extra channel is a saved selection and the image is opaque.
  for (const bool transparent : {true, false}) {
    testpsd::Image rgba = PsdOf(testpsd::kRGB, 8, {63, 16, 16, 0}, true);
    rgba.channels[3][7] = 128;
    rgba.transparent = transparent;
    const auto read = imaging::DecodePhotoshop(testpsd::Write(rgba));
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(read.info.hasAlpha, transparent);
    EXPECT_EQ(Pixel(*read.image, 0, 0), transparent ? 0x003F1010u : 0xFF3F1010u);
    EXPECT_EQ(Pixel(*read.image, 2, 1), transparent ? 0x803F1010u : 0xFF3F1010u);
  }
  testpsd::Image greyAlpha = PsdOf(testpsd::kGrey, 16, {90 * 257, 0xFFFF, 0});
  greyAlpha.channels[1][0] = 0;
  greyAlpha.transparent = true;
  const auto greyRead = imaging::DecodePhotoshop(testpsd::Write(greyAlpha));
  ASSERT_TRUE(greyRead.ok()) << greyRead.error;
  EXPECT_EQ(Pixel(*greyRead.image, 0, 0), 0x005A5A5Au);
  EXPECT_EQ(Pixel(*greyRead.image, 1, 0), 0xFF5A5A5Au);
  testpsd::Image cmykAlpha = PsdOf(testpsd::kCMYK, 8, {155, 255, 55, 205, 64});
  cmykAlpha.transparent = true;
  const auto cmykAlphaFile = testpsd::Write(cmykAlpha);
  const auto inksWithAlpha = imaging::DecodePhotoshop(cmykAlphaFile, true);
  ASSERT_TRUE(inksWithAlpha.ok()) << inksWithAlpha.error;
  EXPECT_TRUE(inksWithAlpha.info.hasAlpha);
  EXPECT_EQ(Pixel(*inksWithAlpha.image, 1, 1), 0x6400C832u);
  EXPECT_EQ(inksWithAlpha.inkAlpha, std::vector<uint8_t>(15, 64));
  const auto rgbWithAlpha = imaging::DecodePhotoshop(cmykAlphaFile);
  ASSERT_TRUE(rgbWithAlpha.ok());
  EXPECT_TRUE(rgbWithAlpha.inkAlpha.empty());
  EXPECT_EQ(Pixel(*rgbWithAlpha.image, 1, 1), 0x407DCD2Cu);

  // Indexed: the colour table of 256 reds, greens and blues.
  testpsd::Image indexed = PsdOf(testpsd::kIndexed, 8, {7});
  indexed.colourModeData.assign(768, 0);
  indexed.colourModeData[7] = 10, indexed.colourModeData[256 + 7] = 20, indexed.colourModeData[512 + 7] = 30;
  const auto palette = imaging::DecodePhotoshop(testpsd::Write(indexed));
  ASSERT_TRUE(palette.ok()) << palette.error;
  EXPECT_EQ(Pixel(*palette.image, 3, 2), 0xFF0A141Eu);

  // The embedded profile of resource 1039 comes with the image.
  testpsd::Image tagged = PsdOf(testpsd::kRGB, 8, {1, 2, 3});
  tagged.icc = {9, 8, 7, 6, 5};
  const auto withProfile = imaging::DecodePhotoshop(testpsd::Write(tagged));
  ASSERT_TRUE(withProfile.ok());
  EXPECT_EQ(withProfile.info.iccProfile, tagged.icc);
  EXPECT_EQ(withProfile.info.xDpi, 300);

  // Modes and depths that cannot be drawn are named, not called damaged.
  const auto lab = testpsd::Write(PsdOf(testpsd::kLab, 8, {50, 128, 128}));
  const auto labRead = imaging::DecodePhotoshop(lab);
  EXPECT_FALSE(labRead.ok());
  EXPECT_NE(labRead.error.find("Lab, 8 bits per channel"), std::string::npos) << labRead.error;
  EXPECT_EQ(imaging::PhotoshopUndrawableMode(lab), "Lab, 8 bits per channel");
  EXPECT_EQ(imaging::PhotoshopUndrawableMode(testpsd::Write(PsdOf(testpsd::kRGB, 32, {0, 0, 0}))),
            "RGB, 32 bits per channel");
  EXPECT_EQ(imaging::PhotoshopUndrawableMode(testpsd::Write(PsdOf(testpsd::kMultichannel, 8, {1, 2}))),
            "multichannel, 8 bits per channel");
  EXPECT_EQ(imaging::PhotoshopUndrawableMode(testpsd::Write(PsdOf(testpsd::kRGB, 16, {0, 0, 0}))), "");
  EXPECT_EQ(imaging::PhotoshopUndrawableMode(std::span(lab).first(20)), "");
  auto large = testpsd::Write(PsdOf(testpsd::kRGB, 8, {1, 2, 3}));
  large[5] = 2;  // version 2
  EXPECT_FALSE(imaging::DecodePhotoshop(large).ok());
  EXPECT_EQ(imaging::PhotoshopUndrawableMode(large), "large document format, RGB, 8 bits per channel");

  TempDir dir;
  std::ofstream(dir / "lab.psd", std::ios::binary).write(reinterpret_cast<const char*>(lab.data()),
                                                         std::streamsize(lab.size()));
  EXPECT_EQ(DescribeUndrawableImage(dir / "lab.psd"),
            "Photoshop file in a colour mode that cannot be printed (Lab, 8 bits per channel)");
  EXPECT_EQ(DescribeUndrawableImage(dir / "missing.psd"), "");
}

// Files as Photoshop stores them: the composite's colours blended with
// white come back straight, at 8 bits (the layer count in the layer
// information) and at 16 (in the 'Lr16' block), the inks of CMYK too; a
// positive count there leaves the image opaque, and an 'Mt16' block marks
// the transparency as well.
TEST(Loading, PhotoshopFilesAsPhotoshopStoresThem) {
  for (const uint16_t depth : {8, 16}) {
    SCOPED_TRACE(depth);
    const uint16_t m = depth == 16 ? 257 : 1;
    testpsd::Image rgba = PsdOf(testpsd::kRGB, depth, {uint16_t(200 * m), uint16_t(40 * m), uint16_t(30 * m),
                                                       uint16_t(128 * m)});
    rgba.channels[3][1] = 0;
    rgba.channels[3][2] = uint16_t(255 * m);
    rgba.transparent = rgba.photoshopForm = true;
    const std::vector<uint8_t> file = testpsd::Write(rgba);
    const auto read = imaging::DecodePhotoshop(file);
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_TRUE(read.info.hasAlpha);
    const uint32_t half = Pixel(*read.image, 0, 0);
    EXPECT_EQ(half >> 24, 128u);
    EXPECT_NEAR(int(half >> 16 & 0xFF), 200, 1);
    EXPECT_NEAR(int(half >> 8 & 0xFF), 40, 1);
    EXPECT_NEAR(int(half & 0xFF), 30, 1);
    EXPECT_EQ(Pixel(*read.image, 1, 0) >> 24, 0u);
    EXPECT_EQ(Pixel(*read.image, 2, 0), 0xFFC8281Eu);
    if (depth == 8) continue;
    std::vector<uint8_t> changed = file;
    const auto key = std::search(changed.begin(), changed.end(), std::begin("Lr16"), std::end("Lr16") - 1);
    ASSERT_NE(key, changed.end());
    key[8] = 0x00, key[9] = 0x01;  // the count after the block's length: one layer
    const auto opaque = imaging::DecodePhotoshop(changed);
    ASSERT_TRUE(opaque.ok()) << opaque.error;
    EXPECT_FALSE(opaque.info.hasAlpha);
    key[0] = 'M', key[1] = 't';  // "Mt16"
    const auto marked = imaging::DecodePhotoshop(changed);
    ASSERT_TRUE(marked.ok()) << marked.error;
    EXPECT_TRUE(marked.info.hasAlpha);
  }
  // Inks blended with the white paper: 155 left of 255 at half transparency.
  testpsd::Image cmyk = PsdOf(testpsd::kCMYK, 16, {155 * 257, 255 * 257, 55 * 257, 205 * 257, 0x8000});
  cmyk.transparent = cmyk.photoshopForm = true;
  const auto inks = imaging::DecodePhotoshop(testpsd::Write(cmyk), true);
  ASSERT_TRUE(inks.ok()) << inks.error;
  EXPECT_EQ(Pixel(*inks.image, 3, 2), 0x6400C832u);
  EXPECT_EQ(inks.inkAlpha, std::vector<uint8_t>(15, 128));
}

TEST(Loading, TransparentPhotosLoadOnWhiteWithEmbeddedProfilesOnOrOff) {
  TempDir dir;
  BlurValue noBlur(0);
  // Left half transparent (stored black), right half red at alpha 128.
  auto picture = host::GWorld::Create(CLongRect_AC(0, 0, 4, 8));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      uint8_t* p = picture->scanline(y) + 4 * x;
      p[0] = x < 4 ? 0 : 128, p[1] = x < 4 ? 0 : 255, p[2] = 0, p[3] = 0;
    }
  host::ImageWriteOptions withAlpha;
  withAlpha.keepAlpha = true;
  for (const auto format : {host::ImageFormat::kPng, host::ImageFormat::kTiff}) {
    const fs::path file = dir / (format == host::ImageFormat::kPng ? "glass.png" : "glass.tif");
    ASSERT_TRUE(host::WriteImageFile(*picture, file, format, withAlpha).ok());
    for (const bool embedded : {true, false}) {
      EmbeddedSwitch on(embedded);
      host::GWorldHandle both[2] = {getGWorldFromFileSpec(SpecOf(file)), Load(file)};
      for (const auto& loaded : both) {
        ASSERT_TRUE(loaded) << file << " " << embedded;
        const uint32_t clear = Pixel(*loaded, 1, 1), half = Pixel(*loaded, 6, 2);
        EXPECT_EQ(clear & 0xFFFFFF, 0xFFFFFFu) << file << " " << embedded;
        EXPECT_GE((half >> 16) & 0xFF, 254u) << file << " " << embedded;
        EXPECT_NEAR(int((half >> 8) & 0xFF), 127, 2) << file << " " << embedded;
        EXPECT_NEAR(int(half & 0xFF), 127, 2) << file << " " << embedded;
      }
    }
  }
}

TEST(Loading, ProgressRoutineLetsEventsRunAfterItsInterval) {
  uint32_t now = 100;
  platform::SetTickSource([&] { return now; });
  int polls = 0;
  platform::SetApplicationPollHook([&] { ++polls; });
  myQTCallBackRecord record;
  EXPECT_EQ(myQTCallBackProc(kQTProgressUpdate, &record), noErr);  // not started: nothing
  EXPECT_EQ(myQTCallBackProc(kQTProgressOpen, &record), noErr);
  EXPECT_TRUE(record.started);
  EXPECT_EQ(record.lastTick, 100u);
  now = 105;
  myQTCallBackProc(kQTProgressUpdate, &record);
  const int before = polls;
  now = 106;
  myQTCallBackProc(kQTProgressUpdate, &record);
  EXPECT_EQ(record.lastTick, 106u);
  EXPECT_EQ(myQTCallBackProc(kQTProgressUpdate, nullptr), paramErr);
  platform::SetApplicationPollHook(nullptr);
  platform::SetTickSource(nullptr);
  EXPECT_EQ(before, 0);
  EXPECT_GE(polls, 1);
}
