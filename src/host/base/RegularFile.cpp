#include "host/base/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace host {

namespace {

int Refuse(const std::string& shown, mode_t mode, bool* notRegular) {
  if (notRegular) *notRegular = true;
  if (!S_ISDIR(mode)) std::fprintf(stderr, "Not opened: \"%s\" is not a regular file\n", shown.c_str());
  errno = S_ISDIR(mode) ? EISDIR : EINVAL;
  return -1;
}

}  // namespace

int OpenRegularFileAt(int dirFd, const char* name, int flags, bool* notRegular, bool noFollow,
                      const std::string& shown) {
  if (notRegular) *notRegular = false;
  // A device is not even opened (opening one can have effects of its own);
  // the check after the open covers a name replaced in between. A link not
  // followed is not looked through either.
  struct stat st {};
  if (::fstatat(dirFd, name, &st, noFollow ? AT_SYMLINK_NOFOLLOW : 0) == 0 && !S_ISREG(st.st_mode) &&
      !S_ISLNK(st.st_mode))
    return Refuse(shown, st.st_mode, notRegular);
  // O_NONBLOCK keeps the open of a FIFO without a writer from waiting; it
  // means nothing for a regular file and is cleared again below.
  const int fd = ::openat(dirFd, name, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Refuse(shown, st.st_mode, notRegular);
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return fd;
}

}  // namespace host
