// The application in one process: start-up folders, the controller's status
// texts, the print log, clearing folders, removing a job, the quit rule and
// the status window as drawn.
#include "AppTestSupport.h"

#include <QKeyEvent>
#include <chrono>
#include <functional>
#include <thread>
#include <QLabel>
#include <QWindow>

#include "app/AppServices.h"
#include "platform/ShellCommands.h"
#include "app/PrintCountWindow.h"
#include "platform/PStrings.h"
#include <fstream>
#include <unistd.h>
#include "app/ProgressIndicator.h"
#include "app/StatusWindow.h"
#include "chromakey/engine/FixCoef.h"
#include "chromakey/engine/KeyPipeline.h"
#include "host/sys/PropertyList.h"
#include "imaging/ImageProperties.h"
#include "imaging/ImageSources.h"
#include "host/ui/Controls.h"
#include "host/imageio/ImageFile.h"
#include "host/sys/UserDefaults.h"
#include "host/ui/ViewServer.h"
#include "host/base/ClassRegistry.h"
#include "output/SystemPrint.h"
#include "pipeline/BGPrintView.h"
#include "pipeline/SpoolFolders.h"
#include "prefs/LegacyPreferences.h"
#include "jobwriter/JobWriter.h"
#include "layout/Objects.h"
#include "pipeline/PrinterRecords.h"
#include "platform/Polling.h"
#include "pipeline/SpoolFolders.h"
#include "prefs/PrefRecords.h"

using namespace app;
using namespace apptest;

namespace {

TBackgroundPrintApp* gApp = nullptr;
fs::path gBase;
int16_t gAlertAnswer = 0;  // 0: the usual answer
std::vector<std::pair<int16_t, std::string>> gAlerts;

class AppTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gBase = MakeTempFolder("app");
    UseFolders(gBase);
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    host::InitFramework(1, argv);
    InstallAppResources();
    host::SetAlertHook([](int16_t id, const std::string& text) {
      gAlerts.emplace_back(id, text);
      return gAlertAnswer;
    });
    gApp = new TBackgroundPrintApp(StartupOptions{.setupLogs = false});
    ASSERT_TRUE(gApp->IBackgroundPrintApp());
    ASSERT_TRUE(gApp->DoMenuCommand(cStartUp));
  }
  static void TearDownTestSuite() {
    delete gApp;
    gApp = nullptr;
    pipeline::ReleaseSpoolFolderForTesting();
    std::error_code ec;
    fs::remove_all(gBase, ec);
  }
  void SetUp() override {
    gAlertAnswer = 0;
    gAlerts.clear();
    c_ = GetPrintBGBehavior();
    ASSERT_NE(c_, nullptr);
    // Each test starts paused with an empty spool.
    c_->EnableBackgroundPrinting(false);
    for (const fs::path& folder : {Jobs(), AllFiles()})
      for (const auto& e : fs::directory_iterator(folder))
        if (e.is_regular_file()) fs::remove(e.path());
    pipeline::gJobFileList->DeleteAll();
    pipeline::gJobFileList->SetQueueCurrentFile("");
    pipeline::gJobFileList->ResetLastModDate();
    c_->UpdateJobsList();
  }
  TStaticText* Text(IDType id) { return c_->GetStatusWindow()->FindSubView<TStaticText>(id); }
  std::string Status() { return Text(FourCC("stat"))->GetTextUTF8(); }
  static fs::path Jobs() { return gSpoolFolders().jobs; }
  static fs::path AllFiles() { return Jobs() / "All Files"; }
  static size_t Queued() { return pipeline::gJobFileList->GetSize(); }
  void Rescan() {
    pipeline::gJobFileList->ResetLastModDate();
    c_->Services().CheckForNewJobs();
  }
  TPrintBGBehavior* c_ = nullptr;
};

TEST_F(AppTest, StartUpMadeTheFolderTreeInTheApplicationFolder) {
  const fs::path app = gBase / "app";
  const fs::path root = app / fs::u8path("Kivo-Processor Folder ƒ");
  for (const char* name : {"IMAGES FOLDER ƒ", "PRINT JOBS FOLDER ƒ", "FINISHED JOBS FOLDER ƒ", "UNKNOWN JOBS FOLDER ƒ",
                           "DATABASE FOLDER ƒ", "KIVO GRAPHICS FOLDER ƒ"})
    EXPECT_TRUE(fs::is_directory(root / fs::u8path(name))) << name;
  EXPECT_TRUE(fs::is_directory(root / fs::u8path("PRINT JOBS FOLDER ƒ") / "All Files"));
  EXPECT_TRUE(fs::is_directory(app / "Kivo-PrintCenter Folder" / "Jobs To Be Printed"));
  EXPECT_TRUE(fs::is_directory(app / fs::u8path("KIVO PREFERENCES FOLDER ƒ")));
  // Every print-to-file set without a folder shares the one default folder.
  const fs::path set1 = FolderPathOfSpec(getMyPrintToFileSetPrefs(1)->folder.spec);
  EXPECT_EQ(set1.filename(), fs::u8path("PRINT TO FILE FOLDER SET Aƒ"));
  EXPECT_EQ(FolderPathOfSpec(getMyPrintToFileSetPrefs(8)->folder.spec), set1);
  EXPECT_EQ(c_->Services().PrintToFileSetFolderResolves(3), std::optional<bool>(true));
}

TEST_F(AppTest, StartUpKeepsItsProcessWideValuesAndOpensNoDocuments) {
  EXPECT_EQ(gPackAppvRefNum, appvRefNum);
  EXPECT_EQ(gPackAppDirID, appDirID);
  EXPECT_NE(appDirID, 0) << "the application folder was found";
  EXPECT_TRUE(isOSXVersion()) << "the start-up's system check passed";
  EXPECT_TRUE(gLastCategory.IsEmpty());
  EXPECT_EQ(myDbTempStruct, tRecordStruct{});
  const fs::path job = gBase / "handed.trpr";
  TouchFile(job, 5);
  EXPECT_EQ(gApp->DoMakeDocument(cOpenOld, &job), nullptr);
  testing::internal::CaptureStderr();
  gApp->OpenOld(cOpenOld, {job.string()});
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("\"" + job.string() + "\" opens nothing"), std::string::npos) << log;
  EXPECT_TRUE(fs::exists(job)) << "the handed file is left alone";
  EXPECT_EQ(Queued(), 0u);
}

