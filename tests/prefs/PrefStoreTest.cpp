// The preference blobs and folder aliases in a user-defaults file of the
// test's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

#include "host/files/Alias.h"
#include "host/files/File.h"
#include "host/files/ResourceFork.h"
#include "host/sys/Process.h"
#include "host/sys/UserDefaults.h"
#include "prefs/FolderAliases.h"
#include "prefs/PrefExport.h"
#include "prefs/PrefStore.h"

namespace fs = std::filesystem;

namespace {

constexpr const char kChildFileVariable[] = "KIVO_PREFSTORE_CHILD_FILE";

class PrefStore : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kivo-prefstore-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    defaults_ = std::make_unique<host::UserDefaults>(dir_ / "defaults.plist");
    SetPrefStoreDefaults(defaults_.get());
  }
  void TearDown() override {
    SetPrefStoreDefaults(nullptr);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void Store(const std::string& key, std::vector<uint8_t> blob) { defaults_->set(key, host::PlistValue(std::move(blob))); }

  fs::path dir_;
  std::unique_ptr<host::UserDefaults> defaults_;
};

void WriteFileBytes(const fs::path& path) {
  std::ofstream out(path, std::ios::binary);
  out << "data";
}

void PutLE16(std::vector<uint8_t>& b, size_t at, int16_t v) {
  b[at] = uint8_t(uint16_t(v) & 0xFF);
  b[at + 1] = uint8_t(uint16_t(v) >> 8);
}

void PutString(std::vector<uint8_t>& b, size_t& at, std::string_view s) {
  b[at++] = uint8_t(s.size());
  for (char c : s) b[at++] = uint8_t(c);
}

TEST_F(PrefStore, FactorySetOneBlobHasItsStoredBytes) {
  mySetAllDefaults();
  std::vector<uint8_t> expected(982, 0);
  size_t at = 0;
  PutLE16(expected, at, -9999), at += 2;  // volume
  PutLE16(expected, at, -9999), at += 2;  // directory id, low half
  PutLE16(expected, at, -1), at += 2;     // directory id, high half
  at += 64;                                // empty folder name, full 64 bytes
  at += 1;                                 // empty volume name: length byte only
  PutLE16(expected, at, 4511), at += 2;    // alias id
  PutLE16(expected, at, 1), at += 2;       // create if missing
  at += 2 + 1 + 2 + 1;                     // reserved106, reserved108, yearbook switch and folder
  at += 2;                                 // reserved396
  PutLE16(expected, at, 1), at += 2;       // orientation
  PutLE16(expected, at, 2), at += 2;       // rotation
  PutLE16(expected, at, 3), at += 2;       // file format
  PutString(expected, at, "Print");
  PutString(expected, at, ".jpg");
  at += 2;                                 // force orientation
  PutLE16(expected, at, 3), at += 2;       // naming type
  at += 2 + 4 * 2 + 4 + 2 + 2;             // yearbook naming and fields, separators, skip, two folder names
  at += 2;                                 // web copy
  PutLE16(expected, at, 640), at += 2;     // maximum size
  at += 2;
  PutLE16(expected, at, 1), at += 2;       // site
  at += 2 + 2 + 1 + 6 + 24;                // png, overwrite, edit text, further sets, tail
  EXPECT_EQ(at, 165u);
  EXPECT_EQ(PrintToFileSetBlob(1), expected);

  EXPECT_EQ(PrintServerPrefBlob().size(), 350u);
  EXPECT_EQ(OutputFilePrefBlob().size(), 260u);
  EXPECT_EQ(ProcessedJobsPrefBlob().size(), 616u);
  EXPECT_EQ(WebUploadPrefBlob().size(), 982u);
}

TEST_F(PrefStore, FreshDefaultsGiveFactoryValuesAndCreateNoKey) {
  getMyPrintServerPrefs()->keepJobFiles = 7;
  myNewReadPreferences();
  tPrintServerPrefs server;
  setMyPrintServerPrefToFactoryDefaults(&server);
  EXPECT_EQ(*getMyPrintServerPrefs(), server);
  tSpecialPrintToFilePref set4;
  setMyPrintToFileSetPrefsToFactoryDefaults(&set4, 4);
  EXPECT_EQ(*getMyPrintToFileSetPrefs(4), set4);
  EXPECT_TRUE(defaults_->dictionaryRepresentation().empty());
}

