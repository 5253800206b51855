#include "platform/FileServices.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <filesystem>
#include <system_error>
#include <vector>

#include "host/files/HeldFolders.h"
#include "host/base/UniqueFile.h"
#include "host/files/CatalogInfo.h"
#include "host/files/FileManager.h"
#include "host/files/FileOps.h"
#include "host/ui/Application.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/Polling.h"
#include "platform/StringLists.h"
#include "platform/UniqueNames.h"

namespace {

constexpr size_t kCopyChunk = 0x40000;

std::string PathOf(const FSSpec& spec) {
  std::string path;
  return host::GetPathOfFSSpec(spec, &path) == noErr ? path : std::string();
}

// Creates an empty file with the type and creator; dupFNErr when it exists.
OSErr CreateTyped(const FSSpec& spec, OSType creator, OSType type) { return host::FSpCreate(spec, creator, type); }

OSErr DeleteSpec(const FSSpec& spec) {
  const std::string path = PathOf(spec);
  return path.empty() ? OSErr(fnfErr) : host::DeleteItem(path);
}

// Copies the source's bytes into `destPath` through a synced temporary file,
// in chunks, replacing a file there only with `replace`. Errors are shown
// with the items of list 4105 the copies use.
OSErr CopyData(const std::string& sourcePath, const std::string& destPath, bool replace, const host::CatalogInfo& info) {
  TFile source;
  OSErr err = source.SpecifyWithPath(sourcePath);
  if (err == noErr) err = source.OpenDataFork(fsRdPerm);
  if (err != noErr) {
    DisplayNormalMessage(kCopyStrings, 12);
    return err;
  }
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(static_cast<size_t>(std::min<uint64_t>(info.dataLength, kCopyChunk)) + 1);
  } catch (const std::bad_alloc&) {
    checkMyMemError(memFullErr);
    DisplayNormalMessage(kCopyStrings, 11);
    return -1;
  }
  // The temporary file lies beside the destination, so the final rename
  // stays on one file system.
  // Its name is short and unique whatever the final name's length, and
  // starts with "." so that folder scans pass it by.
  const std::string temp = host::JoinPath(host::ParentPath(destPath), ".kivo-copy-" + host::RandomHexName());
  TFile dest;
  dest.SetCreationMode(0666);
  dest.SetFileType(info.finderInfo.type);
  dest.SetFileCreator(info.finderInfo.creator);
  err = dest.SpecifyWithPath(temp);
  if (err == noErr || err == fnfErr) err = dest.CreateFile();
  if (err == noErr) err = dest.OpenDataFork(fsRdWrPerm);
  if (err != noErr) {
    platform::LogF("An error occured when attempting to open de destination file:%s, error=%d", destPath.c_str(), err);
    displayFileResultCode(err);
    host::DeleteItem(temp);
    return -1;
  }
  uint64_t copied = 0;
  OSErr result = noErr;
  do {
    const int64_t want = static_cast<int64_t>(std::min<uint64_t>(info.dataLength - copied, kCopyChunk));
    int64_t got = want;
    err = source.ReadData(buffer.data(), got);
    if ((err != noErr && err != eofErr) || got != want) {
      DisplayNormalMessage(kCopyStrings, 13);
      result = -1;
      break;
    }
    int64_t written = got;
    err = dest.WriteData(buffer.data(), written);
    if (err != noErr || written != got) {
      if (err == dskFulErr) DisplayNormalMessage("Disk is full!");
      else DisplayNormalMessage(kCopyStrings, 16);
      result = -1;
      break;
    }
    copied += static_cast<uint64_t>(got);
  } while (copied < info.dataLength);
  // Nothing more than the catalog said was there: a file that grew while it
  // was copied is not taken for complete.
  if (result == noErr) {
    int64_t extra = 1;
    uint8_t probe = 0;
    if (source.ReadData(&probe, extra) == noErr && extra > 0) {
      DisplayNormalMessage(kCopyStrings, 13);
      result = -1;
    }
  }
  if (result == noErr) {
    err = dest.FlushFile();
    if (err != noErr) {
      displayFileResultCode(err);
      result = -1;
    }
  }
  source.CloseFile();
  if (dest.CloseFile() != noErr && result == noErr) result = -1;
  if (result != noErr) {
    host::DeleteItem(temp);
    return result;
  }
  if (replace) {
    // The old file goes only now that the new one is complete and synced.
    host::CatalogInfo old;
    if (host::GetCatInfoForPath(destPath, &old) == noErr && !old.isFolder) host::DeleteItem(destPath);
  }
  err = host::RenameNoReplace(temp, destPath);
  if (err != noErr) {
    host::DeleteItem(temp);
    return err;
  }
  host::SyncFolder(host::ParentPath(destPath));
  return noErr;
}

}  // namespace

