#include "imaging/ImageWriters.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "host/base/MacRoman.h"
#include "host/base/UniqueFile.h"
#include "host/files/FileOps.h"
#include "host/files/FinderInfo.h"
#include "host/files/HeldFolders.h"
#include "host/files/PrivateFolder.h"
#include "host/imageio/ImageFile.h"
#include "imaging/ImageLoading.h"
#include "imaging/OutputFileHelpers.h"
#include "imaging/PackBits.h"
#include "platform/FileServices.h"
#include "platform/FolderSpecs.h"
#include "platform/Log.h"

namespace imaging {
namespace {

// Field-by-field byte writers.
struct Bytes {
  std::vector<uint8_t> v;
  void u8(uint8_t x) { v.push_back(x); }
  void le16(uint32_t x) { u8(x & 0xFF); u8((x >> 8) & 0xFF); }
  void le32(uint32_t x) { le16(x & 0xFFFF); le16(x >> 16); }
  void be16(uint32_t x) { u8((x >> 8) & 0xFF); u8(x & 0xFF); }
  void be32(uint32_t x) { be16(x >> 16); be16(x & 0xFFFF); }
  void text(const char* s) { while (*s) u8(static_cast<uint8_t>(*s++)); }
  void zeros(size_t n) { v.insert(v.end(), n, 0); }
};

// Pages drawn by the program leave the alpha byte 0 (cleared) or 255; an
// offscreen whose alpha is 0 everywhere carries no transparency, and the
// formats that store alpha write it opaque.
bool AlphaIsUnset(const host::GWorld& g) {
  for (int32_t y = 0; y < g.height(); ++y) {
    const uint8_t* p = g.scanline(y);
    for (int32_t x = 0; x < g.width(); ++x) {
      if (p[4 * x]) return false;
    }
  }
  return true;
}

uint32_t DpiOf(int16_t dpi) { return dpi > 0 ? uint32_t(dpi) : 72u; }

}  // namespace

bool AlphaIsUnsetIn(const host::GWorld& g) { return AlphaIsUnset(g); }

int JpegQualityFromPercent(double percent) {
  if (!(percent == percent)) return 75;  // NaN
  return static_cast<int>(std::clamp(std::lround(percent), 1L, 100L));
}

std::string PreferencesFolderPath() {
  if (gKivoPrefsFSSpec.vRefNum == kNoVolume) return {};
  std::string path;
  if (host::GetPathOfFSSpec(gKivoPrefsFSSpec, &path) != noErr) return {};
  return path;
}

namespace {
std::string gPrivateFolder;
}  // namespace

void SetPrivateFolderPath(const std::string& path) { gPrivateFolder = path; }

std::string OldPrivateFolderPath() {
  std::filesystem::path prefs = PreferencesFolderPath();
  if (prefs.empty()) return {};
  if (!prefs.has_filename()) prefs = prefs.parent_path();
  return (prefs.parent_path() / kPrivateFolderName).string();
}

std::string PrivateFolderPath(std::string* refusal) {
  if (refusal) refusal->clear();
  const std::string path = gPrivateFolder.empty() ? OldPrivateFolderPath() : gPrivateFolder;
  if (path.empty()) return {};
  std::string why;
  // Left open to others by hand, it is closed again.
  if (host::MakeOwnPrivateFolder(path, true, &why)) return path;
  platform::LogF("%s: nothing is kept in it", why.c_str());
  if (refusal) *refusal = why;
  return {};
}

std::string NewPrivateWorkingFile(const std::string& extension) {
  const std::string folder = PrivateFolderPath();
  if (folder.empty()) return {};
  // A long extension would not fit a file specification's name.
  const std::string ext = extension.size() <= 16 && extension.find('/') == std::string::npos ? extension : "";
  std::string made;
  const int fd = host::CreateUniqueFileIn(folder, kWorkingFilePrefix, ext, O_WRONLY, 0600, &made);
  if (fd < 0) {
    platform::LogF("No working file could be made in [%s]: %s", folder.c_str(), std::strerror(errno));
    return {};
  }
  ::close(fd);
  return made;
}

void SetTypeAndCreator(const std::string& path, OSType type, OSType creator) {
  host::FinderInfo info;
  if (host::GetFinderInfo(path, &info) != noErr) return;
  info.type = type;
  info.creator = creator;
  host::SetFinderInfo(path, info);
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, OSType type, OSType creator,
                    uint32_t mode) {
  if (path.empty() || bytes.empty()) return false;
  const OSErr err = host::WriteFileAtomically(path, bytes.data(), bytes.size(), mode, true);
  if (err != noErr) {
    platform::LogF("Writing [%s] failed with error code = %d", path.c_str(), err);
    return false;
  }
  SetTypeAndCreator(path, type, creator);
  return true;
}

std::vector<uint8_t> BuildOwnTiff(const PackedRGB& rgb, int32_t width, int32_t height, int16_t dpi) {
  const uint64_t count = uint64_t(width) * uint64_t(height) * 3;
  // The directory holds the sides as 16-bit values and the byte count in 32.
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF || count > 0xFFFFFFFFu - 242 ||
      rgb.size() != count) {
    return {};
  }
  // The resolution is stored as given (dpi / 1); only a negative one, which
  // the field cannot hold, stands for 72.
  const uint32_t res = dpi < 0 ? 72u : uint32_t(dpi);
  Bytes b;
  b.text("II");
  b.le16(42);
  b.le32(8);
  b.le16(16);
  auto entry = [&b](uint16_t tag, uint16_t type, uint32_t n, uint32_t value) {
    b.le16(tag);
    b.le16(type);
    b.le32(n);
    if (type == 3 && n == 1) {  // a SHORT sits in the first two bytes
      b.le16(value);
      b.le16(0);
    } else {
      b.le32(value);
    }
  };
  constexpr uint16_t kShort = 3, kLong = 4, kRational = 5;
  entry(254, kLong, 1, 0);
  entry(256, kShort, 1, uint32_t(width));
  entry(257, kShort, 1, uint32_t(height));
  entry(258, kShort, 3, 206);
  entry(259, kShort, 1, 1);
  entry(262, kShort, 1, 2);
  entry(273, kLong, 1, 242);
  entry(277, kShort, 1, 3);
  entry(278, kShort, 1, uint32_t(height));
  entry(279, kLong, 1, static_cast<uint32_t>(count));
  entry(280, kShort, 3, 212);
  entry(281, kShort, 3, 218);
  entry(282, kRational, 1, 226);
  entry(283, kRational, 1, 234);
  entry(284, kShort, 1, 1);
  entry(296, kShort, 1, 2);
  b.le32(0);                                   // 202: no next directory
  for (int i = 0; i < 3; ++i) b.le16(8);       // 206
  for (int i = 0; i < 3; ++i) b.le16(0);       // 212
  for (int i = 0; i < 3; ++i) b.le16(255);     // 218
  b.le16(0);                                   // 224
  b.le32(res);                                 // 226
  b.le32(1);
  b.le32(res);                                 // 234
  b.le32(1);
  b.v.insert(b.v.end(), rgb.begin(), rgb.end());
  return std::move(b.v);
}

