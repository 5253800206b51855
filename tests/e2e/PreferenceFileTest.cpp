// Preferences on a station without a display, as the operator's manual
// (docs/OPERATOR.md) tells the operator to change them: settings exported with --export-preferences on
// one station (here made in its store as the preferences window would, or
// edited in the file's readable lines) are imported with
// --import-preferences on another, which follows them at its next start
// and keeps its own folders where the other station's were its own; an
// import is refused while a processor runs on those preferences (whatever
// its own folders) and keeps processors off them until it ends, and a file
// that is no export imports nothing.
#include <csignal>
#include <regex>

#include "e2e/E2E.h"
#include "e2e/PrefsDialog.h"
#include "host/files/Alias.h"
#include "prefs/FolderAliases.h"
#include "prefs/PrefRecords.h"

namespace {

namespace fs = e2e::fs;

// The export carries the web-upload folder with the others, the
// print-centre hand-off form, and each set's client list as a text the
// operator edits ("PrintToFileSet 3 Client List"): the importing station
// prints a --client job through set 3, puts its web copy where the
// exporting station's went and hands a photo printer's page off as a JPEG
// and a property list.
TEST(PreferenceFiles, SettingsExportedOnOneStationAreFollowedByAnotherAfterAnImport) {
  // The first station keeps its job files ("Delete job files after
  // printing" off), writes set 3's web copies into a folder of its own,
  // hands off a JPEG and a property list, and exports its settings.
  e2e::Station first("prefsfrom");
  e2e::WritePrefs(first.defaultsFile(), [] {
    getMyPrintServerPrefs()->keepJobFiles = 1;
    getMyPrintToFileSetPrefs(3)->createJpegForWeb = 1;
    getMyProcessedJobsPrefs()->useNewHandOff = 1;
  });
  const fs::path uploads = first.base() / "Uploads";
  fs::create_directories(uploads);
  host::AliasRecord alias;
  ASSERT_EQ(host::NewAlias(uploads.string(), &alias), noErr);
  ASSERT_TRUE(first.SetDefault(AliasKey(kWebUploadAliasID), host::PlistValue(alias.Encode())));
  const fs::path file = first.base() / "station prefs.plist";
  const auto exported = first.RunCommand({"--export-preferences", file.string()});
  EXPECT_EQ(exported.status, 0) << exported.output;
  EXPECT_NE(exported.output.find("saved at " + file.string()), std::string::npos) << exported.output;
  ASSERT_TRUE(fs::is_regular_file(file));
  // Nothing of a run was made: the command does not start the processor.
  EXPECT_FALSE(fs::exists(first.root()));

  // The operator fills in set 3's client list in the exported file.
  const std::string text = e2e::ReadAll(file);
  const std::regex empty(R"((<key>PrintToFileSet 3 Client List</key>\s*)(<string></string>|<string/>))");
  ASSERT_TRUE(std::regex_search(text, empty)) << text;
  e2e::WriteAll(file, std::regex_replace(text, empty, "$1<string>192.0.2.5, 192.0.2.9</string>"));

  e2e::Station second("prefsto");
  const auto imported = second.RunCommand({"--import-preferences", file.string()});
  EXPECT_EQ(imported.status, 0) << imported.output;
  EXPECT_NE(imported.output.find("the next start of the processor uses them"), std::string::npos) << imported.output;
  EXPECT_NE(imported.output.find("Moved: the web-upload folder is now " + uploads.string()), std::string::npos)
      << imported.output;
  ASSERT_TRUE(second.Start()) << second.Log();
  ASSERT_TRUE(e2e::WritePhoto(second.images() / "Kept.jpg", 100, 150, {20, 20, 200}));
  ASSERT_TRUE(second.DropWritten({"--printer", "25", "--client", "192.0.2.9", "--image", "Kept.jpg@0,0,4,6"},
                                 "kept.trpr"));
  ASSERT_TRUE(second.WaitForFile(second.finished() / "kept.trpr")) << second.Log();
  EXPECT_FALSE(second.WaitForSetOutput('A').empty());
  EXPECT_TRUE(fs::exists(second.images() / "Kept.jpg"));
  EXPECT_NE(second.PrintLog().find("Printer: Print to File Set 3"), std::string::npos) << second.PrintLog();
  EXPECT_EQ(e2e::VisibleFiles(uploads).size(), 1u);
  EXPECT_FALSE(fs::exists(second.app() / fs::u8path("WEB UPLOAD FOLDER ƒ") / "Kept.jpg"));
  ASSERT_TRUE(e2e::WritePhoto(second.images() / "Direct.jpg", 100, 150, {200, 20, 20}));
  ASSERT_TRUE(second.DropWritten({"--printer", "21", "--image", "Direct.jpg@0,0,4,6"}, "direct.trpr"));
  const fs::path handOff = second.app() / "Kivo-PrintCenter Folder" / "Jobs To Be Printed---NEW";
  EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(handOff).size() == 2; }, 60)) << second.Log();
  EXPECT_TRUE(e2e::VisibleFiles(second.app() / "Kivo-PrintCenter Folder" / "Jobs To Be Printed").empty());
  EXPECT_EQ(second.Stop(), 0);
}

