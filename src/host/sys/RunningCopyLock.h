// The single-copy check: an exclusive flock on a lock file or on a folder,
// held for as long as the object lives (the application keeps both of its
// locks for its whole run). The
// kernel drops the lock when the process ends, however it ends, so a crash
// never leaves a stale lock behind. The descriptor is not inherited by
// programs we start, so a helper that outlives us does not keep the lock.
#pragma once

#include <filesystem>
#include <string>

namespace host {

class RunningCopyLock {
 public:
  enum class Status { Acquired, AlreadyRunning, Failed };

  // "Kivo-Processor.lock" in $XDG_RUNTIME_DIR, else ".Kivo-Processor.lock"
  // in the application folder.
  static std::filesystem::path defaultLockFile();

  // Tries to take the lock without waiting. The lock file is made
  // exclusively when missing, with the permission bits the umask gives
  // (0666 less it); a link (never followed) or anything but a regular file
  // under its name gives Failed. The holder writes who it is into the file.
  static RunningCopyLock acquire(const std::filesystem::path& lockFile = defaultLockFile());
  // The same for the lock file `name` in the open folder `folderFd`, reached
  // through that descriptor whatever is renamed around it; `lockFile` names
  // it in messages.
  static RunningCopyLock acquireIn(int folderFd, const std::string& name, const std::filesystem::path& lockFile);
  // The lock on a folder itself (the application folder, which holds the
  // spool tree): two copies working on one folder refuse each other whatever
  // their runtime folders, and no file is made for it.
  static RunningCopyLock acquireFolder(const std::filesystem::path& folder);
  // The lock on this user's configuration folder ("Kivo-Processor.lock" in
  // it; the folder is made when missing, as the user defaults make it): a
  // processor holds it for its whole run, and an import of preferences for
  // the whole import, so that neither writes the user defaults while the
  // other uses them, whatever their application and runtime folders.
  static RunningCopyLock acquireConfiguration();

  RunningCopyLock(RunningCopyLock&& other) noexcept;
  RunningCopyLock& operator=(RunningCopyLock&& other) noexcept;
  ~RunningCopyLock();  // releases the lock

  Status status() const { return status_; }
  bool acquired() const { return status_ == Status::Acquired; }
  // For AlreadyRunning and Failed: a sentence for the log or the operator.
  const std::string& message() const { return message_; }
  // For AlreadyRunning: who holds it, as the holder wrote it into a lock
  // file ("process 1234 on shop-pc"), else as the kernel shows the lock's
  // holder ("process 1234"); empty when unknown.
  const std::string& holder() const { return holder_; }

 private:
  RunningCopyLock() = default;
  int fd_ = -1;
  Status status_ = Status::Failed;
  std::string message_;
  std::string holder_;
};

}  // namespace host
