// TIFF through libtiff, reading from and writing to memory through client
// I/O procedures. libtiff's errors and warnings go to per-handle handlers
// that record the first error instead of printing it.
//
// Decoding uses libtiff's RGBA reader, which handles every photometric
// interpretation, bit depth (16-bit samples are reduced to 8) and
// compression the library knows. It is asked for the rows in their stored
// order, so the Orientation tag is reported and not applied, as for JPEG.
// CMYK files in strips (8 or 16 bits per sample) are read as inks instead,
// kept for a caller that converts them through the file's profile, else
// brought to RGB without one.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "host/imageio/Codecs.h"

namespace host::imageio {
namespace {

struct MemoryFile {
  std::span<const uint8_t> input;       // reading
  std::vector<uint8_t>* output = nullptr;  // writing
  uint64_t position = 0;
  std::string error;

  uint64_t size() const { return output ? output->size() : input.size(); }
  const uint8_t* bytes() const { return output ? output->data() : input.data(); }
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t length) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (length < 0 || file->position >= file->size()) return 0;
  const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(length), file->size() - file->position);
  std::memcpy(buffer, file->bytes() + file->position, n);
  file->position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t length) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (!file->output || length < 0) return -1;
  try {
    const uint64_t end = file->position + static_cast<uint64_t>(length);
    if (end > file->output->size()) file->output->resize(end);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  std::memcpy(file->output->data() + file->position, buffer, static_cast<size_t>(length));
  file->position += static_cast<uint64_t>(length);
  return length;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = file->position;
  if (whence == SEEK_END) base = file->size();
  const uint64_t target = base + offset;
  if (target < base && whence != SEEK_SET) return static_cast<toff_t>(-1);
  file->position = target;
  return target;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<MemoryFile*>(handle)->size(); }

int MapProc(thandle_t handle, void** base, toff_t* size) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (file->output) return 0;
  *base = const_cast<uint8_t*>(file->input.data());
  *size = file->input.size();
  return 1;
}
void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* file = static_cast<MemoryFile*>(user);
  if (file->error.empty()) {
    char text[300];
    std::vsnprintf(text, sizeof text, format, args);
    file->error = module ? std::string(module) + ": " + text : std::string(text);
  }
  return 1;  // handled: nothing is printed
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// A TIFF handle over memory whose errors land in `file->error`.
TIFF* Open(MemoryFile* file, const char* mode) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, file);
  TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, file);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(1) << 31);
  TIFF* tif = TIFFClientOpenExt("memory", mode, file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                MapProc, UnmapProc, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

ImageStatus Fail(const MemoryFile& file, const char* fallback) {
  return ImageStatus::Fail("TIFF: " + (file.error.empty() ? std::string(fallback) : file.error));
}

void ReadFields(TIFF* tif, ImageInfo* info) {
  uint32_t width = 0, height = 0;
  uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  info->format = ImageFormat::kTiff;
  info->width = static_cast<int32_t>(std::min<uint32_t>(width, INT32_MAX));
  info->height = static_cast<int32_t>(std::min<uint32_t>(height, INT32_MAX));
  info->bitsPerSample = bits;
  info->samplesPerPixel = samples;
  switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE: info->colorModel = ImageColorModel::kGrey; break;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_YCBCR: info->colorModel = ImageColorModel::kRGB; break;
    case PHOTOMETRIC_SEPARATED: info->colorModel = ImageColorModel::kCMYK; break;
    case PHOTOMETRIC_PALETTE: info->colorModel = ImageColorModel::kPalette; break;
    default: info->colorModel = ImageColorModel::kUnknown; break;
  }
  uint16_t extraCount = 0;
  uint16_t* extraKinds = nullptr;
  if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds) && extraCount > 0 && extraKinds) {
    info->hasAlpha = extraKinds[0] == EXTRASAMPLE_ASSOCALPHA || extraKinds[0] == EXTRASAMPLE_UNASSALPHA;
  }
  float xRes = 0, yRes = 0;
  uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xRes) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yRes) &&
      std::isfinite(xRes) && std::isfinite(yRes) && xRes > 0 && yRes > 0 && unit != RESUNIT_NONE) {
    const double perInch = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
    info->xDpi = xRes * perInch;
    info->yDpi = yRes * perInch;
  }
  uint16_t orientation = 0;
  if (TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation)) info->orientation = orientation;
  uint32_t iccLength = 0;
  void* icc = nullptr;
  if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccLength, &icc) && icc && iccLength > 0) {
    const auto* bytes = static_cast<const uint8_t*>(icc);
    info->iccProfile.assign(bytes, bytes + iccLength);
  }
}

// libtiff hands back premultiplied colour for files with alpha; offscreens
// hold straight colour.
uint8_t Unpremultiply(unsigned value, unsigned alpha) {
  if (alpha == 0) return 0;
  return static_cast<uint8_t>(std::min(255u, (value * 255 + alpha / 2) / alpha));
}

