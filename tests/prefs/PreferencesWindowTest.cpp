// The preferences window and its panels on the offscreen platform: every
// panel edited as the operator would, saved with OK, read back in a new
// process and carried whole by an export; Cancel, switching categories, the
// remembered category, the copy-to-sets choice and the window as drawn.
#include <QImage>
#include <QWidget>
#include <cstdlib>
#include <fstream>

#include "PrefsUiSupport.h"
#include "host/files/FSSpec.h"
#include "host/sys/Process.h"
#include "platform/Choosers.h"
#include "platform/Messages.h"
#include "platform/StringLists.h"
#include "host/sys/PropertyList.h"
#include "prefs/FolderAliases.h"
#include "prefs/PrefExport.h"

using namespace prefsui;

namespace {

constexpr const char kChildVariable[] = "KIVO_PREFSUI_CHILD";

IDType IdOf(const char* s) {
  return IDType(uint8_t(s[0])) << 24 | IDType(uint8_t(s[1])) << 16 | IDType(uint8_t(s[2])) << 8 | uint8_t(s[3]);
}

// The folder an alias of the store resolves to, or empty.
fs::path AliasTarget(int16_t id) {
  FSSpec spec;
  if (!validateIfAliasHandle(&spec, id)) return {};
  std::string path;
  if (host::GetPathOfFSSpec(spec, &path) != noErr) return {};
  return fs::path(path);
}

// The folder of a record, or empty.
fs::path FolderOf(const tFolderFSSpec& folder) {
  std::string path;
  const int32_t id = OwnFolderID(folder);
  if (id <= 0 || host::GetPathForDirID(folder.spec.vRefNum, id, &path) != noErr) return {};
  return fs::path(path);
}

// What the round trip edits, checked in this process and in a new one.
void ExpectEditedRecords(const fs::path& base) {
  const tPrintServerPrefs& ps = *getMyPrintServerPrefs();
  EXPECT_EQ(ps.keepJobFiles, 0);   // 'dljf' on deletes job files
  EXPECT_EQ(ps.autoStart, 0);
  EXPECT_EQ(ps.fullRescan, 0);
  EXPECT_EQ(ps.askOnFailedJob, 1);
  EXPECT_EQ(AliasTarget(kSpoolRootAliasID), base / "Root");

  const tPrintToFilePrefs& ptf = *getMyPrintToFilePrefs();
  EXPECT_EQ(ptf.skipCKProperties, 1);
  EXPECT_EQ(ptf.folder.createIfMissing, 0);
  EXPECT_EQ(AliasTarget(kPrintToFileAliasID), base / "PTF");

  const tProcessedJobsPrefs& pj = *getMyProcessedJobsPrefs();
  EXPECT_EQ(pj.useNewHandOff, 1);
  EXPECT_EQ(AliasTarget(kProcessedJobsAliasID), base / "Center");

  const tSpecialPrintToFilePref& set2 = *getMyPrintToFileSetPrefs(2);
  EXPECT_EQ(set2.fileFormat, kFormatJPEGForWeb);
  EXPECT_EQ(set2.extension.ToUTF8(), ".jpg");
  EXPECT_EQ(set2.namingType, 1);
  EXPECT_EQ(set2.baseName.ToUTF8(), "Sitting");
  EXPECT_EQ(set2.orientation, 2);
  EXPECT_EQ(set2.ftpSite, 3);
  EXPECT_EQ(set2.maxSize, 800);
  EXPECT_EQ(set2.alsoCopyToSet[0], 9);  // set 8 stays set 8
  EXPECT_EQ(set2.alsoCopyToSet[1], 3);
  EXPECT_EQ(AliasTarget(4512), base / "Set2");
  const tSpecialPrintToFilePref& set3 = *getMyPrintToFileSetPrefs(3);
  EXPECT_EQ(set3.rotation, 1);

  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 85);

  const tSpecialPrintToFilePref& web = *getMyWebUploadPrefs();
  EXPECT_EQ(web.fileFormat, kFormatPNG);
  EXPECT_EQ(web.extension.ToUTF8(), ".PNG");
  EXPECT_EQ(web.namingType, 2);
  EXPECT_EQ(web.forceOrientation, 1);
  EXPECT_EQ(AliasTarget(kWebUploadAliasID), base / "Web");
}

