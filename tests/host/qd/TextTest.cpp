#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Pixels.h"
#include "host/qd/Fonts.h"
#include "host/qd/QuickDraw.h"
#include "host/qd/Text.h"

using qdtest::At;
using qdtest::InkBounds;

namespace {

constexpr int16_t kHelvetica = 21;
constexpr int16_t kCourier = 22;

host::GWorldHandle Page(const CLongRect_AC& bounds) {
  auto w = host::GWorld::Create(bounds);
  SetGWorld(w.get());
  return w;
}

void Box(const std::string& text, const CLongRect_AC& box, int16_t just) {
  OldTextBox_AC(text.data(), int32_t(text.size()), box, just);
}

int32_t Width(const std::string& text) { return TextWidth(text.data(), 0, int32_t(text.size())); }

}  // namespace

TEST(Fonts, ClassicFamiliesMapToInstalledMetricCompatibleFonts) {
  EXPECT_NE(host::FindFontFace("Helvetica", false, false).path.find("LiberationSans-Regular"), std::string::npos);
  EXPECT_NE(host::FindFontFace("Times", false, false).path.find("LiberationSerif-Regular"), std::string::npos);
  EXPECT_NE(host::FindFontFace("courier", false, false).path.find("LiberationMono-Regular"), std::string::npos);
  EXPECT_NE(host::FindFontFace("Geneva", false, false).path.find("DejaVuSans.ttf"), std::string::npos);
  EXPECT_NE(host::FindFontFace("Monaco", false, false).path.find("DejaVuSansMono"), std::string::npos);
  EXPECT_NE(host::FindFontFace("New York", false, false).path.find("DejaVuSerif"), std::string::npos);
  const auto boldItalic = host::FindFontFace("Helvetica", true, true);
  EXPECT_NE(boldItalic.path.find("LiberationSans-BoldItalic"), std::string::npos);
  EXPECT_FALSE(boldItalic.syntheticBold);
  EXPECT_FALSE(boldItalic.syntheticItalic);
  // An unknown family still gets some installed font.
  EXPECT_FALSE(host::FindFontFace("No Such Family 123", false, false).path.empty());
}

TEST(Fonts, NumbersAndNamesRoundTrip) {
  EXPECT_EQ(host::FontFamilyForNumber(kHelvetica), "Helvetica");
  EXPECT_EQ(host::FontFamilyForNumber(20), "Times");
  EXPECT_EQ(host::FontFamilyForNumber(1), "Geneva");
  EXPECT_EQ(host::FontFamilyForNumber(999), "Geneva");
  int16_t number = 0;
  GetFNum(CStr255_AC("courier"), &number);
  EXPECT_EQ(number, kCourier);
  GetFNum(CStr255_AC("Some Job Font"), &number);
  EXPECT_GE(number, 1024);
  int16_t again = 0;
  GetFNum(CStr255_AC("Some Job Font"), &again);
  EXPECT_EQ(again, number);
  CStr255_AC name;
  GetFontName(number, name);
  EXPECT_EQ(name.ToUTF8(), "Some Job Font");
}

TEST(TextMeasure, WidthsAndMetricsFollowFontSizeAndFace) {
  auto w = Page(CLongRect_AC(0, 0, 10, 10));
  TextFont(kHelvetica);
  TextSize(100);
  FontInfo info;
  GetFontInfo(&info);
  // Liberation Sans: ascent 0.905 em, descent 0.212 em, line gap 0.033 em.
  EXPECT_EQ(info.ascent, 91);
  EXPECT_EQ(info.descent, 21);
  EXPECT_EQ(info.leading, 3);
  // Helvetica widths: H 0.722, e 0.556, l 0.222, o 0.556 em; "Hello" is 2.278 em.
  EXPECT_NEAR(Width("Hello"), 228, 1);
  TextSize(50);
  EXPECT_NEAR(Width("Hello"), 114, 1);
  const int32_t plain = Width("Hello world");
  TextFace(host::condense);
  EXPECT_LT(Width("Hello world"), plain);
  TextFace(host::extend);
  EXPECT_GT(Width("Hello world"), plain);
  TextFace(host::bold);
  EXPECT_GT(Width("Hello world"), plain);
  TextFace(host::normal);
  TextFont(kCourier);
  EXPECT_EQ(Width("iii"), Width("WWW"));
  EXPECT_EQ(TextWidth(nullptr, 0, 3), 0);
  EXPECT_EQ(Width(""), 0);
  EXPECT_EQ(StringWidth(CStr255_AC("iii")), Width("iii"));
}

