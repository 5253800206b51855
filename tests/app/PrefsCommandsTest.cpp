// Menu commands 1001, 1008 and 1009 through the application object: the
// preferences window with the application's own services, export, and
// import followed by alert 1025.
#include "AppTestSupport.h"

#include <QCoreApplication>
#include <fcntl.h>
#include <sys/file.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "host/files/Alias.h"

#include "app/AppServices.h"
#include "app/SpoolQueue.h"
#include "common/Spawn.h"
#include "common/TempDir.h"
#include "host/sys/PropertyList.h"
#include "host/sys/UserDefaults.h"
#include "host/ui/FileDialogs.h"
#include "host/ui/View.h"
#include "platform/FolderLookup.h"
#include "prefs/FolderAliases.h"
#include "prefs/PrefExport.h"
#include "prefs/PrefStore.h"
#include "pipeline/SpoolFolders.h"
#include "prefs/PreferencePanels.h"

using namespace app;
using namespace apptest;

namespace {

class PrefsCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = MakeTempFolder("prefscmd");
    UseFolders(base_);
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    host::InitFramework(1, argv);
    InstallAppResources();
    InitMacAppClasses();
    defaults_ = std::make_unique<host::UserDefaults>(base_ / "defaults.plist");
    SetPrefStoreDefaults(defaults_.get());
    mySetAllDefaults();
    app_ = std::make_unique<TBackgroundPrintApp>(StartupOptions{.setupLogs = false});
    host::SetFileDialogHook([this](const host::FileDialogRequest& r) -> std::optional<std::optional<host::FileDialogAnswer>> {
      requests_.push_back(r);
      if (answers_.empty()) return std::optional<host::FileDialogAnswer>();
      const fs::path next = answers_.front();
      answers_.erase(answers_.begin());
      return std::optional<host::FileDialogAnswer>(host::FileDialogAnswer{next, 1});
    });
    host::SetAlertHook([this](int16_t id, const std::string& text) {
      alerts_.emplace_back(id, text);
      return alertAnswer_;
    });
  }
  void TearDown() override {
    host::SetFileDialogHook({});
    host::SetAlertHook({});
    host::SetModalHook({});
    app_.reset();
    pipeline::ReleaseSpoolFolderForTesting();
    SetPrefStoreDefaults(nullptr);
    QCoreApplication::processEvents();
    std::error_code ec;
    fs::remove_all(base_, ec);
  }

  fs::path base_;
  std::unique_ptr<host::UserDefaults> defaults_;
  std::unique_ptr<TBackgroundPrintApp> app_;
  std::vector<fs::path> answers_;
  std::vector<host::FileDialogRequest> requests_;
  std::vector<std::pair<int16_t, std::string>> alerts_;
  int16_t alertAnswer_ = 0;
};

TEST_F(PrefsCommands, PreferencesCommandMakesTheSpoolTreeInAChosenRootAndSavesOnOK) {
  const fs::path root = base_ / "NewRoot", set = base_ / "SetOne";
  fs::create_directories(root);
  fs::create_directories(set);
  answers_ = {root, set};
  host::SetModalHook([](TWindow& w) -> IDType {
    auto* prefs = dynamic_cast<TPreferencesWindow*>(&w);
    if (!prefs) return kNoIdentifier;
    TToolboxEvent e;
    prefs->CurrentPanel()->FindSubView<TButton>(FourCC("chps"))->Press();
    prefs->CategoryList()->DoMouseCommand(4, e);
    prefs->CurrentPanel()->FindSubView<TButton>(FourCC("chng"))->Press();
    return FourCC("ok  ");
  });
  ASSERT_TRUE(app_->DoMenuCommand(cPreferences));
  for (const char* name : {"IMAGES FOLDER ƒ", "PRINT JOBS FOLDER ƒ", "UNKNOWN JOBS FOLDER ƒ", "KIVO GRAPHICS FOLDER ƒ"})
    EXPECT_TRUE(fs::is_directory(root / fs::u8path(name))) << name;
  EXPECT_EQ(gSpoolFolders().root, root);
  EXPECT_EQ(FolderPathOfSpec(getMyPrintToFileSetPrefs(1)->folder.spec), set);
  FSSpec stored;
  ASSERT_TRUE(validateIfAliasHandle(&stored, 4511));
  EXPECT_EQ(FolderPathOfSpec(FSSpec{stored.vRefNum, GetFolderDirID(stored), CStr63_AC()}), set);
  EXPECT_TRUE(defaults_->contains(kPrintServerPrefKey));
}

