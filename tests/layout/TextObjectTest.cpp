// Text, edit-text, database and stamp objects drawn into real pages and
// measured there: where the ink lands, line breaks, justification, rotation,
// the print-to-file-set skip switch, and codes read back by zbarimg.
#include <gtest/gtest.h>

#include <cmath>

#include "PhotoFixtures.h"
#include "common/CodeReader.h"
#include "host/qd/QuickDraw.h"
#include "host/qd/Text.h"
#include "layout/Objects.h"
#include "layout/TextDraw.h"

using namespace layout;

namespace {

// The bounding box of the pixels darker than light grey; empty when none.
CLongRect_AC InkBox(const host::GWorld& g, int threshold = 600) {
  CLongRect_AC box(INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN);
  bool any = false;
  for (int y = 0; y < g.height(); ++y)
    for (int x = 0; x < g.width(); ++x) {
      const uint8_t* p = g.scanline(y) + 4 * x;
      if (p[1] + p[2] + p[3] >= threshold) continue;
      any = true;
      box.left = std::min(box.left, x);
      box.top = std::min(box.top, y);
      box.right = std::max(box.right, x + 1);
      box.bottom = std::max(box.bottom, y + 1);
    }
  return any ? box : CLongRect_AC();
}

// Runs of rows that hold ink: one per drawn line of text.
int InkBands(const host::GWorld& g) {
  int bands = 0;
  bool inBand = false;
  for (int y = 0; y < g.height(); ++y) {
    bool ink = false;
    for (int x = 0; x < g.width() && !ink; ++x) {
      const uint8_t* p = g.scanline(y) + 4 * x;
      ink = p[1] + p[2] + p[3] < 600;
    }
    if (ink && !inBand) ++bands;
    inBand = ink;
  }
  return bands;
}

bool PagesEqual(const host::GWorld& a, const host::GWorld& b) {
  for (int y = 0; y < a.height(); ++y)
    if (!std::equal(a.scanline(y), a.scanline(y) + 4 * a.width(), b.scanline(y))) return false;
  return true;
}

CTextDesc Text(const std::string& text, float l, float t, float w, float h, int16_t size = 12) {
  CTextDesc d;
  d.head.fLeft = l; d.head.fTop = t; d.head.fWidth = w; d.head.fHeight = h;
  d.fText = text;
  d.fTextInfo.size = size;
  d.fTextInfo.font = 21;
  return d;
}

struct TextObjects : ::testing::Test {
  FakeJobContext view;
  host::GWorldHandle Page(int w = 800, int h = 600) { return host::GWorld::Create(CLongRect_AC(0, 0, h, w)); }
  host::GWorldHandle Draw(const TLayoutObject& obj, int16_t dpi, int w = 800, int h = 600) {
    auto page = Page(w, h);
    auto copy = obj.Clone();
    EXPECT_TRUE(copy->Draw4Printing(page.get(), dpi, view));
    return page;
  }
  // The width in pixels of the text in font `font` at `size` pixels.
  static int32_t WidthOf(const std::string& text, int16_t font, int16_t size) {
    auto g = host::GWorld::Create(CLongRect_AC(0, 0, 10, 10));
    host::SavedPort saved;
    SetGWorld(g.get());
    TextFont(font);
    TextSize(size);
    TextFace(0);
    return TextWidth(text.data(), 0, int32_t(text.size()));
  }
};

}  // namespace

TEST_F(TextObjects, InkStaysInTheBoxAndLinesBreakAtWordsAndReturns) {
  // Box (1, 1) 3 x 2 inches at 100 dpi: 100..400 x 100..300.
  auto wrapped = Draw(*TTextObject::New(Text("Layout objects draw themselves onto the page", 1, 1, 3, 2, 18)), 100);
  const CLongRect_AC ink = InkBox(*wrapped);
  ASSERT_FALSE(ink.IsEmpty());
  EXPECT_GE(ink.left, 100);
  EXPECT_GE(ink.top, 100);
  EXPECT_LE(ink.right, 400);
  EXPECT_LE(ink.bottom, 300);
  EXPECT_LT(ink.left, 110) << "left-justified";
  EXPECT_GE(InkBands(*wrapped), 2) << "too long for one line: wrapped at word boundaries";

  auto oneLine = Draw(*TTextObject::New(Text("AAA BBB", 1, 1, 3, 2, 18)), 100);
  EXPECT_EQ(InkBands(*oneLine), 1);
  auto twoLines = Draw(*TTextObject::New(Text("AAA\rBBB", 1, 1, 3, 2, 18)), 100);
  EXPECT_EQ(InkBands(*twoLines), 2) << "a carriage return is a hard break";
  EXPECT_TRUE(InkBox(*Draw(*TTextObject::New(Text("", 1, 1, 3, 2)), 100)).IsEmpty());
}

