// Completion events for the files of one folder, from inotify: a file that
// was renamed into the folder, or closed by a writer that had it open for
// writing, is complete as of that event; a later write makes it incomplete
// again. Folders where no event comes (a network share, a file system
// without inotify) simply report nothing, and callers fall back on watching
// sizes and dates.
//
// The watch is re-armed whenever the folder is asked for again by path after
// it was removed or replaced. Events are read without blocking; `fd()` can be
// handed to an event loop that wakes up when one is waiting.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace host {

class FolderWatch {
 public:
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Watches `folder` (re-arms when it is another folder, or the same path
  // now names another folder). False when the folder cannot be watched.
  bool Watch(const std::filesystem::path& folder);
  // Reads every waiting event; true when one of them may matter to a scan.
  bool Drain();
  // True when the last event for `name` in the watched folder said the file
  // was complete (renamed in, or closed after writing).
  bool IsComplete(const std::string& name) const;
  // Forgets what is known of `name` (it was taken away).
  void Forget(const std::string& name) { complete_.erase(name); }

  // The descriptor to wait on for readability; -1 when inotify is missing.
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  int wd_ = -1;
  std::filesystem::path folder_;
  uint64_t device_ = 0, inode_ = 0;
  std::map<std::string, bool> complete_;
};

}  // namespace host
