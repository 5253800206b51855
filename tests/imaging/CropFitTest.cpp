#include "imaging/CropFit.h"

#include <gtest/gtest.h>

namespace {
CLongRect_AC R(int t, int l, int b, int r) { return CLongRect_AC(t, l, b, r); }
CLongRect_AC Size(int w, int h) { return R(0, 0, h, w); }
}  // namespace

TEST(CropFit, CropAndResizeKeepsFrameProportionsAtEachAnchor) {
  EXPECT_EQ(CropAndResize(Size(1000, 800), Size(100, 100), 1), R(0, 100, 800, 900));
  EXPECT_EQ(CropAndResize(Size(1000, 800), Size(100, 100), 2), R(0, 0, 800, 800));
  EXPECT_EQ(CropAndResize(Size(1000, 800), Size(100, 100), 3), R(0, 200, 800, 1000));
  EXPECT_EQ(CropAndResize(Size(800, 1000), Size(100, 100), 0), R(100, 0, 900, 800));
  EXPECT_EQ(CropAndResize(Size(800, 1000), Size(100, 100), 3), R(200, 0, 1000, 800));
  // Empty frames give an empty crop instead of dividing by zero.
  EXPECT_TRUE(CropAndResize(Size(800, 1000), Size(0, 100), 0).IsEmpty());
}

TEST(CropFit, FitAndMaximumRect) {
  EXPECT_EQ(ResizeToFit(R(10, 20, 110, 120), Size(300, 200)), R(27, 20, 93, 120));
  EXPECT_EQ(CalculateMaximumRect(Size(100, 100), Size(50, 50), false), R(25, 25, 75, 75));
  EXPECT_EQ(CalculateMaximumRect(Size(100, 100), Size(50, 50), true), R(0, 0, 100, 100));
  // Exactly as wide as the frame and taller keeps its size (strict comparisons).
  EXPECT_EQ(CalculateMaximumRect(Size(100, 100), Size(100, 150), false), R(-25, 0, 125, 100));
  // Photos beyond 16-bit sizes work.
  EXPECT_EQ(CalculateMaximumRect(Size(40000, 20000), Size(80000, 40000), false), R(0, 0, 20000, 40000));
}

TEST(CropFit, CropRectByKind) {
  EXPECT_EQ(getCropRect(R(5, 6, 105, 206), 1, 0, 0, 300), R(5, 6, 105, 206));
  EXPECT_EQ(getCropRect(Size(1000, 1500), 2, 0, 0, 300), Size(800, 1000));
  EXPECT_EQ(getCropRect(Size(1500, 1000), 5, 7, 5, 300), Size(1000, 714));
  EXPECT_EQ(getCropRect(Size(900, 600), 6, 4, 4, 300), Size(600, 600));
  // 8 x 10 of a 1500 x 1000 photo: 1500 wide and 1200 high, so the part of
  // the photo placed into it is the 1250 x 1000 middle, not the whole photo.
  const CLongRect_AC eightByTen = getCropRect(Size(1500, 1000), 2, 0, 0, 300);
  EXPECT_EQ(eightByTen, Size(1500, 1200));
  EXPECT_EQ(CropAndResize(Size(1500, 1000), eightByTen, 1), R(0, 125, 1000, 1375));
  // Ratios from a damaged job keep the whole image.
  EXPECT_EQ(getCropRect(Size(30, 20), 6, 0, 5, 300), Size(30, 20));
}
