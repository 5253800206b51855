// The image filter: its filters and their order, the blur of image loading,
// output in a profile's colours, the transformed image with the soft-proof
// colour cube, and the half-size copy.
#include "imaging/ImageFilter.h"

#include <gtest/gtest.h>

#include <cstring>

#include "ImagingTestUtil.h"
#include "host/imageio/GaussianBlur.h"
#include "host/workers/WorkerPool.h"
#include "imaging/ColorCorrection.h"
#include "imaging/Offscreen.h"

namespace {

std::array<int, 4> At(const host::GWorld& g, int x, int y) {
  const uint8_t* p = g.scanline(y) + 4 * x;
  return {p[1], p[2], p[3], p[0]};
}

bool SameBytes(const host::GWorld& a, const host::GWorld& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y)
    if (std::memcmp(a.scanline(y), b.scanline(y), size_t(a.width()) * 4) != 0) return false;
  return true;
}

TEST(ImageFilter, FiltersRunInTheirOwnOrder) {
  auto run = [](const CGImageRef& src, auto&& set) {
    auto filter = ImageFilter::initWithImage(src);
    EXPECT_TRUE(filter);
    set(*filter);
    CGImageRef out = filter->createCGImage();
    EXPECT_TRUE(out);
    return At(*out, 1, 1);
  };
  EXPECT_FALSE(ImageFilter::initWithImage(nullptr));
  // No filter set: the image as it is, alpha too.
  EXPECT_EQ(run(Flat(3, 3, 10, 20, 30, 77), [](ImageFilter&) {}), (std::array<int, 4>{10, 20, 30, 77}));
  // Exposure runs before the colour controls: 64 doubled to 128 stays 128
  // under contrast 2 (the other order would give 0).
  EXPECT_NEAR(run(Flat(3, 3, 64, 64, 64), [](ImageFilter& f) { f.setContrast(2); f.setExposure(1); })[0], 128, 1);
  // The colour matrix runs before gamma: 204 * 0.5 = 0.4, squared 0.16.
  EXPECT_NEAR(run(Flat(3, 3, 204, 0, 0), [](ImageFilter& f) { f.setGamma(2); f.setRedness(0.5f); })[0], 41, 1);
  // Saturation 0 leaves the luminance grey.
  const auto grey = run(Flat(3, 3, 200, 100, 50), [](ImageFilter& f) { f.setSaturation(0); });
  EXPECT_EQ(grey[0], grey[1]);
  EXPECT_EQ(grey[1], grey[2]);
  EXPECT_NEAR(grey[0], 0.2125 * 200 + 0.7154 * 100 + 0.0721 * 50, 1);
  // Each single colour setter resets the matrix first; setAllColor takes
  // the three colour globals.
  EXPECT_EQ(run(Flat(3, 3, 200, 200, 200), [](ImageFilter& f) { f.setRedness(0.5f); f.setGreenness(0.5f); }),
            (std::array<int, 4>{200, 100, 200, 255}));
  const double saved[3] = {myRedness, myGreenness, myBlueness};
  myRedness = 0.5; myGreenness = 1; myBlueness = 0.25;
  const auto all = run(Flat(3, 3, 200, 200, 200), [](ImageFilter& f) { f.setGreenness(0.5f); f.setAllColor(); });
  myRedness = saved[0]; myGreenness = saved[1]; myBlueness = saved[2];
  EXPECT_EQ(all, (std::array<int, 4>{100, 200, 50, 255}));
  // Hue half a turn about the grey axis sends red towards cyan.
  const auto turned = run(Flat(3, 3, 200, 0, 0), [](ImageFilter& f) { f.setHue(3.14159265f); });
  EXPECT_LT(turned[0], 20);
  EXPECT_GT(turned[1], 100);
  EXPECT_GT(turned[2], 100);
}

TEST(ImageFilter, BlurAndSharpenGiveTheSameBytesAtAnyThreadCount) {
  const CGImageRef noise = Noise(61, 37, 9);
  // The blur of image loading is the shared Gaussian blur.
  CGImageRef blurred = blurMyImage(noise, 2.0f);
  ASSERT_TRUE(blurred);
  EXPECT_NE(blurred, noise);
  auto reference = myDuplicateGWorld(noise.get());
  ASSERT_TRUE(host::GaussianBlur(*reference, 2.0));
  EXPECT_TRUE(SameBytes(*blurred, *reference));
  EXPECT_EQ(blurMyImage(noise, 0.0f), noise);

  host::WorkerPool one(1), eight(8);
  CGImageRef results[2];
  host::WorkerPool* pools[2] = {&one, &eight};
  for (int i = 0; i < 2; ++i) {
    auto filter = ImageFilter::initWithImage(noise, pools[i]);
    filter->setSharpness(1.5f);
    filter->setExposure(0.3f);
    filter->setBlur(1.2f);
    results[i] = filter->createCGImage();
    ASSERT_TRUE(results[i]);
  }
  EXPECT_TRUE(SameBytes(*results[0], *results[1]));
  // Sharpening lifts an edge's bright side and lowers its dark side.
  auto edge = host::GWorld::Create(CLongRect_AC(0, 0, 8, 16));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      uint8_t* p = edge->scanline(y) + 4 * x;
      p[0] = 0xFF; p[1] = p[2] = p[3] = x < 8 ? 60 : 180;
    }
  auto sharpen = ImageFilter::initWithImage(CGImageRef(edge.release()));
  sharpen->setSharpness(1.0f);
  CGImageRef sharp = sharpen->createCGImage();
  EXPECT_LT(At(*sharp, 7, 4)[0], 60);
  EXPECT_GT(At(*sharp, 8, 4)[0], 180);
  EXPECT_EQ(At(*sharp, 0, 4)[0], 60);
}

