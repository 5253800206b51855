// Settings are never lost behind the operator's back: an import answered
// "Later", followed by OK in the preferences window, is what the program
// prints with at its next start; and every value the start-up repair
// changes in a stored record is logged.
#include "e2e/E2E.h"
#include "e2e/PrefsDialog.h"

#include "host/sys/PropertyList.h"
#include "host/ui/Alerts.h"
#include "host/ui/Application.h"
#include "host/ui/ViewServer.h"
#include "prefs/PrefExport.h"
#include "prefs/PrefStore.h"

namespace {

namespace fs = e2e::fs;

TEST(SettingsKept, AnImportAnsweredLaterIsNotUndoneByOkInThePreferencesWindow) {
  static char name[] = "test_e2e";
  static char* argv[] = {name, nullptr};
  host::InitFramework(1, argv);
  host::AddViewResourceFolder(KIVO_APP_VIEWS);
  RegisterPreferencesClasses();

  // A station that ran once prints set 1 as JPEG; the file to import says
  // PNG.
  e2e::Station station("importlater");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  const fs::path file = station.base() / "import.plist";
  {
    host::UserDefaults store(station.defaultsFile());
    SetPrefStoreDefaults(&store);
    myNewReadPreferences();
    ASSERT_EQ(getMyPrintToFileSetPrefs(1)->fileFormat, kFormatJPEG);
    getMyPrintToFileSetPrefs(1)->fileFormat = kFormatPNG;
    getMyPrintToFileSetPrefs(1)->extension = CStr31_AC(getExtensionFromFileType(kFormatPNG).ToUTF8());
    const host::PlistDict inner{{PrintToFileSetKey(1), host::PlistValue(PrintToFileSetBlob(1))}};
    ASSERT_TRUE(host::writePropertyListFile(file, host::PlistValue(host::PlistDict{{kPrefsDictionaryName, inner}}),
                                            host::PlistFormat::Xml));
    SetPrefStoreDefaults(nullptr);
  }

  // As the running program: its records read at start, the file imported,
  // "Later" answered, then the preferences window opened and OK pressed.
  {
    host::UserDefaults store(station.defaultsFile());
    SetPrefStoreDefaults(&store);
    myNewReadPreferences();
    host::SetFileDialogHook([&](const host::FileDialogRequest&) -> std::optional<std::optional<host::FileDialogAnswer>> {
      return std::optional<host::FileDialogAnswer>(host::FileDialogAnswer{file, 1});
    });
    host::SetAlertHook([](int16_t id, const std::string&) -> int16_t { return id == 1025 ? 2 : 1; });
    EXPECT_FALSE(ImportPreferencesAndTell());
    host::SetModalHook([](TWindow& w) -> IDType {
      return dynamic_cast<TPreferencesWindow*>(&w) ? FourCC("ok  ") : kNoIdentifier;
    });
    e2e::NoSpoolChanges services;
    EXPECT_TRUE(DoPreferencesDialog(services));
    host::SetModalHook({});
    host::SetAlertHook({});
    host::SetFileDialogHook({});
    SetPrefStoreDefaults(nullptr);
  }

  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Blue.jpg"), "blue.trpr"));
  const auto outputs = station.WaitForSetOutput('A');
  ASSERT_EQ(outputs.size(), 1u) << station.Log();
  EXPECT_EQ(outputs[0].extension(), ".PNG") << outputs[0];
  EXPECT_EQ(host::ReadImageInfo(outputs[0]).info.format, host::ImageFormat::kPng);
  EXPECT_EQ(station.Stop(), 0);
}

TEST(SettingsKept, TheStartUpRepairLogsEveryValueItChanges) {
  // Web-upload settings stored with set 1's folder alias and no format.
  e2e::Station station("repairlog");
  mySetAllDefaults();
  getMyWebUploadPrefs()->folder.aliasID = 4511;
  getMyWebUploadPrefs()->fileFormat = 1;
  ASSERT_TRUE(station.SetDefault(kWebUploadPrefsKey, host::PlistValue(WebUploadPrefBlob())));
  mySetAllDefaults();
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(
      station.WaitForLog("The web-upload settings: folder alias id 4511 is not usable and was changed to 4566", 20))
      << station.Log();
  EXPECT_TRUE(station.WaitForLog("The web-upload settings: file format 1 is not usable and was changed to 10", 20))
      << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  // A sound record changes nothing and is not mentioned.
  e2e::Station sound("repairquiet");
  ASSERT_TRUE(sound.SetDefault(kWebUploadPrefsKey, host::PlistValue(WebUploadPrefBlob())));
  ASSERT_TRUE(sound.Start()) << sound.Log();
  EXPECT_EQ(sound.Stop(), 0);
  EXPECT_EQ(sound.Log().find("The web-upload settings:"), std::string::npos) << sound.Log();
}

}  // namespace
