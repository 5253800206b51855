#include "host/base/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace host {

namespace {

int Refuse(const char* path, mode_t mode, bool* notRegular) {
  if (notRegular) *notRegular = true;
  if (!S_ISDIR(mode)) std::fprintf(stderr, "Not opened: \"%s\" is not a regular file\n", path);
  errno = S_ISDIR(mode) ? EISDIR : EINVAL;
  return -1;
}

}  // namespace

int OpenRegularFile(const char* path, int flags, bool* notRegular) {
  if (notRegular) *notRegular = false;
  // A device is not even opened (opening one can have effects of its own);
  // the check after the open covers a name replaced in between.
  struct stat st {};
  if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) return Refuse(path, st.st_mode, notRegular);
  // O_NONBLOCK keeps the open of a FIFO without a writer from waiting; it
  // means nothing for a regular file and is cleared again below.
  const int fd = ::open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Refuse(path, st.st_mode, notRegular);
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return fd;
}

FileAccess CheckFileAccess(const char* path) {
  bool notRegular = false;
  const int fd = OpenRegularFile(path, O_RDONLY, &notRegular);
  if (fd >= 0) {
    ::close(fd);
    return FileAccess::readable;
  }
  if (notRegular) return FileAccess::notRegular;
  return errno == ENOENT || errno == ENOTDIR ? FileAccess::missing : FileAccess::unreadable;
}

}  // namespace host
