// The photo colour-correction chain, the per-image settings stored in a
// photo's resource fork, and colour matching by installed profile name.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "ImagingTestUtil.h"
#include "common/CmykProfile.h"
#include "common/TempDir.h"
#include "host/base/ByteOrder.h"
#include "host/files/File.h"
#include "host/files/ResourceFork.h"
#include "host/imageio/ImageFile.h"
#include "host/sys/PropertyList.h"
#include "host/workers/WorkerPool.h"
#include "imaging/ColorCorrection.h"
#include "imaging/ColorMatching.h"
#include "imaging/ImageLoading.h"
#include "imaging/ImageProperties.h"

namespace fs = std::filesystem;
using F = myCocoaImageColorAdjustInfo;

namespace {

host::ImageWriteOptions BestJpeg() {
  host::ImageWriteOptions options;
  options.jpegQuality = 100;
  return options;
}

F With(std::initializer_list<std::pair<F::Field, float>> changes) {
  F s = F::Neutral();
  for (auto [f, v] : changes) s[f] = v;
  return s;
}

std::array<int, 3> RGB(const host::GWorld& g, int x, int y) {
  const uint8_t* p = g.scanline(y) + 4 * x;
  return {p[1], p[2], p[3]};
}

std::array<int, 3> Corrected(const F& s, uint8_t r, uint8_t g, uint8_t b) {
  auto image = Flat(3, 3, r, g, b);
  EXPECT_TRUE(ColorAdjustmentManager().applyColorCorrection2(*image, s));
  return RGB(*image, 1, 1);
}

// The point stages written out plainly in double precision.
std::array<double, 3> Reference(const F& s, std::array<double, 3> c) {
  auto luma = [](const std::array<double, 3>& v) { return 0.2125 * v[0] + 0.7154 * v[1] + 0.0721 * v[2]; };
  const double y = luma(c);
  for (double& v : c) v = ((y + (v - y) * s[F::kSaturation]) + s[F::kBrightness] - 0.5) * s[F::kContrast] + 0.5;
  for (double& v : c) v = v < 0 ? -std::pow(-v, s[F::kGamma]) : std::pow(v, s[F::kGamma]);
  for (double& v : c) v *= std::pow(2.0, s[F::kExposure]);
  const double a = s[F::kHue], k = (1 - std::cos(a)) / 3, q = std::sin(a) / std::sqrt(3.0);
  const double m[3][3] = {{std::cos(a) + k, k - q, k + q}, {k + q, std::cos(a) + k, k - q}, {k - q, k + q, std::cos(a) + k}};
  std::array<double, 3> h{};
  for (int i = 0; i < 3; ++i) h[size_t(i)] = m[i][0] * c[0] + m[i][1] * c[1] + m[i][2] * c[2];
  return {h[0] * s[F::kRed], h[1] * s[F::kGreen], h[2] * s[F::kBlue]};
}

TEST(ColourCorrection, EachFilterOnWorkedValues) {
  // Exposure +1 doubles, -1 halves.
  EXPECT_EQ(Corrected(With({{F::kExposure, 1}}), 60, 100, 128), (std::array<int, 3>{120, 200, 255}));
  EXPECT_EQ(Corrected(With({{F::kExposure, -1}}), 60, 100, 255), (std::array<int, 3>{30, 50, 128}));
  // Colour matrix scales its own channel only.
  EXPECT_EQ(Corrected(With({{F::kRed, 0.5f}}), 200, 100, 50), (std::array<int, 3>{100, 100, 50}));
  EXPECT_EQ(Corrected(With({{F::kBlue, 1.5f}}), 200, 100, 100), (std::array<int, 3>{200, 100, 150}));
  // Contrast 2 pushes away from mid grey: 0.753 -> 1.006, 0.247 -> -0.006, both clamped.
  EXPECT_EQ(Corrected(With({{F::kContrast, 2}}), 192, 63, 255), (std::array<int, 3>{255, 0, 255}));
  // Brightness adds; saturation 0.5 halves the distance to the luminance.
  EXPECT_EQ(Corrected(With({{F::kBrightness, 0.2f}}), 0, 100, 200), (std::array<int, 3>{51, 151, 251}));
  EXPECT_EQ(Corrected(With({{F::kSaturation, 0.5f}}), 255, 0, 0), (std::array<int, 3>{155, 27, 27}));
  // Gamma 0.5 of a quarter is a half.
  EXPECT_EQ(Corrected(With({{F::kGamma, 0.5f}}), 64, 255, 0), (std::array<int, 3>{128, 255, 0}));
  // A hue turn of 120 degrees (beyond the stored range, so through the
  // point stage directly) carries red to green; grey stays grey.
  float c[3] = {1, 0, 0};
  imaging::TCorrectionStages hueOnly;
  hueOnly.hue = true;
  imaging::CorrectAfterSharpen(With({{F::kHue, float(2 * M_PI / 3)}}), hueOnly, c);
  EXPECT_NEAR(c[0], 0, 1e-6); EXPECT_NEAR(c[1], 1, 1e-6); EXPECT_NEAR(c[2], 0, 1e-6);
  EXPECT_EQ(Corrected(With({{F::kHue, 0.9f}}), 90, 90, 90), (std::array<int, 3>{90, 90, 90}));
  // Neutral settings leave every byte, alpha included.
  auto noise = Noise(17, 9, 4), copy = Noise(17, 9, 4);
  EXPECT_TRUE(ColorAdjustmentManager().applyColorCorrection2(*noise, F::Neutral()));
  for (int y = 0; y < 9; ++y) EXPECT_EQ(0, std::memcmp(noise->scanline(y), copy->scanline(y), 17 * 4));
}

TEST(ColourCorrection, WholeChainAgreesWithAPlainReference) {
  const F s = With({{F::kSaturation, 1.3f}, {F::kBrightness, -0.1f}, {F::kContrast, 1.2f}, {F::kGamma, 0.8f},
                    {F::kExposure, 0.4f}, {F::kHue, -0.6f}, {F::kRed, 0.9f}, {F::kGreen, 1.1f}, {F::kBlue, 0.7f}});
  auto image = Noise(40, 30, 11), source = Noise(40, 30, 11);
  ASSERT_TRUE(ColorAdjustmentManager().applyColorCorrection2(*image, s));
  int worst = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const auto in = RGB(*source, x, y);
      const auto want = Reference(s, {in[0] / 255.0, in[1] / 255.0, in[2] / 255.0});
      const auto got = RGB(*image, x, y);
      for (int i = 0; i < 3; ++i) {
        const int expected = int(std::clamp(std::floor(want[size_t(i)] * 255 + 0.5), 0.0, 255.0));
        worst = std::max(worst, std::abs(expected - got[size_t(i)]));
      }
      EXPECT_EQ(image->scanline(y)[4 * x], 0xFF);
    }
  EXPECT_LE(worst, 1);
}

