#include "app/AppServices.h"

#include <system_error>

#include "app/PrintBGBehavior.h"
#include "app/SpoolQueue.h"
#include "pipeline/SpoolFolders.h"
#include "host/ui/Alerts.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "prefs/PrefRecords.h"

namespace app {

namespace fs = std::filesystem;

fs::path FolderPathOfSpec(const FSSpec& folder) {
  if (folder.vRefNum == kNoFolderVRefNum || folder.parID == kNoFolderDirID || folder.parID <= 0) return {};
  FSSpec spec = folder;
  std::string path;
  if (folder.name.IsEmpty()) {
    FSSpec usual{};
    if (GetFolderFSSpec(folder.vRefNum, folder.parID, &usual) != noErr) return {};
    path = FSSpecToNSStringPath(usual);
  } else {
    path = FSSpecToNSStringPath(spec);
  }
  std::error_code ec;
  if (path.empty() || !fs::is_directory(path, ec)) return {};
  return path;
}

OSErr AppPrefsServices::CreateImageAndJobFolders() { return pipeline::createImageAndJobFolders(); }
OSErr AppPrefsServices::CreateImageAndJobFolders2() { return pipeline::createImageAndJobFolders2(); }

void AppServices::OperatorMessage(std::string_view text) { DisplayNormalMessage(std::string(text).c_str()); }

void AppServices::SetJobInfo(const tJobInfo& info) { controller_.SetJobInfo(info); }

void AppServices::SetPrinterAndTemplate(int16_t printer, const CStr31_AC& templateName,
                                        const CStr31_AC& packageName) {
  controller_.SetPrinterAndTemplate(printer, templateName, packageName);
}

void AppServices::SetJobFileName(const std::string& name) { controller_.SetJobFileName(CStr255_AC(name)); }
void AppServices::SetStatus(const std::string& text) { controller_.SetStatus(CStr255_AC(text)); }
void AppServices::PrintLog(uint32_t elapsedTicks) { controller_.PrintLog(elapsedTicks); }
void AppServices::EnableButtonsWhenDone() { controller_.EnableButtonsWhenDone(); }
void AppServices::EnableBackgroundPrinting(bool on) { controller_.EnableBackgroundPrinting(on); }

std::optional<bool> AppServices::PrintToFileSetFolderResolves(int set) {
  const tSpecialPrintToFilePref* p = getMyPrintToFileSetPrefs(int16_t(set));
  if (!p) return false;
  return !FolderPathOfSpec(p->folder.spec).empty();
}

bool AppServices::KeepJobFiles() { return getMyPrintServerPrefs()->keepJobFiles != 0; }
bool AppServices::FullRescan() { return getMyPrintServerPrefs()->fullRescan != 0; }
bool AppServices::AskOnFailedJob() { return getMyPrintServerPrefs()->askOnFailedJob != 0; }
fs::path AppServices::UnknownJobsFolder() { return gSpoolFolders().unknown; }
fs::path AppServices::FinishedJobsFolder() { return gSpoolFolders().finished; }

int AppServices::AskWhatToDoWithFailedJob() {
  ParamText(CStr255_AC(controller_.GetJobFileName()));
  const int16_t item = MacAppAlert(1003);
  // Closing the alert any other way must not strand the job: it goes to the
  // unknown-jobs folder.
  switch (item) {
    case 1:
    case 4:
    case 5:
    case 6: return item;
    default: return 5;
  }
}

std::optional<fs::path> AppServices::GetNextNewJobFile() {
  auto next = pipeline::GetNextNewJobFile();
  if (next) {
    platform::LogF("Picked up job file: %s", next->filename().string().c_str());
    controller_.UpdateJobsList();
  }
  return next;
}

void AppServices::CheckForNewJobs() { pipeline::CheckForNewJobs(); }

void AppServices::ResetLastModDate() {
  if (pipeline::gJobFileList) pipeline::gJobFileList->ResetLastModDate();
}

void AppServices::SetQueueCurrentFile(const std::string& name) {
  if (pipeline::gJobFileList) pipeline::gJobFileList->SetQueueCurrentFile(name);
}

void AppServices::InsertIntoQueue(const fs::path& file) {
  if (!pipeline::gJobFileList) return;
  pipeline::gJobFileList->InsertIntoQueue(file);
  controller_.UpdateJobsList();
}

}  // namespace app
