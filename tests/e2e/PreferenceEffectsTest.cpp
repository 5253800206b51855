// Preferences the operator sets and what the running program makes of them:
// "Hide the page preview", the print-to-file panel's format and naming
// across a restart, and what an import tells the operator before the
// program runs on the imported folders.
#include <QCoreApplication>

#include "e2e/E2E.h"
#include "e2e/PrefsDialog.h"
#include "host/files/Alias.h"
#include "host/sys/PropertyList.h"
#include "host/sys/UserDefaults.h"
#include "host/ui/Alerts.h"
#include "host/ui/Application.h"
#include "host/ui/FileDialogs.h"
#include "host/ui/View.h"
#include "host/ui/ViewServer.h"
#include "layout/Objects.h"
#include "platform/Messages.h"
#include "prefs/FolderAliases.h"
#include "prefs/PrefExport.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"
#include "prefs/PreferencePanels.h"

namespace {

namespace fs = e2e::fs;

void InitWindows() {
  static char name[] = "test_e2e";
  static char* argv[] = {name, nullptr};
  host::InitFramework(1, argv);
  host::AddViewResourceFolder(KIVO_APP_VIEWS);
  RegisterPreferencesClasses();
}

TEST(PreferenceEffects, HideThePagePreviewIsFollowedByTheStatusWindow) {
  e2e::Station station("hideimage");
  mySetAllDefaults();
  getMyPrintServerPrefs()->hideImage = 1;
  ASSERT_TRUE(station.SetDefault(kPrintServerPrefKey, host::PlistValue(PrintServerPrefBlob())));
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(station.WaitForLog("The page preview is hidden (\"Hide the page preview\" is on)", 20)) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Hidden.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Hidden.jpg", "Prefs"), "hidden.trpr"));
  EXPECT_FALSE(station.WaitForSetOutput('A').empty()) << "the page is still made" << station.Log();
  EXPECT_EQ(station.Stop(), 0);

  e2e::Station shown("showimage");
  ASSERT_TRUE(shown.Start()) << shown.Log();
  EXPECT_EQ(shown.Stop(), 0);
  EXPECT_EQ(shown.Log().find("The page preview is hidden"), std::string::npos);
}

// The print-to-file panel's "Do not save the chroma-key properties" survives
// OK and a restart and reaches printer 17, which then writes its page through
// the preferences folder; the panel's dimmed format and naming are not
// stored: the job's own record decides them.
TEST(PreferenceEffects, PrintToFileSwitchReachesPrinter17AndFormatAndNamingAreNotStored) {
  InitWindows();
  e2e::Station station("ptfpanel");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  EXPECT_TRUE(e2e::RunPreferencesDialog(station.defaultsFile(), [](TPreferencesWindow& prefs) {
    TPreferencesView* p = e2e::ShowPanel(prefs, 2);
    p->FindSubView<TCheckBox>(FourCC("sapc"))->SetState(true, true);
    p->FindSubView<TPopup>(FourCC("frmt"))->SetCurrentItem(kFormatTIFF, true);
    p->FindSubView<TPopup>(FourCC("nmtp"))->SetCurrentItem(4, true);
    p->FindSubView<TEditText>(FourCC("bsnm"))->SetText("Booth");
  }));
  // The program reads and saves every record at start-up.
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.DropWritten({"--format", "3"}, "sapc.trpr"));
  const fs::path page = station.app() / fs::u8path("PRINT TO FILE FOLDER ƒ") / "Print_0001.jpg";
  ASSERT_TRUE(station.WaitForFile(page)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_TRUE(station.WaitForLog("Saving through the preferences folder, without the chroma-key properties"))
      << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  EXPECT_TRUE(e2e::ReadPicture(page).image);
  // No properties beside the page, and no working copy left behind.
  EXPECT_FALSE(fs::exists(page.parent_path() / "._Print_0001.jpg"));
  EXPECT_FALSE(fs::exists(station.prefsFolder() / "Print_0001.jpg"));

  host::UserDefaults after(station.defaultsFile());
  const auto blob = after.getData(kPrintToFilePrefKey);
  ASSERT_TRUE(blob);
  const auto record = DecodePrintToFileBlob(*blob);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->skipCKProperties, 1);
  EXPECT_EQ(record->fileFormat, kFormatJPEG);
  EXPECT_EQ(record->namingType, 1);
  EXPECT_EQ(record->baseName.ToUTF8(), "Print");
}

// The folder chosen in the print-to-file panel takes printer 17's pages in
// place of "PRINT TO FILE FOLDER ƒ".
TEST(PreferenceEffects, APrintToFileFolderChosenInThePanelTakesPrinter17sPages) {
  InitWindows();
  e2e::Station station("ptffolder");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  const fs::path chosen = station.base() / "Chosen Print To File";
  fs::create_directories(chosen);
  EXPECT_TRUE(e2e::RunPreferencesDialog(
      station.defaultsFile(),
      [](TPreferencesWindow& prefs) { e2e::ShowPanel(prefs, 2)->FindSubView<TButton>(FourCC("chng"))->Press(); },
      chosen));
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.DropWritten({"--format", "3"}, "chosen.trpr"));
  ASSERT_TRUE(station.WaitForFile(chosen / "Print_0001.jpg")) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_TRUE(e2e::VisibleFilesBelow(station.app() / fs::u8path("PRINT TO FILE FOLDER ƒ")).empty());
  EXPECT_EQ(station.Stop(), 0);
}