TEST_F(TextObjects, RightJustifiedTextEndsFifteenPointsShortOfTheEdge) {
  // At 300 dpi the margin is 15 x 300 / 72 = 62.5 pixels: the left edge
  // moves right while (width - 62.5) > text width.
  CTextDesc d = Text("Kivo", 0, 0, 2, 0.5f, 12);  // box 0..600, size 50 pixels
  const int32_t w = WidthOf("Kivo", 21, 50);
  ASSERT_GT(w, 0);
  auto left = Draw(*TTextObject::New(d), 300);
  d.fTextInfo.just = -1;
  auto right = Draw(*TTextObject::New(d), 300);
  const int32_t expectedShift = 600 - int32_t(std::floor(double(w) + 62.5));
  EXPECT_EQ(InkBox(*right).left - InkBox(*left).left, expectedShift);
  EXPECT_LT(InkBox(*right).right, 600 - 55);

  // A text wider than the box minus the margin (but not wider than the
  // box) keeps its left edge.
  std::string long_ = "Kivo";
  while (WidthOf(long_ + "o", 21, 50) <= 600) long_ += "o";
  ASSERT_GT(WidthOf(long_, 21, 50), 600 - 62);
  CTextDesc wide = Text(long_, 0, 0, 2, 0.5f, 12);
  auto wideLeft = Draw(*TTextObject::New(wide), 300);
  wide.fTextInfo.just = -1;
  auto wideRight = Draw(*TTextObject::New(wide), 300);
  EXPECT_EQ(InkBox(*wideRight).left, InkBox(*wideLeft).left);

  // The stamp's right justification is the text box's own: flush right.
  CStampDesc s;
  s.head = d.head;
  s.fText = "Kivo";
  s.fTextInfo = d.fTextInfo;
  auto stamp = Draw(*TStampObject::New(s), 300);
  EXPECT_GT(InkBox(*stamp).right, 600 - 8);
  EXPECT_LE(InkBox(*stamp).right, 600);

  // Centred text is centred.
  d.fTextInfo.just = 1;
  const CLongRect_AC centred = InkBox(*Draw(*TTextObject::New(d), 300));
  EXPECT_NEAR((centred.left + centred.right) / 2.0, 300, 6);
}

TEST_F(TextObjects, RotatedTextStartsWhereItsTurnPutsIt) {
  // A tall box 100..200 x 100..500 at 100 dpi holding one short line.
  CTextDesc d = Text("MMMM", 1, 1, 1, 4, 20);
  d.fTextOption1 = 90;  // clockwise: reads top to bottom, tops facing right
  const CLongRect_AC r90 = InkBox(*Draw(*TTextObject::New(d), 100));
  d.fTextOption1 = 270;  // reads bottom to top, tops facing left
  const CLongRect_AC r270 = InkBox(*Draw(*TTextObject::New(d), 100));
  d.fTextOption1 = 180;
  const CLongRect_AC r180 = InkBox(*Draw(*TTextObject::New(d), 100));
  ASSERT_FALSE(r90.IsEmpty());
  ASSERT_FALSE(r270.IsEmpty());
  ASSERT_FALSE(r180.IsEmpty());
  for (const CLongRect_AC& r : {r90, r270, r180}) {
    EXPECT_GE(r.left, 100);
    EXPECT_LE(r.right, 200);
    EXPECT_GE(r.top, 100);
    EXPECT_LE(r.bottom, 500);
  }
  EXPECT_GT(r90.Height(), r90.Width()) << "the line runs down the box";
  EXPECT_LT(r90.top, 110);
  EXPECT_GT(r90.left, 140) << "first line along the right side";
  EXPECT_GT(r270.bottom, 490);
  EXPECT_LT(r270.right, 160) << "first line along the left side";
  EXPECT_GT(r180.bottom, 440);
  EXPECT_GT(r180.right, 190) << "starts at the bottom right, upside down";
  EXPECT_GT(r180.Width(), r180.Height());
}

