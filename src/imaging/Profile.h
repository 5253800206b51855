// One ICC profile as the imaging code holds it (`Profile`): where it is
// (a file, a path or bytes in memory), its class and data colour space from
// the header, its description and path, opened on first use. Class methods
// give the installed profiles, the user's default profiles, the generic and
// the linear RGB profiles; a profile gives the soft-proof lookup texture the
// image filter's colour cube uses. The colour work itself is Little CMS
// through host/color.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/base/MacTypes.h"
#include "host/color/IccProfile.h"
#include "host/files/FSSpec.h"
#include "host/imageio/ImageFile.h"
#include "imaging/ImageLoading.h"

// A colour space made from a profile: images drawn in it carry the
// profile's colours.
using CGColorSpaceRef = std::shared_ptr<const host::color::IccProfile>;

// Where a profile is.
struct CMProfileLocation {
  enum : int16_t { cmNoProfileBase = 0, cmFileBasedProfile = 1, cmPathBasedProfile = 5, cmBufferBasedProfile = 6 };
  int16_t locType = cmNoProfileBase;
  FSSpec spec;       // a file-based profile
  std::string path;  // a path-based profile, at most 255 bytes
  std::shared_ptr<const std::vector<uint8_t>> buffer;  // a profile in memory
};

// One record of the iteration over the installed profiles: the profile's
// location, its header's class and data colour space, and its name in
// Unicode with the count of its characters, the closing zero included.
struct CMProfileIterateData {
  CMProfileLocation location;
  OSType profileClass = 0;
  OSType dataColorSpace = 0;
  std::u16string uniCodeName;
  uint32_t uniCodeNameCount = 0;
};

class Profile {
 public:
  // Each returns none where the matching initialiser fails.
  static std::shared_ptr<Profile> profileWithPath(const std::string& path);
  static std::shared_ptr<Profile> profileWithGenericRGB();
  static std::shared_ptr<Profile> profileWithLinearRGB();
  static std::shared_ptr<Profile> profileWithIterateData(const CMProfileIterateData& data);
  // The profiles whose paths the user defaults hold under
  // "DefaultRGBProfile", "DefaultGrayProfile" and "DefaultCMYKProfile"; none
  // when the key is not set or its file is no profile.
  static std::shared_ptr<Profile> profileDefaultRGB();
  static std::shared_ptr<Profile> profileDefaultGray();
  static std::shared_ptr<Profile> profileDefaultCMYK();
  // Every installed profile (host::color::ProfileFolders), by iteration.
  static std::vector<std::shared_ptr<Profile>> arrayOfAllProfiles();
  // Those of the data colour space `space` that have a description and are
  // display ('mntr') or printer ('prtr') profiles.
  static std::vector<std::shared_ptr<Profile>> arrayOfAllProfilesWithSpace(OSType space);

  // False when the path's file is no readable profile (the object is then
  // not to be used). An empty path leaves an empty profile: no location, no
  // `ref` and no `colorspace`.
  bool initWithPath(const std::string& path);
  // False when the profile cannot be made.
  bool initWithGenericRGB();
  bool initWithLinearRGB();
  void initWithIterateData(const CMProfileIterateData& data);

  // The opened profile (opened on first use); invalid when the location
  // gives none.
  const host::color::IccProfile& ref() const;
  const CMProfileLocation* location() const { return &mLocation; }
  OSType classType() const { return mClass; }
  OSType spaceType() const { return mSpace; }
  // The iteration's name, else the profile's own description.
  std::string description() const;
  // The file's path for file- and path-based profiles; empty otherwise.
  std::string path() const;
  // Two profiles are equal when both have the same non-empty path (or are
  // the same object).
  bool isEqual(const Profile& other) const;
  // None when the profile cannot be opened.
  CGColorSpaceRef colorspace() const;
  // The soft-proof lookup texture of an n x n x n grid: for each grid colour
  // of the linear RGB space (red fastest, then green, then blue, each step
  // 255 / (n - 1)), the colour it becomes through this profile and back, as
  // four floats red, green, blue, alpha of 0 to 1 (n³ × 4 values). None
  // when the linear profile cannot be made; all zeros when the transform
  // fails or n is below 2.
  std::optional<std::vector<float>> dataForCISoftproofTextureWithGridSize(int n) const;

 private:
  mutable host::color::IccProfile mRef;
  mutable CGColorSpaceRef mColorspace;
  CMProfileLocation mLocation;
  OSType mClass = 0;
  OSType mSpace = 0;
  mutable std::optional<std::string> mName;
  mutable std::optional<std::string> mPath;
};

// Adds profileWithIterateData(data) to `array` when one is made; always 0.
int profileIterate(const CMProfileIterateData& data, std::vector<std::shared_ptr<Profile>>* array);

// A photo decoded without a profile of its own, drawn from the user's
// default profile for its colour model into the offscreens' sRGB: a new
// image when a default exists and converts it, otherwise the image itself.
CGImageRef CGImageCreateCopyWithDefaultSpace(const CGImageRef& image,
                                             host::ImageColorModel model = host::ImageColorModel::kRGB);

namespace imaging {
// True when `profile` describes pixels of the colour model: a CMYK profile
// CMYK pixels, a grey profile grey ones and an RGB profile every other
// decoded image (RGB, indexed colours and the rest come as RGB).
bool ProfileFitsColorModel(const host::color::IccProfile& profile, host::ImageColorModel model);
// The colour model's name in log lines ("RGB", "grey", "CMYK", ...).
const char* ColorModelName(host::ImageColorModel model);
// Converts the pixels in place from the user's default profile for their
// colour model (grey pixels as RGB greys); true when one was applied.
bool ConvertFromDefaultProfile(host::GWorld& image, host::ImageColorModel model);
// Converts RGB or grey pixels in place from `from` into sRGB; pixels decoded
// from CMYK are RGB already and are left as they are, and so are pixels
// `from` does not fit (ProfileFitsColorModel), with a log line. True when
// converted.
bool ConvertFromProfile(host::GWorld& image, const host::color::IccProfile& from, host::ImageColorModel model);
}  // namespace imaging