std::vector<uint8_t> BuildPict(const host::GWorld& image, int16_t dpi) {
  const int32_t w = image.width(), h = image.height();
  // The frame is 16-bit and rowBytes a 14-bit field.
  if (w <= 0 || h <= 0 || w > 0x3FFE / 4 || h > 0x7FFF) return {};
  const uint32_t rowBytes = uint32_t(w) * 4;
  const uint32_t res = DpiOf(dpi);
  // An extended version 2 picture: the header states the resolution and the
  // page's size in pixels at it (the rectangle every opcode below draws in),
  // and the frame is that size at 72 dpi, as readers take it.
  auto at72 = [res](int32_t pixels) {
    return std::clamp<int32_t>(int32_t((int64_t(pixels) * 72 * 2 + res) / (2 * res)), 1, 0x7FFF);
  };
  Bytes b;
  b.zeros(512);  // the file header of a picture file
  b.be16(0);     // picture size, filled in below
  auto rect = [&b](int32_t t, int32_t l, int32_t bo, int32_t r) {
    b.be16(uint16_t(t));
    b.be16(uint16_t(l));
    b.be16(uint16_t(bo));
    b.be16(uint16_t(r));
  };
  rect(0, 0, at72(h), at72(w));
  b.be16(0x0011);  // version
  b.be16(0x02FF);
  b.be16(0x0C00);  // extended version 2 header
  b.be16(0xFFFE);
  b.be16(0);
  b.be32(res << 16);
  b.be32(res << 16);
  rect(0, 0, h, w);
  b.be32(0);
  b.be16(0x0001);  // clip region: the whole page
  b.be16(10);
  rect(0, 0, h, w);
  b.be16(0x009A);  // DirectBitsRect
  b.be32(0x000000FF);
  b.be16(static_cast<uint16_t>(0x8000 | rowBytes));
  rect(0, 0, h, w);
  b.be16(0);       // pmVersion
  // Rows of fewer than 8 bytes are stored as they are; longer ones as their
  // red, green and blue planes, packed.
  const bool packed = rowBytes >= 8;
  b.be16(packed ? 4 : 1);  // packType
  b.be32(0);       // packSize
  b.be32(res << 16);
  b.be32(res << 16);
  b.be16(16);      // pixelType: direct RGB
  b.be16(32);      // pixelSize
  b.be16(3);       // cmpCount
  b.be16(8);       // cmpSize
  b.be32(0);       // planeBytes
  b.be32(0);       // pmTable
  b.be32(0);       // pmReserved
  rect(0, 0, h, w);  // source
  rect(0, 0, h, w);  // destination
  b.be16(0);         // srcCopy
  std::vector<uint8_t> planes(size_t(w) * 3), row;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* p = image.scanline(y);
    if (!packed) {
      for (int32_t x = 0; x < w; ++x) {
        b.u8(0);  // the unused first byte of each pixel
        b.v.insert(b.v.end(), p + 4 * x + 1, p + 4 * x + 4);
      }
      continue;
    }
    for (int32_t x = 0; x < w; ++x)
      for (int32_t c = 0; c < 3; ++c) planes[size_t(c) * size_t(w) + size_t(x)] = p[4 * x + 1 + c];
    row.clear();
    imaging::PackBitsRow(planes, &row);
    if (rowBytes > 250) b.be16(uint32_t(row.size()));
    else b.u8(static_cast<uint8_t>(row.size()));
    b.v.insert(b.v.end(), row.begin(), row.end());
  }
  if ((b.v.size() - 512) % 2) b.u8(0);
  b.be16(0x00FF);  // end of picture
  // The 16-bit size field keeps the low 16 bits for pictures larger than it.
  const size_t size = b.v.size() - 512;
  b.v[512] = static_cast<uint8_t>((size >> 8) & 0xFF);
  b.v[513] = static_cast<uint8_t>(size & 0xFF);
  return std::move(b.v);
}

