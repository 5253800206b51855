// The job pipeline's services as the application provides them: the
// controller's texts and print log, the spool queue, the print-server
// preferences, and the operator's answer to a failed job.
#pragma once

#include <filesystem>

#include "host/files/FSSpec.h"
#include "pipeline/Services.h"
#include "prefs/PrefsServices.h"

namespace app {

class TPrintBGBehavior;

class AppServices : public pipeline::TPipelineServices {
 public:
  explicit AppServices(TPrintBGBehavior& controller) : controller_(controller) {}

  void OperatorMessage(std::string_view text) override;

  void SetJobInfo(const tJobInfo& info) override;
  void SetPrinterAndTemplate(int16_t printer, const CStr31_AC& templateName, const CStr31_AC& packageName) override;
  void SetJobFileName(const std::string& name) override;
  void SetStatus(const std::string& text) override;
  void PrintLog(uint32_t elapsedTicks) override;
  void EnableButtonsWhenDone() override;
  void EnableBackgroundPrinting(bool on) override;

  std::optional<bool> PrintToFileSetFolderResolves(int set) override;

  bool KeepJobFiles() override;
  bool FullRescan() override;
  bool AskOnFailedJob() override;
  std::filesystem::path UnknownJobsFolder() override;
  std::filesystem::path FinishedJobsFolder() override;
  int AskWhatToDoWithFailedJob() override;

  std::optional<std::filesystem::path> GetNextNewJobFile() override;
  void CheckForNewJobs() override;
  void ResetLastModDate() override;
  void SetQueueCurrentFile(const std::string& name) override;
  void InsertIntoQueue(const std::filesystem::path& file) override;

 private:
  TPrintBGBehavior& controller_;
};

// The preferences window's services: the spool tree in a newly chosen root.
class AppPrefsServices : public TPrefsServices {
 public:
  OSErr CreateImageAndJobFolders() override;
  OSErr CreateImageAndJobFolders2() override;
};

// The path of a folder stored in the folder convention (parID is the
// folder's own id, empty name); empty when it does not resolve.
std::filesystem::path FolderPathOfSpec(const FSSpec& folder);

}  // namespace app
