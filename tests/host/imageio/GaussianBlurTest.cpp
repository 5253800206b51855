#include "host/imageio/GaussianBlur.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "TestImages.h"

using namespace host;

namespace {

GWorldHandle Copy(const GWorld& image) {
  auto copy = GWorld::Create(image.bounds());
  std::memcpy(copy->pixels(), image.pixels(), image.byteCount());
  return copy;
}

// The bands split the rows differently for every thread count; the bytes
// must not depend on it.
TEST(GaussianBlur, SameBytesAtAnyThreadCount) {
  auto source = imageio_test::MakeNoise(257, 131, 21, true);
  for (double radius : {0.6, 2.0, 3.7, 12.0}) {
    auto one = Copy(*source);
    auto eight = Copy(*source);
    auto many = Copy(*source);
    ASSERT_TRUE(GaussianBlur(*one, radius, 1));
    ASSERT_TRUE(GaussianBlur(*eight, radius, 8));
    ASSERT_TRUE(GaussianBlur(*many, radius, 200));  // more threads than rows
    EXPECT_EQ(std::memcmp(one->pixels(), eight->pixels(), one->byteCount()), 0) << radius;
    EXPECT_EQ(std::memcmp(one->pixels(), many->pixels(), one->byteCount()), 0) << radius;
    EXPECT_GT(imageio_test::MaxDifference(*one, *source), 0);
  }
}

// Edges repeat the border pixel, so a flat image stays exactly flat and an
// opaque one stays opaque.
TEST(GaussianBlur, FlatImageStaysFlatUpToTheEdges) {
  auto image = GWorld::Create(CLongRect_AC(0, 0, 20, 30));
  for (int32_t y = 0; y < 20; ++y) {
    for (int32_t x = 0; x < 30; ++x) {
      uint8_t* p = image->scanline(y) + x * 4;
      p[0] = 255; p[1] = 10; p[2] = 200; p[3] = 77;
    }
  }
  auto before = Copy(*image);
  ASSERT_TRUE(GaussianBlur(*image, 5.0, 3));
  EXPECT_EQ(imageio_test::MaxDifference(*before, *image), 0);
}

TEST(GaussianBlur, SpreadsAPointAsAGaussian) {
  auto image = GWorld::Create(CLongRect_AC(0, 0, 41, 41));
  for (int32_t y = 0; y < 41; ++y) std::memset(image->scanline(y), 0, 41 * 4);
  image->scanline(20)[20 * 4 + 1] = 255;
  ASSERT_TRUE(GaussianBlur(*image, 2.0, 4));
  auto red = [&](int32_t x, int32_t y) { return int(image->scanline(y)[x * 4 + 1]); };
  // The centre keeps 255 / (2 pi sigma^2) of the point: about 10.
  EXPECT_NEAR(red(20, 20), 255.0 / (2 * M_PI * 4.0), 1.0);
  EXPECT_EQ(red(17, 20), red(23, 20));
  EXPECT_EQ(red(20, 17), red(20, 23));
  EXPECT_EQ(red(17, 20), red(20, 17));
  EXPECT_GT(red(20, 20), red(21, 20));
  EXPECT_EQ(red(0, 0), 0);
  int total = 0;
  for (int32_t y = 0; y < 41; ++y) {
    for (int32_t x = 0; x < 41; ++x) total += red(x, y);
  }
  EXPECT_NEAR(total, 255, 40);  // rounding of many small values
}

TEST(GaussianBlur, NoRadiusMeansNoChange) {
  auto source = imageio_test::MakeNoise(9, 7, 4);
  for (double radius : {0.0, -3.0, std::nan(""), double(INFINITY)}) {
    auto image = Copy(*source);
    EXPECT_TRUE(GaussianBlur(*image, radius, 2));
    EXPECT_EQ(imageio_test::MaxDifference(*source, *image), 0) << radius;
  }
  // One-pixel images and kernels far wider than the image still work.
  auto dot = imageio_test::MakeNoise(1, 1, 4);
  auto dotBefore = Copy(*dot);
  EXPECT_TRUE(GaussianBlur(*dot, 50.0, 8));
  EXPECT_LE(imageio_test::MaxDifference(*dot, *dotBefore), 1);
}

}  // namespace
