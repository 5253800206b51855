#include "app/SpoolQueue.h"

#include <algorithm>
#include <system_error>

#include "platform/FolderLookup.h"
#include "prefs/PrefRecords.h"

namespace app {

JobFileList* gJobFileList = nullptr;

SpoolFolders& gSpoolFolders() {
  static SpoolFolders folders;
  return folders;
}

bool SpoolFolders::IsValid() const {
  std::error_code ec;
  return !root.empty() && fs::is_directory(root, ec);
}

fs::path CreateOrFindFolder(const fs::path& parent, const std::string& name) {
  std::error_code ec;
  if (parent.empty() || !fs::is_directory(parent, ec)) return {};
  const fs::path folder = parent / fs::u8path(name);
  if (fs::is_directory(folder, ec)) return folder;
  if (!fs::create_directory(folder, ec) || ec) return {};
  fs::permissions(folder, fs::perms::all, fs::perm_options::replace, ec);
  return folder;
}

namespace {

// The volume and folder id that the file table gives a folder.
void FolderIDs(const fs::path& folder, int16_t& vRefNum, int32_t& dirID) {
  vRefNum = kNoFolderVRefNum;
  dirID = 0;
  if (folder.empty()) return;
  const FSSpec spec = NSStringFilePathToFSSpec(folder.string());
  const int32_t id = GetFolderDirID(spec);
  if (id == -9999 || id <= 0) return;
  vRefNum = spec.vRefNum;
  dirID = id;
}

}  // namespace

bool CreateImageAndJobFolders(const fs::path& root) {
  std::error_code ec;
  if (root.empty() || !fs::is_directory(root, ec)) return false;
  SpoolFolders& f = gSpoolFolders();
  f.root = root;
  f.images = CreateOrFindFolder(root, kImagesFolderName);
  f.jobs = CreateOrFindFolder(root, kJobsFolderName);
  CreateOrFindFolder(f.jobs, kJobFolderName);
  f.finished = CreateOrFindFolder(root, kFinishedFolderName);
  f.unknown = CreateOrFindFolder(root, kUnknownFolderName);
  f.database = CreateOrFindFolder(root, kDatabaseFolderName);
  f.graphics = CreateOrFindFolder(root, kGraphicsFolderName);
  CreateOrFindFolder(f.graphics, kGroupPhotoFolderName);

  tPrintServerPrefs* p = getMyPrintServerPrefs();
  FolderIDs(f.root, p->rootVRefNum, p->rootDirID);
  FolderIDs(f.images, p->imagesVRefNum, p->imagesDirID);
  FolderIDs(f.jobs, p->jobsVRefNum, p->jobsDirID);
  FolderIDs(f.finished, p->finishedVRefNum, p->finishedDirID);
  FolderIDs(f.unknown, p->unknownVRefNum, p->unknownDirID);
  FolderIDs(f.database, p->databaseVRefNum, p->databaseDirID);
  return true;
}

bool JobFileList::Contains(const fs::path& file) const {
  return std::find(files_.begin(), files_.end(), file) != files_.end();
}

void JobFileList::Remove(const fs::path& file) { std::erase(files_, file); }

std::optional<fs::path> JobFileList::TakeFirst() {
  if (files_.empty()) return std::nullopt;
  fs::path first = files_.front();
  files_.erase(files_.begin());
  return first;
}

void JobFileList::InsertFirst(const fs::path& file) {
  Remove(file);
  files_.insert(files_.begin(), file);
}

bool JobFileList::Scan(const fs::path& folder, const fs::path& exclude) {
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(folder, ec)) {
    const bool changed = !files_.empty();
    files_.clear();
    return changed;
  }
  const fs::file_time_type stamp = fs::last_write_time(folder, ec);
  if (!ec && lastScan_ && *lastScan_ == stamp && lastFolder_ == folder) return false;

  struct Entry {
    fs::file_time_type time;
    fs::path path;
  };
  std::vector<Entry> entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    const std::string name = p.filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code e2;
    if (!it->is_regular_file(e2)) continue;
    if (!exclude.empty() && p == exclude) continue;
    entries.push_back({it->last_write_time(e2), p});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.time != b.time) return a.time < b.time;
    return a.path.filename() < b.path.filename();
  });
  std::vector<fs::path> files;
  files.reserve(entries.size());
  for (auto& e : entries) files.push_back(std::move(e.path));
  lastScan_ = ec ? std::nullopt : std::optional(stamp);
  lastFolder_ = folder;
  if (files == files_) return false;
  files_ = std::move(files);
  return true;
}

}  // namespace app
