#include "imaging/Profile.h"

#include <algorithm>

#include "host/base/MacRoman.h"
#include "host/sys/UserDefaults.h"
#include "imaging/Offscreen.h"
#include "platform/Log.h"

// ---- the profile ----

std::shared_ptr<Profile> Profile::profileWithPath(const std::string& path) {
  auto p = std::make_shared<Profile>();
  return p->initWithPath(path) ? p : nullptr;
}

std::shared_ptr<Profile> Profile::profileWithGenericRGB() {
  auto p = std::make_shared<Profile>();
  return p->initWithGenericRGB() ? p : nullptr;
}

std::shared_ptr<Profile> Profile::profileWithLinearRGB() {
  auto p = std::make_shared<Profile>();
  return p->initWithLinearRGB() ? p : nullptr;
}

std::shared_ptr<Profile> Profile::profileWithIterateData(const CMProfileIterateData& data) {
  auto p = std::make_shared<Profile>();
  p->initWithIterateData(data);
  return p;
}

bool Profile::initWithPath(const std::string& path) {
  if (path.empty()) return true;
  mPath = path;
  mLocation.locType = CMProfileLocation::cmPathBasedProfile;
  mLocation.path = path.substr(0, 255);
  // The header is read by opening the profile.
  if (!ref().valid()) return false;
  mClass = mRef.deviceClass();
  mSpace = mRef.colorSpace();
  return true;
}

namespace {

// The built-in profiles, made once and kept as bytes.
const std::shared_ptr<const std::vector<uint8_t>>& BuiltIn(bool linear) {
  static const auto generic =
      std::make_shared<const std::vector<uint8_t>>(host::color::IccProfile::GenericRGB().Bytes());
  static const auto linearRGB =
      std::make_shared<const std::vector<uint8_t>>(host::color::IccProfile::LinearRGB().Bytes());
  return linear ? linearRGB : generic;
}

}  // namespace

bool Profile::initWithGenericRGB() {
  mLocation.locType = CMProfileLocation::cmBufferBasedProfile;
  mLocation.buffer = BuiltIn(false);
  mClass = FourCC("mntr");
  mSpace = FourCC("RGB ");
  return ref().valid();
}

bool Profile::initWithLinearRGB() {
  mLocation.locType = CMProfileLocation::cmBufferBasedProfile;
  mLocation.buffer = BuiltIn(true);
  mClass = FourCC("mntr");
  mSpace = FourCC("RGB ");
  return ref().valid();
}

void Profile::initWithIterateData(const CMProfileIterateData& data) {
  mLocation = data.location;
  mClass = data.profileClass;
  mSpace = data.dataColorSpace;
  if (data.uniCodeNameCount > 1) {
    const size_t count = std::min<size_t>({size_t(data.uniCodeNameCount) - 1, 36, data.uniCodeName.size()});
    std::string name;
    // UTF-8 of each character (names are of the Basic Multilingual Plane).
    for (size_t i = 0; i < count; ++i) host::AppendUTF8(name, char32_t(data.uniCodeName[i]));
    mName = name;
  }
}

const host::color::IccProfile& Profile::ref() const {
  if (mRef.valid()) return mRef;
  switch (mLocation.locType) {
    case CMProfileLocation::cmFileBasedProfile: {
      const std::string file = imaging::PathOfSpec(mLocation.spec);
      if (!file.empty()) mRef = host::color::IccProfile::FromFile(file);
      break;
    }
    case CMProfileLocation::cmPathBasedProfile:
      mRef = host::color::IccProfile::FromFile(mLocation.path);
      break;
    case CMProfileLocation::cmBufferBasedProfile:
      if (mLocation.buffer) mRef = host::color::IccProfile::FromBytes(*mLocation.buffer);
      break;
    default:
      break;
  }
  return mRef;
}

std::string Profile::description() const {
  if (!mName) mName = ref().description();
  return *mName;
}

