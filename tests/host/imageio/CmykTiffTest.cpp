// CMYK TIFF files in every layout libtiff writes: the reader keeps the same
// inks and transparency whatever the depth, strips or tiles, interleaved or
// planar samples, alpha kind and compression, and brings them to RGB with
// the transparency in the alpha bytes when the inks are not asked for; grey
// with alpha and floating-point files are read sample by sample as well.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "TestImages.h"
#include "common/CmykTiff.h"
#include "host/imageio/ImageFile.h"

using namespace host;

namespace {

// Eight patches of 10 x 15 pixels: 40 x 30, so that 16-pixel tiles and
// strips end inside the image. The last row has the transparent ones: a
// full black hidden by alpha 0, and three part-transparent colours.
testtiff::Picture Patches() {
  testtiff::Picture picture;
  picture.columns = 4;
  picture.rows = 2;
  picture.patchWidth = 10;
  picture.patchHeight = 15;
  picture.patches = {{{0.5, 0, 0.2, 0}, 1},    {{0, 0.7, 0.1, 0.1}, 1},   {{0.1, 0.1, 0.8, 0}, 1},
                     {{0.3, 0.3, 0.3, 0.3}, 1}, {{0, 0, 0, 1}, 0},          {{0.9, 0.5, 0, 0}, 0.5},
                     {{0.2, 0.6, 0.4, 0.05}, 0.8}, {{0, 0.4, 0.9, 0.2}, 0.6}};
  return picture;
}

std::vector<testtiff::Layout> Layouts() {
  std::vector<testtiff::Layout> layouts;
  for (int bits : {8, 16})
    for (bool tiles : {false, true})
      for (bool planes : {false, true})
        for (auto alpha : {testtiff::Alpha::kNone, testtiff::Alpha::kUnassociated, testtiff::Alpha::kAssociated})
          for (uint16_t compression :
               {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS}) {
            layouts.push_back({bits, tiles, planes, alpha, compression});
          }
  // JPEG holds 8-bit samples, at most four interleaved; then what other
  // coders this libtiff has.
  for (bool tiles : {false, true}) {
    layouts.push_back({8, tiles, false, testtiff::Alpha::kNone, COMPRESSION_JPEG});
    layouts.push_back({8, tiles, true, testtiff::Alpha::kUnassociated, COMPRESSION_JPEG});
  }
  for (uint16_t compression : {COMPRESSION_ZSTD, COMPRESSION_LZMA}) {
    if (TIFFIsCODECConfigured(compression)) layouts.push_back({16, true, true, testtiff::Alpha::kUnassociated, compression});
  }
  return layouts;
}

TEST(CmykTiff, EveryLayoutGivesTheSameInksAndTransparency) {
  imageio_test::ScratchFolder folder;
  const testtiff::Picture picture = Patches();
  const std::vector<uint8_t> icc = imageio_test::SrgbProfile();
  int n = 0;
  for (const testtiff::Layout& layout : Layouts()) {
    const std::string what = layout.Name();
    const auto file = folder / ("cmyk" + std::to_string(++n) + ".tif");
    ASSERT_TRUE(testtiff::Write(file, picture, layout, icc)) << what;
    const bool withAlpha = layout.alpha != testtiff::Alpha::kNone;
    const bool lossy = layout.compression == COMPRESSION_JPEG;

    ImageReadOptions keep;
    keep.keepCmyk = true;
    const ImageReadResult inks = ReadImageFile(file, keep);
    ASSERT_TRUE(inks.ok()) << what << ": " << inks.error;
    EXPECT_TRUE(inks.cmyk) << what;
    EXPECT_EQ(inks.info.colorModel, ImageColorModel::kCMYK) << what;
    EXPECT_EQ(inks.info.hasAlpha, withAlpha) << what;
    EXPECT_EQ(inks.info.iccProfile, icc) << what;
    ASSERT_EQ(inks.inkAlpha.size(), withAlpha ? size_t(40 * 30) : 0u) << what;
    ASSERT_EQ(inks.image->width(), 40);
    ASSERT_EQ(inks.image->height(), 30);
    for (size_t i = 0; i < picture.patches.size(); ++i) {
      const testtiff::Patch& patch = picture.patches[i];
      const int x = picture.CentreX(i), y = picture.CentreY(i);
      const uint8_t* p = inks.image->scanline(y) + 4 * x;
      const double alpha = withAlpha ? patch.alpha : 1;
      if (withAlpha) {
        EXPECT_NEAR(inks.inkAlpha[size_t(y) * 40 + size_t(x)], alpha * 255, lossy ? 3 : 1) << what << ", patch " << i;
      }
      // Associated alpha hides the inks of a transparent pixel for good.
      if (layout.alpha == testtiff::Alpha::kAssociated && alpha == 0) {
        for (int c = 0; c < 4; ++c) EXPECT_EQ(p[c], 0) << what << ", patch " << i;
        continue;
      }
      // Inks divided back from associated alpha lose what the stored
      // product rounded off.
      const double tolerance = lossy ? 6 : layout.alpha == testtiff::Alpha::kAssociated ? 1 + 1 / alpha : 1;
      for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(p[c], patch.inks[size_t(c)] * 255, tolerance) << what << ", patch " << i << ", ink " << c;
    }

    // Not asked for inks: RGB without a profile, the transparency in the
    // alpha bytes.
    const ImageReadResult rgb = ReadImageFile(file);
    ASSERT_TRUE(rgb.ok()) << what << ": " << rgb.error;
    EXPECT_FALSE(rgb.cmyk);
    EXPECT_TRUE(rgb.inkAlpha.empty());
    GWorldHandle converted = GWorld::CreateCopy(*inks.image);
    ConvertCmykToRgb(*converted);
    PutAlpha(*converted, inks.inkAlpha);
    EXPECT_EQ(imageio_test::MaxDifference(*converted, *rgb.image), 0) << what;
    if (withAlpha) {
      EXPECT_LE(rgb.image->scanline(picture.CentreY(4))[4 * picture.CentreX(4)], lossy ? 3 : 0) << what;
    }
  }
}

// A CMYK file with a fifth sample that is not alpha, or an extra sample of
// unspecified kind, prints its four inks opaque.
TEST(CmykTiff, AnExtraSampleThatIsNotAlphaIsLeftOut) {
  imageio_test::ScratchFolder folder;
  const auto file = folder / "extra.tif";
  TIFF* tif = TIFFOpen(file.c_str(), "w");
  ASSERT_TRUE(tif);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 4u);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2u);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 5);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  const uint16_t kind = EXTRASAMPLE_UNSPECIFIED;
  TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind);
  const uint8_t row[20] = {10, 20, 30, 40, 0, 10, 20, 30, 40, 0, 10, 20, 30, 40, 0, 10, 20, 30, 40, 0};
  for (uint32_t y = 0; y < 2; ++y) ASSERT_GE(TIFFWriteScanline(tif, const_cast<uint8_t*>(row), y, 0), 0);
  TIFFClose(tif);
  ImageReadOptions keep;
  keep.keepCmyk = true;
  const ImageReadResult read = ReadImageFile(file, keep);
  ASSERT_TRUE(read.ok()) << read.error;
  EXPECT_TRUE(read.cmyk);
  EXPECT_FALSE(read.info.hasAlpha);
  EXPECT_TRUE(read.inkAlpha.empty());
  EXPECT_EQ(0, std::memcmp(read.image->scanline(1) + 4, row, 4));
}

