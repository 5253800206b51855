#include "imaging/Offscreen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "ImagingTestUtil.h"
#include "common/TempDir.h"
#include "host/qd/QuickDraw.h"
#include "host/qd/Text.h"
#include "imaging/ImageLoading.h"
#include "imaging/ImagingMessages.h"

namespace {
using Msg = std::pair<int16_t, int16_t>;
}

TEST(Offscreen, NewDisposeAndDuplicate) {
  auto g = myNewGWorld(CLongRect_AC(0, 0, 2, 3));
  ASSERT_TRUE(g);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(Pixel(*g, x, y) & 0xFFFFFF, 0xFFFFFFu);
  MessageCapture capture;
  EXPECT_EQ(myDisposeGWorld(nullptr, true), nullptr);
  EXPECT_TRUE(capture.messages.empty());
  EXPECT_FALSE(myNewGWorld(CLongRect_AC(0, 0, 0, 5)));
  EXPECT_EQ(capture.messages, (std::vector<Msg>{{4101, 10}}));

  // The depth form: 32 bits per pixel (0 asks for the default) is made
  // like the plain form; offscreens exist at no other depth, so any other is
  // refused with the same message.
  for (int16_t depth : {int16_t(32), int16_t(0)}) {
    auto deep = myNewGWorld(CLongRect_AC(0, 0, 3, 2), depth);
    ASSERT_TRUE(deep) << depth;
    EXPECT_EQ(deep->bounds(), CLongRect_AC(0, 0, 3, 2));
    EXPECT_EQ(Pixel(*deep, 1, 2) & 0xFFFFFF, 0xFFFFFFu);
  }
  capture.messages.clear();
  for (int16_t depth : {int16_t(1), int16_t(8), int16_t(16), int16_t(24)})
    EXPECT_FALSE(myNewGWorld(CLongRect_AC(0, 0, 3, 2), depth)) << depth;
  EXPECT_EQ(capture.messages, (std::vector<Msg>(4, Msg{4101, 10})));

  auto src = Gradient(5, 4);
  auto copy = myDuplicateGWorld(src.get());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->bounds(), src->bounds());
  for (int y = 0; y < 4; ++y) EXPECT_EQ(0, std::memcmp(copy->scanline(y), src->scanline(y), 20));
}

TEST(Offscreen, QuarterTurnsHalfTurnAndMirror) {
  auto src = Gradient(3, 2);  // 3 wide, 2 tall
  auto ccw = myNewGWorld(CLongRect_AC(0, 0, 3, 2));
  ASSERT_TRUE(rotateImage90Degrees(1, src.get(), ccw.get()));
  EXPECT_EQ(Pixel(*ccw, 0, 0), Pixel(*src, 2, 0));  // top-right goes to top-left
  auto cw = myNewGWorld(CLongRect_AC(0, 0, 3, 2));
  ASSERT_TRUE(rotateImage90Degrees(2, src.get(), cw.get()));
  EXPECT_EQ(Pixel(*cw, 1, 0), Pixel(*src, 0, 0));  // top-left goes to top-right
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(Pixel(*ccw, r, 3 - 1 - c), Pixel(*src, c, r));
      EXPECT_EQ(Pixel(*cw, 2 - 1 - r, c), Pixel(*src, c, r));
    }

  MessageCapture capture;
  int beeps = 0;
  imaging::SetBeepSink([&] { ++beeps; });
  auto same = Gradient(3, 2);
  auto before = Pixel(*same, 1, 1);
  EXPECT_FALSE(rotateImage90Degrees(1, src.get(), same.get()));
  EXPECT_EQ(Pixel(*same, 1, 1), before);
  EXPECT_EQ(beeps, 0);
  // A missing source or destination beeps as well as saying so.
  EXPECT_FALSE(rotateImage90Degrees(1, nullptr, same.get()));
  EXPECT_EQ(beeps, 1);
  EXPECT_FALSE(rotateImage90Degrees(2, src.get(), nullptr));
  EXPECT_EQ(beeps, 2);
  EXPECT_FALSE(rotateGWorld90DegreesDoNotDispose(2, nullptr));
  EXPECT_EQ(beeps, 3);
  imaging::SetBeepSink(nullptr);
  EXPECT_FALSE(doMirrorTheImageInGWorld(nullptr));
  EXPECT_EQ(capture.messages,
            (std::vector<Msg>{{4101, 19}, {4101, 17}, {4101, 18}, {4101, 17}, {4106, 1}}));

  auto turned = rotateGWorld90Degrees(2, Gradient(3, 2));
  ASSERT_TRUE(turned);
  EXPECT_EQ(turned->width(), 2);
  EXPECT_EQ(turned->height(), 3);

  auto odd = Gradient(4, 3);
  auto original = myDuplicateGWorld(odd.get());
  ASSERT_TRUE(rotateImage180Degrees(odd.get()));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Pixel(*odd, x, y), Pixel(*original, 3 - x, 2 - y));
  ASSERT_TRUE(rotateImage180Degrees(odd.get()));
  ASSERT_TRUE(doMirrorTheImageInGWorld(odd.get()));
  EXPECT_EQ(Pixel(*odd, 0, 1), Pixel(*original, 3, 1));
  ASSERT_TRUE(doMirrorTheImageInGWorld(odd.get()));
  for (int y = 0; y < 3; ++y) EXPECT_EQ(0, std::memcmp(odd->scanline(y), original->scanline(y), 16));
}

