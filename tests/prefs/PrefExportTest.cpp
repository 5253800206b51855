// Export and import of the stored preferences: the file as another reader
// (Python's plistlib) sees it, a round trip, a hostile file, and the two
// commands answered through the file-dialog hook.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/files/Alias.h"
#include "host/files/FinderInfo.h"
#include "host/sys/Process.h"
#include "host/sys/PropertyList.h"
#include "host/sys/UserDefaults.h"
#include "host/ui/FileDialogs.h"
#include "platform/Messages.h"
#include "prefs/FolderAliases.h"
#include "prefs/PrefExport.h"
#include "prefs/PrefStore.h"

namespace fs = std::filesystem;

namespace {

class PrefExport : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kivo-prefexport-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    defaults_ = std::make_unique<host::UserDefaults>(dir_ / "defaults.plist");
    SetPrefStoreDefaults(defaults_.get());
    mySetAllDefaults();
    messages_.clear();
    platform::SetMessageAlertHook([this](const std::string& text) {
      messages_.push_back(text);
      return int16_t(1);
    });
  }
  void TearDown() override {
    platform::SetMessageAlertHook({});
    host::SetFileDialogHook({});
    SetPrefStoreDefaults(nullptr);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // A preference file holding `inner` as its dictionary.
  fs::path WriteFile(const host::PlistDict& inner, const std::string& name = "import.plist") {
    host::PlistDict top;
    top[kPrefsDictionaryName] = host::PlistValue(inner);
    const fs::path file = dir_ / name;
    EXPECT_TRUE(host::writePropertyListFile(file, host::PlistValue(top), host::PlistFormat::Xml));
    return file;
  }
  std::vector<uint8_t> AliasBytes(const fs::path& folder) {
    host::AliasRecord alias;
    EXPECT_EQ(host::NewAlias(folder.string(), &alias), noErr);
    return alias.Encode();
  }
  // Runs python3 on `script` with the file as its argument; its output.
  std::string Python(const std::string& script, const fs::path& file) {
    const fs::path py = dir_ / "check.py";
    std::ofstream(py) << script;
    host::ProcessOptions options;
    options.captureOutput = true;
    options.timeout = std::chrono::milliseconds(30000);
    const host::ProcessResult r = host::runProcess("/usr/bin/python3", {py.string(), file.string()}, options);
    EXPECT_TRUE(r.succeeded()) << r.error << r.output;
    return r.output;
  }

  fs::path dir_;
  std::unique_ptr<host::UserDefaults> defaults_;
  std::vector<std::string> messages_;
};

const char kListKeys[] = R"(import plistlib, sys
with open(sys.argv[1], 'rb') as f:
    top = plistlib.load(f)
inner = top['Kivo-Processor v14 Prefs Dictionary']
for key in sorted(inner):
    value = inner[key]
    print(key, type(value).__name__, len(value))
print('top', len(top))
)";

TEST_F(PrefExport, FreshStoreExportsAnEmptyDictionary) {
  const fs::path file = dir_ / "fresh.plist";
  ASSERT_TRUE(SaveToNewPreferencesFile(file));
  EXPECT_EQ(Python(kListKeys, file), "top 1\n");
  host::FinderInfo info;
  ASSERT_EQ(host::GetFinderInfo(file.string(), &info), noErr);
  if (host::FinderInfoSupported(file.string())) {
    EXPECT_EQ(info.creator, FourCC("ZRVb"));
  }
}

TEST_F(PrefExport, ExportHoldsTheStoredKeysAsPlistlibReadsThem) {
  fs::create_directories(dir_ / "Set1");
  myNewSavePreferences();
  defaults_->set(AliasKey(4511), host::PlistValue(AliasBytes(dir_ / "Set1")));
  defaults_->set(AliasKey(kWebUploadAliasID), host::PlistValue(AliasBytes(dir_ / "Set1")));
  defaults_->set("prefEnableRelaunch", host::PlistValue(true));
  const fs::path file = dir_ / "export.plist";
  ASSERT_TRUE(SaveToNewPreferencesFile(file));
  const std::string listed = Python(kListKeys, file);
  const std::string alias = " bytes " + std::to_string(AliasBytes(dir_ / "Set1").size()) + "\n";
  std::string expected = "AliasHandle 4511" + alias + "AliasHandle 4566" + alias;
  // Each set's record, and its client list as text beside it.
  for (int set = 1; set <= 8; ++set)
    expected += "PrintToFileSet " + std::to_string(set) + " bytes 982\nPrintToFileSet " + std::to_string(set) +
                " Client List str 0\n";
  expected += "WebUploadPrefs bytes 982\noutputFilesPref bytes 260\nprintServerPref bytes 350\nprintToFilePref bytes 570\ntop 1\n";
  EXPECT_EQ(listed, expected);  // no print-centre blob or relaunch switch
}

