#include "platform/FileNames.h"

#include <gtest/gtest.h>

#include <set>

namespace {

std::string S(const CStr255_AC& s) { return s.ToUTF8(); }

TEST(FileNames, NumberText) {
  EXPECT_EQ(S(FormImageNumber(7, true, 4)), "0007");
  EXPECT_EQ(S(FormImageNumber(7, false, 4)), "7");
  EXPECT_EQ(S(FormImageNumber(1234567, true, 4)), "999999");
  EXPECT_EQ(S(FormImageNumber(-5, true, 3)), "000");
  EXPECT_EQ(S(FormImageNumber(-1, true, 3)), "");
  EXPECT_EQ(S(FormImageNumber(12345, true, 2)), "12345");
}

TEST(FileNames, FormedNamesKeepTheirLimits) {
  EXPECT_EQ(S(FormFileName(CStr255_AC(""), CStr255_AC("12"), CStr255_AC("tif"))), "12.tif");
  EXPECT_EQ(S(FormFileName(CStr255_AC("Smith"), 1, CStr255_AC("jpg"), true, 4)), "Smith_0001.jpg");
  EXPECT_EQ(S(FormFileName(CStr255_AC("a"), CStr255_AC("1"), CStr255_AC("jpeg2000x"))), "a_1.jpeg200");
  EXPECT_EQ(S(FormFileName(CStr255_AC("a"), CStr255_AC(""), CStr255_AC("x"))), "ax");
  const CStr255_AC old = FormFileNameOld(CStr255_AC(std::string(40, 'b')), CStr255_AC("0001"), CStr255_AC(".jpg"));
  EXPECT_EQ(old.Length(), 31u);
  EXPECT_EQ(S(old), std::string(22, 'b') + "_0001.jpg");
  const CStr255_AC full = FormFileName(CStr255_AC(std::string(100, 'c')), 3, CStr255_AC(".tif"), true, 4);
  EXPECT_EQ(full.Length(), 63u);
  EXPECT_EQ(S(createNameForSittingImages(CStr255_AC("Roll_"), 12, CStr255_AC(".jpg"))), "Roll_0012.jpg");
}

TEST(FileNames, ExtensionAndBase) {
  EXPECT_EQ(S(getExtensionFromSourceFile(CStr255_AC("image.jpg 2"))), ".jpg");
  EXPECT_EQ(S(getExtensionFromSourceFile(CStr255_AC("README"))), ".gen");
  EXPECT_EQ(S(getExtensionFromSourceFile(CStr255_AC("a.b.tiff"))), ".tiff");
  EXPECT_EQ(S(getBaseNameFromName(CStr255_AC("a.b.tiff"))), "a.b");
  EXPECT_EQ(S(getBaseNameFromName(CStr255_AC("README"))), "README");
  EXPECT_EQ(simplePower(10, 0), 1);
  EXPECT_EQ(simplePower(10, 4), 10000);
}

struct Folder {
  std::set<std::string> names;
  platform::NameTaken Taken() const {
    return [this](const std::string& n) { return names.count(n) != 0; };
  }
};

TEST(CopyNames, SixtyThreeCharacterForm) {
  Folder f{{"photo.jpg", "photo copy.jpg"}};
  EXPECT_EQ(platform::CopyNameBeforeExtension("photo.jpg", f.Taken()), "photo copy 1.jpg");
  EXPECT_EQ(platform::CopyNameBeforeExtension("photo copy 1.jpg", f.Taken()), "photo copy 1.jpg");
  f.names.insert("photo copy 1.jpg");
  EXPECT_EQ(platform::CopyNameBeforeExtension("photo copy 1.jpg", f.Taken()), "photo copy 2.jpg");
  // Without an extension an existing " copy" is kept.
  EXPECT_EQ(platform::CopyNameBeforeExtension("notes copy", f.Taken()), "notes copy copy");

  // At the limit: 63 characters, counted in characters.
  const std::string longStem(70, 's');
  const std::string c = platform::CopyNameBeforeExtension(longStem + ".jpg", f.Taken());
  EXPECT_EQ(c, std::string(54, 's') + " copy.jpg");
  EXPECT_EQ(platform::CharCount(c), 63u);
  Folder g{{std::string(54, 's') + " copy.jpg"}};
  const std::string c1 = platform::CopyNameBeforeExtension(longStem + ".jpg", g.Taken());
  EXPECT_EQ(c1, std::string(52, 's') + " copy 1.jpg");
  const std::string accented = std::string(30, 's') + "\xC3\xA9\xC3\xA9\xC3\xA9" + std::string(40, 't');  // 73 chars
  const std::string ca = platform::CopyNameBeforeExtension(accented + ".jpg", f.Taken());
  EXPECT_EQ(platform::CharCount(ca), 63u);

  bool found = true;
  Folder all;
  all.names.insert("x copy.jpg");
  for (int n = 1; n <= 4999; ++n) all.names.insert("x copy " + std::to_string(n) + ".jpg");
  EXPECT_EQ(platform::CopyNameBeforeExtension("x.jpg", all.Taken(), &found), "x copy 4999.jpg");
  EXPECT_FALSE(found);
}

TEST(CopyNames, LongNameForm) {
  Folder f{{"a copy.jpg"}};
  const std::string stem(200, 'n');
  EXPECT_EQ(platform::CopyNameForLongNames(stem + ".jpg", f.Taken()), stem + " copy.jpg");
  EXPECT_EQ(platform::CopyNameForLongNames("a.jpg", f.Taken()), "a copy 1.jpg");
  EXPECT_EQ(platform::CopyNameForLongNames("a copy 7.jpg", f.Taken()), "a copy 1.jpg");
  // A word that merely begins or ends with "copy" is no copy mark.
  EXPECT_EQ(platform::CopyNameForLongNames("photocopy.tif", f.Taken()), "photocopy copy.tif");
  EXPECT_EQ(platform::CopyNameForLongNames("copyright.jpg", f.Taken()), "copyright copy.jpg");
  EXPECT_EQ(platform::CopyNameBeforeExtension("my copyright.jpg", f.Taken()), "my copyright copy.jpg");
  EXPECT_EQ(platform::CopyNameBeforeExtension("a copy 2b.jpg", f.Taken()), "a copy 2b copy.jpg");
}

TEST(CopyNames, AnEmptyStemNeverStartsANameWithABlankOrADot) {
  Folder f{{"copy.jpg"}};
  std::string result;
  EXPECT_EQ(platform::NewCopyName("", ".jpg", f.Taken(), result), 0);
  EXPECT_EQ(result, "copy 1.jpg");
  EXPECT_EQ(platform::CopyNameBeforeExtension(".jpg", f.Taken()), "copy 1.jpg");
  EXPECT_EQ(platform::CopyNameForLongNames(".jpg", f.Taken()), "copy 1.jpg");
}

TEST(CopyNames, NewCopyNameTriesThePlainNameFirst) {
  Folder f{{"b.jpg", "b copy.jpg"}};
  std::string result;
  EXPECT_EQ(platform::NewCopyName("b", ".jpg", f.Taken(), result), 0);
  EXPECT_EQ(result, "b copy 1.jpg");
  EXPECT_EQ(platform::NewCopyName("c", ".jpg", f.Taken(), result), 0);
  EXPECT_EQ(result, "c.jpg");
  EXPECT_NE(platform::NewCopyName(std::string(260, 'l'), ".jpg", f.Taken(), result), 0);
}

}  // namespace