TEST_F(AppTest, StartUpRegistersEveryClassByNameAndMakesTheProgramsOwnByName) {
  for (const char* name :
       {"TWebUploadPrefs", "TOutputFilePrefs", "TAttributeObject", "TDatabaseObject", "TPrintToFileSetPrefs",
        "TChooserPrint", "TGroupPhotoObject", "TPrintCountWindow", "TBackColorObject", "TProcessedJobsPrefs",
        "TFileOverlayObject", "TAboutWindow", "TPrintToFilePrefs", "TMyChasingArrows", "TErrorListView",
        "TFloatingPopup", "TPopupButton", "TPrintPreview", "TProgressWindow", "TBackgroundPrintingPrefs",
        "TPrintBGPrefBehavior", "TDeselectCellScroller", "TBackgroundPrintWindow", "TJobsListView",
        "TPrintServerPrefs", "TBGPrintView", "TSpoolerPrintView", "TNodeViewObject", "TStampObject", "TTextObject",
        "TEditTextObject", "TOverlayObject", "TImageObject", "TPreferencesListView", "TPreferencesWindow",
        "TPreferencesView", "TInFrameAdorner", "T3DFrameAdorner", "T3DButtonAdorner"})
    EXPECT_TRUE(IsClassRegistered(name)) << name;
  EXPECT_FALSE(IsClassRegistered("TNoSuchClass"));

  auto chooser = host::NewNamedObject<output::TChooserPrintJob>("TChooserPrint");
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(chooser->copies, 1);
  auto prefs = host::NewNamedObject<TBackgroundPrintingPrefs>("TBackgroundPrintingPrefs");
  ASSERT_NE(prefs, nullptr);
  EXPECT_EQ(prefs->GetStandardSignature(), FourCC("bgpr"));
  // Making the behaviour would read the preference file into the live
  // records: only its class is looked at.
  ASSERT_NE(host::NamedClassType("TPrintBGPrefBehavior"), nullptr);
  EXPECT_EQ(*host::NamedClassType("TPrintBGPrefBehavior"), typeid(TPrintBGPrefBehavior));
  // The job views are made on the running program's services.
  EXPECT_NE(host::NewNamedObject<pipeline::TSpoolerPrintView>("TSpoolerPrintView"), nullptr);
  EXPECT_NE(host::NewNamedObject<pipeline::TBGPrintView>("TBGPrintView"), nullptr);
  // A name is made only as the class it was registered as.
  EXPECT_EQ(host::NewNamedObject<pipeline::TBGPrintView>("TSpoolerPrintView"), nullptr);
  EXPECT_EQ(host::NewNamedObject<TBackgroundPrintingPrefs>("TNoSuchClass"), nullptr);
}

TEST_F(AppTest, ImagePropertyListsCarryTheChromaKeyCodesCoefficientDictionary) {
  // A photo's chroma-key properties whose block is a fresh one.
  tCKImageProperties props;
  chromakey::fixcoef block;
  chromakey::initialize_data(&block);
  chromakey::EncodeFixCoef(block, props.keying.data());
  const fs::path photo = gBase / "keyed.jpg";
  std::ofstream(photo) << "photo";
  FSSpec spec;
  ASSERT_EQ(host::MakeFSSpecFromPath(photo.string(), &spec), noErr);
  ASSERT_TRUE(saveCKImagePropertiesToPlistFile(&props, spec));
  auto plist = host::readPropertyListFile(photo.string() + ".plist");
  ASSERT_TRUE(plist);
  const host::PlistValue* settings = plist->find("CKSettings");
  const host::PlistValue* coefficients = settings ? settings->find("fixcoef") : nullptr;
  ASSERT_TRUE(coefficients && coefficients->asDict());
  EXPECT_EQ(*coefficients->find("settings->para.BGdefocuslevel")->asInteger(), 5);
  EXPECT_EQ(*coefficients->find("settings->para.g2xe")->asInteger(), 999999);
  EXPECT_EQ(coefficients->find("settings->para.l_mid")->asArray()->size(), 66u);
}

TEST_F(AppTest, FileHandlerWindowsComeFromTheirViewResources) {
  TFileHandlerWindows* windows = GetFileHandlerWindows();
  ASSERT_NE(windows, nullptr);
  const std::string path = "/srv/station/" + std::string(200, 'x') + "/photo.jpg";
  windows->OpenDeleteWindow(path);
  TWindow* opened = nullptr;
  for (TWindow* w : TWindow::AllWindows())
    if (w->GetTitle().ToUTF8() == "Delete Images" && w->IsShown()) opened = w;
  ASSERT_NE(opened, nullptr);
  auto* folder = opened->FindSubView<TStaticText>(FourCC("fldr"));
  ASSERT_NE(folder, nullptr);
  // The path is cut in the middle to the field's width.
  const std::string shown = folder->GetText().ToUTF8();
  EXPECT_EQ(shown.substr(0, 13), "/srv/station/");
  EXPECT_LT(shown.size(), path.size());
  EXPECT_EQ(shown.substr(shown.size() - 9), "photo.jpg");
  opened->Close();
  // The saving progress uses window 9003 and gives the default back.
  windows->ShowProgress(CStr255_AC("Saving File…"), CStr255_AC("photo.jpg"));
  windows->EndProgress();
}

// Pressing Start after the spool tree was deleted or moved away makes
// nothing again: the operator is told which folder no longer stands at its
// name, and printing stays paused.
TEST_F(AppTest, StartingAfterTheSpoolTreeWentNamesItAndStaysPaused) {
  const fs::path root = gSpoolFolders().root;
  ASSERT_FALSE(root.empty());
  fs::rename(root, gBase / "moved tree");
  fs::remove_all(gBase / "moved tree");
  c_->EnableBackgroundPrinting(true);
  ASSERT_EQ(gAlerts.size(), 1u);
  EXPECT_NE(gAlerts[0].second.find("the folder \"" + root.string() + "\" no longer stands at its name (nothing stands"),
            std::string::npos)
      << gAlerts[0].second;
  EXPECT_FALSE(c_->IsBackgroundPrintingEnabled());
  EXPECT_FALSE(fs::exists(root));
  // Set up anew (as a start does), printing starts again.
  ASSERT_TRUE(pipeline::SetUpSpoolFolderTree());
  gAlerts.clear();
  c_->EnableBackgroundPrinting(true);
  EXPECT_TRUE(gAlerts.empty());
  EXPECT_TRUE(c_->IsBackgroundPrintingEnabled());
  Rescan();  // "All Files" comes with the first scan
  EXPECT_TRUE(fs::is_directory(AllFiles()));
  c_->EnableBackgroundPrinting(false);
}

