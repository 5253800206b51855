#include "host/qd/CopyBits.h"

#include <gtest/gtest.h>

#include "Pixels.h"

using qdtest::Argb;
using qdtest::At;
using qdtest::Set;

namespace {

// An offscreen whose pixel (h, v) is alpha 10 + v, red h, green v, blue 7,
// so each pixel tells where it came from.
host::GWorldHandle Numbered(const CLongRect_AC& bounds) {
  auto w = host::GWorld::Create(bounds);
  for (int32_t v = bounds.top; v < bounds.bottom; ++v)
    for (int32_t h = bounds.left; h < bounds.right; ++h)
      Set(*w, h, v, {uint8_t(10 + v), uint8_t(h), uint8_t(v), 7});
  return w;
}

constexpr Argb kWhite{255, 255, 255, 255};

}  // namespace

TEST(CopyBits, CopyBringsAllFourBytesBetweenOffsetBounds) {
  auto src = Numbered(CLongRect_AC(0, 0, 4, 4));
  auto dst = host::GWorld::Create(CLongRect_AC(100, 200, 104, 204));
  ASSERT_EQ(CopyBits(src.get(), dst.get(), CLongRect_AC(1, 1, 3, 3), CLongRect_AC(101, 201, 103, 203), host::srcCopy),
            noErr);
  EXPECT_EQ(At(*dst, 201, 101), (Argb{11, 1, 1, 7}));
  EXPECT_EQ(At(*dst, 202, 102), (Argb{12, 2, 2, 7}));
  EXPECT_EQ(At(*dst, 200, 100), kWhite);
  EXPECT_EQ(At(*dst, 203, 103), kWhite);
  // ditherCopy draws exactly like srcCopy into 32-bit pixels.
  auto again = host::GWorld::Create(dst->bounds());
  CopyBits(src.get(), again.get(), CLongRect_AC(1, 1, 3, 3), CLongRect_AC(101, 201, 103, 203), host::ditherCopy);
  EXPECT_EQ(std::vector<uint8_t>(again->pixels(), again->pixels() + again->byteCount()),
            std::vector<uint8_t>(dst->pixels(), dst->pixels() + dst->byteCount()));
}

TEST(CopyBits, ScalesByNearestPixel) {
  auto src = Numbered(CLongRect_AC(0, 0, 4, 4));
  auto big = host::GWorld::Create(CLongRect_AC(0, 0, 8, 8));
  CopyBits(src.get(), big.get(), CLongRect_AC(0, 0, 4, 4), CLongRect_AC(0, 0, 8, 8), host::srcCopy);
  for (int v = 0; v < 8; ++v)
    for (int h = 0; h < 8; ++h) EXPECT_EQ(At(*big, h, v), At(*src, h / 2, v / 2)) << h << "," << v;

  auto small = host::GWorld::Create(CLongRect_AC(0, 0, 2, 2));
  CopyBits(src.get(), small.get(), CLongRect_AC(0, 0, 4, 4), CLongRect_AC(0, 0, 2, 2), host::srcCopy);
  EXPECT_EQ(At(*small, 0, 0), At(*src, 0, 0));
  EXPECT_EQ(At(*small, 1, 1), At(*src, 2, 2));

  // Different factors across and down: 3 → 2 columns, 1 → 3 rows.
  auto odd = host::GWorld::Create(CLongRect_AC(0, 0, 3, 2));
  CopyBits(src.get(), odd.get(), CLongRect_AC(1, 0, 2, 3), CLongRect_AC(0, 0, 3, 2), host::srcCopy);
  EXPECT_EQ(At(*odd, 1, 0), At(*src, 1, 1));
  EXPECT_EQ(At(*odd, 1, 2), At(*src, 1, 1));
}

