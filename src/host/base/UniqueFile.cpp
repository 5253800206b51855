#include "host/base/UniqueFile.h"

#include <fcntl.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdio>

namespace host {

std::string RandomHexName() {
  unsigned char bytes[4] = {};
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  char text[9];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

int CreateUniqueFile(int folderFd, const std::string& stem, const std::string& suffix, int flags, unsigned mode,
                     std::string* made) {
  // A clash with a name already there is rare; many in a row mean something
  // else is wrong, and the last EEXIST is reported.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = stem + RandomHexName() + suffix;
    const int fd = ::openat(folderFd, name.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 07777);
    if (fd >= 0) {
      if (made) *made = name;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace host
