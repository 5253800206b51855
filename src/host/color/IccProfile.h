// ICC colour profiles and colour transforms over Little CMS 2.
//
// A profile is opened from a file or from the bytes embedded in an image;
// its class ('scnr', 'mntr', 'prtr', ...), data colour space ('RGB ', 'GRAY',
// 'CMYK', ...), description and default rendering intent are read from it.
// Installed profiles are found in the system's ICC folders (see
// ProfileFolders) by file name.
//
// Transforms work on offscreens in place, on their bytes alpha, red, green,
// blue; the alpha byte is kept. Rows are split over the worker pool; every
// pixel goes through the same transform whatever the split, so the result is
// the same at any thread count.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "host/qd/GWorld.h"

namespace host { class WorkerPool; }

namespace host::color {

class IccProfile {
 public:
  IccProfile() = default;
  // An empty profile (valid() false) with `error` set when the file or the
  // bytes are not an ICC profile.
  static IccProfile FromFile(const std::filesystem::path& path, std::string* error = nullptr);
  static IccProfile FromBytes(std::span<const uint8_t> bytes, std::string* error = nullptr);
  // The built-in sRGB profile, the working space of decoded photos.
  static IccProfile SRGB();
  // A generic RGB display profile: white point D65, gamma 1.8 on each
  // channel, primaries (x, y) red (0.625, 0.340), green (0.280, 0.595), blue
  // (0.155, 0.070); description "Generic RGB Profile".
  static IccProfile GenericRGB();
  // The linear RGB display profile: a version 2.2 profile with the colorants
  // red (0.4543, 0.2426, 0.0148), green (0.3533, 0.6744, 0.0904), blue
  // (0.1566, 0.0834, 0.7195), media white (0.9505, 1.0, 1.0891), the
  // chromatic adaptation to D50 and gamma 1 on each channel; description
  // "Linear RGB Profile".
  static IccProfile LinearRGB();

  bool valid() const { return handle_ != nullptr; }
  uint32_t deviceClass() const;  // four characters, e.g. 'prtr'
  uint32_t colorSpace() const;   // four characters, e.g. 'RGB '
  uint32_t renderingIntent() const;
  std::string description() const;
  const std::filesystem::path& path() const { return path_; }
  void* handle() const { return handle_.get(); }
  // The profile as an ICC file's bytes; empty for no profile.
  std::vector<uint8_t> Bytes() const;

 private:
  std::shared_ptr<void> handle_;
  std::filesystem::path path_;
};

// True when the first bytes of a file are an ICC profile header ('acsp' at
// byte 36 and a plausible size).
bool LooksLikeProfile(std::span<const uint8_t> header);

// The folders searched for installed profiles, in search order: the user's
// ($XDG_DATA_HOME/icc, ~/.color/icc), the local and system ones
// (/usr/local/share/color/icc, $XDG_DATA_DIRS/color/icc, /usr/share/color/icc)
// and colord's (/var/lib/colord/icc). Folders that do not exist are left out.
std::vector<std::filesystem::path> ProfileFolders();

// Every profile file in the folders (subfolders three deep), in folder order
// and by name inside a folder. Files that are not profiles are skipped.
std::vector<std::filesystem::path> InstalledProfiles(const std::vector<std::filesystem::path>& folders);

// Converts the offscreen in place from `from` to `to` with the rendering
// intent. Both profiles must be RGB, or `from` grey for pixels that are
// greys (the red byte is taken as the grey value; the caller, which knows
// the pixels' colour model, does not hand a grey profile colour pixels). False with `error` when a profile is missing or of
// another colour space, or no transform can be made; the pixels are then
// untouched. A null pool uses the shared worker pool.
bool TransformInPlace(GWorld& image, const IccProfile& from, const IccProfile& to, uint32_t intent,
                      std::string* error, WorkerPool* pool = nullptr);

// Converts an offscreen of inks (cyan, magenta, yellow, black per pixel,
// 0 = no ink; see host::ImageReadOptions::keepCmyk) from the CMYK profile
// `from` to the RGB profile `to`, in place; every alpha byte becomes 0xFF.
// False with `error` when a profile is missing or of another colour space, or
// no transform can be made; the pixels are then untouched.
bool TransformCmykInPlace(GWorld& image, const IccProfile& from, const IccProfile& to, uint32_t intent,
                          std::string* error, WorkerPool* pool = nullptr);

// Shows the offscreen's colours as they come out of the profile `through`:
// the pixels, in the RGB profile `space`, go to `through` and back to
// `space` (a soft proof), in place; alpha is kept. A grey or CMYK profile
// gives its greys or its printable colours. False with `error` when a
// profile is missing, `space` is no RGB profile or no transform can be made;
// the pixels are then untouched.
bool ProofInPlace(GWorld& image, const IccProfile& space, const IccProfile& through, uint32_t intent,
                  std::string* error, WorkerPool* pool = nullptr);

}  // namespace host::color
