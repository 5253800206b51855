// TIFF through libtiff, reading from and writing to memory through client
// I/O procedures. libtiff's errors and warnings go to per-handle handlers
// that record the first error instead of printing it.
//
// Some files are read sample by sample, in strips or tiles, interleaved or
// in planes and under any compression libtiff decodes: CMYK of 8 or 16 bits
// per sample, with or without alpha, as inks kept for a caller that
// converts them through the file's profile, else brought to RGB without
// one; grey of 8 or 16 bits with alpha, whose alpha and straight grey the
// RGBA reader does not give; grey and RGB in floating point, 0 to 1 from
// none to full. Every other file goes through libtiff's RGBA reader, which
// handles every other photometric interpretation, bit depth (16-bit
// samples are reduced to 8) and compression the library knows. Rows come in
// their stored order, so the Orientation tag is reported and not applied,
// as for JPEG.
//
// Before any pixel memory is taken, the file must be one that can be drawn
// (a compression with a decoder here, samples one of the readers takes) and
// its image data must be able to fill the size its header states: a few
// bytes claiming a huge image are refused, not allocated for. A file much
// smaller than its image is decoded once row by row before the image is
// made, so that data that does not decode costs one row, not the image.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>
#include <vector>

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

// libtiff's RGBA reader hands back premultiplied colour for RGB files with
// alpha; offscreens hold straight colour.
uint8_t Unpremultiply(unsigned value, unsigned alpha) {
  if (alpha == 0) return 0;
  return static_cast<uint8_t>(std::min(255u, (value * 255 + alpha / 2) / alpha));
}

// ---- whether the file's data can fill its image ----
//
// Before the image is made, the bytes of its strips or tiles must be able
// to hold it: at least the fewest bytes its compression can code that many
// rows or bytes in. Where that bound is loose (the file is far smaller than
// its image), every row is then decoded once, one at a time, and the image
// is made only when all of them came out: data that is not what its coder
// makes, or that runs out, is refused having taken one row's memory.

// The most bytes one stored byte can decode to under a compression with
// such a bound: a run coded in PackBits repeats one byte 128 times for two;
// an LZW code of at least 9 bits stands for at most 4096 bytes; deflate's
// limit is 1032 to 1; JPEG spends at least one bit on each 8 x 8 block of
// each component (with subsampled colour, 2048 covers the most a block can
// stand for). 0 for the others: the fax coders are bounded by rows (below);
// two-dimensional fax, JBIG, WebP, LERC, Zstandard, LZMA and the rarer
// coders can code a page of one colour in a few bytes, validly.
uint64_t MostBytesPerStoredByte(uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;
    case COMPRESSION_LZW: return 4096;
    case COMPRESSION_DEFLATE:
    case COMPRESSION_ADOBE_DEFLATE: return 1032;
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG: return 2048;
    default: return 0;
  }
}

bool IsFax(uint16_t compression) {
  return compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTRLEW ||
         compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4;
}

// The fax decoder takes 16 bytes for each pixel of the width before it
// reads any data; no drawing or scan of paper is this wide.
constexpr uint32_t kWidestFaxRow = 1u << 18;

// The fewest bytes that hold `rows` fax-coded rows `width` pixels wide. A
// row coded run by run takes at least 6 bits for each 1664 pixels (the
// densest code is the 6-bit white make-up code for 1664); run-length rows
// start on a byte (on a 16-bit word in the word-aligned form). A row coded
// against the one above (Group 4, and Group 3 with 2-D coding) takes one
// bit when it repeats it, whatever its width: 8 rows to the byte.
uint64_t FewestFaxBytes(uint16_t compression, uint32_t group3Options, uint32_t width, uint64_t rows) {
  const uint64_t runBits = (uint64_t(width) * 6 + 1663) / 1664;
  switch (compression) {
    case COMPRESSION_CCITTRLE: return rows * std::max<uint64_t>(1, (runBits + 7) / 8);
    case COMPRESSION_CCITTRLEW: return rows * 2 * std::max<uint64_t>(1, (runBits + 15) / 16);
    case COMPRESSION_CCITTFAX3:
      if (!(group3Options & GROUP3OPT_2DENCODING)) return (rows * runBits + 7) / 8;
      [[fallthrough]];
    default: return (rows + 7) / 8;
  }
}

