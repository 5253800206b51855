// The job state machine: one step per DoNextTask call (0 pick up and read,
// 1 prepare, 2 draw, 3 finish and hand off, 4 clean up) and the error
// handler that every failing step ends in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pipeline/BGPrintView.h"
#include "pipeline/PrintedJobs.h"
#include "pipeline/Services.h"

namespace pipeline {

// The volume number that marks the job in work as aborted.
constexpr int16_t kAbortVolume = 999;

// The job in work: its volume number (999 = aborted) and its file.
struct TJobSpec {
  int16_t vRefNum = 0;
  std::filesystem::path file;
};

class TPrintJobTaskManager {
 public:
  explicit TPrintJobTaskManager(TPipelineServices& services);
  ~TPrintJobTaskManager();

  // Unless the volume number is 999, makes a new job view; then makes `job`
  // the current job. Volume 999 aborts the job in work.
  void SetCurrentJob(const TJobSpec& job);
  void SetActive(bool on);
  bool IsActive() const { return fActive; }
  bool IsBusyWithTask() const { return fBusy; }
  void ClearBusy() { fBusy = false; }
  int16_t CurrentTask() const { return fCurrentTask; }
  const TJobSpec& CurrentJob() const { return fCurrentJob; }
  TSpoolerPrintView* JobView() const { return fJobView.get(); }
  const std::optional<std::filesystem::path>& JobFile() const { return fJobFile; }

  void AddFilesToDelete(const std::filesystem::path& file);
  // The first registered file, or an empty path.
  std::filesystem::path GetCurrentImageFileFSSpec() const;
  void DeleteFilesUsed4Printing();

  void DoError(int16_t code);
  void DoNextTask();

  // The output routes report their progress, so that a job killed at any
  // moment prints exactly once: `placed` is about to be put in place, and
  // then the job's output is complete. Both are recorded durably in
  // "Printed Job Files" before the program goes on; false from
  // JobOutputPlacing: it could not be recorded, and the output must not be
  // put in place. A complete job with a web notification to send (its web
  // data's keyed archive) sends it then, and is recorded as told once it
  // has left for the bus.
  bool JobOutputPlacing(const std::filesystem::path& placed);
  // An output whose consumer takes it from its place at once: about to be
  // linked or renamed into `placed`, its data whole and synced (false: not
  // recorded, it must not be put there), and whether it got there.
  bool JobOutputHandingOver(const std::filesystem::path& placed);
  void JobOutputHandedOver(const std::filesystem::path& placed, bool there);
  void JobOutputCompleted(std::span<const uint8_t> notification = {});
  // The job's count, prepared before its output leaves the program and
  // taken into the count stores once the output is complete.
  void PrepareJobCount(int count, int kind, int16_t printer, int16_t canvas);
  void CountJob();
  // Outputs put in place by a rename, by a key unique within the job: where
  // one was placed by an earlier try; the rename about to happen (false:
  // not recorded, the output must not be placed); the rename succeeded or
  // failed. Each is recorded durably before the program goes on.
  std::optional<std::filesystem::path> JobOutputPlacedBefore(const std::string& key) const;
  bool JobOutputPlacing(const std::string& key, const std::filesystem::path& working,
                        const std::filesystem::path& target);
  void JobOutputPlaced(const std::string& key, const std::filesystem::path& target);
  void JobOutputNotPlaced(const std::string& key);

  // The program is ending between two steps: a job that has been handed off
  // is cleaned up (it must not print again); any other job in work ends
  // unprinted with its file left in "All Files" for the next start and its
  // photos kept. Nothing happens without a job in work.
  void SetJobAsideForShutdown();

 private:
  void Step0();
  void Step1();
  void Step2();
  void Step3();
  void Step4();
  bool Aborted() const { return fCurrentJob.vRefNum == kAbortVolume; }
  // True when the job file is gone.
  bool DeleteJobFile(const char* cocoaText);
  // Takes the printed job's file out of "All Files": into the finished-jobs
  // folder or deleted; a file that stays is recorded so that it never
  // prints again.
  void RemovePrintedJobFile();
  // A job recorded as printed when the program stopped: its web
  // notification goes out if it had not, its photos and its file go as
  // after printing, and it is not printed again.
  void FinishJobPrintedBefore(const TPrintedJob& printed);
  // A job of which the record cannot tell whether it printed (`why`): the
  // operator is told, naming it, and it goes to the unknown-jobs folder
  // with its photos, unprinted; the record holds it until it has gone.
  void HoldJob(const std::string& why);
  void EndJobView();
  // Records that the job's web notification has left for the bus.
  void JobNotified();
  // Ends the current job without finishing it and puts its file back in
  // the queue; its temporary files stay on disk and leave the registry. The
  // record of the outputs it placed stays, as after a kill, so that the next
  // try makes only the missing ones.
  void KeepJobForRetry();

  TPipelineServices& services_;
  int16_t fCurrentTask = 0;
  TJobSpec fCurrentJob;
  bool fActive = false;
  std::unique_ptr<TSpoolerPrintView> fJobView;
  std::optional<std::filesystem::path> fJobFile;
  std::vector<std::filesystem::path> fFilesToDelete;
  bool fBusy = false;
  uint32_t fStartTime = 0;
  // Why the job in work is being held (HoldJob); empty for none.
  std::string fHeldBecause;
};

// The one task manager, created by the background-printing controller and
// kept until quit; null before that.
extern TPrintJobTaskManager* gPrintJobTaskManager;

}  // namespace pipeline
