// Export and import of the stored preferences: the file as another reader
// (Python's plistlib) sees it, a round trip, a hostile file, and the two
// commands answered through the file-dialog hook.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "host/files/Alias.h"
#include "host/files/FinderInfo.h"
#include "host/sys/Folders.h"
#include "host/sys/Process.h"
#include "host/sys/PropertyList.h"
#include "host/sys/UserDefaults.h"
#include "host/ui/FileDialogs.h"
#include "platform/Messages.h"
#include "prefs/FolderAliases.h"
#include "prefs/PrefExport.h"
#include "prefs/PrefStore.h"
#include "prefs/ReadablePrefs.h"

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
    print(key, type(value).__name__, len(value) if isinstance(value, (bytes, str)) else repr(value))
print('top', len(top))
)";

// The lines of `listed` whose key is (not) a readable setting.
std::string Lines(const std::string& listed, bool readable) {
  std::istringstream in(listed);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    const bool isReadable = std::ranges::any_of(AllReadableKeys(), [&](const std::string& key) {
      return line.starts_with(key + " ");
    });
    if (isReadable == readable) out += line + "\n";
  }
  return out;
}

// The file's inner dictionary.
host::PlistDict InnerOf(const fs::path& file) {
  const auto top = host::readPropertyListFile(file);
  const host::PlistValue* inner = top ? top->find(kPrefsDictionaryName) : nullptr;
  return inner && inner->asDict() ? *inner->asDict() : host::PlistDict{};
}

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
  std::string expected = "AliasHandle 4511" + alias + "AliasHandle 4566" + alias + "Exported From Application Folder str " +
                         std::to_string(host::applicationFolderPath().string().size()) +
                         "\nKivoPrintCenterPrefs bytes 616\n";
  for (int set = 1; set <= 8; ++set) expected += "PrintToFileSet " + std::to_string(set) + " bytes 982\n";
  expected += "WebUploadPrefs bytes 982\noutputFilesPref bytes 260\nprintServerPref bytes 350\nprintToFilePref bytes 570\ntop 1\n";
  EXPECT_EQ(Lines(listed, false), expected);  // no relaunch switch
  // Beside them every setting the window offers, as a plain value.
  const std::string readable = Lines(listed, true);
  EXPECT_EQ(size_t(std::ranges::count(readable, '\n')), AllReadableKeys().size());
  for (const char* line : {"General Settings Delete Job Files After Printing bool True",
                           "General Settings Start Processing At Launch bool True",
                           "Kivo-Print Center Hand Off A JPEG And A Property List bool False",
                           "Output Files JPEG Quality Of Web Copies int 50", "PrintToFileSet 3 File Format str 4",
                           "PrintToFileSet 3 Naming str 10", "PrintToFileSet 3 Also Copy To Sets str 0",
                           "PrintToFileSet 8 Web Copy Max Size int 640", "PrintToFileSet 8 Prefix str 5",
                           "Web Upload File Format str 16", "Web Upload Rotate str 9"})
    EXPECT_NE(readable.find(std::string(line) + "\n"), std::string::npos) << line << "\n" << readable;
}

TEST_F(PrefExport, RoundTripReproducesExportedKeysOnly) {
  getMyPrintServerPrefs()->fullRescan = 0;
  getMyPrintToFileSetPrefs(5)->baseName = "Five";
  getMyOutputFilePrefs()->jpegQuality = 77;
  getMyProcessedJobsPrefs()->useNewHandOff = 1;
  myNewSavePreferences();
  const fs::path file = dir_ / "export.plist";
  ASSERT_TRUE(SaveToNewPreferencesFile(file));

  // Another machine's store with its own values and a key that never travels.
  mySetAllDefaults();
  myNewSavePreferences();
  defaults_->set("prefEnableRelaunch", host::PlistValue(true));
  PrefImportReport report;
  ASSERT_TRUE(LoadFromNewPreferencesFile2(file, true, &report));
  EXPECT_TRUE(report.refused.empty()) << report.RefusedText();
  myNewReadPreferences();
  EXPECT_EQ(getMyPrintServerPrefs()->fullRescan, 0);
  EXPECT_EQ(getMyPrintToFileSetPrefs(5)->baseName.ToUTF8(), "Five");
  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 77);
  EXPECT_EQ(getMyProcessedJobsPrefs()->useNewHandOff, 1);
  EXPECT_EQ(defaults_->get("prefEnableRelaunch"), host::PlistValue(true));
}

