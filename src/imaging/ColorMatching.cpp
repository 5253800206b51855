#include "imaging/ColorMatching.h"

#include "host/base/MacRoman.h"
#include "host/files/FileOps.h"
#include "host/imageio/ImageFile.h"
#include "imaging/ImageLoading.h"
#include "platform/Log.h"

namespace {

constexpr OSErr kProfileNotFound = -43;
constexpr OSErr kNotAProfile = -1;
// The two profiles cannot make a transform for an RGB page.
constexpr OSErr kNoTransform = -4056;

std::string PathOf(const FSSpec& spec) { return imaging::PathOfSpec(spec); }

}  // namespace

bool CS2_available() { return true; }

OSErr OpenProfileFSSpec(const FSSpec& spec, host::color::IccProfile* profile) {
  const std::string path = PathOf(spec);
  if (path.empty()) return kProfileNotFound;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return kProfileNotFound;
  std::string error;
  *profile = host::color::IccProfile::FromFile(path, &error);
  return profile->valid() ? OSErr(noErr) : kNotAProfile;
}

bool FindProfile(OSType, FSSpec* spec, const CStr255_AC& name) {
  for (const auto& file : host::color::InstalledProfiles(host::color::ProfileFolders())) {
    const std::string macName = host::UTF8ToMacRoman(file.filename().string());
    if (macName != name.view()) continue;
    FSSpec found;
    if (host::MakeFSSpecFromPath(file.string(), &found) != noErr) continue;
    if (spec) *spec = found;
    return true;
  }
  return false;
}

OSErr MyMatchBitmap(host::GWorld* pixels, const FSSpec& source, const FSSpec& printer) {
  if (!pixels) return paramErr;
  // A chain that stops at the first error; the running error is logged after
  // each of the first three links, so an early failure shows under each.
  host::color::IccProfile from, to;
  OSErr err = OpenProfileFSSpec(source, &from);
  if (err != noErr) platform::LogF("OpenProfileFSSpec error = %d", int(err));
  if (err == noErr) err = OpenProfileFSSpec(printer, &to);
  if (err != noErr) platform::LogF("OpenProfileFSSpec B error = %d", int(err));
  // The colour world and the matching are one step here: the transform is
  // made and applied together, and a pair that cannot be made leaves the
  // page untouched.
  std::string why;
  // The page's pixels are RGB: a source profile of another colour model
  // cannot describe them (a grey one would make the page's greys of its red).
  if (err == noErr && !imaging::ProfileFitsColorModel(from, host::ImageColorModel::kRGB)) {
    platform::LogF("cannot match the page: its source profile is a '%s' profile, not an RGB one",
                   FourCCToString(from.colorSpace()).c_str());
    err = kNoTransform;
  }
  if (err == noErr && !host::color::TransformInPlace(*pixels, from, to, from.renderingIntent(), &why)) {
    platform::LogF("cannot match the page: %s", why.c_str());
    err = kNoTransform;
  }
  if (err != noErr) platform::LogF("NCWNewColorWorld error = %d", int(err));
  return err;
}

bool matchInputAndOutput(host::GWorld* page, const tColorMatchSettings& settings, int16_t) {
  if (!CS2_available() || !settings.globalOn || !settings.entryOn || !page) return false;
  page->Lock();
  platform::LogF("Color Matching with Input Profile: %s, printer Profile: %s", PathOf(settings.source).c_str(),
                 PathOf(settings.printer).c_str());
  const OSErr err = MyMatchBitmap(page, settings.source, settings.printer);
  platform::LogLine(err == noErr ? "Color Matching was successful" : "Color Matching NOT successful");
  page->Unlock();
  return err == noErr;
}