TEST(ColourCorrection, SharpenWorksOnLuminanceAndIsTheSameAtAnyThreadCount) {
  // A flat picture has no detail to sharpen.
  EXPECT_EQ(Corrected(With({{F::kSharpness, 2}}), 120, 60, 30), (std::array<int, 3>{120, 60, 30}));
  // An edge from dark to light grey: overshoot on both sides, equal in all
  // three channels (only the luminance changes).
  auto edge = Flat(20, 5, 60, 60, 60);
  for (int y = 0; y < 5; ++y)
    for (int x = 10; x < 20; ++x) std::memset(edge->scanline(y) + 4 * x + 1, 180, 3);
  ASSERT_TRUE(ColorAdjustmentManager().applyColorCorrection2(*edge, With({{F::kSharpness, 1}})));
  const auto dark = RGB(*edge, 9, 2), light = RGB(*edge, 10, 2);
  EXPECT_LT(dark[0], 60);
  EXPECT_GT(light[0], 180);
  EXPECT_EQ(dark[0], dark[1]);
  EXPECT_EQ(light[1], light[2]);
  EXPECT_EQ(RGB(*edge, 0, 2)[0], 60);  // far from the edge: unchanged

  const F s = With({{F::kSharpness, 1.5f}, {F::kContrast, 1.4f}, {F::kHue, 0.3f}});
  auto one = Noise(123, 77, 5), eight = Noise(123, 77, 5);
  host::WorkerPool pool1(1), pool8(8);
  ASSERT_TRUE(ColorAdjustmentManager().applyColorCorrection2(*one, s, &pool1));
  ASSERT_TRUE(ColorAdjustmentManager().applyColorCorrection2(*eight, s, &pool8));
  for (int y = 0; y < 77; ++y) ASSERT_EQ(0, std::memcmp(one->scanline(y), eight->scanline(y), 123 * 4)) << y;
}

