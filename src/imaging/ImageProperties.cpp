#include "imaging/ImageProperties.h"

#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>

#include "host/base/ByteOrder.h"
#include "host/files/File.h"
#include "host/sys/PropertyList.h"
#include "platform/FileServices.h"
#include "platform/Log.h"

bool gUseNewPlistFileToSaveImageProperties = false;

namespace {

constexpr ResType kPrefType = FourCC("Pref");
constexpr int16_t kImagePropertiesId = 5000;
constexpr int16_t kColorAdjustId = 5002;
constexpr int16_t kCKImagePropertiesId = 5003;

static_assert(tCKImageProperties::kStoredSize == 144 + sizeof(tCKImageProperties::keying));

}  // namespace

myCocoaImageColorAdjustInfo myCocoaImageColorAdjustInfo::Neutral() {
  myCocoaImageColorAdjustInfo n;
  n.values = {1, 0, 1, 1, 1, 1, 0, 1, 0, 0};
  return n;
}

std::vector<uint8_t> EncodeColorAdjustResource(const myCocoaImageColorAdjustInfo& info) {
  std::vector<uint8_t> out(myCocoaImageColorAdjustInfo::kResourceSize, 0);
  for (size_t i = 0; i < info.values.size(); ++i) host::StoreBEF32(&out[i * 4], info.values[i]);
  return out;
}

myCocoaImageColorAdjustInfo DecodeColorAdjustResource(std::span<const uint8_t> bytes) {
  myCocoaImageColorAdjustInfo info = myCocoaImageColorAdjustInfo::Neutral();
  for (size_t i = 0; i < info.values.size() && (i + 1) * 4 <= bytes.size(); ++i) {
    info.values[i] = host::LoadBEF32(&bytes[i * 4]);
  }
  return info;
}

namespace {

// The byte layout of tImageProperties, one place for both directions. The
// offsets are those of the stored record; `Put`/`Get` write or read one
// field in the record's byte order.
template <class Op>
void ImagePropertiesLayout(Op&& op, auto& p) {
  op.i16(0, p.offset.v);
  op.i16(2, p.offset.h);
  op.i16(4, p.inset);
  op.f32(8, p.rotation);
  op.i16(12, p.cropping);
  op.f32(16, p.hRatio);
  op.f32(20, p.vRatio);
  op.i16(24, p.cropPosition);
  op.i16(26, p.colorAdjust.red);
  op.i16(28, p.colorAdjust.green);
  op.i16(30, p.colorAdjust.blue);
  op.i16(32, p.colorAdjust.dark);
  op.i16(34, p.colorAdjust.light);
  op.i16(36, p.colorAdjust.gamma);
  op.i16(38, p.imageSize.v);
  op.i16(40, p.imageSize.h);
}

struct Writer {
  uint8_t* base;
  bool bigEndian;
  void i16(size_t at, int16_t v) const {
    if (bigEndian) host::StoreBE16(base + at, uint16_t(v));
    else host::StoreLE16(base + at, uint16_t(v));
  }
  void f32(size_t at, float v) const {
    if (bigEndian) host::StoreBEF32(base + at, v);
    else host::StoreLEF32(base + at, v);
  }
};

struct Reader {
  std::span<const uint8_t> bytes;
  void i16(size_t at, int16_t& v) const {
    if (at + 2 <= bytes.size()) v = host::LoadBEI16(&bytes[at]);
  }
  void f32(size_t at, float& v) const {
    if (at + 4 <= bytes.size()) v = host::LoadBEF32(&bytes[at]);
  }
};

}  // namespace

std::vector<uint8_t> EncodeImageProperties(const tImageProperties& props) {
  std::vector<uint8_t> out(tImageProperties::kStoredSize, 0);
  ImagePropertiesLayout(Writer{out.data(), true}, props);
  return out;
}

tImageProperties DecodeImageProperties(std::span<const uint8_t> bytes) {
  tImageProperties props;
  ImagePropertiesLayout(Reader{bytes}, props);
  return props;
}

