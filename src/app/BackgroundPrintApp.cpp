#include "app/BackgroundPrintApp.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "app/AboutWindow.h"
#include "app/AppServices.h"
#include "app/NewAboutBoxController.h"
#include "app/PrintBGBehavior.h"
#include "app/PrintCountWindow.h"
#include "app/ProgressIndicator.h"
#include "app/SpoolQueue.h"
#include "app/StatusWindow.h"
#include "host/files/Alias.h"
#include "host/sys/Folders.h"
#include "host/sys/SystemInfo.h"
#include "host/ui/Alerts.h"
#include "host/ui/ViewServer.h"
#include "imaging/ImageLoading.h"
#include "imaging/ImageWriters.h"
#include "layout/Objects.h"
#include "host/ui/Widgets.h"
#include "output/Notifications.h"
#include "pipeline/Leftovers.h"
#include "pipeline/PrinterHandOff.h"
#include "pipeline/PrintedJobs.h"
#include "pipeline/SpoolFolders.h"
#include "platform/DiagnosticLog.h"
#include "platform/FileServices.h"
#include "platform/FolderLookup.h"
#include "platform/FolderSpecs.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/Polling.h"
#include "platform/ShellCommands.h"
#include "prefs/FolderAliases.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefExport.h"
#include "prefs/PrefStore.h"
#include "prefs/PreferencesWindow.h"

namespace app {

namespace fs = std::filesystem;

int16_t appvRefNum = 0;
int32_t appDirID = 0;
int16_t gPackAppvRefNum = 0;
int32_t gPackAppDirID = 0;
CStr31_AC gLastCategory;
tRecordStruct myDbTempStruct{};

namespace {

constexpr int16_t kClearAlert = 1002;
constexpr int16_t kProgressWindow = 9002;

// A folder of the records: found again through its stored alias, else
// where the record points.
bool FolderResolves(tFolderFSSpec& folder) {
  if (validateIfAliasHandle(&folder)) return true;
  return !FolderPathOfSpec(folder.spec).empty();
}

// The path of a configured folder as the operator named it (its alias), so
// that the start-up check sees every link on the way; else as found.
fs::path OutputFolderPath(const tFolderFSSpec& folder) {
  if (auto alias = ReadAliasHandle(folder.aliasID)) {
    std::string path;
    if (host::ResolveAlias(*alias, &path) == noErr) return path;
  }
  return FolderPathOfSpec(folder.spec);
}

// Creates (or finds) `name` in the application folder and makes it `folder`.
fs::path UseDefaultFolder(tFolderFSSpec& folder, const char* name) {
  const fs::path path = CreateOrFindFolder(host::applicationFolder(), name);
  if (path.empty()) {
    platform::LogF("The folder \"%s\" could not be created", name);
    return {};
  }
  const FSSpec spec = FolderSpecOfPath(path);
  if (spec.vRefNum == kNoFolderVRefNum) return {};
  folder.spec = spec;
  folder.volumeName = CStr31_AC();
  SaveFSSpecAsAliasHandle(&folder);
  return path;
}

TPrintBGBehavior* Controller() { return GetPrintBGBehavior(); }

bool StepRunning() {
  TPrintBGBehavior* c = Controller();
  return c && c->IsStepRunning();
}

}  // namespace

FSSpec FolderSpecOfPath(const fs::path& folder) {
  FSSpec none{kNoFolderVRefNum, kNoFolderDirID, CStr63_AC()};
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(folder, ec)) return none;
  const FSSpec usual = NSStringFilePathToFSSpec(folder.string());
  const int32_t id = GetFolderDirID(usual);
  if (id <= 0) return none;
  return FSSpec{usual.vRefNum, id, CStr63_AC()};
}

void InitMacAppClasses() {
  host::RegisterWidgetClasses();
  layout::RegisterLayoutObjectClasses();
  RegisterStatusWindowClasses();
  RegisterAboutWindowClasses();
  RegisterNewAboutBoxClasses();
  RegisterProgressWindowClasses();
  RegisterPrintCountWindowClasses();
  RegisterPreferencesClasses();
  RegisterProcessorClasses();
}