// The chain over the whole picture at once, the plain way: every stage
// before sharpening, the luminance blurred across and then down over the
// whole picture, then the rest.
void WholePictureReference(host::GWorld& image, const F& s) {
  const auto st = imaging::StagesFor(s);
  const int w = image.width(), h = image.height();
  const float sigma = imaging::kSharpenRadius;
  const int radius = int(std::ceil(3 * sigma));
  std::vector<float> kernel;
  double sum = 0;
  for (int i = -radius; i <= radius; ++i) sum += std::exp(-double(i * i) / (2.0 * sigma * sigma));
  for (int i = -radius; i <= radius; ++i) kernel.push_back(float(std::exp(-double(i * i) / (2.0 * sigma * sigma)) / sum));
  std::vector<float> colour(size_t(w) * h * 3), luma(size_t(w) * h), across(luma.size()), down(luma.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = image.scanline(y) + 4 * x;
      float* c = &colour[3 * (size_t(y) * w + x)];
      c[0] = p[1] / 255.0f; c[1] = p[2] / 255.0f; c[2] = p[3] / 255.0f;
      imaging::CorrectBeforeSharpen(s, st, c);
      luma[size_t(y) * w + x] = imaging::Luma(c);
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float a = 0;
      for (int k = -radius; k <= radius; ++k) a += kernel[size_t(k + radius)] * luma[size_t(y) * w + std::clamp(x + k, 0, w - 1)];
      across[size_t(y) * w + x] = a;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float a = 0;
      for (int k = -radius; k <= radius; ++k) a += kernel[size_t(k + radius)] * across[size_t(std::clamp(y + k, 0, h - 1)) * w + x];
      down[size_t(y) * w + x] = a;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float* c = &colour[3 * (size_t(y) * w + x)];
      const float d = s[F::kSharpness] * (luma[size_t(y) * w + x] - down[size_t(y) * w + x]);
      c[0] += d; c[1] += d; c[2] += d;
      imaging::CorrectAfterSharpen(s, st, c);
      uint8_t* p = image.scanline(y) + 4 * x;
      for (int i = 0; i < 3; ++i) p[i + 1] = uint8_t(std::clamp(std::floor(c[i] * 255.0f + 0.5f), 0.0f, 255.0f));
    }
}

// Sharpening goes over the picture in bands of rows on the worker pool; the
// bytes must be those of the whole picture done at once, for pictures of
// one band, of bands with a short last one, and of a last band shorter
// than the blur's reach.
TEST(ColourCorrection, SharpenedBandsGiveTheBytesOfTheWholePicture) {
  const F s = With({{F::kSharpness, 0.8f}, {F::kSaturation, 1.2f}, {F::kGamma, 0.9f}, {F::kExposure, 0.3f},
                    {F::kHue, 0.2f}, {F::kRed, 1.05f}});
  host::WorkerPool pool1(1), pool8(8);
  for (const auto& [w, h] : {std::pair{31, 5}, std::pair{97, 64}, std::pair{50, 65}, std::pair{203, 300}}) {
    auto want = Noise(w, h, uint32_t(w * h));
    WholePictureReference(*want, s);
    for (host::WorkerPool* pool : {&pool1, &pool8}) {
      auto got = Noise(w, h, uint32_t(w * h));
      ASSERT_TRUE(ColorAdjustmentManager().applyColorCorrection2(*got, s, pool));
      for (int y = 0; y < h; ++y)
        ASSERT_EQ(0, std::memcmp(want->scanline(y), got->scanline(y), size_t(w) * 4))
            << w << " x " << h << ", row " << y << ", " << pool->threadCount() << " workers";
    }
  }
}

TEST(ColourCorrection, StagesAndRefusedSettings) {
  const imaging::TCorrectionStages red = imaging::StagesFor(With({{F::kRed, 0.8f}}));
  EXPECT_TRUE(red.colorMatrix);
  EXPECT_FALSE(red.colorControls || red.gamma || red.sharpen || red.exposure || red.hue);
  const imaging::TCorrectionStages sharp = imaging::StagesFor(With({{F::kSharpness, 0.4f}}));
  EXPECT_TRUE(sharp.sharpen && !sharp.colorMatrix && !sharp.colorControls);
  EXPECT_FALSE(imaging::StagesFor(F::Neutral()).Any());

  // Values a photo's settings cannot hold are refused and the pixels kept.
  for (const F& bad : {With({{F::kExposure, NAN}}), With({{F::kGamma, INFINITY}}), With({{F::kSaturation, 3}})}) {
    auto image = Flat(4, 4, 10, 20, 30);
    EXPECT_FALSE(ColorAdjustmentManager().applyColorCorrection2(*image, bad));
    EXPECT_EQ(RGB(*image, 2, 2), (std::array<int, 3>{10, 20, 30}));
  }
}

TEST(PerImageSettings, ValidationResetsOutOfRangeAndNonFiniteValues) {
  F s = With({{F::kSaturation, 1.7f}, {F::kExposure, 1.5f}, {F::kHue, -1}, {F::kGamma, 0.1f}});
  validateMyCocoaImageColorAdjustInfo(&s);
  EXPECT_EQ(s[F::kSaturation], 1);
  EXPECT_EQ(s[F::kExposure], 0);
  EXPECT_EQ(s[F::kHue], 0);
  EXPECT_FLOAT_EQ(s[F::kGamma], 0.1f);
  F b = With({{F::kBrightness, 0.6f}, {F::kContrast, 1.9f}, {F::kRed, 0.6f}});
  validateMyCocoaImageColorAdjustInfo(&b);
  EXPECT_EQ(b, With({{F::kContrast, 1.9f}, {F::kRed, 0.6f}}));
  F n = With({{F::kExposure, NAN}, {F::kBlue, -INFINITY}, {F::kSharpness, INFINITY}});
  validateMyCocoaImageColorAdjustInfo(&n);
  EXPECT_EQ(n, F::Neutral());
}