std::vector<uint8_t> EncodeCKImageProperties(const tCKImageProperties& props) {
  std::vector<uint8_t> out(tCKImageProperties::kStoredSize, 0);
  ImagePropertiesLayout(Writer{out.data(), false}, props.image);
  std::copy(props.keying.begin(), props.keying.end(), out.begin() + tImageProperties::kStoredSize);
  return out;
}

int16_t ReadStruct2(const host::ResourceMap& map, std::vector<uint8_t>* out, size_t maxLength, ResType type,
                    int16_t id) {
  const host::Resource* r = map.Get(type, id);
  if (!r) return -1;
  if (r->data.empty() || r->data.size() > maxLength) return -2;
  *out = r->data;
  return 0;
}

void validateMyCocoaImageColorAdjustInfo(myCocoaImageColorAdjustInfo* info) {
  if (!info) return;
  using F = myCocoaImageColorAdjustInfo;
  auto& v = *info;
  if (v[F::kRed] < 0.5f || v[F::kGreen] < 0.5f || v[F::kBlue] < 0.5f) {
    platform::LogF("invalid color adjust Values: red = %f, green = %f, blue is %f", double(v[F::kRed]),
                   double(v[F::kGreen]), double(v[F::kBlue]));
  }
  // A value that is not a finite number fails every range test below, so it
  // is reset to neutral rather than applied.
  auto inclusive = [&](F::Field f, double lo, double hi, float neutral) {
    const double x = v[f];
    if (!(x >= lo && x <= hi)) v[f] = neutral;
  };
  auto exclusive = [&](F::Field f, double lo, double hi, float neutral) {
    const double x = v[f];
    if (!(x > lo && x < hi)) v[f] = neutral;
  };
  inclusive(F::kRed, 0.5, 1.5, 1);
  inclusive(F::kGreen, 0.5, 1.5, 1);
  inclusive(F::kBlue, 0.5, 1.5, 1);
  inclusive(F::kSaturation, 0.5, 1.5, 1);
  inclusive(F::kBrightness, -0.5, 0.5, 0);
  inclusive(F::kContrast, 0.5, 2, 1);
  inclusive(F::kSharpness, 0, 2, 0);
  inclusive(F::kGamma, 0.1, 1.5, 1);
  exclusive(F::kHue, -1, 1, 0);
  exclusive(F::kExposure, -1.5, 1.5, 0);
}

namespace {

// The resource fork of a photo, read-only; false when it has none.
bool ReadPhotoResources(const FSSpec& spec, host::ResourceMap* map) {
  TFile file;
  if (file.Specify(spec) != noErr) return false;
  if (file.OpenRsrcFork(fsRdPerm) != noErr) return false;
  const host::ResourceMap* m = file.GetResourceMap();
  if (m) *map = *m;
  file.CloseFile();
  return m != nullptr;
}

}  // namespace