TEST_F(PrefsCommands, ExportThenImportOffersToQuitAndNamesWhatWasRefused) {
  myNewSavePreferences();
  const fs::path exported = base_ / "exported.plist";
  answers_ = {exported};
  ASSERT_TRUE(app_->DoMenuCommand(cExportPrefs));
  ASSERT_TRUE(fs::exists(exported));
  ASSERT_EQ(alerts_.size(), 1u);  // where it was saved
  EXPECT_NE(alerts_[0].second.find(exported.string()), std::string::npos);

  // The exported file with the start-at-login switch added.
  auto file = host::readPropertyListFile(exported);
  ASSERT_TRUE(file && file->asDict());
  host::PlistDict top = *file->asDict();
  host::PlistDict inner = *top[kPrefsDictionaryName].asDict();
  inner["prefEnableRelaunch"] = host::PlistValue(true);
  top[kPrefsDictionaryName] = host::PlistValue(inner);
  ASSERT_TRUE(host::writePropertyListFile(exported, host::PlistValue(top), host::PlistFormat::Binary));

  // "Later" keeps the program running.
  answers_ = {exported};
  alertAnswer_ = 2;
  ASSERT_TRUE(app_->DoMenuCommand(cImportPrefs));
  ASSERT_EQ(alerts_.back().first, 1025);
  EXPECT_NE(alerts_.back().second.find("One setting was not imported"), std::string::npos) << alerts_.back().second;
  EXPECT_NE(alerts_.back().second.find("Not imported:\n  prefEnableRelaunch (the start-at-login switch"),
            std::string::npos)
      << alerts_.back().second;
  EXPECT_EQ(alerts_.back().second.find("folder"), std::string::npos) << "no folder moves";
  EXPECT_FALSE(app_->IsQuitting());
  EXPECT_FALSE(defaults_->contains("prefEnableRelaunch"));

  // "Quit Now" leaves.
  answers_ = {exported};
  alertAnswer_ = 1;
  ASSERT_TRUE(app_->DoMenuCommand(cImportPrefs));
  EXPECT_TRUE(app_->IsQuitting());

  // A file whose every key is refused is reported and offers nothing.
  inner.clear();
  inner["prefEnableRelaunch"] = host::PlistValue(true);
  top[kPrefsDictionaryName] = host::PlistValue(inner);
  ASSERT_TRUE(host::writePropertyListFile(exported, host::PlistValue(top), host::PlistFormat::Xml));
  answers_ = {exported};
  const size_t before = alerts_.size();
  ASSERT_TRUE(app_->DoMenuCommand(cImportPrefs));
  ASSERT_EQ(alerts_.size(), before + 1);
  EXPECT_EQ(alerts_.back().first, 1001);
  EXPECT_NE(alerts_.back().second.find("Nothing was imported"), std::string::npos);
  EXPECT_NE(alerts_.back().second.find("  prefEnableRelaunch (the start-at-login"), std::string::npos);
}

