// Finder information of a file or folder (type, creator, flags), kept in the
// extended attribute "user.com.apple.FinderInfo" as the 32-byte big-endian
// Finder-info layout. Where the file system has no user extended attributes
// reading gives zeros and writing is skipped silently.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "host/base/MacTypes.h"

namespace host {

struct FinderInfo {
  static constexpr uint16_t kIsInvisible = 0x4000;
  static constexpr uint16_t kHasBeenInited = 0x0100;
  static constexpr size_t kStoredSize = 32;

  OSType type = 0;
  OSType creator = 0;
  uint16_t flags = 0;
  int16_t locationV = 0;
  int16_t locationH = 0;
  int16_t folder = 0;
  std::array<uint8_t, 16> extended{};

  void EncodeBE(uint8_t* out) const;
  static FinderInfo DecodeBE(const uint8_t* in);
  friend bool operator==(const FinderInfo&, const FinderInfo&) = default;
};

// Reads the stored Finder information of an existing item: zeros when none
// is stored or the file system keeps none; fnfErr when the item is missing.
OSErr GetFinderInfo(const std::string& path, FinderInfo* info);
// Stores it; noErr also where the file system keeps none (nothing stored).
OSErr SetFinderInfo(const std::string& path, const FinderInfo& info);
// Whether the file system of `path` keeps user extended attributes.
bool FinderInfoSupported(const std::string& path);

}  // namespace host