namespace {

// The ten colour values' keys in the property list, in record order.
constexpr const char* kColorAdjustKeys[10] = {"saturation",      "brightness", "contrast",        "redAdjust",
                                              "greenAdjust",     "blueAdjust", "sharpnessAdjust", "gammaAdjust",
                                              "exposureAdjust", "hueAdjust"};

// The image's property list, when it exists and is a dictionary.
std::optional<host::PlistValue> ReadImagePlist(const FSSpec& image) {
  const std::string path = ImagePropertiesPlistPath(image);
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::string error;
  std::optional<host::PlistValue> value = host::readPropertyListFile(path, &error);
  if (!value || !value->asDict()) {
    if (!error.empty()) platform::LogF("the image's property list cannot be read: %s", error.c_str());
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::string ImagePropertiesPlistPath(const FSSpec& image) {
  std::string path;
  if (host::GetPathOfFSSpec(image, &path) != noErr || path.empty()) return {};
  return path + ".plist";
}

bool loadColorAdjustFromFile(const FSSpec& spec, myCocoaImageColorAdjustInfo* info) {
  if (!info) return false;
  if (gUseNewPlistFileToSaveImageProperties) {
    const std::optional<host::PlistValue> plist = ReadImagePlist(spec);
    const host::PlistValue* colors = plist ? plist->find("coloradjust") : nullptr;
    if (colors && colors->asDict()) {
      for (size_t i = 0; i < 10; ++i) {
        double v = 0;
        const host::PlistValue* entry = colors->find(kColorAdjustKeys[i]);
        if (!entry || !entry->toDouble(v)) v = 0;
        info->values[i] = float(v);
      }
      // The values come from a file like any other: repaired where they
      // lie outside their ranges.
      validateMyCocoaImageColorAdjustInfo(info);
      return true;
    }
  }
  host::ResourceMap map;
  if (!ReadPhotoResources(spec, &map)) return false;
  std::vector<uint8_t> bytes;
  if (ReadStruct2(map, &bytes, myCocoaImageColorAdjustInfo::kResourceSize, kPrefType, kColorAdjustId) != 0) {
    return false;
  }
  *info = DecodeColorAdjustResource(bytes);
  validateMyCocoaImageColorAdjustInfo(info);
  return true;
}

bool loadPropertiesFromFile(const FSSpec& spec, tImageProperties* props) {
  if (!props) return false;
  host::ResourceMap map;
  if (!ReadPhotoResources(spec, &map)) return false;
  std::vector<uint8_t> bytes;
  if (ReadStruct2(map, &bytes, tImageProperties::kStoredSize, kPrefType, kImagePropertiesId) != 0) return false;
  *props = DecodeImageProperties(bytes);
  return true;
}

bool loadPropertiesFromFile(TFile* file, tImageProperties* props) {
  return file && loadPropertiesFromFile(file->GetFileSpec(), props);
}

namespace {

OSErr StoreResource(TFile* file, int16_t id, const char* name, std::vector<uint8_t> bytes) {
  if (!file) return paramErr;
  file->CloseFile();
  OSErr err = file->CreateRsrcFork();
  if (err != noErr && err != dupFNErr) {
    platform::LogF("aFile->CreateRsrcFork error = %d while saving properties", int(err));
  }
  err = file->OpenRsrcFork(fsRdWrPerm);
  if (err != noErr) {
    platform::LogF("aFile->OpenRsrcFork error = %d while saving properties", int(err));
    return err;
  }
  err = file->SetResource(kPrefType, id, name, std::move(bytes));
  const OSErr closeErr = file->CloseFile();
  return err != noErr ? err : closeErr;
}

template <class Save, class Record>
OSErr SaveThroughSpec(const FSSpec& spec, const Record* record, Save save) {
  TFile file;
  if (const OSErr err = file.Specify(spec); err != noErr) return err;
  return save(&file, record);
}

}  // namespace

OSErr savePropertiesToFile(TFile* file, const tImageProperties* props) {
  if (!file || !props) return paramErr;
  return StoreResource(file, kImagePropertiesId, "Image Properties", EncodeImageProperties(*props));
}

OSErr savePropertiesToFile(const FSSpec& spec, const tImageProperties* props) {
  return SaveThroughSpec(spec, props, [](TFile* f, const tImageProperties* p) { return savePropertiesToFile(f, p); });
}

OSErr saveCKPropertiesToFile(TFile* file, const tCKImageProperties* props) {
  if (!file || !props) return paramErr;
  if (gUseNewPlistFileToSaveImageProperties) {
    platform::LogLine("writing new fixcoef to plist");
    if (!saveCKImagePropertiesToPlistFile(props, file->GetFileSpec()))
      platform::LogLine("the chroma-key properties could not be written to the image's property list");
  }
  if (!file->GetPath().empty()) setPermission(file->GetPath().c_str(), 0666);
  return StoreResource(file, kCKImagePropertiesId, "CK Image Properties", EncodeCKImageProperties(*props));
}

OSErr saveCKPropertiesToFile(const FSSpec& spec, const tCKImageProperties* props) {
  return SaveThroughSpec(spec, props,
                         [](TFile* f, const tCKImageProperties* p) { return saveCKPropertiesToFile(f, p); });
}

const myCocoaImageColorAdjustInfo& getMyCocoaImageColorDefaults() {
  static const myCocoaImageColorAdjustInfo defaults = myCocoaImageColorAdjustInfo::Neutral();
  return defaults;
}

void SetDefaultForMyCocoaImageColorAdjustFromPrefs(myCocoaImageColorAdjustInfo* info) {
  if (info) *info = getMyCocoaImageColorDefaults();
}

// ---- the property-list store ----

namespace {

TCoefficientDictionaryMaker* gCoefficientDictionaryMaker = nullptr;

// The fields of the chroma-key record that the property list carries, at
// their offsets in the stored record (in this processor's byte order).
constexpr size_t kCoefficientBlockSize = 10864;
constexpr size_t kDefocusAt = 11084, kInwardAt = 11086, kShrinkAt = 11088, kRotationAngleAt = 11104,
                 kAngleDirectionAt = 11106, kZoomBoxAt = 11320;

int16_t KeyingI16(const tCKImageProperties& p, size_t at) {
  return int16_t(host::LoadLE16(&p.keying[at - tImageProperties::kStoredSize]));
}

float KeyingF32(const tCKImageProperties& p, size_t at) {
  return host::LoadLEF32(&p.keying[at - tImageProperties::kStoredSize]);
}

}  // namespace

void SetCoefficientDictionaryMaker(TCoefficientDictionaryMaker* maker) { gCoefficientDictionaryMaker = maker; }

host::PlistValue getDictionaryFromImageProperties(const tImageProperties* props) {
  if (!props) return host::PlistValue(host::PlistDict{});
  host::PlistDict d;
  d["hoffset"] = props->offset.h;
  d["voffset"] = props->offset.v;
  d["inset"] = props->inset;
  d["cropping"] = props->cropping;
  d["cropWhere"] = props->cropPosition;
  d["rotation"] = double(props->rotation);
  d["hRatio"] = double(props->hRatio);
  d["vRatio"] = double(props->vRatio);
  return host::PlistValue(std::move(d));
}

bool saveCKImagePropertiesToPlistFile(const tCKImageProperties* props, const FSSpec& image) {
  if (!props) return false;
  if (!gCoefficientDictionaryMaker) {
    platform::LogLine("saveCKImagePropertiesToPlistFile: no coefficient dictionary maker");
    return false;
  }
  const std::string path = ImagePropertiesPlistPath(image);
  if (path.empty()) return false;
  std::optional<host::PlistValue> plist = ReadImagePlist(image);
  host::PlistDict top = plist ? *plist->asDict() : host::PlistDict{};
  host::PlistDict ck;
  if (auto it = top.find("CKSettings"); it != top.end() && it->second.asDict()) ck = *it->second.asDict();
  ck["defocusValue"] = KeyingI16(*props, kDefocusAt);
  ck["inwardFlag"] = KeyingI16(*props, kInwardAt);
  ck["shrinkValue"] = double(KeyingF32(*props, kShrinkAt));
  ck["fixcoef"] = gCoefficientDictionaryMaker->CoefficientDictionary(
      std::span<const uint8_t>(props->keying.data(), kCoefficientBlockSize));
  top["timageproperties"] = getDictionaryFromImageProperties(&props->image);
  top["zoomBoxFactor"] = KeyingI16(*props, kZoomBoxAt);
  top["angleDirection"] = KeyingI16(*props, kAngleDirectionAt);
  top["rotationAngle"] = KeyingI16(*props, kRotationAngleAt);
  top["CKSettings"] = host::PlistValue(std::move(ck));
  std::string error;
  if (!host::writePropertyListFile(path, host::PlistValue(std::move(top)), host::PlistFormat::Xml, &error)) {
    platform::LogF("saveCKImagePropertiesToPlistFile: %s", error.c_str());
    return false;
  }
  return true;
}
