// PNG through libpng. libpng's error callback must not return: ours records
// the message and jumps back to the setjmp in the one function that drives
// the library. Those functions keep only plain C data in their own frame; the
// records with destructors belong to their callers.
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "host/base/ByteOrder.h"
#include "host/imageio/Codecs.h"

namespace host::imageio {
namespace {

constexpr double kMetresPerInch = 0.0254;

struct DecodeJob {
  std::span<const uint8_t> data;
  size_t offset = 0;
  bool headerOnly = false;
  ImageInfo* info = nullptr;
  GWorldHandle image;
  char message[200] = {};
  png_structp png = nullptr;
  png_infop pinfo = nullptr;
};

void OnError(png_structp png, png_const_charp message) {
  auto* text = static_cast<char*>(png_get_error_ptr(png));
  std::snprintf(text, 200, "%s", message);
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* job = static_cast<DecodeJob*>(png_get_io_ptr(png));
  if (length > job->data.size() - job->offset) png_error(png, "file is truncated");
  std::memcpy(out, job->data.data() + job->offset, length);
  job->offset += length;
}

// The most a byte of deflate data expands to is 1,032 bytes (a run of 258
// copied bytes in under two bits), with room to spare.
constexpr uint64_t kMostDeflateExpansion = 1100;

// The bytes of image data the file holds: the lengths of its IDAT chunks,
// as far as they lie in the file.
uint64_t ImageDataBytes(std::span<const uint8_t> data) {
  uint64_t total = 0;
  for (size_t at = 8; data.size() - at >= 12;) {
    const uint32_t length = LoadBE32(data.data() + at);
    if (length > data.size() - at - 12) break;
    if (std::memcmp(data.data() + at + 4, "IDAT", 4) == 0) total += length;
    if (std::memcmp(data.data() + at + 4, "IEND", 4) == 0) break;
    at += 12 + size_t(length);
  }
  return total;
}

bool RunDecode(DecodeJob* job) {
  job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job->message, OnError, OnWarning);
  if (!job->png) return false;
  job->pinfo = png_create_info_struct(job->png);
  if (!job->pinfo) return false;
  png_structp png = job->png;
  png_infop pinfo = job->pinfo;
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, job, ReadFromMemory);
  png_set_benign_errors(png, 1);
  png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
  png_read_info(png, pinfo);

  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
  png_get_IHDR(png, pinfo, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);
  ImageInfo* info = job->info;
  info->format = ImageFormat::kPng;
  info->width = static_cast<int32_t>(width);
  info->height = static_cast<int32_t>(height);
  info->bitsPerSample = bitDepth;
  info->samplesPerPixel = png_get_channels(png, pinfo);
  info->hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, pinfo, PNG_INFO_tRNS);
  info->colorModel = colorType == PNG_COLOR_TYPE_PALETTE            ? ImageColorModel::kPalette
                     : (colorType & PNG_COLOR_MASK_COLOR) != 0 ? ImageColorModel::kRGB
                                                               : ImageColorModel::kGrey;
  png_uint_32 xPerMetre = 0, yPerMetre = 0;
  int unit = 0;
  if (png_get_pHYs(png, pinfo, &xPerMetre, &yPerMetre, &unit) && unit == PNG_RESOLUTION_METER) {
    info->xDpi = xPerMetre * kMetresPerInch;
    info->yDpi = yPerMetre * kMetresPerInch;
  }
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileLength = 0;
  if (png_get_iCCP(png, pinfo, &name, &compression, &profile, &profileLength) && profile) {
    info->iccProfile.assign(profile, profile + profileLength);
  }
  if (job->headerOnly) return true;

  if (const char* sizeError = CheckImageSize(width, height)) {
    std::snprintf(job->message, sizeof job->message, "%s", sizeError);
    return false;
  }
  // The rows as stored, filter bytes aside, against the most the file's
  // compressed image data can give: no room is made for an image the file
  // cannot hold.
  const uint64_t storedRow = (uint64_t(width) * png_get_channels(png, pinfo) * uint64_t(bitDepth) + 7) / 8;
  if (storedRow * height > ImageDataBytes(job->data) * kMostDeflateExpansion) {
    std::snprintf(job->message, sizeof job->message, "the file is too short for the image it describes");
    return false;
  }
  png_set_scale_16(png);
  png_set_expand(png);  // palette to RGB, grey below 8 bits to 8, tRNS to alpha
  png_set_gray_to_rgb(png);
  if (info->hasAlpha) {
    png_set_swap_alpha(png);  // RGBA to ARGB
  } else {
    png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, pinfo);
  if (png_get_rowbytes(png, pinfo) != size_t(width) * 4) png_error(png, "unexpected row layout");
  job->image = GWorld::CreateUninitialized(CLongRect_AC(0, 0, static_cast<int32_t>(height), static_cast<int32_t>(width)));
  if (!job->image) png_error(png, "not enough memory for the image");
  for (int pass = 0; pass < passes; ++pass) {
    for (int32_t y = 0; y < job->image->height(); ++y) png_read_row(png, job->image->scanline(y), nullptr);
  }
  png_read_end(png, nullptr);
  return true;
}

