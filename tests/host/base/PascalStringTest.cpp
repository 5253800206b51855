#include "host/base/PascalString.h"

#include <gtest/gtest.h>

TEST(PascalString, Utf8RoundTripKeepsMacRomanBytes) {
  CStr255_AC s("Kivo-Processor Folder ƒ");
  EXPECT_EQ(s.Length(), 23u);
  EXPECT_EQ(s[23], 0xC4);
  EXPECT_EQ(s.ToUTF8(), "Kivo-Processor Folder ƒ");
}

TEST(PascalString, LongerTextIsTruncatedAtCapacity) {
  CStr31_AC s(std::string(40, 'x'));
  EXPECT_EQ(s.Length(), 31u);
  s += "more";
  EXPECT_EQ(s.Length(), 31u);
  const uint8_t stored[] = {200, 'a', 'b'};
  auto t = CStr31_AC::FromStored(stored, sizeof stored);
  EXPECT_EQ(t.ToMacRoman(), "ab");
}

TEST(PascalString, UnencodableCharactersAreReported) {
  bool lossless = true;
  auto bytes = host::UTF8ToMacRoman("a\xE4\xB8\xAD", &lossless);
  EXPECT_FALSE(lossless);
  EXPECT_EQ(bytes, "a?");
  for (int b = 0x80; b < 0x100; ++b) {
    std::string one(1, static_cast<char>(b));
    bool ok = false;
    EXPECT_EQ(host::UTF8ToMacRoman(host::MacRomanToUTF8(one), &ok), one) << b;
    EXPECT_TRUE(ok);
  }
}

TEST(PascalString, OversizedLengthByteIsReadAsTheCapacity) {
  CStr31_AC s("abc");
  s.data()[0] = 200;
  EXPECT_EQ(s.Length(), 31u);
  EXPECT_EQ(s.view().size(), 31u);
}
