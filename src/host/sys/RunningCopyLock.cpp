#include "host/sys/RunningCopyLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/sys/Folders.h"

namespace host {

std::filesystem::path RunningCopyLock::defaultLockFile() {
  if (auto runtime = runtimeFolder()) return *runtime / "Kivo-Processor.lock";
  return applicationFolder() / ".Kivo-Processor.lock";
}

namespace {

// The process holding a flock on the file or folder `st` describes, as the
// kernel lists it in /proc/locks ("1: FLOCK  ADVISORY  WRITE 1234
// fe:00:10953879 0 EOF"); 0 when none is listed, or the holder lives in
// another process-id namespace.
pid_t FlockHolder(const struct stat& st) {
  std::FILE* locks = std::fopen("/proc/locks", "re");
  if (!locks) return 0;
  pid_t holder = 0;
  char line[256];
  while (holder == 0 && std::fgets(line, sizeof line, locks)) {
    if (std::strstr(line, "->")) continue;  // a waiter, not a holder
    char kind[16] = {};
    int pid = 0;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(line, "%*d: %15s %*s %*s %d %x:%x:%llu", kind, &pid, &major, &minor, &inode) == 5 &&
        std::strcmp(kind, "FLOCK") == 0 && pid > 0 && major == ::major(st.st_dev) && minor == ::minor(st.st_dev) &&
        inode == st.st_ino)
      holder = pid;
  }
  std::fclose(locks);
  return holder;
}

// Takes the flock on `fd` without waiting; the descriptor is closed unless
// the lock was taken. When another process holds it, `holder` gets that
// process's id where the kernel shows it.
bool Lock(int fd, const std::filesystem::path& what, RunningCopyLock::Status* status, std::string* message,
          pid_t* holder) {
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int err = errno;
    struct stat st {};
    if (err == EWOULDBLOCK && ::fstat(fd, &st) == 0) *holder = FlockHolder(st);
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

// The first line of a held lock file: who holds it. Read without following
// a link and without blocking on anything but a regular file.
std::string HolderIn(int folderFd, const std::string& name) {
  const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return {};
  struct stat st {};
  char text[200] = {};
  ssize_t got = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) got = ::pread(fd, text, sizeof text - 1, 0);
  ::close(fd);
  std::string line(text, got > 0 ? size_t(got) : 0);
  line = line.substr(0, line.find('\n'));
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return line;
}

}  // namespace

RunningCopyLock RunningCopyLock::acquire(const std::filesystem::path& lockFile) {
  return acquireIn(AT_FDCWD, lockFile.string(), lockFile);
}

RunningCopyLock RunningCopyLock::acquireIn(int folderFd, const std::string& name,
                                           const std::filesystem::path& lockFile) {
  RunningCopyLock lock;
  // Made exclusively when missing, with the bits the umask gives; an
  // existing one is opened only when it is a regular file: never through a
  // link, and O_NONBLOCK so that a FIFO under the name cannot stall the open.
  const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  int fd = ::openat(folderFd, name.c_str(), flags | O_CREAT | O_EXCL, 0666);
  if (fd < 0 && errno == EEXIST) fd = ::openat(folderFd, name.c_str(), flags);
  if (fd < 0) {
    const int err = errno;
    lock.message_ = "Cannot open the lock file " + lockFile.string() + ": " +
                    (err == ELOOP ? std::string("it is a symbolic link, which is not followed") : std::strerror(err));
    return lock;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    lock.message_ = "Cannot use the lock file " + lockFile.string() + ": it is not a regular file";
    return lock;
  }
  pid_t holderPid = 0;
  if (!Lock(fd, lockFile, &lock.status_, &lock.message_, &holderPid)) {
    if (lock.status_ == Status::AlreadyRunning) lock.holder_ = HolderIn(folderFd, name);
    if (lock.holder_.empty() && holderPid > 0) lock.holder_ = "process " + std::to_string(holderPid);
    return lock;
  }
  // Who holds it, for whoever looks at the file or is refused by it: our
  // process id and the machine's name (a lock in a shared folder may be
  // held from another machine).
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) host[0] = 0;
  const std::string holder = "process " + std::to_string(::getpid()) + (host[0] ? std::string(" on ") + host : "") + "\n";
  if (::ftruncate(fd, 0) == 0) {
    ssize_t ignored = ::pwrite(fd, holder.data(), holder.size(), 0);
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
  pid_t holder = 0;
  if (!Lock(fd, folder, &lock.status_, &lock.message_, &holder)) {
    if (holder > 0) lock.holder_ = "process " + std::to_string(holder);
    return lock;
  }
  lock.fd_ = fd;
  lock.status_ = Status::Acquired;
  return lock;
}

RunningCopyLock RunningCopyLock::acquireConfiguration() {
  std::error_code ec;
  std::filesystem::create_directories(configFolder(), ec);
  // A file rather than the folder itself: network file systems lock files
  // only.
  return acquire(configFolder() / "Kivo-Processor.lock");
}

RunningCopyLock::RunningCopyLock(RunningCopyLock&& other) noexcept
    : fd_(other.fd_), status_(other.status_), message_(std::move(other.message_)), holder_(std::move(other.holder_)) {
  other.fd_ = -1;
  other.status_ = Status::Failed;
}

RunningCopyLock& RunningCopyLock::operator=(RunningCopyLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    status_ = other.status_;
    message_ = std::move(other.message_);
    holder_ = std::move(other.holder_);
    other.fd_ = -1;
    other.status_ = Status::Failed;
  }
  return *this;
}

RunningCopyLock::~RunningCopyLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace host