// Values a save carries; the child process checks them after its own read.
void ChangeEveryStoredRecord() {
  mySetAllDefaults();
  tPrintServerPrefs& server = *getMyPrintServerPrefs();
  server.jobsDirID = 4242;
  server.keepJobFiles = 1;
  server.askOnFailedJob = 1;
  server.secondRootDirID = -3;
  tSpecialPrintToFilePref& set3 = *getMyPrintToFileSetPrefs(3);
  set3.baseName = "Roll";
  set3.maxSize = 1200;
  set3.editText = "client list ƒ";
  set3.yearbookSeparators[2] = "_-_";
  set3.alsoCopyToSet = {2, 9, 0};
  set3.reserved958[23] = 0xAB;
  getMyOutputFilePrefs()->jpegQuality = 91;
  getMyProcessedJobsPrefs()->useNewHandOff = 1;
  getMyProcessedJobsPrefs()->folder.volumeName = "Photos";
  tSpecialPrintToFilePref& web = *getMyWebUploadPrefs();
  web.fileFormat = 9;
  web.maxSize = 999;  // the web-upload blob does not carry it
  web.reserved958[0] = 0x5A;
}

void ExpectEveryStoredRecordChanged() {
  const tPrintServerPrefs& server = *getMyPrintServerPrefs();
  EXPECT_EQ(server.jobsDirID, 4242);
  EXPECT_EQ(server.keepJobFiles, 1);
  EXPECT_EQ(server.askOnFailedJob, 1);
  EXPECT_EQ(server.secondRootDirID, -3);
  EXPECT_TRUE(server.rootSpec.spec.name.IsEmpty());
  const tSpecialPrintToFilePref& set3 = *getMyPrintToFileSetPrefs(3);
  EXPECT_TRUE(set3.baseName == "Roll");
  EXPECT_EQ(set3.maxSize, 1200);
  EXPECT_TRUE(set3.editText == "client list ƒ");
  EXPECT_TRUE(set3.yearbookSeparators[2] == "_-_");
  EXPECT_EQ(set3.alsoCopyToSet[1], 9);
  EXPECT_EQ(set3.reserved958[23], 0xAB);
  EXPECT_EQ(set3.folder.aliasID, 4513);
  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 91);
  EXPECT_EQ(getMyProcessedJobsPrefs()->useNewHandOff, 1);
  EXPECT_TRUE(getMyProcessedJobsPrefs()->folder.volumeName == "Photos");
  const tSpecialPrintToFilePref& web = *getMyWebUploadPrefs();
  EXPECT_EQ(web.fileFormat, 9);
  EXPECT_EQ(web.maxSize, 0);
  EXPECT_EQ(web.reserved958[0], 0x5A);
}

TEST_F(PrefStore, SavedPreferencesReadBackInANewProcess) {
  ChangeEveryStoredRecord();
  myNewSavePreferences();
  ASSERT_TRUE(fs::exists(defaults_->file()));

  setenv(kChildFileVariable, defaults_->file().c_str(), 1);
  host::ProcessOptions options;
  options.timeout = std::chrono::milliseconds(60000);
  const host::ProcessResult child =
      host::runProcess("/proc/self/exe", {"--gtest_filter=PrefStoreChild.ReadsWhatTheParentSaved"}, options);
  unsetenv(kChildFileVariable);
  EXPECT_TRUE(child.succeeded()) << child.error << " status " << child.exitStatus;

  // And in this process too, from a fresh read of the file.
  mySetAllDefaults();
  host::UserDefaults reread(defaults_->file());
  SetPrefStoreDefaults(&reread);
  myNewReadPreferences();
  SetPrefStoreDefaults(defaults_.get());
  ExpectEveryStoredRecordChanged();
}

TEST(PrefStoreChild, ReadsWhatTheParentSaved) {
  const char* file = std::getenv(kChildFileVariable);
  if (!file) GTEST_SKIP() << "runs as the child of SavedPreferencesReadBackInANewProcess";
  host::UserDefaults defaults{fs::path(file)};
  SetPrefStoreDefaults(&defaults);
  myNewReadPreferences();
  SetPrefStoreDefaults(nullptr);
  ExpectEveryStoredRecordChanged();
}

