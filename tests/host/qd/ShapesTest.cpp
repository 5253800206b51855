#include <gtest/gtest.h>

#include "Pixels.h"
#include "host/qd/QuickDraw.h"

using qdtest::Argb;
using qdtest::At;

namespace {

constexpr RGBColor kRed{65535, 0, 0};
constexpr Argb kWhite{255, 255, 255, 255};

// An offscreen with a non-zero origin, made current; alpha cleared to 7 so
// that tests can see drawing leave it alone.
host::GWorldHandle Page(const CLongRect_AC& bounds = CLongRect_AC(10, 20, 60, 80)) {
  auto w = host::GWorld::Create(bounds);
  qdtest::FillAll(*w, {7, 255, 255, 255});
  SetGWorld(w.get());
  return w;
}

}  // namespace

TEST(Port, CurrentPortKeepsItsOwnStateAndForgetsADisposedOffscreen) {
  auto a = host::GWorld::Create(CLongRect_AC(0, 0, 2, 2));
  auto b = host::GWorld::Create(CLongRect_AC(0, 0, 2, 2));
  SetGWorld(a.get());
  RGBForeColor(kRed);
  {
    host::SavedPort saved;
    SetGWorld(b.get());
    RGBColor c;
    GetForeColor(&c);
    EXPECT_EQ(c, (RGBColor{0, 0, 0}));
    GetBackColor(&c);
    EXPECT_EQ(c, (RGBColor{65535, 65535, 65535}));
  }
  GWorldPtr current = nullptr;
  GetGWorld(&current);
  EXPECT_EQ(current, a.get());
  EXPECT_EQ(a->port().foreColor, kRed);
  a.reset();
  EXPECT_EQ(host::CurrentPort(), nullptr);
  SetGWorld(b.get());
  {
    host::SavedPort saved;  // saves b …
    SetGWorld(nullptr);
    b.reset();  // … which goes while saved
  }
  EXPECT_EQ(host::CurrentPort(), nullptr);
  // Drawing with no current port does nothing and does not crash.
  PaintRect(CLongRect_AC(0, 0, 2, 2));
  LineTo(5, 5);
}

TEST(Shapes, PaintAndEraseRectCoverExactPixelsAndKeepAlpha) {
  auto w = Page();
  RGBForeColor(kRed);
  PaintRect(CLongRect_AC(20, 30, 24, 35));  // top 20, left 30, bottom 24, right 35
  EXPECT_EQ(At(*w, 30, 20), (Argb{7, 255, 0, 0}));
  EXPECT_EQ(At(*w, 34, 23), (Argb{7, 255, 0, 0}));
  EXPECT_EQ(At(*w, 35, 23), (Argb{7, 255, 255, 255}));
  EXPECT_EQ(At(*w, 34, 24), (Argb{7, 255, 255, 255}));
  EXPECT_EQ(At(*w, 29, 20), (Argb{7, 255, 255, 255}));

  RGBBackColor(RGBColor{0, 0, 65535});
  EraseRect(CLongRect_AC(20, 30, 21, 31));
  EXPECT_EQ(At(*w, 30, 20), (Argb{7, 0, 0, 255}));

  // A rectangle reaching far past the offscreen paints the visible part only.
  ForeColor(host::blackColor);
  PaintRect(CLongRect_AC(-2000000000, -2000000000, 12, 2000000000));
  EXPECT_EQ(At(*w, 20, 10), (Argb{7, 0, 0, 0}));
  EXPECT_EQ(At(*w, 79, 11), (Argb{7, 0, 0, 0}));
  EXPECT_EQ(At(*w, 79, 12), (Argb{7, 255, 255, 255}));
  // Empty rectangles draw nothing.
  PaintRect(CLongRect_AC(40, 40, 40, 50));
  EXPECT_EQ(At(*w, 45, 40), (Argb{7, 255, 255, 255}));
}

TEST(Shapes, FrameRectDrawsThePenInsideTheEdge) {
  auto w = Page();
  PenSize(3, 2);
  FrameRect(CLongRect_AC(20, 30, 40, 60));
  EXPECT_EQ(At(*w, 30, 30).r, 0);  // left edge, pen 3 wide
  EXPECT_EQ(At(*w, 32, 30).r, 0);
  EXPECT_EQ(At(*w, 33, 30).r, 255);
  EXPECT_EQ(At(*w, 59, 30).r, 0);  // right edge
  EXPECT_EQ(At(*w, 57, 30).r, 0);
  EXPECT_EQ(At(*w, 56, 30).r, 255);
  EXPECT_EQ(At(*w, 45, 21).r, 0);  // top edge, pen 2 high
  EXPECT_EQ(At(*w, 45, 22).r, 255);
  EXPECT_EQ(At(*w, 45, 38).r, 0);  // bottom edge
  EXPECT_EQ(At(*w, 45, 37).r, 255);
  EXPECT_EQ(At(*w, 45, 40).r, 255);
  EXPECT_EQ(At(*w, 29, 30).r, 255);
}