TEST_F(PrefExport, RoundTripReproducesExportedKeysOnly) {
  getMyPrintServerPrefs()->fullRescan = 0;
  getMyPrintToFileSetPrefs(5)->baseName = "Five";
  getMyOutputFilePrefs()->jpegQuality = 77;
  myNewSavePreferences();
  const fs::path file = dir_ / "export.plist";
  ASSERT_TRUE(SaveToNewPreferencesFile(file));

  // Another machine's store with its own print-centre blob and values.
  mySetAllDefaults();
  getMyProcessedJobsPrefs()->useNewHandOff = 1;
  myNewSavePreferences();
  const auto centre = defaults_->getData(kPrintCenterPrefsKey);
  PrefImportReport report;
  ASSERT_TRUE(LoadFromNewPreferencesFile2(file, true, &report));
  EXPECT_TRUE(report.refused.empty()) << report.RefusedText();
  myNewReadPreferences();
  EXPECT_EQ(getMyPrintServerPrefs()->fullRescan, 0);
  EXPECT_EQ(getMyPrintToFileSetPrefs(5)->baseName.ToUTF8(), "Five");
  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 77);
  EXPECT_EQ(getMyProcessedJobsPrefs()->useNewHandOff, 1);
  EXPECT_EQ(defaults_->getData(kPrintCenterPrefsKey), centre);
}

TEST_F(PrefExport, HostileFileChangesNothingItShouldNot) {
  myNewSavePreferences();
  const host::PlistDict before = defaults_->dictionaryRepresentation();

  getMyWebUploadPrefs()->baseName = "Web";
  host::PlistDict inner;
  inner[kWebUploadPrefsKey] = host::PlistValue(WebUploadPrefBlob());  // the one good key
  mySetAllDefaults();
  inner["prefEnableRelaunch"] = host::PlistValue(true);
  // A program the processor would start: never taken from a file.
  inner["KivoPrintCenterCommand"] = host::PlistValue(host::PlistArray{host::PlistValue("/bin/sh"), host::PlistValue("-c")});
  inner["SomethingElse"] = host::PlistValue(std::string(2'000'000, 'x'));
  inner[kPrintServerPrefKey] = host::PlistValue("not data");
  inner[PrintToFileSetKey(1)] = host::PlistValue(std::vector<uint8_t>(5000, 1));
  getMyPrintToFileSetPrefs(2)->fileFormat = 77;
  inner[PrintToFileSetKey(2)] = host::PlistValue(PrintToFileSetBlob(2));
  getMyPrintToFileSetPrefs(3)->folder.aliasID = 4512;
  inner[PrintToFileSetKey(3)] = host::PlistValue(PrintToFileSetBlob(3));
  std::vector<uint8_t> longName = PrintToFileSetBlob(4);
  longName[70 + 1 + 6 + 1 + 2 + 1 + 8] = 200;  // base name longer than its field
  inner[PrintToFileSetKey(4)] = host::PlistValue(longName);
  inner["PrintToFileSet 9"] = host::PlistValue(PrintToFileSetBlob(1));
  inner["PrintToFileSet 01"] = host::PlistValue(PrintToFileSetBlob(1));
  getMyOutputFilePrefs()->jpegQuality = 0;
  inner[kOutputFilesPrefKey] = host::PlistValue(OutputFilePrefBlob());
  inner[AliasKey(4511)] = host::PlistValue(std::vector<uint8_t>{1, 2, 3});
  inner[AliasKey(4503)] = host::PlistValue(AliasBytes(dir_));
  inner["AliasHandle 4506"] = host::PlistValue(int64_t(4506));
  host::PlistDict nested;
  nested["a"] = host::PlistValue(1);
  inner["KivoPrintCenterPrefs"] = host::PlistValue(nested);
  mySetAllDefaults();

  PrefImportReport report;
  ASSERT_TRUE(LoadFromNewPreferencesFile2(WriteFile(inner), true, &report));
  EXPECT_EQ(report.applied, std::vector<std::string>{kWebUploadPrefsKey});
  EXPECT_EQ(report.refused.size(), inner.size() - 1);
  for (const auto& [key, why] : report.refused) EXPECT_FALSE(why.empty()) << key;
  EXPECT_NE(report.RefusedText().find("prefEnableRelaunch"), std::string::npos);

  host::PlistDict after = defaults_->dictionaryRepresentation();
  EXPECT_FALSE(after.count("prefEnableRelaunch"));
  EXPECT_FALSE(after.count("KivoPrintCenterCommand"));
  EXPECT_FALSE(after.count("SomethingElse"));
  EXPECT_NE(after[kWebUploadPrefsKey], before.at(kWebUploadPrefsKey));
  after[kWebUploadPrefsKey] = before.at(kWebUploadPrefsKey);
  EXPECT_EQ(after, before);
  // The store as written to disk agrees.
  host::UserDefaults reread(defaults_->file());
  EXPECT_FALSE(reread.contains("prefEnableRelaunch"));
}

