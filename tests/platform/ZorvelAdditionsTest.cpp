// The string and date additions of the utility library.
#include "platform/ZorvelAdditions.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>

namespace {

using namespace zorvel;

TEST(ZorvelStrings, NumbersCompareByValueAndLettersIgnoreCase) {
  EXPECT_EQ(numericalCaseInsensitiveCompare("file9", "File10"), -1);
  EXPECT_EQ(numericalCaseInsensitiveCompare("File10", "file9"), 1);
  EXPECT_EQ(numericalCaseInsensitiveCompare("IMG_007.jpg", "img_7.JPG"), 0);
  EXPECT_EQ(numericalCaseInsensitiveCompare("a100b2", "a100b10"), -1);
  EXPECT_EQ(numericalCaseInsensitiveCompare("98765432109876543210", "98765432109876543211"), -1);
  EXPECT_EQ(numericalCaseInsensitiveCompare("Écran", "écran"), 0);
  EXPECT_EQ(numericalCaseInsensitiveCompare("abc", "abcd"), -1);
  EXPECT_EQ(numericalCaseInsensitiveCompare("", ""), 0);
}

TEST(ZorvelStrings, CStringsAreDecodedInTheirEncodingWithByteOrderMarks) {
  const uint8_t utf8[] = {0xEF, 0xBB, 0xBF, 'C', 'a', 'f', 0xC3, 0xA9, 0, 'x'};
  EXPECT_EQ(stringWithCString(utf8, 0, kUTF8StringEncoding), "Café");
  EXPECT_EQ(stringWithCString(utf8, 6, kUTF8StringEncoding), "Caf");
  const uint8_t broken[] = {'a', 0xC3, 0};
  EXPECT_EQ(stringWithCString(broken, 0, kUTF8StringEncoding), std::nullopt);

  const uint8_t le[] = {0xFF, 0xFE, 'H', 0, 'i', 0, 0, 0};
  EXPECT_EQ(stringWithCString(le, 0, kUnicodeStringEncoding), "Hi");
  EXPECT_EQ(stringWithCString(le, 0, kUTF16BigEndianStringEncoding), "Hi");  // the mark wins
  const uint8_t be[] = {0, 'H', 0xD8, 0x3D, 0xDE, 0x00, 0, 0};
  EXPECT_EQ(stringWithCString(be, 0, kUnicodeStringEncoding), "H\xF0\x9F\x98\x80");
  EXPECT_EQ(stringWithCString(be, 4, kUnicodeStringEncoding), std::nullopt);  // half a pair
  EXPECT_EQ(stringWithCString(be, 1, kUnicodeStringEncoding), std::nullopt);  // less than a unit
  EXPECT_EQ(stringWithCString(be, 3, kUnicodeStringEncoding), "H");           // whole units only

  const uint8_t utf32[] = {0xFF, 0xFE, 0, 0, 'O', 0, 0, 0, 'k', 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(stringWithCString(utf32, 0, kUTF32StringEncoding), "Ok");
  const uint8_t zeroFirst[] = {0, 0, 0, 0};
  EXPECT_EQ(stringWithCString(zeroFirst, 0, kUTF32StringEncoding), "");

  const uint8_t roman[] = {'x', 0xC6, 0x8E, 0};
  EXPECT_EQ(stringWithCString(roman, 0, kMacOSRomanStringEncoding), "x\xE2\x88\x86\xC3\xA9");
  EXPECT_EQ(stringWithCString(roman, 0, kASCIIStringEncoding), std::nullopt);
  EXPECT_EQ(stringWithCString(roman, 0, kISOLatin1StringEncoding), "x\xC3\x86\xC2\x8E");
  EXPECT_EQ(stringWithCString(roman, 0, 9999), std::nullopt);
}

TEST(ZorvelStrings, DeletingAndReplacing) {
  EXPECT_EQ(stringByDeletingCharactersInSet("a-b c\xE2\x80\x94" "d", U"- \u2014"), "abcd");
  EXPECT_EQ(stringByDeletingCharactersInSet("", U"x"), "");

  const std::string text = "Cat cat CAT | cat dog";
  // Only the range [4, 4 + 7) is touched; values run out after the first.
  EXPECT_EQ(stringByReplacingSubStrings(text, {"cat", "dog"}, {"fox"}, kCaseInsensitiveSearch, {4, 7}),
            "Cat fox fox | cat dog");
  EXPECT_EQ(stringByReplacingSubStrings(text, {"cat", "dog", ""}, {"fox"}, 0, {0, 100}),
            "Cat fox CAT | fox ");
  // Replacements apply in order, each on the result of the one before.
  EXPECT_EQ(stringByReplacingSubStrings("ab", {"a", "b"}, {"b", "c"}, 0, {0, 2}), "cc");
}

TEST(ZorvelDates, UnicodePatternsFormatInLocalTime) {
  const char* oldTz = ::getenv("TZ");
  const std::optional<std::string> saved = oldTz ? std::optional<std::string>(oldTz) : std::nullopt;
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  // Monday 2024-12-30 17:05:09.042 UTC, in ISO week 1 of 2025.
  const auto date = std::chrono::system_clock::time_point(std::chrono::milliseconds(1735578309042LL));
  EXPECT_EQ(stringWithUTSFormat(date, "yyyy/MM/dd HH:mm:ss.SSS Z"), "2024/12/30 17:05:09.042 +0000");
  EXPECT_EQ(stringWithUTSFormat(date, "EEEE d MMMM yy, h:mm a"), "Monday 30 December 24, 5:05 PM");
  EXPECT_EQ(stringWithUTSFormat(date, "EEE MMM D YYYY"), "Mon Dec 365 2025");
  EXPECT_EQ(stringWithUTSFormat(date, "'at' HH 'o''clock' ''ZZZZZ"), "at 17 o'clock 'Z");
  if (saved) ::setenv("TZ", saved->c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
