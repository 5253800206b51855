// Camera raw files through LibRaw's C interface, from memory. The decoded
// image is LibRaw's 8-bit sRGB rendering with the camera's white balance;
// LibRaw is told not to turn it, and its turn is reported as the EXIF
// orientation, as for the other formats.
#include <libraw/libraw.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/files/NoLinkFile.h"
#include "host/imageio/Codecs.h"
#include "host/sys/Process.h"

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

// What a child that ran the decoder wrote: a kind byte, then for kFailed
// the reason, for kInfo and kImage the width, height and EXIF orientation
// (int32 each, in this machine's order: both ends are this program), and
// for kImage the pixel rows, 4 bytes a pixel as the offscreen keeps them.
enum : char { kFailed = 'F', kInfo = 'I', kImage = 'D' };

// The longest a child may take over one file: a large camera's raw file
// takes a few seconds.
constexpr std::chrono::seconds kRawDecodeLimit{120};

bool WriteAll(int fd, const void* data, size_t size) {
  return WriteAllBytes(fd, std::string_view(static_cast<const char*>(data), size)) == 0;
}

int WriteFailure(int fd, const ImageStatus& status) {
  const char kind = kFailed;
  return WriteAll(fd, &kind, 1) && WriteAll(fd, status.error.data(), status.error.size()) ? 0 : 1;
}

bool WriteHeader(int fd, char kind, int32_t width, int32_t height, int32_t orientation) {
  const int32_t fields[3] = {width, height, orientation};
  return WriteAll(fd, &kind, 1) && WriteAll(fd, fields, sizeof fields);
}

// The child's work for RawReadInfo.
int ReadInfoInChild(std::span<const uint8_t> data, int fd) {
  RawHandle raw;
  ImageInfo info;
  if (ImageStatus status = OpenRaw(data, &raw, &info); !status.ok()) return WriteFailure(fd, status);
  return WriteHeader(fd, kInfo, info.width, info.height, info.orientation) ? 0 : 1;
}

// The child's work for RawDecode.
int DecodeInChild(std::span<const uint8_t> data, int fd) {
  RawHandle raw;
  ImageInfo info;
  if (ImageStatus status = OpenRaw(data, &raw, &info); !status.ok()) return WriteFailure(fd, status);
  if (const std::string why = MissingRawData(raw.get(), data.size()); !why.empty())
    return WriteFailure(fd, ImageStatus::Fail("camera raw: " + why));
  raw->params.user_flip = 0;
  raw->params.output_bps = 8;
  raw->params.use_camera_wb = 1;
  raw->params.output_color = 1;  // sRGB
  if (int rc = libraw_unpack(raw.get()); rc != LIBRAW_SUCCESS) return WriteFailure(fd, RawFail("unpack", rc));
  if (int rc = libraw_dcraw_process(raw.get()); rc != LIBRAW_SUCCESS)
    return WriteFailure(fd, RawFail("processing", rc));
  int rc = LIBRAW_SUCCESS;
  libraw_processed_image_t* image = libraw_dcraw_make_mem_image(raw.get(), &rc);
  if (!image) return WriteFailure(fd, RawFail("image", rc));
  std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> owned(image,
                                                                                      libraw_dcraw_clear_mem);
  if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 || (image->colors != 3 && image->colors != 1) ||
      uint64_t(image->width) * image->height * image->colors > image->data_size) {
    return WriteFailure(fd, ImageStatus::Fail("camera raw: unexpected image layout from the decoder"));
  }
  if (const char* why = CheckImageSize(image->width, image->height))
    return WriteFailure(fd, ImageStatus::Fail(why));
  if (!WriteHeader(fd, kImage, image->width, image->height, info.orientation)) return 1;
  const int colors = image->colors;
  std::vector<uint8_t> row(size_t(image->width) * 4);
  for (int y = 0; y < image->height; ++y) {
    const uint8_t* src = image->data + size_t(y) * image->width * colors;
    uint8_t* dst = row.data();
    for (int x = 0; x < image->width; ++x, src += colors, dst += 4) {
      dst[0] = 0xFF;
      dst[1] = src[0];
      dst[2] = src[colors == 3 ? 1 : 0];
      dst[3] = src[colors == 3 ? 2 : 0];
    }
    if (!WriteAll(fd, row.data(), row.size())) return 1;
  }
  return 0;
}

