// Camera raw through LibRaw: a small DNG written here with libtiff (a
// red-green-green-blue colour-filter mosaic) is demosaiced at its stored
// size, its turn reported and not applied.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <tiffio.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "host/imageio/ImageFile.h"

namespace fs = std::filesystem;

namespace {

// Left half a saturated red scene, right half a neutral grey one.
std::vector<uint8_t> WriteDng(const fs::path& file, int w, int h, uint16_t orientation) {
  TIFF* tif = TIFFOpen(file.c_str(), "w");
  EXPECT_NE(tif, nullptr);
  const uint8_t version[4] = {1, 4, 0, 0};
  const uint16_t repeat[2] = {2, 2};
  const uint8_t pattern[4] = {0, 1, 1, 2};
  const float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const float neutral[3] = {1, 1, 1};
  TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CFA);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
  TIFFSetField(tif, TIFFTAG_MAKE, "Kivo");
  TIFFSetField(tif, TIFFTAG_MODEL, "Test Camera");
  TIFFSetField(tif, TIFFTAG_DNGVERSION, version);
  TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "Kivo Test Camera");
  TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, repeat);
  TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, pattern);
  TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, matrix);
  TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
  TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, 21);
  std::vector<uint16_t> row(static_cast<size_t>(w), 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool red = (y % 2 == 0) && (x % 2 == 0), blue = (y % 2 == 1) && (x % 2 == 1);
      uint16_t v = 20000;
      if (x < w / 2) v = red ? 50000 : 3000;
      (void)blue;
      row[size_t(x)] = v;
    }
    TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
  }
  TIFFClose(tif);
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

TEST(CameraRaw, DngThroughLibRaw) {
  std::string dir = (fs::temp_directory_path() / "kivo-raw-XXXXXX").string();
  ASSERT_TRUE(mkdtemp(dir.data()));
  const fs::path file = fs::path(dir) / "shot.dng";
  const std::vector<uint8_t> bytes = WriteDng(file, 64, 48, 6);

  EXPECT_EQ(host::DetectImageFormat(bytes), host::ImageFormat::kTiff);  // the container
  host::ImageInfoResult info = host::ReadImageInfo(file);
  ASSERT_TRUE(info.ok()) << info.error;
  EXPECT_EQ(info.info.format, host::ImageFormat::kCameraRaw);
  EXPECT_EQ(info.info.width, 64);
  EXPECT_EQ(info.info.height, 48);

  host::ImageReadResult r = host::ReadImageFile(file);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.info.format, host::ImageFormat::kCameraRaw);
  EXPECT_EQ(r.info.orientation, 6);  // a quarter turn to the right, reported only
  ASSERT_EQ(r.image->width(), 64);
  ASSERT_EQ(r.image->height(), 48);
  const uint8_t* left = r.image->scanline(24) + 4 * 12;
  const uint8_t* right = r.image->scanline(24) + 4 * 52;
  EXPECT_EQ(left[0], 0xFF);
  EXPECT_GT(int(left[1]), int(left[2]) + 60) << int(left[1]) << " " << int(left[2]) << " " << int(left[3]);
  EXPECT_GT(int(left[1]), int(left[3]) + 60);
  EXPECT_LT(std::abs(int(right[1]) - int(right[2])), 40);
  EXPECT_GT(right[2], 20);

  // Writing a camera raw file is refused; a truncated one is not decoded.
  std::vector<uint8_t> out;
  EXPECT_FALSE(host::EncodeImage(*r.image, host::ImageFormat::kCameraRaw, {}, &out).ok());
  const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(bytes.size() / 3));
  EXPECT_FALSE(host::DecodeImage(cut).ok());
  fs::remove_all(dir);
}

}  // namespace
