// The application object: the start-up sequence (daily log, single copy,
// preferences, folders, start-up command 1101), the menu commands, and the
// rules that decide whether the program may quit.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/files/FSSpec.h"
#include "host/notify/ProgramObject.h"
#include "host/files/HeldFolders.h"
#include "host/sys/RunningCopyLock.h"
#include "host/ui/Application.h"
#include "pipeline/PrinterRecords.h"

class TDocument;

namespace app {

inline constexpr OSType kAppCreator = FourCC("ZRVb");

// Command numbers.
enum : CommandNumber {
  cIgnored20 = 20,
  cPreferences = 1001,
  cStartPauseCommand = 1002,
  cClearJobs = 1003,
  cClearUnknown = 1004,
  cClearImages = 1005,
  cClearAll = 1006,
  cExportPrefs = 1008,
  cImportPrefs = 1009,
  cClearFinished = 1010,
  cClearGroupPhotos = 1011,
  cStartUp = 1101,
  cPrintStatistics = 1351,
};

inline constexpr const char* kAlreadyRunningMessage = "Another version of Kivo-Processor is already running…";
inline constexpr const char* kBusyMessage =
    "Kivo-Processor is currently BUSY!\r\rIf you want to Quit - Press the Pause Button First and Press the Exit "
    "Button.";
inline constexpr const char* kClearWhilePrintingMessage =
    "Folders can only be cleared while printing is paused: press the Pause Button first.";
inline constexpr const char* kStepRunningMessage =
    "A job step is under way: try again once the current job has finished its step.";

// The output folders made in the application folder when the preferences
// name none that exists: the print-to-file folder (printer 17), the one
// folder every print-to-file set shares, and the web-upload folder.
inline constexpr char kPrintToFileFolderName[] = "PRINT TO FILE FOLDER \xC6\x92";
inline constexpr char kPrintToFileSetsFolderName[] = "PRINT TO FILE FOLDER SET A\xC6\x92";
inline constexpr char kWebUploadFolderName[] = "WEB UPLOAD FOLDER \xC6\x92";

struct StartupOptions {
  // Reopens standard error onto the daily log (off in tests).
  bool setupLogs = true;
  // Started by the user service: a second copy leaves with a log line only.
  bool fromService = false;
  // Files handed to the program on its command line (by a shell or the
  // desktop): they are logged and open nothing.
  std::vector<std::string> files = {};
  // --export-preferences FILE, --import-preferences FILE: the program does
  // that and ends without starting.
  std::string exportPreferences = {};
  std::string importPreferences = {};
};

// The command of a request to open files handed to the program.
inline constexpr CommandNumber cOpenOld = 2;

class TBackgroundPrintApp : public TApplication {
 public:
  explicit TBackgroundPrintApp(StartupOptions options = {});
  ~TBackgroundPrintApp() override;

  bool DoMenuCommand(CommandNumber command) override;
  void DoSetupMenus() override;
  void DoInitialState() override;
  bool DoScriptCommand(CommandNumber command) override;
  // The program has no document windows: no document is ever made.
  TDocument* DoMakeDocument(CommandNumber command, const std::filesystem::path* file);
  // Files handed to the program open nothing; the request is logged. Jobs
  // arrive through the spool folder only.
  void OpenOld(CommandNumber command, const std::vector<std::string>& files);
  // The quit rule, for a quit request from outside (DoScriptCommand, the
  // session bus's Quit): refused with the busy text while printing is on and
  // there is work; otherwise the program quits through DoMenuCommand(cQuit).
  // What it shows or does comes after the answer.
  host::QuitDecision DecideQuitRequest();
  // SIGTERM: ends soon, keeping the job in work queued (see DoScriptCommand).
  void Terminate();

  // The start-up sequence; false when the program leaves at once.
  bool IBackgroundPrintApp();
  bool CheckForSpecialStartup();
  bool IsSpecialStartup() const { return specialStartup_; }
  // The exit status for main (non-zero when start-up was refused).
  int ExitCode() const { return exitCode_; }

  // Empties a spool folder after alert 1002 (commands 1003-1006, 1010, 1011).
  void ClearFolders(CommandNumber command);

  static std::vector<host::MenuDef> MenuTable();

  // Command 1009: imports a preference file, then alert 1025 offers to quit.
  void ImportPreferences();

 private:
  void StartUpCommand();
  void ResolveFolders();
  // Checks the folder at `path` for `use` and holds it for the whole run
  // (host/files/HeldFolders.h); a refusal is kept for the start to report.
  bool HoldForRun(const std::filesystem::path& path, host::FolderUse use);
  // Ends the start for the kept refusal: the folder and what mends it go to
  // the terminal, the log and an alert; false.
  bool RefuseStart();

  StartupOptions options_;
  bool specialStartup_ = false;
  int exitCode_ = 0;
  std::string startRefusal_;  // the first folder refused at start-up, with its mend
  bool launchAgentInstalled_ = false;
  std::optional<host::RunningCopyLock> lock_;        // in the runtime folder
  std::optional<host::RunningCopyLock> folderLock_;  // on the application folder
  std::optional<host::RunningCopyLock> configLock_;  // on the configuration folder
};

// Every class that view resources create by name.
void InitMacAppClasses();

// The application folder as the file table knows it, and the same pair kept
// for the packaged application's own use.
extern int16_t appvRefNum;
extern int32_t appDirID;
extern int16_t gPackAppvRefNum;
extern int32_t gPackAppDirID;
// The category chosen last (empty at start).
extern CStr31_AC gLastCategory;
// A database record to fill (empty at start).
extern tRecordStruct myDbTempStruct;

// The folder convention (parID = the folder's own id, empty name) of an
// existing folder; vRefNum -9999 when it cannot be found.
FSSpec FolderSpecOfPath(const std::filesystem::path& folder);

}  // namespace app
