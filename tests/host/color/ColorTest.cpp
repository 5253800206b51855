// Profiles and transforms against the real Little CMS and the profiles the
// system installs, with the command-line tool of the same library (tificc)
// as the reference for converted pixels.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "common/CmykProfile.h"
#include "common/Spawn.h"
#include "host/color/IccProfile.h"
#include "host/imageio/ImageFile.h"
#include "host/workers/WorkerPool.h"

namespace fs = std::filesystem;
using host::color::IccProfile;

namespace {

host::ImageWriteOptions BestJpeg() {
  host::ImageWriteOptions options;
  options.jpegQuality = 100;
  return options;
}

const fs::path kSystemIcc = "/usr/share/color/icc";
const fs::path kSRGB = kSystemIcc / "colord/sRGB.icc";
const fs::path kAdobe = kSystemIcc / "colord/AdobeRGB1998.icc";
const fs::path kSwapped = kSystemIcc / "colord/SwappedRedAndGreen.icc";

constexpr uint32_t Four(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 | uint8_t(s[3]);
}

struct TempDir {
  fs::path path;
  TempDir() {
    std::string p = (fs::temp_directory_path() / "kivo-color-XXXXXX").string();
    path = mkdtemp(p.data());
  }
  ~TempDir() { fs::remove_all(path); }
};

host::GWorldHandle Noise(int w, int h, uint32_t seed) {
  auto image = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  std::mt19937 random(seed);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = image->scanline(y);
    for (int x = 0; x < w; ++x, p += 4) {
      p[0] = uint8_t(random());
      p[1] = uint8_t(random());
      p[2] = uint8_t(random());
      p[3] = uint8_t(random());
    }
  }
  return image;
}

// An 8-bit RGB TIFF without alpha of the image's colour bytes.
void WriteRgbTiff(const host::GWorld& image, const fs::path& file) {
  TIFF* tif = TIFFOpen(file.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(image.width()));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(image.height()));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  std::vector<uint8_t> row(size_t(image.width()) * 3);
  for (int y = 0; y < image.height(); ++y) {
    const uint8_t* p = image.scanline(y);
    for (int x = 0; x < image.width(); ++x) std::copy_n(p + 4 * x + 1, 3, &row[size_t(x) * 3]);
    TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
  }
  TIFFClose(tif);
}

int RunTool(const std::vector<std::string>& words) {
  testing_support::SpawnOptions spawn;
  spawn.words = words;
  return testing_support::WaitForExitOrKill(testing_support::SpawnProgram(spawn), 120);
}

