#include "TestImages.h"

#include <jpeglib.h>
#include <lcms2.h>
#include <png.h>
#include <tiffio.h>

#include <cstring>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace imageio_test {

host::GWorldHandle MakeGradient(int32_t width, int32_t height) {
  auto image = host::GWorld::Create(CLongRect_AC(0, 0, height, width));
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* p = image->scanline(y);
    for (int32_t x = 0; x < width; ++x, p += 4) {
      p[0] = 0xFF;
      p[1] = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
      p[2] = static_cast<uint8_t>(y * 255 / std::max(1, height - 1));
      p[3] = static_cast<uint8_t>(128 + (x - y) / 8);
      if (x < width / 4 && y < height / 4) { p[1] = 255; p[2] = 0; p[3] = 0; }
      if (x >= width * 3 / 4 && y >= height * 3 / 4) { p[1] = 0; p[2] = 0; p[3] = 255; }
    }
  }
  return image;
}

host::GWorldHandle MakeNoise(int32_t width, int32_t height, uint32_t seed, bool randomAlpha) {
  auto image = host::GWorld::Create(CLongRect_AC(0, 0, height, width));
  std::mt19937 random(seed);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* p = image->scanline(y);
    for (int32_t x = 0; x < width * 4; ++x) p[x] = static_cast<uint8_t>(random());
    if (!randomAlpha) {
      for (int32_t x = 0; x < width; ++x) p[x * 4] = 0xFF;
    }
  }
  return image;
}

int MaxDifference(const host::GWorld& a, const host::GWorld& b) {
  int worst = 0;
  for (int32_t y = 0; y < a.height(); ++y) {
    const uint8_t* p = a.scanline(y);
    const uint8_t* q = b.scanline(y);
    for (int32_t x = 0; x < a.width() * 4; ++x) worst = std::max(worst, std::abs(int(p[x]) - int(q[x])));
  }
  return worst;
}

double MeanDifference(const host::GWorld& a, const host::GWorld& b) {
  double total = 0;
  for (int32_t y = 0; y < a.height(); ++y) {
    const uint8_t* p = a.scanline(y);
    const uint8_t* q = b.scanline(y);
    for (int32_t x = 0; x < a.width() * 4; ++x) total += std::abs(int(p[x]) - int(q[x]));
  }
  return total / (double(a.width()) * a.height() * 4);
}

std::vector<uint8_t> SrgbProfile() {
  cmsHPROFILE profile = cmsCreate_sRGBProfile();
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kivo-imageio-XXXXXX").string();
  path_ = ::mkdtemp(pattern.data());
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> ScratchFolder::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

std::vector<uint8_t> SolidJpeg(int width, int height, int components, J_COLOR_SPACE space,
                               const uint8_t* value) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = components;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(size_t(width) * components);
  for (int x = 0; x < width; ++x) std::copy(value, value + components, row.begin() + x * components);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> bytes(buffer, buffer + size);
  std::free(buffer);
  return bytes;
}

void AppendPng(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

}  // namespace

std::vector<uint8_t> SolidGreyJpeg(int width, int height, uint8_t grey) {
  return SolidJpeg(width, height, 1, JCS_GRAYSCALE, &grey);
}

std::vector<uint8_t> SolidCmykJpeg(int width, int height, const uint8_t cmyk[4]) {
  return SolidJpeg(width, height, 4, JCS_CMYK, cmyk);
}

std::vector<uint8_t> Solid16BitPng(int width, int height, uint16_t r, uint16_t g, uint16_t b) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, AppendPng, nullptr);
  png_set_IHDR(png, info, width, height, 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
               PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  std::vector<uint8_t> row(size_t(width) * 6);
  for (int x = 0; x < width; ++x) {
    const uint16_t v[3] = {r, g, b};
    for (int c = 0; c < 3; ++c) {
      row[x * 6 + c * 2] = static_cast<uint8_t>(v[c] >> 8);  // PNG samples are big-endian
      row[x * 6 + c * 2 + 1] = static_cast<uint8_t>(v[c]);
    }
  }
  for (int y = 0; y < height; ++y) png_write_row(png, row.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::vector<uint8_t> Solid16BitTiff(int width, int height, uint16_t r, uint16_t g, uint16_t b) {
  ScratchFolder folder;
  const auto path = folder / "sixteen.tif";
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  std::vector<uint16_t> row(size_t(width) * 3);
  for (int x = 0; x < width; ++x) {
    row[x * 3] = r;
    row[x * 3 + 1] = g;
    row[x * 3 + 2] = b;
  }
  for (int y = 0; y < height; ++y) TIFFWriteScanline(tif, row.data(), y, 0);
  TIFFClose(tif);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  std::vector<uint8_t> bytes(std::filesystem::file_size(path));
  std::fread(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return bytes;
}

std::vector<uint8_t> SolidCmykTiff(int width, int height, const uint16_t inks[4], int bits, bool planes) {
  ScratchFolder folder;
  const auto path = folder / "cmyk.tif";
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  const size_t bytes = size_t(bits / 8);
  std::vector<uint8_t> row(size_t(width) * 4 * bytes);
  auto put = [&](size_t index, uint16_t v) {
    if (bytes == 1) row[index] = static_cast<uint8_t>(v);
    else std::memcpy(&row[index * 2], &v, 2);
  };
  if (planes) {
    for (uint16_t plane = 0; plane < 4; ++plane) {
      for (int x = 0; x < width; ++x) put(size_t(x), inks[plane]);
      for (int y = 0; y < height; ++y) TIFFWriteScanline(tif, row.data(), y, plane);
    }
  } else {
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 4; ++c) put(size_t(x) * 4 + c, inks[c]);
    for (int y = 0; y < height; ++y) TIFFWriteScanline(tif, row.data(), y, 0);
  }
  TIFFClose(tif);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  std::vector<uint8_t> out(std::filesystem::file_size(path));
  std::fread(out.data(), 1, out.size(), f);
  std::fclose(f);
  return out;
}

}  // namespace imageio_test