// `text` (an exported preference file) with the value of `key` replaced by
// `value` (an XML element), as an operator edits it.
::testing::AssertionResult EditSetting(std::string& text, const std::string& key, const std::string& value) {
  const std::regex setting("(<key>" + key + R"(</key>\s*)(<\w+/>|<(\w+)>[^<]*</\3>))");
  if (!std::regex_search(text, setting)) return ::testing::AssertionFailure() << "no setting " << key;
  text = std::regex_replace(text, setting, "$1" + value);
  return ::testing::AssertionSuccess();
}

// The settings the operator's manual has an operator edit in an export, as
// it shows them: the key and value lines of its last block of them before
// the line naming `test`; none when it shows none.
std::vector<std::pair<std::string, std::string>> ManualEdits(const std::string& test) {
  std::istringstream manual(e2e::ReadAll(fs::path(KIVO_SOURCE_DIR) / "docs" / "OPERATOR.md"));
  static const std::regex keyLine(R"(^    <key>([^<]+)</key>$)");
  static const std::regex valueLine(R"(^    (<\w+/>|<(\w+)>[^<]*</\2>)$)");
  std::vector<std::pair<std::string, std::string>> block, last;
  std::string key;
  for (std::string line; std::getline(manual, line) && line.find("`" + test + "`") == std::string::npos;) {
    std::smatch m;
    if (std::regex_match(line, m, keyLine)) {
      key = m[1].str();
    } else if (!key.empty() && std::regex_match(line, m, valueLine)) {
      block.emplace_back(key, m[1].str());
      key.clear();
    } else if (!line.empty()) {
      if (!block.empty()) last = block;
      block.clear();
      key.clear();
    }
  }
  return last;
}

// The lines of the operator's manual, edited in an export of a station's
// factory settings and imported on a headless station: set 1 also writes a
// web copy and copies each page into set 2, web copies are written at
// quality 30, and a photo printer's page is handed off as a JPEG and a
// property list.
TEST(PreferenceFiles, AnExportEditedAsTheManualShowsChangesTheNextJobsOfAHeadlessStation) {
  const auto edits = ManualEdits("PreferenceFiles.AnExportEditedAsTheManualShowsChangesTheNextJobsOfAHeadlessStation");
  ASSERT_EQ(edits.size(), 4u) << "the operator's manual shows the four settings to edit";
  e2e::Station station("prefsedited");
  e2e::WritePrefs(station.defaultsFile(), [] {});
  const fs::path file = station.base() / "station.plist";
  ASSERT_EQ(station.RunCommand({"--export-preferences", file.string()}).status, 0);
  std::string text = e2e::ReadAll(file);
  for (const auto& [key, value] : edits) ASSERT_TRUE(EditSetting(text, key, value)) << key << "\n" << text;
  e2e::WriteAll(file, text);
  const auto imported = station.RunCommand({"--import-preferences", file.string()});
  EXPECT_EQ(imported.status, 0) << imported.output;
  EXPECT_EQ(imported.output.find("Not imported"), std::string::npos) << imported.output;

  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 400, 600, {220, 20, 20}));
  ASSERT_TRUE(station.DropWritten({"--printer", "25", "--image", "Red.jpg@0,0,4,6"}, "red.trpr"));
  const fs::path web = station.app() / fs::u8path("WEB UPLOAD FOLDER ƒ");
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(station.SetFolder('A')).size() == 2; }, 60))
      << station.Log();
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(web).size() == 1; }, 60)) << station.Log();
  EXPECT_EQ(e2e::ToolOutput({"identify", "-format", "%Q", e2e::VisibleFiles(web).front().string()}), "30");
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Direct.jpg", 100, 150, {200, 20, 20}));
  ASSERT_TRUE(station.DropWritten({"--printer", "21", "--image", "Direct.jpg@0,0,4,6"}, "direct.trpr"));
  const fs::path handOff = station.app() / "Kivo-PrintCenter Folder" / "Jobs To Be Printed---NEW";
  EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::VisibleFiles(handOff).size() == 2; }, 60)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);

  // A misspelt or ill-typed setting is named and refused.
  ASSERT_TRUE(EditSetting(text, "Output Files JPEG Quality Of Web Copies", "<string>high</string>"));
  e2e::WriteAll(file, std::regex_replace(text, std::regex("Write A Web Copy"), "Write A Web Kopy"));
  const auto refused = station.RunCommand({"--import-preferences", file.string()});
  EXPECT_EQ(refused.status, 0) << refused.output;
  EXPECT_NE(refused.output.find("Not imported: Output Files JPEG Quality Of Web Copies (not an integer)"),
            std::string::npos)
      << refused.output;
  EXPECT_NE(refused.output.find("Not imported: PrintToFileSet 1 Write A Web Kopy (no setting of that name"),
            std::string::npos)
      << refused.output;
}