TEST_F(PrefsUiTest, EveryPanelEditedSavedAndReadBackInANewProcess) {
  for (const char* f : {"Root", "PTF", "Center", "Set2", "Web"}) MakeFolder(f);
  getMyPrintToFileSetPrefs(2)->alsoCopyToSet = {9, 0, 0};
  folderAnswers_ = {dir_ / "Root", dir_ / "PTF", dir_ / "Center", dir_ / "Set2", dir_ / "Web"};
  bool copyDialogShowedSet8 = false;
  RunDialog(
      [&](TPreferencesWindow& w) {
        // General Settings (shown first).
        TPreferencesView* p = w.CurrentPanel();
        ASSERT_NE(dynamic_cast<TPrintServerPrefs*>(p), nullptr);
        SetOn(*p, "dljf", true);
        SetOn(*p, "ausq", false);
        SetOn(*p, "scan", false);
        SetOn(*p, "dem5", true);
        Click(*p, "chps");
        EXPECT_EQ(TextOf(*p, "psfl"), "Root");
        // Print To File.
        ShowRow(w, 2);
        p = w.CurrentPanel();
        ASSERT_NE(dynamic_cast<TPrintToFilePrefs*>(p), nullptr);
        SetOn(*p, "sapc", true);
        SetOn(*p, "defa", false);
        Click(*p, "chng");
        EXPECT_EQ(TextOf(*p, "fldr"), "PTF");
        // Kivo-Print Center.
        ShowRow(w, 3);
        p = w.CurrentPanel();
        ASSERT_NE(dynamic_cast<TProcessedJobsPrefs*>(p), nullptr);
        SetOn(*p, "newP", true);
        Click(*p, "chng");
        EXPECT_EQ(TextOf(*p, "fldr"), "Center");
        // Print To File Sets: set 2.
        ShowRow(w, 4);
        p = w.CurrentPanel();
        ASSERT_NE(dynamic_cast<TPrintToFileSetPrefs*>(p), nullptr);
        Choose(*p, "path", 2);
        Choose(*p, "frmt", 10);
        EXPECT_EQ(TextOf(*p, "exte"), ".jpg");
        EXPECT_TRUE(Shown(*p, "site"));
        EXPECT_TRUE(Shown(*p, "notr"));
        Choose(*p, "site", 3);
        Choose(*p, "nmtp", 1);
        EXPECT_TRUE(Shown(*p, "bsnm"));
        EXPECT_FALSE(Shown(*p, "over"));
        Type(*p, "bsnm", "Sitting");
        Type(*p, "maxs", "800");
        Click(*p, "port");
        Click(*p, "chng");
        Click(*p, "dupl");
        // Set 3 shown after set 2: set 2's controls went into its record.
        Choose(*p, "path", 3);
        EXPECT_EQ(getMyPrintToFileSetPrefs(2)->baseName.ToUTF8(), "Sitting");
        Choose(*p, "rota", 2);
        // Output Files.
        ShowRow(w, 5);
        p = w.CurrentPanel();
        ASSERT_NE(dynamic_cast<TOutputFilePrefs*>(p), nullptr);
        dynamic_cast<TSlider*>(Find(*p, "scqu"))->MoveTo(85);
        EXPECT_EQ(TextOf(*p, "qual"), "85");
        // For Web Upload.
        ShowRow(w, 6);
        p = w.CurrentPanel();
        ASSERT_NE(dynamic_cast<TWebUploadPrefs*>(p), nullptr);
        Choose(*p, "frmt", 9);
        EXPECT_EQ(TextOf(*p, "exte"), ".PNG");
        Choose(*p, "nmtp", 2);
        EXPECT_FALSE(Shown(*p, "view"));
        SetOn(*p, "foor", true);
        Click(*p, "chng");
        EXPECT_EQ(TextOf(*p, "fldr"), "Web");
      },
      FourCC("ok  "),
      [&](TWindow& copy) -> IDType {
        auto* first = copy.FindSubView<TPopup>(FourCC("pth1"));
        copyDialogShowedSet8 = first && first->GetCurrentItem() == 9;
        Choose(copy, "pth2", 3);
        return FourCC("ok  ");
      });
  EXPECT_TRUE(copyDialogShowedSet8);
  EXPECT_EQ(services_.created, 1);
  ExpectEditedRecords(dir_);

  setenv(kChildVariable, dir_.c_str(), 1);
  host::ProcessOptions options;
  options.timeout = std::chrono::milliseconds(60000);
  const host::ProcessResult child =
      host::runProcess("/proc/self/exe", {"--gtest_filter=PrefsUiChild.ReadsWhatTheWindowSaved"}, options);
  unsetenv(kChildVariable);
  EXPECT_TRUE(child.succeeded()) << child.error << " status " << child.exitStatus;

  // Everything the window saved travels: each key it stored stands in an
  // export with its value, and a station importing that export reads the
  // same records.
  const fs::path file = dir_ / "export.plist";
  ASSERT_TRUE(SaveToNewPreferencesFile(file));
  const auto top = host::readPropertyListFile(file);
  const host::PlistValue* inner = top ? top->find(kPrefsDictionaryName) : nullptr;
  ASSERT_TRUE(inner && inner->asDict());
  for (const auto& [key, value] : defaults_->dictionaryRepresentation()) {
    const auto it = inner->asDict()->find(key);
    EXPECT_TRUE(it != inner->asDict()->end() && it->second == value) << key << " is saved but does not travel";
  }
  host::UserDefaults other(dir_ / "other.plist");
  SetPrefStoreDefaults(&other);
  mySetAllDefaults();
  PrefImportReport report;
  EXPECT_TRUE(LoadFromNewPreferencesFile2(file, true, &report));
  EXPECT_TRUE(report.refused.empty()) << report.RefusedText();
  myNewReadPreferences();
  ExpectEditedRecords(dir_);
  SetPrefStoreDefaults(defaults_.get());
}

