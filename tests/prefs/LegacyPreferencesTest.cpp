// The legacy preference file: made with factory values, written from and
// read into the live records, with only four sets in it.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/base/Exceptions.h"
#include "host/files/File.h"
#include "host/files/ResourceFork.h"
#include "prefs/LegacyPreferences.h"
#include "prefs/PrefRecords.h"

namespace fs = std::filesystem;

namespace {

class LegacyPrefs : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kivo-legacy-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    file_ = dir_ / "Kivo Preferences" / prefFileName.ToUTF8();
    mySetAllDefaults();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  host::ResourceMap Resources() {
    TFile file;
    EXPECT_EQ(file.SpecifyWithPath(file_.string()), noErr);
    file.SetPermissions(fsRdPerm, fsRdPerm);
    EXPECT_EQ(file.OpenFile(), noErr);
    host::ResourceMap map = *file.GetResourceMap();
    file.CloseFile();
    return map;
  }
  fs::path dir_, file_;
};

TEST_F(LegacyPrefs, NewFileHoldsTheFactoryRecords) {
  getMyPrintServerPrefs()->autoStart = 0;
  {
    TPrintBGPrefBehavior behavior(file_);
    EXPECT_EQ(pPreferenceManager, &behavior);
    EXPECT_EQ(behavior.GetIdentifier(), FourCC("pref"));
    ASSERT_NE(behavior.GetPreferences(), nullptr);
  }
  EXPECT_EQ(pPreferenceManager, nullptr);
  EXPECT_EQ(getMyPrintServerPrefs()->autoStart, 1);  // made with factory values
  const host::ResourceMap map = Resources();
  const std::pair<int16_t, size_t> expected[] = {{1000, 350}, {1001, 570}, {1002, 616}, {1003, 3928}, {1004, 1086}};
  for (auto [id, size] : expected) {
    const host::Resource* r = map.Get(kPrefResourceType, id);
    ASSERT_NE(r, nullptr) << id;
    EXPECT_EQ(r->data.size(), size) << id;
  }
  EXPECT_EQ(map.Get(kPrefResourceType, 1000)->name, "Printserver Prefs");
  EXPECT_EQ(fs::file_size(file_), 4u);  // the object's signature only
}

TEST_F(LegacyPrefs, OnlyFourSetsReachTheFileAndReadingResetsTheOthers) {
  TPrintBGPrefBehavior behavior(file_);
  for (int16_t n = 1; n <= 8; ++n) getMyPrintToFileSetPrefs(n)->baseName = CStr63_AC("Set" + std::to_string(n));
  getMyPrintServerPrefs()->keepJobFiles = 7;
  getMyProcessedJobsPrefs()->useNewHandOff = 1;
  behavior.GetPreferenceDocument()->Save();
  EXPECT_EQ(getMyPrintServerPrefs()->keepJobFiles, 1);  // validated on writing

  mySetAllDefaults();
  getMyProcessedJobsPrefs()->useNewHandOff = 0;
  behavior.GetPreferenceDocument()->Read();
  for (int16_t n = 1; n <= 4; ++n) EXPECT_EQ(getMyPrintToFileSetPrefs(n)->baseName.ToUTF8(), "Set" + std::to_string(n));
  for (int16_t n = 5; n <= 8; ++n) EXPECT_EQ(getMyPrintToFileSetPrefs(n)->baseName.ToUTF8(), "Print");
  EXPECT_EQ(getMyProcessedJobsPrefs()->useNewHandOff, 1);
  EXPECT_EQ(getMyPrintServerPrefs()->keepJobFiles, 1);
}

TEST_F(LegacyPrefs, MissingAndShortResourcesLeaveTheirRecords) {
  { TPrintBGPrefBehavior behavior(file_); }
  {
    TFile file;
    ASSERT_EQ(file.SpecifyWithPath(file_.string()), noErr);
    file.SetPermissions(fsRdWrPerm, fsRdWrPerm);
    ASSERT_EQ(file.OpenFile(), noErr);
    SaveHandle(file, nullptr, 1002, CStr255_AC(), kPrefResourceType);  // removed
    std::vector<uint8_t> shortCD(10, 0);
    SaveHandle(file, &shortCD, 1004, CStr255_AC("printocd set Prefs"), kPrefResourceType);
    ASSERT_EQ(file.CloseFile(), noErr);
  }
  getMyProcessedJobsPrefs()->useNewHandOff = 1;
  getMyPrintToCDSetPrefs()->baseName = "CD";
  TPrintBGPrefBehavior behavior(file_);  // opens the existing file and reads it
  EXPECT_EQ(getMyProcessedJobsPrefs()->useNewHandOff, 1);
  EXPECT_EQ(getMyPrintToCDSetPrefs()->baseName.ToUTF8(), "CD");  // the short resource ends before it
  EXPECT_EQ(getMyPrintToCDSetPrefs()->folder.spec.vRefNum, 0);  // ... but covers the folder's volume

  TFile closed;
  ASSERT_EQ(closed.SpecifyWithPath(file_.string()), noErr);
  std::vector<uint8_t> bytes(4, 0);
  EXPECT_THROW(SaveHandle(closed, &bytes, 1, CStr255_AC(), kPrefResourceType), CException_AC);
  uint8_t record[4] = {9, 9, 9, 9};
  EXPECT_EQ(ReadStruct(closed, record, sizeof record, kPrefResourceType, 1000), 0u);
  EXPECT_EQ(record[0], 9);
  EXPECT_TRUE(TPreferenceDocument::IsCommandDisabled(32));
  EXPECT_FALSE(TPreferenceDocument::IsCommandDisabled(31));
}

}  // namespace