TEST_F(AppTest, StartAndPauseShowTheirStatusTextsAndKeepOneRunner) {
  c_->EnableBackgroundPrinting(true);
  EXPECT_EQ(Status(), kIdleStatus);
  EXPECT_TRUE(c_->TaskManager().IsActive());
  host::JobRunner* runner = c_->Runner();
  ASSERT_NE(runner, nullptr);
  EXPECT_EQ(c_->GetIdleFreq(), 15);
  gApp->SetupTheMenus();
  EXPECT_FALSE(gApp->IsEnabled(cQuit));
  EXPECT_FALSE(gApp->IsEnabled(cClearAll));
  auto* strt = c_->GetStatusWindow()->FindSubView<TButton>(FourCC("strt"));
  EXPECT_EQ(strt->GetTitle().ToUTF8(), "Pause");
  EXPECT_FALSE(c_->GetStatusWindow()->FindSubView(FourCC("exit"))->IsViewEnabled());

  c_->EnableBackgroundPrinting(true);  // starting twice keeps the runner
  EXPECT_EQ(c_->Runner(), runner);

  c_->EnableBackgroundPrinting(false);
  EXPECT_EQ(Status(), kPausedStatus);
  EXPECT_EQ(strt->GetTitle().ToUTF8(), "Resume");
  EXPECT_FALSE(c_->TaskManager().IsActive());
  EXPECT_EQ(c_->GetIdleFreq(), kMaxIdleTime);
  EXPECT_TRUE(c_->GetStatusWindow()->FindSubView(FourCC("exit"))->IsViewEnabled());
  gApp->SetupTheMenus();
  EXPECT_TRUE(gApp->IsEnabled(cQuit));
  EXPECT_TRUE(gApp->IsEnabled(cStartPauseCommand));
  EXPECT_TRUE(gApp->IsEnabled(cClearJobs));
}

TEST_F(AppTest, DoubleClickOnStartTogglesNothing) {
  auto* strt = c_->GetStatusWindow()->FindSubView<TButton>(FourCC("strt"));
  strt->Press(2);
  EXPECT_FALSE(c_->IsBackgroundPrintingEnabled());
  strt->Press(1);
  EXPECT_TRUE(c_->IsBackgroundPrintingEnabled());
}

TEST_F(AppTest, PrintLogLineHasItsFieldsTabSeparated) {
  tJobInfo info;
  info.first = "Order 12";
  info.second = "Web";
  info.w64 = 2;
  const std::string line = TPrintBGBehavior::PrintLogLine("Tue, Dec 8, 2026", "10:15:02 PM", 185, "Print to File Set 1",
                                                          "Wallet", info);
  EXPECT_EQ(line, "Tue, Dec 8, 2026\t10:15:02 PM\t3\tPrinter: Print to File Set 1\tTemplate: Wallet\tOrder 12\tWeb\tTRUE\t\r");
  info.w64 = 0;
  EXPECT_NE(TPrintBGBehavior::PrintLogLine("d", "t", 0, "p", "t", info).find("\tFALSE\t\r"), std::string::npos);
}

TEST_F(AppTest, PrintLogIsRecreatedAtTheFirstLineOfARun) {
  const fs::path log = TPrintBGBehavior::PrintLogPath();
  EXPECT_EQ(log.filename(), "Print Log File");
  std::ofstream(log, std::ios::binary) << "line of an earlier run\t\r";
  TPrintBGBehavior fresh;  // a controller of a new run
  fresh.PrintLog(120);
  fresh.PrintLog(60);
  std::ifstream in(log, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.find("earlier run"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 2);
}

TEST_F(AppTest, JobListFollowsTheQueueAndTheJobInWorkLeavesIt) {
  TouchFile(Jobs() / "a.trpr", 30);
  TouchFile(Jobs() / "b.trpr", 20);
  TouchFile(Jobs() / "c.trpr", 10);
  Rescan();
  ASSERT_EQ(Queued(), 3u);
  auto* list = c_->GetStatusWindow()->FindSubView<TJobsListView>(FourCC("jobs"));
  EXPECT_EQ(list->GetNumRows(), 3);
  EXPECT_EQ(list->GetItemText(1).ToUTF8(), "a.trpr");
  EXPECT_EQ(list->GetItemText(3).ToUTF8(), "c.trpr");
  EXPECT_EQ(list->GetItemText(4).ToUTF8(), "");
  // The next job is the oldest and is not listed again while in work.
  auto next = c_->Services().GetNextNewJobFile();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->filename(), "a.trpr");
  EXPECT_EQ(list->GetNumRows(), 2);
  Rescan();
  EXPECT_EQ(Queued(), 2u);
}

