// Job pickup from the print jobs folder and the sorted job queue.
#include "pipeline/JobQueue.h"

#include <algorithm>
#include <cctype>

#include "host/files/HeldFolders.h"
#include "host/base/PascalString.h"
#include "host/files/CatalogInfo.h"
#include "host/files/FSSpec.h"
#include "host/files/FileOps.h"
#include "host/sys/SystemInfo.h"
#include "platform/FileNames.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/PStrings.h"
#include "pipeline/PrintedJobs.h"
#include "pipeline/SpoolFolders.h"
#include "prefs/PrefRecords.h"

namespace pipeline {

TSortedFileList* gJobFileList = nullptr;

namespace {

namespace fs = std::filesystem;

// The folder's date is trusted for skipping a scan only once it is this old:
// a later change then always carries a later date, whatever the file
// system's clock granularity.
constexpr int64_t kDateTrustNs = 1'000'000'000;
// Clash names are tried this many times before the move is given up.
constexpr int kMaxClashAttempts = 100;

int64_t NowNs() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

uint32_t TickCount() {
  using namespace std::chrono;
  return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() * 60 / 1000);
}

bool StartsWith(const std::string& s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool EqualsIgnoringCase(const std::string& a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A file the stations are still writing: they write under a name beginning
// with "TempFile" and rename the file when it is complete.
bool IsTempFileName(const std::string& name) { return StartsWith(name, "TempFile") || EqualsIgnoringCase(name, "TempFile"); }

std::optional<fs::path> FolderPath(int16_t vRefNum, int32_t dirID) {
  std::string path;
  if (host::GetPathForDirID(vRefNum, dirID, &path) != noErr) return std::nullopt;
  return fs::path(path);
}

// Creates "All Files" in the jobs folder, or finds it.
OSErr MakeAllFilesFolder(const fs::path& jobsFolder, fs::path* allFiles) {
  int16_t vRefNum = 0;
  int32_t dirID = 0;
  OSErr err = host::GetDirIDForPath(jobsFolder.string(), &vRefNum, &dirID);
  if (err != noErr) return err;
  FSSpec folder;
  err = createNewFolder(CStr255_AC(kJobFolderName), vRefNum, dirID, &folder);
  if (err != noErr) return err;
  *allFiles = jobsFolder / kJobFolderName;
  return noErr;
}

}  // namespace

bool systemVersionIsGreaterOrEqualTo13(const std::string& versionText) {
  const std::string head = versionText.substr(0, 13);
  return EqualsIgnoringCase(head, "Version 10.13") || EqualsIgnoringCase(head, "Version 10.14");
}

int CompareQueuedFiles(const TQueuedFile& a, const TQueuedFile& b) {
  if (a.creationDate != b.creationDate) return a.creationDate < b.creationDate ? -1 : 1;
  // Names ignoring case; a name that is the other's beginning goes first;
  // names that differ only in case by their bytes.
  const int byName = pstrcomp3(a.name, b.name);
  if (byName != 0) return byName;
  if (a.name.size() != b.name.size()) return a.name.size() < b.name.size() ? -1 : 1;
  const int bytes = a.name.compare(b.name);
  return bytes < 0 ? -1 : (bytes > 0 ? 1 : 0);
}

TSortedFileList::TSortedFileList()
    : route_(systemVersionIsGreaterOrEqualTo13(host::systemVersionText()) ? ScanRoute::kCocoa : ScanRoute::kCatalog) {}

bool TSortedFileList::Insert(const fs::path& file) {
  host::CatalogInfo info;
  if (host::GetCatInfoForPath(file.string(), &info) != noErr) return false;
  return Insert(TQueuedFile{file, info.CreationMacSeconds(), file.filename().string()});
}

bool TSortedFileList::Insert(TQueuedFile file) {
  if (!currentFile_.empty() && file.name == currentFile_) return false;
  if (std::any_of(files_.begin(), files_.end(), [&](const TQueuedFile& q) { return q.path == file.path; }))
    return false;
  if (IsRecordedAsPrinted(file.path)) {
    if (std::find(refusedPrinted_.begin(), refusedPrinted_.end(), file.path) == refusedPrinted_.end()) {
      refusedPrinted_.push_back(file.path);
      platform::LogF("The job file [%s] has printed already and is not queued again", file.path.string().c_str());
    }
    return false;
  }
  auto at = std::upper_bound(files_.begin(), files_.end(), file,
                             [](const TQueuedFile& a, const TQueuedFile& b) { return CompareQueuedFiles(a, b) < 0; });
  files_.insert(at, std::move(file));
  return true;
}

std::optional<fs::path> TSortedFileList::GetNextNewJobFile() {
  if (files_.empty()) return std::nullopt;
  TQueuedFile first = std::move(files_.front());
  files_.erase(files_.begin());
  currentFile_ = first.name;
  return first.path;
}

void TSortedFileList::CheckForNewJobs() {
  const size_t before = files_.size();
  if (FindNewJobFiles(*getMyPrintServerPrefs()) && files_.size() != before && jobsListChanged_) jobsListChanged_();
}

std::optional<fs::path> TSortedFileList::JobsFolder(const tPrintServerPrefs& prefs) {
  // A held folder that went (moved, removed, replaced) is not made again
  // here: the controller pauses printing and names it (MovedFoldersMessage).
  return FolderPath(prefs.jobsVRefNum, prefs.jobsDirID);
}

bool TSortedFileList::FindNewJobFiles(const tPrintServerPrefs& prefs) {
  if (auto jobs = JobsFolder(prefs)) {
    int count = 0;
    GetAllFilesInDirectory(*jobs, count);
  }
  return !files_.empty();
}

bool TSortedFileList::findAllJobFiles(const tPrintServerPrefs& prefs) {
  if (auto jobs = FolderPath(prefs.jobsVRefNum, prefs.jobsDirID)) {
    int count = 0;
    getAllFilesInNewDirectory(*jobs, count);
  }
  return !files_.empty();
}

std::string TSortedFileList::RenamedForClash(const std::string& name, int attempt) const {
  if (route_ == ScanRoute::kCatalog)
    return platform::CutChars(name, 22) + " " + std::to_string(TickCount() + uint32_t(attempt));
  std::string target = name;
  for (int n = 1; n <= attempt + 1; ++n) target += " copy " + std::to_string(n);
  return target;
}

OSErr TSortedFileList::MoveIntoAllFiles(const fs::path& file, const fs::path& allFiles, fs::path* moved) {
  const std::string name = file.filename().string();
  fs::path target = allFiles / name;
  OSErr err = noErr;
  for (int attempt = 0; attempt <= kMaxClashAttempts; ++attempt) {
    if (attempt > 0 || host::ExistsAt(target.string())) target = allFiles / RenamedForClash(name, attempt);
    // The Cocoa route numbers on while a name is taken.
    err = host::MoveItem(file.string(), target.string());
    if (err != dupFNErr) break;
  }
  if (err == noErr) *moved = target;
  return err;
}

OSErr GetFolderModificationDate(int64_t* dateNs, const fs::path& folder) {
  if (!dateNs) return paramErr;
  host::CatalogInfo info;
  if (const OSErr err = host::GetCatInfoForPath(folder.string(), &info); err != noErr) return err;
  if (!info.isFolder) return dirNFErr;
  *dateNs = info.modificationTimeNs;
  return noErr;
}

OSErr TSortedFileList::GetAllFilesInDirectory(const fs::path& jobsFolder, int& count) {
  count = 0;
  fs::path allFiles;
  OSErr result = MakeAllFilesFolder(jobsFolder, &allFiles);
  if (result != noErr) return result;

  int64_t folderDate = 0;
  if (GetFolderModificationDate(&folderDate, jobsFolder) != noErr) return noErr;
  const int64_t now = NowNs();
  if (route_ == ScanRoute::kCatalog) {
    if (lastModDate_ != 0 && folderDate == lastModDate_) return noErr;
    lastModDate_ = (now - folderDate >= kDateTrustNs) ? folderDate : 0;
  }

  // Armed before the listing, so that nothing completed between the two is
  // missed; what is waiting is read now.
  watch_.Watch(jobsFolder);
  watch_.Drain();
  std::vector<std::string> names;
  if (host::ListFolder(jobsFolder.string(), &names) != noErr) return noErr;
  std::map<fs::path, Watch> stillWatching;
  std::map<fs::path, FileState> stillFailed;

  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    const std::string& name = *it;
    const fs::path file = jobsFolder / name;
    host::CatalogInfo info;
    if (host::GetCatInfoForPath(file.string(), &info) != noErr || info.isFolder || info.invisible) continue;
    if (IsTempFileName(name)) {
      lastModDate_ = 0;
      continue;
    }
    const FileState state{info.dataLength, info.modificationTimeNs};

    // A file that could not be moved before is left alone until it changes.
    if (auto failed = failedMoves_.find(file); failed != failedMoves_.end() && failed->second == state) {
      stillFailed.insert(*failed);
      continue;
    }

    // A file modified just now may still be being written: it is taken once
    // it is older than the settle time, or has stayed unchanged that long.
    const int64_t settleNs = std::chrono::duration_cast<std::chrono::nanoseconds>(settleTime_).count();
    if (now - info.modificationTimeNs < settleNs && !watch_.IsComplete(name)) {
      Watch watch{state, now};
      if (auto seen = watching_.find(file); seen != watching_.end() && seen->second.state == state)
        watch.sinceNs = seen->second.sinceNs;
      if (now - watch.sinceNs < settleNs) {
        stillWatching[file] = watch;
        lastModDate_ = 0;
        continue;
      }
    }

    if (route_ == ScanRoute::kCocoa) platform::LogF("Found a new job file, fileName = %s, srcPath = %s,fullPath = %s",
                                                    name.c_str(), jobsFolder.c_str(), (allFiles / name).c_str());
    fs::path moved;
    result = MoveIntoAllFiles(file, allFiles, &moved);
    if (result != noErr) {
      stillFailed[file] = state;
      platform::LogF("Could not move the job file %s into \"%s\", error code %d", file.c_str(), kJobFolderName,
                     int(result));
      DisplayNormalMessage(platform::StringF("The job file \"%s\" could not be moved into \"%s\" (error %d); it was "
                                             "left in the print jobs folder.",
                                             name.c_str(), kJobFolderName, int(result))
                               .c_str());
      continue;
    }
    if (Insert(moved)) ++count;
  }
  watching_ = std::move(stillWatching);
  failedMoves_ = std::move(stillFailed);
  return result;
}

OSErr TSortedFileList::getAllFilesInNewDirectory(const fs::path& jobsFolder, int& count) {
  count = 0;
  fs::path allFiles;
  const OSErr err = MakeAllFilesFolder(jobsFolder, &allFiles);
  if (err != noErr) return err;
  std::vector<std::string> names;
  if (host::ListFolder(allFiles.string(), &names) != noErr) return noErr;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    const fs::path file = allFiles / *it;
    host::CatalogInfo info;
    if (host::GetCatInfoForPath(file.string(), &info) != noErr || info.isFolder || info.invisible) continue;
    if (Insert(file)) ++count;
  }
  return noErr;
}

std::optional<fs::path> GetNextNewJobFile() {
  return gJobFileList ? gJobFileList->GetNextNewJobFile() : std::nullopt;
}

int16_t CheckForNewJobs() {
  if (gJobFileList) gJobFileList->CheckForNewJobs();
  return 0;
}

bool FindNewJobFiles(const tPrintServerPrefs& prefs) { return gJobFileList && gJobFileList->FindNewJobFiles(prefs); }

bool findAllJobFiles(const tPrintServerPrefs& prefs) { return gJobFileList && gJobFileList->findAllJobFiles(prefs); }

}  // namespace pipeline