// The edits of the operator's manual (docs/OPERATOR.md): readable keys win
// over their blobs, a value left as exported leaves its blob's bytes alone,
// a file of a few readable keys alone changes a fresh station, and an export
// of the earlier form (blobs only) still imports.
TEST_F(PrefExport, ReadableSettingsWinOverTheirBlobsAndEarlierExportsStillImport) {
  getMyPrintToFileSetPrefs(3)->baseName = "Three";
  getMyPrintToFileSetPrefs(3)->alsoCopyToSet = {1, 1, 1};  // "none" as the window stores it
  getMyPrintToFileSetPrefs(2)->alsoCopyToSet = {3, 4, 0};
  getMyPrintServerPrefs()->fullRescan = 0;
  myNewSavePreferences();
  const fs::path file = dir_ / "export.plist";
  ASSERT_TRUE(SaveToNewPreferencesFile(file));
  host::PlistDict inner = InnerOf(file);
  const host::PlistDict exported = inner;

  // Unedited, the import stores the exported blobs byte for byte.
  PrefImportReport report;
  ASSERT_TRUE(LoadFromNewPreferencesFile2(file, true, &report));
  EXPECT_TRUE(report.refused.empty()) << report.RefusedText();
  EXPECT_EQ(report.applied.size(), 13u);
  for (const auto& [key, value] : exported)
    if (value.asData()) {
      EXPECT_EQ(defaults_->get(key), value) << key;
    }

  inner["PrintToFileSet 3 Write A Web Copy"] = host::PlistValue(true);
  inner["PrintToFileSet 3 Also Copy To Sets"] = host::PlistValue("5,7");
  inner["PrintToFileSet 3 File Format"] = host::PlistValue("tiff");
  inner["PrintToFileSet 3 Orientation"] = host::PlistValue("Portrait");
  inner["PrintToFileSet 3 Rotate"] = host::PlistValue("Counter-clockwise");
  inner["PrintToFileSet 3 Client List"] = host::PlistValue("192.0.2.5");
  inner["PrintToFileSet 2 Also Copy To Sets"] = host::PlistValue("");
  inner["Output Files JPEG Quality Of Web Copies"] = host::PlistValue(30);
  inner["Kivo-Print Center Hand Off A JPEG And A Property List"] = host::PlistValue(true);
  inner["General Settings Delete Job Files After Printing"] = host::PlistValue(false);
  inner["Web Upload Naming"] = host::PlistValue("Date_time");
  mySetAllDefaults();
  myNewSavePreferences();
  ASSERT_TRUE(LoadFromNewPreferencesFile2(WriteFile(inner), true, &report));
  EXPECT_TRUE(report.refused.empty()) << report.RefusedText();
  myNewReadPreferences();
  const tSpecialPrintToFilePref& set3 = *getMyPrintToFileSetPrefs(3);
  EXPECT_EQ(set3.createJpegForWeb, 1);
  EXPECT_EQ(set3.alsoCopyToSet, (std::array<int16_t, 3>{6, 8, 0}));
  EXPECT_EQ(getMyPrintToFileSetPrefs(2)->alsoCopyToSet, (std::array<int16_t, 3>{0, 0, 0}));
  EXPECT_EQ(set3.fileFormat, kFormatTIFF);
  EXPECT_EQ(set3.orientation, 2);
  EXPECT_EQ(set3.rotation, 1);
  EXPECT_EQ(set3.editText.ToUTF8(), "192.0.2.5");
  EXPECT_EQ(set3.baseName.ToUTF8(), "Three");  // from the blob
  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 30);
  EXPECT_EQ(getMyProcessedJobsPrefs()->useNewHandOff, 1);
  EXPECT_EQ(getMyPrintServerPrefs()->keepJobFiles, 1);
  EXPECT_EQ(getMyPrintServerPrefs()->fullRescan, 0);
  EXPECT_EQ(getMyWebUploadPrefs()->namingType, 5);

  // The earlier form: blobs and client lists only.
  host::PlistDict earlier;
  for (const auto& [key, value] : exported)
    if (value.asData()) earlier[key] = value;
  earlier["PrintToFileSet 3 Client List"] = host::PlistValue("192.0.2.9");
  ASSERT_TRUE(LoadFromNewPreferencesFile2(WriteFile(earlier), true, &report));
  EXPECT_TRUE(report.refused.empty()) << report.RefusedText();
  myNewReadPreferences();
  EXPECT_EQ(getMyPrintToFileSetPrefs(3)->createJpegForWeb, 0);
  EXPECT_EQ(getMyPrintToFileSetPrefs(3)->editText.ToUTF8(), "192.0.2.9");
  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 50);

  // A station that never saved takes a few readable keys alone over its
  // factory values.
  for (const auto& [key, value] : defaults_->dictionaryRepresentation()) defaults_->remove(key);
  mySetAllDefaults();
  host::PlistDict few;
  few["PrintToFileSet 2 Write A Web Copy"] = host::PlistValue(true);
  few["Output Files JPEG Quality Of Web Copies"] = host::PlistValue(80);
  ASSERT_TRUE(LoadFromNewPreferencesFile2(WriteFile(few), true, &report));
  EXPECT_EQ(report.applied, (std::vector<std::string>{PrintToFileSetKey(2), kOutputFilesPrefKey}));
  myNewReadPreferences();
  EXPECT_EQ(getMyPrintToFileSetPrefs(2)->createJpegForWeb, 1);
  EXPECT_EQ(getMyPrintToFileSetPrefs(2)->maxSize, 640);
  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 80);
}

