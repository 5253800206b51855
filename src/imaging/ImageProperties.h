// Per-image settings stored with a photo: resources of type 'Pref' in the
// photo's resource fork (its AppleDouble sidecar "._name").
//   5000 "Image Properties"     tImageProperties, 144 bytes, big-endian
//   5002                        myCocoaImageColorAdjustInfo, up to 1,048
//                               bytes, big-endian (written by the stations)
//   5003 "CK Image Properties"  tCKImageProperties, 11,340 bytes, in this
//                               processor's own (little-endian) order
// Each record is decoded and encoded field by field; the caller's record is
// never converted in place.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "host/base/Geometry.h"
#include "host/base/MacTypes.h"
#include "host/files/FSSpec.h"
#include "host/files/ResourceFork.h"
#include "host/sys/PlistValue.h"
#include "imaging/ColorAdjust.h"

class TFile;

// A photo's colour-correction settings: saturation, brightness, contrast,
// red, green, blue, sharpness, gamma, exposure, hue. Job files carry the ten
// floats alone (40 bytes); resource 5002 follows them with 1,008 reserved
// bytes.
struct myCocoaImageColorAdjustInfo {
  enum Field { kSaturation, kBrightness, kContrast, kRed, kGreen, kBlue, kSharpness, kGamma, kExposure, kHue };
  std::array<float, 10> values{};
  static constexpr size_t kStoredSize = 40;
  static constexpr size_t kResourceSize = 1048;
  template <class IO, class R>
  static void Fields(IO& io, R& r) { for (auto& v : r.values) io.f32(v); }
  float& operator[](Field f) { return values[size_t(f)]; }
  float operator[](Field f) const { return values[size_t(f)]; }
  // The values that change nothing: 1, 0, 1, 1, 1, 1, 0, 1, 0, 0.
  static myCocoaImageColorAdjustInfo Neutral();
  friend bool operator==(const myCocoaImageColorAdjustInfo&, const myCocoaImageColorAdjustInfo&) = default;
};

// How a photo is placed and cropped, and the photo size those were set at.
struct tImageProperties {
  CPoint_AC offset;  // v, h
  int16_t inset = 0;
  float rotation = 0;
  int16_t cropping = 0;
  float hRatio = 0;
  float vRatio = 0;
  int16_t cropPosition = 0;
  myImageColorAdjustInfo colorAdjust;
  CPoint_AC imageSize;  // v = height, h = width
  static constexpr size_t kStoredSize = 144;
  friend bool operator==(const tImageProperties&, const tImageProperties&) = default;
};

// The chroma-key per-image record: the image properties, then the keying
// block and the fields the keying tools read, kept as those tools hold them
// (this program writes the record whole and reads nothing of it).
struct tCKImageProperties {
  tImageProperties image;
  std::array<uint8_t, 11340 - 144> keying{};
  static constexpr size_t kStoredSize = 11340;
};

// Stored forms. Decoding a resource shorter than the record fills what it
// holds; the rest keeps the neutral (colour) or zero (properties) values.
std::vector<uint8_t> EncodeColorAdjustResource(const myCocoaImageColorAdjustInfo& info);
myCocoaImageColorAdjustInfo DecodeColorAdjustResource(std::span<const uint8_t> bytes);
std::vector<uint8_t> EncodeImageProperties(const tImageProperties& props);
tImageProperties DecodeImageProperties(std::span<const uint8_t> bytes);
std::vector<uint8_t> EncodeCKImageProperties(const tCKImageProperties& props);

// Whether the property-list store beside the image is used as well as the
// resources; off, and nothing in the program turns it on.
extern bool gUseNewPlistFileToSaveImageProperties;

// ---- the property-list store ----
// A dictionary in the file whose path is the image's path followed by
// ".plist":
//   "coloradjust"       the ten colour values: "saturation", "brightness",
//                       "contrast", "redAdjust", "greenAdjust", "blueAdjust",
//                       "sharpnessAdjust", "gammaAdjust", "exposureAdjust",
//                       "hueAdjust"
//   "timageproperties"  getDictionaryFromImageProperties
//   "CKSettings"        "defocusValue", "inwardFlag" (integers), "shrinkValue"
//                       (real) and "fixcoef" (the coefficient block's
//                       dictionary form)
//   "zoomBoxFactor", "angleDirection", "rotationAngle" (integers)

// The path of the property list beside an image; empty when the image's
// folder is unknown.
std::string ImagePropertiesPlistPath(const FSSpec& image);

// "hoffset", "voffset", "inset", "cropping", "cropWhere" (integers) and
// "rotation", "hRatio", "vRatio" (reals).
host::PlistValue getDictionaryFromImageProperties(const tImageProperties* props);

// What the store needs of the chroma-key code: the dictionary form of a
// coefficient block (its stored bytes). The application provides it.
class TCoefficientDictionaryMaker {
 public:
  virtual ~TCoefficientDictionaryMaker() = default;
  virtual host::PlistValue CoefficientDictionary(std::span<const uint8_t> block) = 0;
};
void SetCoefficientDictionaryMaker(TCoefficientDictionaryMaker* maker);

// Writes the record's property-list form into the image's property list,
// keeping what else it holds (a file that is no dictionary is replaced);
// written atomically. False when there is no maker for the coefficient
// dictionary, the image's folder is unknown or the file cannot be written.
bool saveCKImagePropertiesToPlistFile(const tCKImageProperties* props, const FSSpec& image);

// Resource (type, id) of `map` into `out`: 0 when copied whole, -1 when it is
// missing, -2 when it is empty or longer than `maxLength` (nothing copied).
int16_t ReadStruct2(const host::ResourceMap& map, std::vector<uint8_t>* out, size_t maxLength, ResType type,
                    int16_t id);

// Resets each value outside its range to its neutral value (red, green,
// blue, saturation, brightness, contrast, sharpness, gamma, hue, exposure);
// a value that is not a finite number is reset too. Logs the red, green and
// blue values when one of them is below 0.5.
void validateMyCocoaImageColorAdjustInfo(myCocoaImageColorAdjustInfo* info);

// True when the photo carries colour settings, which are read, validated and
// copied into `info`: with the property-list store switched on, from the
// "coloradjust" dictionary of its property list (a missing value reads 0,
// which validation repairs) when there is one; otherwise from resource 5002.
bool loadColorAdjustFromFile(const FSSpec& file, myCocoaImageColorAdjustInfo* info);

// True when the photo carries image properties (resource 5000), copied into
// `props`; otherwise `props` is left as it was.
bool loadPropertiesFromFile(const FSSpec& file, tImageProperties* props);
bool loadPropertiesFromFile(TFile* file, tImageProperties* props);

// Writes resource 5000 (or 5003) into the photo's resource fork, creating the
// fork when the photo has none; the caller's record is left as it is. 0 or
// the file error. With the property-list store switched on, the chroma-key
// properties go into the image's property list too (before the resource; a
// failure there is logged and does not change the result).
OSErr savePropertiesToFile(TFile* file, const tImageProperties* props);
OSErr savePropertiesToFile(const FSSpec& file, const tImageProperties* props);
OSErr saveCKPropertiesToFile(TFile* file, const tCKImageProperties* props);
OSErr saveCKPropertiesToFile(const FSSpec& file, const tCKImageProperties* props);

// The application's colour defaults (never filled: the neutral values) and
// the record filled from them with its reserved bytes zero.
const myCocoaImageColorAdjustInfo& getMyCocoaImageColorDefaults();
void SetDefaultForMyCocoaImageColorAdjustFromPrefs(myCocoaImageColorAdjustInfo* info);