namespace {

// Names for many copies come from one pass over the sequence: each candidate
// is looked up once however many copies are named, the names are the first
// free ones in order, and a sequence that runs out says so with the names
// there were.
TEST(CopyNames, ManyCopiesAreNamedInOnePassAndRunningOutIsSaid) {
  Folder f;
  f.names = {"photo.jpg", "photo copy.jpg", "photo copy 2.jpg"};
  size_t looks = 0;
  auto taken = [&](const std::string& n) {
    ++looks;
    return f.names.count(n) != 0;
  };
  std::vector<std::string> names;
  ASSERT_EQ(platform::NewCopyNames("photo", ".jpg", taken, 3, &names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"photo copy 1.jpg", "photo copy 3.jpg", "photo copy 4.jpg"}));
  EXPECT_EQ(looks, 6u);

  for (int n = 1; n <= 4994; ++n) f.names.insert("photo copy " + std::to_string(n) + ".jpg");
  names.clear();
  looks = 0;
  EXPECT_EQ(platform::NewCopyNames("photo", ".jpg", taken, 10, &names), -2);
  EXPECT_EQ(names.size(), 5u);
  EXPECT_EQ(names.back(), "photo copy 4999.jpg");
  EXPECT_EQ(looks, 5001u) << "the plain name, \" copy\" and 1..4999, each once";

  names.clear();
  looks = 0;
  EXPECT_TRUE(platform::CopyNamesBeforeExtension("photo.jpg", taken, 5, &names));
  EXPECT_EQ(names.front(), "photo copy 4995.jpg");
  EXPECT_EQ(looks, 5000u);
  names.clear();
  EXPECT_FALSE(platform::CopyNamesBeforeExtension("photo.jpg", taken, 6, &names));
  EXPECT_EQ(names.size(), 5u);
  bool found = true;
  EXPECT_EQ(platform::CopyNameBeforeExtension("photo.jpg", [](const std::string&) { return true; }, &found),
            "photo copy 4999.jpg");
  EXPECT_FALSE(found);
}

}  // namespace