OSErr createNewFile(FSSpec& spec, const CStr255_AC& longName) {
  FSSpec folder = spec;
  OSErr err = GetValidFileFSSpec(longName, folder, true, true);
  if (err != noErr) {
    myNewFileError(err);
    return err;
  }
  spec = folder;
  return noErr;
}

OSErr createNewFile(FSSpec& spec) { return createNewFile(spec, CStr255_AC(spec.name)); }

OSErr CreateUniqueFSSpec(FSSpec& spec, OSType /*creator*/, OSType /*type*/, int16_t /*script*/, bool replace) {
  if (IsExistingFile(spec)) {
    if (replace) {
      const OSErr err = DeleteSpec(spec);
      if (err != noErr) platform::LogF("FSpDelete failed with error code = %d", err);
    } else {
      getUniqueNameWithCopyBeforeExtForLongNames(spec);
    }
  }
  // createNewFile takes the containing folder in the parent-id field.
  return createNewFile(spec);
}

OSErr CreateUniqueFSSpecNew(FSSpec& spec, OSType creator, OSType type, int16_t /*script*/, bool replace) {
  OSErr err = CreateTyped(spec, creator, type);
  if (err == noErr) return noErr;
  if (err == dupFNErr) {
    if (replace) {
      err = DeleteSpec(spec);
      if (err == noErr) err = CreateTyped(spec, creator, type);
    } else {
      FSSpec copy = spec;
      getUniqueNameWithCopyBeforeExtension(copy);
      err = CreateTyped(copy, creator, type);
      if (err == noErr) spec = copy;
    }
    if (err != noErr) {
      DisplayNormalMessage(kCopyStrings, 50);
      DisplayNormalMessage(CStr255_AC(spec.name));
    }
    return err;
  }
  DisplayNormalMessage(kCopyStrings, 14);
  DisplayNormalMessage(platform::StringF("Problem with creating file: %i", err).c_str());
  return err;
}

namespace {

// The shared copy of both forms; `longNames` picks the " copy" form.
OSErr CopySpec(const FSSpec& source, FSSpec& destination, bool replace, bool longNames) {
  host::CatalogInfo info;
  if (!getXFileInfoStuff(source, &info)) {
    // A copy whose source cannot be read is a failure, never a success.
    DisplayNormalMessage(kCopyStrings, 10);
    return fnfErr;
  }
  if (info.isFolder) return notAFileErr;
  FSSpec target = destination;
  if (!replace && IsExistingFile(target)) {
    if (longNames) getUniqueNameWithCopyBeforeExtForLongNames(target);
    else getUniqueNameWithCopyBeforeExtension(target);
  }
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::string destPath = PathOf(target);
    if (destPath.empty()) {
      DisplayNormalMessage(kCopyStrings, 15);
      return -1;
    }
    const OSErr err = CopyData(info.path, destPath, replace, info);
    if (err == dupFNErr && !replace) {
      // The name was taken between the check and the rename.
      if (longNames) getUniqueNameWithCopyBeforeExtForLongNames(target);
      else getUniqueNameWithCopyBeforeExtension(target);
      continue;
    }
    if (err != noErr) return err;
    FSSpec resolved;
    if (host::MakeFSSpecFromPath(destPath, &resolved) == noErr) destination = resolved;
    flushOneVolume(destination.vRefNum);
    return noErr;
  }
  return dupFNErr;
}

}  // namespace

// Whether both specifications reach one file: the same specification, or
// two that lead to the same item (another spelling of the name, a link).
static bool SameFile(const FSSpec& a, const FSSpec& b) {
  if (a.vRefNum == b.vRefNum && a.parID == b.parID && a.name.view() == b.name.view()) return true;
  const std::string pa = PathOf(a), pb = PathOf(b);
  return !pa.empty() && !pb.empty() && host::SameItem(pa, pb);
}

