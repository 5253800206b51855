#include "host/files/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "host/files/HeldFolders.h"

namespace host {

std::optional<FileLock> FileLock::Acquire(const std::filesystem::path& lockFile, std::chrono::milliseconds timeout,
                                          std::string* why, bool* heldByAnother) {
  if (heldByAnother) *heldByAnother = false;
  auto fail = [&](std::string reason) -> std::optional<FileLock> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  // O_NONBLOCK: a FIFO put under the lock's name must not stall the open.
  const int fd = OpenAt(lockFile.string(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0666);
  if (fd < 0) {
    const int err = errno;
    if (err == ELOOP) return fail("it is a symbolic link, which is not followed");
    return fail(std::strerror(err));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail("it is not a regular file");
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return FileLock(fd);
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      if (heldByAnother) *heldByAnother = true;
      return fail("another program held it too long");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const int err = errno;
  ::close(fd);
  return fail(std::strerror(err));
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace host