std::vector<uint8_t> BuildTarga(const host::GWorld& image) {
  const int32_t w = image.width(), h = image.height();
  if (w <= 0 || h <= 0 || w > 0xFFFF || h > 0xFFFF) return {};
  Bytes b;
  b.u8(0);     // no image id
  b.u8(0);     // no colour map
  b.u8(2);     // uncompressed true colour
  b.zeros(5);  // colour map specification
  b.le16(0);   // origin
  b.le16(0);
  b.le16(uint32_t(w));
  b.le16(uint32_t(h));
  b.u8(24);
  b.u8(0);     // rows bottom to top
  b.v.reserve(b.v.size() + size_t(w) * size_t(h) * 3);
  for (int32_t y = h - 1; y >= 0; --y) {
    const uint8_t* p = image.scanline(y);
    for (int32_t x = 0; x < w; ++x, p += 4) {
      b.u8(p[3]);
      b.u8(p[2]);
      b.u8(p[1]);
    }
  }
  return std::move(b.v);
}

std::vector<uint8_t> BuildPhotoshop(const host::GWorld& image, int16_t dpi) {
  const int32_t w = image.width(), h = image.height();
  if (w <= 0 || h <= 0 || w > 30000 || h > 30000) return {};
  const uint32_t res = DpiOf(dpi);
  const bool opaque = AlphaIsUnset(image);
  Bytes b;
  b.text("8BPS");
  b.be16(1);
  b.zeros(6);
  b.be16(4);  // red, green, blue, alpha
  b.be32(uint32_t(h));
  b.be32(uint32_t(w));
  b.be16(8);
  b.be16(3);  // RGB
  b.be32(0);  // no colour mode data
  b.be32(28);  // image resources: the resolution
  b.text("8BIM");
  b.be16(0x03ED);
  b.be16(0);  // empty name, padded
  b.be32(16);
  b.be32(res << 16);
  b.be16(1);
  b.be16(1);
  b.be32(res << 16);
  b.be16(1);
  b.be16(1);
  b.be32(0);  // no layers
  b.be16(0);  // raw image data
  const size_t plane = size_t(w) * size_t(h);
  const size_t start = b.v.size();
  b.v.resize(start + 4 * plane);
  static constexpr int kOrder[4] = {1, 2, 3, 0};  // R, G, B, then alpha
  for (int c = 0; c < 4; ++c) {
    uint8_t* out = b.v.data() + start + size_t(c) * plane;
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* p = image.scanline(y) + kOrder[c];
      for (int32_t x = 0; x < w; ++x, p += 4) *out++ = (c == 3 && opaque) ? 255 : *p;
    }
  }
  return std::move(b.v);
}

}  // namespace imaging