TEST(PrefsUiChild, ReadsWhatTheWindowSaved) {
  const char* base = std::getenv(kChildVariable);
  if (!base) GTEST_SKIP() << "runs as the child of EveryPanelEditedSavedAndReadBackInANewProcess";
  host::UserDefaults defaults{fs::path(base) / "defaults.plist"};
  SetPrefStoreDefaults(&defaults);
  myNewReadPreferences();
  ExpectEditedRecords(base);
  SetPrefStoreDefaults(nullptr);
}

TEST_F(PrefsUiTest, CancelUndoesEditsAndFolderChoices) {
  const fs::path before = MakeFolder("Before"), after = MakeFolder("After");
  tSpecialPrintToFilePref& set1 = *getMyPrintToFileSetPrefs(1);
  ASSERT_EQ(host::MakeFolderSpecFromPath(before.string(), &set1.folder.spec), noErr);
  ASSERT_EQ(SaveFSSpecAsAliasHandle(&set1.folder), noErr);
  myNewSavePreferences();
  folderAnswers_ = {after};
  RunDialog(
      [&](TPreferencesWindow& w) {
        ShowRow(w, 4);
        TPreferencesView* p = w.CurrentPanel();
        Click(*p, "chng");
        EXPECT_EQ(TextOf(*p, "fldr"), "After");
        Choose(*p, "frmt", 9);
        // Switching away stores set 1 into its record; Cancel must still undo it.
        ShowRow(w, 2);
        EXPECT_EQ(getMyPrintToFileSetPrefs(1)->fileFormat, kFormatPNG);
      },
      FourCC("canc"));
  EXPECT_EQ(AliasTarget(4511), before);
  EXPECT_EQ(FolderOf(getMyPrintToFileSetPrefs(1)->folder), before);
  EXPECT_EQ(getMyPrintToFileSetPrefs(1)->fileFormat, kFormatJPEG);
}

TEST_F(PrefsUiTest, CancelledChooserChangesNothing) {
  const fs::path root = MakeFolder("Root");
  folderAnswers_ = {fs::path()};
  RunDialog(
      [&](TPreferencesWindow& w) {
        TPreferencesView* p = w.CurrentPanel();
        EXPECT_EQ(TextOf(*p, "psf2"), "No directory selected");
        Click(*p, "chps");
        ShowRow(w, 3);
        Click(*w.CurrentPanel(), "chng");
        EXPECT_EQ(TextOf(*w.CurrentPanel(), "fldr"), "No directory selected");
        EXPECT_TRUE(w.PendingAliases().empty());
      },
      FourCC("ok  "));
  EXPECT_EQ(services_.created, 0);
  EXPECT_FALSE(ReadAliasHandle(kProcessedJobsAliasID));
  ASSERT_EQ(dialogRequests_.size(), 2u);
  EXPECT_EQ(dialogRequests_[0].kind, host::FileDialogKind::kChooseFolder);
  EXPECT_EQ(dialogRequests_[0].message, GetIndString(kPromptStrings, kSpoolRootPrompt).ToUTF8());
  EXPECT_EQ(dialogRequests_[1].message, GetIndString(kPromptStrings, kPrintCenterPrompt).ToUTF8());
}