// Files whose image is more than this many times their image data are
// decoded once, row by row, before their image is made.
constexpr uint64_t kProveAbove = 64;

// What the checks of the image data read of the file's directory.
struct DataShape {
  uint32_t width = 0, height = 0;
  uint16_t compression = COMPRESSION_NONE, planar = PLANARCONFIG_CONTIG, samples = 1;
  // The planes the samples are stored in: one for each sample when they
  // are stored apart.
  uint32_t planes() const { return planar == PLANARCONFIG_SEPARATE ? samples : 1; }
};

DataShape ShapeOf(TIFF* tif) {
  DataShape shape;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &shape.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &shape.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &shape.compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &shape.planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &shape.samples);
  return shape;
}

// Why the strips or tiles the file has in its `data` cannot make the image
// its header states; empty when they can. Every strip or tile must have
// bytes in the file (libtiff refuses one without), and all of them together
// must reach the compression's bound. `prove` tells whether the rows must
// then be decoded before the image is made (see EveryRowDecodes).
std::string ImageDataShortfall(TIFF* tif, std::span<const uint8_t> data, bool* prove) {
  const std::string tooLittle = "the file holds too little image data for its size";
  const uint64_t fileSize = data.size();
  const DataShape shape = ShapeOf(tif);
  const uint32_t width = shape.width, height = shape.height;
  const uint16_t compression = shape.compression;
  uint32_t group3Options = 0;
  if (compression == COMPRESSION_CCITTFAX3) TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &group3Options);
  const bool tiled = TIFFIsTiled(tif);
  const uint64_t pieces = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  if (pieces == 0) return tooLittle;
  // Old-style JPEG may keep its data outside the strips; the whole file is
  // what it can use.
  uint64_t stored = compression == COMPRESSION_OJPEG ? fileSize : 0;
  if (compression != COMPRESSION_OJPEG) {
    for (uint32_t i = 0; i < pieces; ++i) {
      const uint64_t offset = TIFFGetStrileOffset(tif, i), count = TIFFGetStrileByteCount(tif, i);
      const uint64_t inFile = offset < fileSize ? std::min(count, fileSize - offset) : 0;
      if (inFile == 0) return tooLittle;
      stored += inFile;
    }
  }
  // Strips or tiles may all name the same bytes, and so decode them again
  // and again: together they never hold more than the file does.
  stored = std::min(stored, fileSize);
  // The decoded size, and the image's; one beyond what 64 bits hold cannot
  // be filled.
  uint64_t decoded = 0;
  const uint64_t pieceSize = uint64_t(std::max<int64_t>(tiled ? TIFFTileSize64(tif) : TIFFScanlineSize64(tif), 0));
  const uint64_t count = tiled ? pieces : uint64_t(shape.planes()) * height;
  if (__builtin_mul_overflow(count, pieceSize, &decoded)) return tooLittle;
  const uint64_t memory = std::max(decoded, uint64_t(width) * height * 4);
  if (IsFax(compression)) {
    // The fax decoder codes rows of the strip's or the tile's width, and
    // writes one row of the piece for each: every row of every tile,
    // padding included, and each row one bit a pixel. More bytes to a row
    // (more samples or bits to a pixel) would let one coded row fill them.
    uint32_t rowPixels = width;
    uint64_t rows = uint64_t(height) * shape.planes();
    if (tiled) {
      uint32_t tileWidth = 0, tileLength = 0;
      TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
      TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
      rowPixels = tileWidth;
      rows = pieces * tileLength;
    }
    if (stored < FewestFaxBytes(compression, group3Options, rowPixels, rows)) return tooLittle;
    if (rowPixels > kWidestFaxRow)
      return "rows of more than " + std::to_string(kWidestFaxRow) + " pixels in a fax-coded image";
    const int64_t rowBytes = tiled ? TIFFTileRowSize64(tif) : TIFFScanlineSize64(tif);
    if (rowBytes <= 0 || uint64_t(rowBytes) > (uint64_t(rowPixels) + 7) / 8)
      return "more than one bit to a pixel in a fax-coded image";
  }
  const uint64_t ratio = MostBytesPerStoredByte(compression);
  if (ratio != 0 && stored < decoded / ratio + (decoded % ratio != 0)) return tooLittle;
  const bool runByRun = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTRLEW ||
                        (compression == COMPRESSION_CCITTFAX3 && !(group3Options & GROUP3OPT_2DENCODING));
  const bool bounded = ratio != 0 || runByRun;
  // A page of one colour in a few bytes is valid data for those others,
  // but not of any size (ImageFile.h). The bound of a coder is on the
  // samples, which a pixel of 1 bit turns into 32 times as many bytes of
  // offscreen: a white bilevel page of 16384 x 8192 is 14 KB of LZW and
  // would make 512 MB. So the same rule holds for every coder.
  if (!DataMayMakeImage(memory, stored)) return tooLittle;
  *prove = !bounded || (compression != COMPRESSION_JPEG && compression != COMPRESSION_OJPEG &&
                        memory / kProveAbove > stored);
  return {};
}