TEST(ImageFilter, OutputInTheProfilesColours) {
  CGImageRef half = Flat(4, 4, 200, 40, 30);
  // The top-left pixel half transparent, the rest opaque.
  const_cast<host::GWorld*>(half.get())->scanline(0)[0] = 128;
  auto filter = ImageFilter::initWithImage(half);
  // Without a profile (the generic RGB one) the colours and alpha stay.
  CGImageRef rgb = filter->createCGImage();
  EXPECT_EQ(At(*rgb, 0, 0), (std::array<int, 4>{200, 40, 30, 128}));
  // A grey profile: greys, opaque, the transparent part over white.
  filter->setProfile(Profile::profileWithPath("/usr/share/color/icc/Gray.icc"));
  CGImageRef grey = filter->createCGImage();
  ASSERT_TRUE(grey);
  const auto solid = At(*grey, 2, 2), over = At(*grey, 0, 0);
  EXPECT_NEAR(solid[0], solid[1], 1);
  EXPECT_NEAR(solid[1], solid[2], 1);
  EXPECT_EQ(solid[3], 255);
  EXPECT_EQ(over[3], 255);
  EXPECT_GT(over[0], solid[0] + 40);
  // A profile of another colour space gives nothing.
  filter->setProfile(Profile::profileWithPath("/usr/share/color/icc/LCMSLABI.ICM"));
  EXPECT_FALSE(filter->createCGImage());
  filter->setProfile(nullptr);
  EXPECT_TRUE(filter->createCGImage());
}

TEST(ImageFilter, TransformedImageThroughTheColourCube) {
  auto image = host::GWorld::Create(CLongRect_AC(0, 0, 2, 2));
  const uint8_t colours[4][3] = {{250, 0, 0}, {0, 250, 0}, {0, 0, 250}, {120, 120, 120}};
  for (int i = 0; i < 4; ++i) {
    uint8_t* p = image->scanline(i / 2) + 4 * (i % 2);
    p[0] = 0xFF;
    std::memcpy(p + 1, colours[i], 3);
  }
  auto filter = ImageFilter::initWithImage(CGImageRef(image.release()));
  // Twice the size, moved by (10, 20): the extent follows.
  CGAffineTransform t;
  t.a = 2; t.d = 2; t.tx = 10; t.ty = 20;
  CIImage moved = filter->imageWithTransform(t);
  ASSERT_EQ(moved.width, 4);
  ASSERT_EQ(moved.height, 4);
  EXPECT_EQ(moved.extent.x, 10);
  EXPECT_EQ(moved.extent.y, 20);
  host::GWorldHandle drawn = moved.ToOffscreen();
  EXPECT_EQ(At(*drawn, 0, 0), (std::array<int, 4>{250, 0, 0, 255}));
  EXPECT_EQ(At(*drawn, 3, 3), (std::array<int, 4>{120, 120, 120, 255}));
  // Half a pixel out, a quarter turn: the corners stay pure.
  CGAffineTransform quarter;
  quarter.a = 0; quarter.b = 1; quarter.c = -1; quarter.d = 0;
  CIImage turned = filter->imageWithTransform(quarter);
  ASSERT_EQ(turned.width, 2);
  EXPECT_EQ(turned.extent.x, -2);
  host::GWorldHandle turnedDrawn = turned.ToOffscreen();
  EXPECT_EQ(At(*turnedDrawn, 1, 0), (std::array<int, 4>{250, 0, 0, 255}));
  CGAffineTransform flat;
  flat.d = 0;
  EXPECT_TRUE(filter->imageWithTransform(flat).empty());

  // Through the linear profile's cube colours stay; through a grey
  // profile's they become greys.
  filter->setProfile(Profile::profileWithLinearRGB());
  host::GWorldHandle same = filter->imageWithTransform(CGAffineTransform{}).ToOffscreen();
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(At(*same, 0, 0)[size_t(c)], colours[0][c], 3);
  EXPECT_NEAR(At(*same, 1, 1)[0], 120, 3);
  filter->setProfile(Profile::profileWithPath("/usr/share/color/icc/Gray.icc"));
  host::GWorldHandle greys = filter->imageWithTransform(CGAffineTransform{}).ToOffscreen();
  EXPECT_NEAR(At(*greys, 0, 0)[0], At(*greys, 0, 0)[1], 2);
  EXPECT_NEAR(At(*greys, 0, 0)[1], At(*greys, 0, 0)[2], 2);
  // The half-size copy is unfiltered.
  filter->setExposure(1);
  CGImageRef small = filter->createScaledCGImage();
  ASSERT_TRUE(small);
  EXPECT_EQ(small->width(), 1);
  EXPECT_EQ(small->height(), 1);
}

}  // namespace