// Writes a photo and a resource fork holding the given resources.
void WriteSidecar(const std::string& photo, const std::vector<std::pair<int16_t, std::vector<uint8_t>>>& prefs) {
  host::ResourceMap map;
  for (const auto& [id, bytes] : prefs) map.Set(FourCC("Pref"), id, "", bytes, false);
  ASSERT_EQ(host::WriteResourceFork(photo, map), noErr);
}

std::vector<uint8_t> FloatsBE(std::initializer_list<float> values, size_t size) {
  std::vector<uint8_t> out(size, 0);
  size_t at = 0;
  for (float v : values) {
    if (at + 4 <= size) host::StoreBEF32(&out[at], v);
    at += 4;
  }
  return out;
}

TEST(PerImageSettings, ColourSettingsFromTheSidecar) {
  TempDir dir;
  auto photo = Flat(8, 8, 200, 100, 50);
  ASSERT_TRUE(host::WriteImageFile(*photo, dir / "a.tif", host::ImageFormat::kTiff).ok());
  ASSERT_TRUE(host::WriteImageFile(*photo, dir / "b.tif", host::ImageFormat::kTiff).ok());
  ASSERT_TRUE(host::WriteImageFile(*photo, dir / "c.tif", host::ImageFormat::kTiff).ok());
  // a: 40 bytes, read whole; red halved. b: 1,049 bytes, refused. c: none.
  WriteSidecar(dir / "a.tif", {{5002, FloatsBE({1, 0, 1, 0.5f, 1, 1, 0, 1, 0, 0}, 40)}});
  WriteSidecar(dir / "b.tif", {{5002, FloatsBE({1, 0, 1, 0.5f, 1, 1, 0, 1, 0, 0}, 1049)}});
  F read;
  EXPECT_TRUE(loadColorAdjustFromFile(SpecOf(dir / "a.tif"), &read));
  EXPECT_EQ(read, With({{F::kRed, 0.5f}}));
  EXPECT_FALSE(loadColorAdjustFromFile(SpecOf(dir / "b.tif"), &read));
  EXPECT_FALSE(loadColorAdjustFromFile(SpecOf(dir / "c.tif"), &read));
  host::ResourceMap map;
  ASSERT_EQ(host::ReadResourceFork(dir / "b.tif", &map), noErr);
  std::vector<uint8_t> bytes;
  EXPECT_EQ(ReadStruct2(map, &bytes, 1048, FourCC("Pref"), 5002), -2);
  EXPECT_EQ(ReadStruct2(map, &bytes, 1048, FourCC("Pref"), 5000), -1);

  const float savedBlur = myBlurValue;
  myBlurValue = 0;
  auto load = [](const std::string& path) {
    TFile file;
    file.SpecifyWithPath(path);
    bool turned = false;
    return ReadFile2(&file, 0, 0, turned, nullptr);
  };
  auto a = load(dir / "a.tif"), b = load(dir / "b.tif"), c = load(dir / "c.tif");
  myBlurValue = savedBlur;
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(RGB(*a, 4, 4), (std::array<int, 3>{100, 100, 50}));
  EXPECT_EQ(RGB(*b, 4, 4), (std::array<int, 3>{200, 100, 50}));
  EXPECT_EQ(RGB(*c, 4, 4), (std::array<int, 3>{200, 100, 50}));
}

// Stands for the chroma-key code: the block's first and last bytes.
class BlockEnds : public TCoefficientDictionaryMaker {
 public:
  host::PlistValue CoefficientDictionary(std::span<const uint8_t> block) override {
    host::PlistDict d;
    d["size"] = int64_t(block.size());
    d["first"] = int64_t(block.front());
    d["last"] = int64_t(block.back());
    return host::PlistValue(std::move(d));
  }
};

