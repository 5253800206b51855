#include "imaging/OutputFileHelpers.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "host/files/HeldFolders.h"
#include "host/base/MacRoman.h"
#include "host/files/FileOps.h"
#include "host/imageio/ImageFile.h"
#include "imaging/ImageWriters.h"
#include "imaging/Offscreen.h"
#include "platform/Log.h"

namespace fs = std::filesystem;

namespace {

bool Exists(const std::string& path) { return host::ExistsAt(path); }

}  // namespace

void embedSourceImageProfileInOutputFile(const FSSpec& source, const FSSpec& output) {
  FSRef src, out;
  if (host::FSpMakeFSRef(source, &src) != noErr || host::FSpMakeFSRef(output, &out) != noErr) return;
  const host::ImageInfoResult info = host::ReadImageInfo(src.path);
  if (!info.ok() || info.info.iccProfile.empty()) {
    platform::LogLine("Colorsync profile could not be extracted from source file - does it have one?");
    return;
  }
  host::ImageMetadataUpdate update;
  update.iccProfile = info.info.iccProfile;
  const host::ImageStatus st = host::UpdateImageMetadata(out.path, update);
  if (!st.ok()) platform::LogF("Embedding the source profile failed: %s", st.error.c_str());
}

void fsSpecToCharArray(const FSSpec& file, char text[1024]) {
  std::memset(text, 0, 1024);
  const std::string path = imaging::PathOfSpec(file);
  if (path.empty()) {
    platform::LogLine("fsSpecToCharArray: the file has no path");
    return;
  }
  // The path is escaped byte by byte in the Mac Roman encoding (so "é" is
  // "%8E"), as the upload side reads it back; a path with a character that
  // Mac Roman cannot hold has no such form and leaves the text empty.
  bool lossless = true;
  const std::string macRoman = host::UTF8ToMacRoman(path, &lossless);
  if (!lossless) {
    platform::LogF("fsSpecToCharArray: [%s] cannot be converted to Mac Roman", path.c_str());
    return;
  }
  static const char* const kHex = "0123456789ABCDEF";
  std::string escaped;
  for (unsigned char c : macRoman) {
    if (std::isalnum(c) || std::strchr("/-_.~!$&'()*+,;=:@", c)) {
      escaped += static_cast<char>(c);
    } else {
      escaped += '%';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 15];
    }
  }
  if (escaped.size() >= 1024) {
    platform::LogLine("fsSpecToCharArray: the path is too long");
    return;
  }
  std::memcpy(text, escaped.data(), escaped.size());
}

std::string_view CustomerNameOf(std::string_view s) {
  const size_t underscore = s.find('_');
  if (underscore != std::string_view::npos && underscore + 1 < s.size()) return s.substr(0, underscore);
  const size_t copy = s.find(" copy");
  if (copy != std::string_view::npos) return s.substr(0, copy);
  const size_t dot = s.rfind('.');
  if (dot != std::string_view::npos && dot + 1 < s.size()) return s.substr(0, dot);
  return s;
}

CStr255_AC getCustomerNameFromFileName(const CStr255_AC& name) {
  return CStr255_AC::FromMacRoman(CustomerNameOf(name.view()));
}

bool saveCGImageRefToPath(const CGImageRef& image, const std::string& path, int16_t resolution) {
  if (!image || path.empty()) return false;
  host::ImageWriteOptions options;
  options.dpi = resolution;
  options.jpegQuality = imaging::JpegQualityFromPercent(100);
  const host::ImageStatus st = host::WriteImageFile(*image, path, host::ImageFormat::kJpeg, options);
  if (!st.ok()) platform::LogF("saveCGImageRefToPath: %s", st.error.c_str());
  return st.ok();
}

bool saveCGImageRefToPath(const CGImageRef& image, const std::string& path, int16_t format, float quality,
                          int16_t resolution) {
  if (!image || path.empty()) return false;
  if (format == kOutputPICT) {
    return imaging::WriteFileBytes(path, imaging::BuildPict(*image, resolution), FourCC("PICT"), FourCC("8BIM"));
  }
  host::ImageWriteOptions options;
  options.dpi = resolution;
  host::ImageFormat kind = host::ImageFormat::kJpeg;
  if (format == kOutputPNG) {
    kind = host::ImageFormat::kPng;
  } else if (format == kOutputTIFF) {
    kind = host::ImageFormat::kTiff;
    options.tiffCompression = host::TiffCompression::kLzw;
  } else {
    // Quality percent / 100 is the destination's 0..1 scale; both map to the
    // same library quality.
    options.jpegQuality = imaging::JpegQualityFromPercent(double(quality / 100.0f) * 100.0);
  }
  const host::ImageStatus st = host::WriteImageFile(*image, path, kind, options);
  if (!st.ok()) {
    platform::LogF("saveCGImageRefToPath: %s", st.error.c_str());
    return false;
  }
  return true;
}

