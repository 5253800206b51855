#include "host/files/FileOps.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/base/Fd.h"
#include "host/base/RegularFile.h"
#include "host/base/UniqueFile.h"
#include "host/files/CatalogInfo.h"
#include "host/files/FSSpec.h"
#include "host/files/FileErrors.h"
#include "host/files/FinderInfo.h"
#include "host/files/HeldFolders.h"
#include "host/files/NoLinkFile.h"
#include "host/files/StagedFile.h"

namespace host {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return LstatAt(path, &st) == 0;
}

// Writes all `n` bytes; 0 or the errno of the failed write.
int WriteAllErrno(int fd, const uint8_t* p, size_t n) {
  return WriteAllBytes(fd, std::string_view(reinterpret_cast<const char*>(p), n));
}

OSErr WriteAll(int fd, const uint8_t* p, size_t n) { return OSErrFromErrno(WriteAllErrno(fd, p, n)); }

// How the temporary files beside `target` begin: "." + its name + ".kivo-",
// or ".kivo-tmp-" when that would make too long a name.
std::string TemporaryPrefixFor(const std::string& target) {
  const std::string name = LastPathName(target);
  constexpr size_t kMaxName = 255, kAdded = 1 + 6 + 8;  // ".", ".kivo-", the digits
  return name.size() + kAdded <= kMaxName ? "." + name + ".kivo-" : std::string(".kivo-tmp-");
}

// Opens a new temporary file (mode 0600) beside `target`; its path goes to
// `tempPath`.
int OpenTemporaryBeside(const std::string& target, std::string* tempPath, int* err) {
  std::string name;
  const int fd = CreateUniqueFileIn(ParentPath(target), TemporaryPrefixFor(target), "", O_RDWR, 0600, &name);
  if (fd < 0) {
    *err = errno;
    return -1;
  }
  *tempPath = name;
  *err = 0;
  return fd;
}

// The new file that will become `target`, staged in its folder (see
// StagedFile): unnamed where the file system allows, else under the
// temporary name OpenTemporaryBeside gives.
StagedFile StageFor(const std::string& target, int* err) {
  return StagedFile::Open(ParentPath(target), TemporaryPrefixFor(target), "", 0600, err);
}