std::vector<host::MenuDef> TBackgroundPrintApp::MenuTable() {
  using host::MenuItemDef;
  return {
      {1, "Kivo-Processor", {MenuItemDef("About Kivo-Processor…", cAboutApp), MenuItemDef(),
                             MenuItemDef("Quit", cQuit, "Ctrl+Q")}},
      {1023,
       "Processor",
       {MenuItemDef("Start", cStartPauseCommand, "Ctrl+R"), MenuItemDef(), MenuItemDef("Preferences…", cPreferences),
        MenuItemDef("Export Preferences…", cExportPrefs), MenuItemDef("Import Preferences…", cImportPrefs),
        MenuItemDef(), MenuItemDef("Clear Print Jobs Folder…", cClearJobs),
        MenuItemDef("Clear Unknown Jobs Folder…", cClearUnknown), MenuItemDef("Clear Images Folder…", cClearImages),
        MenuItemDef("Clear All Folders…", cClearAll), MenuItemDef(), MenuItemDef("Print Statistics…", cPrintStatistics)}},
  };
}

TBackgroundPrintApp::TBackgroundPrintApp(StartupOptions options)
    : TApplication(FourCC("TEXT"), kAppCreator), options_(options) {}

TBackgroundPrintApp::~TBackgroundPrintApp() {
  // Only the copy that installed the agent removes it: a copy that was
  // refused because another one runs must leave that one's agent alone.
  if (launchAgentInstalled_) unloadLaunchAgentPlist();
  host::WithdrawProgramObject();
  // The controller's window and job runner go before the framework.
  if (TBehavior* c = GetBehaviorWithIdentifier(kPrintBGBehaviorID)) RemoveBehavior(c);
  platform::SetProgressIdleHook({});
  delete gProgressIndicator;
  gProgressIndicator = nullptr;
}

void TBackgroundPrintApp::DoInitialState() {
  if (options_.setupLogs) {
    SVLogFileManager::setupLogFile();
    SVLogFileManager::deleteLogsForDaysOld(7.0);
  }
  if (!host::DisplayFallbackNote().empty()) platform::LogLine(host::DisplayFallbackNote());
  std::printf("TBackgroundPrintApp::DoInitialState\n");
  std::fflush(stdout);
  TApplication::DoInitialState();
  if (!IBackgroundPrintApp()) Quit();
}