// A JBIG strip begins with a header of its own, by which the JBIG decoder
// takes the memory for the whole strip before it reads on (and ends the
// process when it cannot have it). It must state one plane of the image's
// width and no more rows than the strip holds. libtiff keeps JBIG data
// bit-reversed in files of the usual fill order.
bool JbigHeaderFits(TIFF* tif, uint32_t strip, uint32_t width, uint32_t rows) {
  uint8_t header[20];
  if (TIFFReadRawStrip(tif, strip, header, sizeof header) != tmsize_t(sizeof header)) return false;
  uint16_t fillOrder = FILLORDER_MSB2LSB;
  TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fillOrder);
  if (fillOrder == FILLORDER_MSB2LSB) TIFFReverseBits(header, sizeof header);
  auto at = [&](size_t i) {
    return uint32_t(header[i]) << 24 | uint32_t(header[i + 1]) << 16 | uint32_t(header[i + 2]) << 8 | header[i + 3];
  };
  return header[2] == 1 && at(4) == width && at(8) >= 1 && at(8) <= rows;
}

// True when every row of the image in `data` decodes without an error,
// read one row at a time (a whole strip for JBIG, whose decoder takes no
// less; a whole tile). A handle of its own reads it, so that the image is
// then read from its start.
bool EveryRowDecodes(std::span<const uint8_t> data, std::string* error) {
  MemoryFile file;
  file.input = data;
  TIFF* tif = Open(&file, "r");
  if (!tif) return false;
  const DataShape shape = ShapeOf(tif);
  const uint32_t width = shape.width, height = shape.height, planes = shape.planes();
  uint32_t rowsPerStrip = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  bool ok = true;
  try {
    if (TIFFIsTiled(tif)) {
      const tmsize_t size = TIFFTileSize(tif);
      std::vector<uint8_t> tile(size_t(std::max<tmsize_t>(size, 0)));
      const uint32_t tiles = TIFFNumberOfTiles(tif);
      for (uint32_t t = 0; ok && t < tiles; ++t) ok = size > 0 && TIFFReadEncodedTile(tif, t, tile.data(), size) >= 0;
    } else if (shape.compression == COMPRESSION_JBIG) {
      const tmsize_t size = TIFFStripSize(tif);
      std::vector<uint8_t> strip(size_t(std::max<tmsize_t>(size, 0)));
      const uint32_t strips = TIFFNumberOfStrips(tif), perPlane = std::max<uint32_t>(1, strips / planes);
      for (uint32_t s = 0; ok && s < strips; ++s) {
        const uint64_t top = uint64_t(s % perPlane) * rowsPerStrip;
        const uint32_t rows = uint32_t(std::min<uint64_t>(rowsPerStrip, top < height ? height - top : 0));
        ok = size > 0 && rows > 0 && JbigHeaderFits(tif, s, width, rows) &&
             TIFFReadEncodedStrip(tif, s, strip.data(), size) >= 0;
      }
    } else {
      const tmsize_t size = TIFFScanlineSize(tif);
      std::vector<uint8_t> line(size_t(std::max<tmsize_t>(size, 0)));
      for (uint32_t p = 0; ok && p < planes; ++p)
        for (uint32_t y = 0; ok && y < height; ++y)
          ok = size > 0 && TIFFReadScanline(tif, line.data(), y, uint16_t(p)) >= 0;
    }
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  TIFFClose(tif);
  *error = file.error;
  return ok && file.error.empty();
}

// ---- images read sample by sample ----

// Where a file read sample by sample keeps its samples, and what they are.
struct SampleLayout {
  bool tiled = false;
  bool planes = false;         // one plane per sample
  size_t bytesPerSample = 1;   // 1 or 2 for whole numbers; 2, 4 or 8 for floating point
  bool floating = false;       // IEEE floating point, 0 to 1 from none to full
  size_t colours = 4;          // 1 grey, 3 RGB, 4 CMYK inks
  bool whiteIsZero = false;    // grey stored as 0 = white
  size_t samples = 4;          // per pixel, as stored
  int alpha = -1;              // the alpha sample's index; -1 without alpha
  bool associated = false;     // colour premultiplied by alpha

  bool inks() const { return colours == 4; }
};

// The layout of a file read sample by sample, false for any other file (the
// RGBA reader then serves): CMYK of 8 or 16 unsigned bits with four inks
// first; grey of 8 or 16 unsigned bits with alpha, whose grey the RGBA
// reader hands back without dividing it by an associated alpha or, at 16
// bits, without its alpha; grey and RGB in 16-, 32- or 64-bit floating
// point, which the RGBA reader refuses. The alpha is the first extra sample
// when the file says it is one.
bool SampleLayoutOf(TIFF* tif, const ImageInfo& info, SampleLayout* layout) {
  uint16_t inkSet = INKSET_CMYK, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT, photometric = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  const int bits = info.bitsPerSample;
  const bool whole = format == SAMPLEFORMAT_UINT && (bits == 8 || bits == 16);
  const bool floating = format == SAMPLEFORMAT_IEEEFP && (bits == 16 || bits == 32 || bits == 64);
  if (planar != PLANARCONFIG_CONTIG && planar != PLANARCONFIG_SEPARATE) return false;
  uint16_t extraCount = 0;
  uint16_t* extraKinds = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds) || !extraKinds) extraCount = 0;
  const bool alpha = extraCount > 0 && (extraKinds[0] == EXTRASAMPLE_ASSOCALPHA || extraKinds[0] == EXTRASAMPLE_UNASSALPHA);
  size_t colours = 0;
  if (info.colorModel == ImageColorModel::kCMYK && inkSet == INKSET_CMYK && whole) colours = 4;
  else if (info.colorModel == ImageColorModel::kGrey && ((whole && alpha) || floating)) colours = 1;
  else if (photometric == PHOTOMETRIC_RGB && floating) colours = 3;
  if (colours == 0 || size_t(info.samplesPerPixel) < colours) return false;
  if (extraCount > size_t(info.samplesPerPixel) - colours) return false;  // fewer colour samples than stated
  layout->tiled = TIFFIsTiled(tif);
  layout->planes = planar == PLANARCONFIG_SEPARATE;
  layout->bytesPerSample = size_t(bits / 8);
  layout->floating = floating;
  layout->colours = colours;
  layout->whiteIsZero = photometric == PHOTOMETRIC_MINISWHITE;
  layout->samples = size_t(info.samplesPerPixel);
  if (alpha) {
    layout->alpha = info.samplesPerPixel - extraCount;
    layout->associated = extraKinds[0] == EXTRASAMPLE_ASSOCALPHA;
  }
  return true;
}

