#include "host/qd/DrawImage.h"

#include <gtest/gtest.h>

#include <cmath>

#include "Pixels.h"

using qdtest::Argb;
using qdtest::At;
using qdtest::InkBounds;

TEST(DrawImage, SameSizeDrawReproducesThePixels) {
  auto src = host::GWorld::Create(CLongRect_AC(0, 0, 3, 4));
  for (int v = 0; v < 3; ++v)
    for (int h = 0; h < 4; ++h) qdtest::Set(*src, h, v, {255, uint8_t(40 * h), uint8_t(60 * v), 9});
  auto dst = host::GWorld::Create(CLongRect_AC(10, 10, 20, 20));
  host::DrawImage(*src, *dst, CLongRect_AC(12, 13, 15, 17));
  for (int v = 0; v < 3; ++v)
    for (int h = 0; h < 4; ++h) EXPECT_EQ(At(*dst, 13 + h, 12 + v), At(*src, h, v)) << h << "," << v;
  EXPECT_EQ(At(*dst, 12, 12), (Argb{255, 255, 255, 255}));
  EXPECT_EQ(At(*dst, 17, 12), (Argb{255, 255, 255, 255}));
}

TEST(DrawImage, TransparentPixelsLeaveTheDestinationAndAlphaComposites) {
  auto src = host::GWorld::Create(CLongRect_AC(0, 0, 4, 4));
  qdtest::FillAll(*src, {0, 0, 0, 0});  // transparent black
  auto dst = host::GWorld::Create(CLongRect_AC(0, 0, 4, 4));
  qdtest::FillAll(*dst, {100, 50, 60, 70});
  host::DrawImage(*src, *dst, dst->bounds());
  EXPECT_EQ(At(*dst, 1, 1), (Argb{100, 50, 60, 70}));
  qdtest::FillAll(*src, {255, 0, 0, 0});  // opaque black
  host::DrawImage(*src, *dst, dst->bounds());
  EXPECT_EQ(At(*dst, 1, 1), (Argb{255, 0, 0, 0}));
}

TEST(DrawImage, ScalesAndTurnsAboutTheCentre) {
  auto src = host::GWorld::Create(CLongRect_AC(0, 0, 10, 40));  // 40 wide, 10 high
  qdtest::FillAll(*src, {255, 0, 0, 0});
  auto dst = host::GWorld::Create(CLongRect_AC(0, 0, 200, 200));
  host::DrawImage(*src, *dst, 100, 100, 80, 20, M_PI / 2);  // 80 × 20, turned upright
  const CLongRect_AC ink = InkBounds(*dst);
  EXPECT_NEAR(ink.Width(), 20, 1);
  EXPECT_NEAR(ink.Height(), 80, 1);
  EXPECT_NEAR((ink.left + ink.right) / 2.0, 100, 1);
  EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 100, 1);
  // Degenerate sizes and far-off positions draw nothing.
  auto clean = host::GWorld::Create(CLongRect_AC(0, 0, 20, 20));
  host::DrawImage(*src, *clean, 10, 10, 0, 10);
  host::DrawImage(*src, *clean, 1e12, 10, 10, 10);
  host::DrawImage(*src, *clean, 10, 10, NAN, 10);
  EXPECT_TRUE(InkBounds(*clean).IsEmpty());
}
