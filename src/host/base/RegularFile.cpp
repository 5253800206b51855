#include "host/base/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace host {

int OpenRegularFile(const char* path, int flags, bool* notRegular) {
  if (notRegular) *notRegular = false;
  // O_NONBLOCK keeps the open of a FIFO without a writer from waiting; it
  // means nothing for a regular file and is cleared again below.
  const int fd = ::open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    if (notRegular) *notRegular = true;
    if (!S_ISDIR(st.st_mode)) std::fprintf(stderr, "Not opened: \"%s\" is not a regular file\n", path);
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return fd;
}

}  // namespace host

namespace host {

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