TEST(PerImageSettings, PropertyListStoreBesideTheImage) {
  TempDir dir;
  ASSERT_TRUE(host::WriteImageFile(*Flat(4, 4, 200, 100, 50), dir / "p.tif", host::ImageFormat::kTiff).ok());
  const FSSpec spec = SpecOf(dir / "p.tif");
  EXPECT_EQ(ImagePropertiesPlistPath(spec), dir / "p.tif.plist");
  // The colour values of a property list beside the photo, and 5002 in its
  // sidecar with red halved: the switch picks the property list.
  host::PlistDict colours;
  const char* keys[10] = {"saturation", "brightness", "contrast", "redAdjust", "greenAdjust",
                          "blueAdjust", "sharpnessAdjust", "gammaAdjust", "exposureAdjust", "hueAdjust"};
  const double values[10] = {1.2, 0.1, 1, 1, 0.75, 1, 0.5, 1, 0.25, 0.5};
  for (int i = 0; i < 10; ++i) colours[keys[i]] = values[i];
  colours.erase("contrast");       // missing: read as 0, repaired to 1
  colours["gammaAdjust"] = 9.0;    // out of range: repaired to 1
  host::PlistDict top;
  top["coloradjust"] = host::PlistValue(colours);
  top["other"] = "kept";
  ASSERT_TRUE(host::writePropertyListFile(dir / "p.tif.plist", host::PlistValue(top), host::PlistFormat::Xml));
  WriteSidecar(dir / "p.tif", {{5002, FloatsBE({1, 0, 1, 0.5f, 1, 1, 0, 1, 0, 0}, 40)}});
  F fromResource, fromPlist;
  ASSERT_TRUE(loadColorAdjustFromFile(spec, &fromResource));
  EXPECT_EQ(fromResource, With({{F::kRed, 0.5f}}));
  gUseNewPlistFileToSaveImageProperties = true;
  const bool read = loadColorAdjustFromFile(spec, &fromPlist);
  gUseNewPlistFileToSaveImageProperties = false;
  ASSERT_TRUE(read);
  EXPECT_EQ(fromPlist, With({{F::kSaturation, 1.2f}, {F::kBrightness, 0.1f}, {F::kGreen, 0.75f},
                             {F::kSharpness, 0.5f}, {F::kExposure, 0.25f}, {F::kHue, 0.5f}}));

  // Chroma-key properties go into the property list beside the resource,
  // keeping what the list held; without the switch, only the resource.
  tCKImageProperties ck;
  ck.image.offset = CPoint_AC(-3, 7);
  ck.image.inset = 2;
  ck.image.rotation = 90;
  ck.image.cropping = 1;
  ck.image.hRatio = 1.5f;
  ck.image.vRatio = 0.5f;
  ck.image.cropPosition = 4;
  auto put16 = [&](size_t at, int16_t v) { host::StoreLE16(&ck.keying[at - 144], uint16_t(v)); };
  ck.keying[0] = 0x11;
  ck.keying[10863] = 0x22;
  put16(11084, 5);
  put16(11086, 1);
  host::StoreLEF32(&ck.keying[11088 - 144], 0.75f);
  put16(11104, -45);
  put16(11106, 2);
  put16(11320, 3);
  BlockEnds maker;
  SetCoefficientDictionaryMaker(&maker);
  EXPECT_EQ(saveCKPropertiesToFile(spec, &ck), noErr);
  auto unchanged = host::readPropertyListFile(dir / "p.tif.plist");
  ASSERT_TRUE(unchanged);
  EXPECT_FALSE(unchanged->find("CKSettings"));
  gUseNewPlistFileToSaveImageProperties = true;
  const OSErr saved = saveCKPropertiesToFile(spec, &ck);
  gUseNewPlistFileToSaveImageProperties = false;
  SetCoefficientDictionaryMaker(nullptr);
  EXPECT_EQ(saved, noErr);
  auto plist = host::readPropertyListFile(dir / "p.tif.plist");
  ASSERT_TRUE(plist && plist->asDict());
  EXPECT_EQ(*plist->find("other")->asString(), "kept");
  EXPECT_TRUE(plist->find("coloradjust"));
  EXPECT_EQ(*plist->find("zoomBoxFactor")->asInteger(), 3);
  EXPECT_EQ(*plist->find("angleDirection")->asInteger(), 2);
  EXPECT_EQ(*plist->find("rotationAngle")->asInteger(), -45);
  const host::PlistValue* settings = plist->find("CKSettings");
  ASSERT_TRUE(settings);
  EXPECT_EQ(*settings->find("defocusValue")->asInteger(), 5);
  EXPECT_EQ(*settings->find("inwardFlag")->asInteger(), 1);
  EXPECT_EQ(*settings->find("shrinkValue")->asReal(), 0.75);
  const host::PlistValue* block = settings->find("fixcoef");
  ASSERT_TRUE(block);
  EXPECT_EQ(*block->find("size")->asInteger(), 10864);
  EXPECT_EQ(*block->find("first")->asInteger(), 0x11);
  EXPECT_EQ(*block->find("last")->asInteger(), 0x22);
  const host::PlistValue* image = plist->find("timageproperties");
  ASSERT_TRUE(image);
  EXPECT_EQ(*image->find("hoffset")->asInteger(), 7);
  EXPECT_EQ(*image->find("voffset")->asInteger(), -3);
  EXPECT_EQ(*image->find("inset")->asInteger(), 2);
  EXPECT_EQ(*image->find("cropping")->asInteger(), 1);
  EXPECT_EQ(*image->find("cropWhere")->asInteger(), 4);
  EXPECT_EQ(*image->find("rotation")->asReal(), 90);
  EXPECT_EQ(*image->find("hRatio")->asReal(), 1.5);
  EXPECT_EQ(*image->find("vRatio")->asReal(), 0.5);
  // The resource is written either way.
  host::ResourceMap map;
  ASSERT_EQ(host::ReadResourceFork(dir / "p.tif", &map), noErr);
  EXPECT_TRUE(map.Get(FourCC("Pref"), 5003));

  // Without the chroma-key code's dictionary the list is not written.
  fs::remove(dir / "p.tif.plist");
  EXPECT_FALSE(saveCKImagePropertiesToPlistFile(&ck, spec));
  EXPECT_FALSE(fs::exists(dir / "p.tif.plist"));
}