// What keeps the file from being drawn, in words; empty when it can be.
// Told before any pixel memory is taken: a compression without a decoder
// here, samples that neither reader takes.
std::string UndrawableForm(TIFF* tif, const ImageInfo& info) {
  uint16_t compression = COMPRESSION_NONE, format = SAMPLEFORMAT_UINT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
  if (!TIFFIsCODECConfigured(compression)) {
    const TIFFCodec* codec = TIFFFindCODEC(compression);
    return std::string("compression ") + (codec ? codec->name : std::to_string(compression)) +
           ", which cannot be decoded";
  }
  SampleLayout layout;
  if (SampleLayoutOf(tif, info, &layout)) return {};
  if (format == SAMPLEFORMAT_IEEEFP)
    return std::to_string(info.bitsPerSample) + "-bit floating-point " +
           (info.colorModel == ImageColorModel::kCMYK ? "CMYK" : "samples");
  char message[1024] = {};
  if (TIFFRGBAImageOK(tif, message)) return {};
  std::string text = message;
  const std::string sorry = "Sorry, can not handle ";
  if (text.rfind(sorry, 0) == 0) text.erase(0, sorry.size());
  return text.empty() ? "a form that cannot be read" : text;
}

// A sample at 8 bits: 16-bit whole numbers rounded, floating point clipped
// to 0 to 1 (not a number as 0).
double HalfValue(uint16_t h) {
  const int exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
  double v = exponent == 0    ? std::ldexp(double(mantissa), -24)
             : exponent == 31 ? (mantissa ? NAN : INFINITY)
                              : std::ldexp(double(mantissa + 1024), exponent - 25);
  return (h & 0x8000) ? -v : v;
}