bool TBackgroundPrintApp::IBackgroundPrintApp() {
  // 1. One copy only.
  // The runtime folder's lock keeps one copy per session; the lock on the
  // application folder keeps one copy per spool tree, whatever the runtime
  // folder of the copy (one started from cron or an ssh shell has another);
  // the lock on the configuration folder keeps copies and preference
  // imports from writing one set of user defaults at once.
  // Which lock the other copy holds, and who it is, for the operator.
  std::string held;
  auto heldBy = [&held](const host::RunningCopyLock& lock, const std::string& what) {
    if (lock.status() != host::RunningCopyLock::Status::AlreadyRunning) return false;
    held = "Kivo-Processor is already running" + (lock.holder().empty() ? std::string() : " as " + lock.holder()) +
           ": it holds the lock on " + what + ".";
    return true;
  };
  const fs::path runtimeLock = host::RunningCopyLock::defaultLockFile();
  lock_.emplace(host::RunningCopyLock::acquire(runtimeLock));
  bool another = heldBy(*lock_, runtimeLock.string() + " (one processor per user session)");
  if (lock_->status() == host::RunningCopyLock::Status::Failed)
    platform::LogF("The running-copy check could not be made: %s", lock_->message().c_str());
  if (!another && host::ensureApplicationFolder(nullptr)) {
    folderLock_.emplace(host::RunningCopyLock::acquireFolder(host::applicationFolderPath()));
    another = heldBy(*folderLock_,
                     "the application folder " + host::applicationFolderPath().string() + " (one processor per folder)");
    if (folderLock_->status() == host::RunningCopyLock::Status::Failed)
      platform::LogF("The application folder could not be locked: %s", folderLock_->message().c_str());
  }
  if (!another) {
    configLock_.emplace(host::RunningCopyLock::acquireConfiguration());
    another = heldBy(*configLock_, "the user defaults in " + host::configFolder().string() +
                                       " (one processor per set of user defaults)");
    if (configLock_->status() == host::RunningCopyLock::Status::Failed)
      platform::LogF("The configuration folder could not be locked: %s", configLock_->message().c_str());
  }
  SetAnotherCopyRunning(another);
  if (isAppRunning(kAppCreator) >= 2) {
    exitCode_ = options_.fromService ? 0 : 1;
    const std::string text = std::string(kAlreadyRunningMessage) + (held.empty() ? "" : "\n" + held);
    if (options_.fromService) {
      platform::LogLine(text);
    } else {
      // Whoever started this copy learns why it ends, with or without a
      // window to show the message in.
      SVLogFileManager::tellConsole(text);
      // The lock and its holder stand on a line of their own under the text.
      host::SetAlertDetailLine(held);
      DisplayNormalMessage(kAlreadyRunningMessage);
      host::SetAlertDetailLine({});
    }
    return false;
  }

  // The spool tree, the preferences folder and the output folders all live
  // in the application folder: without it nothing can ever print.
  if (std::string why; !host::ensureApplicationFolder(&why)) {
    SVLogFileManager::tellConsole("Kivo-Processor cannot start: " + why);
    exitCode_ = 1;
    return false;
  }
  // Everything the program keeps lies below it: checked (no other user may
  // change it or a folder above it) and held open for the whole run.
  if (!HoldForRun(host::applicationFolder(), host::FolderUse::kState)) return RefuseStart();

  // 2. Classes and preferences; the splash shows what start-up does until it ends.
  InitMacAppClasses();
  struct Splash {
    TWindow* window = ShowStartUpSplash();
    ~Splash() { CloseStartUpSplash(window); }
  } splash;
  myNewReadPreferences();
  InstallMenus(MenuTable());
  platform::SetApplicationPollHook([] { host::UpdateAllWindows(); });
  connectPollingToPrintServerPrefs();

  // 3. The application folder.
  const fs::path appFolder = host::applicationFolder();
  const FSSpec appSpec = FolderSpecOfPath(appFolder);
  appvRefNum = appSpec.vRefNum;
  appDirID = appSpec.parID;
  gPackAppvRefNum = appvRefNum;
  gPackAppDirID = appDirID;

  // 4-9. Spool root and output folders.
  ResolveFolders();
  // Another processor works on the same spool folder (its own application
  // folder, the same spool root): this one ends as a second copy does.
  if (const std::string refusal = pipeline::SpoolFolderRefusal(); !refusal.empty()) {
    exitCode_ = options_.fromService ? 0 : 1;
    if (!options_.fromService) {
      SVLogFileManager::tellConsole(refusal);
      DisplayNormalMessage(refusal);
    }
    return false;
  }
  if (!startRefusal_.empty()) return RefuseStart();

  // 10-12.
  myNewSavePreferences();
  CheckForSpecialStartup();
  const fs::path prefsFolder = CreateOrFindFolder(appFolder, imaging::kPreferencesFolderName);
  HoldForRun(prefsFolder, host::FolderUse::kState);
  gKivoPrefsFSSpec = FolderSpecOfPath(prefsFolder);
  if (const std::string own = imaging::PrivateFolderPath(); !own.empty()) HoldForRun(own, host::FolderUse::kState);
  if (!startRefusal_.empty()) return RefuseStart();
  // The record of printed jobs is read before any job is taken: a record
  // that cannot tell what the jobs waiting printed holds them.
  pipeline::OpenPrintedJobsRecord();
  // What a killed run left half written goes before any job runs.
  pipeline::SweepLeftoversOfEarlierRuns();

  // 13. The controller comes from the event loop, after start-up returns.
  PostCommand(std::make_unique<TPostMenuCommand>(cStartUp, 0));
  if (!options_.files.empty()) OpenOld(cOpenOld, options_.files);

  // 14-16.
  // This system passes the program's system check.
  setIsOSXVersion(true);
  SVLogFileManager::writeStartupHeaderToLogFile();
  SVLogFileManager::writeToLogFile("\n");
  platform::LogF("Running on %s", host::systemVersionText().c_str());
  static AppNotificationServices notificationServices;
  output::setupNotificationCenter(notificationServices);
  // Another program's quit request arrives on the same bus.
  host::PublishProgramObject(host::ProgramBusName(), [this] { return DecideQuitRequest(); });
  RemoveMenuItem(1023, 11);

  // 17. Started again at login and after a crash, where the operator asks for it.
  if (systemVersionIsGreaterOrEqualThen10()) launchAgentInstalled_ = loadLaunchAgentPlist();
  return true;
}

bool TBackgroundPrintApp::HoldForRun(const fs::path& path, host::FolderUse use) {
  if (path.empty()) return true;
  host::FolderRefusal refusal;
  if (host::HoldFolder(path.string(), use, &refusal)) return true;
  if (startRefusal_.empty()) startRefusal_ = refusal.Text();
  return false;
}

bool TBackgroundPrintApp::RefuseStart() {
  const std::string text = "Kivo-Processor cannot start: " + startRefusal_ + ".";
  SVLogFileManager::tellConsole(text);
  platform::LogLine(text);
  DisplayNormalMessage(text.c_str());
  exitCode_ = 1;
  return false;
}