// The one whole-file read: 0, or the errno of what failed, with `what` the
// step ("cannot open", ...). A name that is no regular file gives EINVAL
// with `notRegular` set; a file over `maxSize` gives EFBIG.
int ReadWhole(const std::string& path, std::vector<uint8_t>* bytes, uint64_t maxSize, const char** what,
              bool* notRegular) {
  *what = "cannot open";
  Fd fd(OpenRegularFile(path.c_str(), O_RDONLY, notRegular));
  if (fd.get() < 0) return errno;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return errno;
  *what = "cannot read";
  if (static_cast<uint64_t>(st.st_size) > maxSize) return EFBIG;
  std::vector<uint8_t> out;
  try {
    out.resize(static_cast<size_t>(st.st_size));
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
  size_t got = 0;
  while (got < out.size()) {
    const ssize_t r = ::read(fd.get(), out.data() + got, out.size() - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (r == 0) break;  // the file shrank while it was read
    got += static_cast<size_t>(r);
  }
  out.resize(got);
  *bytes = std::move(out);
  return 0;
}

// The one staging of a whole file: writes and syncs the bytes in a new file
// beside `path` with `mode` less the umask; 0, or the errno of the step
// `what`, with nothing left behind.
int StageBeside(const std::string& path, const void* data, size_t size, uint32_t mode, std::string* temp,
                const char** what) {
  int e = 0;
  *what = "cannot create a temporary file beside";
  Fd fd(OpenTemporaryBeside(path, temp, &e));
  if (fd.get() < 0) return e;
  *what = "cannot write a temporary file beside";
  e = ::fchmod(fd.get(), mode & 0777 & ~ProcessUmask()) == 0 ? 0 : errno;
  if (e == 0) e = WriteAllErrno(fd.get(), static_cast<const uint8_t*>(data), size);
  if (e == 0 && ::fsync(fd.get()) != 0) e = errno;
  if (fd.Close() != 0 && e == 0) e = errno;
  if (e != 0) {
    RemoveAt(*temp);
    temp->clear();
  }
  return e;
}

std::string Reason(const char* what, const std::string& path, int err) {
  return std::string(what) + " \"" + path + "\": " + std::strerror(err);
}

// The one writing of a whole new file: the bytes written and synced in a
// file staged for `path` (see StageFor) with `mode` less the umask, then put
// in place, replacing an existing file only with `replace`; 0, or the errno
// of the step `what`, with nothing left behind. A failed placing also
// gives its result code in `placeErr`.
int WriteWhole(const std::string& path, const void* data, size_t size, uint32_t mode, bool replace,
               const char** what, OSErr* placeErr = nullptr) {
  int e = 0;
  *what = "cannot create a temporary file beside";
  StagedFile staged = StageFor(path, &e);
  if (!staged.valid()) return e;
  *what = "cannot write a temporary file beside";
  e = ::fchmod(staged.fd(), mode & 0777 & ~ProcessUmask()) == 0 ? 0 : errno;
  if (e == 0) e = WriteAllErrno(staged.fd(), static_cast<const uint8_t*>(data), size);
  if (e == 0 && ::fsync(staged.fd()) != 0) e = errno;
  if (e != 0) return e;
  *what = "cannot rename the temporary file to";
  const OSErr placed = staged.Place(path, replace);
  if (placed == noErr) return 0;
  if (placeErr) *placeErr = placed;
  return errno != 0 ? errno : EIO;
}

// Copies the data of an open source into a new synced file staged for `to`
// and puts it in place.
OSErr CopyData(int src, const struct stat& srcStat, const std::string& to, bool replace) {
  int e = 0;
  StagedFile dst = StageFor(to, &e);
  if (!dst.valid()) return OSErrFromErrno(e);
  // The copy is a new file: the source's bits, less the umask.
  if (::fchmod(dst.fd(), srcStat.st_mode & 0777 & ~ProcessUmask()) != 0) return OSErrFromErrno(errno);
  std::vector<uint8_t> buffer(1 << 18);
  uint64_t copied = 0;
  for (;;) {
    const ssize_t r = ::read(src, buffer.data(), buffer.size());
    if (r < 0) {
      if (errno == EINTR) continue;
      return OSErrFromErrno(errno);
    }
    if (r == 0) break;
    OSErr err = WriteAll(dst.fd(), buffer.data(), static_cast<size_t>(r));
    if (err != noErr) return err;
    copied += static_cast<uint64_t>(r);
  }
  // A source that changed size while it was copied is not a complete copy.
  if (copied != static_cast<uint64_t>(srcStat.st_size)) return ioErr;
  if (::fsync(dst.fd()) != 0) return OSErrFromErrno(errno);
  return dst.Place(to, replace);
}

// Says on standard error why a name below a held folder was not changed:
// a folder on the way is a link, which is never followed.
void SayRefused(const std::string& path, const char* change) {
  if (errno == ELOOP && IsBelowHeldFolder(path)) {
    std::fprintf(stderr, "Not %s: \"%s\" is reached through a symbolic link, which is not followed\n", change,
                 path.c_str());
    errno = ELOOP;
  }
}

void CopyFinderInfo(const std::string& from, const std::string& to) {
  FinderInfo info;
  if (GetFinderInfo(from, &info) == noErr && !(info == FinderInfo())) SetFinderInfo(to, info);
}

}  // namespace

void SyncFolder(const std::string& folderPath) {
  Fd d(OpenFolder(folderPath));
  if (d.get() >= 0) ::fsync(d.get());
}

uint32_t ProcessUmask() {
  // Read without changing it: umask() itself would set it for every thread
  // for a moment.
  uint32_t mask = 022;
  Fd fd(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return mask;
  char text[4096];
  size_t used = 0;
  for (ssize_t n; used + 1 < sizeof text && (n = ::read(fd.get(), text + used, sizeof text - 1 - used)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    used += size_t(n);
  }
  text[used] = '\0';
  if (const char* at = std::strstr(text, "\nUmask:")) mask = uint32_t(std::strtoul(at + 7, nullptr, 8)) & 0777;
  return mask;
}

OSErr CreateFileExclusive(const std::string& path, uint32_t mode) {
  Fd fd(OpenAt(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode & 0777));
  if (fd.get() < 0) return OSErrFromErrno(errno);
  return noErr;
}

OSErr CreateFolder(const std::string& path, uint32_t mode) {
  if (MakeFolderAt(path, mode & 01777) != 0) return OSErrFromErrno(errno);
  return noErr;
}

OSErr StageFileBeside(const std::string& path, const void* data, size_t size, uint32_t mode, std::string* temp) {
  if (!temp) return paramErr;
  const char* what = "";
  return OSErrFromErrno(StageBeside(path, data, size, mode, temp, &what));
}

OSErr WriteFileAtomically(const std::string& path, const void* data, size_t size, uint32_t mode,
                          bool replace) {
  if (!replace && Exists(path)) return dupFNErr;
  const char* what = "";
  OSErr placeErr = noErr;
  const int e = WriteWhole(path, data, size, mode, replace, &what, &placeErr);
  return placeErr != noErr ? placeErr : OSErrFromErrno(e);
}

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes, uint32_t mode,
                         std::string* error) {
  const char* what = "";
  const int e = WriteWhole(path, bytes.data(), bytes.size(), mode, true, &what);
  if (e != 0 && error) *error = Reason(what, path, e);
  return e == 0;
}

OSErr ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, size_t maxSize) {
  if (!bytes) return paramErr;
  const char* what = "";
  bool notRegular = false;
  const int e = ReadWhole(path, bytes, maxSize, &what, &notRegular);
  if (notRegular) return notAFileErr;
  return e == EFBIG || e == ENOMEM ? OSErr(memFullErr) : OSErrFromErrno(e);
}

bool ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>* bytes, std::string* error) {
  const char* what = "";
  bool notRegular = false;
  const int e = ReadWhole(path, bytes, maxBytes, &what, &notRegular);
  if (e == 0) return true;
  if (error) {
    if (notRegular) *error = "\"" + path + "\" is not a regular file";
    else if (e == EFBIG) *error = "\"" + path + "\" is larger than " + std::to_string(maxBytes) + " bytes";
    else *error = Reason(what, path, e);
  }
  return false;
}