TEST_F(PrefExport, UnknownOrIllTypedReadableSettingsAreNamedAndRefused) {
  myNewSavePreferences();
  const host::PlistDict before = defaults_->dictionaryRepresentation();
  host::PlistDict inner;
  inner["PrintToFileSet 3 Write A Web Copy"] = host::PlistValue("yes");
  inner["PrintToFileSet 3 Web Kopy"] = host::PlistValue(true);
  inner["PrintToFileSet 3 File Format"] = host::PlistValue("GIF");
  inner["PrintToFileSet 3 Also Copy To Sets"] = host::PlistValue("2, 9");
  inner["PrintToFileSet 3 Prefix"] = host::PlistValue(std::string(64, 'p'));
  inner["PrintToFileSet 3 Client List"] = host::PlistValue("\xE6\x97\xA5");
  inner["PrintToFileSet 3 Upload Site"] = host::PlistValue(6);
  inner["Output Files JPEG Quality Of Web Copies"] = host::PlistValue("50");
  inner["General Settings Start Processing At Launch"] = host::PlistValue(1);
  PrefImportReport report;
  EXPECT_FALSE(LoadFromNewPreferencesFile2(WriteFile(inner), true, &report));
  const std::map<std::string, std::string> refused(report.refused.begin(), report.refused.end());
  const std::map<std::string, std::string> expected = {
      {"PrintToFileSet 3 Write A Web Copy", "not a boolean (<true/> or <false/>)"},
      {"PrintToFileSet 3 Web Kopy", "no setting of that name (the names are those an export writes)"},
      {"PrintToFileSet 3 File Format",
       "not one of \"TIFF\", \"JPEG\", \"PICT\", \"RAW\", \"TIFF (uncompressed)\", \"Targa\", \"Photoshop\", "
       "\"PNG\", \"JPEG for the web\""},
      {"PrintToFileSet 3 Also Copy To Sets",
       "not up to three set numbers 1 to 8 separated by commas (\"5, 7\"; \"\" for none)"},
      {"PrintToFileSet 3 Prefix", "longer than 63 characters"},
      {"PrintToFileSet 3 Client List", "holds characters the record cannot keep"},
      {"PrintToFileSet 3 Upload Site", "out of range (1 to 5)"},
      {"Output Files JPEG Quality Of Web Copies", "not an integer"},
      {"General Settings Start Processing At Launch", "not a boolean (<true/> or <false/>)"},
  };
  EXPECT_EQ(refused, expected);
  EXPECT_EQ(defaults_->dictionaryRepresentation(), before);
}

