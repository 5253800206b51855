// Preferences through the running program: the print-to-file sets panel
// edits set 1's folder in a station's store, the program started on that
// store writes a set-1 job there; the same settings exported (as plistlib
// reads them) and imported into a fresh station, together with keys that
// must not be taken, are followed there too.
#include "e2e/E2E.h"
#include "e2e/PrefsDialog.h"

#include <QCoreApplication>

#include "host/sys/Process.h"
#include "host/sys/PropertyList.h"
#include "host/sys/UserDefaults.h"
#include "host/ui/Application.h"
#include "host/ui/FileDialogs.h"
#include "host/ui/View.h"
#include "host/ui/ViewServer.h"
#include "layout/Objects.h"
#include "prefs/PrefExport.h"
#include "prefs/PrefStore.h"
#include "prefs/PreferencePanels.h"

namespace {

using e2e::fs::path;

// Runs a job for set 1 and waits until it is done and one more page lies
// below `folder`.
bool PrintsInto(e2e::Station& station, const path& folder, const std::string& name) {
  const size_t before = e2e::VisibleFilesBelow(folder).size();
  if (!e2e::WritePhoto(station.images() / "Blue.jpg", 400, 600, {20, 20, 220})) return false;
  if (!station.Drop(e2e::SetOneJob("Blue.jpg", "Prefs"), name) || !station.WaitForQueueEmpty()) return false;
  return e2e::WaitUntil([&] { return e2e::VisibleFilesBelow(folder).size() == before + 1; }, 60);
}

TEST(Preferences, EditedAndImportedSetFolderIsFollowedByTheProgram) {
  static char name[] = "test_e2e";
  static char* argv[] = {name, nullptr};
  host::InitFramework(1, argv);
  // The window's view resources, as the application has them.
  host::AddViewResourceFolder(KIVO_APP_VIEWS);
  RegisterPreferencesClasses();

  // A station that ran once, so its store holds every record.
  e2e::Station first("prefs-a");
  ASSERT_TRUE(first.Start()) << first.Log();
  ASSERT_EQ(first.Stop(), 0);
  const path chosen = first.base() / "Chosen Set One";
  e2e::fs::create_directories(chosen);

  // The operator picks set 1's folder in the sets panel and presses OK.
  bool saved = false;
  ASSERT_TRUE(e2e::RunPreferencesDialog(
      first.defaultsFile(),
      [](TPreferencesWindow& prefs) { e2e::ShowPanel(prefs, 4)->FindSubView<TButton>(FourCC("chng"))->Press(); },
      chosen, [&] { saved = SaveToNewPreferencesFile(first.base() / "exported.plist"); }));
  ASSERT_TRUE(saved);

  ASSERT_TRUE(first.Start()) << first.Log();
  EXPECT_TRUE(PrintsInto(first, chosen, "one.trpr")) << first.Log();
  EXPECT_TRUE(e2e::VisibleFilesBelow(first.SetFolder('A')).empty());
  EXPECT_EQ(first.Stop(), 0);

  // The export as another reader sees it.
  const path exported = first.base() / "exported.plist";
  const path script = first.base() / "check.py";
  e2e::WriteAll(script,
                "import plistlib, sys\n"
                "top = plistlib.load(open(sys.argv[1], 'rb'))\n"
                "inner = top['Kivo-Processor v14 Prefs Dictionary']\n"
                "assert len(inner['PrintToFileSet 1']) == 982\n"
                "assert isinstance(inner['AliasHandle 4511'], bytes)\n"
                "assert len(inner['KivoPrintCenterPrefs']) == 616\n"
                "print('ok')\n");
  host::ProcessOptions options;
  options.captureOutput = true;
  options.timeout = std::chrono::milliseconds(30000);
  const host::ProcessResult py = host::runProcess("/usr/bin/python3", {script.string(), exported.string()}, options);
  EXPECT_EQ(py.output, "ok\n") << py.error;

  // A fresh station imports it, with a key that must never be taken.
  auto file = host::readPropertyListFile(exported);
  ASSERT_TRUE(file && file->asDict());
  host::PlistDict top = *file->asDict();
  host::PlistDict inner = *top[kPrefsDictionaryName].asDict();
  // The first station's spool root stays its own: the second one keeps its tree.
  inner.erase("AliasHandle 4506");
  inner["prefEnableRelaunch"] = host::PlistValue(true);
  inner[kOutputFilesPrefKey] = host::PlistValue(std::string("not a record"));
  top[kPrefsDictionaryName] = host::PlistValue(inner);
  ASSERT_TRUE(host::writePropertyListFile(exported, host::PlistValue(top), host::PlistFormat::Binary));

  e2e::Station second("prefs-b");
  {
    host::UserDefaults store(second.defaultsFile());
    SetPrefStoreDefaults(&store);
    PrefImportReport report;
    EXPECT_TRUE(LoadFromNewPreferencesFile2(exported, true, &report));
    EXPECT_EQ(report.refused.size(), 2u) << report.RefusedText();
    SetPrefStoreDefaults(nullptr);
  }
  ASSERT_TRUE(second.Start()) << second.Log();
  EXPECT_TRUE(PrintsInto(second, chosen, "two.trpr")) << second.Log();
  EXPECT_EQ(second.Stop(), 0);
  host::UserDefaults after(second.defaultsFile());
  EXPECT_FALSE(after.contains("prefEnableRelaunch"));
  EXPECT_EQ(e2e::VisibleFilesBelow(chosen).size(), 2u);
}

}  // namespace