TEST_F(AppTest, RemoveTakesTheJobThatWasSelectedEvenWhenRowsMoved) {
  TouchFile(Jobs() / "one.trpr", 30);
  TouchFile(Jobs() / "two.trpr", 20);
  Rescan();
  auto* window = dynamic_cast<TBackgroundPrintWindow*>(c_->GetStatusWindow());
  auto* list = window->JobsList();
  list->SelectRow(2);
  list->DoMouseCommand(2, TToolboxEvent{});
  // Behind the list's back the queue changes: "two.trpr" leaves it (as if
  // taken into work) and "three.trpr" arrives; the count stays and row 2
  // now shows another job. Remove must not take that one.
  TouchFile(AllFiles() / "three.trpr", 0);
  ASSERT_TRUE(RemoveFromQueue(AllFiles() / "two.trpr"));
  ASSERT_TRUE(pipeline::gJobFileList->Insert(AllFiles() / "three.trpr"));
  ASSERT_NE(list->GetItemText(2).ToUTF8(), "two.trpr");
  ASSERT_TRUE(list->HasSelection());
  window->RemoveSelectedJob();
  EXPECT_TRUE(fs::exists(AllFiles() / "one.trpr"));
  EXPECT_TRUE(fs::exists(AllFiles() / "two.trpr"));
  EXPECT_TRUE(fs::exists(AllFiles() / "three.trpr"));
  EXPECT_EQ(Queued(), 2u);

  // A fresh selection removes its job.
  list->SelectRow(1);
  list->DoMouseCommand(1, TToolboxEvent{});
  const std::string first = list->GetItemText(1).ToUTF8();
  window->RemoveSelectedJob();
  EXPECT_FALSE(fs::exists(AllFiles() / first));
  EXPECT_EQ(Queued(), 1u);

  // Nothing selected: nothing removed.
  list->ClearSelection();
  window->RemoveSelectedJob();
  EXPECT_EQ(Queued(), 1u);
}

TEST_F(AppTest, ClearingAsksFirstAndAbortsTheJobInWork) {
  TouchFile(Jobs() / "keep.trpr", 5);
  TouchFile(gSpoolFolders().unknown / "old.trpr", 5);
  Rescan();

  gAlertAnswer = 2;  // Cancel
  gApp->DoMenuCommand(cClearJobs);
  ASSERT_FALSE(gAlerts.empty());
  EXPECT_EQ(gAlerts.back().first, 1002);
  EXPECT_NE(gAlerts.back().second.find("PRINT JOBS FOLDER"), std::string::npos);
  EXPECT_TRUE(fs::exists(AllFiles() / "keep.trpr"));
  EXPECT_NE(c_->TaskManager().CurrentJob().vRefNum, pipeline::kAbortVolume);

  gAlertAnswer = 1;
  gApp->DoMenuCommand(cClearJobs);
  EXPECT_FALSE(fs::exists(AllFiles() / "keep.trpr"));
  EXPECT_EQ(Queued(), 0u);
  EXPECT_EQ(c_->TaskManager().CurrentJob().vRefNum, pipeline::kAbortVolume);
  EXPECT_TRUE(fs::exists(gSpoolFolders().unknown / "old.trpr"));

  // The popup's item 5 clears the unknown-jobs folder; items 1 and 2 do nothing.
  auto* pop = c_->GetStatusWindow()->FindSubView<TPopup>(FourCC("pop1"));
  gAlerts.clear();
  pop->SetCurrentItem(2);
  c_->GetStatusWindow()->DoEvent(mPopupHit, pop, nullptr);
  EXPECT_TRUE(gAlerts.empty());
  pop->SetCurrentItem(5);
  c_->GetStatusWindow()->DoEvent(mPopupHit, pop, nullptr);
  EXPECT_FALSE(fs::exists(gSpoolFolders().unknown / "old.trpr"));
}

TEST_F(AppTest, ClearAllRemovesLinksAsLinksAndNothingOutsideTheTree) {
  // Outside the spool tree: a folder with a file, and a file.
  const fs::path outside = gBase / "outside";
  fs::create_directories(outside / "sub");
  TouchFile(outside / "sub" / "keep.jpg", 5);
  TouchFile(outside / "keep.txt", 5);
  const fs::path graphics = gSpoolFolders().root / pipeline::kGraphicsFolderName;
  ASSERT_TRUE(fs::is_directory(graphics));
  fs::create_symlink(outside / "sub", graphics / "Linked Category");
  fs::create_symlink(outside / "sub", gSpoolFolders().images / "linked folder");
  fs::create_symlink(outside / "keep.txt", gSpoolFolders().unknown / "linked.trpr");
  fs::create_symlink(outside / "gone", gSpoolFolders().finished / "dangling.trpr");

  gAlertAnswer = 1;
  gApp->DoMenuCommand(cClearAll);
  EXPECT_TRUE(fs::exists(outside / "sub" / "keep.jpg"));
  EXPECT_TRUE(fs::exists(outside / "keep.txt"));
  std::error_code ec;
  for (const fs::path& link : {graphics / "Linked Category", gSpoolFolders().images / "linked folder",
                               gSpoolFolders().unknown / "linked.trpr", gSpoolFolders().finished / "dangling.trpr"})
    EXPECT_FALSE(fs::exists(fs::symlink_status(link, ec))) << link;
}

TEST_F(AppTest, ClearingIsRefusedWhilePrintingWhateverSendsTheCommand) {
  TouchFile(gSpoolFolders().unknown / "old.trpr", 5);
  c_->EnableBackgroundPrinting(true);
  c_->Runner()->SetActive(false);
  gAlertAnswer = 1;
  auto* pop = c_->GetStatusWindow()->FindSubView<TPopup>(FourCC("pop1"));
  pop->SetCurrentItem(5);
  c_->GetStatusWindow()->DoEvent(mPopupHit, pop, nullptr);
  gApp->DoMenuCommand(cClearAll);
  EXPECT_TRUE(fs::exists(gSpoolFolders().unknown / "old.trpr"));
  ASSERT_FALSE(gAlerts.empty());
  EXPECT_NE(gAlerts.back().second.find("while printing is paused"), std::string::npos) << gAlerts.back().second;
  c_->EnableBackgroundPrinting(false);
  fs::remove(gSpoolFolders().unknown / "old.trpr");
}

TEST_F(AppTest, AFailedJobWhoseAlertIsDismissedIsNotStranded) {
  for (int16_t answer : {int16_t(0), int16_t(2), int16_t(3), int16_t(99)}) {
    gAlertAnswer = answer;
    EXPECT_EQ(c_->Services().AskWhatToDoWithFailedJob("j.trpr"), 5) << answer;
  }
  gAlertAnswer = 1;
  EXPECT_EQ(c_->Services().AskWhatToDoWithFailedJob("j.trpr"), 1);
  gAlertAnswer = 6;
  EXPECT_EQ(c_->Services().AskWhatToDoWithFailedJob("j.trpr"), 6);
  ASSERT_FALSE(gAlerts.empty());
  EXPECT_NE(gAlerts.back().second.find("What should happen to its job file?\nJob file: j.trpr"), std::string::npos)
      << "the alert keeps its text and names the job in its detail line: " << gAlerts.back().second;
}

