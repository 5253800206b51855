#include "platform/PStrings.h"

#include <gtest/gtest.h>

namespace {

TEST(PStrings, CopyJoinCompare) {
  CStr255_AC a(std::string(250, 'a'));
  pstrcat(a, CStr255_AC("0123456789"));
  EXPECT_EQ(a.Length(), 255u);
  EXPECT_EQ(a.ToMacRoman().substr(250), "01234");

  CStr31_AC small;
  pstrcpy(small, CStr255_AC(std::string(40, 'x')));
  EXPECT_EQ(small.Length(), 31u);

  EXPECT_FALSE(pstrcomp(CStr255_AC("Abc"), CStr255_AC("abc")));
  EXPECT_TRUE(pstrcomp2(CStr255_AC("Abc"), CStr255_AC("abc")));
  EXPECT_EQ(pstrcomp3(CStr255_AC("abc"), CStr255_AC("ABD")), -1);
  EXPECT_EQ(pstrcomp3(CStr255_AC("abd"), CStr255_AC("ABC")), 1);
  EXPECT_EQ(pstrcomp3(CStr255_AC("ab"), CStr255_AC("ABCDEF")), 0);
}

TEST(PStrings, Search) {
  EXPECT_EQ(FindPos("copy", "a copy b"), 3);
  EXPECT_EQ(FindPos("Copy", "a copy b"), 0);
  EXPECT_EQ(FindPos("", "abc"), 1);
  EXPECT_EQ(FindPosInReverse(".", "photo.jpg"), 6);
  EXPECT_EQ(FindPosInReverse(".", "photo."), 0);
  EXPECT_EQ(FindPosInReverse(".", "photo"), 0);
  EXPECT_EQ(FindPosInReverse("JPG", "a.jpg.jpgx"), 7);
  EXPECT_EQ(FindPosInReverse("abc", "abc"), 0);
}

TEST(PStrings, CConversions) {
  uint8_t p[256];
  const std::string longText(300, 'z');
  ctopStrcpy(p, longText.c_str());
  EXPECT_EQ(p[0], 255);
  char c[256];
  ptocStrcpy(c, p);
  EXPECT_EQ(std::string(c), std::string(255, 'z'));
  ctopStrcpy(p, nullptr);  // does nothing
  EXPECT_EQ(p[0], 255);
  char upper[] = "abc-Def";
  EXPECT_TRUE(toUpperString(upper));
  EXPECT_STREQ(upper, "ABC-DEF");
  EXPECT_FALSE(toUpperString(nullptr));
}

TEST(PStrings, UnicodeNames) {
  CStr255_AC out;
  unicodeToPascalString("caf\xC3\xA9 \xE7\x85\xA7.jpg", out);  // café 照.jpg
  EXPECT_EQ(out.ToUTF8(), "café ^.jpg");
  std::string name;
  EXPECT_EQ(ConvertCStringToHFSUniStr("\xC4", name), 0);  // Mac Roman ƒ
  EXPECT_EQ(name, "ƒ");
  EXPECT_EQ(ConvertCStringToHFSUniStr(nullptr, name), 4);
  EXPECT_EQ(ConvertCStringToHFSUniStr(std::string(256, 'a').c_str(), name), 5);
  EXPECT_EQ(NSStringToCStr255("PRINT JOBS FOLDER ƒ").ToMacRoman(), "PRINT JOBS FOLDER \xC4");
  EXPECT_EQ(CStr255ToNSString(CStr255_AC::FromMacRoman("\xC4")), "ƒ");
}

TEST(PStrings, TimeAndDate) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 7;
  t.tm_wday = 1;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 7;
  EXPECT_EQ(getTimeString(t).ToUTF8(), "90507");
  t.tm_hour = 14; t.tm_min = 30; t.tm_sec = 0;
  EXPECT_EQ(getTimeString(t).ToUTF8(), "143000");
  EXPECT_EQ(getDateString(0, t).ToUTF8(), "12-07-2026");
  EXPECT_EQ(getDateString(3, t).ToUTF8(), "12-07-2026");
  EXPECT_EQ(getDateString(4, t).ToUTF8(), "2026-12-07");
  EXPECT_EQ(getDateString(99, t).ToUTF8(), "20261207");
  EXPECT_EQ(getDateString(1, t).ToUTF8(), "Monday, December 7, 2026");
  EXPECT_EQ(getDateString(5, t).ToUTF8(), getDateString(2, t).ToUTF8());
  EXPECT_EQ(getDateString(-1, t).ToUTF8(), "Mon, Dec 7, 2026");
}

TEST(PStrings, Orientation) {
  EXPECT_TRUE(isLandscape(CRect_AC(0, 0, 10, 20)));
  EXPECT_EQ(getRectOrientation(CRect_AC(0, 0, 10, 20)), 1);
  EXPECT_EQ(getRectOrientation(CRect_AC(0, 0, 20, 20)), 2);
  EXPECT_EQ(getRectOrientation(CLongRect_AC(0, 0, 30, 20)), 2);
}

}  // namespace
