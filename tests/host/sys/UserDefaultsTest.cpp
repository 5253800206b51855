#include "host/sys/UserDefaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "host/sys/PropertyList.h"
#include "host/sys/TempDir.h"

using namespace host;
using testing_support::TempDir;

namespace {

TEST(UserDefaults, ValuesSurviveIntoAFreshObject) {
  TempDir dir;
  const auto file = dir / "Kivo-Processor/defaults.plist";  // folder made on first write
  const PlistData blob(350, 0x5A);
  {
    UserDefaults defaults(file);
    EXPECT_FALSE(defaults.get("printServerPref"));
    EXPECT_TRUE(defaults.set("printServerPref", PlistValue(blob)));
    defaults.set("name", PlistValue("Grüße"));
    defaults.set("count", PlistValue(-7));
    defaults.set("ratio", PlistValue(1.5));
    defaults.set("prefEnableRelaunch", PlistValue(true));
    defaults.set("nested", PlistValue(PlistDict{{"a", PlistValue(1)}}));
    defaults.set("gone", PlistValue("soon"));
    defaults.remove("gone");
    EXPECT_FALSE(defaults.set("", PlistValue(1)));
    EXPECT_FALSE(defaults.set("nothing", PlistValue()));
    EXPECT_FALSE(defaults.set("nothing", PlistValue(PlistArray{PlistValue(1), PlistValue()})));
    EXPECT_FALSE(std::filesystem::exists(file));  // nothing written before synchronize
    std::string error;
    ASSERT_TRUE(defaults.synchronize(&error)) << error;
  }
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  UserDefaults again(file);  // as a new run of the program would
  EXPECT_EQ(again.getData("printServerPref"), blob);
  EXPECT_EQ(again.getString("name"), "Grüße");
  EXPECT_EQ(again.getInteger("count"), -7);
  EXPECT_EQ(again.getReal("ratio"), 1.5);
  EXPECT_EQ(again.getBool("prefEnableRelaunch"), true);
  EXPECT_EQ(again.getBool("count"), true);
  EXPECT_FALSE(again.getBool("absent"));
  EXPECT_FALSE(again.getData("name"));  // wrong type
  EXPECT_FALSE(again.contains("gone"));
  EXPECT_FALSE(again.contains("nothing"));
  EXPECT_EQ(*again.get("nested")->find("a")->asInteger(), 1);
  EXPECT_TRUE(again.movedAsideTo().empty());
  // Only the one file remains in the folder: the temporary file was renamed.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1);
}

TEST(UserDefaults, ReadsABinaryFileWrittenElsewhere) {
  TempDir dir;
  ASSERT_TRUE(writePropertyListFile(dir / "d.plist", PlistValue(PlistDict{{"k", PlistValue("v")}}), PlistFormat::Binary));
  EXPECT_EQ(UserDefaults(dir / "d.plist").getString("k"), "v");
}

TEST(UserDefaults, ACorruptFileIsMovedAsideAndDefaultsStartEmpty) {
  TempDir dir;
  const auto file = dir / "defaults.plist";
  testing_support::writeFile(file, "<?xml version=\"1.0\"?><plist><dict><key>x</key><data>AAA");
  testing::internal::CaptureStderr();
  UserDefaults defaults(file);
  std::string message = testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("damaged"), std::string::npos) << message;
  EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
  EXPECT_EQ(defaults.movedAsideTo(), dir / "defaults.plist.corrupt");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_TRUE(std::filesystem::exists(dir / "defaults.plist.corrupt"));

  // New values are stored normally; a second damaged file keeps the first one.
  defaults.set("k", PlistValue(1));
  ASSERT_TRUE(defaults.synchronize());
  EXPECT_EQ(UserDefaults(file).getInteger("k"), 1);
  testing_support::writeFile(file, "<plist><array></array></plist>");  // valid, but not a dictionary
  testing::internal::CaptureStderr();
  UserDefaults third(file);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(third.movedAsideTo(), dir / "defaults.plist.corrupt.1");
  EXPECT_TRUE(std::filesystem::exists(dir / "defaults.plist.corrupt"));
}

TEST(UserDefaults, AnUnreadableFileIsNeverOverwritten) {
  TempDir dir;
  const auto file = dir / "defaults.plist";
  std::filesystem::create_directory(file);  // exists, but cannot be read as a file
  testing::internal::CaptureStderr();
  UserDefaults defaults(file);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(defaults.movedAsideTo().empty());
  defaults.set("k", PlistValue(1));
  std::string error;
  EXPECT_FALSE(defaults.synchronize(&error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(std::filesystem::is_directory(file));
}

TEST(UserDefaults, RegisteredDefaultsAreReadWhereNothingIsStoredAndNeverWritten) {
  TempDir dir;
  const auto file = dir / "defaults.plist";
  {
    UserDefaults defaults(file);
    defaults.registerDefaults({{"kPtbIndicatorMaxValue", PlistValue(100)}, {"stored", PlistValue("fallback")}});
    EXPECT_EQ(defaults.getInteger("kPtbIndicatorMaxValue"), 100);
    EXPECT_FALSE(defaults.contains("kPtbIndicatorMaxValue"));
    ASSERT_TRUE(defaults.set("stored", PlistValue("own")));
    EXPECT_EQ(defaults.getString("stored"), "own");
    defaults.remove("stored");
    EXPECT_EQ(defaults.getString("stored"), "fallback");
    defaults.set("other", PlistValue(1));
    ASSERT_TRUE(defaults.synchronize());
  }
  UserDefaults again(file);
  EXPECT_FALSE(again.get("kPtbIndicatorMaxValue"));
  EXPECT_FALSE(again.get("stored"));
}

}  // namespace
