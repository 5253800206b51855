#include "host/sys/RunningCopyLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "host/sys/Folders.h"

namespace host {

std::filesystem::path RunningCopyLock::defaultLockFile() {
  if (auto runtime = runtimeFolder()) return *runtime / "Kivo-Processor.lock";
  return applicationFolder() / ".Kivo-Processor.lock";
}

namespace {

// Takes the flock on `fd` without waiting; the descriptor is closed unless
// the lock was taken.
bool Lock(int fd, const std::filesystem::path& what, RunningCopyLock::Status* status, std::string* message) {
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) {
      *status = RunningCopyLock::Status::AlreadyRunning;
      *message = "Kivo-Processor is already running (lock " + what.string() + " is held)";
    } else {
      *message = "Cannot lock " + what.string() + ": " + std::strerror(err);
    }
    return false;
  }
  return true;
}

}  // namespace

RunningCopyLock RunningCopyLock::acquire(const std::filesystem::path& lockFile) {
  RunningCopyLock lock;
  int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    lock.message_ = "Cannot open the lock file " + lockFile.string() + ": " + std::strerror(errno);
    return lock;
  }
  if (!Lock(fd, lockFile, &lock.status_, &lock.message_)) return lock;
  // Our process id in the file, for whoever looks at it.
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    ssize_t ignored = ::pwrite(fd, pid.data(), pid.size(), 0);
    (void)ignored;
  }
  lock.fd_ = fd;
  lock.status_ = Status::Acquired;
  return lock;
}

RunningCopyLock RunningCopyLock::acquireFolder(const std::filesystem::path& folder) {
  RunningCopyLock lock;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    lock.message_ = "Cannot open the folder " + folder.string() + " to lock it: " + std::strerror(errno);
    return lock;
  }
  if (!Lock(fd, folder, &lock.status_, &lock.message_)) return lock;
  lock.fd_ = fd;
  lock.status_ = Status::Acquired;
  return lock;
}

RunningCopyLock::RunningCopyLock(RunningCopyLock&& other) noexcept
    : fd_(other.fd_), status_(other.status_), message_(std::move(other.message_)) {
  other.fd_ = -1;
  other.status_ = Status::Failed;
}

RunningCopyLock& RunningCopyLock::operator=(RunningCopyLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    status_ = other.status_;
    message_ = std::move(other.message_);
    other.fd_ = -1;
    other.status_ = Status::Failed;
  }
  return *this;
}

RunningCopyLock::~RunningCopyLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace host