TEST(TextDraw, DrawStringPutsInkOnTheBaselineAndMovesThePen) {
  auto w = Page(CLongRect_AC(0, 0, 100, 300));
  TextFont(kHelvetica);
  TextSize(40);
  MoveTo(20, 60);
  DrawString(CStr255_AC("Hxj"));
  const CLongRect_AC ink = InkBounds(*w);
  EXPECT_GE(ink.left, 20);
  EXPECT_LE(ink.left, 24);
  EXPECT_LT(ink.top, 60 - 25);  // cap height above the baseline
  EXPECT_GT(ink.bottom, 60 + 5);  // descender of j below it
  CLongPoint_AC pen;
  GetPen(&pen);
  EXPECT_EQ(pen.v, 60);
  EXPECT_EQ(pen.h, 20 + Width("Hxj"));
  EXPECT_LE(ink.right, pen.h + 2);
}

TEST(TextDraw, TextKeepsAlphaAndUsesForegroundColour) {
  auto w = Page(CLongRect_AC(0, 0, 60, 200));
  qdtest::FillAll(*w, {0, 255, 255, 255});
  TextFont(kHelvetica);
  TextSize(40);
  RGBForeColor(RGBColor{0, 0, 65535});
  MoveTo(10, 45);
  DrawString(CStr255_AC("HH"));
  bool blue = false;
  for (int v = 0; v < 60; ++v) {
    for (int h = 0; h < 200; ++h) {
      const auto p = At(*w, h, v);
      EXPECT_EQ(p.a, 0);
      blue = blue || (p.r == 0 && p.g == 0 && p.b == 255);
    }
  }
  EXPECT_TRUE(blue);
}

TEST(TextBox, TextStaysInItsBoxAndJustificationMovesIt) {
  const CLongRect_AC box(50, 40, 150, 360);  // 320 wide, 100 tall, inside a larger page
  CLongRect_AC inks[3];
  const int16_t justs[3] = {host::teFlushLeft, host::teCenter, host::teFlushRight};
  for (int i = 0; i < 3; ++i) {
    auto w = Page(CLongRect_AC(0, 0, 200, 400));
    TextFont(kHelvetica);
    TextSize(24);
    Box("Short line", box, justs[i]);
    inks[i] = InkBounds(*w);
    EXPECT_TRUE(box.Contains(inks[i])) << i;
  }
  EXPECT_LE(inks[0].left, box.left + 3);
  EXPECT_GE(inks[2].right, box.right - 3);
  const int64_t centreOffset = (inks[1].left - box.left) - (box.right - inks[1].right);
  EXPECT_LE(std::abs(centreOffset), 3);
  EXPECT_LT(inks[0].left, inks[1].left);
  EXPECT_LT(inks[1].left, inks[2].left);
  // The same width at every justification.
  EXPECT_NEAR(inks[0].Width(), inks[2].Width(), 1);
}

TEST(TextBox, LongTextWrapsAtWordsAndIsClippedToTheBox) {
  const CLongRect_AC box(20, 20, 80, 140);  // 120 × 60
  auto w = Page(CLongRect_AC(0, 0, 200, 200));
  TextFont(kHelvetica);
  TextSize(18);
  FontInfo info;
  GetFontInfo(&info);
  const int lineHeight = info.ascent + info.descent + info.leading;
  Box("aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk", box, host::teFlushLeft);
  const CLongRect_AC ink = InkBounds(*w);
  EXPECT_TRUE(box.Contains(ink));
  EXPECT_GT(ink.Height(), lineHeight);  // more than one line
  // More text than fits: the lines run down to the box's bottom edge, no further.
  EXPECT_GE(ink.bottom, box.bottom - 2);

  // Carriage returns break lines; a word longer than the box breaks inside.
  auto w2 = Page(CLongRect_AC(0, 0, 200, 200));
  TextFont(kHelvetica);
  TextSize(18);
  Box(std::string("ab\rcd"), CLongRect_AC(0, 0, 200, 200), host::teFlushLeft);
  const CLongRect_AC two = InkBounds(*w2);
  EXPECT_GT(two.Height(), lineHeight);
  EXPECT_LT(two.Width(), Width("abcd"));
  auto w3 = Page(CLongRect_AC(0, 0, 200, 200));
  TextFont(kHelvetica);
  TextSize(18);
  Box(std::string(40, 'W'), CLongRect_AC(0, 0, 200, 100), host::teFlushLeft);
  const CLongRect_AC broken = InkBounds(*w3);
  EXPECT_GT(broken.Height(), lineHeight);
  EXPECT_LE(broken.right, 100);
}

