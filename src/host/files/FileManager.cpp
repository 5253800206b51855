#include "host/files/FileManager.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "host/files/FileErrors.h"
#include "host/files/FileOps.h"

namespace host {

uint32_t DefaultFileMode() { return 0666u & ~ProcessUmask(); }

OSErr FSpCreate(const FSSpec& spec, OSType creator, OSType type, uint32_t mode) {
  std::string path;
  OSErr err = GetPathOfFSSpec(spec, &path);
  if (err != noErr) return err;
  err = CreateFileExclusive(path, mode);
  if (err != noErr) return err;
  if (creator != 0 || type != 0) {
    FinderInfo info;
    info.type = type;
    info.creator = creator;
    SetFinderInfo(path, info);
  }
  return noErr;
}

OSErr FSpDirCreate(const FSSpec& spec, uint32_t mode, int32_t* newDirID) {
  std::string path;
  OSErr err = GetPathOfFSSpec(spec, &path);
  if (err != noErr) return err;
  err = CreateFolder(path, mode);
  if (err != noErr) return err;
  if (newDirID) {
    int16_t v = 0;
    err = GetDirIDForPath(path, &v, newDirID);
  }
  return err;
}

OSErr FSpDelete(const FSSpec& spec) {
  std::string path;
  OSErr err = GetPathOfFSSpec(spec, &path);
  if (err != noErr) return err;
  return DeleteItem(path);
}

OSErr FSpRename(const FSSpec& spec, std::string_view newMacRomanName) {
  std::string path;
  OSErr err = GetPathOfFSSpec(spec, &path);
  if (err != noErr) return err;
  std::string diskName;
  err = MacNameToDiskName(newMacRomanName, &diskName);
  if (err != noErr) return err;
  const std::string target = JoinPath(ParentPath(path), diskName);
  if (target == path) return noErr;
  return MoveItem(path, target);
}

OSErr FSpCatMove(const FSSpec& spec, int16_t destVRefNum, int32_t destDirID) {
  std::string path;
  OSErr err = GetPathOfFSSpec(spec, &path);
  if (err != noErr) return err;
  std::string folder;
  err = GetPathForDirID(destVRefNum, destDirID, &folder);
  if (err != noErr) return err;
  return MoveItem(path, JoinPath(folder, LastPathName(path)));
}

OSErr FSpGetFInfo(const FSSpec& spec, FinderInfo* info) {
  std::string path;
  OSErr err = GetPathOfFSSpec(spec, &path);
  if (err != noErr) return err;
  return GetFinderInfo(path, info);
}

OSErr FSpSetFInfo(const FSSpec& spec, const FinderInfo& info) {
  std::string path;
  OSErr err = GetPathOfFSSpec(spec, &path);
  if (err != noErr) return err;
  return SetFinderInfo(path, info);
}

OSErr FlushVolume(int16_t vRefNum) {
  VolumeInfo info;
  OSErr err = GetVolumeInfo(vRefNum, &info);
  if (err != noErr) return err;
  const int fd = ::open(info.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return OSErrFromErrno(errno);
  const int r = ::syncfs(fd);
  const int e = errno;
  ::close(fd);
  return r == 0 ? OSErr(noErr) : OSErrFromErrno(e);
}

}  // namespace host