using imaging::WriteFileBytes;

namespace {

OSErr ExportWithLibrary(const host::GWorld& image, const std::string& path, host::ImageFormat format,
                        const host::ImageWriteOptions& options, OSType type) {
  const host::ImageStatus st = host::WriteImageFile(image, path, format, options);
  if (!st.ok()) {
    platform::LogF("GraphicsExportDoExport fails with error code = %d (%s)", int(ioErr), st.error.c_str());
    return ioErr;
  }
  imaging::SetTypeAndCreator(path, type, FourCC("8BIM"));
  return noErr;
}

}  // namespace

OSErr writeGWorldToImageFile(const host::GWorld* offscreen, const FSSpec& spec, int16_t format, int16_t dpi,
                             int16_t quality) {
  if (!offscreen) return paramErr;
  const std::string path = imaging::PathOfSpec(spec);
  if (path.empty()) {
    platform::LogF("GraphicsExportSetOutputFile fails with error code = %d", int(dirNFErr));
    return dirNFErr;
  }
  host::ImageWriteOptions options;
  options.dpi = dpi > 0 ? dpi : 72;
  OSErr err = noErr;
  switch (format) {
    case kOutputPICT:
      return SaveAsPICTFile(spec, offscreen, dpi) ? noErr : ioErr;
    case kOutputTIFF:
      // Format 2 is the compressed TIFF (LZW, lossless) on every route, as
      // the image-destination path writes it; format 6 is the uncompressed one.
      options.tiffCompression = host::TiffCompression::kLzw;
      err = ExportWithLibrary(*offscreen, path, host::ImageFormat::kTiff, options, FourCC("TIFF"));
      break;
    case kOutputJPEG:
    case kOutputJPEG2: {
      // A quality outside 0..100 is held to it before the exporter scale, so
      // a negative one never reaches the unsigned conversion.
      const int16_t percent = std::clamp<int16_t>(quality, 0, 100);
      const auto codecQuality = static_cast<uint32_t>(double(percent) / 100.0 * 1024.0);
      options.jpegQuality = imaging::JpegQualityFromPercent(double(codecQuality) * 100.0 / 1024.0);
      err = ExportWithLibrary(*offscreen, path, host::ImageFormat::kJpeg, options, FourCC("JPEG"));
      break;
    }
    case kOutputPNG:
      options.keepAlpha = !imaging::AlphaIsUnsetIn(*offscreen);
      err = ExportWithLibrary(*offscreen, path, host::ImageFormat::kPng, options, FourCC("PNGf"));
      break;
    case kOutputTarga:
      err = WriteFileBytes(path, imaging::BuildTarga(*offscreen), FourCC("TPIC"), FourCC("8BIM")) ? noErr : ioErr;
      break;
    case kOutputPhotoshop:
      err = WriteFileBytes(path, imaging::BuildPhotoshop(*offscreen, dpi), FourCC("8BPS"), FourCC("8BIM")) ? noErr
                                                                                                          : ioErr;
      break;
    default:
      platform::LogF("OpenADefaultComponent fails with error code = %d", int(paramErr));
      return paramErr;
  }
  if (err == noErr) platform::LogF("File saved as: [%s]", path.c_str());
  return err;
}

