#include "host/files/Leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host/base/Fd.h"
#include "host/files/FSSpec.h"
#include "host/files/HeldFolders.h"

namespace host {

namespace {

bool Before(const struct timespec& t, const struct timespec& limit) {
  return t.tv_sec < limit.tv_sec || (t.tv_sec == limit.tv_sec && t.tv_nsec < limit.tv_nsec);
}

// The names in the folder open on `dirFd` (not "." and "..").
std::vector<std::string> Names(int dirFd) {
  std::vector<std::string> names;
  const int copy = ::dup(dirFd);
  if (copy < 0) return names;
  DIR* dir = ::fdopendir(copy);
  if (!dir) {
    ::close(copy);
    return names;
  }
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

// Whether someone holds a lock on the open file or folder. A lock that
// cannot be tried at all (a share without locks) counts as none: age alone
// decides there.
bool LockedByAnother(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return false;
  return errno == EWOULDBLOCK;
}

// The same item still stands under `name` (nothing was renamed over it).
bool StillThere(int dirFd, const std::string& name, const struct stat& was) {
  struct stat now {};
  return ::fstatat(dirFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == was.st_dev &&
         now.st_ino == was.st_ino;
}

// Only what the program's user owns can be the program's leftover: a
// station user's file under one of its names is that user's.
bool Ours(const struct stat& st) { return st.st_uid == ::geteuid(); }

// A regular file of the program's user that is old enough and not locked,
// removed.
bool RemoveFile(int dirFd, const std::string& name, const struct timespec& before) {
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || !Ours(st) ||
      !Before(st.st_mtim, before))
    return false;
  const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = ::openat(dirFd, name.c_str(), O_RDWR | flags);
  if (fd < 0) fd = ::openat(dirFd, name.c_str(), O_RDONLY | flags);
  Fd file(fd);
  struct stat opened {};
  if (file.get() < 0 || ::fstat(file.get(), &opened) != 0 || opened.st_ino != st.st_ino || !Ours(opened) ||
      opened.st_dev != st.st_dev || LockedByAnother(file.get()) || !StillThere(dirFd, name, st))
    return false;
  return ::unlinkat(dirFd, name.c_str(), 0) == 0;
}

// A folder of files (and links) of the program's user that is old enough,
// none of whose files is newer and which nobody locks, removed with what it
// holds; anything of another user's in it keeps it.
bool RemoveFolder(int dirFd, const std::string& name, const struct timespec& before) {
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) || !Ours(st) ||
      !Before(st.st_mtim, before))
    return false;
  Fd folder(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get() < 0 || LockedByAnother(folder.get()) || !StillThere(dirFd, name, st)) return false;
  const std::vector<std::string> inside = Names(folder.get());
  for (const std::string& entry : inside) {
    struct stat e {};
    if (::fstatat(folder.get(), entry.c_str(), &e, AT_SYMLINK_NOFOLLOW) != 0 || !Ours(e)) return false;
    if (S_ISLNK(e.st_mode)) continue;
    if (!S_ISREG(e.st_mode) || !Before(e.st_mtim, before)) return false;
  }
  for (const std::string& entry : inside) {
    struct stat e {};
    if (::fstatat(folder.get(), entry.c_str(), &e, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISLNK(e.st_mode)) ::unlinkat(folder.get(), entry.c_str(), 0);
    else RemoveFile(folder.get(), entry, before);
  }
  return ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) == 0;
}

void Sweep(int dirFd, const std::string& path, const LeftoverNames& names, const struct timespec& before, int depth,
           std::vector<std::string>* removed) {
  for (const std::string& name : Names(dirFd)) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(st.st_mode)) {
      const std::string file = JoinPath(path, name);
      if (names.file && names.file(name) && !(names.keep && names.keep(file)) && RemoveFile(dirFd, name, before))
        removed->push_back(file);
      continue;
    }
    if (!S_ISDIR(st.st_mode)) continue;
    if (names.folder && names.folder(name)) {
      if (RemoveFolder(dirFd, name, before)) removed->push_back(JoinPath(path, name));
      continue;
    }
    if (depth <= 0 || name[0] == '.') continue;
    Fd sub(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (sub.get() >= 0) Sweep(sub.get(), JoinPath(path, name), names, before, depth - 1, removed);
  }
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

std::vector<std::string> SweepLeftovers(const std::string& folder, const LeftoverNames& names,
                                        const struct timespec& before) {
  std::vector<std::string> removed;
  Fd dir(OpenAt(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
  if (dir.get() >= 0) Sweep(dir.get(), folder, names, before, names.depth, &removed);
  return removed;
}

bool IsUniqueName(const std::string& name, const std::string& prefix, const std::string& suffix) {
  constexpr size_t kDigits = 8;
  if (name.size() != prefix.size() + kDigits + suffix.size()) return false;
  if (name.compare(0, prefix.size(), prefix) != 0 || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  for (size_t i = prefix.size(); i < prefix.size() + kDigits; ++i)
    if (!IsHexDigit(name[i])) return false;
  return true;
}

}  // namespace host
