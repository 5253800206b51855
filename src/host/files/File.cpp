#include "host/files/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "host/files/CatalogInfo.h"
#include "host/files/FileErrors.h"
#include "host/files/FileManager.h"
#include "host/files/FileOps.h"
#include "host/files/FinderInfo.h"
#include "host/files/HeldFolders.h"

namespace {

int OpenFlags(int8_t permission) {
  switch (permission) {
    case fsRdPerm: return O_RDONLY;
    case fsWrPerm: return O_WRONLY;
    default: return O_RDWR;
  }
}

bool CanWrite(int8_t permission) { return permission == fsWrPerm || permission == fsRdWrPerm || permission == fsCurPerm; }

}  // namespace

TFile::~TFile() { CloseFile(); }

OSErr TFile::Specify(const FSSpec& spec) {
  CloseFile();
  spec_ = spec;
  path_.clear();
  std::string path;
  OSErr err = host::GetPathOfFSSpec(spec, &path);
  if (err != noErr) return err;
  path_ = std::move(path);
  return noErr;
}

OSErr TFile::SpecifyWithPath(const std::string& path) {
  CloseFile();
  path_.clear();
  FSSpec spec;
  OSErr err = host::MakeFSSpecFromPath(path, &spec);
  if (err != noErr && err != fnfErr) return err;
  spec_ = spec;
  // The real name, which may be longer than the file specification can hold.
  std::string folder;
  err = host::GetPathForDirID(spec.vRefNum, spec.parID, &folder);
  if (spec.parID == fsRtParID || err != noErr) {
    err = host::GetPathOfFSSpec(spec, &path_);
    return err;
  }
  path_ = host::JoinPath(folder, host::LastPathName(path));
  return noErr;
}

OSErr TFile::SpecifyWithAlias(const host::AliasRecord& alias, bool* wasChanged) {
  std::string path;
  OSErr err = host::ResolveAlias(alias, &path, wasChanged);
  if (err != noErr) return err;
  return SpecifyWithPath(path);
}

bool TFile::Exists() const {
  struct stat st;
  return !path_.empty() && host::StatAt(path_, &st) == 0;
}

void TFile::SetPermissions(int8_t dataPermission, int8_t rsrcPermission) {
  dataPermission_ = dataPermission;
  rsrcPermission_ = rsrcPermission;
}

OSErr TFile::SetFileType(OSType type) {
  fileType_ = type;
  if (!Exists()) return noErr;
  host::FinderInfo info;
  OSErr err = host::GetFinderInfo(path_, &info);
  if (err != noErr) return err;
  info.type = type;
  return host::SetFinderInfo(path_, info);
}

OSErr TFile::SetFileCreator(OSType creator) {
  fileCreator_ = creator;
  if (!Exists()) return noErr;
  host::FinderInfo info;
  OSErr err = host::GetFinderInfo(path_, &info);
  if (err != noErr) return err;
  info.creator = creator;
  return host::SetFinderInfo(path_, info);
}

OSErr TFile::GetFileType(OSType* type) const {
  if (!type) return paramErr;
  if (path_.empty()) return fnfErr;
  host::FinderInfo info;
  OSErr err = host::GetFinderInfo(path_, &info);
  *type = info.type;
  return err;
}

OSErr TFile::GetFileCreator(OSType* creator) const {
  if (!creator) return paramErr;
  if (path_.empty()) return fnfErr;
  host::FinderInfo info;
  OSErr err = host::GetFinderInfo(path_, &info);
  *creator = info.creator;
  return err;
}

OSErr TFile::CreateFile() {
  if (path_.empty()) return fnfErr;
  const uint32_t mode = hasCreationMode_ ? creationMode_ : host::DefaultFileMode();
  OSErr err = host::CreateFileExclusive(path_, mode);
  if (err != noErr) return err;
  if (fileType_ != 0 || fileCreator_ != 0) {
    host::FinderInfo info;
    info.type = fileType_;
    info.creator = fileCreator_;
    host::SetFinderInfo(path_, info);
  }
  return noErr;
}