TEST_F(PrefsUiTest, SettingsThatCannotBeSavedAreReportedAndTheWindowStaysOpen) {
  const fs::path set1 = MakeFolder("Set1");
  // The configuration folder is a file: nothing can be written below it.
  std::ofstream(dir_ / "config") << "not a folder";
  host::UserDefaults blocked(dir_ / "config" / "Kivo-Processor" / "defaults.plist");
  SetPrefStoreDefaults(&blocked);
  std::vector<std::string> messages;
  platform::SetMessageAlertHook([&](const std::string& text) {
    messages.push_back(text);
    return platform::kAlertDefaultItem;
  });

  for (const bool retry : {false, true}) {
    SCOPED_TRACE(retry ? "OK again once it can be written" : "Cancel after the failed save");
    messages.clear();
    folderAnswers_ = {set1};
    int poses = 0;
    host::SetModalHook([&](TWindow& w) -> IDType {
      auto* prefs = dynamic_cast<TPreferencesWindow*>(&w);
      if (!prefs) return kNoIdentifier;
      ++poses;
      TPreferencesView* p = prefs->CurrentPanel();
      if (poses == 1) {
        SetOn(*p, "ausq", false);
        ShowRow(*prefs, 4);
        Click(*prefs->CurrentPanel(), "chng");
        ShowRow(*prefs, 1);
        return FourCC("ok  ");
      }
      // Shown again after the message, with what the operator set.
      EXPECT_EQ(messages.size(), 1u);
      EXPECT_FALSE(IsOn(*p, "ausq"));
      if (!retry) return FourCC("canc");
      fs::remove(dir_ / "config");
      return FourCC("ok  ");
    });
    ASSERT_TRUE(DoPreferencesDialog(services_));
    host::SetModalHook({});
    QCoreApplication::processEvents();
    EXPECT_EQ(poses, 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("The settings could not be saved"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("Not a directory"), std::string::npos) << messages[0];
    if (!retry) {
      // Nothing saved, and nothing unsaved left behind for a later save.
      EXPECT_EQ(getMyPrintServerPrefs()->autoStart, 1);
      EXPECT_FALSE(blocked.contains(kPrintServerPrefKey));
      EXPECT_FALSE(blocked.contains(AliasKey(4511)));
      EXPECT_FALSE(fs::is_directory(dir_ / "config"));
    } else {
      host::UserDefaults written(blocked.file());
      ASSERT_TRUE(written.getData(kPrintServerPrefKey));
      EXPECT_EQ(*written.getData(kPrintServerPrefKey), PrintServerPrefBlob());
      EXPECT_EQ(getMyPrintServerPrefs()->autoStart, 0);
      EXPECT_TRUE(written.contains(AliasKey(4511)));
    }
  }
  platform::SetMessageAlertHook({});
  SetPrefStoreDefaults(defaults_.get());
}

TEST_F(PrefsUiTest, SwitchesWithoutEffectHereSaySoAndFitTheirLabels) {
  RunDialog(
      [&](TPreferencesWindow& w) {
        TPreferencesView* p = w.CurrentPanel();
        for (const char* id : {"blck", "t3am"}) {
          auto* box = qobject_cast<QAbstractButton*>(p->FindSubView(IdOf(id))->GetWidget());
          ASSERT_NE(box, nullptr) << id;
          EXPECT_NE(box->text().toStdString().find("(kept for the station applications)"), std::string::npos) << id;
          EXPECT_LE(box->sizeHint().width(), box->width()) << id << ": " << box->text().toStdString();
        }
      },
      FourCC("canc"));
}

// Printer 17 takes its format, naming and prefix from each job: the panel
// shows them dimmed with a note, stores only its two switches, and a value
// stored by an earlier version is not read back.
TEST_F(PrefsUiTest, PrintToFileFormatNamingAndPrefixAreDimmedAndNotStored) {
  RunDialog(
      [&](TPreferencesWindow& w) {
        ShowRow(w, 2);
        TPreferencesView* p = w.CurrentPanel();
        const char dimmed[][5] = {"frmt", "exte", "nmtp", "bsnm"}, usable[][5] = {"chng", "defa", "sapc"};
        for (const auto& id : dimmed) EXPECT_FALSE(Find(*p, id)->IsViewEnabled()) << id;
        for (const auto& id : usable) EXPECT_TRUE(Find(*p, id)->IsViewEnabled()) << id;
        EXPECT_NE(TextOf(*p, "st05").find("Format, naming and prefix"), std::string::npos);
        EXPECT_NE(TextOf(*p, "st06").find("job's own print-to-file settings"), std::string::npos);
        // The controls still say what the record holds.
        EXPECT_EQ(dynamic_cast<TPopup*>(Find(*p, "frmt"))->GetCurrentItem(), kFormatJPEG);
        EXPECT_EQ(TextOf(*p, "bsnm"), "Print");
        // Even set from elsewhere, OK stores only the switches.
        Choose(*p, "frmt", kFormatPNG);
        Type(*p, "bsnm", "Booth");
        Click(*p, "sapc");
        Click(w, "fact");
        Click(*p, "sapc");
        EXPECT_FALSE(Find(*p, "frmt")->IsViewEnabled()) << "factory settings keep them dimmed";
        Choose(*p, "nmtp", 5);
      },
      FourCC("ok  "));
  mySetAllDefaults();
  myNewReadPreferences();
  const tPrintToFilePrefs& r = *getMyPrintToFilePrefs();
  EXPECT_EQ(r.skipCKProperties, 1);
  EXPECT_EQ(r.fileFormat, kFormatJPEG);
  EXPECT_EQ(r.extension.ToUTF8(), ".jpg");
  EXPECT_EQ(r.namingType, 1);
  EXPECT_EQ(r.baseName.ToUTF8(), "Print");
  // A record stored with other values by an earlier version: only the
  // switches come back.
  tPrintToFilePrefs& live = *getMyPrintToFilePrefs();
  live.fileFormat = kFormatPNG;
  live.namingType = 5;
  live.baseName = "Booth";
  live.extension = ".PNG";
  live.skipCKProperties = 0;
  WriteToMyUserDefaults(host::PlistValue(PrintToFilePrefBlob()), kPrintToFilePrefKey, true);
  mySetAllDefaults();
  myNewReadPreferences();
  EXPECT_EQ(live.fileFormat, kFormatJPEG);
  EXPECT_EQ(live.namingType, 1);
  EXPECT_EQ(live.baseName.ToUTF8(), "Print");
  EXPECT_EQ(live.extension.ToUTF8(), ".jpg");
  EXPECT_EQ(live.skipCKProperties, 0);
}

// "(none)" as a set's format would fail every job of the set: OK refuses it,
// naming the set, and the window stays open with what the operator set.
TEST_F(PrefsUiTest, OKRefusesASetWithoutAFormatAndNamesIt) {
  std::vector<std::string> messages;
  platform::SetMessageAlertHook([&](const std::string& text) {
    messages.push_back(text);
    return platform::kAlertDefaultItem;
  });
  int poses = 0;
  host::SetModalHook([&](TWindow& w) -> IDType {
    auto* prefs = dynamic_cast<TPreferencesWindow*>(&w);
    if (!prefs) return kNoIdentifier;
    ++poses;
    if (poses == 1) {
      ShowRow(*prefs, 4);
      Choose(*prefs->CurrentPanel(), "path", 3);
      Choose(*prefs->CurrentPanel(), "frmt", 1);  // "(none)"
      Choose(*prefs->CurrentPanel(), "path", 5);  // set 3 is stored on the way
      return FourCC("ok  ");
    }
    TPreferencesView* p = prefs->CurrentPanel();
    EXPECT_EQ(dynamic_cast<TPrintToFileSetPrefs*>(p)->ShownSet(), 5) << "still open as it was";
    if (poses == 2) {
      // Cancel is always possible; try OK again first, still refused.
      return FourCC("ok  ");
    }
    Choose(*p, "path", 3);
    EXPECT_EQ(dynamic_cast<TPopup*>(Find(*p, "frmt"))->GetCurrentItem(), 1);
    Choose(*p, "frmt", kFormatPNG);
    Choose(*p, "path", 5);
    return FourCC("ok  ");
  });
  ASSERT_TRUE(DoPreferencesDialog(services_));
  host::SetModalHook({});
  platform::SetMessageAlertHook({});
  QCoreApplication::processEvents();
  EXPECT_EQ(poses, 3);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Print To File Set C (3) has no file format: choose one for it, then press OK.");
  EXPECT_FALSE(UnwrittenFormatRefusal());
  // Saved once it names a format.
  mySetAllDefaults();
  myNewReadPreferences();
  EXPECT_EQ(getMyPrintToFileSetPrefs(3)->fileFormat, kFormatPNG);

  getMyWebUploadPrefs()->fileFormat = 0;
  ASSERT_TRUE(UnwrittenFormatRefusal());
  EXPECT_NE(UnwrittenFormatRefusal()->find("For Web Upload"), std::string::npos);
  getMyWebUploadPrefs()->fileFormat = kFormatJPEGForWeb;
  getMyPrintToFileSetPrefs(8)->fileFormat = 11;
  ASSERT_TRUE(UnwrittenFormatRefusal());
  EXPECT_NE(UnwrittenFormatRefusal()->find("Set H (8)"), std::string::npos);
}

TEST_F(PrefsUiTest, FolderLinesForAGoneFolderAndTheTopOfAVolume) {
  const fs::path gone = MakeFolder("Gone");
  ASSERT_EQ(host::MakeFolderSpecFromPath(gone.string(), &getMyProcessedJobsPrefs()->folder.spec), noErr);
  fs::remove(gone);
  ASSERT_EQ(host::MakeFolderSpecFromPath("/", &getMyWebUploadPrefs()->folder.spec), noErr);
  RunDialog(
      [&](TPreferencesWindow& w) {
        ShowRow(w, 3);
        EXPECT_EQ(TextOf(*w.CurrentPanel(), "fldr"), "[Can not find directory]");
        ShowRow(w, 6);
        EXPECT_EQ(TextOf(*w.CurrentPanel(), "fldr"), "<Root>");
        EXPECT_FALSE(TextOf(*w.CurrentPanel(), "volu").empty());
      },
      FourCC("canc"));
}

TEST_F(PrefsUiTest, RememberedCategoryBuildsItsOwnPanel) {
  RunDialog([&](TPreferencesWindow& w) { ShowRow(w, 6); }, FourCC("canc"));
  EXPECT_EQ(gLastSelectedPreference, 6);
  RunDialog(
      [&](TPreferencesWindow& w) {
        EXPECT_NE(dynamic_cast<TWebUploadPrefs*>(w.CurrentPanel()), nullptr);
        EXPECT_EQ(TextOf(w, "text"), "For Web Upload");
        EXPECT_EQ(w.CategoryList()->CurrentRow(), 6);
        // Clicking the row on show does not build its panel again.
        TPreferencesView* before = w.CurrentPanel();
        ShowRow(w, 6);
        EXPECT_EQ(w.CurrentPanel(), before);
        ShowRow(w, 5);
        EXPECT_NE(dynamic_cast<TOutputFilePrefs*>(w.CurrentPanel()), nullptr);
        EXPECT_EQ(TextOf(w, "text"), "Output Files");
        // A text outside the table builds the plain panel of category 0.
        w.CategoryList()->PrepareView(0);
        ASSERT_NE(w.CurrentPanel(), nullptr);
        EXPECT_EQ(w.CurrentPanel()->GetClassName(), "TPreferencesView");
        EXPECT_EQ(gLastSelectedPreference, 5);
      },
      FourCC("canc"));
  // A remembered row the list does not have opens on the first one.
  gLastSelectedPreference = 40;
  RunDialog([&](TPreferencesWindow& w) { EXPECT_NE(dynamic_cast<TPrintServerPrefs*>(w.CurrentPanel()), nullptr); },
            FourCC("canc"));
  EXPECT_EQ(TPreferencesListView::GetPrefFromItemText(CStr255_AC("Printer Colours")), 0);
}

TEST_F(PrefsUiTest, RevertAndFactorySettings) {
  getMyPrintServerPrefs()->autoStart = 1;
  getMyOutputFilePrefs()->jpegQuality = 5;  // below the slider's range
  RunDialog(
      [&](TPreferencesWindow& w) {
        TPreferencesView* p = w.CurrentPanel();
        TView* revert = Find(w, "rvrt");
        EXPECT_FALSE(revert->IsViewEnabled());
        Click(*p, "ausq");
        EXPECT_TRUE(revert->IsViewEnabled());  // a switch differs from the snapshot
        Click(*p, "hima");
        Click(w, "rvrt");
        EXPECT_TRUE(IsOn(*p, "ausq"));
        EXPECT_FALSE(revert->IsViewEnabled());
        ShowRow(w, 5);
        p = w.CurrentPanel();
        auto* slider = dynamic_cast<TSlider*>(Find(*p, "scqu"));
        EXPECT_EQ(slider->GetValue(), 10);
        slider->MoveTo(500);
        EXPECT_EQ(slider->GetValue(), 100);
        EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 100);
        Click(w, "fact");
        EXPECT_EQ(slider->GetValue(), 50);
        EXPECT_EQ(TextOf(*p, "qual"), "50");
        ShowRow(w, 4);
        p = w.CurrentPanel();
        Choose(*p, "frmt", 2);
        Choose(*p, "nmtp", 6);
        EXPECT_TRUE(Shown(*p, "over"));
        EXPECT_FALSE(Shown(*p, "site"));
        Click(w, "fact");
        EXPECT_EQ(TextOf(*p, "exte"), ".jpg");
        EXPECT_FALSE(Shown(*p, "bsnm"));
      },
      FourCC("ok  "));
  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 50);
  EXPECT_EQ(getMyPrintServerPrefs()->autoStart, 1);
}