TEST_F(AppTest, ProgressStartAndTitleBringTheWindowToTheFrontAndAMissingResourceThrows) {
  ASSERT_NE(gProgressIndicator, nullptr);
  gProgressIndicator->Start(10, 9002, "Saving", 0);
  gProgressIndicator->Stop();
  TWindow* other = NewTemplateWindow(int16_t(9003));
  ASSERT_NE(other, nullptr);
  other->Open();
  ASSERT_EQ(TWindow::WindowsFrontToBack().front(), other);
  gProgressIndicator->Start(10, 9002, "Saving", 0);
  EXPECT_EQ(TWindow::WindowsFrontToBack().front(), gProgressIndicator->Window());
  EXPECT_FALSE(gProgressIndicator->IsVisible()) << "in front, yet not shown while the controller exists";
  other->Open();
  gProgressIndicator->SetTitle("Saving Again");
  EXPECT_EQ(TWindow::WindowsFrontToBack().front(), gProgressIndicator->Window());
  gProgressIndicator->Stop();
  other->Close();

  TMyProgressIndicator lone;
  EXPECT_THROW(lone.IProgressIndicator(4711), CException_AC);
  try {
    gProgressIndicator->SetProgressWindowResourceID(1001);  // a window, but no progress window
    ADD_FAILURE() << "no error";
  } catch (const CException_AC& e) {
    EXPECT_EQ(e.GetError(), resNotFound);
  }
  gProgressIndicator->SetProgressWindowResourceID(9002);
  ASSERT_NE(gProgressIndicator->Window(), nullptr);
}

TEST_F(AppTest, ProgressWindowStaysHiddenWhileTheControllerExists) {
  ASSERT_NE(gProgressIndicator, nullptr);
  gProgressIndicator->Start(100, 9002, "Saving", 0);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(gProgressIndicator->Continue(10));
  EXPECT_FALSE(gProgressIndicator->IsVisible());
  gProgressIndicator->SetStatus("Reading Job File");
  EXPECT_EQ(Status(), "Reading Job File");
  // Long loops idle its open-ended bar through the installed idle step.
  gProgressIndicator->Start(-1, 9002, "Saving", 0);
  ASSERT_TRUE(gProgressIndicator->Window()->Bar()->IsIndeterminate());
  myIdleProgress();
  EXPECT_FALSE(gProgressIndicator->IsVisible());
  gProgressIndicator->Stop();
}

TEST_F(AppTest, EscapeOnTheProgressWindowStopsTheOperationUntilTheNextStart) {
  ASSERT_NE(gProgressIndicator, nullptr);
  TProgressWindow* w = gProgressIndicator->Window();
  ASSERT_NE(w, nullptr);
  gProgressIndicator->Start(100, 9002, "Saving", 0);
  EXPECT_FALSE(gProgressIndicator->Continue(1));
  // A typed Escape reaches the window through the event loop.
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QString(QChar(27)));
  QApplication::sendEvent(w->GetWidget(), &escape);
  EXPECT_TRUE(gProgressIndicator->Continue(1));
  EXPECT_TRUE(gProgressIndicator->Continue(1));
  gProgressIndicator->Start(100, 9002, "Saving", 0);
  EXPECT_FALSE(gProgressIndicator->Continue(1));
  // Other keys stop nothing.
  QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QApplication::sendEvent(w->GetWidget(), &a);
  EXPECT_FALSE(gProgressIndicator->Continue(1));
  gProgressIndicator->Stop();
}

TEST_F(AppTest, ErrorLogWindowShowsWholeRowsOnly) {
  const fs::path file = gBase / "app" / "Error Log File";
  std::string bytes(600, '\0');
  bytes[0] = 5;
  bytes.replace(1, 5, "first");
  bytes[257] = 6;
  bytes.replace(258, 6, "second");
  std::ofstream(file, std::ios::binary) << bytes;
  TWindow* w = NewTemplateWindow(1005);
  ASSERT_NE(w, nullptr);
  auto* view = w->FindSubView<TErrorListView>(FourCC("errs"));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->GetNumRows(), 2);
  EXPECT_EQ(view->GetItemText(1).ToUTF8(), "first");
  EXPECT_EQ(view->GetItemText(2).ToUTF8(), "second");
  w->Close();

  // A link put at the name is not read through: the rows it leads to are
  // not shown.
  const fs::path outside = gBase / "outside rows";
  fs::rename(file, outside);
  fs::create_symlink(outside, file);
  w = NewTemplateWindow(1005);
  ASSERT_NE(w, nullptr);
  view = w->FindSubView<TErrorListView>(FourCC("errs"));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->GetNumRows(), 0);
  EXPECT_TRUE(view->GetItemText(1).ToUTF8().empty());
  w->Close();
  fs::remove(file);
}

TEST_F(AppTest, StatusWindowGrabShowsTheStatusLineAndTheJobList) {
  TouchFile(Jobs() / "Portrait Order 7.trpr", 5);
  Rescan();
  c_->EnableBackgroundPrinting(true);
  c_->EnableBackgroundPrinting(false);
  TWindow* w = c_->GetStatusWindow();
  ASSERT_TRUE(w->IsShown());
  auto darkIn = [](QWidget* widget) {
    QImage image = widget->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (qGray(image.pixel(x, y)) < 100) ++n;
    return n;
  };
  EXPECT_EQ(Status(), kPausedStatus);
  EXPECT_GT(darkIn(w->FindSubView(FourCC("stat"))->GetWidget()), 30);
  EXPECT_GT(darkIn(w->FindSubView(FourCC("jobs"))->GetWidget()), 30);
  // An empty status line draws nothing dark.
  c_->SetStatus("");
  EXPECT_LT(darkIn(w->FindSubView(FourCC("stat"))->GetWidget()), 5);
  // A status longer than a length-prefixed string is kept whole, and one
  // wider than its line is there in the line's tool tip.
  const std::string longer = std::string(300, 'x') + " \xE2\x82\xAC end";
  c_->SetStatus(longer);
  EXPECT_EQ(Status(), longer);
  EXPECT_EQ(w->FindSubView(FourCC("stat"))->GetWidget()->toolTip().toStdString(), longer);
  c_->SetStatus(kPausedStatus);
  EXPECT_TRUE(w->FindSubView(FourCC("stat"))->GetWidget()->toolTip().isEmpty());
}