OSErr doCopyTheFileInChunks(const FSSpec& source, FSSpec& destination, bool replace) {
  if (replace && SameFile(source, destination)) {
    DisplayNormalMessage("Source directory is the same as destination directory");
    return noErr;
  }
  return CopySpec(source, destination, replace, true);
}

OSErr doCopyTheFile(const FSSpec& source, FSSpec& destination, bool replace) {
  return doCopyTheFileInChunks(source, destination, replace);
}

OSErr copyTheFile(const FSSpec& source, FSSpec& destination, bool replace) {
  if (replace && SameFile(source, destination)) {
    // Copying a file onto itself would destroy it.
    return noErr;
  }
  return CopySpec(source, destination, replace, false);
}

OSErr myTFileMoveFile(const FSSpec& file, int32_t folderID) {
  auto fail = [](OSErr err) {
    DisplayNormalMessage(platform::StringF("Cannot Copy and Move File!\rError Code = %i", err).c_str());
    return err;
  };
  const std::string sourcePath = PathOf(file);
  host::CatalogInfo info;
  if (sourcePath.empty() || host::GetCatInfoForPath(sourcePath, &info) != noErr || info.isFolder) return fail(fnfErr);
  flushOneVolume(file.vRefNum);
  myApplicationPollEvent();
  // The same name in the target folder: the file's real (on-disk) name, so a
  // long name keeps its characters there.
  std::string folderPath;
  OSErr err = host::GetPathForDirID(file.vRefNum, folderID, &folderPath);
  FSSpec destination;
  if (err == noErr) err = host::MakeFSSpecFromPath(host::JoinPath(folderPath, info.diskName), &destination);
  if (err != noErr && err != fnfErr) return fail(err);
  if (IsExistingFile(destination)) getUniqueNameWithCopyBeforeExtension(destination);
  err = noErr;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::string destPath = PathOf(destination);
    if (destPath.empty()) {
      err = dirNFErr;
      break;
    }
    // A rename on one file system; across file systems a synced copy that
    // replaces nothing, and only then the source is removed.
    err = host::MoveItem(sourcePath, destPath);
    if (err != dupFNErr) break;
    getUniqueNameWithCopyBeforeExtension(destination);
  }
  if (err != noErr) return fail(err);
  flushOneVolume(destination.vRefNum);
  return noErr;
}

OSErr myTFileMoveFile(TFile* file, int32_t folderID) {
  if (!file) return paramErr;
  file->CloseFile();
  const OSErr err = myTFileMoveFile(file->GetFileSpec(), folderID);
  return err;
}

OSErr doNSStringPathCopy(const std::string& sourcePath, const std::string& folderPath, const std::string& name,
                         bool replace) {
  platform::LogF("my source Path = %s, my dest path = %s", sourcePath.c_str(), folderPath.c_str());
  const std::string target = host::JoinPath(folderPath, name);
  platform::LogF("my source Path = %s, my dest path = %s", sourcePath.c_str(), target.c_str());
  host::CatalogInfo info;
  if (replace && host::GetCatInfoForPath(target, &info) == noErr && !info.isFolder) {
    if (host::SameItem(sourcePath, target)) {
      platform::LogF("[%s] is already in place", target.c_str());
      return noErr;
    }
    // The file comes in beside the old one first and then takes its name in
    // one rename, so the old file goes only once the new one is complete.
    const std::string temp = host::JoinPath(folderPath, ".kivo-move-" + host::RandomHexName());
    OSErr err = host::MoveItem(sourcePath, temp);
    if (err == noErr) {
      if (host::RenameAt(temp, target) != 0) {
        err = ioErr;
        host::MoveItem(temp, sourcePath);  // back where it came from
      }
    }
    if (err != noErr)
      platform::LogF("Moving [%s] to [%s] failed with error code %d", sourcePath.c_str(), target.c_str(), err);
    return noErr;
  }
  const OSErr err = host::MoveItem(sourcePath, target);
  if (err != noErr) platform::LogF("Moving [%s] to [%s] failed with error code %d", sourcePath.c_str(), target.c_str(), err);
  return noErr;
}

