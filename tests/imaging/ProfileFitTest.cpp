// Profiles meet pixels of their own colour model only: a photo tagged with
// a profile of another model (an RGB photo with a grey profile, a grey
// photo with an RGB one, inks with an RGB one), a user default of another
// model, or a page source profile that is not RGB is not used, with a log
// line. CMYK inks come back from their profile with their transparency.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "ImagingTestUtil.h"
#include "common/CmykProfile.h"
#include "common/CmykTiff.h"
#include "common/TempDir.h"
#include "host/imageio/ImageFile.h"
#include "host/sys/UserDefaults.h"
#include "imaging/ColorMatching.h"
#include "imaging/ImageLoading.h"

namespace fs = std::filesystem;

namespace {

const fs::path kIcc = "/usr/share/color/icc";

std::vector<uint8_t> FileBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Three patches side by side: red, green and blue, as the photo of a shop
// sign would have them.
host::GWorldHandle Primaries() {
  auto image = host::GWorld::Create(CLongRect_AC(0, 0, 2, 3));
  const uint8_t colours[3][3] = {{200, 40, 40}, {40, 200, 40}, {40, 40, 200}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      uint8_t* p = image->scanline(y) + 4 * x;
      p[0] = 0xFF;
      for (int c = 0; c < 3; ++c) p[1 + c] = colours[x][c];
    }
  return image;
}

std::array<int, 3> Rgb(const host::GWorld& g, int x, int y) {
  const uint8_t* p = g.scanline(y) + 4 * x;
  return {p[1], p[2], p[3]};
}

// Runs ConvertToWorkingSpace on a copy; the log it wrote.
std::string Convert(host::GWorld& image, const std::vector<uint8_t>& profile, host::ImageColorModel model,
                    bool* converted, bool inks = false, std::span<const uint8_t> alpha = {}) {
  testing::internal::CaptureStderr();
  *converted = ConvertToWorkingSpace(image, profile, model, inks, alpha);
  return testing::internal::GetCapturedStderr();
}

class ProfileFit : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* key : {"DefaultRGBProfile", "DefaultGrayProfile", "DefaultCMYKProfile"})
      host::UserDefaults::standard().remove(key);
  }
  void TearDown() override { SetUp(); }
};

TEST_F(ProfileFit, AProfileOfAnotherColourModelThanThePixelsIsNotUsed) {
  const std::vector<uint8_t> grey = FileBytes(kIcc / "Gray.icc"), cieGrey = FileBytes(kIcc / "Gray-CIE_L.icc");
  const std::vector<uint8_t> proPhoto = FileBytes(kIcc / "colord/ProPhotoRGB.icc");
  ASSERT_FALSE(grey.empty() || cieGrey.empty() || proPhoto.empty());
  bool converted = true;

  // An RGB photo with a grey profile keeps its colours; the grey path would
  // have made greys of each patch's red.
  auto rgb = Primaries();
  std::string log = Convert(*rgb, grey, host::ImageColorModel::kRGB, &converted);
  EXPECT_FALSE(converted);
  EXPECT_NE(log.find("the image's profile does not fit its colour model (a 'GRAY' profile for RGB pixels)"),
            std::string::npos)
      << log;
  EXPECT_EQ(Rgb(*rgb, 0, 0), (std::array<int, 3>{200, 40, 40}));
  EXPECT_EQ(Rgb(*rgb, 1, 1), (std::array<int, 3>{40, 200, 40}));
  EXPECT_EQ(Rgb(*rgb, 2, 0), (std::array<int, 3>{40, 40, 200}));
  // So does an indexed photo.
  auto indexed = Primaries();
  Convert(*indexed, grey, host::ImageColorModel::kPalette, &converted);
  EXPECT_FALSE(converted);
  EXPECT_EQ(Rgb(*indexed, 0, 0), (std::array<int, 3>{200, 40, 40}));
  // An RGB profile of its own model does convert it.
  auto tagged = Primaries();
  Convert(*tagged, proPhoto, host::ImageColorModel::kRGB, &converted);
  EXPECT_TRUE(converted);
  EXPECT_NE(Rgb(*tagged, 0, 0), (std::array<int, 3>{200, 40, 40}));

  // A grey photo with an RGB profile keeps its grey; its own grey profile
  // moves it (L* 35% is darker than sRGB's 90).
  auto greyPhoto = Flat(2, 2, 90, 90, 90);
  log = Convert(*greyPhoto, proPhoto, host::ImageColorModel::kGrey, &converted);
  EXPECT_FALSE(converted);
  EXPECT_NE(log.find("(a 'RGB ' profile for grey pixels)"), std::string::npos) << log;
  EXPECT_EQ(Rgb(*greyPhoto, 1, 1), (std::array<int, 3>{90, 90, 90}));
  auto ownGrey = Flat(2, 2, 90, 90, 90);
  Convert(*ownGrey, cieGrey, host::ImageColorModel::kGrey, &converted);
  EXPECT_TRUE(converted);
  EXPECT_LT(Rgb(*ownGrey, 1, 1)[0], 86);

  // Inks with an RGB profile are brought to RGB without one.
  auto inks = Flat(2, 2, 0, 0, 0);
  for (int y = 0; y < 2; ++y) std::fill_n(inks->scanline(y), 8, uint8_t(0));
  inks->scanline(0)[0] = 128;  // half cyan, no other ink
  log = Convert(*inks, proPhoto, host::ImageColorModel::kCMYK, &converted, true);
  EXPECT_FALSE(converted);
  EXPECT_NE(log.find("(a 'RGB ' profile for CMYK pixels)"), std::string::npos) << log;
  EXPECT_EQ(Rgb(*inks, 0, 0), (std::array<int, 3>{127, 255, 255}));
  EXPECT_EQ(Rgb(*inks, 1, 1), (std::array<int, 3>{255, 255, 255}));
}

