// Large JPEG photos are decoded in bands on the worker pool. The bands must
// give the very bytes of a whole decode on one thread, for every sampling
// layout and scale, and a damaged file must fail the same way.
#include <gtest/gtest.h>

#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "TestImages.h"
#include "host/imageio/Codecs.h"
#include "host/workers/WorkerPool.h"

using namespace host;

namespace {

// Several workers even on a small machine, so that the bands really run.
const bool kWorkersSet = WorkerPool::setSharedThreadCount(std::max(4u, WorkerPool::processorCount()));

struct Layout {
  int width, height;
  int hSamp, vSamp;  // of the luminance; chroma is 1x1
  bool grey;
  unsigned restartRows;
  const char* name;
};
void PrintTo(const Layout& layout, std::ostream* os) { *os << layout.name; }

// Encodes a detailed picture (gradient plus noise) with libjpeg itself, so
// that the sampling and restart interval can be chosen.
std::vector<uint8_t> EncodeWith(const Layout& layout) {
  auto gradient = imageio_test::MakeGradient(layout.width, layout.height);
  auto noise = imageio_test::MakeNoise(layout.width, layout.height, 7);
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(layout.width);
  cinfo.image_height = JDIMENSION(layout.height);
  cinfo.input_components = layout.grey ? 1 : 3;
  cinfo.in_color_space = layout.grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  if (!layout.grey) {
    cinfo.comp_info[0].h_samp_factor = layout.hSamp;
    cinfo.comp_info[0].v_samp_factor = layout.vSamp;
  }
  cinfo.restart_in_rows = int(layout.restartRows);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(size_t(layout.width) * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int32_t y = int32_t(cinfo.next_scanline);
    const uint8_t* g = gradient->scanline(y);
    const uint8_t* n = noise->scanline(y);
    for (int x = 0; x < layout.width; ++x) {
      for (int c = 0; c < 3; ++c) row[size_t(x) * 3 + c] = uint8_t((g[x * 4 + 1 + c] * 3 + n[x * 4 + 1 + c]) / 4);
      if (layout.grey) row[size_t(x)] = row[size_t(x) * 3 + 1];
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> bytes(buffer, buffer + size);
  std::free(buffer);
  return bytes;
}

ImageStatus DecodeBytes(const std::vector<uint8_t>& bytes, int scale, bool bands, GWorldHandle* out,
                        ImageInfo* info) {
  imageio::UseJpegBandsForTesting(bands);
  const ImageStatus status = imageio::JpegDecode(bytes, scale, info, out);
  imageio::UseJpegBandsForTesting(true);
  return status;
}

bool SamePixels(const GWorld& a, const GWorld& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int32_t y = 0; y < a.height(); ++y)
    if (std::memcmp(a.scanline(y), b.scanline(y), size_t(a.width()) * 4) != 0) return false;
  return true;
}

class JpegBands : public ::testing::TestWithParam<Layout> {};

TEST_P(JpegBands, GiveTheBytesOfAWholeDecode) {
  ASSERT_GT(WorkerPool::shared().threadCount(), 1u);
  const Layout& layout = GetParam();
  const std::vector<uint8_t> bytes = EncodeWith(layout);
  for (int scale : {1, 2}) {
    if (uint64_t(layout.width / scale) * uint64_t(layout.height / scale) < 2'000'000) continue;
    GWorldHandle whole, banded;
    ImageInfo wholeInfo, bandedInfo;
    ASSERT_TRUE(DecodeBytes(bytes, scale, false, &whole, &wholeInfo).ok());
    ASSERT_TRUE(DecodeBytes(bytes, scale, true, &banded, &bandedInfo).ok());
    EXPECT_TRUE(SamePixels(*whole, *banded)) << layout.name << " at 1/" << scale;
    EXPECT_EQ(bandedInfo.width, layout.width);
    EXPECT_EQ(bandedInfo.colorModel, wholeInfo.colorModel);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, JpegBands,
    ::testing::Values(Layout{1999, 1203, 2, 2, false, 0, "4:2:0, odd size"},
                      Layout{1731, 1290, 2, 1, false, 0, "4:2:2"},
                      Layout{1600, 1301, 1, 1, false, 0, "4:4:4"},
                      Layout{1500, 1443, 1, 2, false, 0, "4:4:0"},
                      Layout{1777, 1201, 1, 1, true, 0, "grey"},
                      Layout{2000, 1208, 2, 2, false, 3, "4:2:0 with restart markers"},
                      Layout{4002, 2010, 2, 2, false, 0, "4:2:0, large enough to band at half size"}),
    [](const auto& info) { return "L" + std::to_string(info.index); });

// Damage anywhere in the entropy-coded data, or a file cut short, fails the
// banded decode with the message of a whole decode; the bands never hand
// out a part-decoded photo.
TEST(JpegBandsDamage, FailLikeAWholeDecode) {
  const std::vector<uint8_t> good = EncodeWith(Layout{2000, 1200, 2, 2, false, 0, ""});
  std::vector<std::vector<uint8_t>> damaged;
  for (double at : {0.3, 0.7, 0.95}) {
    std::vector<uint8_t> bytes = good;
    // 0xFF 0xD9 inside the scan is an early end of image.
    const size_t i = size_t(double(bytes.size()) * at);
    bytes[i] = 0xFF;
    bytes[i + 1] = 0xD9;
    damaged.push_back(bytes);
  }
  damaged.emplace_back(good.begin(), good.begin() + long(good.size() / 2));
  for (size_t d = 0; d < damaged.size(); ++d) {
    GWorldHandle whole, banded;
    ImageInfo wholeInfo, bandedInfo;
    const ImageStatus a = DecodeBytes(damaged[d], 1, false, &whole, &wholeInfo);
    const ImageStatus b = DecodeBytes(damaged[d], 1, true, &banded, &bandedInfo);
    EXPECT_FALSE(a.ok()) << d;
    EXPECT_EQ(a.ok(), b.ok()) << d;
    EXPECT_EQ(a.error, b.error) << d;
    EXPECT_FALSE(banded) << d;
  }
}

}  // namespace
