#include "pipeline/Services.h"

#include "pipeline/BGPrintView.h"

#include <chrono>
#include <cstdio>

#include "host/files/FSSpec.h"
#include "host/files/FileOps.h"
#include "pipeline/SpoolFolders.h"
#include "platform/FolderLookup.h"
#include "platform/Messages.h"
#include "prefs/PrefRecords.h"

namespace pipeline {

void TPipelineServices::Log(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void TPipelineServices::OperatorMessage(std::string_view text) {
  DisplayNormalMessagePascal(CStr255_AC(std::string(text)));
}

bool TPipelineServices::KeepJobFiles() {
  const tPrintServerPrefs* p = getMyPrintServerPrefs();
  return p && p->keepJobFiles != 0;
}

bool TPipelineServices::FullRescan() {
  const tPrintServerPrefs* p = getMyPrintServerPrefs();
  return p && p->fullRescan != 0;
}

bool TPipelineServices::AskOnFailedJob() {
  const tPrintServerPrefs* p = getMyPrintServerPrefs();
  return p && p->askOnFailedJob != 0;
}

namespace {

std::filesystem::path FolderOf(int16_t vRefNum, int32_t dirID) {
  std::string path;
  if (vRefNum == kNoFolderVRefNum || dirID == kNoFolderDirID) return {};
  if (host::GetPathForDirID(vRefNum, dirID, &path) != noErr) return {};
  return path;
}

}  // namespace

std::filesystem::path TPipelineServices::UnknownJobsFolder() {
  const tPrintServerPrefs* p = getMyPrintServerPrefs();
  return p ? FolderOf(p->unknownVRefNum, p->unknownDirID) : std::filesystem::path();
}

std::filesystem::path TPipelineServices::FinishedJobsFolder() {
  const tPrintServerPrefs* p = getMyPrintServerPrefs();
  return p ? FolderOf(p->finishedVRefNum, p->finishedDirID) : std::filesystem::path();
}

std::filesystem::path TPipelineServices::ImagesFolder() {
  const tPrintServerPrefs* p = getMyPrintServerPrefs();
  return p ? FolderOf(p->imagesVRefNum, p->imagesDirID) : std::filesystem::path();
}

std::filesystem::path TPipelineServices::GraphicsFolder() {
  const tPrintServerPrefs* p = getMyPrintServerPrefs();
  if (!p || p->rootVRefNum == kNoFolderVRefNum || p->rootDirID == kNoFolderDirID) return {};
  FSSpec folder;
  if (createNewFolder(CStr255_AC(kGraphicsFolderName), p->rootVRefNum, p->rootDirID, &folder) != noErr) return {};
  return FolderOf(folder.vRefNum, folder.parID);
}

OSErr TPipelineServices::MoveFileToFolder(const std::filesystem::path& file, const std::filesystem::path& folder) {
  if (folder.empty()) return dirNFErr;
  const std::string name = file.filename().string();
  // Never replace a file of the same name: the moved one gets a number.
  OSErr err = host::MoveItem(file.string(), host::JoinPath(folder.string(), name));
  for (int n = 1; err == dupFNErr && n < 1000; ++n)
    err = host::MoveItem(file.string(), host::JoinPath(folder.string(), name + " " + std::to_string(n)));
  return err;
}

OSErr TPipelineServices::DeleteFile(const std::filesystem::path& file) { return host::DeleteItem(file.string()); }

std::unique_ptr<TSpoolerPrintView> TPipelineServices::MakeJobView() {
  return std::make_unique<TSpoolerPrintView>(*this);
}

uint32_t TPipelineServices::TickCount() {
  using namespace std::chrono;
  return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() * 60 / 1000);
}

}  // namespace pipeline
