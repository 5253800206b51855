// Camera raw files through LibRaw's C interface, from memory. The decoded
// image is LibRaw's 8-bit sRGB rendering with the camera's white balance;
// LibRaw is told not to turn it, and its turn is reported as the EXIF
// orientation, as for the other formats.
#include <libraw/libraw.h>

#include <memory>

#include "host/imageio/Codecs.h"

namespace host::imageio {
namespace {

struct RawCloser {
  void operator()(libraw_data_t* raw) const { libraw_close(raw); }
};
using RawHandle = std::unique_ptr<libraw_data_t, RawCloser>;

ImageStatus RawFail(const char* what, int code) {
  return ImageStatus::Fail(std::string("camera raw: ") + what + ": " + libraw_strerror(code));
}

// LibRaw's turn code as an EXIF orientation.
int OrientationOf(int flip) {
  switch (flip) {
    case 3: return 3;
    case 5: return 8;
    case 6: return 6;
    default: return 1;
  }
}

ImageStatus OpenRaw(std::span<const uint8_t> data, RawHandle* out, ImageInfo* info) {
  RawHandle raw(libraw_init(LIBRAW_OPIONS_NO_DATAERR_CALLBACK));
  if (!raw) return ImageStatus::Fail("camera raw: the decoder cannot be started");
  if (data.empty()) return ImageStatus::Fail("camera raw: no data");
  const int rc = libraw_open_buffer(raw.get(), const_cast<uint8_t*>(data.data()), data.size());
  if (rc != LIBRAW_SUCCESS) return RawFail("not a raw file the decoder knows", rc);
  const libraw_image_sizes_t& sizes = raw->sizes;
  if (const char* why = CheckImageSize(sizes.width, sizes.height)) return ImageStatus::Fail(why);
  info->format = ImageFormat::kCameraRaw;
  info->width = sizes.width;
  info->height = sizes.height;
  info->bitsPerSample = 8;
  info->samplesPerPixel = 3;
  info->colorModel = ImageColorModel::kRGB;
  info->hasAlpha = false;
  info->orientation = OrientationOf(sizes.flip);
  *out = std::move(raw);
  return {};
}

// The most pixels one byte of a camera's raw data stands for. Lossless
// raw data takes at least a bit a sample; lossy (JPEG-compressed) DNG files,
// the most compressed a camera or converter writes, take about a bit a pixel
// in a photo and never less than a bit or two an 8 x 8 block; 64 pixels a
// byte leaves room for either.
constexpr uint64_t kRawPixelsPerByte = 64;

// Why the file cannot hold the raw image its header describes; empty when
// it can. The decoder sizes its buffers from the header and fills what the
// data lacks with nothing, so a header alone would take gigabytes.
std::string MissingRawData(libraw_data_t* raw, uint64_t fileSize) {
  auto* decoder = static_cast<LibRaw*>(raw->parent_class);
  const unpacker_data_t& unpacker = decoder->get_internal_data_pointer()->unpacker_data;
  const uint64_t offset = uint64_t(unpacker.data_offset);
  if (unpacker.data_offset < 0 || offset >= fileSize) return "the raw image data lies beyond the end of the file";
  // The size is that of the first strip or tile where there are several.
  if (unpacker.data_size > fileSize - offset) return "the file ends before its raw image data";
  const uint64_t pixels = uint64_t(raw->sizes.raw_width) * raw->sizes.raw_height;
  if (pixels > (fileSize - offset) * kRawPixelsPerByte) return "the file is too short for the raw image it describes";
  return {};
}

}  // namespace

ImageStatus RawReadInfo(std::span<const uint8_t> data, ImageInfo* info) {
  RawHandle raw;
  return OpenRaw(data, &raw, info);
}

ImageStatus RawDecode(std::span<const uint8_t> data, ImageInfo* info, GWorldHandle* out) {
  RawHandle raw;
  ImageStatus status = OpenRaw(data, &raw, info);
  if (!status.ok()) return status;
  if (const std::string why = MissingRawData(raw.get(), data.size()); !why.empty())
    return ImageStatus::Fail("camera raw: " + why);
  raw->params.user_flip = 0;
  raw->params.output_bps = 8;
  raw->params.use_camera_wb = 1;
  raw->params.output_color = 1;  // sRGB
  if (int rc = libraw_unpack(raw.get()); rc != LIBRAW_SUCCESS) return RawFail("unpack", rc);
  if (int rc = libraw_dcraw_process(raw.get()); rc != LIBRAW_SUCCESS) return RawFail("processing", rc);
  int rc = LIBRAW_SUCCESS;
  libraw_processed_image_t* image = libraw_dcraw_make_mem_image(raw.get(), &rc);
  if (!image) return RawFail("image", rc);
  std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> owned(image,
                                                                                      libraw_dcraw_clear_mem);
  if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 || (image->colors != 3 && image->colors != 1) ||
      uint64_t(image->width) * image->height * image->colors > image->data_size) {
    return ImageStatus::Fail("camera raw: unexpected image layout from the decoder");
  }
  if (const char* why = CheckImageSize(image->width, image->height)) return ImageStatus::Fail(why);
  GWorldHandle world = GWorld::Create(CLongRect_AC(0, 0, image->height, image->width));
  if (!world) return ImageStatus::Fail("camera raw: no memory for the image");
  const int colors = image->colors;
  for (int y = 0; y < image->height; ++y) {
    const uint8_t* src = image->data + size_t(y) * image->width * colors;
    uint8_t* dst = world->scanline(y);
    for (int x = 0; x < image->width; ++x, src += colors, dst += 4) {
      dst[0] = 0xFF;
      dst[1] = src[0];
      dst[2] = src[colors == 3 ? 1 : 0];
      dst[3] = src[colors == 3 ? 2 : 0];
    }
  }
  info->width = image->width;
  info->height = image->height;
  *out = std::move(world);
  return {};
}

}  // namespace host::imageio