ImageStatus Decode(std::span<const uint8_t> data, bool headerOnly, ImageInfo* info, GWorldHandle* out) {
  DecodeJob job;
  job.data = data;
  job.headerOnly = headerOnly;
  job.info = info;
  const bool ok = RunDecode(&job);
  if (job.png) png_destroy_read_struct(&job.png, job.pinfo ? &job.pinfo : nullptr, nullptr);
  if (!ok) return ImageStatus::Fail(std::string("PNG: ") + (job.message[0] ? job.message : "cannot read"));
  if (out) *out = std::move(job.image);
  return {};
}

struct EncodeJob {
  const GWorld* image = nullptr;
  const ImageWriteOptions* options = nullptr;
  std::vector<uint8_t>* out = nullptr;
  char message[200] = {};
  png_structp png = nullptr;
  png_infop pinfo = nullptr;
};

void WriteToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* job = static_cast<EncodeJob*>(png_get_io_ptr(png));
  try {
    job->out->insert(job->out->end(), data, data + length);
  } catch (const std::bad_alloc&) {
    png_error(png, "not enough memory for the file");
  }
}

void FlushNothing(png_structp) {}

bool RunEncode(EncodeJob* job) {
  job->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, job->message, OnError, OnWarning);
  if (!job->png) return false;
  job->pinfo = png_create_info_struct(job->png);
  if (!job->pinfo) return false;
  png_structp png = job->png;
  png_infop pinfo = job->pinfo;
  if (setjmp(png_jmpbuf(png))) return false;
  const GWorld& image = *job->image;
  const ImageWriteOptions& options = *job->options;
  png_set_write_fn(png, job, WriteToVector, FlushNothing);
  png_set_IHDR(png, pinfo, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()), 8,
               options.keepAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  const double dpi = options.dpi > 0 ? options.dpi : 72.0;
  const auto perMetre = static_cast<png_uint_32>(std::lround(dpi / kMetresPerInch));
  png_set_pHYs(png, pinfo, perMetre, perMetre, PNG_RESOLUTION_METER);
  if (!options.iccProfile.empty()) {
    png_set_iCCP(png, pinfo, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, options.iccProfile.data(),
                 static_cast<png_uint_32>(options.iccProfile.size()));
  }
  png_write_info(png, pinfo);
  if (options.keepAlpha) {
    png_set_swap_alpha(png);  // our ARGB rows to the file's RGBA
  } else {
    png_set_filler(png, 0, PNG_FILLER_BEFORE);  // drop the leading alpha byte
  }
  for (int32_t y = 0; y < image.height(); ++y) png_write_row(png, const_cast<png_bytep>(image.scanline(y)));
  png_write_end(png, pinfo);
  return true;
}

}  // namespace

ImageStatus PngReadInfo(std::span<const uint8_t> data, ImageInfo* info) {
  return Decode(data, true, info, nullptr);
}

ImageStatus PngDecode(std::span<const uint8_t> data, ImageInfo* info, GWorldHandle* out) {
  return Decode(data, false, info, out);
}

ImageStatus PngEncode(const GWorld& image, const ImageWriteOptions& options, std::vector<uint8_t>* out) {
  out->clear();
  EncodeJob job;
  job.image = &image;
  job.options = &options;
  job.out = out;
  const bool ok = RunEncode(&job);
  if (job.png) png_destroy_write_struct(&job.png, job.pinfo ? &job.pinfo : nullptr);
  if (!ok) {
    out->clear();
    return ImageStatus::Fail(std::string("PNG: ") + (job.message[0] ? job.message : "cannot write"));
  }
  return {};
}

}  // namespace host::imageio