uint8_t FromUnit(double v) {
  if (!(v > 0)) return 0;
  if (v >= 1) return 255;
  return static_cast<uint8_t>(v * 255 + 0.5);
}

// Stores decoded samples at 8 bits: CMYK into the inks offscreen (cyan,
// magenta, yellow, black in the four bytes of each pixel; 0 = no ink, as
// TIFF stores them) and the alpha plane; grey and RGB into the offscreen's
// colour bytes and its alpha byte (opaque without alpha). Samples of 16 bits
// or more are in the host's byte order, as libtiff hands them over.
class SampleSink {
 public:
  SampleSink(const SampleLayout& layout, GWorld& image, std::vector<uint8_t>& alpha)
      : layout_(layout), image_(image), alpha_(alpha), width_(size_t(image.width())) {}

  // The samples a plane holds that are kept: the colours and the alpha.
  bool Wanted(size_t sample) const { return sample < layout_.colours || int(sample) == layout_.alpha; }
  size_t SamplesPerPixelInPlane() const { return layout_.planes ? 1 : layout_.samples; }

  // `count` pixels of row `y` from column `x`, their samples as decoded in
  // plane `plane` (0 for interleaved samples).
  void Put(const uint8_t* decoded, uint32_t plane, int32_t y, size_t x, size_t count) {
    const size_t step = SamplesPerPixelInPlane();
    uint8_t* row = image_.scanline(y);
    for (size_t i = 0; i < count; ++i) {
      uint8_t* pixel = row + (x + i) * 4;
      for (size_t s = 0; s < step; ++s) {
        const size_t sample = layout_.planes ? plane : s;
        if (!Wanted(sample)) continue;
        const uint8_t v = Sample(decoded, i * step + s);
        if (layout_.inks()) {
          if (sample < 4) pixel[sample] = v;
          else alpha_[size_t(y) * width_ + x + i] = v;
        } else if (int(sample) == layout_.alpha) {
          pixel[0] = v;
        } else {
          if (layout_.colours == 3) pixel[1 + sample] = v;
          else std::fill_n(pixel + 1, 3, layout_.whiteIsZero ? uint8_t(255 - v) : v);
          if (layout_.alpha < 0) pixel[0] = 0xFF;
        }
      }
    }
  }

 private:
  uint8_t Sample(const uint8_t* decoded, size_t index) const {
    const uint8_t* at = decoded + index * layout_.bytesPerSample;
    switch (layout_.bytesPerSample) {
      case 1: return at[0];
      case 2: {
        uint16_t v;
        std::memcpy(&v, at, 2);
        if (layout_.floating) return FromUnit(HalfValue(v));
        return static_cast<uint8_t>((unsigned(v) * 255 + 32767) / 65535);
      }
      case 4: {
        float v;
        std::memcpy(&v, at, 4);
        return FromUnit(v);
      }
      default: {
        double v;
        std::memcpy(&v, at, 8);
        return FromUnit(v);
      }
    }
  }