// Grey with alpha and floating-point grey and RGB are read sample by
// sample in any layout: straight grey from unassociated and associated
// alpha alike, 16-bit alpha kept, floats of 0 to 1 from none to full
// (clipped outside), white-is-zero grey turned over.
TEST(CmykTiff, GreyWithAlphaAndFloatingPointSamplesReadInEveryLayout) {
  imageio_test::ScratchFolder folder;
  struct Case {
    const char* name;
    uint16_t photometric, samples, bits, format, extra, planar;
    bool tiles;
    // Stored samples of a pixel, as doubles of 0 to 1 (whole numbers are
    // scaled to the depth), and the pixel expected (alpha, red, green, blue).
    std::vector<double> stored;
    std::array<int, 4> want;
  };
  const Case cases[] = {
      {"8-bit grey, unassociated", PHOTOMETRIC_MINISBLACK, 2, 8, SAMPLEFORMAT_UINT, EXTRASAMPLE_UNASSALPHA,
       PLANARCONFIG_CONTIG, false, {0.4, 0.5}, {128, 102, 102, 102}},
      {"8-bit grey, associated, tiles", PHOTOMETRIC_MINISBLACK, 2, 8, SAMPLEFORMAT_UINT, EXTRASAMPLE_ASSOCALPHA,
       PLANARCONFIG_CONTIG, true, {0.2, 0.5}, {128, 102, 102, 102}},
      {"16-bit grey, associated, planes", PHOTOMETRIC_MINISBLACK, 2, 16, SAMPLEFORMAT_UINT, EXTRASAMPLE_ASSOCALPHA,
       PLANARCONFIG_SEPARATE, false, {0.2, 0.5}, {128, 102, 102, 102}},
      {"16-bit grey, unassociated, tiles in planes", PHOTOMETRIC_MINISBLACK, 2, 16, SAMPLEFORMAT_UINT,
       EXTRASAMPLE_UNASSALPHA, PLANARCONFIG_SEPARATE, true, {0.4, 0}, {0, 102, 102, 102}},
      {"half-float RGB", PHOTOMETRIC_RGB, 3, 16, SAMPLEFORMAT_IEEEFP, 0, PLANARCONFIG_CONTIG, false,
       {0.25, 1.5, -0.5}, {255, 64, 255, 0}},
      {"float RGB with alpha, planes", PHOTOMETRIC_RGB, 4, 32, SAMPLEFORMAT_IEEEFP, EXTRASAMPLE_UNASSALPHA,
       PLANARCONFIG_SEPARATE, false, {0.2, 0.4, 0.6, 0.5}, {128, 51, 102, 153}},
      {"double grey, white is zero, tiles", PHOTOMETRIC_MINISWHITE, 1, 64, SAMPLEFORMAT_IEEEFP, 0,
       PLANARCONFIG_CONTIG, true, {0.25}, {255, 191, 191, 191}},
  };
  // A half float, for the values used here (no subnormals).
  auto half = [](double v) -> uint16_t {
    if (v == 0) return 0;
    int exponent = 0;
    const double m = std::frexp(std::fabs(v), &exponent);  // v = m * 2^exponent, m in [0.5, 1)
    return uint16_t((v < 0 ? 0x8000 : 0) | (exponent + 14) << 10 | (int(std::lround(m * 2048)) - 1024));
  };
  int n = 0;
  for (const Case& c : cases) {
    const auto file = folder / ("grey" + std::to_string(++n) + ".tif");
    TIFF* tif = TIFFOpen(file.c_str(), "w");
    ASSERT_TRUE(tif);
    const uint32_t side = 20;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, c.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, c.samples);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, c.format);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, c.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, c.planar);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    if (c.extra) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &c.extra);
    if (c.tiles) {
      TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
      TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
    }
    const bool planes = c.planar == PLANARCONFIG_SEPARATE;
    const size_t bytes = c.bits / 8, perPixel = planes ? 1 : c.samples;
    auto put = [&](uint8_t* at, double v) {
      if (c.format == SAMPLEFORMAT_IEEEFP && c.bits == 16) {
        const uint16_t h = half(v);
        std::memcpy(at, &h, 2);
      } else if (c.bits == 32) {
        const float f = float(v);
        std::memcpy(at, &f, 4);
      } else if (c.bits == 64) {
        std::memcpy(at, &v, 8);
      } else if (c.bits == 16) {
        const uint16_t w = uint16_t(std::lround(v * 65535));
        std::memcpy(at, &w, 2);
      } else {
        *at = uint8_t(std::lround(v * 255));
      }
    };
    const size_t pieceSide = c.tiles ? 16 : side;
    std::vector<uint8_t> piece(pieceSide * pieceSide * perPixel * bytes);
    bool ok = true;
    for (uint16_t plane = 0; plane < (planes ? c.samples : 1); ++plane) {
      for (size_t i = 0; i < pieceSide * pieceSide; ++i)
        for (size_t s = 0; s < perPixel; ++s) put(piece.data() + (i * perPixel + s) * bytes, c.stored[planes ? plane : s]);
      if (c.tiles) {
        for (uint32_t y = 0; y < side; y += 16)
          for (uint32_t x = 0; x < side; x += 16) ok = ok && TIFFWriteTile(tif, piece.data(), x, y, 0, plane) >= 0;
      } else {
        for (uint32_t y = 0; y < side; ++y) ok = ok && TIFFWriteScanline(tif, piece.data(), y, plane) >= 0;
      }
    }
    TIFFClose(tif);
    ASSERT_TRUE(ok) << c.name;
    const ImageReadResult read = ReadImageFile(file);
    ASSERT_TRUE(read.ok()) << c.name << ": " << read.error;
    EXPECT_EQ(read.info.hasAlpha, c.extra != 0) << c.name;
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{19, 19}}) {
      const uint8_t* p = read.image->scanline(y) + 4 * x;
      for (size_t b = 0; b < 4; ++b) EXPECT_NEAR(p[b], c.want[b], 1) << c.name << ", byte " << b;
    }
  }
}

}  // namespace