TEST(CopyBits, ClipsToBothBoundsAndIgnoresEmptyRects) {
  auto src = Numbered(CLongRect_AC(0, 0, 4, 4));
  auto dst = host::GWorld::Create(CLongRect_AC(0, 0, 4, 4));
  // Destination hangs off the top-left; source hangs off the right.
  ASSERT_EQ(CopyBits(src.get(), dst.get(), CLongRect_AC(0, 1, 4, 5), CLongRect_AC(-2, -2, 2, 2), host::srcCopy), noErr);
  EXPECT_EQ(At(*dst, 0, 0), At(*src, 3, 2));
  EXPECT_EQ(At(*dst, 0, 1), At(*src, 3, 3));
  EXPECT_EQ(At(*dst, 1, 0), kWhite);  // its source column 4 is outside the source
  EXPECT_EQ(At(*dst, 1, 1), kWhite);
  EXPECT_EQ(At(*dst, 2, 2), kWhite);
  auto dst2 = host::GWorld::Create(CLongRect_AC(0, 0, 4, 4));
  CopyBits(src.get(), dst2.get(), CLongRect_AC(0, 0, 4, 4), CLongRect_AC(-2, -2, 2, 2), host::srcCopy);
  EXPECT_EQ(At(*dst2, 0, 0), At(*src, 2, 2));
  EXPECT_EQ(At(*dst2, 1, 1), At(*src, 3, 3));
  EXPECT_EQ(At(*dst2, 2, 2), kWhite);

  // Empty and inverted rectangles draw nothing (and divide by nothing).
  auto untouched = host::GWorld::Create(CLongRect_AC(0, 0, 4, 4));
  EXPECT_EQ(CopyBits(src.get(), untouched.get(), CLongRect_AC(0, 0, 0, 4), CLongRect_AC(0, 0, 4, 4), 0), noErr);
  EXPECT_EQ(CopyBits(src.get(), untouched.get(), CLongRect_AC(0, 0, 4, 4), CLongRect_AC(3, 3, 1, 1), 0), noErr);
  EXPECT_EQ(CopyBits(src.get(), untouched.get(), CLongRect_AC(0, 0, 4, 4), CLongRect_AC(10, 10, 20, 20), 0), noErr);
  for (int v = 0; v < 4; ++v)
    for (int h = 0; h < 4; ++h) EXPECT_EQ(At(*untouched, h, v), kWhite);

  EXPECT_EQ(CopyBits(nullptr, untouched.get(), CLongRect_AC(0, 0, 1, 1), CLongRect_AC(0, 0, 1, 1), 0), paramErr);
  EXPECT_EQ(CopyBits(src.get(), nullptr, CLongRect_AC(0, 0, 1, 1), CLongRect_AC(0, 0, 1, 1), 0), paramErr);
  EXPECT_EQ(CopyBits(src.get(), untouched.get(), CLongRect_AC(0, 0, 1, 1), CLongRect_AC(0, 0, 1, 1), 2), paramErr);
  EXPECT_EQ(At(*untouched, 0, 0), kWhite);
}

TEST(CopyBits, OverlappingCopyWithinOneOffscreenReadsTheOriginal) {
  auto w = Numbered(CLongRect_AC(0, 0, 1, 6));
  auto original = Numbered(CLongRect_AC(0, 0, 1, 6));
  CopyBits(w.get(), w.get(), CLongRect_AC(0, 0, 1, 5), CLongRect_AC(0, 1, 1, 6), host::srcCopy);
  for (int h = 1; h < 6; ++h) EXPECT_EQ(At(*w, h, 0), At(*original, h - 1, 0));
}

TEST(CopyBits, TransparentModeSkipsBackgroundColouredSourcePixels) {
  auto src = host::GWorld::Create(CLongRect_AC(0, 0, 1, 3));
  Set(*src, 0, 0, {0, 255, 255, 255});  // white (alpha ignored)
  Set(*src, 1, 0, {40, 10, 20, 30});
  Set(*src, 2, 0, {0, 200, 0, 0});
  auto dst = host::GWorld::Create(CLongRect_AC(0, 0, 1, 3));
  qdtest::FillAll(*dst, {99, 1, 2, 3});
  CopyBits(src.get(), dst.get(), src->bounds(), dst->bounds(), host::transparent);
  EXPECT_EQ(At(*dst, 0, 0), (Argb{99, 1, 2, 3}));
  EXPECT_EQ(At(*dst, 1, 0), (Argb{40, 10, 20, 30}));
  // The destination's own background colour is what is left out.
  dst->port().backColor = RGBColor{200 * 257, 0, 0};
  qdtest::FillAll(*dst, {99, 1, 2, 3});
  CopyBits(src.get(), dst.get(), src->bounds(), dst->bounds(), host::transparent);
  EXPECT_EQ(At(*dst, 0, 0), (Argb{0, 255, 255, 255}));
  EXPECT_EQ(At(*dst, 2, 0), (Argb{99, 1, 2, 3}));
}