// A job for print-to-file set 1 with its photos in the images folder, written
// into the print-jobs folder as an old, settled file.
void DropPhotoJob(const std::string& name, jobwriter::TJobDescription job) {
  job.printer = 25;
  job.blocks.print2File.setNumber = 1;
  const fs::path file = gSpoolFolders().jobs / name;
  ASSERT_TRUE(jobwriter::WriteJobFile(job, file));
  fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::seconds(10));
}

// A red page 200 wide and 300 high.
host::GWorldHandle RedPage() {
  host::GWorldHandle g = host::GWorld::Create(CLongRect_AC(0, 0, 300, 200));
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 200; ++x) {
      uint8_t* p = g->scanline(y) + 4 * x;
      p[0] = 255, p[1] = 230, p[2] = 10, p[3] = 10;
    }
  return g;
}

void WriteRedPhoto(const std::string& name) {
  ASSERT_TRUE(host::WriteImageFile(*RedPage(), gSpoolFolders().images / name, host::ImageFormat::kJpeg).ok());
}

// Red pixels in a grab of a widget.
int RedPixels(QWidget* widget) {
  const QImage image = widget->grab().toImage();
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y);
      if (qRed(c) > 180 && qGreen(c) < 80 && qBlue(c) < 80) ++n;
    }
  return n;
}

// Red pixels in a grab of a view of the status window.
int RedIn(TView* view) { return RedPixels(view->GetWidget()); }

TEST_F(AppTest, ThePageBeingPrintedShowsInTheStatusWindowAndItsPhotosGoAfterTheJob) {
  // The controller owns the one task manager and publishes it.
  EXPECT_EQ(pipeline::gPrintJobTaskManager, &c_->TaskManager());
  WriteRedPhoto("Preview.jpg");
  jobwriter::TJobDescription job;
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Preview.jpg", 0, 0, 2, 3))));
  DropPhotoJob("preview.trpr", job);
  Rescan();
  c_->EnableBackgroundPrinting(true);
  c_->Runner()->SetActive(false);  // the test takes the steps
  TView* preview = c_->GetStatusWindow()->FindSubView(FourCC("imag"));
  ASSERT_NE(preview, nullptr);
  EXPECT_LT(RedIn(preview), 10);
  auto& tm = c_->TaskManager();
  for (int i = 0; i < 10 && tm.CurrentTask() != 3; ++i) tm.DoNextTask();
  ASSERT_EQ(tm.CurrentTask(), 3);
  // The drawn page is in the preview, the job's printer and file beside it.
  EXPECT_GT(RedIn(preview), 500);
  ASSERT_EQ(tm.GetCurrentImageFileFSSpec().filename(), "Preview.jpg");
  EXPECT_EQ(Text(FourCC("prnt"))->GetText().ToUTF8(), "Print to File Set 1");
  EXPECT_EQ(Text(FourCC("crjb"))->GetText().ToUTF8(), "preview.trpr");
  for (int i = 0; i < 5 && tm.CurrentTask() != 0; ++i) tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 0);
  // The job is over: its photo is deleted, the preview cleared and no
  // printer, job or template is named any more.
  EXPECT_FALSE(fs::exists(gSpoolFolders().images / "Preview.jpg"));
  EXPECT_LT(RedIn(preview), 10);
  for (IDType id : {FourCC("prnt"), FourCC("crjb"), FourCC("tmpn"), FourCC("pkgn")})
    EXPECT_EQ(Text(id)->GetText().ToUTF8(), "") << FourCCToString(id);
  c_->EnableBackgroundPrinting(false);
}

// Runs the event loop until `done`, for at most five seconds.
bool RunEventsUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 250 && !done(); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

// Records the text a label showed each time it was painted.
class PaintedTexts : public QObject {
 public:
  explicit PaintedTexts(QLabel* label) : label_(label) { label->installEventFilter(this); }
  ~PaintedTexts() override { label_->removeEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && (texts.empty() || texts.back() != label_->text().toStdString()))
      texts.push_back(label_->text().toStdString());
    return false;
  }
  bool Saw(const std::string& text) const { return std::find(texts.begin(), texts.end(), text) != texts.end(); }
  std::vector<std::string> texts;

 private:
  QLabel* label_;
};

TEST_F(AppTest, TheStatusWindowShowsTheStepUnderWayAndThePhotoBeingDrawnAsTheyHappen) {
  WriteRedPhoto("Bride and Groom.jpg");
  jobwriter::TJobDescription job;
  job.objects.push_back(
      jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("Bride and Groom.jpg", 0, 0, 2, 3))));
  DropPhotoJob("wedding.trpr", job);
  Rescan();
  c_->EnableBackgroundPrinting(true);
  c_->Runner()->SetActive(false);  // the test takes the steps, with no event loop between them
  auto* stat = qobject_cast<QLabel*>(Text(FourCC("stat"))->GetWidget());
  auto* imgn = qobject_cast<QLabel*>(Text(FourCC("imgn"))->GetWidget());
  ASSERT_NE(stat, nullptr);
  ASSERT_NE(imgn, nullptr);
  PaintedTexts status(stat), image(imgn);
  // The window is on screen (exposed) as in the running program.
  ASSERT_TRUE(RunEventsUntil([&] { return stat->window()->windowHandle() && stat->window()->windowHandle()->isExposed(); }));
  auto& tm = c_->TaskManager();
  tm.DoNextTask();
  ASSERT_EQ(tm.CurrentTask(), 1) << "the job is read";
  // A job dropped while this one is in work joins the waiting list at once.
  TouchFile(Jobs() / "next in line.trpr", 10);
  for (int i = 0; i < 10 && tm.CurrentTask() != 3; ++i) tm.DoNextTask();
  ASSERT_EQ(tm.CurrentTask(), 3);
  auto* list = c_->GetStatusWindow()->FindSubView<TJobsListView>(FourCC("jobs"));
  EXPECT_EQ(list->GetNumRows(), 1);
  EXPECT_EQ(list->GetItemText(1).ToUTF8(), "next in line.trpr");
  // What the window showed while the steps ran, not only what it holds now.
  EXPECT_TRUE(status.Saw("Reading Job File")) << testing::PrintToString(status.texts);
  EXPECT_TRUE(status.Saw("Reading Image")) << testing::PrintToString(status.texts);
  EXPECT_TRUE(status.Saw("Drawing Image\xE2\x80\xA6")) << testing::PrintToString(status.texts);
  EXPECT_TRUE(image.Saw("Bride and Groom.jpg")) << testing::PrintToString(image.texts);
  EXPECT_EQ(imgn->text().toStdString(), "Bride and Groom.jpg") << "the drawn photo stays named beside its page";
  for (int i = 0; i < 5 && tm.CurrentTask() != 0; ++i) tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_EQ(imgn->text().toStdString(), "") << "the job is over";
  c_->EnableBackgroundPrinting(false);
  fs::remove(AllFiles() / "next in line.trpr");
}

