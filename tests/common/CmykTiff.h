// CMYK TIFF files for tests, written field by field through libtiff in any
// layout a camera, a separation tool or a designer's program may send: 8 or
// 16 bits per sample, strips or tiles, samples interleaved or in planes,
// no alpha or an unassociated or associated alpha sample, and any
// compression libtiff writes. The picture is a grid of patches, each of one
// ink colour and one alpha.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace testtiff {

// Inks 0 (none) to 1 (full) in the order cyan, magenta, yellow, black, and
// an alpha 0 (transparent) to 1.
struct Patch {
  std::array<double, 4> inks{};
  double alpha = 1;
};

// `columns` x `rows` patches of `patchWidth` x `patchHeight` pixels, row
// by row.
struct Picture {
  int columns = 1, rows = 1;
  int patchWidth = 1, patchHeight = 1;
  std::vector<Patch> patches;

  int width() const { return columns * patchWidth; }
  int height() const { return rows * patchHeight; }
  const Patch& At(int x, int y) const { return patches[size_t(y / patchHeight * columns + x / patchWidth)]; }
  // The centre of patch `index`, in pixels.
  int CentreX(size_t index) const { return int(index % size_t(columns)) * patchWidth + patchWidth / 2; }
  int CentreY(size_t index) const { return int(index / size_t(columns)) * patchHeight + patchHeight / 2; }
};

enum class Alpha { kNone, kUnassociated, kAssociated };

struct Layout {
  int bits = 8;
  bool tiles = false;
  bool planes = false;
  Alpha alpha = Alpha::kNone;
  uint16_t compression = COMPRESSION_NONE;

  std::string Name() const {
    std::string name = std::to_string(bits) + "-bit " + (tiles ? "tiles" : "strips") +
                       (planes ? " in planes" : " interleaved");
    if (alpha == Alpha::kUnassociated) name += " with alpha";
    if (alpha == Alpha::kAssociated) name += " with associated alpha";
    switch (compression) {
      case COMPRESSION_NONE: break;
      case COMPRESSION_LZW: name += ", LZW"; break;
      case COMPRESSION_ADOBE_DEFLATE: name += ", deflate"; break;
      case COMPRESSION_PACKBITS: name += ", PackBits"; break;
      case COMPRESSION_JPEG: name += ", JPEG"; break;
      default: name += ", compression " + std::to_string(compression); break;
    }
    return name;
  }
};

// A patch's ink or alpha at the layout's depth; associated alpha stores the
// inks multiplied by it.
inline uint16_t Stored(const Patch& patch, size_t sample, const Layout& layout) {
  double v = sample < 4 ? patch.inks[sample] : patch.alpha;
  if (sample < 4 && layout.alpha == Alpha::kAssociated) v *= patch.alpha;
  const double top = layout.bits == 16 ? 65535.0 : 255.0;
  return uint16_t(std::lround(std::clamp(v, 0.0, 1.0) * top));
}

// Writes the picture to `file` with `icc` embedded (when not empty); false
// when libtiff refuses a field or a piece of data.
inline bool Write(const std::filesystem::path& file, const Picture& picture, const Layout& layout,
                  std::span<const uint8_t> icc = {}) {
  TIFF* tif = TIFFOpen(file.c_str(), "w");
  if (!tif) return false;
  const int width = picture.width(), height = picture.height();
  const uint16_t samples = layout.alpha == Alpha::kNone ? 4 : 5;
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width)) &&
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height)) &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(layout.bits)) &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples) &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED) &&
            TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK) &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, layout.planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
  if (ok && layout.alpha != Alpha::kNone) {
    const uint16_t kind = layout.alpha == Alpha::kAssociated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
    ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind);
  }
  if (ok && !icc.empty()) ok = TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(icc.size()), icc.data());
  const size_t bytes = size_t(layout.bits / 8), perPixel = layout.planes ? 1 : samples;
  const int planes = layout.planes ? samples : 1;
  auto put = [&](uint8_t* at, size_t index, uint16_t v) {
    if (bytes == 1) at[index] = uint8_t(v);
    else std::memcpy(at + index * 2, &v, 2);
  };
  auto fill = [&](uint8_t* at, int x, int y, int plane) {
    for (size_t s = 0; s < perPixel; ++s)
      put(at, s, Stored(picture.At(x, y), layout.planes ? size_t(plane) : s, layout));
  };
  if (ok && layout.tiles) {
    const int side = 16;
    ok = TIFFSetField(tif, TIFFTAG_TILEWIDTH, uint32_t(side)) && TIFFSetField(tif, TIFFTAG_TILELENGTH, uint32_t(side));
    std::vector<uint8_t> tile(ok ? size_t(TIFFTileSize(tif)) : 0);
    for (int plane = 0; ok && plane < planes; ++plane)
      for (int top = 0; ok && top < height; top += side)
        for (int left = 0; ok && left < width; left += side) {
          std::fill(tile.begin(), tile.end(), uint8_t(0));
          for (int y = top; y < std::min(height, top + side); ++y)
            for (int x = left; x < std::min(width, left + side); ++x)
              fill(tile.data() + (size_t(y - top) * side + size_t(x - left)) * perPixel * bytes, x, y, plane);
          ok = TIFFWriteTile(tif, tile.data(), uint32_t(left), uint32_t(top), 0, uint16_t(plane)) >= 0;
        }
  } else if (ok) {
    ok = TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(16));
    std::vector<uint8_t> row(size_t(width) * perPixel * bytes);
    for (int plane = 0; ok && plane < planes; ++plane)
      for (int y = 0; ok && y < height; ++y) {
        for (int x = 0; x < width; ++x) fill(row.data() + size_t(x) * perPixel * bytes, x, y, plane);
        ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), uint16_t(plane)) >= 0;
      }
  }
  TIFFClose(tif);
  return ok;
}

}  // namespace testtiff