// Settings made on one station and imported on another with an application
// folder of its own: the folders beneath the first station's application
// folder are the same places beneath the second's, so the second keeps its
// own spool, set and web-upload folders, runs beside the first and prints
// the next job dropped into its own print-jobs folder. A set folder that
// does not exist on the second station stays the second's own, and the
// import says why.
TEST(PreferenceFiles, AnImportFromAStationWithAnotherApplicationFolderKeepsThisStationsFolders) {
  e2e::Station first("prefsappfrom");
  ASSERT_TRUE(first.Start()) << first.Log();
  ASSERT_EQ(first.Stop(), 0);
  const fs::path gone = first.base() / "Gone";
  fs::create_directories(gone);
  host::AliasRecord alias;
  ASSERT_EQ(host::NewAlias(gone.string(), &alias), noErr);
  ASSERT_TRUE(first.SetDefault(AliasKey(kPrintToFileSetAliasBase + 2), host::PlistValue(alias.Encode())));
  const fs::path file = first.base() / "prefs.plist";
  ASSERT_EQ(first.RunCommand({"--export-preferences", file.string()}).status, 0);
  fs::remove(gone);

  e2e::Station second("prefsappto");
  ASSERT_TRUE(second.Start()) << second.Log();
  ASSERT_EQ(second.Stop(), 0);
  const auto imported = second.RunCommand({"--import-preferences", file.string()});
  EXPECT_EQ(imported.status, 0) << imported.output;
  EXPECT_EQ(imported.output.find("Moved:"), std::string::npos) << imported.output;
  EXPECT_EQ(imported.output.find(first.app().string()), std::string::npos) << imported.output;
  EXPECT_NE(imported.output.find("Kept: the folder of print-to-file set 2 stays " + second.SetFolder('A').string() +
                                 " (" + gone.string() + " does not exist on this station)"),
            std::string::npos)
      << imported.output;

  ASSERT_TRUE(first.Start()) << first.Log();
  ASSERT_TRUE(second.Start()) << second.Log();
  ASSERT_TRUE(e2e::WritePhoto(second.images() / "Next.jpg", 100, 150, {20, 200, 20}));
  ASSERT_TRUE(second.DropWritten({"--printer", "26", "--image", "Next.jpg@0,0,4,6"}, "next.trpr"));
  EXPECT_EQ(second.WaitForSetOutput('A').size(), 1u) << second.Log();
  EXPECT_TRUE(second.WaitForQueueEmpty()) << second.Log();
  EXPECT_NE(second.PrintLog().find("Printer: Print to File Set 2"), std::string::npos) << second.PrintLog();
  EXPECT_TRUE(e2e::VisibleFilesBelow(first.SetFolder('A')).empty());
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(second.Stop(), 0);
  EXPECT_EQ(first.Stop(), 0);
}