TEST_F(AppTest, HideThePagePreviewHidesItWhenTheWindowActivates) {
  TWindow* w = c_->GetStatusWindow();
  auto* window = dynamic_cast<TBackgroundPrintWindow*>(w);
  ASSERT_NE(window, nullptr);
  host::GWorldHandle page = RedPage();
  c_->SetImage(page.get(), "Page.jpg");
  auto redInWindow = [&] {
    w->GetWidget()->show();
    return RedPixels(w->GetWidget());
  };
  EXPECT_GT(redInWindow(), 500);

  getMyPrintServerPrefs()->hideImage = 1;
  window->Activate(true);
  EXPECT_FALSE(w->FindSubView(FourCC("imag"))->IsShown());
  EXPECT_LT(redInWindow(), 10);
  // A page drawn while it is hidden stays out of sight.
  c_->SetImage(page.get(), "Page.jpg");
  EXPECT_LT(redInWindow(), 10);

  getMyPrintServerPrefs()->hideImage = 0;
  window->Activate(true);
  EXPECT_GT(redInWindow(), 500);
  c_->SetImage(nullptr, "");
}

TEST_F(AppTest, PausingWhileTheSubJobIsDrawnKeepsTheJobAndHandsItsFilesToTheController) {
  WriteRedPhoto("SubA.jpg");
  WriteRedPhoto("SubB.jpg");
  jobwriter::TJobDescription job;
  job.hasSubJob = true;
  job.subJobWidth = 2;
  job.subJobHeight = 3;
  for (const char* photo : {"SubA.jpg", "SubB.jpg"})
    job.subJobObjects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(photo, 0, 0, 2, 3))));
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("SubA.jpg", 0, 0, 2, 3))));
  DropPhotoJob("subjob.trpr", job);
  Rescan();
  c_->EnableBackgroundPrinting(true);
  c_->Runner()->SetActive(false);
  auto& tm = c_->TaskManager();
  tm.DoNextTask();  // picked up and read
  ASSERT_EQ(tm.CurrentTask(), 1);
  // Paused before the sub-job is drawn: the controller's switch is read
  // after the first sub-job object, and the job goes back to the queue.
  c_->EnableBackgroundPrinting(false);
  tm.DoNextTask();
  EXPECT_EQ(tm.CurrentTask(), 0);
  EXPECT_FALSE(tm.JobFile().has_value());
  EXPECT_EQ(Queued(), 1u);
  ASSERT_EQ(c_->FilesToDelete().size(), 1u);
  EXPECT_EQ(c_->FilesToDelete().front().filename(), "SubA.jpg");
  // Nothing was printed or deleted.
  EXPECT_TRUE(fs::exists(gSpoolFolders().images / "SubA.jpg"));
  EXPECT_TRUE(fs::exists(gSpoolFolders().images / "SubB.jpg"));
}

TEST_F(AppTest, ANewJobDroppedWhileAPageIsDrawnJoinsTheJobList) {
  auto* list = c_->GetStatusWindow()->FindSubView<TJobsListView>(FourCC("jobs"));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->GetNumRows(), 0);
  TouchFile(Jobs() / "late.trpr", 10);
  c_->Services().RescanBetweenObjects();
  EXPECT_EQ(Queued(), 1u);
  EXPECT_EQ(list->GetNumRows(), 1);
}

TEST_F(AppTest, ThePrintCentreCommandIsAnArgumentVectorFromTheUserDefaults) {
  auto& defaults = host::UserDefaults::standard();
  defaults.set(kPrintCenterCommandKey, host::PlistArray{host::PlistValue("/usr/bin/true"), host::PlistValue("-g")});
  defaults.set(kOlderPrintCenterCommandKey, host::PlistArray{host::PlistValue("/usr/bin/true"), host::PlistValue(3)});
  EXPECT_EQ(PrintCenterCommand(kPrintCenterCommandKey), (std::vector<std::string>{"/usr/bin/true", "-g"}));
  // Anything but an array of strings is no command.
  EXPECT_TRUE(PrintCenterCommand(kOlderPrintCenterCommandKey).empty());
  EXPECT_TRUE(PrintCenterCommand("no such key").empty());
  defaults.remove(kPrintCenterCommandKey);
  defaults.remove(kOlderPrintCenterCommandKey);
}

// Runs last: the quit request ends the application's loop.
TEST_F(AppTest, PendingEntriesGoOneByOneToDoPrintOnlyWhilePrinting) {
  c_->AddPending("/nowhere/one.trpr");
  c_->AddPending("/nowhere/two.trpr");
  EXPECT_FALSE(c_->DoIdle(idleContinue));
  EXPECT_EQ(c_->PendingCount(), 2u) << "paused: nothing is taken";
  c_->EnableBackgroundPrinting(true);
  c_->Runner()->SetActive(false);
  c_->DoIdle(idleBegin);
  EXPECT_EQ(c_->PendingCount(), 2u) << "only the continuing idle phase takes an entry";
  c_->DoIdle(idleContinue);
  EXPECT_EQ(c_->PendingCount(), 1u);
  c_->DoIdle(idleContinue);
  c_->DoIdle(idleContinue);
  EXPECT_EQ(c_->PendingCount(), 0u);
  EXPECT_TRUE(c_->DoPrint("/nowhere/three.trpr"));
  EXPECT_TRUE(gAlerts.empty()) << "printing an entry shows nothing";
  c_->EnableBackgroundPrinting(false);
}

