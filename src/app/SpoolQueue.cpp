#include "app/SpoolQueue.h"

#include <system_error>

#include "host/files/HeldFolders.h"
#include "platform/FolderLookup.h"
#include "prefs/PrefRecords.h"

namespace app {

SpoolFolders gSpoolFolders() {
  const tPrintServerPrefs* p = getMyPrintServerPrefs();
  auto kept = [](int16_t v, int32_t d) { return pipeline::KeptFolderPath(v, d).value_or(fs::path()); };
  SpoolFolders f;
  f.root = kept(p->rootVRefNum, p->rootDirID);
  f.images = kept(p->imagesVRefNum, p->imagesDirID);
  f.jobs = kept(p->jobsVRefNum, p->jobsDirID);
  f.finished = kept(p->finishedVRefNum, p->finishedDirID);
  f.unknown = kept(p->unknownVRefNum, p->unknownDirID);
  f.database = kept(p->databaseVRefNum, p->databaseDirID);
  return f;
}

bool SpoolFolders::IsValid() const {
  struct stat st {};
  return !root.empty() && host::StatAt(root.string(), &st) == 0 && S_ISDIR(st.st_mode);
}

fs::path CreateOrFindFolder(const fs::path& parent, const std::string& name) {
  return fs::path(CreateOrFindFolderPath(parent.string(), name));
}

fs::path QueuedFile(size_t index) {
  if (!pipeline::gJobFileList || index >= pipeline::gJobFileList->GetSize()) return {};
  return pipeline::gJobFileList->Files()[index].path;
}

bool RemoveFromQueue(const fs::path& file) {
  auto* list = pipeline::gJobFileList;
  if (!list) return false;
  std::vector<pipeline::TQueuedFile> keep;
  bool found = false;
  for (const auto& q : list->Files()) {
    if (q.path == file) found = true;
    else keep.push_back(q);
  }
  if (!found) return false;
  list->DeleteAll();
  for (auto& q : keep) list->Insert(std::move(q));
  return true;
}

}  // namespace app