// Folders travel as places: beneath the exporting station's application
// folder they become the same places beneath this station's; an absolute
// folder is taken where it exists here and kept this station's own where
// it does not, with the reason. An export without the exporting station's
// application folder (an earlier one) takes every folder that exists here.
TEST_F(PrefExport, FoldersTravelAsPlacesOfTheImportingStation) {
  const char* before = std::getenv("KIVO_APP_FOLDER");
  const std::string saved = before ? before : "";
  for (const char* f : {"A/Spool", "A/Sets/Three", "A/Web", "Elsewhere", "Gone", "B/Spool", "B/Sets/Three", "BWeb"})
    fs::create_directories(dir_ / f);
  setenv("KIVO_APP_FOLDER", (dir_ / "A").c_str(), 1);
  for (const auto& [id, folder] : std::vector<std::pair<int16_t, const char*>>{
           {kSpoolRootAliasID, "A/Spool"}, {4513, "A/Sets/Three"}, {kWebUploadAliasID, "A/Web"}, {4511, "Elsewhere"},
           {4512, "Gone"}})
    defaults_->set(AliasKey(id), host::PlistValue(AliasBytes(dir_ / folder)));
  const fs::path file = dir_ / "export.plist";
  ASSERT_TRUE(SaveToNewPreferencesFile(file));
  fs::remove(dir_ / "Gone");

  // This station: its own spool and web-upload folders.
  setenv("KIVO_APP_FOLDER", (dir_ / "B").c_str(), 1);
  for (const auto& [key, value] : defaults_->dictionaryRepresentation()) defaults_->remove(key);
  defaults_->set(AliasKey(kSpoolRootAliasID), host::PlistValue(AliasBytes(dir_ / "B/Spool")));
  defaults_->set(AliasKey(kWebUploadAliasID), host::PlistValue(AliasBytes(dir_ / "BWeb")));
  PrefImportReport report;
  ASSERT_TRUE(LoadFromNewPreferencesFile2(file, true, &report));
  EXPECT_TRUE(report.refused.empty()) << report.RefusedText();
  EXPECT_EQ(report.movedFolders, (std::vector<std::pair<std::string, std::string>>{
                                     {"the folder of print-to-file set 1", (dir_ / "Elsewhere").string()},
                                     {"the folder of print-to-file set 3", (dir_ / "B/Sets/Three").string()}}));
  ASSERT_EQ(report.keptFolders.size(), 2u);
  EXPECT_EQ(report.keptFolders[0].folder, "the folder of print-to-file set 2");
  EXPECT_EQ(report.keptFolders[0].Text(),
            "stays this station's own (" + (dir_ / "Gone").string() + " does not exist on this station)");
  EXPECT_EQ(report.keptFolders[1].folder, "the web-upload folder");
  EXPECT_EQ(report.keptFolders[1].Text(), "stays " + (dir_ / "BWeb").string() + " (" + (dir_ / "A/Web").string() +
                                              " lies in the exporting station's application folder, and this "
                                              "station has no " + (dir_ / "B/Web").string() + ")");
  EXPECT_EQ(ReadAliasHandle(kSpoolRootAliasID)->path, (dir_ / "B/Spool").string());
  EXPECT_EQ(ReadAliasHandle(4513)->path, (dir_ / "B/Sets/Three").string());
  EXPECT_EQ(ReadAliasHandle(4511)->path, (dir_ / "Elsewhere").string());
  EXPECT_FALSE(ReadAliasHandle(4512));
  EXPECT_EQ(ReadAliasHandle(kWebUploadAliasID)->path, (dir_ / "BWeb").string());
  EXPECT_FALSE(defaults_->contains(kExportingApplicationFolderKey));

  host::PlistDict earlier = InnerOf(file);
  earlier.erase(kExportingApplicationFolderKey);
  ASSERT_TRUE(LoadFromNewPreferencesFile2(WriteFile(earlier), true, &report));
  EXPECT_EQ(ReadAliasHandle(kSpoolRootAliasID)->path, (dir_ / "A/Spool").string());
  if (before) setenv("KIVO_APP_FOLDER", saved.c_str(), 1);
  else unsetenv("KIVO_APP_FOLDER");
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
  EXPECT_EQ(report.applied.size(), 13u);

  // Cancelled dialogs do nothing.
  host::SetFileDialogHook([](const host::FileDialogRequest&) -> std::optional<std::optional<host::FileDialogAnswer>> {
    return std::optional<host::FileDialogAnswer>();
  });
  EXPECT_FALSE(SaveToNewPreferencesFile());
  EXPECT_FALSE(LoadFromNewPreferencesFile());
  EXPECT_EQ(messages_.size(), 2u);
}

}  // namespace
