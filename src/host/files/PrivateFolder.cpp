#include "host/files/PrivateFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/base/Fd.h"
#include "host/files/HeldFolders.h"

namespace host {

namespace {

// A folder of this user that nobody else may enter.
bool OwnAndClosed(const struct stat& st) {
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

}  // namespace

int OpenOwnPrivateFolder(int parentFd, const std::string& name, bool narrowIfOpen, const std::string& shown,
                         std::string* error) {
  const std::string named = "the private folder \"" + shown + "\"";
  if (name.empty()) {
    if (error) *error = "no place for a private folder";
    return -1;
  }
  if (::mkdirat(parentFd, name.c_str(), 0700) != 0 && errno != EEXIST) {
    if (error) *error = named + " could not be made: " + std::strerror(errno);
    return -1;
  }
  // Opened without following a link, so that what is checked and narrowed
  // is what stands at the name.
  const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st{};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    const int failed = errno;
    if (fd >= 0) ::close(fd);
    if (error) {
      // The reason in the words an operator can act on.
      struct stat at{};
      if (::fstatat(parentFd, name.c_str(), &at, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(at.st_mode)) *error = named + " is a symbolic link, which is never followed";
      else if (fd >= 0 && S_ISDIR(st.st_mode)) *error = named + " belongs to another user (user id " + std::to_string(st.st_uid) + ")";
      else if (fd < 0 && failed != ENOTDIR) *error = named + " cannot be opened: " + std::strerror(failed);
      else *error = named + " is not a folder";
    }
    return -1;
  }
  if ((st.st_mode & 077) != 0 && !narrowIfOpen) {
    ::close(fd);
    if (error) *error = named + " is open to other users";
    return -1;
  }
  if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
    const int failed = errno;
    ::close(fd);
    if (error) *error = named + " could not be closed to other users: " + std::strerror(failed);
    return -1;
  }
  return fd;
}

bool MakeOwnPrivateFolder(const std::string& path, bool narrowIfOpen, std::string* error) {
  // Reached as HeldFolders.h says: below a held folder its own folder is
  // opened from the held descriptor, never through a link.
  FolderAndName at(path);
  if (at.error() != 0) {
    if (error)
      *error = "the private folder \"" + path + "\" " +
               (at.error() == ELOOP ? std::string("is reached through a symbolic link, which is never followed")
                                    : std::string("cannot be reached: ") + std::strerror(at.error()));
    return false;
  }
  if (at.self() >= 0) {
    // A held folder is the one held, wherever its name now leads (the run
    // pauses, naming it): checked through its descriptor, never made again
    // at the name.
    Fd fd(OpenAt(path, O_RDONLY | O_DIRECTORY));
    struct stat st{};
    if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        ((st.st_mode & 077) == 0 || (narrowIfOpen && ::fchmod(fd.get(), 0700) == 0)))
      return true;
    if (error) *error = "the private folder \"" + path + "\" held for this run is no longer a closed folder of this user";
    return false;
  }
  const int fd = OpenOwnPrivateFolder(at.at(), at.nameString(), narrowIfOpen, path, error);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool IsOwnPrivateFolder(const std::string& path) {
  struct stat st{};
  return !path.empty() && LstatAt(path, &st) == 0 && OwnAndClosed(st);
}

PrivateFolder::~PrivateFolder() {
  for (const Made& f : files_) {
    if (folder_ >= 0) ::unlinkat(folder_, f.name.c_str(), 0);
    ::close(f.fd);
  }
  if (folder_ >= 0) {
    ::close(folder_);
    RemoveAt(path_, true);
  }
}

bool PrivateFolder::Create(const std::string& parent, const std::string& prefix, std::string* error) {
  if (parent.empty()) {
    if (error) *error = "no folder for a private folder";
    return false;
  }
  std::string made;
  if (CreateUniqueFolderIn(parent, prefix, 0700, &made) != 0) {
    if (error) *error = "no private folder in " + parent + ": " + std::strerror(errno);
    return false;
  }
  // Between its making and its opening the folder may have been swapped by
  // whoever may write in `parent`: what is opened must be a real folder of
  // this user that only this user may enter.
  const int fd = OpenAt(made, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  struct stat st{};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !OwnAndClosed(st)) {
    if (fd >= 0) ::close(fd);
    if (error) *error = "the private folder " + made + " was replaced";
    return false;
  }
  folder_ = fd;
  path_ = made;
  return true;
}

int PrivateFolder::CreateFile(const std::string& stem, const std::string& extension, std::string* path,
                              std::string* error) {
  if (folder_ < 0) {
    if (error) *error = "no private folder";
    return -1;
  }
  std::string name;
  const int fd = CreateUniqueFile(folder_, stem + "-", extension, O_RDWR, 0600, &name);
  if (fd >= 0) {
    files_.push_back({name, fd});
    if (path) *path = path_ + "/" + name;
    return fd;
  }
  if (error) *error = "no file in the private folder " + path_ + ": " + std::strerror(errno);
  return -1;
}

int RemoveLeftoverPrivateFolders(const std::string& parent, const std::string& prefix) {
  const int top = OpenFolder(parent);
  if (top < 0) return 0;
  DIR* list = ::fdopendir(top);
  if (!list) {
    ::close(top);
    return 0;
  }
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(list))
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) names.emplace_back(e->d_name);
  int removed = 0;
  for (const std::string& name : names) {
    const int fd = ::openat(top, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !OwnAndClosed(st)) {
      ::close(fd);
      continue;
    }
    // Entries are removed as names in this folder: a link goes, what it
    // points at stays.
    if (DIR* inside = ::fdopendir(fd)) {
      std::vector<std::string> files;
      while (const dirent* e = ::readdir(inside))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) files.emplace_back(e->d_name);
      for (const std::string& f : files) ::unlinkat(::dirfd(inside), f.c_str(), 0);
      ::closedir(inside);
    } else {
      ::close(fd);
    }
    if (::unlinkat(top, name.c_str(), AT_REMOVEDIR) == 0) ++removed;
  }
  ::closedir(list);
  return removed;
}

}  // namespace host