std::string Profile::path() const {
  if (mPath) return *mPath;
  if (mLocation.locType == CMProfileLocation::cmFileBasedProfile) {
    mPath = imaging::PathOfSpec(mLocation.spec).substr(0, 1024);
  } else if (mLocation.locType == CMProfileLocation::cmPathBasedProfile) {
    mPath = mLocation.path;
  } else {
    return {};
  }
  return *mPath;
}

bool Profile::isEqual(const Profile& other) const {
  if (this == &other) return true;
  const std::string mine = path();
  return !mine.empty() && mine == other.path();
}

CGColorSpaceRef Profile::colorspace() const {
  if (!mColorspace && ref().valid()) mColorspace = std::make_shared<const host::color::IccProfile>(mRef);
  return mColorspace;
}

std::optional<std::vector<float>> Profile::dataForCISoftproofTextureWithGridSize(int n) const {
  const std::shared_ptr<Profile> linear = profileWithLinearRGB();
  if (!linear) return std::nullopt;
  if (n < 2 || n > 256) return std::vector<float>(n > 0 && n <= 256 ? size_t(n) * n * n * 4 : 0, 0.0f);
  std::vector<float> data(size_t(n) * n * n * 4, 0.0f);
  // The grid as an image of n * n rows of n pixels: row g + n * b, column r.
  host::GWorldHandle grid = host::GWorld::Create(CLongRect_AC(0, 0, n * n, n));
  if (!grid) return data;
  auto level = [n](int i) { return uint8_t((i * 255 + (n - 1) / 2) / (n - 1)); };
  for (int b = 0; b < n; ++b)
    for (int g = 0; g < n; ++g) {
      uint8_t* p = grid->scanline(g + n * b);
      for (int r = 0; r < n; ++r, p += 4) {
        p[0] = 0xFF;
        p[1] = level(r);
        p[2] = level(g);
        p[3] = level(b);
      }
    }
  std::string error;
  if (!host::color::ProofInPlace(*grid, linear->ref(), ref(), ref().renderingIntent(), &error)) {
    platform::LogF("dataForCISoftproofTextureWithGridSize: %s", error.c_str());
    return data;
  }
  size_t at = 0;
  for (int row = 0; row < n * n; ++row) {
    const uint8_t* p = grid->scanline(row);
    for (int r = 0; r < n; ++r, p += 4) {
      data[at++] = float(p[1]) / 255.0f;
      data[at++] = float(p[2]) / 255.0f;
      data[at++] = float(p[3]) / 255.0f;
      data[at++] = float(p[0]) / 255.0f;
    }
  }
  return data;
}

// ---- the installed profiles ----

namespace {
std::shared_ptr<Profile> DefaultProfile(const char* key) {
  const std::optional<std::string> path = host::UserDefaults::standard().getString(key);
  return path && !path->empty() ? Profile::profileWithPath(*path) : nullptr;
}
}  // namespace

std::shared_ptr<Profile> Profile::profileDefaultRGB() { return DefaultProfile("DefaultRGBProfile"); }
std::shared_ptr<Profile> Profile::profileDefaultGray() { return DefaultProfile("DefaultGrayProfile"); }
std::shared_ptr<Profile> Profile::profileDefaultCMYK() { return DefaultProfile("DefaultCMYKProfile"); }

int profileIterate(const CMProfileIterateData& data, std::vector<std::shared_ptr<Profile>>* array) {
  if (array) {
    if (std::shared_ptr<Profile> p = Profile::profileWithIterateData(data)) array->push_back(std::move(p));
  }
  return 0;
}