TEST(CopyBits, BlendMixesByOpColor) {
  auto src = host::GWorld::Create(CLongRect_AC(0, 0, 1, 1));
  Set(*src, 0, 0, {200, 200, 100, 0});
  auto dst = host::GWorld::Create(CLongRect_AC(0, 0, 1, 1));
  Set(*dst, 0, 0, {0, 0, 100, 200});
  dst->port().opColor = RGBColor{65535, 32768, 0};
  CopyBits(src.get(), dst.get(), src->bounds(), dst->bounds(), host::blend);
  const Argb p = At(*dst, 0, 0);
  EXPECT_EQ(p.r, 200);
  EXPECT_EQ(p.g, 100);
  EXPECT_EQ(p.b, 200);
  EXPECT_NEAR(p.a, 200 * 128 / 255, 1);
}

TEST(CopyDeepMask, WhiteTakesSourceBlackKeepsDestinationGreyMixes) {
  auto src = host::GWorld::Create(CLongRect_AC(0, 0, 1, 4));
  qdtest::FillAll(*src, {255, 200, 0, 100});
  auto mask = host::GWorld::Create(CLongRect_AC(0, 0, 1, 3));
  Set(*mask, 0, 0, {0, 255, 255, 255});
  Set(*mask, 1, 0, {0, 0, 0, 0});
  Set(*mask, 2, 0, {0, 128, 128, 128});
  auto dst = host::GWorld::Create(CLongRect_AC(0, 0, 1, 4));
  qdtest::FillAll(*dst, {0, 0, 100, 0});
  // The mask is one pixel narrower than the others: the last column has no
  // mask pixel and is left alone.
  ASSERT_EQ(CopyDeepMask(src.get(), mask.get(), dst.get(), CLongRect_AC(0, 0, 1, 4), CLongRect_AC(0, 0, 1, 4),
                         CLongRect_AC(0, 0, 1, 4), host::srcCopy),
            noErr);
  EXPECT_EQ(At(*dst, 0, 0), (Argb{255, 200, 0, 100}));
  EXPECT_EQ(At(*dst, 1, 0), (Argb{0, 0, 100, 0}));
  const Argb grey = At(*dst, 2, 0);
  EXPECT_EQ(grey.r, 100);
  EXPECT_EQ(grey.g, 50);
  EXPECT_EQ(grey.b, 50);
  EXPECT_EQ(grey.a, 128);
  EXPECT_EQ(At(*dst, 3, 0), (Argb{0, 0, 100, 0}));

  EXPECT_EQ(CopyDeepMask(src.get(), nullptr, dst.get(), src->bounds(), src->bounds(), dst->bounds(), 0), paramErr);
}

TEST(CopyDeepMask, ScalesTheMaskWithTheSourceAndHonoursTransparentMode) {
  auto src = host::GWorld::Create(CLongRect_AC(0, 0, 2, 2));
  Set(*src, 1, 0, {255, 0, 0, 0});  // black; the rest white
  auto mask = host::GWorld::Create(CLongRect_AC(0, 0, 1, 1));  // white: take everything
  auto dst = host::GWorld::Create(CLongRect_AC(0, 0, 4, 4));
  qdtest::FillAll(*dst, {1, 9, 9, 9});
  CopyDeepMask(src.get(), mask.get(), dst.get(), src->bounds(), mask->bounds(), dst->bounds(), host::transparent);
  EXPECT_EQ(At(*dst, 2, 0), (Argb{255, 0, 0, 0}));
  EXPECT_EQ(At(*dst, 3, 1), (Argb{255, 0, 0, 0}));
  EXPECT_EQ(At(*dst, 0, 0), (Argb{1, 9, 9, 9}));
  EXPECT_EQ(At(*dst, 3, 3), (Argb{1, 9, 9, 9}));
}