TEST(PerImageSettings, ImagePropertiesRoundTripAtTheirOffsets) {
  TempDir dir;
  auto photo = Flat(4, 4, 1, 2, 3);
  ASSERT_TRUE(host::WriteImageFile(*photo, dir / "p.jpg", host::ImageFormat::kJpeg).ok());
  tImageProperties props;
  props.offset = CPoint_AC(-12, 34);
  props.inset = 7;
  props.rotation = 90;
  props.cropping = 3;
  props.hRatio = 5;
  props.vRatio = 7;
  props.cropPosition = 2;
  props.colorAdjust.red = -4;
  props.colorAdjust.gamma = 9;
  props.imageSize = CPoint_AC(1200, 1800);
  const tImageProperties before = props;
  TFile file;
  ASSERT_EQ(file.SpecifyWithPath(dir / "p.jpg"), noErr);
  ASSERT_EQ(savePropertiesToFile(&file, &props), noErr);
  EXPECT_EQ(props, before);  // the caller's record keeps host values

  host::ResourceMap map;
  ASSERT_EQ(host::ReadResourceFork(dir / "p.jpg", &map), noErr);
  const host::Resource* r = map.Get(FourCC("Pref"), 5000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->name, "Image Properties");
  ASSERT_EQ(r->data.size(), 144u);
  const uint8_t* d = r->data.data();
  EXPECT_EQ(host::LoadBEI16(d + 0), -12);
  EXPECT_EQ(host::LoadBEI16(d + 2), 34);
  EXPECT_EQ(host::LoadBEI16(d + 4), 7);
  EXPECT_EQ(host::LoadBEF32(d + 8), 90.0f);
  EXPECT_EQ(host::LoadBEI16(d + 12), 3);
  EXPECT_EQ(host::LoadBEF32(d + 16), 5.0f);
  EXPECT_EQ(host::LoadBEF32(d + 20), 7.0f);
  EXPECT_EQ(host::LoadBEI16(d + 24), 2);
  EXPECT_EQ(host::LoadBEI16(d + 26), -4);
  EXPECT_EQ(host::LoadBEI16(d + 36), 9);
  EXPECT_EQ(host::LoadBEI16(d + 38), 1200);
  EXPECT_EQ(host::LoadBEI16(d + 40), 1800);

  tImageProperties back;
  ASSERT_TRUE(loadPropertiesFromFile(SpecOf(dir / "p.jpg"), &back));
  EXPECT_EQ(back, before);
  // The photo itself is untouched by its settings.
  EXPECT_TRUE(host::ReadImageFile(dir / "p.jpg").ok());

  tCKImageProperties ck;
  ck.image = before;
  ck.keying[11084 - 144] = 0x2A;
  ASSERT_EQ(saveCKPropertiesToFile(SpecOf(dir / "p.jpg"), &ck), noErr);
  ASSERT_EQ(host::ReadResourceFork(dir / "p.jpg", &map), noErr);
  const host::Resource* k = map.Get(FourCC("Pref"), 5003);
  ASSERT_TRUE(k);
  ASSERT_EQ(k->data.size(), 11340u);
  EXPECT_EQ(host::LoadLEI16(k->data.data() + 38), 1200);
  EXPECT_EQ(k->data[11084], 0x2A);
  EXPECT_TRUE(map.Get(FourCC("Pref"), 5000));  // the other settings stay
}