TEST(PreferenceFiles, AnImportIsRefusedWhileTheProcessorRunsAndAFileThatIsNoExportImportsNothing) {
  e2e::Station source("prefssource");
  e2e::WritePrefs(source.defaultsFile(), [] { getMyPrintServerPrefs()->keepJobFiles = 1; });
  const fs::path file = source.base() / "prefs.plist";
  ASSERT_EQ(source.RunCommand({"--export-preferences", file.string()}).status, 0);

  e2e::Station station("prefsbusy");
  ASSERT_TRUE(station.Start()) << station.Log();
  std::string before = e2e::ReadAll(station.defaultsFile());
  const auto refused = station.RunCommand({"--import-preferences", file.string()});
  EXPECT_EQ(refused.status, 1) << refused.output;
  EXPECT_NE(refused.output.find("nothing was imported: a processor is running"), std::string::npos)
      << refused.output;
  EXPECT_EQ(e2e::ReadAll(station.defaultsFile()), before);
  // So is one with an application and a runtime folder of its own on the
  // same preferences.
  e2e::Station elsewhere("prefselsewhere");
  elsewhere.SetEnv("XDG_CONFIG_HOME", station.config().string());
  const auto refusedElsewhere = elsewhere.RunCommand({"--import-preferences", file.string()});
  EXPECT_EQ(refusedElsewhere.status, 1) << refusedElsewhere.output;
  EXPECT_NE(refusedElsewhere.output.find("nothing was imported: a processor is running"), std::string::npos)
      << refusedElsewhere.output;
  EXPECT_EQ(e2e::ReadAll(station.defaultsFile()), before);
  // Nor does a second processor share those preferences.
  ASSERT_TRUE(elsewhere.Launch());
  EXPECT_EQ(elsewhere.Wait(30), 1) << elsewhere.Console();
  EXPECT_TRUE(station.Running());
  EXPECT_EQ(station.Stop(), 0);

  // An import holds the preferences to its end: a processor started on them
  // meanwhile, with folders of its own, is refused.
  elsewhere.SetEnv("KIVO_STOP_AT", "preferences-locked");
  ASSERT_TRUE(elsewhere.Launch({"--import-preferences", file.string()}));
  ASSERT_TRUE(e2e::WaitUntil([&] { return elsewhere.Stopped(); }, 30)) << elsewhere.Console();
  station.SetEnv("KIVO_APP_FOLDER", (station.base() / "other-app").string());
  ASSERT_TRUE(station.Launch());
  EXPECT_EQ(station.Wait(30), 1) << station.Console();
  EXPECT_EQ(e2e::ReadAll(station.defaultsFile()), before);
  ::kill(elsewhere.pid(), SIGCONT);
  EXPECT_EQ(elsewhere.Wait(30), 0) << elsewhere.Console();
  EXPECT_NE(e2e::ReadAll(station.defaultsFile()), before) << "imported once the import went on";
  station.SetEnv("KIVO_APP_FOLDER", station.app().string());
  before = e2e::ReadAll(station.defaultsFile());

  const fs::path junk = station.base() / "junk.plist";
  e2e::WriteAll(junk, "not a property list");
  const auto notAnExport = station.RunCommand({"--import-preferences", junk.string()});
  EXPECT_EQ(notAnExport.status, 1) << notAnExport.output;
  EXPECT_NE(notAnExport.output.find("is not a preference file of Kivo-Processor"), std::string::npos)
      << notAnExport.output;
  EXPECT_EQ(e2e::ReadAll(station.defaultsFile()), before);

  // A file that names no place for a folder this station has (the source
  // never ran) leaves it where it is, and the import says so.
  const auto keeps = station.RunCommand({"--import-preferences", file.string()});
  EXPECT_EQ(keeps.status, 0) << keeps.output;
  EXPECT_NE(keeps.output.find("Kept: the spool folder stays "), std::string::npos) << keeps.output;

  const auto unwritable = station.RunCommand({"--export-preferences", (station.base() / "no/such/folder/p.plist").string()});
  EXPECT_EQ(unwritable.status, 1) << unwritable.output;
  EXPECT_NE(unwritable.output.find("could not be written"), std::string::npos) << unwritable.output;
}

}  // namespace
