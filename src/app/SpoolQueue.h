// The spool folder tree as paths, read from the live print-server record
// once the tree is set up (pipeline/SpoolFolders.h), and the job queue's
// helpers the status window needs.
#pragma once

#include <filesystem>
#include <string>

#include "pipeline/JobQueue.h"
#include "pipeline/SpoolFolders.h"

namespace app {

namespace fs = std::filesystem;

inline constexpr const char* kGroupPhotoFolderName = "GROUP PHOTO FILES";

struct SpoolFolders {
  fs::path root, images, jobs, finished, unknown, database;
  bool IsValid() const;  // the root exists as a folder
};

// The tree in use, as the print-server record holds it now.
SpoolFolders gSpoolFolders();

// Creates (or finds) `name` in `parent` with mode 0777 less the umask; empty on failure.
fs::path CreateOrFindFolder(const fs::path& parent, const std::string& name);

// The queued job file at `index` (from 0), or an empty path.
fs::path QueuedFile(size_t index);
// Takes one file out of the queue (the file itself stays); false when it
// was not queued.
bool RemoveFromQueue(const fs::path& file);

}  // namespace app