// Reads the inks of an opaque CMYK file in strips, 8 or 16 bits per
// sample, into the offscreen's four bytes per pixel (cyan, magenta, yellow,
// black; 0 = no ink, as TIFF stores them). False when the file is laid out
// otherwise (the RGBA reader then serves) or a row cannot be read.
bool CanKeepInks(TIFF* tif, const ImageInfo& info) {
  uint16_t inkSet = INKSET_CMYK, planar = PLANARCONFIG_CONTIG;
  TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  return info.colorModel == ImageColorModel::kCMYK && !info.hasAlpha && inkSet == INKSET_CMYK &&
         info.samplesPerPixel >= 4 && (info.bitsPerSample == 8 || info.bitsPerSample == 16) && !TIFFIsTiled(tif) &&
         (planar == PLANARCONFIG_CONTIG || planar == PLANARCONFIG_SEPARATE);
}

bool ReadInks(TIFF* tif, const ImageInfo& info, GWorld& image) {
  uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  const tmsize_t lineSize = TIFFScanlineSize(tif);
  const size_t width = size_t(info.width);
  const size_t bytesPerSample = size_t(info.bitsPerSample / 8);
  const size_t samples = planar == PLANARCONFIG_CONTIG ? size_t(info.samplesPerPixel) : 1;
  if (lineSize <= 0 || size_t(lineSize) < width * samples * bytesPerSample) return false;
  std::vector<uint8_t> line(static_cast<size_t>(lineSize));
  // 16-bit samples come in the host's byte order; the high part is kept,
  // rounded.
  auto sampleAt = [&](size_t index) -> uint8_t {
    if (bytesPerSample == 1) return line[index];
    uint16_t v;
    std::memcpy(&v, &line[index * 2], 2);
    return static_cast<uint8_t>((unsigned(v) * 255 + 32767) / 65535);
  };
  // Rows are read in order, plane after plane: compressed strips cannot be
  // read out of order.
  const uint16_t planes = planar == PLANARCONFIG_CONTIG ? 1 : 4;
  for (uint16_t plane = 0; plane < planes; ++plane) {
    for (int32_t y = 0; y < info.height; ++y) {
      if (TIFFReadScanline(tif, line.data(), static_cast<uint32_t>(y), plane) < 0) return false;
      uint8_t* row = image.scanline(y);
      for (size_t x = 0; x < width; ++x) {
        if (planar == PLANARCONFIG_CONTIG) {
          for (size_t c = 0; c < 4; ++c) row[x * 4 + c] = sampleAt(x * samples + c);
        } else {
          row[x * 4 + plane] = sampleAt(x);
        }
      }
    }
  }
  return true;
}

}  // namespace

bool TiffIsCameraRaw(std::span<const uint8_t> data) {
  // Some cameras' raw files are TIFF with "CR" right after the header.
  if (data.size() >= 10 && data[0] == 'I' && data[1] == 'I' && data[8] == 'C' && data[9] == 'R') return true;
  MemoryFile file;
  file.input = data;
  TIFF* tif = Open(&file, "rm");
  if (!tif) return false;
  auto isRaw = [&] {
    uint16_t photometric = 0;
    return TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) &&
           (photometric == PHOTOMETRIC_CFA || photometric == 34892 /* linear raw */);
  };
  void* dngVersion = nullptr;
  bool raw = TIFFGetField(tif, TIFFTAG_DNGVERSION, &dngVersion) || isRaw();
  // Other cameras keep the raw image in a sub-image behind a small preview.
  uint16_t subCount = 0;
  uint64_t* subOffsets = nullptr;
  if (!raw && TIFFGetField(tif, TIFFTAG_SUBIFD, &subCount, &subOffsets) && subCount > 0 && subOffsets) {
    const std::vector<uint64_t> offsets(subOffsets, subOffsets + std::min<uint16_t>(subCount, 16));
    for (uint64_t offset : offsets) {
      if (TIFFSetSubDirectory(tif, offset) && isRaw()) {
        raw = true;
        break;
      }
    }
  }
  TIFFClose(tif);
  return raw;
}

ImageStatus TiffReadInfo(std::span<const uint8_t> data, ImageInfo* info) {
  MemoryFile file;
  file.input = data;
  TIFF* tif = Open(&file, "r");
  if (!tif) return Fail(file, "not a readable TIFF file");
  ReadFields(tif, info);
  TIFFClose(tif);
  return {};
}