TEST(Offscreen, AlphaAndMasks) {
  auto page = Gradient(4, 3);
  auto white = myNewGWorld(CLongRect_AC(0, 0, 3, 4));
  ASSERT_TRUE(myClearOffscreen(page.get()));
  ASSERT_TRUE(myCopyMaskGworldToAlphaChannel(page.get(), white.get()));
  EXPECT_EQ(Pixel(*page, 2, 1) >> 24, 255u);
  auto other = myNewGWorld(CLongRect_AC(0, 0, 2, 2));
  ASSERT_TRUE(myClearOffscreen(page.get()));
  EXPECT_TRUE(myCopyMaskGworldToAlphaChannel(page.get(), other.get()));
  EXPECT_EQ(Pixel(*page, 2, 1) >> 24, 0u);

  // Grey of a mask pixel (255, 0, 0): 0.3 * 255 truncated.
  fillPixelMap(other.get(), 0xFF0000);
  auto small = myNewGWorld(CLongRect_AC(0, 0, 2, 2));
  myClearOffscreen(small.get());
  myCopyMaskGworldToAlphaChannel(small.get(), other.get());
  EXPECT_EQ(Pixel(*small, 1, 1) >> 24, 76u);

  // The rectangle form: only the page rectangle the mask was copied to.
  myClearOffscreen(page.get());
  ASSERT_TRUE(myCopyMaskGworldToAlphaChannel(page.get(), white.get(), CLongRect_AC(1, 1, 3, 3),
                                             CLongRect_AC(0, 0, 3, 4)));
  EXPECT_EQ(Pixel(*page, 0, 0) >> 24, 0u);
  EXPECT_EQ(Pixel(*page, 2, 2) >> 24, 255u);

  mySetGworldAlphaChannelToByteValue(page.get(), 200);
  auto mask = myCreateMaskGWorld(page.get());
  ASSERT_TRUE(mask);
  EXPECT_EQ(Pixel(*mask, 3, 2), 0x00C8C8C8u);
  EXPECT_EQ(Pixel(*myCreateMaskGWorld(CLongRect_AC(0, 0, 1, 1), 50), 0, 0), 0x007F7F7Fu);
  EXPECT_EQ(Pixel(*myCreateMaskGWorld(CLongRect_AC(0, 0, 1, 1), 100), 0, 0), 0x00FFFFFFu);

  theGworldInfoStruct info;
  info.offscreen = page.get();
  ASSERT_TRUE(getMyGworldInfo(&info));
  EXPECT_TRUE(page->IsLocked());
  EXPECT_EQ(info.width, 4);
  EXPECT_EQ(info.pixelsPerRow, 4);
  const uint32_t word = get4ByteRGBValue(&info, 1, 2);
  EXPECT_EQ(0, std::memcmp(&word, page->scanline(2) + 4, 4));
  mySetPixelsState(page.get(), info.state);
  EXPECT_FALSE(page->IsLocked());
}

TEST(Offscreen, CopiesAndOverlays) {
  auto src = Gradient(2, 2);
  auto dst = myNewGWorld(CLongRect_AC(0, 0, 4, 4));
  ASSERT_TRUE(copyGWorldToGWorld(src.get(), dst.get(), src->bounds(), dst->bounds()));
  EXPECT_EQ(Pixel(*dst, 3, 3), Pixel(*src, 1, 1));
  MessageCapture capture;
  EXPECT_FALSE(myCopyBits(nullptr, dst.get(), src->bounds(), dst->bounds(), 0));
  EXPECT_EQ(capture.messages, (std::vector<Msg>{{4101, 13}}));

  // Transparent overlay: white source pixels leave the page.
  auto overlay = myNewGWorld(CLongRect_AC(0, 0, 2, 2));
  fillPixelMap(overlay.get(), 0x112233);
  overlay->scanline(0)[1] = overlay->scanline(0)[2] = overlay->scanline(0)[3] = 255;
  auto page = myNewGWorld(CLongRect_AC(0, 0, 2, 2));
  fillPixelMap(page.get(), 0x445566);
  ASSERT_TRUE(myCopyOverlayWithMask(0, overlay.get(), page.get(), overlay->bounds(), page->bounds()));
  EXPECT_EQ(Pixel(*page, 0, 0) & 0xFFFFFF, 0x445566u);
  EXPECT_EQ(Pixel(*page, 1, 1) & 0xFFFFFF, 0x112233u);
  EXPECT_TRUE(myCopyOverlayWithMask(1, nullptr, page.get(), overlay->bounds(), page->bounds()));
}

