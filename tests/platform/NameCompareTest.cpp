#include "platform/NameCompare.h"

#include <gtest/gtest.h>

namespace {

TEST(NameCompare, DecomposedNamesMatchComposedOnes) {
  const std::string composed = "Caf\xC3\xA9";    // Café, é as one character
  const std::string decomposed = "Cafe\xCC\x81";  // e + combining acute
  EXPECT_EQ(platform::ToNFC(decomposed), composed);
  EXPECT_TRUE(platform::NamesEqualNFC(composed, decomposed));
  EXPECT_TRUE(platform::NamesEqualIgnoringCase("CAF\xC3\x89", decomposed, false));
  EXPECT_FALSE(platform::NamesEqualIgnoringCase("CAFE", decomposed, false));
  EXPECT_TRUE(platform::NamesEqualIgnoringCase("CAFE", decomposed, true));
}

TEST(NameCompare, CaseOfFolderNames) {
  EXPECT_TRUE(platform::NamesEqualIgnoringCase("PRINT JOBS FOLDER \xC6\x92", "print jobs folder \xC6\x92", false));
  EXPECT_FALSE(platform::NamesEqualIgnoringCase("PRINT JOBS", "print job", false));
  EXPECT_TRUE(platform::NamesEqualIgnoringCase("\xC3\x85ngstr\xC3\xB6m", "\xC3\xA5NGSTR\xC3\x96M", false));
}

}  // namespace