// Runs the decoder on `data` in a child (LibRaw's parsers have faults that
// crash or never end on a damaged file: the job fails, not the program)
// and checks what it wrote: the kind byte and the three header fields,
// or the failure it reported.
ImageStatus RunDecoder(std::span<const uint8_t> data, bool decode, char want, int32_t header[3], std::string* out) {
  ProcessOptions options;
  options.timeout = kRawDecodeLimit;
  options.stopOnTermination = true;
  ProcessResult child =
      runForked([&](int fd) { return decode ? DecodeInChild(data, fd) : ReadInfoInChild(data, fd); }, options);
  if (!child.started) return ImageStatus::Fail("camera raw: " + child.error);
  if (child.interrupted) return ImageStatus::Fail("camera raw: stopped, as the program is ending");
  if (child.timedOut)
    return ImageStatus::Fail("camera raw: the decoder did not finish this file within " +
                             std::to_string(kRawDecodeLimit.count()) + " s");
  if (child.termSignal != 0)
    return ImageStatus::Fail("camera raw: the decoder failed on this file (" +
                             std::string(strsignal(child.termSignal)) + ")");
  std::string& bytes = child.output;
  if (child.exitStatus == 0 && !bytes.empty() && bytes[0] == kFailed) return ImageStatus::Fail(bytes.substr(1));
  if (child.exitStatus != 0 || bytes.size() < 1 + 3 * sizeof(int32_t) || bytes[0] != want)
    return ImageStatus::Fail("camera raw: the decoder failed on this file");
  std::memcpy(header, bytes.data() + 1, 3 * sizeof(int32_t));
  if (out) *out = std::move(bytes);
  return {};
}

void SetRawInfo(ImageInfo* info, const int32_t header[3]) {
  info->format = ImageFormat::kCameraRaw;
  info->width = header[0];
  info->height = header[1];
  info->bitsPerSample = 8;
  info->samplesPerPixel = 3;
  info->colorModel = ImageColorModel::kRGB;
  info->hasAlpha = false;
  info->orientation = header[2];
}

}  // namespace

ImageStatus RawReadInfo(std::span<const uint8_t> data, ImageInfo* info) {
  if (data.empty()) return ImageStatus::Fail("camera raw: no data");
  int32_t header[3] = {};
  ImageStatus status = RunDecoder(data, false, kInfo, header, nullptr);
  if (status.ok()) SetRawInfo(info, header);
  return status;
}

ImageStatus RawDecode(std::span<const uint8_t> data, ImageInfo* info, GWorldHandle* out) {
  if (data.empty()) return ImageStatus::Fail("camera raw: no data");
  int32_t header[3] = {};
  std::string bytes;
  ImageStatus status = RunDecoder(data, true, kImage, header, &bytes);
  if (!status.ok()) return status;
  SetRawInfo(info, header);
  const int32_t width = header[0], height = header[1];
  if (const char* why = CheckImageSize(width, height)) return ImageStatus::Fail(why);
  const size_t rowBytes = size_t(width) * 4, first = 1 + 3 * sizeof(int32_t);
  if (bytes.size() != first + rowBytes * size_t(height))
    return ImageStatus::Fail("camera raw: the decoder failed on this file");
  GWorldHandle world = GWorld::Create(CLongRect_AC(0, 0, height, width));
  if (!world) return ImageStatus::Fail("camera raw: no memory for the image");
  for (int32_t y = 0; y < height; ++y) std::memcpy(world->scanline(y), bytes.data() + first + rowBytes * y, rowBytes);
  *out = std::move(world);
  return {};
}

}  // namespace host::imageio