TEST_F(ProfileFit, AUserDefaultOfAnotherColourModelIsNotUsedEither) {
  auto& defaults = host::UserDefaults::standard();
  defaults.set("DefaultGrayProfile", (kIcc / "colord/ProPhotoRGB.icc").string());
  defaults.set("DefaultRGBProfile", (kIcc / "Gray.icc").string());
  bool converted = true;
  auto greyPhoto = Flat(2, 2, 90, 90, 90);
  std::string log = Convert(*greyPhoto, {}, host::ImageColorModel::kGrey, &converted);
  EXPECT_FALSE(converted);
  EXPECT_NE(log.find("does not fit the image's grey pixels"), std::string::npos) << log;
  EXPECT_EQ(Rgb(*greyPhoto, 0, 0), (std::array<int, 3>{90, 90, 90}));
  auto rgb = Primaries();
  log = Convert(*rgb, {}, host::ImageColorModel::kRGB, &converted);
  EXPECT_FALSE(converted);
  EXPECT_NE(log.find("does not fit the image's RGB pixels"), std::string::npos) << log;
  EXPECT_EQ(Rgb(*rgb, 0, 0), (std::array<int, 3>{200, 40, 40}));
  // A mismatched embedded profile falls back to a fitting default.
  defaults.set("DefaultRGBProfile", (kIcc / "colord/SwappedRedAndGreen.icc").string());
  auto swapped = Primaries();
  Convert(*swapped, FileBytes(kIcc / "Gray.icc"), host::ImageColorModel::kRGB, &converted);
  EXPECT_TRUE(converted);
  EXPECT_NEAR(Rgb(*swapped, 0, 0)[1], 200, 3);
}

TEST_F(ProfileFit, APageSourceProfileThatIsNotRgbLeavesThePageUnmatched) {
  TempDir dir;
  fs::copy_file(kIcc / "Gray.icc", dir / "grey.icc");
  fs::copy_file(kIcc / "colord/SwappedRedAndGreen.icc", dir / "swap.icc");
  auto page = Primaries();
  testing::internal::CaptureStderr();
  EXPECT_NE(MyMatchBitmap(page.get(), SpecOf(dir / "grey.icc"), SpecOf(dir / "swap.icc")), noErr);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("its source profile is a 'GRAY' profile"), std::string::npos) << log;
  EXPECT_EQ(Rgb(*page, 0, 0), (std::array<int, 3>{200, 40, 40}));
  EXPECT_EQ(Rgb(*page, 2, 1), (std::array<int, 3>{40, 40, 200}));
  // With an RGB source the same printer profile matches it.
  EXPECT_EQ(MyMatchBitmap(page.get(), SpecOf(dir / "swap.icc"), SpecOf(dir / "swap.icc")), noErr);
}

// A CMYK TIFF with alpha as the loaders give it: a photo's transparent part
// on white, a graphic's kept transparent, with embedded profiles honoured
// or not.
TEST_F(ProfileFit, TransparentPartsOfACmykTiffStayTransparent) {
  TempDir dir;
  testtiff::Picture picture;
  picture.columns = 2;
  picture.patchWidth = picture.patchHeight = 8;
  picture.patches = {{{0, 0, 0, 1}, 0}, {{0.6, 0.1, 0, 0}, 1}};
  ASSERT_TRUE(testtiff::Write(dir / "inks.tif", picture, {16, true, true, testtiff::Alpha::kUnassociated},
                              testprofiles::CmykProfileBytes()));
  const bool saved = gApplyEmbedded;
  for (const bool embedded : {true, false}) {
    gApplyEmbedded = embedded;
    host::GWorldHandle photo = getGWorldFromFileSpec(SpecOf(dir / "inks.tif"));
    int16_t resolution = 0;
    host::GWorldHandle graphic = getGWorldFromFileSpec(SpecOf(dir / "inks.tif"), resolution);
    ASSERT_TRUE(photo && graphic) << embedded;
    EXPECT_EQ(Rgb(*photo, 4, 4), (std::array<int, 3>{255, 255, 255})) << embedded;
    EXPECT_EQ(graphic->scanline(4)[4 * 4], 0) << embedded;
    EXPECT_EQ(graphic->scanline(4)[4 * 12], 255) << embedded;
    EXPECT_EQ(Rgb(*photo, 12, 4), Rgb(*graphic, 12, 4)) << embedded;
  }
  gApplyEmbedded = saved;
}

}  // namespace
