#include "pipeline/PrintJobTaskManager.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "host/base/Fd.h"
#include "host/files/FSSpec.h"
#include "host/files/HeldFolders.h"
#include "output/SystemPrint.h"
#include "pipeline/JobQueue.h"
#include "pipeline/OutputDispatch.h"
#include "platform/CrashPoints.h"
#include "platform/FileServices.h"
#include "pipeline/PrintedJobs.h"

namespace pipeline {

namespace {

std::string Format(const char* fmt, auto... args) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

// Moves a job file into the finished-jobs or unknown-jobs folder with the
// job-file move of the file services: a name already there gives a " copy"
// name, and a failure is shown to the operator. A folder that is not known
// gets no id, so the move fails and says so.
OSErr MoveJobFile(const std::filesystem::path& file, const std::filesystem::path& folder) {
  FSSpec spec;
  const OSErr specErr = host::MakeFSSpecFromPath(file.string(), &spec);
  if (specErr != noErr) spec.vRefNum = kNoVolume;  // the move reports the missing file
  int32_t folderID = kNoDirectory;
  FSSpec folderSpec;
  if (!folder.empty() && host::MakeFolderSpecFromPath(folder.string(), &folderSpec) == noErr) {
    if (specErr != noErr || folderSpec.vRefNum == spec.vRefNum) folderID = folderSpec.parID;
  }
  return myTFileMoveFile(spec, folderID);
}

// Whether `file` is a regular file below `folder` reached without a link:
// its path, made absolute and normal, lies below the folder as given, and
// opened from the folder (held: see host/files/HeldFolders.h) neither the
// file nor any folder between is a link.
bool IsFileInFolderWithoutLinks(const std::filesystem::path& file, const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  if (folder.empty() || !file.is_absolute()) return false;
  host::Fd opened(host::OpenBeneath(folder.string(), file.string(), O_PATH));
  struct stat st {};
  return opened.get() >= 0 && ::fstat(opened.get(), &st) == 0 && S_ISREG(st.st_mode);
}

// A file reached through a link put in place of a folder on its way is
// refused by the delete (bdNamErr) and must not be removed by its path
// either: that would delete what the link leads to.
bool RefusedThroughALink(TPipelineServices& services, OSErr err, const std::filesystem::path& file) {
  if (err != bdNamErr) return false;
  services.Log(Format("[%s] is reached through a symbolic link in place of a folder: it is not deleted\n",
                      file.string().c_str()));
  return true;
}

// Removes what stands at `file` as std::filesystem::remove does (a file, a
// link or an empty folder; nothing there is no failure), below a held folder
// from its descriptor (host/files/HeldFolders.h); 0 or the errno.
int RemoveByPath(const std::filesystem::path& file) {
  if (host::RemoveAt(file.string()) == 0 || errno == ENOENT) return 0;
  if (errno == EISDIR && host::RemoveAt(file.string(), true) == 0) return 0;
  return errno;
}

}  // namespace

TPrintJobTaskManager* gPrintJobTaskManager = nullptr;

TPrintJobTaskManager::TPrintJobTaskManager(TPipelineServices& services) : services_(services) {}
TPrintJobTaskManager::~TPrintJobTaskManager() = default;

void TPrintJobTaskManager::SetCurrentJob(const TJobSpec& job) {
  if (job.vRefNum != kAbortVolume) fJobView = services_.MakeJobView();
  fCurrentJob = job;
}

void TPrintJobTaskManager::SetActive(bool on) {
  fActive = on;
  if (!on && fCurrentTask == 0) services_.EnableButtonsWhenDone();
}

void TPrintJobTaskManager::AddFilesToDelete(const std::filesystem::path& file) { fFilesToDelete.push_back(file); }

std::filesystem::path TPrintJobTaskManager::GetCurrentImageFileFSSpec() const {
  return fFilesToDelete.empty() ? std::filesystem::path() : fFilesToDelete.front();
}

void TPrintJobTaskManager::DeleteFilesUsed4Printing() {
  const bool keep = services_.KeepJobFiles();
  for (const auto& file : fFilesToDelete) {
    if (keep) continue;
    const OSErr err = services_.DeleteFile(file);
    if (err == noErr) continue;
    services_.Log(Format("Deleting the image files failed with error code %d\n", int(err)));
    if (RefusedThroughALink(services_, err, file)) continue;
    if (const int failed = RemoveByPath(file); failed != 0)
      services_.Log(Format("Cocoa deleting of the image files failed with error code %s\n", std::strerror(failed)));
  }
  fFilesToDelete.clear();
}

bool TPrintJobTaskManager::DeleteJobFile(const char* cocoaText) {
  if (!fJobFile) return true;
  const OSErr err = services_.DeleteFile(*fJobFile);
  if (err == noErr) return true;
  services_.Log(Format("Deleting the job file failed with error code %d\n", int(err)));
  if (RefusedThroughALink(services_, err, *fJobFile)) return false;
  const int failed = RemoveByPath(*fJobFile);
  if (failed != 0) services_.Log(Format(cocoaText, std::strerror(failed)));
  return failed == 0;
}

void TPrintJobTaskManager::EndJobView() {
  if (!fJobView) return;
  fJobView->ResetJob();
  fJobView.reset();
}

void TPrintJobTaskManager::DoNextTask() {
  fBusy = true;
  try {
    switch (fCurrentTask) {
      case 0: Step0(); break;
      case 1: Step1(); break;
      case 2: Step2(); break;
      case 3: Step3(); break;
      case 4: Step4(); break;
      default: fCurrentTask = 0; break;
    }
  } catch (const std::exception& e) {
    // A failure nobody caught inside the step must not lose the job or stop
    // the machine: the job goes to the unknown-jobs folder.
    services_.Log(Format("DoNextTask: step %d failed: %s\n", int(fCurrentTask), e.what()));
    DoError(kResultUnknownJob);
  }
  // While a job is in work, jobs dropped meanwhile join the waiting list
  // after each step, not only when the next job is picked up.
  if (fCurrentTask != 0) services_.RescanBetweenObjects();
  if (!fActive) services_.EnableButtonsWhenDone();
  fBusy = false;
}

void TPrintJobTaskManager::Step0() {
  fJobFile = services_.GetNextNewJobFile();
  if (!fJobFile) {
    if (services_.FullRescan()) services_.ResetLastModDate();
    services_.CheckForNewJobs();
    return;
  }
  // After the program was stopped in the middle of a job, the record tells
  // whether that job has printed.
  const TPrintedJob printed = LookUpPrintedJob(*fJobFile);
  if (printed.state == TPrintedState::kPrinted || printed.state == TPrintedState::kKeptAfterPrinting) {
    FinishJobPrintedBefore(printed);
    return;
  }
  if (printed.state == TPrintedState::kHeld) {
    HoldJob(printed.why);
    return;
  }
  // Outputs recorded and none of them in place: the try goes on with none
  // recorded (its name at the printer stays).
  if (printed.state == TPrintedState::kOutputNotPlaced) BeginJobTryAgain(*fJobFile);
  // A job with outputs placed before it stopped prints again and makes only
  // the outputs that are missing: the record stays for that.
  if (printed.state == TPrintedState::kPartlyPlaced)
    services_.Log(Format("The job file [%s] had put part of its output in place when the program stopped: the rest "
                         "is made now\n",
                         fJobFile->string().c_str()));
  SetCurrentJob(TJobSpec{0, *fJobFile});
  services_.SetJobFileName(fJobFile->filename().string());
  services_.SetStatus("Reading Job File");
  const int16_t result = fJobView->ReadObjects(fCurrentJob.file);
  services_.Log("Done reading objects\n");
  if (result != kResultOK) {
    DoError(result);
    return;
  }
  fCurrentTask = 1;
  // The job is read and about to be drawn: crash tests stop the program here.
  platform::PassCrashPoint("job-read");
}

void TPrintJobTaskManager::Step1() {
  // Every route, the special ones and an abort included, is timed from its
  // own job's start: the print log's seconds are never an earlier job's.
  fStartTime = services_.TickCount();
  if (Aborted() || !fJobView) { fCurrentTask = 4; return; }
  TSpoolerPrintView& view = *fJobView;
  if (view.GetIgnoreOverlays() != 0) {
    // A job without a photo to print fails saying so.
    if (const int16_t special = view.DrawSpecialJob(); special != kResultOK) {
      DoError(special == kResultObjectFailed ? int16_t(kResultOutOfMemory) : special);
      return;
    }
    view.ProcessSubAsOutput();
    fCurrentTask = 3;
    return;
  }
  if (view.GetSaveOriginal() != 0 && IsPrintToFileSetCode(view.printer)) {
    services_.Log("Save as Original...\n");
    // One count for the copies of a job's originals, whatever its quantity.
    PrepareJobCount(1, 12, view.printer, view.canvas);
    if (const int16_t copied = view.CopyOriginalFileJob(); copied != kResultOK) { DoError(copied); return; }
    JobOutputCompleted(view.ProcessedNotification());
    fCurrentTask = 4;
    CountJob();
    return;
  }
  const int16_t created = view.CreateOffscreens();
  if (created != kResultOK) { DoError(created); return; }
  services_.Log("Starting to process offscreen...\n");
  if (view.HasSubJob()) {
    const int16_t result = view.DrawSubJob();
    if (result == kResultEndJob) {
      // Printing was paused while the sub-job was drawn: the job was not
      // printed, so it is neither logged nor deleted; it goes back to the
      // queue and its temporary files stay for the next try.
      services_.Log("Printing was paused during the sub-job; the job is kept for later\n");
      KeepJobForRetry();
      return;
    }
    if (result != kResultOK) { DoError(result); return; }
    fCurrentTask = 2;
    const int16_t p = view.printer;
    if ((p == 17 || IsPrintToFileSetCode(p)) && view.GetSaveCKTemplateAsIs() != 0) {
      view.ProcessSubAsOutput();
      fCurrentTask = 3;
    }
  } else {
    fCurrentTask = 2;
  }
  services_.Log("done processing offscreen...\n");
}

void TPrintJobTaskManager::SetJobAsideForShutdown() {
  if (fCurrentTask == 4) {
    Step4();
    return;
  }
  if (fCurrentTask == 0 && !fJobFile) return;
  services_.Log(Format("The program is ending: the job in work (step %d) stays queued for the next start\n",
                       int(fCurrentTask)));
  KeepJobForRetry();
}

void TPrintJobTaskManager::KeepJobForRetry() {
  EndJobView();
  services_.SetQueueCurrentFile("");
  if (fJobFile) {
    // What it placed stays recorded: the next try makes only the rest. Its
    // count was not made active, so it is prepared again then.
    services_.ForgetJobCount(*fJobFile, false);
    services_.InsertIntoQueue(*fJobFile);
    fJobFile.reset();
  }
  fFilesToDelete.clear();
  fCurrentTask = 0;
}

void TPrintJobTaskManager::Step2() {
  if (Aborted() || !fJobView) { fCurrentTask = 4; return; }
  services_.Log("fCurrent task = 2, before DrawNextObject...\n");
  const int16_t result = fJobView->DrawNextObject();
  if (result == kResultObjectFailed) {
    DoError(kResultOutOfMemory);
    services_.Log("An error occured while processing the job\n");
  } else if (result == kResultAllObjectsDrawn) {
    fCurrentTask = 3;
  } else if (result == kResultUnknownJob) {
    DoError(kResultUnknownJob);
  } else {
    services_.CheckForNewJobs();
  }
}

void TPrintJobTaskManager::Step3() {
  if (Aborted() || !fJobView) { fCurrentTask = 4; return; }
  services_.Log("before FinishJob...\n");
  const int16_t result = fJobView->FinishJob();
  services_.Log("after FinishJob...\n");
  if (result == kResultStopped) {
    // Stopped in a wait because the program is ending: nothing was printed,
    // so the job and its photos stay for the next start.
    services_.Log("The program is ending: the job stays queued for the next start\n");
    KeepJobForRetry();
  } else if (result != kResultOK) DoError(result);
  else fCurrentTask = 4;
}

void TPrintJobTaskManager::Step4() {
  const uint32_t elapsed = services_.TickCount() - fStartTime;
  services_.PrintLog(elapsed);
  EndJobView();
  // The photos go before the job file: a job file that outlives its photos
  // is finished again after a crash, photos that outlive their job file
  // would stay for ever.
  DeleteFilesUsed4Printing();
  RemovePrintedJobFile();
  services_.SetQueueCurrentFile("");
  fCurrentTask = 0;
  services_.DisposeLastNodeGWorld();
}

void TPrintJobTaskManager::RemovePrintedJobFile() {
  if (!fJobFile) return;
  bool gone = true;
  if (services_.KeepJobFiles()) {
    const OSErr err = MoveJobFile(*fJobFile, services_.FinishedJobsFolder());
    if (err != noErr) services_.Log(Format("Moving the job file to the finished-jobs folder failed with error code %d\n", int(err)));
    gone = err == noErr;
  } else {
    gone = DeleteJobFile("Cocoa deleting of job file failed with error code %s\n");
  }
  // A job that is done never runs again, also when its file stays.
  if (gone) {
    ForgetJobFile(*fJobFile);
    services_.ForgetJobCount(*fJobFile, true);
  } else if (host::ExistsAt(fJobFile->string())) MarkJobFilePrinted(*fJobFile);
  fJobFile.reset();
}

void TPrintJobTaskManager::FinishJobPrintedBefore(const TPrintedJob& printed) {
  const std::vector<std::filesystem::path>& photos = printed.photos;
  namespace fs = std::filesystem;
  // Only files the program took in are removed: a job file in "All Files"
  // and photos in the images folder, whatever a record says.
  struct stat jobStat {};
  if (fJobFile->parent_path().filename() != kJobFolderName || host::LstatAt(fJobFile->string(), &jobStat) != 0 ||
      !S_ISREG(jobStat.st_mode)) {
    services_.Log(Format("The job file [%s] is not in \"%s\": it is not finished from the record\n",
                         fJobFile->string().c_str(), kJobFolderName));
    services_.SetQueueCurrentFile("");
    fJobFile.reset();
    return;
  }
  services_.Log(Format("The job file [%s] had printed when the program stopped: it is finished without printing again\n",
                       fJobFile->string().c_str()));
  // A web notification that had not left for the bus when it stopped goes
  // out now, once.
  if (!printed.notification.empty() && !printed.notified) {
    services_.Log(Format("The web server is told now that the job file [%s] was processed\n",
                         fJobFile->string().c_str()));
    if (NotifyJobProcessed(printed.notification)) JobNotified();
  }
  // Whatever count stores had not taken the job when it stopped take it now.
  services_.CountJob(*fJobFile);
  const fs::path images = services_.ImagesFolder();
  for (const auto& photo : photos) {
    if (!host::ExistsAt(photo.string())) continue;
    if (IsFileInFolderWithoutLinks(photo, images)) fFilesToDelete.push_back(photo);
    else
      services_.Log(Format("The photo [%s] recorded for the job file [%s] is not in the images folder: it is not "
                           "deleted\n",
                           photo.string().c_str(), fJobFile->string().c_str()));
  }
  DeleteFilesUsed4Printing();
  RemovePrintedJobFile();
  services_.SetQueueCurrentFile("");
}

bool TPrintJobTaskManager::JobOutputPlacing(const std::filesystem::path& placed) {
  // Without a job file there is nothing to print twice.
  if (fJobFile && !RecordJobOutputPlacing(*fJobFile, fFilesToDelete, placed)) return false;
  platform::PassCrashPoint("placing-recorded");
  return true;
}

bool TPrintJobTaskManager::JobOutputHandingOver(const std::filesystem::path& placed) {
  if (fJobFile && !RecordJobOutputHandingOver(*fJobFile, fFilesToDelete, placed)) return false;
  platform::PassCrashPoint("placing-recorded");
  return true;
}

void TPrintJobTaskManager::JobOutputHandedOver(const std::filesystem::path& placed, bool there) {
  if (fJobFile) RecordJobOutputHandedOver(*fJobFile, placed, there);
}

void TPrintJobTaskManager::HoldJob(const std::string& why) {
  const std::string name = fJobFile->filename().string();
  const std::string text = "Whether the job file [" + name + "] printed cannot be told: " + why +
                           ". It is set aside with its photos and is not printed again; move it back into the jobs "
                           "folder to print it";
  services_.Log(text + "\n");
  services_.JobFileMessage(text, name);
  fHeldBecause = why;
  DoError(kResultUnknownJob);
}

std::optional<std::filesystem::path> TPrintJobTaskManager::JobOutputPlacedBefore(const std::string& key) const {
  if (!fJobFile) return std::nullopt;
  return PlacedJobOutput(*fJobFile, key);
}

bool TPrintJobTaskManager::JobOutputPlacing(const std::string& key, const std::filesystem::path& working,
                                            const std::filesystem::path& target) {
  // Without a job file there is nothing to print twice.
  return !fJobFile || RecordJobOutputPlacing(*fJobFile, fFilesToDelete, key, working, target);
}

void TPrintJobTaskManager::JobOutputPlaced(const std::string& key, const std::filesystem::path& target) {
  if (fJobFile) RecordJobOutputPlaced(*fJobFile, key, target);
}

void TPrintJobTaskManager::JobOutputNotPlaced(const std::string& key) {
  if (fJobFile) ForgetJobOutput(*fJobFile, key);
}

void TPrintJobTaskManager::JobOutputCompleted(std::span<const uint8_t> notification) {
  platform::PassCrashPoint("output-placed");
  if (fJobFile) RecordJobPrinted(*fJobFile, fFilesToDelete, notification);
  platform::PassCrashPoint("output-recorded");
  // Told once the job is recorded complete; recorded told once the
  // notification has left for the bus.
  if (!notification.empty() && NotifyJobProcessed(notification)) JobNotified();
}

void TPrintJobTaskManager::JobNotified() {
  if (fJobFile) RecordJobMark(*fJobFile, fFilesToDelete, kNotifiedMark);
}

void TPrintJobTaskManager::PrepareJobCount(int count, int kind, int16_t printer, int16_t canvas) {
  services_.PrepareJobCount(fJobFile ? *fJobFile : std::filesystem::path(), count, kind, printer, canvas);
}

void TPrintJobTaskManager::CountJob() { services_.CountJob(fJobFile ? *fJobFile : std::filesystem::path()); }

void TPrintJobTaskManager::DoError(int16_t code) {
  if (code == 0) return;
  const std::string jobFileName = fJobFile ? fJobFile->filename().string() : std::string();
  switch (code) {
    case 100: services_.JobFileMessage("Invalid Job Version Number!", jobFileName); break;
    case 101: services_.JobFileMessage("Read File Error!", jobFileName); break;
    case 105:
      // An object that said what went wrong (a photo missing, unreadable or
      // damaged) is reported as that, not as a lack of memory.
      services_.OperatorMessage(fJobView && !fJobView->DrawFailure().empty() ? fJobView->DrawFailure()
                                                                                 : "Out of Memory Error!");
      break;
    case 106:
    case 109:
      // The detail line says which set the job named and why it has no folder.
      services_.MessageWithDetail("Print to File Set Folder could not be found!",
                                  fJobView ? fJobView->SetFolderFailure() : std::string());
      break;
    case 107: services_.OperatorMessage("Could not write printer file!"); break;
    case kResultPrivateFolderRefused:
      if (fJobView) services_.OperatorMessage(fJobView->DrawFailure());
      break;
    case 108: break;
    default:
      services_.Log(Format("DoError trapped Unknown Error Code = [0x%02x]\n", unsigned(uint16_t(code))));
      // A sub-job object that failed (102) said why: the operator is told.
      if (fJobView && !fJobView->DrawFailure().empty()) services_.OperatorMessage(fJobView->DrawFailure());
      break;
  }
  // A job set aside because it may already have printed is not told to
  // the web server as failed: it may not have.
  if (fJobView && code != output::kResultSystemPrintUncertain) fJobView->SendErrorNotification();
  EndJobView();
  services_.SetQueueCurrentFile("");
  // A job held (the record cannot tell whether it printed, or the printer
  // may have its page) stays held in the record until its file has left
  // "All Files", so that a kill in between holds it again; moved back, it
  // is a new try. Whatever any other job wrote before it failed, it is to
  // print in full when it is tried again.
  const std::string heldBecause = std::exchange(fHeldBecause, std::string());
  const bool held = !heldBecause.empty() || code == output::kResultSystemPrintUncertain;
  if (fJobFile) {
    if (held)
      RecordJobHeld(*fJobFile, heldBecause.empty() ? "the printer could not say whether it has the page it was sent "
                                                     "(see the log)"
                                                   : heldBecause);
    else
      ForgetJobFile(*fJobFile);
    services_.ForgetJobCount(*fJobFile, false);
  }

  auto moveToUnknown = [&] {
    const OSErr err = MoveJobFile(*fJobFile, services_.UnknownJobsFolder());
    if (err != noErr)
      services_.Log(Format("Moving the job file to the unknown-jobs folder failed with error code %d\n", int(err)));
    // Gone from "All Files": the hold has done its work.
    else if (held)
      ForgetJobFile(*fJobFile);
  };
  // Put back into the queue by the operator: tried anew.
  auto requeue = [&] {
    if (held) ForgetJobFile(*fJobFile);
    services_.InsertIntoQueue(*fJobFile);
  };
  // A job set aside keeps every file it came with, so that it can print
  // when it is moved back into the print-jobs folder; only the operator's
  // "delete" answer removes its photos. Either way none of them is left
  // registered for the next job.
  if (fJobFile) {
    if (code == kResultUnknownJob || !services_.AskOnFailedJob()) {
      moveToUnknown();
    } else {
      switch (services_.AskWhatToDoWithFailedJob(jobFileName)) {
        case 1: requeue(); break;
        case 4:
          DeleteFilesUsed4Printing();
          if (DeleteJobFile("Cocoa deleting of the job file failed with error code %s\n") && held)
            ForgetJobFile(*fJobFile);
          break;
        case 6:
          services_.EnableBackgroundPrinting(false);
          requeue();
          break;
        default:  // 5, and an alert closed any other way: nothing is lost
          moveToUnknown();
          break;
      }
    }
    fJobFile.reset();
  }
  fFilesToDelete.clear();
  fCurrentTask = 0;
}

}  // namespace pipeline