  const SampleLayout& layout_;
  GWorld& image_;
  std::vector<uint8_t>& alpha_;
  size_t width_;
};

// The planes to read: one for interleaved samples, else the kept ones.
std::vector<uint32_t> PlanesToRead(const SampleLayout& layout, const SampleSink& sink) {
  std::vector<uint32_t> planes;
  if (!layout.planes) return {0};
  for (size_t s = 0; s < layout.samples; ++s)
    if (sink.Wanted(s)) planes.push_back(uint32_t(s));
  return planes;
}

// Strips are read row by row, plane after plane: rows of a compressed strip
// cannot be read out of order.
bool ReadStrips(TIFF* tif, const SampleLayout& layout, SampleSink& sink, int32_t width, int32_t height) {
  const tmsize_t lineSize = TIFFScanlineSize(tif);
  const size_t pixels = size_t(width);
  if (lineSize <= 0 || size_t(lineSize) < pixels * sink.SamplesPerPixelInPlane() * layout.bytesPerSample) return false;
  std::vector<uint8_t> line(static_cast<size_t>(lineSize));
  for (const uint32_t plane : PlanesToRead(layout, sink)) {
    for (int32_t y = 0; y < height; ++y) {
      if (TIFFReadScanline(tif, line.data(), static_cast<uint32_t>(y), static_cast<uint16_t>(plane)) < 0) return false;
      sink.Put(line.data(), plane, y, 0, pixels);
    }
  }
  return true;
}

// Tiles are decoded whole; the parts past the image's right and bottom edges
// are left out.
bool ReadTiles(TIFF* tif, const SampleLayout& layout, SampleSink& sink, int32_t width, int32_t height) {
  uint32_t tileWidth = 0, tileHeight = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
  const tmsize_t tileSize = TIFFTileSize(tif), rowSize = TIFFTileRowSize(tif);
  if (tileWidth == 0 || tileHeight == 0 || tileSize <= 0 || rowSize <= 0 ||
      size_t(rowSize) < size_t(tileWidth) * sink.SamplesPerPixelInPlane() * layout.bytesPerSample ||
      uint64_t(tileSize) < uint64_t(rowSize) * tileHeight) {
    return false;
  }
  std::vector<uint8_t> tile(static_cast<size_t>(tileSize));
  for (const uint32_t plane : PlanesToRead(layout, sink)) {
    for (uint32_t top = 0; top < uint32_t(height); top += tileHeight) {
      for (uint32_t left = 0; left < uint32_t(width); left += tileWidth) {
        const uint32_t index = TIFFComputeTile(tif, left, top, 0, static_cast<uint16_t>(plane));
        if (TIFFReadEncodedTile(tif, index, tile.data(), tileSize) < 0) return false;
        const size_t across = std::min<size_t>(tileWidth, size_t(width) - left);
        const uint32_t down = std::min<uint32_t>(tileHeight, uint32_t(height) - top);
        for (uint32_t row = 0; row < down; ++row)
          sink.Put(tile.data() + size_t(row) * size_t(rowSize), plane, int32_t(top + row), left, across);
      }
    }
  }
  return true;
}

// Colour premultiplied by its alpha is divided back, so that a kept pixel
// holds the colour (or the inks) it covers its part of the paper with.
void UnpremultiplyInks(GWorld& inks, const std::vector<uint8_t>& alpha) {
  const size_t width = size_t(inks.width());
  for (int32_t y = 0; y < inks.height(); ++y) {
    uint8_t* p = inks.scanline(y);
    const uint8_t* a = alpha.data() + size_t(y) * width;
    for (size_t x = 0; x < width; ++x, p += 4) {
      if (a[x] == 255) continue;
      for (int c = 0; c < 4; ++c) p[c] = Unpremultiply(p[c], a[x]);
    }
  }
}

void UnpremultiplyColours(GWorld& image) {
  for (int32_t y = 0; y < image.height(); ++y) {
    uint8_t* p = image.scanline(y);
    for (int32_t x = 0; x < image.width(); ++x, p += 4) {
      if (p[0] == 255) continue;
      for (int c = 1; c < 4; ++c) p[c] = Unpremultiply(p[c], p[0]);
    }
  }
}