TEST_F(PrefsUiTest, NobodyAnswersOnTheOffscreenPlatform) {
  // No hooks: the window and its choosers answer themselves at once.
  host::SetFileDialogHook({});
  ASSERT_TRUE(DoPreferencesDialog(services_));
  QCoreApplication::processEvents();
  EXPECT_FALSE(defaults_->contains(kPrintServerPrefKey));
  int16_t v = 7;
  int32_t d = 8;
  EXPECT_FALSE(myChooseFolder(v, d, true, kOutputFolderPrompt));
  EXPECT_EQ(v, 7);
  EXPECT_EQ(d, 8);
}

TEST_F(PrefsUiTest, EachPanelIsDrawnWithItsControls) {
  struct Expect {
    int16_t row;
    std::vector<const char*> ids;
  };
  const std::vector<Expect> panels = {
      {1, {"enbp", "ausq", "blck", "dljf", "dual", "scan", "hima", "t3am", "dem5", "chps", "psfl", "psvl"}},
      {2, {"chng", "fldr", "volu", "defa", "sapc", "frmt", "nmtp", "view", "exte"}},
      {3, {"chng", "fldr", "volu", "defa", "newP"}},
      {4, {"path", "chng", "fldr", "volu", "defa", "foor", "sapc", "nmtp", "bsnm", "exte", "frmt", "clus", "land",
           "port", "rota", "cjpg", "maxs", "notr", "site", "npng", "over", "dupl"}},
      {5, {"scqu", "qual"}},
      {6, {"chng", "fldr", "volu", "defa", "foor", "sapc", "nmtp", "view", "clus", "land", "port", "rota", "frmt",
           "bsnm", "exte"}},
  };
  RunDialog(
      [&](TPreferencesWindow& w) {
        for (const Expect& e : panels) {
          ShowRow(w, e.row);
          TPreferencesView* p = w.CurrentPanel();
          ASSERT_NE(p, nullptr) << e.row;
          EXPECT_EQ(p->GetIdentifier(), FourCC("dtel"));
          for (const char* id : e.ids)
            EXPECT_NE(p->FindSubView(IdOf(id)), nullptr) << e.row << " " << id;
          QWidget* widget = w.GetWidget();
          widget->show();
          const QImage image = widget->grab().toImage();
          ASSERT_FALSE(image.isNull());
          EXPECT_GE(image.width(), 600);
          const fs::path png = dir_ / ("panel" + std::to_string(e.row) + ".png");
          ASSERT_TRUE(image.save(QString::fromStdString(png.string())));
          EXPECT_GT(fs::file_size(png), 1000u);
          // Something is drawn: the picture is not one colour.
          const QRgb first = image.pixel(0, 0);
          bool varied = false;
          for (int y = 0; y < image.height() && !varied; y += 3)
            for (int x = 0; x < image.width() && !varied; x += 3) varied = image.pixel(x, y) != first;
          EXPECT_TRUE(varied) << e.row;
          widget->hide();
        }
      },
      FourCC("canc"));
}

}  // namespace