void TBackgroundPrintApp::ResolveFolders() {
  const fs::path appFolder = host::applicationFolder();
  tPrintServerPrefs* ps = getMyPrintServerPrefs();

  // The spool root and its tree; nothing more is made when another
  // processor works on that spool folder (this one ends).
  if (!pipeline::SetUpSpoolFolderTree()) {
    if (!pipeline::SpoolFolderRefusal().empty()) return;
    platform::LogLine("No spool folder: printing cannot start until one is chosen");
  }
  (void)ps;
  // The frame graphics drawn over image boxes come from the spool tree's
  // graphics folder.
  if (const fs::path root = gSpoolFolders().root; !root.empty())
    SetGraphicsFolderPath(CreateOrFindFolder(root, pipeline::kGraphicsFolderName).string());

  // Print to file.
  tPrintToFilePrefs* ptf = getMyPrintToFilePrefs();
  if (!FolderResolves(ptf->folder) && ptf->folder.createIfMissing != 0)
    UseDefaultFolder(ptf->folder, kPrintToFileFolderName);

  // The print-centre hand-off folders.
  tProcessedJobsPrefs* pj = getMyProcessedJobsPrefs();
  if (!FolderResolves(pj->folder) && pj->folder.createIfMissing != 0) {
    const auto center = pipeline::CreatePrintCenterFolderTree(appFolder);
    const FSSpec spec = FolderSpecOfPath(center ? *center / "Jobs To Be Printed" : fs::path());
    if (spec.vRefNum != kNoFolderVRefNum) {
      pj->folder.spec = spec;
      // Found again through its alias at the next start, as every folder is.
      SaveFSSpecAsAliasHandle(&pj->folder);
    }
  }

  // Print-to-file sets: all that need a folder share one.
  for (int16_t n = 1; n <= 8; ++n) {
    tSpecialPrintToFilePref* set = getMyPrintToFileSetPrefs(n);
    if (set && !FolderResolves(set->folder) && set->folder.createIfMissing != 0)
      UseDefaultFolder(set->folder, kPrintToFileSetsFolderName);
  }

  tPrintToCDPref* cd = getMyPrintToCDSetPrefs();
  if (!FolderResolves(cd->folder) && cd->folder.createIfMissing != 0)
    UseDefaultFolder(cd->folder, "PRINT TO CD FOLDER SET Aƒ");

  tSpecialPrintToFilePref* web = getMyWebUploadPrefs();
  if (FolderResolves(web->folder)) {
    platform::LogF("getMyWebUploadPrefs alias handle id = %d", int(web->folder.aliasID));
  } else if (web->folder.createIfMissing != 0) {
    if (UseDefaultFolder(web->folder, kWebUploadFolderName).empty())
      platform::LogLine("An error occured mounting the web upload server");
  }

  // Every folder outputs go into is checked and held for the whole run: the
  // folder itself may be open to its consumer, the folders above it not.
  auto holdOutput = [&](tFolderFSSpec& folder) {
    if (FolderResolves(folder)) HoldForRun(OutputFolderPath(folder), host::FolderUse::kOutput);
  };
  holdOutput(ptf->folder);
  if (FolderResolves(pj->folder)) {
    const fs::path toBePrinted = OutputFolderPath(pj->folder);
    // The pair hand-off goes into a sibling of "Jobs To Be Printed" that the
    // program makes: their folder is the program's own.
    HoldForRun(toBePrinted.parent_path(), host::FolderUse::kState);
    HoldForRun(toBePrinted, host::FolderUse::kOutput);
  }
  for (int16_t n = 1; n <= 8; ++n)
    if (tSpecialPrintToFilePref* set = getMyPrintToFileSetPrefs(n)) holdOutput(set->folder);
  holdOutput(cd->folder);
  holdOutput(web->folder);
  // The yearbook route writes below the desktop.
  if (const fs::path desktop = host::desktopFolder(); fs::is_directory(desktop))
    HoldForRun(desktop, host::FolderUse::kOutput);
}

bool TBackgroundPrintApp::CheckForSpecialStartup() {
  if (specialStartup_) return true;
  if (!host::IsShiftKeyDown()) return false;
  DisplayNormalMessage("Special Startup…");
  specialStartup_ = true;
  return true;
}