TEST_F(AppTest, QuitRequestIsRefusedWhilePrintingHasWorkAndAcceptedWhenIdle) {
  TouchFile(Jobs() / "waiting.trpr", 5);
  Rescan();
  c_->EnableBackgroundPrinting(true);
  c_->Runner()->SetActive(false);  // keep the job waiting
  gApp->DeliverQuitRequest();
  EXPECT_FALSE(gApp->IsQuitting());
  ASSERT_FALSE(gAlerts.empty());
  EXPECT_NE(gAlerts.back().second.find("BUSY"), std::string::npos);

  c_->EnableBackgroundPrinting(false);  // paused: quitting is allowed with a job waiting
  gApp->DeliverQuitRequest();
  EXPECT_TRUE(gApp->IsQuitting());
}

}  // namespace

// ---- the statistics window

namespace {

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(AppTest, StatisticsWindowShowsTheCountsAndWritesTheReport) {
  const fs::path root = output::PrintCountFolder();
  ASSERT_FALSE(root.empty());
  for (const char* name : {"Kivo-Processor Count", "Kivo-X Count"}) fs::remove(root / name);
  for (const auto& e : fs::directory_iterator(root))
    if (e.path().filename().string().rfind("Kivo-Processor Count", 0) == 0) fs::remove(e.path());
  output::addToPrintCount(3, output::kCountSystemPrinter, 8, 4, "Portrait");
  output::addToPrintCount(2, output::kCountPrintCenter, 30, 5, "Portrait");
  output::addToPrintCount(1, output::kCountPrintToFile, 17, 2, "Portrait");

  // The menu command opens the window modally; headless it is answered at once.
  const size_t windows = TWindow::AllWindows().size();
  EXPECT_TRUE(gApp->DoMenuCommand(cPrintStatistics));
  EXPECT_EQ(TWindow::AllWindows().size(), windows);

  auto* w = dynamic_cast<TPrintCountWindow*>(NewTemplateWindow(kPrintCountWindowID));
  ASSERT_NE(w, nullptr);
  w->Open();
  // Columns: 1 direct printers, 2 print to file, 6 system printer.
  for (int row : {2, 4, 5, 6, 8, 9}) {
    EXPECT_EQ(w->Field(row, 1), 2) << row;
    EXPECT_EQ(w->Field(row, 2), 1) << row;
    EXPECT_EQ(w->Field(row, 6), 3) << row;
  }
  for (int row : {1, 3, 7}) EXPECT_EQ(w->Field(row, 6), 0) << row;
  QImage grab = w->FindSubView(FourCC("r26 "))->GetWidget()->grab().toImage();
  int dark = 0;
  for (int y = 0; y < grab.height(); ++y)
    for (int x = 0; x < grab.width(); ++x) dark += qGray(grab.pixel(x, y)) < 100;
  EXPECT_GT(dark, 5) << "the count is drawn";

  const output::LongDateTime today = w->ShownDay();
  w->DoEvent(0, w->FindSubView(FourCC("next")), nullptr);
  EXPECT_EQ(w->ShownDay(), today) << "never a day after today";
  w->DoEvent(0, w->FindSubView(FourCC("prev")), nullptr);
  EXPECT_EQ(w->ShownDay(), today - 86400);
  EXPECT_EQ(w->Field(8, 6), 0);
  w->ShowDateTotals(today, today - 86400);
  EXPECT_EQ(w->Field(9, 6), 0) << "a range ending before it starts adds nothing";
  w->ShowDateTotals(today - 86400, today);
  EXPECT_EQ(w->Field(8, 6), 3);

  const fs::path report = gBase / "report.txt";
  ASSERT_TRUE(w->WriteReport(true, report));
  const std::string date = getCurrentDateString(2).ToUTF8();
  EXPECT_EQ(ReadAll(report), date + "\tSystem Printer\t\t3\t3\r" + date + "\tPrint to File\t\t1\t1\r" + date +
                                 "\tPhoto Printer 30\t\t2\t2\r");
  const fs::path empty = gBase / "empty.txt";
  ASSERT_TRUE(w->WriteReport(false, empty));
  EXPECT_EQ(ReadAll(empty), "");

  // A report that cannot be written is not skipped in silence: the operator
  // is told where and why.
  const fs::path plain = gBase / "plain file";
  std::ofstream(plain) << "x";
  const fs::path readOnly = gBase / "read-only";
  fs::create_directories(readOnly);
  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
  struct Case {
    fs::path file;
    const char* why;
  };
  std::vector<Case> cases = {{gBase / "no such folder" / "r.txt", "its folder does not exist"},
                             {plain / "r.txt", "its folder does not exist"}};
  if (geteuid() != 0) cases.push_back({readOnly / "r.txt", "its folder cannot be written"});
  for (const Case& c : cases) {
    gAlerts.clear();
    EXPECT_FALSE(w->WriteReport(true, c.file));
    ASSERT_EQ(gAlerts.size(), 1u) << c.file;
    EXPECT_NE(gAlerts.back().second.find("The statistics report could not be written to \"" + c.file.string() +
                                         "\": " + c.why + "."),
              std::string::npos)
        << gAlerts.back().second;
    EXPECT_FALSE(fs::exists(c.file));
  }
  fs::permissions(readOnly, fs::perms::owner_all, fs::perm_options::replace);

  // Reset: only item 3 of alert 1063 clears the all-time counts.
  gAlertAnswer = 1;
  w->DoEvent(0, w->FindSubView(FourCC("rset")), nullptr);
  output::tPrintQuantityInfo all;
  ASSERT_EQ(output::getPrintCount(&all, true, false), 0);
  EXPECT_EQ(all.chooser, 3);
  gAlertAnswer = 3;
  w->DoEvent(0, w->FindSubView(FourCC("rset")), nullptr);
  ASSERT_EQ(output::getPrintCount(&all, true, false), 0);
  EXPECT_EQ(all.chooser, 0);
  EXPECT_EQ(w->Field(4, 6), 0);
  EXPECT_EQ(w->Field(2, 6), 3) << "today's counts stay";
  w->Close();
}

}  // namespace
