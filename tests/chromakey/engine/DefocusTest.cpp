#include "chromakey/engine/Defocus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <vector>

#include "chromakey/engine/KeyPipeline.h"
#include "chromakey/engine/KeyThreads.h"

using namespace chromakey;

TEST(Defocus, MatteRemapAndSoftening) {
  std::vector<pixeli> m = {{1, 2, 3, 0}, {4, 5, 6, 32767}, {7, 8, 9, 40000}, {1, 1, 1, 65535}};
  const auto original = m;
  ASSERT_TRUE(doDefocusMask(m.data(), 4, 1, 0, false, 0.0f));
  EXPECT_EQ(m, original);
  ASSERT_TRUE(doDefocusMask(m.data(), 4, 1, 0, false, 0.5f));
  EXPECT_EQ(m[0].a, 0);
  EXPECT_EQ(m[1].a, 0);
  EXPECT_GT(m[2].a, 14000);
  EXPECT_GE(m[3].a, 65534);  // the stretch over 65536 leaves full alpha at 65534 or 65535
  EXPECT_EQ(m[1].r, 4);      // colour untouched

  // Inward push without shrink keeps 0 and 65535 where the matte is flat.
  std::vector<pixeli> flat(30 * 20);
  for (size_t i = 0; i < flat.size(); ++i) flat[i].a = (i % 30) < 15 ? 0 : 65535;
  ASSERT_TRUE(doDefocusMask(flat.data(), 30, 20, 3, true, 0.0f));
  EXPECT_EQ(flat[10 * 30 + 1].a, 0);
  EXPECT_EQ(flat[10 * 30 + 28].a, 65535);
  EXPECT_GT(flat[10 * 30 + 15].a, 0);  // the edge is softened
  EXPECT_LT(flat[10 * 30 + 15].a, 65535);

  EXPECT_FALSE(doDefocusMask(flat.data(), 30, 20, -1, false, 0.0f));
  EXPECT_FALSE(doDefocusMask(flat.data(), 30, 20, 2, false, NAN));
  EXPECT_FALSE(doDefocusMask(flat.data(), 30, 20, 2, false, 1.5f));
}

TEST(Defocus, BackgroundBlurAndGrain) {
  std::vector<pixeli> img(40 * 30, pixeli{1000, 2000, 3000, 77});
  img[15 * 40 + 20] = {65535, 65535, 65535, 77};
  ASSERT_TRUE(doDefocus(img.data(), 40, 30, 5));
  EXPECT_EQ(img[15 * 40 + 20].a, 77);
  EXPECT_LT(img[15 * 40 + 20].r, 65535);
  EXPECT_GT(img[15 * 40 + 21].r, img[15 * 40 + 30].r);

  // Narrow images are copied unchanged by the box blur.
  std::vector<uint16_t> packed = {1, 2, 3, 100, 200, 300, 7, 8, 9};
  std::vector<uint16_t> dst(9);
  ASSERT_TRUE(boxBlurRGB16(1.0f, packed.data(), dst.data(), 3, 1));
  EXPECT_EQ(dst, packed);
  std::vector<uint16_t> wide(201 * 300 * 3, 5), wideOut(wide.size());
  wide[3] = 60000;
  ASSERT_TRUE(boxBlurRGB16(0.01f, wide.data(), wideOut.data(), 201, 300));
  EXPECT_EQ(wideOut, wide);

  // Grain level 0 leaves the foreground as it is, alpha included.
  fixcoef c;
  initialize_data(&c);
  std::vector<pixeli> fg(16 * 16, pixeli{100, 200, 300, 5});
  const auto before = fg;
  ASSERT_TRUE(remove_grain(fg.data(), 16, 16, &c, nullptr));
  EXPECT_EQ(fg, before);
  c.grain_filter = 3;
  fg[40] = {60000, 0, 0, 5};
  ASSERT_TRUE(remove_grain(fg.data(), 16, 16, &c, nullptr));
  EXPECT_EQ(fg[0].a, 65535);
  c.grain_filter = 4;
  EXPECT_FALSE(remove_grain(fg.data(), 16, 16, &c, nullptr));
}

TEST(Defocus, MedianOfSampleAreas) {
  fixcoef c;
  initialize_data(&c);
  std::vector<pixeli> img(5 * 4, pixeli{100, 100, 100, 0});
  img[6] = {65535, 65535, 65535, 0};  // a single hot pixel
  PixelBuffer out;
  ASSERT_TRUE(medianFilter(img.data(), 5, 4, &c, out));
  EXPECT_FALSE(out);  // bit 0x2000 clear: the caller keeps its own samples
  c.flag |= kFlagMedian;
  ASSERT_TRUE(medianFilter(img.data(), 5, 4, &c, out));
  ASSERT_EQ(out.size(), 6u);
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i].r, 100);
}

TEST(KeyThreads, EveryIndexIsProcessedExactlyOnce) {
  for (int workers : {1, 2, 3, 8}) {
    for (long n : {1L, 9L, 10L, 1001L}) {
      std::vector<std::atomic<int>> hits(static_cast<size_t>(n));
      split_pass(workers, n, [&](long b, long e) {
        for (long i = b; i < e; ++i) hits[size_t(i)]++;
      });
      for (auto& h : hits) EXPECT_EQ(h.load(), 1) << workers << " " << n;
    }
  }
}

// A flat picture stays flat up to its edges and corners: the window's weight
// that falls outside the picture is made up from the samples inside it.
TEST(Defocus, EdgesAndCornersAreNotDarkened) {
  const pixeli grey{40000, 30000, 20000, 9};
  // Far from any edge the window's own value (a little above the input: the
  // window counts its centre twice in each pass).
  std::vector<pixeli> big(200 * 200, grey);
  ASSERT_TRUE(doDefocus(big.data(), 200, 200, 30));
  const pixeli inside = big[100 * 200 + 100];
  EXPECT_NEAR(inside.r, 40000, 400);

  std::vector<pixeli> img(50 * 40, grey);
  ASSERT_TRUE(doDefocus(img.data(), 50, 40, 30));
  for (size_t i : {size_t(0), size_t(49), size_t(39 * 50), size_t(39 * 50 + 49), size_t(20 * 50 + 25)}) {
    EXPECT_NEAR(img[i].r, inside.r, 2) << i;
    EXPECT_NEAR(img[i].b, inside.b, 2) << i;
    EXPECT_EQ(img[i].a, 9);
  }

  std::vector<pixeli> matte(30 * 20, pixeli{0, 0, 0, 50000});
  ASSERT_TRUE(doDefocusMask(matte.data(), 30, 20, 8, false, 0.0f));
  for (size_t i : {size_t(0), size_t(29), size_t(19 * 30), size_t(19 * 30 + 29)})
    EXPECT_NEAR(matte[i].a, matte[10 * 30 + 15].a, 2) << i;
}
