// Profiles as the imaging code holds them: the built-in generic and linear
// RGB profiles, the installed profiles by iteration and by colour space, the
// user's default profiles and the soft-proof lookup texture.
#include "imaging/Profile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ImagingTestUtil.h"
#include "common/CmykProfile.h"
#include "common/TempDir.h"
#include "host/sys/UserDefaults.h"

namespace fs = std::filesystem;

namespace {

const fs::path kColord = "/usr/share/color/icc/colord";

host::GWorldHandle Grey(uint8_t level) {
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, 2, 2));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) {
      uint8_t* p = g->scanline(y) + 4 * x;
      p[0] = 0xFF; p[1] = p[2] = p[3] = level;
    }
  return g;
}

// The sRGB level of a grey given in the profile's own encoding.
int InSRGB(const Profile& profile, uint8_t level) {
  auto g = Grey(level);
  EXPECT_TRUE(host::color::TransformInPlace(*g, profile.ref(), host::color::IccProfile::SRGB(), 1, nullptr));
  return g->scanline(0)[1];
}

TEST(Profiles, GenericAndLinearRgbAreBuiltIn) {
  const auto generic = Profile::profileWithGenericRGB();
  const auto linear = Profile::profileWithLinearRGB();
  ASSERT_TRUE(generic && linear);
  for (const auto& p : {generic, linear}) {
    EXPECT_EQ(p->classType(), FourCC("mntr"));
    EXPECT_EQ(p->spaceType(), FourCC("RGB "));
    EXPECT_EQ(p->location()->locType, CMProfileLocation::cmBufferBasedProfile);
    EXPECT_TRUE(p->colorspace());
    EXPECT_TRUE(p->path().empty());
  }
  EXPECT_EQ(generic->description(), "Generic RGB Profile");
  EXPECT_EQ(linear->description(), "Linear RGB Profile");
  EXPECT_EQ(linear->ref().deviceClass(), FourCC("mntr"));
  // Linear light 0.5 is sRGB 188; gamma 1.8's 0.5 is linear 0.287, sRGB 147.
  EXPECT_NEAR(InSRGB(*linear, 128), 188, 2);
  EXPECT_NEAR(InSRGB(*generic, 128), 147, 3);
  EXPECT_EQ(InSRGB(*linear, 255), 255);
  EXPECT_EQ(InSRGB(*linear, 0), 0);
  // Profiles in memory have no path, so only the same object is equal.
  EXPECT_TRUE(linear->isEqual(*linear));
  EXPECT_FALSE(linear->isEqual(*Profile::profileWithLinearRGB()));
}

TEST(Profiles, SoftProofTextureFollowsTheProfile) {
  const auto linear = Profile::profileWithLinearRGB();
  const auto texture = linear->dataForCISoftproofTextureWithGridSize(32);
  ASSERT_TRUE(texture);
  ASSERT_EQ(texture->size(), 131072u);
  // Through the linear profile itself every grid colour stays where it is:
  // red runs fastest, then green, then blue.
  auto at = [&](const std::vector<float>& t, int n, int r, int g, int b) {
    return &t[size_t((b * n + g) * n + r) * 4];
  };
  for (auto [r, g, b] : {std::array<int, 3>{0, 0, 0}, {31, 0, 0}, {0, 31, 0}, {0, 0, 31}, {10, 20, 5}, {31, 31, 31}}) {
    const float* v = at(*texture, 32, r, g, b);
    EXPECT_NEAR(v[0], r / 31.0, 0.01) << r << " " << g << " " << b;
    EXPECT_NEAR(v[1], g / 31.0, 0.01);
    EXPECT_NEAR(v[2], b / 31.0, 0.01);
    EXPECT_EQ(v[3], 1.0f);
  }
  // Through a grey profile every colour becomes a grey.
  const auto grey = Profile::profileWithPath("/usr/share/color/icc/Gray.icc");
  ASSERT_TRUE(grey);
  EXPECT_EQ(grey->spaceType(), FourCC("GRAY"));
  const auto greys = grey->dataForCISoftproofTextureWithGridSize(8);
  ASSERT_TRUE(greys);
  ASSERT_EQ(greys->size(), 8u * 8 * 8 * 4);
  const float* red = at(*greys, 8, 7, 0, 0);
  EXPECT_NEAR(red[0], red[1], 0.01);
  EXPECT_NEAR(red[1], red[2], 0.01);
  EXPECT_GT(red[0], 0.05);
  EXPECT_LT(red[0], 0.95);
  // A grid of one step has no colours to give: zeros.
  const auto one = linear->dataForCISoftproofTextureWithGridSize(1);
  ASSERT_TRUE(one);
  EXPECT_EQ(*one, std::vector<float>(4, 0.0f));
}