TEST(IccProfiles, HeaderFieldsOfInstalledAndEmbeddedProfiles) {
  ASSERT_TRUE(fs::exists(kSRGB)) << "colord-data is not installed";
  std::string error;
  const IccProfile srgb = IccProfile::FromFile(kSRGB, &error);
  ASSERT_TRUE(srgb.valid()) << error;
  EXPECT_EQ(srgb.colorSpace(), Four("RGB "));
  EXPECT_EQ(srgb.deviceClass(), Four("mntr"));
  EXPECT_NE(srgb.description().find("sRGB"), std::string::npos);

  std::ifstream in(kSRGB, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_TRUE(IccProfile::FromBytes(bytes).valid());
  // A truncated or foreign blob is refused, not half read.
  EXPECT_FALSE(IccProfile::FromBytes(std::span(bytes).first(100), &error).valid());
  std::vector<uint8_t> damaged = bytes;
  damaged[36] = 'x';
  EXPECT_FALSE(IccProfile::FromBytes(damaged).valid());
  EXPECT_FALSE(IccProfile::FromFile("/nonexistent/profile.icc").valid());
}

TEST(IccProfiles, FoldersFollowTheUserDataFolderAndSearchSubfolders) {
  TempDir dir;
  fs::create_directories(dir.path / "icc/printers/deep");
  fs::copy_file(kSwapped, dir.path / "icc/printers/deep/Mine.icc");
  std::ofstream(dir.path / "icc/readme.icc") << "not a profile at all, but long enough to have a header ......"
                                                 "..............................................................";
  fs::create_directory_symlink(dir.path / "icc", dir.path / "icc/printers/loop");
  const char* old = getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", dir.path.c_str(), 1);
  const auto folders = host::color::ProfileFolders();
  ASSERT_FALSE(folders.empty());
  EXPECT_EQ(folders.front(), fs::weakly_canonical(dir.path / "icc"));
  const auto mine = host::color::InstalledProfiles({folders.front()});
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
  ASSERT_EQ(mine.size(), 1u);  // the text file is skipped, the link loop not followed
  EXPECT_EQ(mine[0].filename(), "Mine.icc");
}

TEST(IccTransforms, MatchTificcOnTheSameImageAndProfiles) {
  ASSERT_TRUE(fs::exists(kAdobe));
  TempDir dir;
  auto image = Noise(97, 61, 7);
  WriteRgbTiff(*image, dir.path / "in.tif");
  ASSERT_EQ(RunTool({"tificc", "-t", "0", "-i", kSRGB.string(), "-o", kAdobe.string(), (dir.path / "in.tif").string(),
                 (dir.path / "out.tif").string()}),
            0);
  host::ImageReadResult reference = host::ReadImageFile(dir.path / "out.tif");
  ASSERT_TRUE(reference.ok()) << reference.error;

  auto ours = Noise(97, 61, 7);
  std::string error;
  ASSERT_TRUE(host::color::TransformInPlace(*ours, IccProfile::FromFile(kSRGB), IccProfile::FromFile(kAdobe), 0,
                                            &error))
      << error;
  int worst = 0;
  for (int y = 0; y < ours->height(); ++y)
    for (int x = 0; x < ours->width(); ++x) {
      const uint8_t* a = ours->scanline(y) + 4 * x;
      const uint8_t* b = reference.image->scanline(y) + 4 * x;
      const uint8_t* orig = image->scanline(y) + 4 * x;
      EXPECT_EQ(a[0], orig[0]);  // alpha kept
      for (int c = 1; c < 4; ++c) worst = std::max(worst, std::abs(int(a[c]) - int(b[c])));
    }
  EXPECT_LE(worst, 1);
}

TEST(IccTransforms, SwappedPrimariesExchangeRedAndGreenAtAnyThreadCount) {
  auto one = Noise(130, 77, 3), eight = Noise(130, 77, 3), source = Noise(130, 77, 3);
  host::WorkerPool pool1(1), pool8(8);
  const IccProfile from = IccProfile::FromFile(kSRGB), to = IccProfile::FromFile(kSwapped);
  ASSERT_TRUE(host::color::TransformInPlace(*one, from, to, 0, nullptr, &pool1));
  ASSERT_TRUE(host::color::TransformInPlace(*eight, from, to, 0, nullptr, &pool8));
  for (int y = 0; y < one->height(); ++y) {
    ASSERT_EQ(0, std::memcmp(one->scanline(y), eight->scanline(y), size_t(one->width()) * 4)) << "row " << y;
    for (int x = 0; x < one->width(); ++x) {
      const uint8_t* m = one->scanline(y) + 4 * x;
      const uint8_t* s = source->scanline(y) + 4 * x;
      EXPECT_NEAR(m[1], s[2], 2);
      EXPECT_NEAR(m[2], s[1], 2);
      EXPECT_NEAR(m[3], s[3], 2);
    }
  }
}

TEST(IccTransforms, ProfilesOfAnotherColourSpaceLeaveThePixelsAlone) {
  // A Lab profile cannot receive an RGB page in place.
  IccProfile lab(IccProfile::FromFile(kSystemIcc / "LCMSLABI.ICM"));
  auto image = Noise(20, 10, 1), copy = Noise(20, 10, 1);
  std::string error;
  EXPECT_FALSE(host::color::TransformInPlace(*image, IccProfile::FromFile(kSRGB), lab, 0, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(host::color::TransformInPlace(*image, IccProfile(), IccProfile::FromFile(kSRGB), 0, &error));
  for (int y = 0; y < 10; ++y) EXPECT_EQ(0, std::memcmp(image->scanline(y), copy->scanline(y), 80));
}

// Patches of flat colour, 16 x 16 each, in a row: red, green, blue, a skin
// tone, mid grey and white.
host::GWorldHandle Patches() {
  static const uint8_t kColours[6][3] = {{200, 40, 30}, {40, 160, 60}, {30, 60, 190}, {225, 170, 140}, {128, 128, 128},
                                         {255, 255, 255}};
  auto image = host::GWorld::Create(CLongRect_AC(0, 0, 16, 96));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 96; ++x) {
      uint8_t* p = image->scanline(y) + 4 * x;
      p[0] = 0xFF;
      std::copy_n(kColours[x / 16], 3, p + 1);
    }
  return image;
}

TEST(IccTransforms, CmykPhotoThroughItsEmbeddedProfileAgreesWithJpgicc) {
  TempDir dir;
  ASSERT_TRUE(testprofiles::WriteCmykProfile(dir.path / "cmyk.icc"));
  ASSERT_TRUE(host::WriteImageFile(*Patches(), dir.path / "rgb.jpg", host::ImageFormat::kJpeg,
                                   BestJpeg())
                  .ok());
  // A separation with the printer profile embedded, and the reference: the
  // separation brought back to sRGB through its embedded profile.
  ASSERT_EQ(RunTool({"jpgicc", "-q100", "-e", "-o" + (dir.path / "cmyk.icc").string(), (dir.path / "rgb.jpg").string(),
                     (dir.path / "cmyk.jpg").string()}),
            0);
  ASSERT_EQ(RunTool({"jpgicc", "-q100", (dir.path / "cmyk.jpg").string(), (dir.path / "ref.jpg").string()}), 0);
  host::ImageReadResult reference = host::ReadImageFile(dir.path / "ref.jpg");
  ASSERT_TRUE(reference.ok()) << reference.error;

  host::ImageReadOptions keep;
  keep.keepCmyk = true;
  host::ImageReadResult inks = host::ReadImageFile(dir.path / "cmyk.jpg", keep);
  ASSERT_TRUE(inks.ok()) << inks.error;
  ASSERT_TRUE(inks.cmyk);
  EXPECT_EQ(inks.info.colorModel, host::ImageColorModel::kCMYK);
  const IccProfile embedded = IccProfile::FromBytes(inks.info.iccProfile);
  ASSERT_TRUE(embedded.valid());
  EXPECT_EQ(embedded.colorSpace(), Four("CMYK"));
  // White paper carries no ink; the grey patch is black ink only.
  EXPECT_LE(*std::max_element(inks.image->scanline(8) + 4 * 88, inks.image->scanline(8) + 4 * 89), 3);
  EXPECT_GT(inks.image->scanline(8)[4 * 72 + 3], 60);

  // Without a profile the decoder brings the same inks to RGB itself.
  host::ImageReadResult plain = host::ReadImageFile(dir.path / "cmyk.jpg");
  ASSERT_TRUE(plain.ok() && !plain.cmyk);
  auto converted = host::GWorld::Create(inks.image->bounds());
  for (int y = 0; y < 16; ++y) std::memcpy(converted->scanline(y), inks.image->scanline(y), 96 * 4);
  host::ConvertCmykToRgb(*converted);
  for (int y = 0; y < 16; ++y) EXPECT_EQ(0, std::memcmp(converted->scanline(y), plain.image->scanline(y), 96 * 4));

  auto eight = host::GWorld::Create(inks.image->bounds());
  for (int y = 0; y < 16; ++y) std::memcpy(eight->scanline(y), inks.image->scanline(y), 96 * 4);
  host::WorkerPool pool1(1), pool8(8);
  std::string error;
  ASSERT_TRUE(host::color::TransformCmykInPlace(*inks.image, embedded, IccProfile::SRGB(), embedded.renderingIntent(),
                                                &error, &pool1))
      << error;
  ASSERT_TRUE(host::color::TransformCmykInPlace(*eight, embedded, IccProfile::SRGB(), embedded.renderingIntent(),
                                                &error, &pool8));
  for (int y = 0; y < 16; ++y) EXPECT_EQ(0, std::memcmp(inks.image->scanline(y), eight->scanline(y), 96 * 4));
  int worstWithoutProfile = 0;
  for (int patch = 0; patch < 6; ++patch) {
    const uint8_t* ours = inks.image->scanline(8) + 4 * (patch * 16 + 8);
    const uint8_t* theirs = reference.image->scanline(8) + 4 * (patch * 16 + 8);
    const uint8_t* naive = plain.image->scanline(8) + 4 * (patch * 16 + 8);
    EXPECT_EQ(ours[0], 0xFF);
    for (int c = 1; c < 4; ++c) {
      EXPECT_NEAR(ours[c], theirs[c], 3) << "patch " << patch << " channel " << c;
      worstWithoutProfile = std::max(worstWithoutProfile, std::abs(int(naive[c]) - int(theirs[c])));
    }
  }
  // The profile matters: a conversion without it is far off.
  EXPECT_GT(worstWithoutProfile, 40);

  // An RGB profile cannot read inks; the pixels stay as they are.
  auto before = host::GWorld::Create(eight->bounds());
  for (int y = 0; y < 16; ++y) std::memcpy(before->scanline(y), eight->scanline(y), 96 * 4);
  EXPECT_FALSE(host::color::TransformCmykInPlace(*eight, IccProfile::FromFile(kSRGB), IccProfile::SRGB(), 0, &error));
  for (int y = 0; y < 16; ++y) EXPECT_EQ(0, std::memcmp(before->scanline(y), eight->scanline(y), 96 * 4));
}

TEST(IccTransforms, ProofThroughAProfileAndBackAtAnyThreadCount) {
  const IccProfile srgb = IccProfile::FromFile(kSRGB), grey = IccProfile::FromFile(kSystemIcc / "Gray.icc");
  ASSERT_TRUE(grey.valid());
  auto one = Noise(90, 40, 4), eight = Noise(90, 40, 4), source = Noise(90, 40, 4);
  host::WorkerPool pool1(1), pool8(8);
  ASSERT_TRUE(host::color::ProofInPlace(*one, srgb, grey, 0, nullptr, &pool1));
  ASSERT_TRUE(host::color::ProofInPlace(*eight, srgb, grey, 0, nullptr, &pool8));
  for (int y = 0; y < 40; ++y) {
    ASSERT_EQ(0, std::memcmp(one->scanline(y), eight->scanline(y), 90 * 4)) << "row " << y;
    for (int x = 0; x < 90; ++x) {
      const uint8_t* p = one->scanline(y) + 4 * x;
      EXPECT_EQ(p[0], source->scanline(y)[4 * x]);  // alpha kept
      EXPECT_NEAR(p[1], p[2], 1);                   // every colour a grey
      EXPECT_NEAR(p[2], p[3], 1);
    }
  }
  // Through the pixels' own profile nothing moves; pixels of another space
  // than RGB are refused.
  auto same = Noise(20, 10, 2), copy = Noise(20, 10, 2);
  ASSERT_TRUE(host::color::ProofInPlace(*same, srgb, IccProfile::SRGB(), 1, nullptr));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 80; ++x) EXPECT_NEAR(same->scanline(y)[x], copy->scanline(y)[x], 1);
  std::string error;
  EXPECT_FALSE(host::color::ProofInPlace(*same, grey, srgb, 0, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