OSErr FSClose(int16_t refNum) {
  if (refNum <= STDERR_FILENO || ::fcntl(refNum, F_GETFD) < 0) return rfNumErr;
  // On Linux the descriptor is gone after close even when it reports an
  // error, so it is never closed twice.
  if (::close(refNum) != 0 && errno != EINTR) return errno == EBADF ? rfNumErr : ioErr;
  return noErr;
}

OSErr RenameNoReplace(const std::string& from, const std::string& to) {
  if (RenameAt(from, to, RENAME_NOREPLACE) == 0) return noErr;
  const int err = errno;
  SayRefused(from, "moved");
  if (err != EINVAL && err != ENOSYS) return OSErrFromErrno(err);
  // File systems without RENAME_NOREPLACE: a hard link fails on an existing
  // name, which keeps the no-overwrite promise for files.
  struct stat st;
  if (LstatAt(from, &st) != 0) return OSErrFromErrno(errno);
  if (!S_ISDIR(st.st_mode) && LinkAt(from, to) == 0) {
    RemoveAt(from);
    return noErr;
  }
  if (Exists(to)) return dupFNErr;
  if (RenameAt(from, to, 0) != 0) return OSErrFromErrno(errno);
  return noErr;
}

OSErr CopyFile(const std::string& from, const std::string& to, bool replace) {
  bool notRegular = false;
  Fd src(OpenRegularFile(from.c_str(), O_RDONLY, &notRegular));
  if (src.get() < 0) return notRegular ? OSErr(notAFileErr) : OSErrFromErrno(errno);
  struct stat st;
  if (::fstat(src.get(), &st) != 0) return OSErrFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return notAFileErr;
  if (!replace && Exists(to)) return dupFNErr;
  OSErr err = CopyData(src.get(), st, to, replace);
  if (err != noErr) return err;
  CopyFinderInfo(from, to);
  const std::string fromSidecar = AppleDoublePath(from);
  const std::string toSidecar = AppleDoublePath(to);
  if (Exists(fromSidecar)) {
    err = CopyFile(fromSidecar, toSidecar, true);
  } else if (Exists(toSidecar)) {
    RemoveAt(toSidecar);  // a replaced file's old fork must not stick to the copy
  }
  return err;
}