TEST(ColourMatching, ProfilesByExactNameAndSwitches) {
  TempDir dir;
  fs::create_directories(dir / "icc");
  fs::copy_file("/usr/share/color/icc/colord/SwappedRedAndGreen.icc", dir / "icc/Kivo Swap.icc");
  fs::copy_file("/usr/share/color/icc/colord/sRGB.icc", dir / "icc/Kivo Source.icc");
  const char* old = getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
  FSSpec source, printer, none;
  EXPECT_TRUE(FindProfile(FourCC("scnr"), &source, CStr255_AC("Kivo Source.icc")));
  EXPECT_TRUE(FindProfile(FourCC("prtr"), &printer, CStr255_AC("Kivo Swap.icc")));
  EXPECT_FALSE(FindProfile(FourCC("prtr"), &none, CStr255_AC("kivo swap.icc")));
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");

  tColorMatchSettings settings;
  settings.source = source;
  settings.printer = printer;
  auto page = Flat(6, 6, 200, 100, 50);
  settings.entryOn = true;
  EXPECT_FALSE(matchInputAndOutput(page.get(), settings, 7));  // global switch off
  EXPECT_EQ(RGB(*page, 3, 3), (std::array<int, 3>{200, 100, 50}));
  settings.globalOn = true;
  settings.entryOn = false;
  EXPECT_FALSE(matchInputAndOutput(page.get(), settings, 7));
  settings.entryOn = true;
  EXPECT_FALSE(matchInputAndOutput(nullptr, settings, 7));
  ASSERT_TRUE(matchInputAndOutput(page.get(), settings, 7));
  const auto m = RGB(*page, 3, 3);
  EXPECT_NEAR(m[0], 100, 2);
  EXPECT_NEAR(m[1], 200, 2);
  EXPECT_NEAR(m[2], 50, 2);
  // A source profile that cannot be opened leaves the page as it is.
  tColorMatchSettings broken = settings;
  broken.source = SpecOf(dir / "missing.icc");
  auto keep = Flat(6, 6, 200, 100, 50);
  EXPECT_NE(MyMatchBitmap(keep.get(), broken.source, broken.printer), noErr);
  EXPECT_EQ(RGB(*keep, 3, 3), (std::array<int, 3>{200, 100, 50}));
}

}  // namespace

namespace {

TEST(ColourMatching, EmbeddedProfilesHonouredOnLoadAsTificcDoes) {
  TempDir dir;
  std::ifstream in("/usr/share/color/icc/colord/AdobeRGB1998.icc", std::ios::binary);
  const std::vector<uint8_t> adobe((std::istreambuf_iterator<char>(in)), {});
  ASSERT_FALSE(adobe.empty());
  auto photo = host::GWorld::Create(CLongRect_AC(0, 0, 24, 40));
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x) {
      uint8_t* p = photo->scanline(y) + 4 * x;
      p[0] = 0xFF; p[1] = uint8_t(x * 6); p[2] = uint8_t(y * 10); p[3] = uint8_t(255 - x * 3);
    }
  host::ImageWriteOptions options;
  options.iccProfile = adobe;
  ASSERT_TRUE(host::WriteImageFile(*photo, dir / "adobe.tif", host::ImageFormat::kTiff, options).ok());
  const std::string line = "tificc -o '*sRGB' '" + (dir / "adobe.tif") + "' '" + (dir / "ref.tif") + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(line.c_str()), 0);
  host::ImageReadResult reference = host::ReadImageFile(dir / "ref.tif");
  ASSERT_TRUE(reference.ok()) << reference.error;

  const bool saved = gApplyEmbedded;
  gApplyEmbedded = true;
  FSRef ref;
  ref.path = dir / "adobe.tif";
  CImageFile honoured(&ref);
  gApplyEmbedded = false;
  CImageFile asStored(&ref);
  gApplyEmbedded = saved;
  CGImageRef a = honoured.GetCurrentCGImage(), b = asStored.GetCurrentCGImage();
  ASSERT_TRUE(a && b);
  int worst = 0, changed = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x)
      for (int c = 1; c < 4; ++c) {
        worst = std::max(worst, std::abs(int(a->scanline(y)[4 * x + c]) - int(reference.image->scanline(y)[4 * x + c])));
        changed += a->scanline(y)[4 * x + c] != b->scanline(y)[4 * x + c];
        EXPECT_EQ(b->scanline(y)[4 * x + c], photo->scanline(y)[4 * x + c]);
      }
  EXPECT_LE(worst, 1);
  EXPECT_GT(changed, 1000);
}

}  // namespace