namespace {

bool VolumeIsReadOnly(int16_t vRefNum) {
  host::VolumeInfo info;
  return host::GetVolumeInfo(vRefNum, &info) == noErr && info.readOnly;
}

// Files carry no lock of their own here; a volume mounted read-only is the
// one lock there is.
OSErr ClearLock(int16_t vRefNum) { return VolumeIsReadOnly(vRefNum) ? OSErr(vLckdErr) : OSErr(noErr); }

bool IsDSStore(const std::string& name) {
  return name.size() == 9 && strncasecmp(name.c_str(), ".DS_Store", 9) == 0;
}

// Number of items: the folder's valence, or the visible items when it
// reports none.
int ItemCount(const FSSpec& folder, const host::CatalogInfo& info) {
  if (info.valence != 0) return static_cast<int>(info.valence);
  return GetSpecialNumberOfFiles(folder.vRefNum, folder.parID);
}

}  // namespace

void deleteAllFilesInFolder(const FSSpec& folder) {
  host::CatalogInfo folderInfo;
  if (host::GetDirCatInfo(folder.vRefNum, folder.parID, &folderInfo) != noErr) {
    DisplayNormalMessage("Inside deleteAllFilesInFolder!\rUnable to PBGetCatInfoSync on folder FSSpec");
    DisplayNormalMessage(platform::StringF("FSSpec MAY NOT Exist for:\rvRefNum: %i\rDirID: %i\rfilename: %s",
                                           folder.vRefNum, folder.parID, folder.name.ToUTF8().c_str())
                             .c_str());
    return;
  }
  for (int index = ItemCount(folder, folderInfo); index >= 1; --index) {
    host::CatalogInfo item;
    if (host::GetIndexedCatInfo(folder.vRefNum, folder.parID, index, &item) != noErr) continue;
    if (item.isFolder && !item.isLink) continue;
    if (!IsVisible(item)) {
      if (IsDSStore(item.diskName) && ClearLock(folder.vRefNum) == noErr) host::DeleteItem(item.path);
      continue;
    }
    OSErr err = ClearLock(folder.vRefNum);
    if (err != noErr) {
      DisplayNormalMessage("Unable to FSpRstFLock");
      displayFileResultCode(err);
    }
    if (err == vLckdErr || err == wPrErr) {
      DisplayNormalMessage("err==vLckdErr || err==wPrErr");
      return;
    }
    err = host::DeleteItem(item.path);
    if (err != noErr) {
      DisplayNormalMessage("Unable to FSpDelete");
      displayFileResultCode(err);
    }
  }
}

void specialDeleteAllFilesInFolder(const FSSpec& folder) {
  host::CatalogInfo folderInfo;
  if (host::GetDirCatInfo(folder.vRefNum, folder.parID, &folderInfo) != noErr) return;
  for (int index = ItemCount(folder, folderInfo); index >= 1; --index) {
    host::CatalogInfo item;
    if (host::GetIndexedCatInfo(folder.vRefNum, folder.parID, index, &item) != noErr) continue;
    if (item.isFolder && !item.isLink) {
      FSSpec sub;
      if (host::MakeFolderSpecFromPath(item.path, &sub) == noErr) specialDeleteAllFilesInFolder(sub);
      continue;
    }
    if (!IsVisible(item)) continue;
    OSErr err = ClearLock(folder.vRefNum);
    if (err == vLckdErr || err == wPrErr) {
      displayFileResultCode(err);
      return;
    }
    err = host::DeleteItem(item.path);
    if (err != noErr) displayFileResultCode(err);
  }
}

void deleteAllFilesInSubFolders(const FSSpec& folder) {
  host::CatalogInfo folderInfo;
  if (host::GetDirCatInfo(folder.vRefNum, folder.parID, &folderInfo) != noErr) return;
  const int count = ItemCount(folder, folderInfo);
  std::vector<std::string> subfolders;
  for (int index = 1; index <= count; ++index) {
    host::CatalogInfo item;
    if (host::GetIndexedCatInfo(folder.vRefNum, folder.parID, index, &item) != noErr) continue;
    if (!(item.isFolder || item.isLink) || !IsVisible(item)) continue;
    if (item.isLink) {  // emptying never follows a link: it goes as a link
      const OSErr err = host::DeleteItem(item.path);
      if (err != noErr) displayFileResultCode(err);
      continue;
    }
    subfolders.push_back(item.path);
  }
  for (const std::string& path : subfolders) {
    FSSpec sub;
    if (host::MakeFolderSpecFromPath(path, &sub) == noErr) specialDeleteAllFilesInFolder(sub);
  }
}