TEST(Shapes, OvalsAreAntiAliasedInsideTheirRectangle) {
  auto w = Page();
  PaintOval(CLongRect_AC(20, 30, 50, 70));
  EXPECT_EQ(At(*w, 50, 35), (Argb{7, 0, 0, 0}));   // centre
  EXPECT_EQ(At(*w, 30, 20), (Argb{7, 255, 255, 255}));  // corner
  EXPECT_EQ(At(*w, 69, 49).r, 255);
  EXPECT_LT(At(*w, 50, 20).r, 64);  // top middle lies (almost wholly) inside
  // Some edge pixel is partly covered: anti-aliased, not black or white.
  bool partial = false;
  for (int h = 30; h < 70 && !partial; ++h) {
    const uint8_t r = At(*w, h, 22).r;
    partial = r > 0 && r < 255;
  }
  EXPECT_TRUE(partial);

  auto f = Page();
  PenSize(2, 2);
  FrameOval(CLongRect_AC(20, 30, 50, 70));
  EXPECT_EQ(At(*f, 50, 35).r, 255);  // hollow
  EXPECT_LT(At(*f, 50, 20).r, 64);
  EXPECT_LT(At(*f, 50, 49).r, 64);
  EXPECT_LT(At(*f, 30, 35).r, 64);
  EXPECT_EQ(At(*f, 33, 35).r, 255);
}

TEST(Shapes, RoundRectsRoundOnlyTheirCorners) {
  auto w = Page();
  PaintRoundRect(CLongRect_AC(20, 30, 50, 70), 20, 20);
  EXPECT_EQ(At(*w, 30, 20).r, 255);  // cut corner
  EXPECT_EQ(At(*w, 50, 20).r, 0);    // straight top edge
  EXPECT_EQ(At(*w, 30, 35).r, 0);    // straight left edge
  auto f = Page();
  FrameRoundRect(CLongRect_AC(20, 30, 50, 70), 20, 20);
  EXPECT_EQ(At(*f, 50, 20).r, 0);
  EXPECT_EQ(At(*f, 50, 21).r, 255);
  EXPECT_EQ(At(*f, 30, 20).r, 255);
}

TEST(Shapes, LinesDragThePenBelowAndRightOfThePath) {
  auto w = Page();
  PenSize(1, 2);
  MoveTo(30, 20);
  LineTo(40, 20);
  for (int h = 30; h <= 40; ++h) {
    EXPECT_EQ(At(*w, h, 20).r, 0) << h;
    EXPECT_EQ(At(*w, h, 21).r, 0) << h;
    EXPECT_EQ(At(*w, h, 22).r, 255) << h;
  }
  EXPECT_EQ(At(*w, 41, 20).r, 255);
  CLongPoint_AC pen;
  GetPen(&pen);
  EXPECT_EQ(pen, CLongPoint_AC(20, 40));
  Line(0, 10);  // vertical, down from (40, 20)
  EXPECT_EQ(At(*w, 40, 31).r, 0);
  EXPECT_EQ(At(*w, 41, 25).r, 255);
  // A zero-size pen draws nothing.
  PenSize(0, 0);
  MoveTo(50, 40);
  LineTo(70, 40);
  EXPECT_EQ(At(*w, 60, 40).r, 255);
}

TEST(Shapes, FillRectLaysThePatternFromTheOffscreenCorner) {
  auto w = Page();
  RGBForeColor(kRed);
  FillRect(CLongRect_AC(10, 20, 14, 24), host::kGrayPattern);
  EXPECT_EQ(At(*w, 20, 10), (Argb{7, 255, 0, 0}));
  EXPECT_EQ(At(*w, 21, 10), (Argb{7, 255, 255, 255}));
  EXPECT_EQ(At(*w, 20, 11), (Argb{7, 255, 255, 255}));
  EXPECT_EQ(At(*w, 21, 11), (Argb{7, 255, 0, 0}));
}