ImageStatus TiffDecode(std::span<const uint8_t> data, ImageInfo* info, GWorldHandle* out, bool keepCmyk,
                       bool* cmyk) {
  if (cmyk) *cmyk = false;
  MemoryFile file;
  file.input = data;
  TIFF* tif = Open(&file, "r");
  if (!tif) return Fail(file, "not a readable TIFF file");
  ReadFields(tif, info);
  if (const char* sizeError = CheckImageSize(uint32_t(info->width), uint32_t(info->height))) {
    TIFFClose(tif);
    return ImageStatus::Fail(std::string("TIFF: ") + sizeError);
  }
  // CMYK in strips is read as inks, which also serves the 16-bit files the
  // RGBA reader refuses; brought to RGB unless the caller keeps them.
  if (CanKeepInks(tif, *info)) {
    GWorldHandle inks = GWorld::CreateUninitialized(CLongRect_AC(0, 0, info->height, info->width));
    if (!inks) {
      TIFFClose(tif);
      return ImageStatus::Fail("TIFF: not enough memory for the image");
    }
    const bool ok = ReadInks(tif, *info, *inks);
    TIFFClose(tif);
    if (!ok || !file.error.empty()) return Fail(file, "cannot decode the image");
    if (keepCmyk) {
      if (cmyk) *cmyk = true;
    } else {
      ConvertCmykToRgb(*inks);
    }
    *out = std::move(inks);
    return {};
  }
  char message[1024] = {};
  TIFFRGBAImage reader{};
  if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&reader, tif, 1, message)) {
    TIFFClose(tif);
    return ImageStatus::Fail(std::string("TIFF: ") + message);
  }
  reader.req_orientation = reader.orientation;  // rows as stored
  GWorldHandle image = GWorld::CreateUninitialized(CLongRect_AC(0, 0, info->height, info->width));
  if (!image) {
    TIFFRGBAImageEnd(&reader);
    TIFFClose(tif);
    return ImageStatus::Fail("TIFF: not enough memory for the image");
  }
  // The RGBA reader fills 32-bit words; the offscreen has exactly four bytes
  // per pixel and no row padding, so it serves as the raster and is then
  // rearranged in place.
  static_assert(sizeof(uint32_t) == 4);
  const bool ok = TIFFRGBAImageGet(&reader, reinterpret_cast<uint32_t*>(image->pixels()),
                                   static_cast<uint32_t>(info->width), static_cast<uint32_t>(info->height));
  TIFFRGBAImageEnd(&reader);
  TIFFClose(tif);
  if (!ok || !file.error.empty()) return Fail(file, "cannot decode the image");
  uint8_t* p = image->pixels();
  const size_t count = size_t(info->width) * size_t(info->height);
  for (size_t i = 0; i < count; ++i, p += 4) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    const unsigned r = TIFFGetR(word), g = TIFFGetG(word), b = TIFFGetB(word), a = TIFFGetA(word);
    if (info->hasAlpha && a != 255) {
      p[0] = static_cast<uint8_t>(a);
      p[1] = Unpremultiply(r, a);
      p[2] = Unpremultiply(g, a);
      p[3] = Unpremultiply(b, a);
    } else {
      p[0] = 0xFF;
      p[1] = static_cast<uint8_t>(r);
      p[2] = static_cast<uint8_t>(g);
      p[3] = static_cast<uint8_t>(b);
    }
  }
  *out = std::move(image);
  return {};
}

ImageStatus TiffEncode(const GWorld& image, const ImageWriteOptions& options, std::vector<uint8_t>* out) {
  out->clear();
  MemoryFile file;
  file.output = out;
  TIFF* tif = Open(&file, "w");
  if (!tif) return Fail(file, "cannot start the file");
  const uint16_t samples = options.keepAlpha ? 4 : 3;
  const float dpi = static_cast<float>(options.dpi > 0 ? options.dpi : 72.0);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width()));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height()));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION,
               options.tiffCompression == TiffCompression::kLzw ? COMPRESSION_LZW : COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, dpi);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, dpi);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (options.keepAlpha) {
    const uint16_t kind = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind);
  }
  if (options.orientation >= 1 && options.orientation <= 8) {
    TIFFSetField(tif, TIFFTAG_ORIENTATION, static_cast<uint16_t>(options.orientation));
  }
  if (!options.iccProfile.empty()) {
    TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(options.iccProfile.size()),
                 options.iccProfile.data());
  }
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  std::vector<uint8_t> row(size_t(image.width()) * samples);
  bool ok = true;
  for (int32_t y = 0; y < image.height() && ok; ++y) {
    const uint8_t* src = image.scanline(y);
    uint8_t* dst = row.data();
    for (int32_t x = 0; x < image.width(); ++x, src += 4, dst += samples) {
      dst[0] = src[1];
      dst[1] = src[2];
      dst[2] = src[3];
      if (samples == 4) dst[3] = src[0];
    }
    ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) >= 0;
  }
  TIFFClose(tif);
  if (!ok || !file.error.empty()) {
    out->clear();
    return Fail(file, "cannot write the image");
  }
  return {};
}

}  // namespace host::imageio
