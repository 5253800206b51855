// The spool folder tree and the list of waiting job files, as the
// application uses them: the folders are created (or found) under the spool
// root, the print-jobs folder is scanned into a list sorted oldest first
// (ties by name), and the job thread takes its next job from the front.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace app {

namespace fs = std::filesystem;

// Folder names on disk (UTF-8).
inline constexpr const char* kSpoolRootName = "Kivo-Processor Folder ƒ";
inline constexpr const char* kImagesFolderName = "IMAGES FOLDER ƒ";
inline constexpr const char* kJobsFolderName = "PRINT JOBS FOLDER ƒ";
inline constexpr const char* kFinishedFolderName = "FINISHED JOBS FOLDER ƒ";
inline constexpr const char* kUnknownFolderName = "UNKNOWN JOBS FOLDER ƒ";
inline constexpr const char* kDatabaseFolderName = "DATABASE FOLDER ƒ";
inline constexpr const char* kGraphicsFolderName = "KIVO GRAPHICS FOLDER ƒ";
inline constexpr const char* kJobFolderName = "All Files";
inline constexpr const char* kGroupPhotoFolderName = "GROUP PHOTO FILES";

struct SpoolFolders {
  fs::path root, images, jobs, finished, unknown, database, graphics;
  bool IsValid() const;  // the root exists as a folder
};

// The tree in use; empty until start-up resolved it.
SpoolFolders& gSpoolFolders();

// Creates (or finds) `name` in `parent` with mode 0777; empty on failure.
fs::path CreateOrFindFolder(const fs::path& parent, const std::string& name);

// Creates or finds every folder of the tree under `root` and records them in
// gSpoolFolders() and in the print-server preferences. False when the root
// is not an existing folder.
bool CreateImageAndJobFolders(const fs::path& root);

// The waiting job files, oldest first.
class JobFileList {
 public:
  size_t Size() const { return files_.size(); }
  bool Empty() const { return files_.empty(); }
  const fs::path& At(size_t index) const { return files_.at(index); }
  const std::vector<fs::path>& Files() const { return files_; }
  bool Contains(const fs::path& file) const;
  void Remove(const fs::path& file);
  void Clear() { files_.clear(); }
  std::optional<fs::path> TakeFirst();
  // Puts a job kept for a retry at the front (once).
  void InsertFirst(const fs::path& file);

  // Reads `folder` again when it changed since the last scan (or after
  // ResetLastModDate). `exclude` (the job in work) is never listed. True
  // when the list changed.
  bool Scan(const fs::path& folder, const fs::path& exclude = {});
  void ResetLastModDate() { lastScan_.reset(); }

 private:
  std::vector<fs::path> files_;
  std::optional<fs::file_time_type> lastScan_;
  fs::path lastFolder_;
};

// The one job list, created by the controller.
extern JobFileList* gJobFileList;

}  // namespace app