TEST_F(TextObjects, RotatedTextScalesOnlyAboveSeventyTwoDpi) {
  // At 50 dpi unrotated text is 24 x 50 / 72 = 16 pixels; rotated text
  // keeps the 24-point size.
  CTextDesc d = Text("HHHH", 0, 0, 6, 2, 24);
  const CLongRect_AC flat = InkBox(*Draw(*TTextObject::New(d), 50));
  d.fTextOption1 = 180;
  const CLongRect_AC turned = InkBox(*Draw(*TTextObject::New(d), 50));
  ASSERT_FALSE(flat.IsEmpty());
  ASSERT_FALSE(turned.IsEmpty());
  EXPECT_NEAR(double(turned.Height()) / double(flat.Height()), 24.0 / 16.0, 0.15);
}

TEST_F(TextObjects, RotatedWhiteTextLeavesThePageAsItWas) {
  auto page = Page();
  for (int y = 0; y < page->height(); ++y)
    for (int x = 0; x < page->width(); ++x) page->scanline(y)[4 * x + 3] = 0x40;  // a bluish page
  auto before = host::GWorld::Create(page->bounds());
  std::copy(page->pixels(), page->pixels() + page->byteCount(), before->pixels());
  CTextDesc d = Text("White on white", 1, 1, 2, 3, 24);
  d.fTextInfo.color = RGBColor{65535, 65535, 65535};
  d.fTextOption1 = 90;
  ASSERT_TRUE(TTextObject::New(d)->Draw4Printing(page.get(), 100, view));
  EXPECT_TRUE(PagesEqual(*page, *before));
}

TEST_F(TextObjects, SkipSwitchOnlyCountsOnPrintToFileSetRoutes) {
  CTextDesc d = Text("skip me", 0, 0, 4, 1, 24);
  d.fTextOption2 = 1;
  for (int16_t code : {17, 24, 29, 48, 53}) {
    view.printer = code;
    EXPECT_FALSE(InkBox(*Draw(*TTextObject::New(d), 100)).IsEmpty()) << code;
  }
  for (int16_t code : {25, 28, 49, 52}) {
    view.printer = code;
    EXPECT_TRUE(InkBox(*Draw(*TTextObject::New(d), 100)).IsEmpty()) << code;
  }
  // The edit text's skip switch is its fourth option, which on a text means
  // a QR code; an edit text never draws a code.
  CEditTextDesc e;
  static_cast<CTextDesc&>(e) = Text("edit", 0, 0, 4, 1, 24);
  e.fTextOption4 = 1;
  view.printer = 17;
  const auto edit = Draw(*TEditTextObject::New(e), 100);
  EXPECT_FALSE(InkBox(*edit).IsEmpty());
  EXPECT_EQ(InkBands(*edit), 1);
  view.printer = 25;
  EXPECT_TRUE(InkBox(*Draw(*TEditTextObject::New(e), 100)).IsEmpty());
  // A database field is drawn on every route whatever its options hold.
  CDatabaseDesc db;
  db.head = d.head;
  db.fText = "field";
  db.fTextInfo = d.fTextInfo;
  db.fTextOption2 = db.fTextOption3 = 1;
  EXPECT_FALSE(InkBox(*Draw(*TDatabaseObject::New(db), 100)).IsEmpty());
  // A stamp's skip field counts when any bit is set, in either byte order.
  CStampDesc s;
  s.head = d.head;
  s.fText = "stamp";
  s.fTextInfo = d.fTextInfo;
  s.fStampValue = 0x0100;
  EXPECT_TRUE(InkBox(*Draw(*TStampObject::New(s), 100)).IsEmpty());
  view.printer = 17;
  EXPECT_FALSE(InkBox(*Draw(*TStampObject::New(s), 100)).IsEmpty());
}

TEST_F(TextObjects, CodesReadBackFromThePage) {
  if (!ZbarAvailable()) GTEST_SKIP() << "zbarimg not installed";
  TempDir dir;
  CTextDesc qr = Text("https://example.org/a?b=1", 1, 1, 2, 2);
  qr.fTextOption4 = 1;
  auto page = Draw(*TTextObject::New(qr), 100, 500, 400);
  const CLongRect_AC ink = InkBox(*page);
  EXPECT_GE(ink.left, 100);
  EXPECT_LE(ink.right, 300);
  EXPECT_GE(ink.top, 100);
  EXPECT_LE(ink.bottom, 300);
  EXPECT_EQ(ReadCodesWithZbar(*page, dir / "qr.png"), std::vector<std::string>{"QR-Code:https://example.org/a?b=1"});
  for (int16_t turn : {90, 270}) {
    qr.fTextOption1 = turn;
    auto turned = Draw(*TTextObject::New(qr), 100, 500, 400);
    EXPECT_FALSE(PagesEqual(*turned, *page));
    EXPECT_EQ(ReadCodesWithZbar(*turned, dir / "turned.png"),
              std::vector<std::string>{"QR-Code:https://example.org/a?b=1"})
        << turn;
  }

  CStampDesc bar;
  bar.head.fLeft = 0.5f; bar.head.fTop = 1; bar.head.fWidth = 4; bar.head.fHeight = 1;
  bar.fText = "ABC-123";
  bar.fStampOption8 = 2;
  auto barPage = Draw(*TStampObject::New(bar), 100, 500, 400);
  EXPECT_GE(InkBox(*barPage).left, 50 + 7);
  EXPECT_EQ(ReadCodesWithZbar(*barPage, dir / "bar.png"), std::vector<std::string>{"CODE-128:ABC-123"});
}