// With the switch off (the factory value) the page is written in place.
TEST(PreferenceEffects, PrintToFileWritesInPlaceWithTheSwitchOff) {
  e2e::Station station("ptfdirect");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.DropWritten({}, "direct.trpr"));
  const fs::path page = station.app() / fs::u8path("PRINT TO FILE FOLDER ƒ") / "Print_0001.jpg";
  ASSERT_TRUE(station.WaitForFile(page)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  EXPECT_EQ(station.Log().find("Saving through the preferences folder"), std::string::npos) << station.Log();
}

// A set stored with "(none)" as its format is repaired at start-up, the log
// says so, and its jobs print as JPEG.
TEST(PreferenceEffects, ASetStoredWithoutAFormatIsRepairedAndTheLogSaysSo) {
  e2e::Station station("setnoformat");
  mySetAllDefaults();
  getMyPrintToFileSetPrefs(1)->fileFormat = 1;
  ASSERT_TRUE(station.SetDefault(PrintToFileSetKey(1), host::PlistValue(PrintToFileSetBlob(1))));
  mySetAllDefaults();
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(station.WaitForLog("Print-to-file set A (1): file format 1 is not usable and was changed to 3", 20))
      << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Blue.jpg"), "blue.trpr"));
  const auto outputs = station.WaitForSetOutput('A');
  ASSERT_EQ(outputs.size(), 1u) << station.Log();
  EXPECT_EQ(outputs[0].extension(), ".jpg");
  EXPECT_EQ(station.Stop(), 0);
}

TEST(PreferenceEffects, AnImportSaysWhatItRefusedAndWhichFoldersMoveAndTheProgramUsesThem) {
  InitWindows();
  e2e::Station station("importtells");
  const fs::path moved = station.base() / "Moved Set One";
  fs::create_directories(moved);
  host::PlistDict inner;
  host::AliasRecord alias;
  ASSERT_EQ(host::NewAlias(moved.string(), &alias), noErr);
  inner[AliasKey(4511)] = host::PlistValue(alias.Encode());
  for (int i = 0; i < 25; ++i) inner["Station Setting Number " + std::to_string(i)] = host::PlistValue(int64_t(i));
  const fs::path file = station.base() / "import.plist";
  ASSERT_TRUE(host::writePropertyListFile(file, host::PlistValue(host::PlistDict{{kPrefsDictionaryName, inner}}),
                                          host::PlistFormat::Binary));
  const fs::path notes = station.base() / "notes.plist";
  e2e::WriteAll(notes, "shopping list");

  std::vector<std::pair<int16_t, std::string>> alerts;
  {
    host::UserDefaults store(station.defaultsFile());
    SetPrefStoreDefaults(&store);
    std::vector<fs::path> answers = {notes, file};
    host::SetFileDialogHook([&](const host::FileDialogRequest&) -> std::optional<std::optional<host::FileDialogAnswer>> {
      const fs::path next = answers.front();
      answers.erase(answers.begin());
      return std::optional<host::FileDialogAnswer>(host::FileDialogAnswer{next, 1});
    });
    host::SetAlertHook([&](int16_t id, const std::string& text) -> int16_t {
      alerts.emplace_back(id, text);
      return id == 1025 ? 1 : 0;
    });
    // Messages reach alert 1001, as the application has them.
    platform::SetMessageAlertHook([](const std::string& text) {
      host::SetAlertText(text);
      return MacAppAlert(1001);
    });
    EXPECT_FALSE(ImportPreferencesAndTell());
    EXPECT_TRUE(ImportPreferencesAndTell()) << "Quit Now";
    host::SetAlertHook({});
    platform::SetMessageAlertHook({});
    host::SetFileDialogHook({});
    SetPrefStoreDefaults(nullptr);
  }
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_EQ(alerts[0].first, 1001);
  EXPECT_NE(alerts[0].second.find("The file is not a preference file of Kivo-Processor. Nothing was imported."),
            std::string::npos)
      << alerts[0].second;
  EXPECT_NE(alerts[0].second.find("not a property list"), std::string::npos) << alerts[0].second;
  EXPECT_EQ(alerts[1].first, 1025);
  const std::string& text = alerts[1].second;
  EXPECT_NE(text.find("The import changes where one folder is"), std::string::npos) << text;
  EXPECT_NE(text.find("25 settings were not imported"), std::string::npos) << text;
  EXPECT_NE(text.find("  the folder of print-to-file set 1: " + moved.string()), std::string::npos) << text;
  for (int i = 0; i < 25; ++i)
    EXPECT_NE(text.find("  Station Setting Number " + std::to_string(i) + " (not a preference of this program)"),
              std::string::npos)
        << i;

  // The next start prints set 1 into the imported folder.
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Moved.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Moved.jpg", "Prefs"), "moved.trpr"));
  EXPECT_TRUE(e2e::WaitUntil([&] { return !e2e::VisibleFilesBelow(moved).empty(); }, 60)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