OSErr CopyFromDescriptor(int fd, const std::string& to, bool replace) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return OSErrFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return notAFileErr;
  if (::lseek(fd, 0, SEEK_SET) != 0) return OSErrFromErrno(errno);
  if (!replace && Exists(to)) return dupFNErr;
  return CopyData(fd, st, to, replace);
}

OSErr MoveItem(const std::string& from, const std::string& to) { return MoveItem(from, to, false); }

OSErr MoveItem(const std::string& from, const std::string& to, bool replace) {
  struct stat st;
  if (LstatAt(from, &st) != 0) {
    const OSErr err = OSErrFromErrno(errno);
    SayRefused(from, "moved");
    return err;
  }
  const std::string fromSidecar = AppleDoublePath(from);
  const std::string toSidecar = AppleDoublePath(to);
  const bool hasSidecar = !S_ISDIR(st.st_mode) && Exists(fromSidecar);

  OSErr err = noErr;
  if (replace && !S_ISDIR(st.st_mode)) {
    err = RenameAt(from, to, 0) == 0 ? OSErr(noErr) : OSErrFromErrno(errno);
    if (err != noErr) SayRefused(to, "moved");
  } else {
    err = RenameNoReplace(from, to);
  }
  if (err == noErr) {
    if (hasSidecar) RenameAt(fromSidecar, toSidecar, 0);
    SyncFolder(ParentPath(to));
    return noErr;
  }
  if (err != diffVolErr) return err;
  if (S_ISDIR(st.st_mode)) return diffVolErr;

  // Across file systems: a complete, synced copy first, then the source goes.
  err = CopyFile(from, to, replace);
  if (err != noErr) return err;
  if (RemoveAt(from) != 0) return OSErrFromErrno(errno);
  if (hasSidecar) RemoveAt(fromSidecar);
  SyncFolder(ParentPath(from));
  return noErr;
}

bool SameItem(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (StatAt(a, &sa) != 0 || StatAt(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

OSErr DeleteItem(const std::string& path) {
  struct stat st;
  if (LstatAt(path, &st) != 0) {
    const OSErr err = OSErrFromErrno(errno);
    SayRefused(path, "deleted");
    return err;
  }
  if (S_ISDIR(st.st_mode)) {
    if (RemoveAt(path, true) != 0) return OSErrFromErrno(errno);
    return noErr;
  }
  if (RemoveAt(path) != 0) return OSErrFromErrno(errno);
  RemoveAt(AppleDoublePath(path));
  return noErr;
}

OSErr GetMode(const std::string& path, uint32_t* mode) {
  if (!mode) return paramErr;
  struct stat st;
  if (StatAt(path, &st) != 0) return OSErrFromErrno(errno);
  *mode = st.st_mode;
  return noErr;
}

OSErr SetMode(const std::string& path, uint32_t mode) {
  if (ChangeModeAt(path, mode & 07777) != 0) return OSErrFromErrno(errno);
  return noErr;
}

}  // namespace host