OSErr writeGWorldToImageFile(const host::GWorld* offscreen, const FSSpec& spec, int16_t format, int16_t dpi) {
  return writeGWorldToImageFile(offscreen, spec, format, dpi, 75);
}

bool SaveAsTIFFFile(const FSSpec& spec, const host::GWorld* offscreen, int16_t dpi) {
  if (!offscreen) return false;
  PackedRGB rgb;
  if (!convertGWorldToDotSeqHandle(offscreen, &rgb)) return false;
  const auto bytes = imaging::BuildOwnTiff(rgb, offscreen->width(), offscreen->height(), dpi < 0 ? 72 : dpi);
  return WriteFileBytes(imaging::PathOfSpec(spec), bytes, FourCC("TIFF"), FourCC("8BIM"));
}

bool SaveAsRawFile(const FSSpec& spec, const host::GWorld* offscreen) {
  if (!offscreen) return false;
  PackedRGB rgb;
  if (!convertGWorldToDotSeqHandle(offscreen, &rgb)) return false;
  return WriteFileBytes(imaging::PathOfSpec(spec), rgb, FourCC("RAW "), FourCC("8BIM"));
}

bool SaveAsPICTFile(const FSSpec& spec, const host::GWorld* offscreen, int16_t dpi) {
  if (!offscreen) return false;
  return WriteFileBytes(imaging::PathOfSpec(spec), imaging::BuildPict(*offscreen, dpi), FourCC("PICT"),
                        FourCC("8BIM"));
}

bool NewSaveOffscreenToFile(int16_t format, const host::GWorld* offscreen, const FSSpec& spec, bool flag,
                            int16_t dpi) {
  if (format == kOutputPhotoshop || format == kOutputPNG || format == kOutputJPEG2) return true;
  return NewSaveOffscreenToFile(format, offscreen, spec, flag, dpi, 75);
}

bool NewSaveOffscreenToFile(int16_t format, const host::GWorld* offscreen, const FSSpec& spec, bool flag,
                            int16_t dpi, int16_t quality) {
  if (format == kOutputJPEG2) return true;
  return NewSaveOffscreenToFile(format, offscreen, spec, flag, dpi, quality, false);
}

