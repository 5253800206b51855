#include "chromakey/Masks.h"

#include <gtest/gtest.h>

#include "MaskFixtures.h"
#include "imaging/Offscreen.h"

using cktest::ArchiveShapes;
using cktest::PhotoDir;

namespace {

host::GWorldHandle Photo(int w, int h) { return myNewGWorld(CLongRect_AC(0, 0, h, w)); }

uint8_t Alpha(const host::GWorld& g, int x, int y) { return g.scanline(y)[size_t(x) * 4]; }
uint8_t Red(const host::GWorld& g, int x, int y) { return g.scanline(y)[size_t(x) * 4 + 1]; }

}  // namespace

TEST(Masks, IncludeMaskBecomesTheAlphaOfThePhoto) {
  PhotoDir dir;
  // A rectangle (top-left origin) and a free-form triangle (bottom-left
  // origin), both at half size: the photo gets them scaled by 2.
  const FSSpec file = dir.Photo(
      "a.jpg", ArchiveShapes({{"rectangle", "{{5, 5}, {10, 5}}"},
                              {"freeForm", "{{30, 40}, {0, 0}}", "{{45, 40}, {0, 0}}", "{{30, 25}, {0, 0}}"},
                              {"oval", "{{0, 30}, {10, 10}}"}}));
  ASSERT_TRUE(hasExternalMask(file));
  EXPECT_FALSE(hasExclusionMask(file));
  auto photo = Photo(100, 100);
  copyJunkMaskToAlphaChannelOffscreen(photo.get(), file, 2.0f);
  EXPECT_EQ(Alpha(*photo, 15, 12), 255);   // inside the rectangle 10..30 x 10..20
  EXPECT_EQ(Alpha(*photo, 35, 12), 0);
  EXPECT_EQ(Alpha(*photo, 15, 25), 0);
  // Triangle corners (60,20), (90,20), (60,50) in top-left coordinates.
  EXPECT_EQ(Alpha(*photo, 63, 23), 255);
  EXPECT_EQ(Alpha(*photo, 85, 45), 0);
  EXPECT_EQ(Alpha(*photo, 63, 80), 0) << "the free form is not drawn upside down";
  // Oval inscribed in 0..20 x 60..80: centre in, corner out.
  EXPECT_EQ(Alpha(*photo, 10, 70), 255);
  EXPECT_EQ(Alpha(*photo, 1, 61), 0);
  EXPECT_EQ(Red(*photo, 15, 12), 255) << "colours are unchanged";

  auto asImage = getNewJunkMaskOffscreen(photo.get(), file, 2.0f);
  ASSERT_TRUE(asImage);
  EXPECT_EQ(Red(*asImage, 15, 12), 255);
  EXPECT_EQ(Red(*asImage, 35, 12), 0);
}

TEST(Masks, MissingMalformedAndEmptyMasks) {
  PhotoDir dir;
  auto photo = Photo(20, 20);
  // No sidecar at all, and a resource that is not a keyed archive: no mask,
  // and the photo keeps its opaque alpha.
  for (const FSSpec& file : {dir.Photo("none.jpg", {}), dir.Photo("bad.jpg", {1, 2, 3, 4, 5})}) {
    EXPECT_FALSE(hasExternalMask(file));
    copyJunkMaskToAlphaChannelOffscreen(photo.get(), file, 2.0f);
    EXPECT_EQ(Alpha(*photo, 5, 5), 255);
    EXPECT_FALSE(getNewJunkMaskOffscreen(photo.get(), file, 2.0f));
  }
  // A damaged sidecar is no mask either.
  {
    const FSSpec file = dir.Photo("damaged.jpg", {});
    std::ofstream(dir.path() + "/._damaged.jpg", std::ios::binary) << "not an AppleDouble file at all";
    EXPECT_FALSE(hasExternalMask(file));
  }
  // An empty shape list is a mask that includes nothing.
  const FSSpec empty = dir.Photo("empty.jpg", ArchiveShapes({}));
  EXPECT_TRUE(hasExternalMask(empty));
  copyJunkMaskToAlphaChannelOffscreen(photo.get(), empty, 2.0f);
  EXPECT_EQ(Alpha(*photo, 5, 5), 0);
}

TEST(Masks, ShapesAreClippedAndBadNumbersSkipped) {
  PhotoDir dir;
  const FSSpec file = dir.Photo(
      "c.jpg", ArchiveShapes({{"rectangle", "{{-100000, -5}, {200000, 12}}"},  // wider than the photo
                              {"rectangle", "{{nan, 0}, {5, 5}}"},
                              {"rectangle"},                                  // no rectangle at all
                              {"freeForm", "{{1, 1}, {0, 0}}"},               // start point only
                              {"freeForm", "{{1e300, 1}, {0, 0}}", "{{2, 2}, {0, 0}}", "{{3, 1}, {0, 0}}"}}));
  auto photo = Photo(30, 30);
  copyJunkMaskToAlphaChannelOffscreen(photo.get(), file, 1.0f);
  EXPECT_EQ(Alpha(*photo, 0, 3), 255);
  EXPECT_EQ(Alpha(*photo, 29, 6), 255);
  EXPECT_EQ(Alpha(*photo, 15, 20), 0);
}

TEST(Masks, ExclusionMaskIsBlackOnWhite) {
  PhotoDir dir;
  const FSSpec file = dir.Photo("e.jpg", {}, ArchiveShapes({{"rectangle", "{{2, 2}, {3, 3}}"}}));
  EXPECT_TRUE(hasExclusionMask(file));
  EXPECT_FALSE(hasExternalMask(file));
  auto target = Photo(20, 20);
  copyExclusionMaskToOffscreen(target.get(), file, 2.0f);
  EXPECT_EQ(Red(*target, 5, 5), 0);
  EXPECT_EQ(Red(*target, 11, 5), 255);
  EXPECT_EQ(Red(*target, 3, 3), 255);
}

TEST(Masks, RectangleStrings) {
  double x, y, w, h;
  ASSERT_TRUE(chromakey::ParseRectString("{{1.5, -2}, {30, 4e1}}", &x, &y, &w, &h));
  EXPECT_EQ(x, 1.5);
  EXPECT_EQ(y, -2);
  EXPECT_EQ(w, 30);
  EXPECT_EQ(h, 40);
  ASSERT_TRUE(chromakey::ParseRectString("{{7, 8}}", &x, &y, &w, &h));
  EXPECT_EQ(x, 7);
  EXPECT_EQ(w, 0);
  EXPECT_FALSE(chromakey::ParseRectString("{{inf, 0}, {1, 1}}", &x, &y, &w, &h));
}