OSErr TFile::CreateRsrcFork() {
  if (path_.empty()) return fnfErr;
  if (!Exists()) return fnfErr;
  host::ResourceMap existing;
  OSErr err = host::ReadResourceFork(path_, &existing);
  if (err == noErr || err == mapReadErr) return dupFNErr;
  return host::WriteResourceFork(path_, host::ResourceMap());
}

OSErr TFile::DeleteFile() {
  if (path_.empty()) return fnfErr;
  CloseFile();
  return host::DeleteItem(path_);
}

OSErr TFile::RenameFile(std::string_view macRomanName) {
  if (path_.empty()) return fnfErr;
  std::string diskName;
  OSErr err = host::MacNameToDiskName(macRomanName, &diskName);
  if (err != noErr) return err;
  const std::string target = host::JoinPath(host::ParentPath(path_), diskName);
  if (target == path_) return noErr;
  err = host::RenameNoReplace(path_, target);
  if (err != noErr) return err;
  const std::string oldSidecar = host::AppleDoublePath(path_);
  struct stat st;
  if (host::LstatAt(oldSidecar, &st) == 0) host::RenameAt(oldSidecar, host::AppleDoublePath(target));
  path_ = target;
  FSSpec spec;
  if (host::MakeFSSpecFromPath(target, &spec) == noErr) spec_ = spec;
  return noErr;
}

OSErr TFile::OpenFile() {
  // With both permissions 0 the data fork opens with whatever access is allowed.
  const int8_t data = dataPermission_ == 0 && rsrcPermission_ == 0 ? int8_t(fsCurPerm) : dataPermission_;
  if (data != 0 || rsrcPermission_ == 0) {
    OSErr err = OpenDataFork(data);
    if (err != noErr) return err;
  }
  if (rsrcPermission_ != 0) {
    OSErr err = OpenRsrcFork(rsrcPermission_);
    if (err != noErr) {
      CloseDataFork();
      return err;
    }
  }
  return noErr;
}

OSErr TFile::OpenDataFork(int8_t permission) {
  if (path_.empty()) return fnfErr;
  if (fd_ >= 0) return opWrErr;
  bool notRegular = false;
  int fd = host::OpenRegularFile(path_.c_str(), OpenFlags(permission), &notRegular);
  if (fd < 0 && permission == fsCurPerm && (errno == EACCES || errno == EROFS)) {
    fd = host::OpenRegularFile(path_.c_str(), O_RDONLY, &notRegular);
  }
  if (fd < 0) return notRegular ? OSErr(notAFileErr) : host::OSErrFromErrno(errno);
  fd_ = fd;
  return noErr;
}

OSErr TFile::OpenRsrcFork(int8_t permission) {
  if (path_.empty()) return fnfErr;
  if (rsrcOpen_) return opWrErr;
  OSErr err = host::ReadResourceFork(path_, &resources_);
  if (err != noErr) return err;
  rsrcOpen_ = true;
  rsrcChanged_ = false;
  openRsrcPermission_ = permission;
  return noErr;
}

OSErr TFile::CloseDataFork() {
  if (fd_ < 0) return noErr;
  const int r = ::close(fd_);
  fd_ = -1;
  return r == 0 ? OSErr(noErr) : host::OSErrFromErrno(errno);
}

OSErr TFile::CloseRsrcFork() {
  if (!rsrcOpen_) return noErr;
  OSErr err = noErr;
  if (rsrcChanged_ && CanWrite(openRsrcPermission_)) err = host::WriteResourceFork(path_, resources_);
  rsrcOpen_ = false;
  rsrcChanged_ = false;
  resources_ = host::ResourceMap();
  return err;
}

OSErr TFile::CloseFile() {
  const OSErr rsrc = CloseRsrcFork();
  const OSErr data = CloseDataFork();
  return rsrc != noErr ? rsrc : data;
}