TEST_F(PrefStore, BadBlobsStopOnlyThemselves) {
  mySetAllDefaults();
  // Set 2: good up to its base name, whose length byte claims 70.
  tSpecialPrintToFilePref& set2 = *getMyPrintToFileSetPrefs(2);
  set2.orientation = 2;
  set2.extension = ".tif";
  std::vector<uint8_t> bad = PrintToFileSetBlob(2);
  const size_t baseName = 70 + 1 + 6 + 1 + 2 + 1 + 8;
  ASSERT_EQ(bad[baseName], 5);
  bad[baseName] = 70;
  Store(PrintToFileSetKey(2), bad);
  // Set 3: a separator of nine characters, one more than its record keeps.
  std::vector<uint8_t> nine = PrintToFileSetBlob(3);
  const size_t separators = baseName + 6 + 5 + 14;
  ASSERT_EQ(nine[separators], 0);
  nine.insert(nine.begin() + long(separators) + 1, {'1', '2', '3', '4', '5', '6', '7', '8', '9'});
  nine[separators] = 9;
  nine.resize(982);
  Store(PrintToFileSetKey(3), nine);
  // Set 4 good, with a blob longer than the record.
  getMyPrintToFileSetPrefs(4)->namingType = 5;
  std::vector<uint8_t> longer = PrintToFileSetBlob(4);
  longer.resize(5000, 0xEE);
  Store(PrintToFileSetKey(4), longer);
  // Print server: only 36 bytes.
  getMyPrintServerPrefs()->databaseVRefNum = -7;
  getMyPrintServerPrefs()->databaseDirID = 99;
  std::vector<uint8_t> server = PrintServerPrefBlob();
  server.resize(36);
  Store(kPrintServerPrefKey, server);
  // Output files: 3 bytes; print centre good; web upload with a bad base name.
  getMyOutputFilePrefs()->jpegQuality = 80;
  getMyOutputFilePrefs()->secondQuality = 20;
  std::vector<uint8_t> output = OutputFilePrefBlob();
  output.resize(3);
  Store(kOutputFilesPrefKey, output);
  getMyProcessedJobsPrefs()->useNewHandOff = 1;
  Store(kPrintCenterPrefsKey, ProcessedJobsPrefBlob());
  getMyWebUploadPrefs()->folder.aliasID = 1;
  std::vector<uint8_t> web = WebUploadPrefBlob();
  web[baseName] = 70;
  Store(kWebUploadPrefsKey, web);

  myNewReadPreferences();

  EXPECT_EQ(getMyPrintToFileSetPrefs(2)->orientation, 2);            // read before the bad field
  EXPECT_TRUE(getMyPrintToFileSetPrefs(2)->baseName == "Print");      // factory from there on
  EXPECT_TRUE(getMyPrintToFileSetPrefs(2)->extension == ".jpg");
  EXPECT_TRUE(getMyPrintToFileSetPrefs(3)->yearbookSeparators[0] == "12345678");
  EXPECT_EQ(getMyPrintToFileSetPrefs(3)->skipCKProperties, 0);
  EXPECT_EQ(getMyPrintToFileSetPrefs(4)->namingType, 5);
  EXPECT_EQ(getMyPrintToFileSetPrefs(4)->reserved958[0], 0);
  // A blob that ends before its fields is damaged: the record is its factory
  // defaults (printing stays on) and those are stored in its place.
  tPrintServerPrefs factory;
  setMyPrintServerPrefToFactoryDefaults(&factory);
  const tPrintServerPrefs& p = *getMyPrintServerPrefs();
  EXPECT_EQ(p.databaseVRefNum, factory.databaseVRefNum);
  EXPECT_EQ(p.enableBackground, factory.enableBackground);
  EXPECT_EQ(p.autoStart, factory.autoStart);
  EXPECT_EQ(p.fullRescan, factory.fullRescan);
  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 50);
  EXPECT_EQ(getMyOutputFilePrefs()->secondQuality, 75);
  EXPECT_EQ(ReadFromMyUserDefaults(kPrintServerPrefKey)->asData()->size(), 350u);
  EXPECT_EQ(*ReadFromMyUserDefaults(kPrintServerPrefKey)->asData(), PrintServerPrefBlob());
  EXPECT_EQ(ReadFromMyUserDefaults(kOutputFilesPrefKey)->asData()->size(), 260u);
  EXPECT_EQ(getMyProcessedJobsPrefs()->useNewHandOff, 1);
  EXPECT_EQ(getMyWebUploadPrefs()->folder.aliasID, 4566);  // validated after the failure
}