TEST(Offscreen, PhotoCacheKeysAndSharesOwnership) {
  TempDir dir;
  WriteText(dir / "a.jpg", "x");
  const FSSpec spec = SpecOf(dir / "a.jpg");
  myImageColorAdjustInfo colour;
  SharedGWorld photo(Gradient(2, 2).release());
  SetCurrentImageGWorldPtr(photo, spec, 0.0f, colour, 1);
  SharedGWorld held = GetCurrentImageGWorldPtr(spec, 0.0f, colour, 1);
  EXPECT_EQ(held, photo);
  // A different rotation empties the cache, but the caller's photo lives on.
  photo.reset();
  EXPECT_EQ(GetCurrentImageGWorldPtr(spec, 90.0f, colour, 1), nullptr);
  EXPECT_EQ(GetCurrentImageGWorldPtr(spec, 0.0f, colour, 1), nullptr);
  EXPECT_EQ(Pixel(*held, 1, 1), Pixel(*Gradient(2, 2), 1, 1));

  SetCurrentImageGWorldPtr(held, spec, std::numeric_limits<float>::quiet_NaN(), colour, 1);
  EXPECT_EQ(GetCurrentImageGWorldPtr(spec, std::numeric_limits<float>::quiet_NaN(), colour, 1), nullptr);

  // A changed file, colour setting or blur value is a different photo.
  SetCurrentImageGWorldPtr(held, spec, 0.0f, colour, 1);
  colour.gamma = 3;
  EXPECT_EQ(GetCurrentImageGWorldPtr(spec, 0.0f, colour, 1), nullptr);
  colour.gamma = 0;
  SetCurrentImageGWorldPtr(held, spec, 0.0f, colour, 1);
  WriteText(dir / "a.jpg", "changed");
  EXPECT_EQ(GetCurrentImageGWorldPtr(spec, 0.0f, colour, 1), nullptr);
  SetCurrentImageGWorldPtr(held, spec, 0.0f, colour, 1);
  const float blur = myBlurValue;
  myBlurValue = blur + 1;
  EXPECT_EQ(GetCurrentImageGWorldPtr(spec, 0.0f, colour, 1), nullptr);
  myBlurValue = blur;
  // So is a photo whose settings sidecar was written after it was cached.
  SetCurrentImageGWorldPtr(held, spec, 0.0f, colour, 1);
  EXPECT_EQ(GetCurrentImageGWorldPtr(spec, 0.0f, colour, 1), held);
  WriteText(dir / "._a.jpg", "settings");
  EXPECT_EQ(GetCurrentImageGWorldPtr(spec, 0.0f, colour, 1), nullptr);
  DisposeCurrentImageGWorldPtr();
}

TEST(Offscreen, MakeTextFitShrinksUntilTheLineFits) {
  auto port = myNewGWorld(CLongRect_AC(0, 0, 100, 400));
  host::SavedPort saved;
  SetGWorld(port.get());
  TextSize(15);
  TextFace(0);
  const CStr255_AC text("A rather long caption for a tiny box");
  FontInfo fi;
  GetFontInfo(&fi);
  const int lineHeight = fi.ascent + fi.descent + fi.leading;

  int16_t style = 0;
  myMakeTextFit(CLongRect_AC(0, 0, 2 * lineHeight, 5), text, 15, style);
  EXPECT_EQ(style, 0);
  EXPECT_EQ(port->port().textSize, 15);

  myMakeTextFit(CLongRect_AC(0, 0, lineHeight, 5), text, 0, style);
  EXPECT_EQ(style, 0x20);
  EXPECT_EQ(port->port().textSize, 5);

  style = 0;
  TextSize(15);
  TextFace(0);
  const int full = StringWidth(text);
  myMakeTextFit(CLongRect_AC(0, 0, lineHeight, full + 1), text, 15, style);
  EXPECT_EQ(style, 0);
}

TEST(Offscreen, FitIntoABoxKeepsTheProportionsAndTakesTheSourceOver) {
  host::GWorldHandle small = Gradient(3, 2);
  auto up = ResizeToNewSize(small, CLongRect_AC(0, 0, 640, 640));
  ASSERT_TRUE(up);
  EXPECT_FALSE(small);
  EXPECT_EQ(up->width(), 640);
  EXPECT_EQ(up->height(), 426);
  host::GWorldHandle wide = Gradient(800, 600);
  auto down = ResizeToNewSize(wide, CLongRect_AC(0, 0, 640, 640));
  ASSERT_TRUE(down);
  EXPECT_EQ(down->width(), 640);
  EXPECT_EQ(down->height(), 480);
  host::GWorldHandle kept = Gradient(8, 8);
  EXPECT_FALSE(ResizeToNewSize(kept, CLongRect_AC(0, 0, 0, 640)));
  EXPECT_TRUE(kept);  // a failed fit leaves the source with the caller
}