OSErr TFile::ReadData(void* buffer, int64_t& count) {
  if (fd_ < 0) return rfNumErr;
  if (count < 0 || (count > 0 && !buffer)) return paramErr;
  int64_t done = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (done < count) {
    const ssize_t r = ::read(fd_, p + done, static_cast<size_t>(count - done));
    if (r < 0) {
      if (errno == EINTR) continue;
      count = done;
      return host::OSErrFromErrno(errno);
    }
    if (r == 0) break;
    done += r;
  }
  const bool shortRead = done < count;
  count = done;
  return shortRead ? OSErr(eofErr) : OSErr(noErr);
}

OSErr TFile::WriteData(const void* buffer, int64_t& count) {
  if (fd_ < 0) return rfNumErr;
  if (count < 0 || (count > 0 && !buffer)) return paramErr;
  int64_t done = 0;
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    const ssize_t w = ::write(fd_, p + done, static_cast<size_t>(count - done));
    if (w < 0) {
      if (errno == EINTR) continue;
      count = done;
      return errno == EBADF ? OSErr(wrPermErr) : host::OSErrFromErrno(errno);
    }
    done += w;
  }
  count = done;
  return noErr;
}

OSErr TFile::GetDataLength(int64_t& length) const {
  struct stat st;
  if (fd_ >= 0) {
    if (::fstat(fd_, &st) != 0) return host::OSErrFromErrno(errno);
  } else {
    if (path_.empty()) return fnfErr;
    if (host::StatAt(path_, &st) != 0) return host::OSErrFromErrno(errno);
  }
  length = st.st_size;
  return noErr;
}

OSErr TFile::SetDataLength(int64_t length) {
  if (fd_ < 0) return rfNumErr;
  if (length < 0) return paramErr;
  if (::ftruncate(fd_, length) != 0) return errno == EINVAL || errno == EBADF ? OSErr(wrPermErr) : host::OSErrFromErrno(errno);
  return noErr;
}

OSErr TFile::GetDataMark(int64_t& mark) const {
  if (fd_ < 0) return rfNumErr;
  const off_t pos = ::lseek(fd_, 0, SEEK_CUR);
  if (pos < 0) return host::OSErrFromErrno(errno);
  mark = pos;
  return noErr;
}

OSErr TFile::SetDataMark(int64_t offset, int16_t positionMode) {
  if (fd_ < 0) return rfNumErr;
  int64_t base = 0;
  switch (positionMode) {
    case fsAtMark: return noErr;
    case fsFromStart: base = 0; break;
    case fsFromLEOF: {
      OSErr err = GetDataLength(base);
      if (err != noErr) return err;
      break;
    }
    case fsFromMark: {
      OSErr err = GetDataMark(base);
      if (err != noErr) return err;
      break;
    }
    default: return paramErr;
  }
  const int64_t target = base + offset;
  if (target < 0) return posErr;
  int64_t length = 0;
  OSErr err = GetDataLength(length);
  if (err != noErr) return err;
  // As on the original platform, the mark stays within the file.
  if (target > length) {
    ::lseek(fd_, length, SEEK_SET);
    return eofErr;
  }
  if (::lseek(fd_, target, SEEK_SET) < 0) return host::OSErrFromErrno(errno);
  return noErr;
}

OSErr TFile::FlushFile() {
  if (fd_ < 0) return rfNumErr;
  if (::fsync(fd_) != 0) return host::OSErrFromErrno(errno);
  return noErr;
}

OSErr TFile::SetResource(ResType type, int16_t id, std::string_view macRomanName, std::vector<uint8_t> data) {
  if (!rsrcOpen_) return rfNumErr;
  if (!CanWrite(openRsrcPermission_)) return wrPermErr;
  resources_.Set(type, id, std::string(macRomanName), std::move(data), !macRomanName.empty());
  rsrcChanged_ = true;
  return noErr;
}

TFile* DoMakeFile(int16_t) { return new TFile(); }

namespace host {
std::unique_ptr<TFile> MakeFile() { return std::make_unique<TFile>(); }
}  // namespace host