TEST_F(PrefStore, SwitchesOutOfRangeTakeTheirFactoryValueAndAreSavedBack) {
  mySetAllDefaults();
  tPrintServerPrefs& p = *getMyPrintServerPrefs();
  p.autoStart = 0x0100;  // a 1 stored in the other byte order
  p.keepJobFiles = 7;
  p.hideImage = -1;
  p.dualSwitch = 1;
  p.jobsDirID = 4242;
  Store(kPrintServerPrefKey, PrintServerPrefBlob());
  mySetAllDefaults();

  myNewReadPreferences();
  EXPECT_EQ(p.autoStart, 1);
  EXPECT_EQ(p.keepJobFiles, 1) << "job files are kept rather than deleted";
  EXPECT_EQ(p.hideImage, 0);
  EXPECT_EQ(p.dualSwitch, 1) << "a switch in range is kept";
  EXPECT_EQ(p.jobsDirID, 4242);
  // Written back at once: a fresh read of the file finds the repaired record.
  host::UserDefaults reread(defaults_->file());
  EXPECT_EQ(*reread.getData(kPrintServerPrefKey), PrintServerPrefBlob());
}

TEST_F(PrefStore, SwitchesOutOfRangeInEveryRecordAreRepairedAndSavedBack) {
  mySetAllDefaults();
  getMyPrintToFileSetPrefs(2)->overwrite = 0x0100;
  getMyPrintToFileSetPrefs(2)->folder.createIfMissing = 9;
  getMyPrintToFileSetPrefs(2)->doNotResizePng = 1;
  getMyPrintToFileSetPrefs(2)->maxSize = 1234;
  getMyWebUploadPrefs()->skipCKProperties = -3;
  getMyProcessedJobsPrefs()->useNewHandOff = 2;
  getMyPrintToFilePrefs()->skipCKProperties = 0x0100;
  Store(PrintToFileSetKey(2), PrintToFileSetBlob(2));
  Store(kWebUploadPrefsKey, WebUploadPrefBlob());
  Store(kPrintCenterPrefsKey, ProcessedJobsPrefBlob());
  Store(kPrintToFilePrefKey, PrintToFilePrefBlob());
  const char* const keys[] = {"PrintToFileSet 2", kWebUploadPrefsKey, kPrintCenterPrefsKey, kPrintToFilePrefKey};
  ASSERT_EQ(PrintToFileSetKey(2), keys[0]);
  for (const char* key : keys)
    EXPECT_TRUE(CheckImportedPreference(key, host::PlistValue(*defaults_->getData(key)))) << key << " is refused";
  mySetAllDefaults();
  tSpecialPrintToFilePref factorySet;
  setMyPrintToFileSetPrefsToFactoryDefaults(&factorySet, 2);
  tProcessedJobsPrefs factoryCentre;
  setMyProcessedJobsPrefToFactoryDefaults(&factoryCentre);

  myNewReadPreferences();
  const tSpecialPrintToFilePref& set = *getMyPrintToFileSetPrefs(2);
  EXPECT_EQ(set.overwrite, 0) << "a file already written is never replaced";
  EXPECT_EQ(set.folder.createIfMissing, factorySet.folder.createIfMissing);
  EXPECT_EQ(set.doNotResizePng, 1) << "a switch in range is kept";
  EXPECT_EQ(set.maxSize, 1234);
  EXPECT_EQ(getMyWebUploadPrefs()->skipCKProperties, 0);
  EXPECT_EQ(getMyProcessedJobsPrefs()->useNewHandOff, factoryCentre.useNewHandOff);
  EXPECT_EQ(getMyPrintToFilePrefs()->skipCKProperties, 0);
  // Every repaired record is written back, and what import would refuse is
  // exactly what a read repairs: the stored records now pass its check.
  host::UserDefaults reread(defaults_->file());
  EXPECT_EQ(*reread.getData(PrintToFileSetKey(2)), PrintToFileSetBlob(2));
  EXPECT_EQ(*reread.getData(kWebUploadPrefsKey), WebUploadPrefBlob());
  EXPECT_EQ(*reread.getData(kPrintCenterPrefsKey), ProcessedJobsPrefBlob());
  EXPECT_EQ(*reread.getData(kPrintToFilePrefKey), PrintToFilePrefBlob());
  for (const char* key : keys)
    EXPECT_EQ(CheckImportedPreference(key, host::PlistValue(*reread.getData(key))), std::nullopt) << key;
}