TEST_F(PrefExport, FilesWithoutItsDictionaryImportNothing) {
  myNewSavePreferences();
  const host::PlistDict before = defaults_->dictionaryRepresentation();
  // No dictionary of that name.
  host::PlistDict top;
  top["Other"] = host::PlistValue(host::PlistDict{});
  const fs::path other = dir_ / "other.plist";
  ASSERT_TRUE(host::writePropertyListFile(other, host::PlistValue(top), host::PlistFormat::Binary));
  EXPECT_FALSE(LoadFromNewPreferencesFile2(other, true));
  // Not a property list; missing; only refused keys.
  const fs::path junk = dir_ / "junk.plist";
  std::ofstream(junk) << "<plist><dict><key>x</key>";
  EXPECT_FALSE(LoadFromNewPreferencesFile2(junk, true));
  EXPECT_FALSE(LoadFromNewPreferencesFile2(dir_ / "missing.plist", true));
  EXPECT_FALSE(LoadFromNewPreferencesFile2("", true));
  host::PlistDict refusedOnly;
  refusedOnly["prefEnableRelaunch"] = host::PlistValue(true);
  PrefImportReport report;
  EXPECT_FALSE(LoadFromNewPreferencesFile2(WriteFile(refusedOnly), true, &report));
  EXPECT_EQ(report.refused.size(), 1u);
  EXPECT_EQ(defaults_->dictionaryRepresentation(), before);
  // An empty dictionary is a good file with nothing in it.
  EXPECT_TRUE(LoadFromNewPreferencesFile2(WriteFile({}), true));
}

TEST_F(PrefExport, WithoutForceStoredValuesStay) {
  getMyOutputFilePrefs()->jpegQuality = 60;
  myNewSavePreferences();
  const auto stored = defaults_->getData(kOutputFilesPrefKey);
  getMyOutputFilePrefs()->jpegQuality = 90;
  host::PlistDict inner;
  inner[kOutputFilesPrefKey] = host::PlistValue(OutputFilePrefBlob());
  inner[PrintToFileSetKey(1)] = host::PlistValue(PrintToFileSetBlob(1));
  defaults_->remove(PrintToFileSetKey(1));
  ASSERT_TRUE(LoadFromNewPreferencesFile2(WriteFile(inner), false));
  EXPECT_EQ(defaults_->getData(kOutputFilesPrefKey), stored);
  EXPECT_TRUE(defaults_->contains(PrintToFileSetKey(1)));
}

TEST_F(PrefExport, CommandsAnswerThroughTheFileDialogs) {
  myNewSavePreferences();
  std::vector<host::FileDialogRequest> requests;
  fs::path answer = dir_ / "chosen.plist";
  host::SetFileDialogHook([&](const host::FileDialogRequest& r) -> std::optional<std::optional<host::FileDialogAnswer>> {
    requests.push_back(r);
    return std::optional<host::FileDialogAnswer>(host::FileDialogAnswer{answer, 1});
  });
  ASSERT_TRUE(SaveToNewPreferencesFile());
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].kind, host::FileDialogKind::kSaveFile);
  EXPECT_EQ(requests[0].title, "Save Preferences to File...");
  EXPECT_EQ(requests[0].extensions, std::vector<std::string>{"plist"});
  EXPECT_EQ(requests[0].startFolder.filename().string(), "KIVO PREFERENCES FOLDER ƒ");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Preference File Saved at:\r" + answer.string());
  EXPECT_TRUE(fs::exists(answer));

  // A place that cannot be written is reported as a failure.
  answer = dir_ / "no such folder" / "x.plist";
  EXPECT_FALSE(SaveToNewPreferencesFile());
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_NE(messages_[1].find("could not be written"), std::string::npos);
  EXPECT_FALSE(fs::exists(answer));

  answer = dir_ / "chosen.plist";
  PrefImportReport report;
  EXPECT_TRUE(LoadFromNewPreferencesFile(&report));
  EXPECT_EQ(requests.back().kind, host::FileDialogKind::kOpenFile);
  EXPECT_EQ(requests.back().message, "Please Choose the Pref File to LOAD From...");
  EXPECT_EQ(report.applied.size(), 12u);

  // Cancelled dialogs do nothing.
  host::SetFileDialogHook([](const host::FileDialogRequest&) -> std::optional<std::optional<host::FileDialogAnswer>> {
    return std::optional<host::FileDialogAnswer>();
  });
  EXPECT_FALSE(SaveToNewPreferencesFile());
  EXPECT_FALSE(LoadFromNewPreferencesFile());
  EXPECT_EQ(messages_.size(), 2u);
}

}  // namespace
