// CMYK TIFF files in every layout libtiff writes: the reader keeps the same
// inks and transparency whatever the depth, strips or tiles, interleaved or
// planar samples, alpha kind and compression, and brings them to RGB with
// the transparency in the alpha bytes when the inks are not asked for.
#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