TEST(Profiles, InstalledProfilesByIterationAndColourSpace) {
  TempDir dir;
  fs::create_directories(dir / "icc");
  ASSERT_TRUE(testprofiles::WriteCmykProfile(dir / "icc/Press.icc"));
  fs::copy_file(kColord / "SwappedRedAndGreen.icc", dir / "icc/Swapped.icc");
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
  const auto all = Profile::arrayOfAllProfiles();
  const auto cmyk = Profile::arrayOfAllProfilesWithSpace(FourCC("CMYK"));
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");

  // Our folder comes first; the test profile is the only CMYK printer one.
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[0]->path(), (dir / "icc/Press.icc"));
  EXPECT_EQ(all[0]->location()->locType, CMProfileLocation::cmFileBasedProfile);
  EXPECT_EQ(all[1]->path(), (dir / "icc/Swapped.icc"));
  ASSERT_EQ(cmyk.size(), 1u);
  EXPECT_EQ(cmyk[0]->description(), "Kivo Test CMYK");
  EXPECT_EQ(cmyk[0]->classType(), FourCC("prtr"));
  EXPECT_TRUE(cmyk[0]->ref().valid());
  EXPECT_TRUE(cmyk[0]->isEqual(*Profile::profileWithPath((dir / "icc/Press.icc"))));
  EXPECT_FALSE(cmyk[0]->isEqual(*all[1]));
  for (const auto& p : Profile::arrayOfAllProfilesWithSpace(FourCC("RGB "))) {
    EXPECT_TRUE(p->classType() == FourCC("mntr") || p->classType() == FourCC("prtr"));
    EXPECT_FALSE(p->description().empty());
  }

  // An iteration record's name is cut at 36 characters; a record without a
  // name leaves the profile's own description.
  CMProfileIterateData data;
  data.location.locType = CMProfileLocation::cmPathBasedProfile;
  data.location.path = (dir / "icc/Swapped.icc");
  data.profileClass = FourCC("mntr");
  data.dataColorSpace = FourCC("RGB ");
  data.uniCodeName = u"A very long profile name that goes on and on";
  data.uniCodeNameCount = uint32_t(data.uniCodeName.size() + 1);
  std::vector<std::shared_ptr<Profile>> list;
  EXPECT_EQ(profileIterate(data, &list), 0);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->description(), "A very long profile name that goes o");
  data.uniCodeNameCount = 1;
  const auto unnamed = Profile::profileWithIterateData(data);
  EXPECT_EQ(unnamed->description(), Profile::profileWithPath(data.location.path)->description());

  // A file that is no profile gives none; an empty path an empty profile.
  EXPECT_FALSE(Profile::profileWithPath((dir / "missing.icc")));
  const auto empty = Profile::profileWithPath("");
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->ref().valid());
  EXPECT_FALSE(empty->colorspace());
}

TEST(Profiles, DefaultProfilesForImagesWithoutTheirOwn) {
  auto& defaults = host::UserDefaults::standard();
  defaults.remove("DefaultRGBProfile");
  defaults.remove("DefaultGrayProfile");
  defaults.remove("DefaultCMYKProfile");
  EXPECT_FALSE(Profile::profileDefaultRGB());
  const CGImageRef image(Grey(100).release());
  // No default: the image itself, for every colour model.
  for (auto model : {host::ImageColorModel::kRGB, host::ImageColorModel::kGrey, host::ImageColorModel::kCMYK})
    EXPECT_EQ(CGImageCreateCopyWithDefaultSpace(image, model), image);

  auto red = Grey(0);
  red->scanline(1)[4 + 1] = 200;
  const CGImageRef photo(red.release());
  defaults.set("DefaultRGBProfile", (kColord / "SwappedRedAndGreen.icc").string());
  const auto swappedDefault = Profile::profileDefaultRGB();
  const CGImageRef copy = CGImageCreateCopyWithDefaultSpace(photo);
  const CGImageRef grey = CGImageCreateCopyWithDefaultSpace(photo, host::ImageColorModel::kGrey);
  defaults.remove("DefaultRGBProfile");
  ASSERT_TRUE(swappedDefault);
  EXPECT_EQ(swappedDefault->path(), (kColord / "SwappedRedAndGreen.icc").string());
  ASSERT_TRUE(copy);
  EXPECT_NE(copy, photo);
  EXPECT_NEAR(copy->scanline(1)[4 + 2], 200, 3);  // red became green
  EXPECT_NEAR(copy->scanline(1)[4 + 1], 0, 3);
  EXPECT_EQ(photo->scanline(1)[4 + 1], 200);      // the source is untouched
  EXPECT_EQ(grey, photo);                         // no grey default
}

}  // namespace