void TBackgroundPrintApp::StartUpCommand() {
  if (GetBehaviorWithIdentifier(kPrintBGBehaviorID)) return;
  auto controller = std::make_unique<TPrintBGBehavior>();
  TPrintBGBehavior* c = controller.get();
  AddBehavior(std::move(controller));
  c->IPrintBGBehavior();
  const bool autoStartPref = (getMyPrintServerPrefs()->autoStart & 0xFF) != 0;
  const bool autoStart = autoStartPref && !specialStartup_;
  c->EnableBackgroundPrinting(autoStart);
  // A start with printing off says so, in the status line and the log.
  if (!c->IsBackgroundPrintingEnabled()) {
    const char* why = specialStartup_ ? "this is a special start-up"
                      : !autoStartPref ? "\"Start processing at launch\" is off in the General Settings"
                                       : "there is no valid spool folder";
    platform::LogF("Printing is off at start: %s. Press 'Start…' to start it.", why);
    c->SetStatus(kNeverStartedStatus);
  }
  if (!gProgressIndicator) {
    gProgressIndicator = new TMyProgressIndicator;
    gProgressIndicator->IProgressIndicator(kProgressWindow);
    platform::SetProgressIdleHook([] { gProgressIndicator->IdleProgress(); });
  }
  // The image codecs are linked in; should they fail, the operator hears
  // two beeps and is told that not everything will work.
  CheckIfQuickTimeInstalled([] { host::Beep(); });
}

bool TBackgroundPrintApp::DoMenuCommand(CommandNumber command) {
  switch (command) {
    case cAboutApp: showAboutBox(); return true;
    case cIgnored20: return true;
    case cQuit:
      // A step waiting in a dialog must finish before the program ends.
      if (StepRunning()) {
        DisplayNormalMessage(kStepRunningMessage);
        return true;
      }
      return TApplication::DoMenuCommand(command);
    case cPreferences: {
      AppPrefsServices services;
      DoPreferencesDialog(services);
      // The status window is active again: its preview follows the setting.
      if (TPrintBGBehavior* c = Controller())
        if (auto* status = dynamic_cast<TBackgroundPrintWindow*>(c->GetStatusWindow())) status->ShowOrHidePagePreview();
      return true;
    }
    case cExportPrefs: SaveToNewPreferencesFile(); return true;
    case cImportPrefs: ImportPreferences(); return true;
    case cStartPauseCommand:
      if (TPrintBGBehavior* c = Controller()) c->EnableBackgroundPrinting(!c->IsBackgroundPrintingEnabled());
      return true;
    case cClearJobs:
    case cClearUnknown:
    case cClearImages:
    case cClearAll:
    case cClearFinished:
    case cClearGroupPhotos: ClearFolders(command); return true;
    case cStartUp: StartUpCommand(); return true;
    case cPrintStatistics:
      if (TWindow* w = NewTemplateWindow(kPrintCountWindowID)) {
        w->PoseModally();
        w->Close();
      }
      return true;
    default: return TApplication::DoMenuCommand(command);
  }
}

void TBackgroundPrintApp::DoSetupMenus() {
  TApplication::DoSetupMenus();
  RemoveMenuItem(1, 12);
  TPrintBGBehavior* c = Controller();
  const bool printing = c && c->IsBackgroundPrintingEnabled();
  for (CommandNumber n : std::initializer_list<CommandNumber>{cPreferences, cClearJobs, cClearUnknown, cClearImages, cClearAll, CommandNumber(1007),
                          cExportPrefs, cImportPrefs})
    Enable(n, !printing);
  Enable(cPrintStatistics, true);
}