TEST(TextBox, RotationTurnsTheTextInItsBox) {
  const CLongRect_AC box(20, 20, 220, 220);
  const std::string line = "HHHHHHHH";
  CLongRect_AC inks[4];
  for (int r = 0; r < 4; ++r) {
    auto w = Page(CLongRect_AC(0, 0, 240, 240));
    TextFont(kHelvetica);
    TextSize(20);
    host::TextRotation(int16_t(r * 90));
    Box(line, box, host::teFlushLeft);
    inks[r] = InkBounds(*w);
    EXPECT_TRUE(box.Contains(inks[r])) << r;
  }
  // Unturned: a wide, low line along the top-left of the box.
  EXPECT_GT(inks[0].Width(), 3 * inks[0].Height());
  EXPECT_LE(inks[0].top, box.top + 10);
  // 90: tall and narrow at the right edge, starting at the top.
  EXPECT_GT(inks[1].Height(), 3 * inks[1].Width());
  EXPECT_GE(inks[1].right, box.right - 10);
  EXPECT_LE(inks[1].top, box.top + 3);
  // 180: wide at the bottom, ending at the right.
  EXPECT_GT(inks[2].Width(), 3 * inks[2].Height());
  EXPECT_GE(inks[2].bottom, box.bottom - 10);
  EXPECT_GE(inks[2].right, box.right - 3);
  // 270: tall at the left edge, starting from the bottom.
  EXPECT_GT(inks[3].Height(), 3 * inks[3].Width());
  EXPECT_LE(inks[3].left, box.left + 10);
  EXPECT_GE(inks[3].bottom, box.bottom - 3);
  // A quarter turn exchanges the ink's width and height.
  EXPECT_NEAR(inks[1].Height(), inks[0].Width(), 2);
  EXPECT_NEAR(inks[1].Width(), inks[0].Height(), 2);
}

TEST(TextDraw, MacRomanBytesDrawTheirCharacters) {
  // 0x8E is e acute and 0xA5 a bullet in Mac Roman; both must leave ink.
  for (const char* s : {"\x8E", "\xA5"}) {
    auto w = Page(CLongRect_AC(0, 0, 40, 40));
    TextFont(kHelvetica);
    TextSize(24);
    MoveTo(5, 30);
    DrawText(s, 0, 1);
    EXPECT_FALSE(InkBounds(*w).IsEmpty()) << int(static_cast<unsigned char>(s[0]));
  }
}

TEST(TextDraw, FamiliesWithoutBoldOrItalicFacesAreEmboldenedAndSlanted) {
  // This family has only a regular face, so bold and italic are synthetic.
  const char* family = "DejaVu Math TeX Gyre";
  ASSERT_TRUE(host::FindFontFace(family, true, true).syntheticBold);
  ASSERT_TRUE(host::FindFontFace(family, true, true).syntheticItalic);
  auto ink = [&](int16_t face, CLongRect_AC* bounds) {
    auto w = Page(CLongRect_AC(0, 0, 80, 300));
    host::TextFontFamily(family);
    TextSize(48);
    TextFace(face);
    MoveTo(10, 60);
    DrawText("Quiz", 0, 4);
    *bounds = InkBounds(*w);
    long darkness = 0;
    for (int v = 0; v < 80; ++v)
      for (int h = 0; h < 300; ++h) darkness += 255 - At(*w, h, v).r;
    return darkness;
  };
  CLongRect_AC plainInk, boldInk, italicInk;
  const long plain = ink(host::normal, &plainInk);
  EXPECT_GT(ink(host::bold, &boldInk), plain * 5 / 4);
  ink(host::italic, &italicInk);
  EXPECT_GT(italicInk.right, plainInk.right + 3);  // the tops lean right
  EXPECT_NEAR(italicInk.left, plainInk.left, 3);   // the baseline stays
}

TEST(TextDraw, RotatedDrawStringRunsDownFromThePen) {
  auto w = Page(CLongRect_AC(0, 0, 300, 100));
  TextFont(kHelvetica);
  TextSize(30);
  const int32_t width = Width("HHHH");
  host::TextRotation(90);
  MoveTo(50, 20);
  DrawString(CStr255_AC("HHHH"));
  const CLongRect_AC ink = InkBounds(*w);
  EXPECT_GE(ink.top, 20);
  EXPECT_NEAR(ink.bottom, 20 + width, 4);
  EXPECT_GE(ink.left, 50);  // letter tops face right of the pen line
  EXPECT_LE(ink.right, 50 + 25);
  CLongPoint_AC pen;
  GetPen(&pen);
  EXPECT_EQ(pen, CLongPoint_AC(20 + width, 50));
}

TEST(TextMeasure, ManySizesInARowKeepGrowing) {
  // More face and size combinations than the glyph cache holds at once, as
  // fitting a text into its box steps through them.
  auto g = host::GWorld::Create(CLongRect_AC(0, 0, 10, 10));
  host::SavedPort saved;
  SetGWorld(g.get());
  TextFont(21);
  int32_t last = 0;
  for (int16_t size = 5; size < 80; ++size) {
    TextSize(size);
    const int32_t w = TextWidth("Kivo", 0, 4);
    EXPECT_GE(w, last) << size;
    last = w;
  }
  TextSize(10);
  EXPECT_LT(TextWidth("Kivo", 0, 4), last);
  EXPECT_TRUE(host::IsFontFamilyInstalled("Helvetica"));
  EXPECT_FALSE(host::IsFontFamilyInstalled("No Such Family Kivo"));
  EXPECT_TRUE(host::IsKnownFontNumber(21));
  EXPECT_FALSE(host::IsKnownFontNumber(9999));
}
