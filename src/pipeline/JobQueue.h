// Job pickup and the job queue.
//
// Station applications drop job files into the print jobs folder. A spool
// scan moves each new job file into the folder's "All Files" subfolder (so
// that it is never picked up twice) and queues it; the task manager takes
// the queue's first file when a job starts. The queue is kept in creation
// order, oldest first; equal creation dates (whole seconds) are ordered by
// name ignoring case, then by the name's bytes, so the order never depends
// on the order of insertion.
//
// What a scan leaves alone:
//   - folders and invisible items (names beginning with ".");
//   - files whose names begin with "TempFile": the stations write a job
//     under such a name and rename it when it is complete;
//   - files modified within the settle time (default 2 s), which may still
//     be being written, unless a file-system event showed them complete
//     (renamed into the folder, or closed by their writer); the next scan
//     looks at them again;
//   - a file whose move into "All Files" failed: it is reported once and
//     stays where it is until it changes or is removed.
// Moving never replaces a file in "All Files": a name that is taken there
// is changed first (see ScanRoute).
//
// The remembered modification date of the print jobs folder lets a scan
// skip an unchanged folder; it is only trusted once the folder has been
// quiet for the settle time, so a job dropped in the same instant as the
// previous scan is never missed.
//
// Scans run on the one thread that runs the jobs and the user interface;
// nothing here locks.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/base/MacTypes.h"
#include "host/files/FolderWatch.h"

struct tPrintServerPrefs;

namespace pipeline {

// The subfolder of the print jobs folder that holds picked-up jobs.
inline constexpr const char kJobFolderName[] = "All Files";

// How a name taken in "All Files" is changed.
enum class ScanRoute {
  // The first 22 characters of the name, a space and the tick count.
  kCatalog,
  // The name followed by " copy 1" (then " copy 1 copy 2", ...).
  kCocoa,
};

// True (the kCocoa route) for a version text that begins with
// "Version 10.13" or "Version 10.14", case ignored; else the kCatalog route.
bool systemVersionIsGreaterOrEqualTo13(const std::string& versionText);

// One queued job file.
struct TQueuedFile {
  std::filesystem::path path;
  uint32_t creationDate = 0;  // seconds
  std::string name;           // the file's name (UTF-8, as on disk)
};

// Queue order: -1 when `a` goes first, 1 when `b` does, 0 for the same name
// and date. A strict weak ordering.
int CompareQueuedFiles(const TQueuedFile& a, const TQueuedFile& b);

class TSortedFileList {
 public:
  TSortedFileList();

  // ---- the queue ----
  // Queues a file in order. A file named like the current file, a file
  // already queued and a file that cannot be read are not queued; false then.
  bool Insert(const std::filesystem::path& file);
  bool Insert(TQueuedFile file);
  // Takes the first queued file out of the queue and makes its name the
  // current file; nothing when the queue is empty.
  std::optional<std::filesystem::path> GetNextNewJobFile();
  void SetCurrentFile(const std::string& name) { currentFile_ = name; }
  // The task manager's names for SetCurrentFile and Insert (pipeline/Services.h).
  void SetQueueCurrentFile(const std::string& name) { SetCurrentFile(name); }
  void InsertIntoQueue(const std::filesystem::path& file) { Insert(file); }
  const std::string& CurrentFile() const { return currentFile_; }
  size_t GetSize() const { return files_.size(); }
  bool IsEmpty() const { return files_.empty(); }
  const std::vector<TQueuedFile>& Files() const { return files_; }
  // Removes every queued file (the files themselves stay).
  void DeleteAll() { files_.clear(); }

  // ---- scans ----
  // One spool scan of the live print-server record's jobs folder; when the
  // queue length changed, the jobs-list hook is called.
  void CheckForNewJobs();
  // One spool scan of the record's jobs folder; true when the queue is not
  // empty afterwards.
  bool FindNewJobFiles(const tPrintServerPrefs& prefs);
  // Queues the files already in "All Files" (start-up); true when the queue
  // is not empty afterwards.
  bool findAllJobFiles(const tPrintServerPrefs& prefs);
  // The spool scan of a print jobs folder; `count` gets the number of files
  // queued. The last file-system result.
  OSErr GetAllFilesInDirectory(const std::filesystem::path& jobsFolder, int& count);
  // Queues the files of "All Files" in the jobs folder without moving anything.
  OSErr getAllFilesInNewDirectory(const std::filesystem::path& jobsFolder, int& count);

  // The descriptor that becomes readable when something happens in the
  // print jobs folder last scanned (-1: none), and the call that reads what
  // happened; true when a scan may now find a job.
  int FolderEventDescriptor() const { return watch_.fd(); }
  bool DrainFolderEvents() {
    if (!watch_.Drain()) return false;
    lastModDate_ = 0;
    return true;
  }

  // Forgets the jobs folder's date, so that the next scan runs in full.
  void ResetLastModDate() { lastModDate_ = 0; }
  int64_t LastModDate() const { return lastModDate_; }

  // ---- settings ----
  void SetRoute(ScanRoute route) { route_ = route; }
  ScanRoute Route() const { return route_; }
  void SetSettleTime(std::chrono::milliseconds t) { settleTime_ = t; }
  // Called by CheckForNewJobs when the queue length changed.
  void SetJobsListChangedHook(std::function<void()> hook) { jobsListChanged_ = std::move(hook); }

 private:
  struct FileState {
    uint64_t size = 0;
    int64_t modificationTimeNs = 0;
    friend bool operator==(const FileState&, const FileState&) = default;
  };

  // Moves one job file into "All Files" without replacing anything; the
  // moved file's path, or the error.
  OSErr MoveIntoAllFiles(const std::filesystem::path& file, const std::filesystem::path& allFiles,
                         std::filesystem::path* moved);
  std::string RenamedForClash(const std::string& name, int attempt) const;
  // The print jobs folder of `prefs`; nothing when it is gone (it is never
  // made again while the program runs: see MovedFoldersMessage).
  std::optional<std::filesystem::path> JobsFolder(const tPrintServerPrefs& prefs);
  // Printed files that could not be removed, refused (and logged) once each.
  std::vector<std::filesystem::path> refusedPrinted_;

  std::vector<TQueuedFile> files_;
  std::string currentFile_;
  int64_t lastModDate_ = 0;  // nanoseconds; 0 = scan in full
  ScanRoute route_;
  std::chrono::milliseconds settleTime_{2000};
  std::function<void()> jobsListChanged_;
  // Files whose move failed, with what they looked like then.
  std::map<std::filesystem::path, FileState> failedMoves_;
  // Recently modified files: what they looked like and since when (ns).
  struct Watch {
    FileState state;
    int64_t sinceNs = 0;
  };
  std::map<std::filesystem::path, Watch> watching_;
  // Completion events of the print jobs folder: a file that an event shows
  // complete (renamed in, or closed by its writer) needs no settle wait.
  host::FolderWatch watch_;
};

// The modification date of `folder` (nanoseconds since 1970) from its
// catalog information: noErr, or the lookup's error (dirNFErr when the item
// is not a folder); `dateNs` is left alone on failure.
OSErr GetFolderModificationDate(int64_t* dateNs, const std::filesystem::path& folder);

// The job queue, created by the background-printing controller and kept
// until quit; null before.
extern TSortedFileList* gJobFileList;

// The job-queue operations on gJobFileList (nothing when there is none).
std::optional<std::filesystem::path> GetNextNewJobFile();
int16_t CheckForNewJobs();
bool FindNewJobFiles(const tPrintServerPrefs& prefs);
bool findAllJobFiles(const tPrintServerPrefs& prefs);

}  // namespace pipeline