TEST_F(PrefStore, ASaveThatCannotBeWrittenSaysSoOnceAndKeepsTheValues) {
  // The configuration folder is a file: nothing can be written below it.
  WriteFileBytes(dir_ / "config");
  host::UserDefaults blocked(dir_ / "config" / "Kivo-Processor" / "defaults.plist");
  SetPrefStoreDefaults(&blocked);
  mySetAllDefaults();
  getMyOutputFilePrefs()->jpegQuality = 77;
  std::string error;
  EXPECT_FALSE(myNewSavePreferences(&error));
  EXPECT_NE(error.find("config"), std::string::npos) << error;
  EXPECT_FALSE(SynchronizeMyUserDefaults());
  EXPECT_TRUE(blocked.contains(kOutputFilesPrefKey)) << "kept in memory for the next save";

  // Once the folder can be made, the next save writes what was kept.
  fs::remove(dir_ / "config");
  EXPECT_TRUE(SynchronizeMyUserDefaults());
  host::UserDefaults reread(blocked.file());
  EXPECT_EQ(*reread.getData(kOutputFilesPrefKey), OutputFilePrefBlob());
  SetPrefStoreDefaults(defaults_.get());
}

TEST_F(PrefStore, FolderAliasesFindTheFolderAgain) {
  const fs::path folder = dir_ / "PRINT TO FILE FOLDER SET Aƒ";
  fs::create_directory(folder);
  FSSpec spec;
  ASSERT_EQ(host::MakeFSSpecFromPath(folder.string(), &spec), noErr);
  ASSERT_EQ(SaveFSSpecAsAliasHandle(spec, 4511), noErr);
  ASSERT_TRUE(defaults_->getData("AliasHandle 4511").has_value());
  ASSERT_TRUE(fs::exists(defaults_->file()));  // stored at once

  mySetAllDefaults();
  tFolderFSSpec& set1 = getMyPrintToFileSetPrefs(1)->folder;
  ASSERT_TRUE(validateIfAliasHandle(&set1));
  std::string path;
  ASSERT_EQ(host::GetPathOfFSSpec(set1.spec, &path), noErr);
  EXPECT_EQ(fs::path(path), folder);

  // No alias, a garbage alias, a folder that is gone: the record stays.
  tFolderFSSpec& set2 = getMyPrintToFileSetPrefs(2)->folder;
  const tFolderFSSpec before = set2;
  EXPECT_FALSE(validateIfAliasHandle(&set2));
  Store("AliasHandle 4512", {1, 2, 3});
  EXPECT_FALSE(validateIfAliasHandle(&set2));
  EXPECT_FALSE(ReadAliasHandle(4512).has_value());
  fs::remove(folder);
  EXPECT_FALSE(validateIfAliasHandle(&getMyPrintToFileSetPrefs(1)->folder));
  EXPECT_EQ(set2, before);

  // A folder that does not exist stores nothing.
  FSSpec missing;
  host::MakeFSSpecFromPath((dir_ / "nowhere").string(), &missing);
  EXPECT_NE(SaveFSSpecAsAliasHandle(missing, 4566), noErr);
  EXPECT_FALSE(defaults_->contains("AliasHandle 4566"));
}

TEST_F(PrefStore, SaveStructReplacesTheResourceInTheFork) {
  const fs::path image = dir_ / "photo.jpg";
  WriteFileBytes(image);
  const uint8_t first[4] = {1, 2, 3, 4};
  const uint8_t second[2] = {9, 8};
  for (int round = 0; round < 2; ++round) {
    TFile file;
    ASSERT_EQ(file.SpecifyWithPath(image.string()), noErr);
    if (round == 0) {
      ASSERT_EQ(file.CreateRsrcFork(), noErr);
    }
    ASSERT_EQ(file.OpenRsrcFork(fsRdWrPerm), noErr);
    if (round == 0) SaveStruct(file, first, 128, CStr255_AC("Image Props"), 4, FourCC("Pref"));
    else SaveStruct(file, second, 128, CStr255_AC("Image Props"), 2, FourCC("Pref"));
    ASSERT_EQ(file.CloseFile(), noErr);
  }
  host::ResourceMap map;
  ASSERT_EQ(host::ReadResourceFork(image.string(), &map), noErr);
  ASSERT_EQ(map.Count(FourCC("Pref")), 1);
  const host::Resource* r = map.Get(FourCC("Pref"), 128);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->data, (std::vector<uint8_t>{9, 8}));
  EXPECT_EQ(r->name, "Image Props");

  TFile closed;
  ASSERT_EQ(closed.SpecifyWithPath(image.string()), noErr);
  EXPECT_THROW(SaveStruct(closed, first, 129, CStr255_AC("x"), 4, FourCC("Pref")), CException_AC);
}

}  // namespace
