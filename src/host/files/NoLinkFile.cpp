#include "host/files/NoLinkFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/base/Fd.h"
#include "host/files/FSSpec.h"
#include "host/files/HeldFolders.h"

namespace host {
namespace {

// Only a regular file with no other name is the program's own to write.
bool IsPlainFile(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }

const char* KindOf(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return "a symbolic link";
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
  if (S_ISREG(st.st_mode)) return "a file with other names (a hard link)";
  return "no regular file";
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// Names that are in the way the first times round are looked at again; a
// name that changes under every look is given up on.
constexpr int kAttempts = 5;

}  // namespace

std::string NoLinkFile::Note() const {
  if (removed.empty()) return error;
  if (error.empty()) return removed;
  return removed + "; " + error;
}

NoLinkFile OpenWithoutLinks(const std::string& path, NoLinkStart start, bool create, uint32_t mode) {
  NoLinkFile out;
  // The folder holding the file: below a held folder opened from its
  // descriptor without following a link (HeldFolders.h), elsewhere the path
  // as it stands.
  FolderAndName folder(path);
  if (folder.error() != 0) {
    out.errorNumber = folder.error();
    out.error = folder.error() == ELOOP ? "a folder on the way to " + Quoted(path) +
                                              " is a symbolic link, which is not followed: nothing is written there"
                                        : "cannot open the folder of " + Quoted(path) + ": " +
                                              std::strerror(folder.error());
    return out;
  }
  if (folder.self() >= 0) {
    out.errorNumber = EISDIR;
    out.error = Quoted(path) + " is a folder: nothing is written there";
    return out;
  }
  const int at = folder.at();
  const std::string name = folder.nameString();
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    struct stat st {};
    if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !IsPlainFile(st)) {
      if (S_ISDIR(st.st_mode)) {
        out.errorNumber = EISDIR;
        out.error = Quoted(path) + " is a folder: nothing is written there";
        return out;
      }
      if (::unlinkat(at, name.c_str(), 0) != 0 && errno != ENOENT) {
        out.errorNumber = errno;
        out.error = Quoted(path) + " is " + KindOf(st) + " and could not be removed: " + std::strerror(errno) +
                    "; nothing is written there";
        return out;
      }
      out.removed = Quoted(path) + " was " + KindOf(st) +
                    ": it was removed, what it led to is untouched, and a new file is made in its place";
    }
    // Without O_NONBLOCK a FIFO put there since the look would hold the
    // open until a reader came.
    int flags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (create) flags |= O_CREAT;
    if (start == NoLinkStart::kAtEnd) flags |= O_APPEND;
    const int fd = ::openat(at, name.c_str(), flags, mode & 0777);
    if (fd < 0) {
      // A link (ELOOP) or a FIFO without a reader (ENXIO) put there since
      // the look: looked at again.
      if (errno == ELOOP || errno == ENXIO) continue;
      out.errorNumber = errno;
      out.error = "cannot open " + Quoted(path) + " for writing: " + std::strerror(errno);
      return out;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !IsPlainFile(opened)) {
      ::close(fd);
      continue;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    // Emptied only now that it is known to be a file of its own, so no other
    // file loses its contents through a name planted here.
    if (start == NoLinkStart::kEmptied && ::ftruncate(fd, 0) != 0) {
      out.errorNumber = errno;
      out.error = "cannot empty " + Quoted(path) + ": " + std::strerror(errno);
      ::close(fd);
      return out;
    }
    out.fd = fd;
    return out;
  }
  out.errorNumber = ELOOP;
  out.error = Quoted(path) + " kept being replaced while it was opened: nothing is written there";
  return out;
}

int WriteAllBytes(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return 0;
}

bool AppendWithoutLinks(const std::string& path, std::string_view bytes, std::string* note, bool create) {
  NoLinkFile file = OpenWithoutLinks(path, NoLinkStart::kAtEnd, create);
  bool ok = file.fd >= 0;
  if (ok) {
    int err = WriteAllBytes(file.fd, bytes);
    if (::close(file.fd) != 0 && err == 0) err = errno;
    if (err != 0) {
      file.error = "cannot write to " + Quoted(path) + ": " + std::strerror(err);
      ok = false;
    }
  }
  if (note) *note = file.Note();
  return ok;
}

}  // namespace host