namespace {

// A new private working file with the extension of `spec`'s name: its path
// and specification.
bool InWorkingFile(const FSSpec& spec, std::string* path, FSSpec* target) {
  const std::string name = imaging::DiskNameOf(spec.name.view());
  const size_t dot = name.rfind('.');
  *path = imaging::NewPrivateWorkingFile(dot == std::string::npos ? std::string() : name.substr(dot));
  if (path->empty()) return false;
  const OSErr err = host::MakeFSSpecFromPath(*path, target);
  if (err == noErr || err == fnfErr) return true;
  host::DeleteItem(*path);
  return false;
}

// Formats 5 and 6 by the program's own writers; false when `format` is
// another one.
bool SaveWithOwnWriter(int16_t format, const host::GWorld* offscreen, const FSSpec& target, int16_t dpi, bool* ok) {
  if (format == kOutputRAW) *ok = SaveAsRawFile(target, offscreen);
  else if (format == kOutputOwnTIFF) *ok = SaveAsTIFFFile(target, offscreen, dpi);
  else return false;
  return true;
}

}  // namespace

bool NewSaveOffscreenToFile(int16_t format, const host::GWorld* offscreen, const FSSpec& spec, bool /*flag*/,
                            int16_t dpi, int16_t quality, bool viaPreferencesFolder) {
  if (format < kOutputTIFF || format > kOutputJPEG2) return true;
  FSSpec target = spec;
  std::string tempPath;
  if (viaPreferencesFolder && !InWorkingFile(spec, &tempPath, &target)) return false;
  bool ok = false;
  if (!SaveWithOwnWriter(format, offscreen, target, dpi, &ok))
    ok = writeGWorldToImageFile(offscreen, target, format, dpi, quality) == noErr;
  if (viaPreferencesFolder) {
    if (ok) {
      // The program's file copy, replacing a file already there once the
      // copy is complete.
      FSSpec destination = spec;
      ok = doCopyTheFile(target, destination, true) == noErr;
      if (!ok) platform::LogF("Copying [%s] to its place failed", tempPath.c_str());
    }
    host::DeleteItem(tempPath);
  }
  return ok;
}

bool NewSaveOffscreenToFileNew(int16_t format, const host::GWorld* offscreen, FSSpec& spec, bool /*flag*/,
                               int16_t dpi, int16_t quality, bool /*extra*/) {
  if (format < kOutputTIFF || format > kOutputJPEG2) return true;
  std::string path;
  FSSpec target;
  if (!InWorkingFile(spec, &path, &target)) return false;
  platform::LogF("the file save path is: %s", path.c_str());
  bool ok = false;
  if (!SaveWithOwnWriter(format, offscreen, target, dpi, &ok)) {
    if (format == kOutputTarga || format == kOutputPhotoshop) {
      ok = writeGWorldToImageFile(offscreen, target, format, dpi, quality) == noErr;
    } else {
      if (!offscreen) return false;
      auto* pixels = const_cast<host::GWorld*>(offscreen);
      ok = saveCGImageRefToPath(OffscreenToImageRef(pixels), path, format, float(quality), dpi);
      pixels->Unlock();
    }
  }
  if (ok) host::MakeFSSpecFromPath(path, &spec);
  else host::DeleteItem(path);
  return ok;
}

bool SaveOutputForPrint(const host::GWorld* page) {
  if (!page) return false;
  const std::string folder = imaging::PreferencesFolderPath();
  if (folder.empty()) return false;
  const std::string path = host::JoinPath(folder, "OutputForPrint.jpg");
  host::ImageWriteOptions options;
  options.dpi = 300;
  options.jpegQuality = 75;
  std::vector<uint8_t> bytes;
  if (const host::ImageStatus st = host::EncodeImage(*page, host::ImageFormat::kJpeg, options, &bytes); !st.ok()) {
    platform::LogF("OutputForPrint.jpg could not be made: %s", st.error.c_str());
    return false;
  }
  // A full-size copy of the last customer's page: written privately and
  // renamed into place, readable by the program's user alone.
  if (!imaging::WriteFileBytes(path, bytes, FourCC("JPEG"), FourCC("8BIM"), 0600)) return false;
  platform::LogF("File saved as: [%s]", path.c_str());
  return true;
}
