// Camera raw through LibRaw: a small DNG written here with libtiff (a
// red-green-green-blue colour-filter mosaic) is demosaiced at its stored
// size, its turn reported and not applied.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <tiffio.h>

#include <filesystem>
#include <string>
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

  // A fuzzer's 417-byte DNG whose directory makes the system's LibRaw read
  // far outside its buffers (SIGSEGV in its TIFF parser): the decoder runs
  // in a child, so the file fails, naming the fault, and the program lives.
  const std::string hex =
      "49492a00080000001500fe0004000100000000ff00000001040001000000000800000101040001000000000800000201"
      "030001000000100000000301030001000000010000000601030001000000238000000f010200050000000a0100001001"
      "02000c000000100100001101040001000000080000001201030001000000010000001501030001000000010000001601"
      "040001000000000800001701040001000000000080001c01030001000000010000008d82030002000000020002008e82"
      "0100240000000001010212c601000400000001040000021411c6000000001c01000021c60a00090000002e01000028c6"
      "050003000000760100005ac603000100000015000000000000004b69766f0000546573742043616d657261004b313131"
      "3131313131313131313131313131313131313131313131313131313131313131313131313169766f2054657374204361"
      "6d6572610000010000000000000000000100000001930000010000000001000000000000000100000000000000010000"
      "000100000001000000010000616d65726100000100000001000000000001000000";
  std::vector<uint8_t> crashing;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) crashing.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  ASSERT_EQ(crashing.size(), 417u);
  const host::ImageInfoResult crashedInfo = host::ReadImageInfo(crashing);
  EXPECT_FALSE(crashedInfo.ok() && crashedInfo.info.format == host::ImageFormat::kCameraRaw);
  const host::ImageReadResult crashed = host::DecodeImage(crashing);
  ASSERT_FALSE(crashed.ok());
  EXPECT_NE(crashed.error.find("camera raw: the decoder failed on this file"), std::string::npos) << crashed.error;
}

}  // namespace
