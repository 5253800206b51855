// What the job pipeline needs of the subsystems around it: the operator
// message sink and the log, the background-printing controller, the job
// queue, the preferences, the upload metadata, file moves and deletes, and
// the statistics. Each service defaults to "not available" (does nothing, or
// says it cannot) where the neighbouring service is not built yet; messages,
// the print-server preferences and file moves already reach the real ones.
// The application installs a subclass for the rest.
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
#include "host/sys/PlistValue.h"
#include "layout/LayoutObject.h"

struct tJobInfo;
namespace host { class GWorld; }

namespace pipeline {

class TSpoolerPrintView;

class TPipelineServices : public layout::TReadReporter {
 public:
  // Diagnostics go to standard error (and the system log); operator messages
  // go to the message sink, which logs them too.
  void Log(std::string_view text) override;
  void OperatorMessage(std::string_view text) override;

  // Background-printing controller.
  virtual void SetJobInfo(const tJobInfo&) {}
  virtual void SetPrinterAndTemplate(int16_t, const CStr31_AC&, const CStr31_AC&) {}
  virtual void SetJobFileName(const std::string&) {}
  virtual void SetStatus(const std::string&) {}
  virtual void PrintLog(uint32_t /*elapsedTicks*/) {}
  virtual void EnableButtonsWhenDone() {}
  virtual void EnableBackgroundPrinting(bool) {}
  virtual bool IsBackgroundPrintingEnabled() { return true; }
  // Shows an offscreen as the preview (null clears it).
  virtual void SetImage(const host::GWorld*, const std::string& /*name*/) {}
  // Hands the job's temporary files over to the controller.
  virtual void SetFilesToDelete(std::vector<std::filesystem::path>) {}
  virtual void Beep() {}

  // Application-wide values of the imaging subsystem that the reader sets.
  virtual void SetApplyEmbedded(bool) {}
  virtual void SetBlurValue(float) {}
  // The job's archived system print settings; false when they cannot be
  // unarchived. An empty span clears them.
  virtual bool SetCocoaPrintInfo(std::span<const uint8_t>) { return false; }

  // Upload metadata.
  virtual void SetEmailEntryBuffer(std::span<const uint8_t>) {}
  virtual void SetCustomerEmail(const CStr255_AC&) {}
  virtual void SetGroupCode(const CStr255_AC&) {}

  // Whether the folder of print-to-file set 1..8 resolves from its alias;
  // nullopt while the preference services are not available.
  virtual std::optional<bool> PrintToFileSetFolderResolves(int /*set*/) { return std::nullopt; }

  // Print-server preferences (the live record).
  virtual bool KeepJobFiles();
  virtual bool FullRescan();
  virtual bool AskOnFailedJob();
  // The unknown-jobs and finished-jobs folders; empty when not found.
  virtual std::filesystem::path UnknownJobsFolder();
  virtual std::filesystem::path FinishedJobsFolder();
  // The spool tree's images folder, where job photos are found.
  virtual std::filesystem::path ImagesFolder();
  // The graphics folder ("KIVO GRAPHICS FOLDER ƒ") in the spool root,
  // created when missing; empty when there is no spool root.
  virtual std::filesystem::path GraphicsFolder();

  // Alert 1003 on a failed job: 1 try again, 4 delete the job and its
  // images, 5 move it to the unknown-jobs folder, 6 pause and keep it.
  virtual int AskWhatToDoWithFailedJob() { return 5; }

  // Job queue.
  virtual std::optional<std::filesystem::path> GetNextNewJobFile() { return std::nullopt; }
  virtual void CheckForNewJobs() {}
  // Re-scans the spool folder between two drawn objects and updates the job
  // list when the number of queued jobs changed.
  virtual void RescanBetweenObjects() {}
  virtual void ResetLastModDate() {}
  virtual void SetQueueCurrentFile(const std::string&) {}
  virtual void InsertIntoQueue(const std::filesystem::path&) {}

  // Files: move into a folder without overwriting (a name already there gets
  // a number), delete. Both return 0 or an error code.
  virtual OSErr MoveFileToFolder(const std::filesystem::path& file, const std::filesystem::path& folder);
  virtual OSErr DeleteFile(const std::filesystem::path& file);


  // Statistics.
  virtual void AddToPrintCount(int /*count*/, int /*kind*/, int16_t /*printer*/, int16_t /*canvas*/) {}
  // Drops the node objects' cached offscreen at the end of a job.
  virtual void DisposeLastNodeGWorld() {}

  // Makes the job view for a new job (view resource 3001).
  virtual std::unique_ptr<TSpoolerPrintView> MakeJobView();

  // Ticks of 1/60 s.
  virtual uint32_t TickCount();
};

}  // namespace pipeline