namespace {

TEST(ColourMatching, CmykJpegAndPngProfilesHonouredOnLoad) {
  TempDir dir;
  ASSERT_TRUE(testprofiles::WriteCmykProfile(dir / "cmyk.icc"));
  ASSERT_TRUE(host::WriteImageFile(*Flat(48, 32, 200, 40, 30), dir / "rgb.jpg", host::ImageFormat::kJpeg,
                                   BestJpeg())
                  .ok());
  const std::string separate = "jpgicc -q100 -e '-o" + (dir / "cmyk.icc") + "' '" + (dir / "rgb.jpg") + "' '" +
                               (dir / "cmyk.jpg") + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(separate.c_str()), 0);
  const std::string back = "jpgicc -q100 '" + (dir / "cmyk.jpg") + "' '" + (dir / "ref.jpg") + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(back.c_str()), 0);
  host::ImageReadResult reference = host::ReadImageFile(dir / "ref.jpg");
  ASSERT_TRUE(reference.ok()) << reference.error;
  const std::array<int, 3> want = RGB(*reference.image, 24, 16);

  // The photo path: the CMYK photo through its own profile.
  const float savedBlur = myBlurValue;
  const bool saved = gApplyEmbedded;
  myBlurValue = 0;
  gApplyEmbedded = true;
  TNewAllFilesHandler handler;
  handler.SetCurrentFile(SpecOf(dir / "cmyk.jpg"));
  host::GWorldHandle photo = handler.GetFullSizeImage();
  // The importer path (any other name) honours it the same way.
  fs::copy_file(dir / "cmyk.jpg", dir / "cmyk.image");
  host::GWorldHandle imported = getGWorldFromFileSpec(SpecOf(dir / "cmyk.image"));
  // A PNG's profile: red and green primaries exchanged.
  std::ifstream in("/usr/share/color/icc/colord/SwappedRedAndGreen.icc", std::ios::binary);
  host::ImageWriteOptions swapped;
  swapped.iccProfile.assign(std::istreambuf_iterator<char>(in), {});
  ASSERT_FALSE(swapped.iccProfile.empty());
  ASSERT_TRUE(host::WriteImageFile(*Flat(8, 8, 200, 100, 50), dir / "swapped.png", host::ImageFormat::kPng, swapped)
                  .ok());
  host::GWorldHandle png = getGWorldFromFileSpec(SpecOf(dir / "swapped.png"));
  gApplyEmbedded = false;
  host::GWorldHandle pngAsStored = getGWorldFromFileSpec(SpecOf(dir / "swapped.png"));
  host::GWorldHandle cmykWithout = getGWorldFromFileSpec(SpecOf(dir / "cmyk.image"));
  gApplyEmbedded = saved;
  myBlurValue = savedBlur;

  ASSERT_TRUE(photo && imported && png && pngAsStored && cmykWithout);
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(RGB(*photo, 24, 16)[size_t(c)], want[size_t(c)], 3) << "channel " << c;
    EXPECT_NEAR(RGB(*imported, 24, 16)[size_t(c)], want[size_t(c)], 3) << "channel " << c;
  }
  // Without embedded profiles the inks are converted plainly, far from it.
  EXPECT_GT(std::abs(RGB(*cmykWithout, 24, 16)[0] - want[0]) + std::abs(RGB(*cmykWithout, 24, 16)[1] - want[1]) +
                std::abs(RGB(*cmykWithout, 24, 16)[2] - want[2]),
            40);
  EXPECT_NEAR(RGB(*png, 4, 4)[0], 100, 3);
  EXPECT_NEAR(RGB(*png, 4, 4)[1], 200, 3);
  EXPECT_NEAR(RGB(*png, 4, 4)[2], 50, 3);
  EXPECT_EQ(RGB(*pngAsStored, 4, 4), (std::array<int, 3>{200, 100, 50}));
}

TEST(ColourMatching, ProfileToolMovesProfilesBetweenImagesAndFiles) {
  TempDir dir;
  std::ifstream in("/usr/share/color/icc/colord/AdobeRGB1998.icc", std::ios::binary);
  const std::vector<uint8_t> adobe((std::istreambuf_iterator<char>(in)), {});
  auto photo = Flat(8, 8, 10, 20, 30);
  host::ImageWriteOptions withProfile;
  withProfile.iccProfile = adobe;
  ASSERT_TRUE(host::WriteImageFile(*photo, dir / "src.jpg", host::ImageFormat::kJpeg, withProfile).ok());
  ASSERT_TRUE(host::WriteImageFile(*photo, dir / "dst.png", host::ImageFormat::kPng).ok());

  // A path with quotes and a semicolon is only a path here.
  const std::string profile = dir / "out \"x\"; y.icc";
  EXPECT_EQ(getEmbeddedProfileFromImage({{"sourceImageFilePath", dir / "src.jpg"}}), -1);
  EXPECT_EQ(embedProfileInImage({{"resultProfilePath", profile}}), -1);
  ASSERT_EQ(getEmbeddedProfileFromImage({{"sourceImageFilePath", dir / "src.jpg"}, {"resultProfilePath", profile}}),
            0);
  std::ifstream got(profile, std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>((std::istreambuf_iterator<char>(got)), {}), adobe);
  ASSERT_EQ(embedProfileInImage({{"sourceImageFilePath", dir / "dst.png"}, {"resultProfilePath", profile}}), 0);
  const host::ImageInfoResult info = host::ReadImageInfo(dir / "dst.png");
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info.info.iccProfile, adobe);
  // No profile in the image, or no profile in the file: failures, nothing made.
  EXPECT_EQ(getEmbeddedProfileFromImage({{"sourceImageFilePath", dir / "missing.jpg"},
                                         {"resultProfilePath", dir / "none.icc"}}),
            1);
  EXPECT_FALSE(fs::exists(dir / "none.icc"));
  EXPECT_EQ(embedProfileInImage({{"sourceImageFilePath", dir / "dst.png"}, {"resultProfilePath", dir / "src.jpg"}}),
            1);
}

}  // namespace
