// What the job pipeline needs of the subsystems around it: the operator
// message sink and the log, the background-printing controller and the
// status window, the job-wide values of the imaging and output code, the job
// queue, the preferences, file moves and deletes, the statistics and the
// print-centre hand-off.
//
// Every service is pure: the application provides all of them in one place
// (app/AppServices), so nothing the pipeline asks for can silently fall back
// to doing nothing. Tests provide their own recording set.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"
#include "layout/LayoutObject.h"

struct tJobInfo;
namespace host { class GWorld; }

namespace pipeline {

class TSpoolerPrintView;
class THandOffHooks;

class TPipelineServices : public layout::TReadReporter {
 public:
  // Log (diagnostics: standard error, the daily log) and OperatorMessage
  // (the operator message sink) come from layout::TReadReporter.

  // ---- the background-printing controller and the status window
  virtual void SetJobInfo(const tJobInfo& info) = 0;
  virtual void SetPrinterAndTemplate(int16_t printer, const CStr31_AC& templateName,
                                     const CStr31_AC& packageName) = 0;
  // The print-to-file set a set job prints into (1 to 8), once known: the
  // status window and the print log name that set rather than the one its
  // printer code was made for. Other values leave the code's name.
  virtual void SetPrintToFileSet(int16_t set) = 0;
  virtual void SetJobFileName(const std::string& name) = 0;
  virtual void SetStatus(const std::string& text) = 0;
  virtual void PrintLog(uint32_t elapsedTicks) = 0;
  virtual void EnableButtonsWhenDone() = 0;
  virtual void EnableBackgroundPrinting(bool on) = 0;
  virtual bool IsBackgroundPrintingEnabled() = 0;
  // Shows an offscreen as the status window's preview (null clears it).
  virtual void SetImage(const host::GWorld* offscreen, const std::string& name) = 0;
  // Hands the job view's temporary files over to the controller.
  virtual void SetFilesToDelete(std::vector<std::filesystem::path> files) = 0;
  virtual void Beep() = 0;

  // ---- job-wide values the reader sets for the imaging and output code
  virtual void SetApplyEmbedded(bool on) = 0;
  virtual void SetBlurValue(float radius) = 0;
  // The job's archived system print settings, kept for the system printer;
  // false when they cannot be unarchived. An empty span clears them.
  virtual bool SetCocoaPrintInfo(std::span<const uint8_t> archive) = 0;
  // The upload metadata of the saved images.
  virtual void SetEmailEntryBuffer(std::span<const uint8_t> block) = 0;
  virtual void SetCustomerEmail(const CStr255_AC& text) = 0;
  virtual void SetGroupCode(const CStr255_AC& text) = 0;

  // ---- preferences
  // Whether the folder of print-to-file set 1..8 resolves from its alias.
  virtual bool PrintToFileSetFolderResolves(int set) = 0;
  virtual bool KeepJobFiles() = 0;
  virtual bool FullRescan() = 0;
  virtual bool AskOnFailedJob() = 0;
  // The unknown-jobs and finished-jobs folders; empty when not found.
  virtual std::filesystem::path UnknownJobsFolder() = 0;
  virtual std::filesystem::path FinishedJobsFolder() = 0;
  // The spool tree's images folder, where job photos are found.
  virtual std::filesystem::path ImagesFolder() = 0;
  // The graphics folder ("KIVO GRAPHICS FOLDER ƒ") in the spool root,
  // created when missing; empty when there is no spool root.
  virtual std::filesystem::path GraphicsFolder() = 0;
  // Alert 1003 on a failed job: 1 try again, 4 delete the job and its
  // images, 5 move it to the unknown-jobs folder, 6 pause and keep it. The
  // alert names the job file in its detail line.
  virtual int AskWhatToDoWithFailedJob(const std::string& jobFileName) = 0;
  // An operator message about one job file: the alert keeps its own text
  // and names the job file in its detail line.
  virtual void JobFileMessage(std::string_view text, const std::string& jobFileName) = 0;
  // An operator message with one detail line under it (why it happened);
  // an empty line shows the message alone.
  virtual void MessageWithDetail(std::string_view text, const std::string& detailLine) = 0;

  // ---- the job queue
  virtual std::optional<std::filesystem::path> GetNextNewJobFile() = 0;
  virtual void CheckForNewJobs() = 0;
  // Re-scans the spool folder between two drawn objects and updates the job
  // list when the number of queued jobs changed.
  virtual void RescanBetweenObjects() = 0;
  virtual void ResetLastModDate() = 0;
  virtual void SetQueueCurrentFile(const std::string& name) = 0;
  virtual void InsertIntoQueue(const std::filesystem::path& file) = 0;

  // ---- files: delete; 0 or an error code. Job files are moved by the file
  // services' job-file move.
  virtual OSErr DeleteFile(const std::filesystem::path& file) = 0;

  // ---- statistics
  // A job's prints are counted exactly once in every count store, however
  // the program is stopped: PrepareJobCount before its output leaves the
  // program, CountJob once the output is complete (and again when a job
  // that had printed is finished at the next start), ForgetJobCount once
  // the job file is gone (`printed`) or the job failed or waits to be
  // tried again.
  virtual void PrepareJobCount(const std::filesystem::path& jobFile, int count, int kind, int16_t printer,
                               int16_t canvas) = 0;
  virtual void CountJob(const std::filesystem::path& jobFile) = 0;
  virtual void ForgetJobCount(const std::filesystem::path& jobFile, bool printed) = 0;

  // ---- layout objects
  // Drops the node objects' cached offscreen at the end of a job.
  virtual void DisposeLastNodeGWorld() = 0;
  // Makes the job view for a new job (view resource 3001).
  virtual std::unique_ptr<TSpoolerPrintView> MakeJobView() = 0;

  // ---- the print-centre hand-off
  virtual THandOffHooks& HandOffHooks() = 0;

  // ---- time: ticks of 1/60 s
  virtual uint32_t TickCount() = 0;
};

}  // namespace pipeline