TEST_F(PrefsCommands, ImportAlertListsEveryRefusedKeyAndEveryFolderThatMoves) {
  const fs::path spool = base_ / "Elsewhere Spool", set2 = base_ / "Elsewhere Set 2";
  fs::create_directories(spool);
  fs::create_directories(set2);
  host::PlistDict inner;
  for (const auto& [id, folder] : {std::pair{int16_t(4506), spool}, std::pair{int16_t(4512), set2}}) {
    host::AliasRecord alias;
    ASSERT_EQ(host::NewAlias(folder.string(), &alias), noErr);
    inner[AliasKey(id)] = host::PlistValue(alias.Encode());
  }
  // Far more refused keys than 255 characters hold.
  for (int i = 0; i < 20; ++i) inner["Unknown Station Key " + std::to_string(i)] = host::PlistValue(true);
  const fs::path file = base_ / "moves.plist";
  ASSERT_TRUE(host::writePropertyListFile(file, host::PlistValue(host::PlistDict{{kPrefsDictionaryName, inner}}),
                                          host::PlistFormat::Xml));
  answers_ = {file};
  alertAnswer_ = 2;
  ASSERT_TRUE(app_->DoMenuCommand(cImportPrefs));
  ASSERT_EQ(alerts_.size(), 1u);
  ASSERT_EQ(alerts_[0].first, 1025);
  const std::string& text = alerts_[0].second;
  EXPECT_NE(text.find("The import changes where 2 folders are"), std::string::npos) << text;
  EXPECT_NE(text.find("20 settings were not imported"), std::string::npos) << text;
  EXPECT_NE(text.find("  the spool folder: " + spool.string() + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  the folder of print-to-file set 2: " + set2.string()), std::string::npos) << text;
  for (int i = 0; i < 20; ++i)
    EXPECT_NE(text.find("  Unknown Station Key " + std::to_string(i) + " (not a preference of this program)"),
              std::string::npos)
        << i;

  // The same file again moves nothing: the stored folders are those.
  answers_ = {file};
  ASSERT_TRUE(app_->DoMenuCommand(cImportPrefs));
  EXPECT_EQ(alerts_.back().second.find("folders are"), std::string::npos) << alerts_.back().second;
}

TEST_F(PrefsCommands, AFileThatIsNotAPreferenceExportIsReported) {
  const fs::path text = base_ / "notes.plist", other = base_ / "other.plist", deep = base_ / "deep.plist";
  std::ofstream(text) << "just some notes";
  ASSERT_TRUE(host::writePropertyListFile(other, host::PlistValue(host::PlistDict{{"Some Other Program", int64_t(1)}}),
                                          host::PlistFormat::Xml));
  host::PlistValue nested = host::PlistDict{};
  for (int i = 0; i < 40; ++i) nested = host::PlistValue(host::PlistDict{{"level", nested}});
  ASSERT_TRUE(host::writePropertyListFile(deep, nested, host::PlistFormat::Xml));
  for (const auto& [file, why] : {std::pair{text, "not a property list"}, std::pair{other, "it holds no \""},
                                  std::pair{deep, "not a property list of at most 16 MB and 16 levels"}}) {
    answers_ = {file};
    alerts_.clear();
    ASSERT_TRUE(app_->DoMenuCommand(cImportPrefs));
    ASSERT_EQ(alerts_.size(), 1u) << file;
    EXPECT_EQ(alerts_[0].first, 1001);
    EXPECT_NE(alerts_[0].second.find("is not a preference file of Kivo-Processor"), std::string::npos);
    EXPECT_NE(alerts_[0].second.find(why), std::string::npos) << alerts_[0].second;
  }
  // Cancelling the file chooser says nothing.
  alerts_.clear();
  ASSERT_TRUE(app_->DoMenuCommand(cImportPrefs));
  EXPECT_TRUE(alerts_.empty());
}

}  // namespace

namespace {

// Opens the preferences window, chooses `root` as the spool root and
// presses OK.
void ChooseSpoolRoot(TBackgroundPrintApp& app, std::vector<fs::path>& answers, const fs::path& root) {
  answers = {root};
  host::SetModalHook([](TWindow& w) -> IDType {
    auto* prefs = dynamic_cast<TPreferencesWindow*>(&w);
    if (!prefs) return kNoIdentifier;
    TToolboxEvent e;
    e.clickCount = 1;
    prefs->CategoryList()->DoMouseCommand(1, e);  // General Settings
    prefs->CurrentPanel()->FindSubView<TButton>(FourCC("chps"))->Press();
    return FourCC("ok  ");
  });
  app.DoMenuCommand(cPreferences);
  host::SetModalHook({});
}

}  // namespace

// A spool root chosen in the preferences window is taken as a start takes
// it. One another processor works on is refused with an alert that says so,
// and the spool root stays the one before; once that processor has ended,
// the same root is taken with its lock, and its record of printed jobs is
// the one this processor carries on.
TEST_F(PrefsCommands, AChosenSpoolRootIsTakenWithItsLockAndItsRecord) {
  const fs::path other = base_ / "other";
  const fs::path root = other / "app" / fs::u8path("Kivo-Processor Folder ƒ");
  const fs::path privateFolder = root / "KIVO PRIVATE FOLDER";
  fs::create_directories(other / "run");
  fs::permissions(other / "run", fs::perms::owner_all, fs::perm_options::replace);
  testing_support::SpawnOptions spawn;
  const char* build = std::getenv("KIVO_BUILD_DIR");
  spawn.words = {(fs::path(build ? build : ".") / "src" / "app" / "kivo-processor").string()};
  spawn.outputFile = (other / "output.txt").string();
  spawn.errorToOutput = true;
  spawn.environment = {{"QT_QPA_PLATFORM", "offscreen"}, {"KIVO_APP_FOLDER", (other / "app").string()},
                       {"XDG_CONFIG_HOME", (other / "config").string()}, {"XDG_STATE_HOME", (other / "state").string()},
                       {"XDG_RUNTIME_DIR", (other / "run").string()}, {"HOME", other.string()}};
  const pid_t pid = testing_support::SpawnProgram(spawn);
  ASSERT_GT(pid, 0);
  bool locked = false;
  for (int i = 0; i < 600 && !locked; ++i) {
    locked = fs::exists(privateFolder / "Kivo-Processor.lock") && fs::is_directory(root / fs::u8path("IMAGES FOLDER ƒ"));
    if (!locked) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(locked);
  const fs::path before = gSpoolFolders().root;

  ChooseSpoolRoot(*app_, answers_, root);
  ASSERT_FALSE(alerts_.empty());
  EXPECT_NE(alerts_.back().second.find("is already working on the spool folder"), std::string::npos)
      << alerts_.back().second;
  EXPECT_EQ(gSpoolFolders().root, before);
  EXPECT_NE(pipeline::SpoolRecordPath().parent_path(), privateFolder);

  ::kill(pid, SIGTERM);
  ASSERT_EQ(testing_support::WaitForExit(pid, 20), 0);
  WriteText((privateFolder / "Printed Job Files").string(), "the other processor's record");
  alerts_.clear();
  ChooseSpoolRoot(*app_, answers_, root);
  EXPECT_TRUE(alerts_.empty()) << alerts_.front().second;
  EXPECT_EQ(gSpoolFolders().root, root);
  EXPECT_EQ(pipeline::SpoolRecordPath(), privateFolder / "Printed Job Files");
  EXPECT_EQ(ReadText((privateFolder / "Printed Job Files").string()), "the other processor's record");
  // The lock is this process's now: another hold of it is refused.
  const int fd = ::open((privateFolder / "Kivo-Processor.lock").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}
