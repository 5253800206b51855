#include "host/imageio/ImageFile.h"

#include <algorithm>

#include "host/files/FileOps.h"
#include "host/imageio/Codecs.h"

namespace host {
namespace imageio {

const char* CheckImageSize(uint64_t width, uint64_t height) {
  if (width == 0 || height == 0) return "the image has no pixels";
  if (width > INT32_MAX || height > INT32_MAX || width * height > kMaxPixels) return "the image is too large";
  return nullptr;
}

}  // namespace imageio

namespace {

// Image files larger than this are not photos or pages but damage.
constexpr uint64_t kMaxFileBytes = uint64_t(1) << 30;

std::string Quoted(const std::filesystem::path& path) {
  std::string text(1, '"');
  text += path.filename().string();
  text += "\": ";
  return text;
}

}  // namespace

bool DataMayMakeImage(uint64_t imageBytes, uint64_t dataBytes) {
  constexpr uint64_t kFreeBytes = uint64_t(192) << 20, kBytesPerDataByte = 32768;
  return imageBytes <= kFreeBytes || dataBytes >= (imageBytes + kBytesPerDataByte - 1) / kBytesPerDataByte;
}

ImageFormat DetectImageFormat(std::span<const uint8_t> head) {
  auto starts = [&](std::initializer_list<uint8_t> magic) {
    return head.size() >= magic.size() && std::equal(magic.begin(), magic.end(), head.begin());
  };
  if (starts({0xFF, 0xD8, 0xFF})) return ImageFormat::kJpeg;
  if (starts({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return ImageFormat::kPng;
  if (starts({'I', 'I', 42, 0}) || starts({'M', 'M', 0, 42}) || starts({'I', 'I', 43, 0}) ||
      starts({'M', 'M', 0, 43})) {
    return ImageFormat::kTiff;
  }
  return ImageFormat::kUnknown;
}

const char* ImageFormatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::kJpeg: return "JPEG";
    case ImageFormat::kPng: return "PNG";
    case ImageFormat::kTiff: return "TIFF";
    case ImageFormat::kCameraRaw: return "camera raw";
    case ImageFormat::kUnknown: break;
  }
  return "unknown";
}

ImageInfoResult ReadImageInfo(std::span<const uint8_t> data) {
  ImageInfoResult result;
  ImageStatus status;
  switch (DetectImageFormat(data)) {
    case ImageFormat::kJpeg: status = imageio::JpegReadInfo(data, &result.info); break;
    case ImageFormat::kPng: status = imageio::PngReadInfo(data, &result.info); break;
    case ImageFormat::kTiff:
      status = imageio::TiffIsCameraRaw(data) ? imageio::RawReadInfo(data, &result.info)
                                              : imageio::TiffReadInfo(data, &result.info);
      break;
    case ImageFormat::kCameraRaw:
    case ImageFormat::kUnknown:
      status = imageio::RawReadInfo(data, &result.info);
      if (!status.ok()) status = ImageStatus::Fail("not a JPEG, PNG, TIFF or camera raw file");
      break;
  }
  if (status.ok() && result.info.format == ImageFormat::kCameraRaw) return result;
  if (!status.ok()) {
    result.error = status.error;
    return result;
  }
  imageio::ReadExifFields(data, &result.info);
  return result;
}

ImageInfoResult ReadImageInfo(const std::filesystem::path& path) {
  std::vector<uint8_t> bytes;
  ImageInfoResult result;
  if (!ReadWholeFile(path.string(), kMaxFileBytes, &bytes, &result.error)) return result;
  result = ReadImageInfo(bytes);
  if (!result.ok()) result.error = Quoted(path) + result.error;
  return result;
}

ImageReadResult DecodeImage(std::span<const uint8_t> data, const ImageReadOptions& options) {
  ImageReadResult result;
  const int scale = options.scaleDenominator;
  if (scale != 1 && scale != 2 && scale != 4 && scale != 8) {
    result.error = "the scale must be 1, 1/2, 1/4 or 1/8";
    return result;
  }
  ImageStatus status;
  switch (DetectImageFormat(data)) {
    case ImageFormat::kJpeg:
      status = imageio::JpegDecode(data, options.scaleDenominator, &result.info, &result.image, options.keepCmyk,
                                   &result.cmyk);
      break;
    case ImageFormat::kPng: status = imageio::PngDecode(data, &result.info, &result.image); break;
    case ImageFormat::kTiff:
      status = imageio::TiffIsCameraRaw(data) ? imageio::RawDecode(data, &result.info, &result.image)
                                              : imageio::TiffDecode(data, &result.info, &result.image, options.keepCmyk,
                                                                      &result.cmyk, &result.inkAlpha);
      break;
    case ImageFormat::kCameraRaw:
    case ImageFormat::kUnknown:
      status = imageio::RawDecode(data, &result.info, &result.image);
      if (!status.ok() && result.info.format != ImageFormat::kCameraRaw) {
        status = ImageStatus::Fail("not a JPEG, PNG, TIFF or camera raw file");
      }
      break;
  }
  if (!status.ok()) {
    result.image.reset();
    result.cmyk = false;
    result.inkAlpha.clear();
    result.error = status.error;
    return result;
  }
  // The raw decoder reports the camera's orientation itself.
  if (result.info.format == ImageFormat::kCameraRaw) return result;
  if (options.readExif) imageio::ReadExifFields(data, &result.info);
  return result;
}

void ConvertCmykToRgb(GWorld& image) {
  for (int32_t y = 0; y < image.height(); ++y) {
    uint8_t* p = image.scanline(y);
    for (int32_t x = 0; x < image.width(); ++x, p += 4) {
      const unsigned c = 255u - p[0], m = 255u - p[1], yl = 255u - p[2], k = 255u - p[3];
      p[0] = 0xFF;
      p[1] = static_cast<uint8_t>((c * k + 127) / 255);
      p[2] = static_cast<uint8_t>((m * k + 127) / 255);
      p[3] = static_cast<uint8_t>((yl * k + 127) / 255);
    }
  }
}

void PutAlpha(GWorld& image, std::span<const uint8_t> alpha) {
  const size_t width = size_t(std::max(image.width(), 0));
  if (alpha.empty() || alpha.size() != width * size_t(std::max(image.height(), 0))) return;
  for (int32_t y = 0; y < image.height(); ++y) {
    uint8_t* p = image.scanline(y);
    const uint8_t* a = alpha.data() + size_t(y) * width;
    for (size_t x = 0; x < width; ++x) p[x * 4] = a[x];
  }
}

ImageReadResult ReadImageFile(const std::filesystem::path& path, const ImageReadOptions& options) {
  std::vector<uint8_t> bytes;
  ImageReadResult result;
  if (!ReadWholeFile(path.string(), kMaxFileBytes, &bytes, &result.error)) return result;
  result = DecodeImage(bytes, options);
  if (!result.ok()) result.error = Quoted(path) + result.error;
  return result;
}

ImageStatus EncodeImage(const GWorld& image, ImageFormat format, const ImageWriteOptions& options,
                        std::vector<uint8_t>* out) {
  if (options.orientation != 0 && (options.orientation < 1 || options.orientation > 8)) {
    return ImageStatus::Fail("EXIF orientation must be 1 to 8");
  }
  ImageStatus status;
  switch (format) {
    case ImageFormat::kJpeg: status = imageio::JpegEncode(image, options, out); break;
    case ImageFormat::kPng: status = imageio::PngEncode(image, options, out); break;
    case ImageFormat::kTiff: status = imageio::TiffEncode(image, options, out); break;
    case ImageFormat::kCameraRaw: return ImageStatus::Fail("camera raw files are not written");
    case ImageFormat::kUnknown: return ImageStatus::Fail("no image format given");
  }
  if (!status.ok()) return status;
  ImageMetadataUpdate exif;
  // TIFF carries the orientation as a tag of its own, written by the encoder.
  if (options.orientation != 0 && format != ImageFormat::kTiff) exif.orientation = options.orientation;
  exif.userComment = options.userComment;
  if (exif.orientation || exif.userComment) status = imageio::ApplyMetadataUpdate(*out, exif);
  if (!status.ok()) out->clear();
  return status;
}

ImageStatus WriteImageFile(const GWorld& image, const std::filesystem::path& path, ImageFormat format,
                           const ImageWriteOptions& options) {
  std::vector<uint8_t> bytes;
  ImageStatus status = EncodeImage(image, format, options, &bytes);
  if (!status.ok()) return ImageStatus::Fail(Quoted(path) + status.error);
  std::string error;
  if (!WriteFileAtomically(path.string(), bytes, 0666, &error)) return ImageStatus::Fail(error);
  return {};
}

ImageStatus UpdateImageMetadata(std::vector<uint8_t>& fileBytes, const ImageMetadataUpdate& update) {
  if (DetectImageFormat(fileBytes) == ImageFormat::kUnknown) {
    return ImageStatus::Fail("not a JPEG, PNG or TIFF file");
  }
  return imageio::ApplyMetadataUpdate(fileBytes, update);
}

ImageStatus UpdateImageMetadata(const std::filesystem::path& path, const ImageMetadataUpdate& update) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadWholeFile(path.string(), kMaxFileBytes, &bytes, &error)) return ImageStatus::Fail(error);
  ImageStatus status = UpdateImageMetadata(bytes, update);
  if (!status.ok()) return ImageStatus::Fail(Quoted(path) + status.error);
  if (!WriteFileAtomically(path.string(), bytes, 0666, &error)) return ImageStatus::Fail(error);
  return {};
}

}  // namespace host
