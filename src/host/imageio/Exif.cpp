// EXIF fields and ICC profile changes through exiv2, on files held in
// memory. exiv2 reports failures by throwing; nothing it throws leaves this
// file.
#include <exiv2/exiv2.hpp>

#include <cmath>
#include <mutex>

#include "host/imageio/Codecs.h"

namespace host::imageio {
namespace {

void InitialiseExiv2Once() {
  static std::once_flag once;
  std::call_once(once, [] {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    // The XMP toolkit's set-up is not thread-safe; do it before any reader.
    Exiv2::XmpParser::initialize();
  });
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

}  // namespace

void ReadExifFields(std::span<const uint8_t> data, ImageInfo* info) {
  InitialiseExiv2Once();
  try {
    auto image = Exiv2::ImageFactory::open(data.data(), static_cast<long>(data.size()));
    if (!image.get()) return;
    image->readMetadata();
    const Exiv2::ExifData& exif = image->exifData();
    auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (it != exif.end() && it->count() > 0) info->orientation = static_cast<int>(it->toLong());
    it = exif.findKey(Exiv2::ExifKey("Exif.Photo.UserComment"));
    if (it != exif.end()) {
      if (const auto* comment = dynamic_cast<const Exiv2::CommentValue*>(&it->value())) {
        info->userComment = comment->comment();
      }
    }
    if (info->xDpi <= 0 || info->yDpi <= 0) {
      auto x = exif.findKey(Exiv2::ExifKey("Exif.Image.XResolution"));
      auto y = exif.findKey(Exiv2::ExifKey("Exif.Image.YResolution"));
      auto unit = exif.findKey(Exiv2::ExifKey("Exif.Image.ResolutionUnit"));
      const long unitValue = unit != exif.end() && unit->count() > 0 ? unit->toLong() : 2;
      if (x != exif.end() && y != exif.end() && x->count() > 0 && y->count() > 0 && unitValue != 1) {
        const double perInch = unitValue == 3 ? 2.54 : 1.0;
        const double xv = x->toFloat(), yv = y->toFloat();
        if (xv > 0 && yv > 0 && std::isfinite(xv) && std::isfinite(yv)) {
          info->xDpi = xv * perInch;
          info->yDpi = yv * perInch;
        }
      }
    }
  } catch (...) {
    // An unreadable EXIF block is the same as none.
  }
}

ImageStatus ApplyMetadataUpdate(std::vector<uint8_t>& fileBytes, const ImageMetadataUpdate& update) {
  if (update.orientation && (*update.orientation < 1 || *update.orientation > 8)) {
    return ImageStatus::Fail("EXIF orientation must be 1 to 8");
  }
  InitialiseExiv2Once();
  try {
    auto image = Exiv2::ImageFactory::open(fileBytes.data(), static_cast<long>(fileBytes.size()));
    if (!image.get()) return ImageStatus::Fail("metadata: unknown file format");
    image->readMetadata();
    Exiv2::ExifData& exif = image->exifData();
    if (update.orientation) exif["Exif.Image.Orientation"] = static_cast<uint16_t>(*update.orientation);
    if (update.userComment) {
      // The charset prefix is how exiv2 is told the comment's encoding; it is
      // not part of the stored text.
      exif["Exif.Photo.UserComment"] =
          (IsAscii(*update.userComment) ? "charset=Ascii " : "charset=Unicode ") + *update.userComment;
    }
    // exiv2 writes a PNG profile chunk without the profile name PNG
    // requires, so PNG profiles are replaced by our own chunk writer below.
    const bool png = image->imageType() == Exiv2::ImageType::png;
    if (update.iccProfile && !png) {
      if (update.iccProfile->empty()) {
        image->clearIccProfile();
      } else {
        Exiv2::DataBuf profile(update.iccProfile->data(), static_cast<long>(update.iccProfile->size()));
        image->setIccProfile(profile, false);
      }
    }
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    if (io.open() != 0) return ImageStatus::Fail("metadata: cannot read the rewritten file");
    const long size = static_cast<long>(io.size());
    Exiv2::DataBuf rewritten = io.read(size);
    io.close();
    if (rewritten.size_ != size) return ImageStatus::Fail("metadata: cannot read the rewritten file");
    fileBytes.assign(rewritten.pData_, rewritten.pData_ + rewritten.size_);
    if (update.iccProfile && png) return ReplacePngIccProfile(fileBytes, *update.iccProfile);
  } catch (const std::exception& e) {
    return ImageStatus::Fail(std::string("metadata: ") + e.what());
  } catch (...) {
    return ImageStatus::Fail("metadata: cannot write");
  }
  return {};
}

}  // namespace host::imageio