TEST_F(TextObjects, TextsTheCodesCannotHoldFailTheObjectSayingWhy) {
  auto drawFails = [&](const TLayoutObject& obj) {
    auto page = Page();
    view.failures.clear();
    EXPECT_FALSE(obj.Clone()->Draw4Printing(page.get(), 100, view));
    EXPECT_TRUE(InkBox(*page).IsEmpty());
    return view.failures.empty() ? std::string() : view.failures.front();
  };
  CTextDesc qr = Text("", 1, 1, 2, 2);
  qr.fText = CStr255_AC::FromMacRoman("Wait\xC9");  // an ellipsis: no ISO Latin-1 form
  qr.fTextOption4 = 1;
  EXPECT_EQ(drawFails(*TTextObject::New(qr)),
            "The text object \"Wait\xE2\x80\xA6\" cannot be drawn as a QR code: it has characters without an ISO "
            "Latin-1 form!");
  CStampDesc bar;
  bar.head.fLeft = 1; bar.head.fTop = 1; bar.head.fWidth = 4; bar.head.fHeight = 1;
  bar.fText = CStr255_AC::FromMacRoman("Caf\x8E");  // é is not ASCII
  bar.fStampOption8 = 2;
  EXPECT_EQ(drawFails(*TStampObject::New(bar)),
            "The stamp \"Caf\xC3\xA9\" cannot be drawn as a Code 128 barcode: it has characters outside ASCII!");
  // Too long for a barcode of any width the encoder makes.
  bar.fText = CStr255_AC(std::string(255, '7'));
  EXPECT_NE(drawFails(*TStampObject::New(bar)).find("cannot be drawn as a Code 128 barcode: the encoder refused it"),
            std::string::npos);

  // An empty text has no code and nothing to lose: the object is drawn.
  CTextDesc empty = Text("", 1, 1, 2, 2);
  empty.fTextOption4 = 1;
  view.failures.clear();
  EXPECT_TRUE(InkBox(*Draw(*TTextObject::New(empty), 100)).IsEmpty());
  EXPECT_TRUE(view.failures.empty());
}

TEST_F(TextObjects, SizesAndBoxesBeyondThePageAreHeldToIt) {
  CTextDesc huge = Text("Big", 0, 0, 4, 3, 32767);
  auto page = Draw(*TTextObject::New(huge), 300, 400, 300);
  huge.fTextOption1 = 90;
  Draw(*TTextObject::New(huge), 300, 400, 300);
  CTextDesc wide = Text("Wide box", 0.5f, 0.5f, 1e9f, 1e9f, 24);
  wide.fTextOption1 = 270;
  const CLongRect_AC ink = InkBox(*Draw(*TTextObject::New(wide), 300, 400, 300));
  EXPECT_TRUE(ink.IsEmpty() || (ink.left >= 150 && ink.top >= 150));
  wide.fTextOption1 = 0;
  wide.fTextInfo.size = -5;
  Draw(*TTextObject::New(wide), 300, 400, 300);
}

TEST_F(TextObjects, AMissingFontIsLoggedOncePerJob) {
  CTextDesc d = Text("font", 0, 0, 4, 1, 24);
  d.fTextInfo.font = 9999;
  const auto page = Draw(*TTextObject::New(d), 100);
  EXPECT_FALSE(InkBox(*page).IsEmpty()) << "drawn with a fallback font";
  Draw(*TTextObject::New(d), 100);
  EXPECT_EQ(view.noted.count("font 9999"), 1u);
  EXPECT_FALSE(view.FirstTimeInJob("font 9999"));
  d.fTextInfo.font = 21;
  Draw(*TTextObject::New(d), 100);
  EXPECT_EQ(view.noted.count("font 21"), 0u) << "Helvetica is drawn by an installed family";
}