// Reads every sample of the file into `image` and, for CMYK with alpha,
// `alpha` (straight).
bool ReadSamples(TIFF* tif, const ImageInfo& info, const SampleLayout& layout, GWorld& image,
                 std::vector<uint8_t>* alpha) {
  alpha->clear();
  if (layout.inks() && layout.alpha >= 0) alpha->resize(size_t(info.width) * size_t(info.height));
  SampleSink sink(layout, image, *alpha);
  const bool ok = layout.tiled ? ReadTiles(tif, layout, sink, info.width, info.height)
                               : ReadStrips(tif, layout, sink, info.width, info.height);
  if (ok && layout.associated) {
    if (layout.inks()) UnpremultiplyInks(image, *alpha);
    else UnpremultiplyColours(image);
  }
  return ok;
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

// libtiff closes the descriptor it reads through; it gets its own copy.
std::string UndrawableFormOf(int fd) {
  const int own = ::dup(fd);
  if (own < 0) return {};
  if (::lseek(own, 0, SEEK_SET) != 0) {  // libtiff reads the header where the file stands
    ::close(own);
    return {};
  }
  MemoryFile errors;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) {
    ::close(own);
    return {};
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &errors);
  TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, &errors);
  TIFF* tif = TIFFFdOpenExt(own, "file", "rm", options);
  TIFFOpenOptionsFree(options);
  if (!tif) {
    ::close(own);  // not taken over when the open fails
    return {};
  }
  ImageInfo info;
  ReadFields(tif, &info);
  std::string form = UndrawableForm(tif, info);
  TIFFClose(tif);
  return form;
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
                       bool* cmyk, std::vector<uint8_t>* inkAlpha) {
  if (cmyk) *cmyk = false;
  if (inkAlpha) inkAlpha->clear();
  MemoryFile file;
  file.input = data;
  TIFF* tif = Open(&file, "r");
  if (!tif) return Fail(file, "not a readable TIFF file");
  ReadFields(tif, info);
  if (const char* sizeError = CheckImageSize(uint32_t(info->width), uint32_t(info->height))) {
    TIFFClose(tif);
    return ImageStatus::Fail(std::string("TIFF: ") + sizeError);
  }
  // Nothing is allocated for an image that cannot be drawn or that the
  // file's data cannot fill.
  if (const std::string form = UndrawableForm(tif, *info); !form.empty()) {
    TIFFClose(tif);
    return ImageStatus::Fail("TIFF: the image cannot be read (" + form + ")");
  }
  bool prove = false;
  if (const std::string why = ImageDataShortfall(tif, data, &prove); !why.empty()) {
    TIFFClose(tif);
    return ImageStatus::Fail("TIFF: " + why);
  }
  if (std::string error; prove && !EveryRowDecodes(data, &error)) {
    TIFFClose(tif);
    return ImageStatus::Fail("TIFF: the image data does not decode to its size" + (error.empty() ? "" : " (" + error + ")"));
  }
  SampleLayout layout;
  if (SampleLayoutOf(tif, *info, &layout)) {
    GWorldHandle image = GWorld::CreateUninitialized(CLongRect_AC(0, 0, info->height, info->width));
    std::vector<uint8_t> alpha;
    bool ok = false;
    try {
      ok = image && ReadSamples(tif, *info, layout, *image, &alpha);
    } catch (const std::bad_alloc&) {
      ok = false;
    }
    TIFFClose(tif);
    if (!image) return ImageStatus::Fail("TIFF: not enough memory for the image");
    if (!ok || !file.error.empty()) return Fail(file, "cannot decode the image");
    if (layout.inks() && keepCmyk && (alpha.empty() || inkAlpha)) {
      if (cmyk) *cmyk = true;
      if (inkAlpha) *inkAlpha = std::move(alpha);
    } else if (layout.inks()) {
      ConvertCmykToRgb(*image);
      PutAlpha(*image, alpha);
    }
    *out = std::move(image);
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

namespace host {

std::string TiffUndrawableForm(int fd) { return imageio::UndrawableFormOf(fd); }

}  // namespace host