bool ConvertToWorkingSpace(host::GWorld& image, const std::vector<uint8_t>& embedded, host::ImageColorModel model,
                           bool inks, std::span<const uint8_t> inkAlpha) {
  host::color::IccProfile from;
  if (!embedded.empty()) from = host::color::IccProfile::FromBytes(embedded);
  // A profile for another colour model than the pixels' cannot describe
  // them (an RGB photo tagged with a grey profile would print in greys); it
  // is not used, and the user's default for the pixels' model is tried
  // instead.
  if (from.valid() && !imaging::ProfileFitsColorModel(from, model)) {
    platform::LogF("CImageFile: the image's profile does not fit its colour model (a '%s' profile for %s pixels); "
                   "it is not used",
                   FourCCToString(from.colorSpace()).c_str(), imaging::ColorModelName(model));
    from = {};
  }
  std::string error;
  if (inks) {
    if (!from.valid()) {
      if (const std::shared_ptr<Profile> fallback = Profile::profileDefaultCMYK()) from = fallback->ref();
    }
    bool converted = from.valid() && imaging::ProfileFitsColorModel(from, model) &&
                     host::color::TransformCmykInPlace(image, from, host::color::IccProfile::SRGB(),
                                                       from.renderingIntent(), &error);
    if (from.valid() && !converted) {
      if (error.empty()) error = "a '" + FourCCToString(from.colorSpace()) + "' profile";
      platform::LogF("CImageFile: the image's CMYK profile is not applied (%s)", error.c_str());
    }
    if (!converted) host::ConvertCmykToRgb(image);
    // The inks' transparency, which the conversion leaves opaque.
    host::PutAlpha(image, inkAlpha);
    return converted;
  }
  if (!from.valid()) return imaging::ConvertFromDefaultProfile(image, model);
  return imaging::ConvertFromProfile(image, from, model);
}

// ---- the profile tool ----

namespace {

bool ToolPaths(const TProfileToolArguments& arguments, const char* function, std::string* profile,
               std::string* image) {
  const auto p = arguments.find("resultProfilePath"), i = arguments.find("sourceImageFilePath");
  if (p == arguments.end()) platform::LogF("Inside %s -> Missing resultProfilePath", function);
  if (i == arguments.end()) platform::LogF("Inside %s -> Missing sourceImageFilePath", function);
  if (p == arguments.end() || i == arguments.end()) return false;
  *profile = p->second;
  *image = i->second;
  return true;
}

}  // namespace

int getEmbeddedProfileFromImage(const TProfileToolArguments& arguments) {
  std::string profile, image;
  if (!ToolPaths(arguments, "getEmbeddedProfileFromImage", &profile, &image)) return -1;
  const host::ImageInfoResult info = host::ReadImageInfo(image);
  if (!info.ok() || info.info.iccProfile.empty()) {
    platform::LogF("ERROR retcode = %i.. (%s)", 1, info.ok() ? "the image has no profile" : info.error.c_str());
    return 1;
  }
  const auto& bytes = info.info.iccProfile;
  if (host::WriteFileAtomically(profile, bytes.data(), bytes.size(), 0666) != noErr) {
    platform::LogF("ERROR retcode = %i.. (the profile file cannot be written)", 1);
    return 1;
  }
  return 0;
}

int embedProfileInImage(const TProfileToolArguments& arguments) {
  std::string profile, image;
  if (!ToolPaths(arguments, "embedProfileInImage", &profile, &image)) return -1;
  std::vector<uint8_t> bytes;
  if (host::ReadWholeFile(profile, &bytes, size_t(64) << 20) != noErr || !host::color::LooksLikeProfile(bytes)) {
    platform::LogF("ERROR retcode = %i.. (%s is no profile)", 1, profile.c_str());
    return 1;
  }
  host::ImageMetadataUpdate update;
  update.iccProfile = std::move(bytes);
  const host::ImageStatus status = host::UpdateImageMetadata(image, update);
  if (!status.ok()) {
    platform::LogF("ERROR retcode = %i.. (%s)", 1, status.error.c_str());
    return 1;
  }
  return 0;
}
