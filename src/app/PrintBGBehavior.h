// The background-printing controller ('pbgb'): starts and pauses printing,
// runs the job task manager one step at a time on the job runner, writes the
// status window's texts and preview, keeps the window's job list in step
// with the job list, aborts the job in work on request and writes the print
// log "Print Log File".
#pragma once

#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/ui/EventHandler.h"
#include "app/SpoolQueue.h"
#include "host/ui/JobRunner.h"
#include "pipeline/PrintJobTaskManager.h"
#include "pipeline/PrinterRecords.h"

class TWindow;
namespace host {
class GWorld;
}

namespace app {

inline constexpr IDType kPrintBGBehaviorID = FourCC("pbgb");

// Status texts.
inline constexpr const char* kIdleStatus = "IDLING - Waiting for a New Job…";
inline constexpr const char* kPausedStatus = "PAUSED - Press 'Resume…' to Start…";
inline constexpr const char* kNeverStartedStatus = "Press 'Start…' To Start Kivo-Processor…";
inline constexpr const char* kNoSpoolFolderMessage = "Point To A Valid Print Spooler Folder First…";
inline constexpr const char* kPrintLogName = "Print Log File";

// The services the job pipeline reaches through the application.
class AppServices;

class TPrintBGBehavior : public TBehavior {
 public:
  TPrintBGBehavior();
  ~TPrintBGBehavior() override;

  // Creates the job list, opens status window 1001 and fills the list.
  void IPrintBGBehavior();

  void EnableBackgroundPrinting(bool on);
  bool IsBackgroundPrintingEnabled() const { return printing_; }
  bool IsNeverStarted() const { return neverStarted_; }
  // Printing is on, or the task manager is active.
  bool IsPrintingOn() const;
  // A job is waiting or in work.
  bool HasWork() const;
  // A job step is running right now (inside a nested event loop).
  bool IsStepRunning() const { return runner_ && runner_->IsBusy(); }

  // Aborts the job in work: its next step ends it without printing.
  void ResetAll();

  // The status line, whole (UTF-8).
  void SetStatus(const std::string& text);
  void SetPrinterAndTemplate(int16_t printer, const CStr31_AC& templateName, const CStr31_AC& packageName);
  // A set job's own set (1 to 8) names its printer from now on.
  void SetPrintToFileSet(int16_t set);
  void SetJobInfo(const tJobInfo& info) { jobInfo_ = info; }
  void SetJobFileName(const CStr255_AC& name);
  CStr255_AC GetJobFileName() const;
  // None clears the preview.
  void SetImage(const host::GWorld* offscreen, const CStr255_AC& name);
  void UpdateJobsList();
  void EnableButtonsWhenDone();
  // Keeps the job view's temporary files of the job in work.
  void SetFilesToDelete(std::vector<std::filesystem::path> files) { filesToDelete_ = std::move(files); }
  const std::vector<std::filesystem::path>& FilesToDelete() const { return filesToDelete_; }

  // The print log: recreated at the first line after every start.
  void CreatePrintLogFile();
  void PrintLog(uint32_t elapsedTicks);
  static std::filesystem::path PrintLogPath();
  // One line of the print log (Mac Roman bytes, ended by tab and CR).
  static std::string PrintLogLine(const CStr255_AC& date, const CStr255_AC& time, uint32_t elapsedTicks,
                                  const CStr255_AC& printer, const CStr255_AC& templ, const tJobInfo& info);

  TWindow* GetStatusWindow() const { return window_; }
  pipeline::TPrintJobTaskManager& TaskManager() { return *taskManager_; }
  AppServices& Services() { return *services_; }
  host::JobRunner* Runner() const { return runner_.get(); }

  bool DoMenuCommand(CommandNumber command) override;
  void DoSetupMenus() override;
  // While printing is on, each continuing idle call takes the first entry of
  // the pending list, if any, to DoPrint.
  bool DoIdle(IdlePhase phase) override;

  // The pending list: files handed to the controller to print besides the
  // spool folder's jobs. Jobs arrive through the spool folder only, so
  // printing an entry does nothing and succeeds.
  void AddPending(std::filesystem::path file) { pending_.push_back(std::move(file)); }
  size_t PendingCount() const { return pending_.size(); }
  bool DoPrint(const std::filesystem::path& file);

 private:
  void SetViewText(IDType id, const CStr255_AC& text);
  CStr255_AC GetViewText(IDType id) const;
  void SetButtonsForPause(bool paused);
  void JobStep();

  // Before the services: they may show a status line while they are made
  // (a count the start-up could not complete), when there is no window yet.
  TWindow* window_ = nullptr;
  std::unique_ptr<AppServices> services_;
  std::unique_ptr<pipeline::TPrintJobTaskManager> taskManager_;
  std::unique_ptr<pipeline::TSortedFileList> jobList_;
  bool neverStarted_ = false;
  bool printing_ = false;
  std::unique_ptr<host::JobRunner> runner_;
  bool logCreated_ = false;
  tJobInfo jobInfo_;
  int16_t printer_ = 0;  // the printer code of the job in work
  std::vector<std::filesystem::path> filesToDelete_;
  std::deque<std::filesystem::path> pending_;
};

// The controller while it exists (found on the application by 'pbgb').
TPrintBGBehavior* GetPrintBGBehavior();

// The display name of a printer code (item `printer` of string list 4002);
// empty for 0, which stands for no job, and for codes outside the list.
CStr255_AC PrinterName(int16_t printer);

}  // namespace app