host::GWorldHandle getCroppedImage(const FSSpec& file, const CGRect& rect) {
  FSRef ref;
  if (host::FSpMakeFSRef(file, &ref) != noErr) return nullptr;
  CImageFile source(&ref);
  CGImageRef image = source.GetCurrentCGImage();
  if (!image) return nullptr;
  if (!(rect.width > 0) || !(rect.height > 0) || !(rect.x == rect.x) || !(rect.y == rect.y)) return nullptr;
  const double left = std::max(0.0, std::floor(rect.x)), top = std::max(0.0, std::floor(rect.y));
  const double right = std::min(double(image->width()), std::floor(rect.x + rect.width));
  const double bottom = std::min(double(image->height()), std::floor(rect.y + rect.height));
  if (right <= left || bottom <= top) return nullptr;
  const CLongRect_AC cut{int32_t(top), int32_t(left), int32_t(bottom), int32_t(right)};
  host::GWorldHandle out = myNewGWorld(CLongRect_AC(0, 0, int32_t(bottom - top), int32_t(right - left)));
  if (!out) return nullptr;
  copyGWorldToGWorld(image.get(), out.get(), cut, out->bounds());
  return out;
}

std::optional<std::string> createUniqueNameFromPath(const std::string& path) {
  if (path.empty()) {
    platform::LogLine("createUniqueNameFromPath: no path");
    return std::nullopt;
  }
  if (!Exists(path)) return path;
  const fs::path p(path);
  const std::string folder = p.parent_path().string();
  const std::string stem = p.stem().string();
  std::string ext = p.extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  auto candidate = [&](const std::string& name) { return folder.empty() ? name : host::JoinPath(folder, name); };
  std::string next = candidate(stem + " copy." + ext);
  if (!Exists(next)) return next;
  for (int i = 1; i <= 32000; ++i) {
    next = candidate(stem + " copy " + std::to_string(i) + "." + ext);
    if (!Exists(next)) return next;
  }
  platform::LogF("createUniqueNameFromPath: no free name for [%s]", path.c_str());
  return std::nullopt;
}

bool doCopyTheFileNew(FileCopyRequest& request) {
  if (request.pathToSrcItem.empty() || !Exists(request.pathToSrcItem)) return false;
  if (request.pathToDestItem.empty()) {
    platform::LogLine("dstPath is NIL...");
    return false;
  }
  // The missing folders, each made in the one above it (from a held folder,
  // never through a link: see host/files/HeldFolders.h).
  std::vector<fs::path> missing;
  for (fs::path f = fs::path(request.pathToDestItem).parent_path(); !f.empty() && !Exists(f.string());
       f = f.parent_path()) {
    missing.push_back(f);
    if (f == f.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    if (const OSErr err = host::CreateFolder(it->string(), 0755); err != noErr && err != dupFNErr) {
      platform::LogF("doCopyTheFileNew: cannot create [%s]: error %d", it->c_str(), int(err));
      return false;
    }
  if (Exists(request.pathToDestItem)) {
    if (request.doOverwrite) {
      // Copying a file onto itself leaves it as it is; removing the
      // destination first would remove the source.
      if (host::SameItem(request.pathToSrcItem, request.pathToDestItem)) {
        platform::LogF("doCopyTheFileNew: [%s] is the source itself; nothing to copy",
                       request.pathToDestItem.c_str());
        return true;
      }
    } else {
      const std::optional<std::string> free = createUniqueNameFromPath(request.pathToDestItem);
      if (!free) {
        platform::LogLine("doCopyTheFileNew: no free name for the destination");
        return false;
      }
      request.pathToDestItem = *free;
    }
  }
  // With overwrite the old file is replaced only once the copy is complete,
  // so a failed copy keeps it.
  const OSErr err = host::CopyFile(request.pathToSrcItem, request.pathToDestItem, request.doOverwrite);
  if (err != noErr) {
    platform::LogF("doCopyTheFileNew: copy failed with error %d", err);
    return false;
  }
  return true;
}
