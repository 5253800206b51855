// Inset and offset placement, turned drawing, and the background colour's
// rounded rectangle.
#include <gtest/gtest.h>

#include "PhotoFixtures.h"
#include "host/qd/GWorld.h"
#include "layout/Objects.h"
#include "layout/Placement.h"

using namespace layout;

namespace {

CRect_AC R(int t, int l, int b, int r) { return CRect_AC(int16_t(t), int16_t(l), int16_t(b), int16_t(r)); }

void Fill(host::GWorld& g, uint8_t r, uint8_t gr, uint8_t b) {
  for (int y = 0; y < g.height(); ++y)
    for (int x = 0; x < g.width(); ++x) {
      uint8_t* p = g.scanline(y) + x * 4;
      p[0] = 0xFF; p[1] = r; p[2] = gr; p[3] = b;
    }
}

}  // namespace

TEST(Placement, Orientation) {
  EXPECT_EQ(GetRectOrientation(R(0, 0, 10, 20)), 1);
  EXPECT_EQ(GetRectOrientation(R(0, 0, 20, 10)), 2);
  EXPECT_EQ(GetRectOrientation(R(0, 0, 10, 10)), 3);
}

TEST(Placement, CentredInsetTrimsBothAxesByTheImageRatio) {
  const CRect_AC image = R(0, 0, 400, 600);
  CRect_AC source = image, target = R(0, 0, 400, 600);
  EXPECT_TRUE(InsetRects(source, target, image, target, 10, 1));
  EXPECT_EQ(source, R(7, 10, 393, 590));
}

TEST(Placement, NegativeInsetAtTheLeftEdgeGrowsTheRightEdgeTwice) {
  const CRect_AC image = R(0, 0, 400, 600);
  CRect_AC source = R(0, 0, 300, 400);
  CPoint_AC point{-10, -10};
  InsetSrcBound_Compute(point, -10, source, image);
  EXPECT_EQ(point.h, -10);
  EXPECT_EQ(point.v, -7);
  SrcBound_ComputeTopOrLeft(source, image, point);
  EXPECT_EQ(source.left, 0);
  EXPECT_EQ(source.right, 420);
  EXPECT_EQ(source.top, 0);
  EXPECT_EQ(source.bottom, 314);

  // A positive amount gives the centred trim.
  CRect_AC a = R(50, 50, 350, 450), b = a;
  CPoint_AC p{10, 10};
  InsetSrcBound_Compute(p, 10, a, image);
  SrcBound_ComputeTopOrLeft(a, image, p);
  SrcBound_ComputeCenter(b, image, p);
  EXPECT_EQ(a, b);
}

TEST(Placement, InsetOfEmptyRectanglesChangesNothing) {
  CRect_AC source = R(0, 0, 0, 0), target = R(0, 0, 100, 100);
  EXPECT_FALSE(InsetRects(source, target, R(0, 0, 0, 0), target, 10, 1));
  EXPECT_EQ(target, R(0, 0, 100, 100));
}

TEST(Placement, OffsetPastTheImageEdgeMovesTheTargetAndClampsToTheBox) {
  const CRect_AC image = R(0, 0, 400, 600);
  const CRect_AC box = R(0, 0, 400, 400);
  CRect_AC source = R(0, 20, 400, 420), target = box;
  OffsetRects(source, target, image, box, CPoint_AC{0, 30});
  EXPECT_EQ(source.left, 0);
  EXPECT_EQ(target.left, 10);
  EXPECT_EQ(target.right, box.right);
  EXPECT_EQ(source.right, 390);

  // Inside the image the source window just slides.
  CRect_AC s2 = R(0, 100, 400, 500), t2 = box;
  OffsetRects(s2, t2, image, box, CPoint_AC{0, 30});
  EXPECT_EQ(s2, R(0, 70, 400, 470));
  EXPECT_EQ(t2, box);
}

TEST(Placement, TurnedDrawingIsCentredAndEnlargedByTheBoxScale) {
  auto page = host::GWorld::Create(CLongRect_AC(0, 0, 400, 600));
  auto red = host::GWorld::Create(CLongRect_AC(0, 0, 10, 10));
  Fill(*red, 255, 0, 0);
  DrawRotatedGWorld(360, page.get(), red.get(), R(100, 100, 300, 500), 20);
  // 440 x 220 centred on (300, 200): columns 80..519, rows 90..309.
  EXPECT_TRUE(IsRed(*page, 81, 200));
  EXPECT_TRUE(IsWhite(*page, 78, 200));
  EXPECT_TRUE(IsRed(*page, 518, 200));
  EXPECT_TRUE(IsWhite(*page, 521, 200));
  EXPECT_TRUE(IsRed(*page, 300, 91));
  EXPECT_TRUE(IsWhite(*page, 300, 88));

  // A quarter turn of a wide strip makes it tall.
  auto page2 = host::GWorld::Create(CLongRect_AC(0, 0, 400, 400));
  DrawRotatedGWorld(90, page2.get(), red.get(), R(190, 100, 210, 300), 0);
  EXPECT_TRUE(IsRed(*page2, 200, 120));
  EXPECT_TRUE(IsWhite(*page2, 120, 200));
}

TEST(BackColor, RightAndBottomEdgesAreRoundedOutwards) {
  auto obj = TBackColorObject::New([] {
    CBackColorDesc d;
    d.head.fLeft = 0; d.head.fTop = 0; d.head.fWidth = 4; d.head.fHeight = 0.5f;
    d.fColor = RGBColor{0xFFFF, 0, 0};
    d.fSkipForPrintToFileSet = 1;
    return d;
  }());
  EXPECT_EQ(obj->PaintRectAt(300).right, 1201);
  EXPECT_EQ(obj->PaintRectAt(300).bottom, 151);

  FakeJobContext view;
  auto page = host::GWorld::Create(CLongRect_AC(0, 0, 200, 1300));
  EXPECT_TRUE(obj->Draw4Printing(page.get(), 300, view));
  EXPECT_TRUE(IsRed(*page, 1200, 150));
  EXPECT_TRUE(IsWhite(*page, 1201, 150));
  EXPECT_TRUE(IsWhite(*page, 0, 151));

  // The skip switch spares print-to-file-set routes only.
  auto page2 = host::GWorld::Create(CLongRect_AC(0, 0, 200, 1300));
  view.printer = 25;
  EXPECT_TRUE(obj->Draw4Printing(page2.get(), 300, view));
  EXPECT_TRUE(IsWhite(*page2, 10, 10));
}