std::vector<std::shared_ptr<Profile>> Profile::arrayOfAllProfiles() {
  std::vector<std::shared_ptr<Profile>> all;
  for (const auto& file : host::color::InstalledProfiles(host::color::ProfileFolders())) {
    const host::color::IccProfile opened = host::color::IccProfile::FromFile(file);
    if (!opened.valid()) continue;
    CMProfileIterateData data;
    if (host::MakeFSSpecFromPath(file.string(), &data.location.spec) == noErr) {
      data.location.locType = CMProfileLocation::cmFileBasedProfile;
    } else {
      data.location.locType = CMProfileLocation::cmPathBasedProfile;
      data.location.path = file.string();
    }
    data.profileClass = opened.deviceClass();
    data.dataColorSpace = opened.colorSpace();
    // The description is text of the profile's own; each byte one character.
    for (unsigned char c : opened.description()) data.uniCodeName.push_back(char16_t(c));
    data.uniCodeNameCount = uint32_t(data.uniCodeName.size() + 1);
    profileIterate(data, &all);
  }
  return all;
}

std::vector<std::shared_ptr<Profile>> Profile::arrayOfAllProfilesWithSpace(OSType space) {
  std::vector<std::shared_ptr<Profile>> chosen;
  for (auto& p : arrayOfAllProfiles()) {
    const OSType kind = p->classType();
    if (p->spaceType() == space && !p->description().empty() &&
        (kind == FourCC("mntr") || kind == FourCC("prtr")))
      chosen.push_back(std::move(p));
  }
  return chosen;
}

// ---- photos without a profile of their own ----

namespace imaging {

bool ProfileFitsColorModel(const host::color::IccProfile& profile, host::ImageColorModel model) {
  const OSType space = profile.colorSpace();
  switch (model) {
    case host::ImageColorModel::kCMYK: return space == FourCC("CMYK");
    case host::ImageColorModel::kGrey: return space == FourCC("GRAY");
    case host::ImageColorModel::kRGB:
    case host::ImageColorModel::kPalette:
    case host::ImageColorModel::kUnknown: break;
  }
  return space == FourCC("RGB ");
}

const char* ColorModelName(host::ImageColorModel model) {
  switch (model) {
    case host::ImageColorModel::kCMYK: return "CMYK";
    case host::ImageColorModel::kGrey: return "grey";
    case host::ImageColorModel::kRGB: return "RGB";
    case host::ImageColorModel::kPalette: return "indexed";
    case host::ImageColorModel::kUnknown: break;
  }
  return "decoded";
}

bool ConvertFromDefaultProfile(host::GWorld& image, host::ImageColorModel model) {
  const std::shared_ptr<Profile> fallback = model == host::ImageColorModel::kCMYK ? Profile::profileDefaultCMYK()
                                            : model == host::ImageColorModel::kGrey
                                                ? Profile::profileDefaultGray()
                                                : Profile::profileDefaultRGB();
  if (!fallback) return false;
  return ConvertFromProfile(image, fallback->ref(), model);
}

bool ConvertFromProfile(host::GWorld& image, const host::color::IccProfile& from, host::ImageColorModel model) {
  if (model == host::ImageColorModel::kCMYK) {
    // Decoded CMYK pixels are RGB already; a CMYK profile cannot read them.
    platform::LogLine("CImageFile: the CMYK profile of the image is not applied");
    return false;
  }
  // Applied to pixels of another model, a grey profile would read the red
  // byte as the grey and an RGB profile would tint greys.
  if (!ProfileFitsColorModel(from, model)) {
    platform::LogF("CImageFile: the profile \"%s\" does not fit the image's %s pixels; it is not applied",
                   from.description().c_str(), ColorModelName(model));
    return false;
  }
  std::string error;
  if (!host::color::TransformInPlace(image, from, host::color::IccProfile::SRGB(), from.renderingIntent(), &error)) {
    platform::LogF("CImageFile: the image's profile is not applied (%s)", error.c_str());
    return false;
  }
  return true;
}

}  // namespace imaging

CGImageRef CGImageCreateCopyWithDefaultSpace(const CGImageRef& image, host::ImageColorModel model) {
  if (!image) return nullptr;
  host::GWorldHandle copy = myDuplicateGWorld(image.get());
  if (!copy || !imaging::ConvertFromDefaultProfile(*copy, model)) return image;
  return CGImageRef(copy.release());
}