OSErr myFSShowHideFile(const FSSpec* spec, bool show) {
  if (!spec) return noErr;
  const std::string path = PathOf(*spec);
  if (path.empty()) return fnfErr;
  host::FinderInfo info;
  OSErr err = host::GetFinderInfo(path, &info);
  if (err != noErr) return err;
  if (show) info.flags &= static_cast<uint16_t>(~host::FinderInfo::kIsInvisible);
  else info.flags |= host::FinderInfo::kIsInvisible;
  err = host::SetFinderInfo(path, info);
  flushOneVolume(spec->vRefNum);
  return err;
}

bool myFSSpecIsTempFSSpec(const host::FinderInfo& info) {
  return info.type == kTempFileMark && info.creator == kTempFileMark;
}

bool setPermission(const char* path, uint32_t mode) {
  if (!path) return false;
  uint32_t current = 0;
  if (host::GetMode(path, &current) != noErr) {
    platform::LogF("\nsetPermission => Unable to get info on itemPath = [%s]!!!\n", path);
    return false;
  }
  // Bits are added only as far as the umask allows: a file is never made
  // writable for users the shop did not open its folders to.
  const uint32_t wanted = (current & 07777) | (mode & 0777 & ~host::ProcessUmask());
  const OSErr err = host::SetMode(path, wanted);
  if (err != noErr) {
    platform::LogF("setPermission => chmod newFolderMode FAILED with errorCode = [%i] = [0x%04x]", err,
                   static_cast<uint16_t>(err));
    return false;
  }
  return true;
}

bool setPermissionFolder(const char* path, uint32_t mode) {
  if (!path) return false;
  platform::PrintF("setPermission => itemPath to evaluate is [%s]\n", path);
  uint32_t current = 0;
  if (host::GetMode(path, &current) != noErr) {
    platform::PrintF("\nsetPermission => Unable to get info on itemPath = [%s]!!!\n", path);
    return false;
  }
  platform::PrintF("setPermission => Success in getting statbuf info for [%s]\n", path);
  platform::PrintF("prevMode = [0x%04x hex] = [%04o octal]\n", current, current);
  const uint32_t kept = current & ~uint32_t(07777);
  platform::PrintF("newFolderMode  = [0x%04x hex] = [%04o octal]\n", kept, kept);
  const uint32_t wanted = (current & ~uint32_t(0777)) | (mode & 0777);
  platform::PrintF("newFolderMode  = [0x%04x hex] = [%04o octal]\n", wanted, wanted);
  const OSErr err = host::SetMode(path, wanted);
  if (err != noErr) {
    platform::PrintF("setPermission => chmod newFolderMode FAILED with errorCode = [%i] = [0x%04x]", err,
                     static_cast<uint16_t>(err));
    return false;
  }
  platform::PrintF("setPermission => SUCCESS IN chmod!!!");
  return true;
}

void WriteNSHFSCreatorCode(const std::string& path, OSType creator) {
  if (path.empty()) return;
  platform::LogF("aCreatorType is: [%u]", creator);
  host::FinderInfo info;
  OSErr err = host::GetFinderInfo(path, &info);
  if (err == noErr) {
    info.creator = creator;
    err = host::SetFinderInfo(path, info);
  }
  if (err != noErr) {
    platform::LogLine("FAILED in changeFileAttributes!!!\n");
    return;
  }
  platform::LogLine("changeFileAttributes PASSED!!!\n");
  host::FinderInfo back;
  if (host::GetFinderInfo(path, &back) == noErr) {
    platform::LogF("Written Value for NSFileHFSCreatorCode is [%u]!!!\n", back.creator);
    platform::LogF("NSString Version is: [%x] = [%i]", back.creator, static_cast<int>(back.creator));
  }
}

void BlockMove(const void* source, void* destination, long count) {
  if (count <= 0 || !source || !destination) return;
  std::memmove(destination, source, static_cast<size_t>(count));
}

int16_t flushOneVolume(int16_t vRefNum) {
  const OSErr err = host::FlushVolume(vRefNum);
  if (err != noErr) {
    host::Beep();
    DisplayNormalMessage(kFileErrorStrings, 9);
    checkCatErr(err);
  }
  return err;
}

OSErr myFSClose(int16_t* refNum) {
  if (!refNum) return noErr;
  const int16_t file = *refNum;
  *refNum = 0;
  return host::FSClose(file);
}
