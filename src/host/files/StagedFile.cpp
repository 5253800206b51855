#include "host/files/StagedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/base/UniqueFile.h"
#include "host/files/FileErrors.h"
#include "host/files/FileOps.h"
#include "host/files/FSSpec.h"
#include "host/files/HeldFolders.h"

namespace host {

namespace {

// Errors of O_TMPFILE that mean "not on this file system or kernel"; any
// other failure would hit a named file too.
bool NoUnnamedFiles(int err) { return err == EOPNOTSUPP || err == EISDIR || err == EINVAL || err == ENOSYS; }

// Sets the bits and takes the flock that tells a sweep the file is live.
// The flock may be refused (a share without locks): the sweep then goes by
// age alone.
bool Prepare(int fd, uint32_t mode, int* error) {
  if (::fchmod(fd, mode & 0777 & ~ProcessUmask()) != 0) {
    *error = errno;
    return false;
  }
  ::flock(fd, LOCK_EX | LOCK_NB);
  return true;
}

}  // namespace

bool NamedStagingForced() {
  const char* value = std::getenv("KIVO_NAMED_STAGING");
  return value && std::strcmp(value, "1") == 0;
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : fd_(other.fd_), folder_(std::move(other.folder_)), prefix_(std::move(other.prefix_)),
      suffix_(std::move(other.suffix_)), hiddenPath_(std::move(other.hiddenPath_)) {
  other.fd_ = -1;
  other.hiddenPath_.clear();
}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
  if (this != &other) {
    Discard();
    fd_ = other.fd_;
    folder_ = std::move(other.folder_);
    prefix_ = std::move(other.prefix_);
    suffix_ = std::move(other.suffix_);
    hiddenPath_ = std::move(other.hiddenPath_);
    other.fd_ = -1;
    other.hiddenPath_.clear();
  }
  return *this;
}

StagedFile::~StagedFile() { Discard(); }

StagedFile StagedFile::Open(const std::string& folder, const std::string& hiddenPrefix,
                            const std::string& hiddenSuffix, uint32_t mode, int* error) {
  int ignored = 0;
  if (!error) error = &ignored;
  // The file is linked through /proc/self/fd; without /proc it could never
  // get a name.
  if (!NamedStagingForced() && ::access("/proc/self/fd", X_OK) == 0) {
    const int fd = OpenAt(folder, O_TMPFILE | O_RDWR, 0600);
    if (fd >= 0) {
      if (!Prepare(fd, mode, error)) {
        ::close(fd);
        return {};
      }
      return StagedFile(fd, folder, hiddenPrefix, hiddenSuffix, {});
    }
    if (!NoUnnamedFiles(errno)) {
      *error = errno;
      return {};
    }
  }
  return OpenNamed(folder, hiddenPrefix, hiddenSuffix, mode, error);
}

StagedFile StagedFile::OpenNamed(const std::string& folder, const std::string& hiddenPrefix,
                                 const std::string& hiddenSuffix, uint32_t mode, int* error) {
  int ignored = 0;
  if (!error) error = &ignored;
  std::string made;
  const int fd = CreateUniqueFileIn(folder, hiddenPrefix, hiddenSuffix, O_RDWR, 0600, &made);
  if (fd < 0) {
    *error = errno;
    return {};
  }
  if (!Prepare(fd, mode, error)) {
    RemoveAt(made);
    ::close(fd);
    return {};
  }
  return StagedFile(fd, folder, hiddenPrefix, hiddenSuffix, made);
}

void StagedFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void StagedFile::Discard() {
  if (!hiddenPath_.empty()) RemoveAt(hiddenPath_);
  hiddenPath_.clear();
  Close();
}

OSErr StagedFile::LinkUnnamed(const std::string& target) {
  if (LinkDescriptorAt(fd_, target) == 0) return noErr;
  return OSErrFromErrno(errno);
}

OSErr StagedFile::Place(const std::string& target, bool replace) {
  if (!valid()) return paramErr;
  OSErr err = noErr;
  if (!unnamed()) {
    if (replace) err = RenameAt(hiddenPath_, target, 0) == 0 ? OSErr(noErr) : OSErrFromErrno(errno);
    else err = RenameNoReplace(hiddenPath_, target);
  } else if (!replace) {
    err = LinkUnnamed(target);
  } else {
    // A link never replaces: the whole file is linked under a fresh hidden
    // name and renamed over the target at once.
    std::string hidden;
    for (int attempt = 0; attempt < 100; ++attempt) {
      hidden = JoinPath(folder_, prefix_ + RandomHexName() + suffix_);
      err = LinkUnnamed(hidden);
      if (err != dupFNErr) break;
    }
    if (err == noErr && RenameAt(hidden, target, 0) != 0) {
      const int e = errno;
      struct stat st {};
      // Gone between the link and the rename: taken whole by a consumer.
      if (e == ENOENT && LstatAt(hidden, &st) != 0) {
        err = noErr;
      } else {
        RemoveAt(hidden);
        err = OSErrFromErrno(e);
        errno = e;  // what failed, for the caller's message
      }
    }
  }
  if (err != noErr) return err;
  hiddenPath_.clear();
  Close();
  SyncFolder(ParentPath(target));
  return noErr;
}

}  // namespace host