void TBackgroundPrintApp::ClearFolders(CommandNumber command) {
  if (StepRunning()) {
    DisplayNormalMessage(kStepRunningMessage);
    return;
  }
  // The menus are disabled while printing runs; the status window's popup
  // and button reach this handler directly, so the rule is kept here too.
  if (TPrintBGBehavior* c = Controller(); c && c->IsBackgroundPrintingEnabled()) {
    DisplayNormalMessage(kClearWhilePrintingMessage);
    return;
  }
  const SpoolFolders f = gSpoolFolders();
  auto confirm = [](const char* text) {
    ParamText(CStr255_AC(text));
    host::Beep();
    return MacAppAlert(kClearAlert) == 1;
  };
  auto empty = [](const fs::path& folder) {
    const FSSpec spec = FolderSpecOfPath(folder);
    if (spec.vRefNum != kNoFolderVRefNum) deleteAllFilesInFolder(spec);
  };
  auto clearJobs = [&] {
    empty(f.jobs);
    if (!f.jobs.empty()) empty(CreateOrFindFolder(f.jobs, pipeline::kJobFolderName));
    TPrintBGBehavior* c = Controller();
    if (pipeline::gJobFileList) pipeline::gJobFileList->DeleteAll();
    if (c) {
      c->UpdateJobsList();
      c->ResetAll();
    }
  };

  if (command == cClearGroupPhotos) {
    const fs::path graphics = CreateOrFindFolder(f.root, pipeline::kGraphicsFolderName);
    if (graphics.empty()) {
      DisplayNormalMessage("Point to valid Printserver folder first");
      return;
    }
    const fs::path group = graphics / kGroupPhotoFolderName;
    std::error_code ec;
    if (!fs::is_directory(group, ec)) return;
    if (!confirm("GROUP PHOTO FILES FOLDER")) return;
    empty(group);
    return;
  }
  if (!f.IsValid()) {
    DisplayNormalMessage("Point to valid Printserver folder first");
    return;
  }
  switch (command) {
    case cClearUnknown:
      if (confirm("UNKNOWN JOBS FOLDER")) empty(f.unknown);
      break;
    case cClearImages:
      if (confirm("IMAGES FOLDER")) empty(f.images);
      break;
    case cClearFinished:
      if (confirm("FINISHED JOBS FOLDER")) empty(f.finished);
      break;
    case cClearJobs:
      if (confirm("PRINT JOBS FOLDER")) clearJobs();
      break;
    case cClearAll:
      if (!confirm("KIVO-PROCESSOR FOLDER")) break;
      empty(f.images);
      empty(f.unknown);
      empty(f.finished);
      if (const fs::path graphics = CreateOrFindFolder(f.root, pipeline::kGraphicsFolderName); !graphics.empty()) {
        const FSSpec spec = FolderSpecOfPath(graphics);
        if (spec.vRefNum != kNoFolderVRefNum) deleteAllFilesInSubFolders(spec);
      }
      clearJobs();
      break;
    default: break;
  }
}

void TBackgroundPrintApp::ImportPreferences() {
  // The first item of the alert leaves at once, without saving, so that the
  // next launch reads what was imported.
  if (ImportPreferencesAndTell()) Quit();
}

bool TBackgroundPrintApp::DoScriptCommand(CommandNumber command) {
  if (command == cTerminateRequest) {
    Terminate();
    return true;
  }
  if (command != cQuitRequest) return TApplication::DoScriptCommand(command);
  host::QuitDecision decision = DecideQuitRequest();
  if (decision.afterAnswer) decision.afterAnswer();
  return true;
}

host::QuitDecision TBackgroundPrintApp::DecideQuitRequest() {
  TPrintBGBehavior* c = Controller();
  if (c && (c->IsStepRunning() || (c->IsPrintingOn() && c->HasWork()))) {
    // The text as the caller reads it: line ends rather than returns.
    std::string text = kBusyMessage;
    std::replace(text.begin(), text.end(), '\r', '\n');
    return {std::move(text), [] { DisplayNormalMessage(kBusyMessage); }};
  }
  // Nothing is printing (or the controller does not exist yet): quit. The
  // application's own handler, not the menu's route: printing is not paused
  // first.
  return {std::nullopt, [this] { DoMenuCommand(cQuit); }};
}

TDocument* TBackgroundPrintApp::DoMakeDocument(CommandNumber, const std::filesystem::path*) { return nullptr; }

void TBackgroundPrintApp::OpenOld(CommandNumber command, const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    const fs::path path(file);
    if (!DoMakeDocument(command, &path))
      platform::LogF("TBackgroundPrintApp::OpenOld: \"%s\" opens nothing; jobs are taken from the spool folder only",
                     file.c_str());
  }
}

void TBackgroundPrintApp::Terminate() {
  // The system asks (a service stop, a shutdown): no operator is there to
  // pause first. No further step is taken; the step under way ends, the job
  // in work is set aside for the next start, and the program quits.
  platform::LogLine("Termination requested: ending after the job step under way");
  TPrintBGBehavior* c = Controller();
  host::JobRunner* runner = c ? c->Runner() : nullptr;
  if (!runner) {
    TApplication::DoMenuCommand(cQuit);
    return;
  }
  runner->SetActive(false);
  runner->WhenStepDone([this, c] {
    c->TaskManager().SetJobAsideForShutdown();
    TApplication::DoMenuCommand(cQuit);
  });
}

}  // namespace app
