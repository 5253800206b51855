#include "host/base/RegularFile.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <utility>

#include "host/base/Fd.h"

namespace host {

namespace {

std::mutex gBeneathMutex;
// Each folder of SetFoldersOpenedBeneath as a path prefix (without a
// trailing "/"), as named and as resolved.
std::vector<std::string>& BeneathFolders() {
  static std::vector<std::string> folders;
  return folders;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

int Refuse(const char* path, mode_t mode, bool* notRegular) {
  if (notRegular) *notRegular = true;
  if (!S_ISDIR(mode)) std::fprintf(stderr, "Not opened: \"%s\" is not a regular file\n", path);
  errno = S_ISDIR(mode) ? EISDIR : EINVAL;
  return -1;
}

}  // namespace

namespace {
int OpenBeneathAsked(const std::string& folder, const std::string& path, int flags);
}

int OpenBeneath(const std::string& folder, const std::string& path, int flags) {
  const int fd = OpenBeneathAsked(folder, path, flags);
  // A folder asked for that is a link fails as "not a folder" (O_NOFOLLOW
  // with O_DIRECTORY): it is told as the link it is.
  struct stat st {};
  if (fd < 0 && errno == ENOTDIR && (flags & O_DIRECTORY) && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
    errno = ELOOP;
  return fd;
}

namespace {

int OpenBeneathAsked(const std::string& folder, const std::string& path, int flags) {
  const std::string base = WithoutTrailingSlashes(folder);
  if (path.size() <= base.size() + 1 || path.compare(0, base.size(), base) != 0 || path[base.size()] != '/') {
    errno = EXDEV;
    return -1;
  }
  const std::string below = path.substr(base.size() + 1);
  Fd dir(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return -1;
  const int last = flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
#ifdef SYS_openat2
  open_how how{};
  how.flags = static_cast<uint64_t>(last);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const int fd = static_cast<int>(::syscall(SYS_openat2, dir.get(), below.c_str(), &how, sizeof how));
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fd;
#endif
  // Kernels without openat2 (or a sandbox that refuses it): component by
  // component, each opened below the last without following a link.
  Fd at(::dup(dir.get()));
  if (at.get() < 0) return -1;
  size_t start = 0;
  for (;;) {
    const size_t slash = below.find('/', start);
    const std::string name = below.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (name == "..") {
      errno = EXDEV;
      return -1;
    }
    if (slash == std::string::npos) return ::openat(at.get(), name.c_str(), last);
    if (!name.empty() && name != ".") {
      Fd next(::openat(at.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
      if (next.get() < 0) return -1;
      at.Reset(next.Release());
    }
    start = slash + 1;
  }
}

}  // namespace

void SetFoldersOpenedBeneath(const std::vector<std::string>& folders) {
  std::vector<std::string> prefixes;
  for (const std::string& folder : folders) {
    const std::string named = WithoutTrailingSlashes(folder);
    if (named.empty() || named == "/") continue;
    prefixes.push_back(named);
    if (char* resolved = ::realpath(named.c_str(), nullptr)) {
      if (named != resolved && std::string(resolved) != "/") prefixes.push_back(resolved);
      ::free(resolved);
    }
  }
  std::lock_guard<std::mutex> lock(gBeneathMutex);
  BeneathFolders() = std::move(prefixes);
}

std::string FolderOpenedBeneath(const std::string& path) {
  std::lock_guard<std::mutex> lock(gBeneathMutex);
  for (const std::string& folder : BeneathFolders())
    if (path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/')
      return folder;
  return {};
}

int OpenRegularFile(const char* path, int flags, bool* notRegular) {
  if (notRegular) *notRegular = false;
  const std::string folder = FolderOpenedBeneath(path);
  // A device is not even opened (opening one can have effects of its own);
  // the check after the open covers a name replaced in between. Below a
  // station's folder a link is not even looked through.
  struct stat st {};
  if (folder.empty() ? ::stat(path, &st) == 0 && !S_ISREG(st.st_mode)
                     : ::lstat(path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
    return Refuse(path, st.st_mode, notRegular);
  // O_NONBLOCK keeps the open of a FIFO without a writer from waiting; it
  // means nothing for a regular file and is cleared again below.
  const int fd = folder.empty() ? ::open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)
                                : OpenBeneath(folder, path, flags | O_NOCTTY);
  if (fd < 0) {
    if (errno == ELOOP && !folder.empty()) {
      std::fprintf(stderr, "Not opened: \"%s\" is reached through a symbolic link below \"%s\", which is not followed\n",
                   path, folder.c_str());
      errno = ELOOP;
    }
    return -1;
  }
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
  if (errno == ELOOP && !FolderOpenedBeneath(path).empty()) return FileAccess::link;
  return errno == ENOENT || errno == ENOTDIR ? FileAccess::missing : FileAccess::unreadable;
}

}  // namespace host
