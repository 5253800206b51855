// An exclusive lock shared between processes: flock on a lock file, held
// while the object lives. Two programs that read, change and rewrite the
// same files take the same lock file around the whole change, so neither
// loses the other's update. The kernel drops the lock when a process ends.
//
// The lock file is opened without following a symbolic link and must be a
// regular file: a link planted under the lock's name would otherwise make
// the program create or open whatever file it points to.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace host {

class FileLock {
 public:
  // Creates the lock file when missing (mode 0666 before the umask) and
  // waits for the lock for at most `timeout`; nothing when the file cannot
  // be opened, is a link or not a regular file, or the lock is not had in
  // time. `why` (when given) then says which; `heldByAnother` (when given)
  // is set only when the file was fine and another holder kept the lock,
  // the one case where trying again may help.
  static std::optional<FileLock> Acquire(const std::filesystem::path& lockFile,
                                         std::chrono::milliseconds timeout = std::chrono::seconds(10),
                                         std::string* why = nullptr, bool* heldByAnother = nullptr);

  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace host
