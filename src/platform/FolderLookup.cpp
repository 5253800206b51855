#include "platform/FolderLookup.h"

#include <mutex>
#include <utility>
#include <vector>

#include "host/files/FileOps.h"
#include "host/sys/Folders.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/NameCompare.h"
#include "platform/PStrings.h"
#include "platform/StringLists.h"

namespace platform {
namespace {

std::mutex gHookMutex;
StartupStatusHook gStartupStatusHook;
bool gUsedSpecialGetNumOfFiles = false;

// The path of folder `dirID`, only when it lies on volume `vRefNum`.
OSErr FolderPathOnVolume(int16_t vRefNum, int32_t dirID, std::string* path) {
  OSErr err = host::GetPathForDirID(vRefNum, dirID, path);
  if (err != noErr) return err;
  int16_t actual = 0;
  err = host::GetVolumeForPath(*path, &actual);
  if (err != noErr) return err;
  return actual == vRefNum ? OSErr(noErr) : OSErr(dirNFErr);
}

}  // namespace

void SetStartupStatusHook(StartupStatusHook hook) {
  std::lock_guard<std::mutex> lock(gHookMutex);
  gStartupStatusHook = std::move(hook);
}

}  // namespace platform

void MyStartUpSplashWindowUpdateStatus(const CStr255_AC& text) {
  platform::StartupStatusHook hook;
  {
    std::lock_guard<std::mutex> lock(platform::gHookMutex);
    hook = platform::gStartupStatusHook;
  }
  if (hook) hook(text);
  else platform::LogF("%s", text.ToUTF8().c_str());
}

bool IsExistingFileNew(const FSSpec& spec) {
  // The specification is resolved as it stands (long and unencodable names
  // included), never through a name converted for display.
  FSRef ref;
  return host::FSpMakeFSRef(spec, &ref) == noErr;
}

bool IsExistingFSSpecLow(const FSSpec& spec) { return IsExistingFileNew(spec); }

bool IsExistingFile(const FSSpec& spec) { return !spec.name.IsEmpty() && IsExistingFSSpecLow(spec); }

bool IsExistingDirectoryLow(int16_t vRefNum, int32_t dirID) {
  std::string path;
  return platform::FolderPathOnVolume(vRefNum, dirID, &path) == noErr;
}

bool IsExistingDirectory(int16_t vRefNum, int32_t dirID) { return IsExistingDirectoryLow(vRefNum, dirID); }

bool IsExistingDirectory(const FSSpec& spec) {
  if (spec.name.IsEmpty()) return IsExistingDirectory(spec.vRefNum, spec.parID);
  // A named item counts only when it is a folder: a plain file of that name
  // is no directory to write into.
  std::string path;
  host::CatalogInfo info;
  return host::GetPathOfFSSpec(spec, &path) == noErr && host::GetCatInfoForPath(path, &info) == noErr &&
         info.isFolder;
}

bool IsFolder(const host::CatalogInfo& info) { return (info.Attributes() & host::CatalogInfo::kFolderAttribute) != 0; }
bool IsVisible(const host::CatalogInfo& info) {
  return (info.finderInfo.flags & host::FinderInfo::kIsInvisible) == 0 && !info.invisible;
}

int32_t GetFolderDirID(const FSSpec& spec) {
  std::string path;
  OSErr err = host::GetPathOfFSSpec(spec, &path);
  int16_t vRefNum = 0;
  int32_t dirID = 0;
  if (err == noErr) err = host::GetDirIDForPath(path, &vRefNum, &dirID);
  if (err != noErr) {
    platform::PrintF("GetFolderDirID failed with error code = [%i] = [0x%02x]\n", err, static_cast<uint16_t>(err));
    platform::LogF("GetFolderDirID failed with error code = [%i] = [0x%02x]\n", err, static_cast<uint16_t>(err));
    return kNoDirectory;
  }
  return dirID;
}

int32_t GetParIDFromDirID(FSSpec& spec) {
  host::CatalogInfo info;
  const OSErr err = host::GetDirCatInfo(spec.vRefNum, spec.parID, &info);
  if (err != noErr) {
    platform::PrintF("03-20-08bexel => GetParIDFromDirID failed with ErrorCode = [%i] = [0x%02x]!\n", err,
                     static_cast<uint16_t>(err));
    platform::PrintF("03-20-08bexel => GetParIDFromDirID failed and will return ID = -1!");
    return -1;
  }
  spec.name = info.spec.name;
  return info.spec.parID;
}

OSErr GetParFSSpecInfoFromFSSpec(FSSpec& spec) {
  std::string path;
  OSErr err = host::GetPathOfFSSpec(spec, &path);
  if (err != noErr) return err;
  FSSpec parent;
  err = host::MakeFSSpecFromPath(host::ParentPath(path), &parent);
  if (err != noErr) return err;
  spec = parent;
  return noErr;
}

OSErr GetFolderFSSpec(int16_t vRefNum, int32_t dirID, FSSpec* spec) {
  host::CatalogInfo info;
  if (!spec || host::GetDirCatInfo(vRefNum, dirID, &info) != noErr) {
    platform::PrintF("GetFolderFSSpec failed with error code = [0x%02x]\n", 0xFFFF);
    return -1;
  }
  *spec = info.spec;
  return noErr;
}

namespace {

int32_t FindSubfolder(const FSSpec& folder, const CStr255_AC& name, bool ignoreDiacritics) {
  std::string folderPath;
  if (host::GetPathOfFSSpec(folder, &folderPath) != noErr) return -1;
  std::vector<std::string> names;
  if (host::ListFolder(folderPath, &names) != noErr) return -1;
  const std::string wanted = name.ToUTF8();
  auto folderID = [&](const std::string& diskName) -> int32_t {
    int16_t vRefNum = 0;
    int32_t dirID = 0;
    host::CatalogInfo info;
    const std::string path = host::JoinPath(folderPath, diskName);
    if (host::GetCatInfoForPath(path, &info) != noErr || !info.isFolder) return -1;
    if (host::GetDirIDForPath(path, &vRefNum, &dirID) != noErr) return -1;
    return dirID;
  };
  // An exact name wins over one that only differs in case.
  for (const std::string& n : names)
    if (platform::NamesEqualNFC(n, wanted))
      if (const int32_t id = folderID(n); id != -1) return id;
  for (const std::string& n : names)
    if (platform::NamesEqualIgnoringCase(n, wanted, ignoreDiacritics))
      if (const int32_t id = folderID(n); id != -1) return id;
  return -1;
}

}  // namespace

int32_t FindFolderParID(const FSSpec& folder, const CStr255_AC& name) { return FindSubfolder(folder, name, false); }
int32_t findFolder(const FSSpec& folder, const CStr255_AC& name) { return FindSubfolder(folder, name, true); }

OSErr createNewFolder(const CStr255_AC& name, int16_t vRefNum, int32_t dirID, FSSpec* spec) {
  if (name.IsEmpty()) {
    // No folder was made or found: the caller must not take its
    // specification for one.
    DisplayNormalMessage("createNewFolder => theName is nil");
    return bdNamErr;
  }
  if (!spec) return paramErr;
  FSSpec target;
  OSErr err = host::FSMakeFSSpec(vRefNum, dirID, name.view(), &target);
  std::string path;
  if (err == fnfErr) {
    err = host::GetPathOfFSSpec(target, &path);
    // The program's own folders are writable by its user alone (see
    // host/files/HeldFolders.h); an output folder's consumer is given more
    // by the operator.
    if (err == noErr) err = host::CreateFolder(path, 0755);
    if (err != noErr) {
      displayFileResultCode(err);
      DisplayNormalMessage(kFolderStrings, err == dupFNErr ? 7 : 8);
      return err;
    }
    int32_t newID = 0;
    int16_t newVol = 0;
    err = host::GetDirIDForPath(path, &newVol, &newID);
    if (err != noErr) return err;
    spec->vRefNum = newVol;
    spec->parID = newID;
    spec->name = CStr63_AC();
    return noErr;
  }
  if (err == noErr) {
    // The name exists already: use it when it is a folder.
    host::CatalogInfo info;
    host::GetPathOfFSSpec(target, &path);
    int16_t existingVol = 0;
    int32_t existingID = 0;
    if (host::GetCatInfoForPath(path, &info) == noErr && info.isFolder &&
        host::GetDirIDForPath(path, &existingVol, &existingID) == noErr) {
      spec->vRefNum = existingVol;
      spec->parID = existingID;
      spec->name = CStr63_AC();
      return noErr;
    }
    err = dupFNErr;
    displayFileResultCode(err);
    DisplayNormalMessage(kFolderStrings, 7);
    return err;
  }
  // The containing folder or the volume cannot be reached, or the name is
  // not one a folder can have.
  displayFileResultCode(err);
  DisplayNormalMessage(kFolderStrings, 8);
  return err;
}

std::string CreateOrFindFolderPath(const std::string& parent, const std::string& name) {
  FSSpec folder;
  if (parent.empty() || host::MakeFolderSpecFromPath(parent, &folder) != noErr) return {};
  // The specification name of the on-disk name keeps characters that Mac
  // Roman cannot hold.
  const CStr255_AC macName = CStr255_AC::FromMacRoman(host::DiskNameToMacName(folder.parID, name).view());
  FSSpec made;
  if (createNewFolder(macName, folder.vRefNum, folder.parID, &made) != noErr) return {};
  std::string path;
  if (host::GetPathForDirID(made.vRefNum, made.parID, &path) != noErr) return {};
  return path;
}

int16_t GetSpecialNumberOfFiles(int16_t vRefNum, int32_t dirID) {
  int16_t count = 0;
  host::CatalogInfo info;
  for (int index = 1; host::GetIndexedCatInfo(vRefNum, dirID, index, &info) == noErr; ++index)
    if (IsVisible(info)) ++count;
  platform::gUsedSpecialGetNumOfFiles = true;
  return count;
}

bool UsedSpecialGetNumOfFiles() { return platform::gUsedSpecialGetNumOfFiles; }

OSErr GetValidFileFSSpec(const CStr255_AC& longName, FSSpec& spec, bool create, bool resolve) {
  std::string folder;
  OSErr err;
  if (spec.parID == fsRtParID) {
    platform::PrintF("GetValidFileFSSpec = Must Be At ROOT Level!!!");
    err = host::GetPathForDirID(spec.vRefNum, fsRtDirID, &folder);
  } else {
    err = host::GetPathForDirID(spec.vRefNum, spec.parID, &folder);
  }
  if (err != noErr) {
    platform::PrintF("GetValidFileFSSpec Failed with ErrorCode = [%i] = [0x%02x]\n", err, static_cast<uint16_t>(err));
    return err;
  }
  std::string path;
  if (longName.Length() <= CStr63_AC::kCapacity) {
    // Through the file specification, so that a stand-in name finds its file.
    FSSpec item;
    err = host::FSMakeFSSpec(spec.vRefNum, spec.parID == fsRtParID ? fsRtDirID : spec.parID, longName.view(), &item);
    if (err != noErr && err != fnfErr) return err;
    err = host::GetPathOfFSSpec(item, &path);
  } else {
    std::string disk;
    err = host::MacNameToDiskName(longName.view(), &disk);
    path = host::JoinPath(folder, disk);
  }
  if (err != noErr) return err;
  host::CatalogInfo info;
  err = host::GetCatInfoForPath(path, &info);
  if (create && err == fnfErr) {
    err = host::CreateFileExclusive(path, 0666);
    if (err == noErr) {
      platform::PrintF("GetValidFileFSSpec => FSCreateFileUnicode2 SUCCEEDED with ErrorCode = [%i] = [0x%02x]\n", err, 0);
    } else {
      platform::PrintF("GetValidFileFSSpec => FSCreateFileUnicode2 Failed with ErrorCode = [%i] = [0x%02x]\n", err,
                       static_cast<uint16_t>(err));
    }
  }
  if (!resolve || err != noErr) return err;
  FSSpec resolved;
  err = host::MakeFSSpecFromPath(path, &resolved);
  if (err == noErr) spec = resolved;
  return err;
}

bool getXFileInfoStuff(const FSSpec& spec, host::CatalogInfo* info) {
  host::CatalogInfo local;
  const OSErr err = host::GetCatInfo(spec, info ? info : &local);
  if (err != noErr) {
    const std::string text = platform::StringF(
        "Inside getXFileInfoStuff ->\nError [%i] in getting dir cat...\nvRefNum = [%i]\nioDirID = [%i]\nname = [%s] ",
        err, spec.vRefNum, spec.parID, spec.name.ToUTF8().c_str());
    DisplayNormalMessage(text.c_str());
    return false;
  }
  return true;
}

OSErr FindVolumeByNameNew(const CStr255_AC& name, int16_t* vRefNum) {
  if (!vRefNum) return paramErr;
  for (int index = 1; index <= 99; ++index) {
    host::VolumeInfo info;
    const OSErr err = host::GetIndexedVolume(index, &info);
    if (err != noErr) return err;
    if (pstrcomp2(CStr255_AC(info.label).view(), name.view())) {
      *vRefNum = info.vRefNum;
      return noErr;
    }
  }
  // No match among the volumes examined: not found, never a stale number.
  return nsvErr;
}

OSErr FindVolumeByName(const CStr255_AC& name, int16_t* vRefNum) { return FindVolumeByNameNew(name, vRefNum); }

OSErr GetVolumeNameFromVRefNum(CStr255_AC& name, int16_t vRefNum) {
  host::VolumeInfo info;
  const OSErr err = host::GetVolumeInfo(vRefNum, &info);
  if (err == noErr) name = CStr255_AC(info.label);
  return err;
}

OSErr CheckIfVolumeNameAndVRefNumMatch(const CStr255_AC& name, int16_t vRefNum) {
  CStr255_AC current;
  const OSErr err = GetVolumeNameFromVRefNum(current, vRefNum);
  if (err != noErr) return err;
  return pstrcomp2(current.view(), name.view()) ? OSErr(noErr) : OSErr(-1);
}

OSErr FindVolumeFromNameOrVRefNum(CStr255_AC& name, int16_t& vRefNum, int16_t mode) {
  if (mode == 1) return FindVolumeByNameNew(name, &vRefNum);
  if (mode == 2) return GetVolumeNameFromVRefNum(name, vRefNum);
  return CheckIfVolumeNameAndVRefNumMatch(name, vRefNum);
}

OSErr XGetVInfo(int16_t volume, CStr255_AC* name, int16_t* vRefNum, uint64_t* freeBytes, uint64_t* totalBytes) {
  int16_t ref = volume;
  if (ref == 0 && name && !name->IsEmpty()) {
    const OSErr err = FindVolumeByNameNew(*name, &ref);
    if (err != noErr) return err;
  }
  host::VolumeInfo info;
  const OSErr err = host::GetVolumeInfo(ref, &info);
  if (err != noErr) return err;
  if (vRefNum) *vRefNum = info.vRefNum;
  if (freeBytes) *freeBytes = info.freeBytes;
  if (totalBytes) *totalBytes = info.totalBytes;
  return noErr;
}

uint64_t getAvailableHardDiskSpace(int16_t vRefNum) {
  uint64_t freeBytes = 0;
  return XGetVInfo(vRefNum, nullptr, nullptr, &freeBytes, nullptr) == noErr ? freeBytes : 0;
}

namespace {

// The folder `dirID` on `vRefNum` is the stored folder: it exists there and,
// when a name was stored, carries it.
bool FolderMatches(int16_t vRefNum, int32_t dirID, const FSSpec& stored, bool acceptWithoutName) {
  if (!IsExistingDirectory(vRefNum, dirID)) return false;
  if (stored.name.IsEmpty()) return acceptWithoutName;
  host::CatalogInfo info;
  if (host::GetDirCatInfo(vRefNum, dirID, &info) != noErr) return false;
  return platform::NamesEqualIgnoringCase(platform::ToNFC(info.diskName), stored.name.ToUTF8(), false) ||
         pstrcomp2(info.spec.name.view(), stored.name.view());
}

}  // namespace

bool AttemptToFindFolder(int16_t volume, int32_t& folderID, const tmyFSSpec& spec, int16_t& foundVolume) {
  if (volume == kNoVolume) return false;
  CStr255_AC volumeName(spec.volumeName);
  // The same volume, still under its stored name.
  foundVolume = volume;
  if (FindVolumeFromNameOrVRefNum(volumeName, foundVolume, 0) == noErr) {
    if (IsExistingDirectory(spec.spec)) {
      const int32_t current = GetFolderDirID(spec.spec);
      if (current != kNoDirectory && current != folderID) folderID = current;
      return true;
    }
    if (FolderMatches(foundVolume, folderID, spec.spec, true)) return true;
  }
  // The volume by its name, perhaps under another number now.
  int16_t byName = volume;
  if (FindVolumeFromNameOrVRefNum(volumeName, byName, 1) == noErr) {
    foundVolume = byName;
    if (FolderMatches(byName, folderID, spec.spec, false)) return true;
  }
  // The volume by its number, perhaps renamed.
  foundVolume = volume;
  CStr255_AC currentName;
  if (FindVolumeFromNameOrVRefNum(currentName, foundVolume, 2) == noErr &&
      FolderMatches(foundVolume, folderID, spec.spec, false))
    return true;
  return false;
}

bool AttemptToCreateDefaultFolder(bool create, int16_t& vRefNum, int32_t& dirID, tmyFSSpec* spec,
                                  const CStr255_AC& folderName, const CStr255_AC& label) {
  if (!spec) return false;
  if (!create) {
    const std::string volume = spec->volumeName.IsEmpty() ? std::string("Desktop") : spec->volumeName.ToUTF8();
    const std::string text = platform::StringF("Unable to Find %s:\r  Volume: %s\r  Folder: %s",
                                               label.ToUTF8().c_str(), volume.c_str(), spec->spec.name.ToUTF8().c_str());
    DisplayNormalMessage(text);
    return false;
  }
  CStr255_AC status("Creating Folder - ");
  status += folderName;
  MyStartUpSplashWindowUpdateStatus(status);
  FSSpec appFolder;
  if (host::MakeFolderSpecFromPath(host::applicationFolder().string(), &appFolder) != noErr) return false;
  FSSpec created;
  if (createNewFolder(folderName, appFolder.vRefNum, appFolder.parID, &created) != noErr) return false;
  if (!IsExistingDirectory(created.vRefNum, created.parID)) return false;
  vRefNum = created.vRefNum;
  dirID = created.parID;
  FSSpec usual;
  if (GetFolderFSSpec(vRefNum, dirID, &usual) == noErr) spec->spec = usual;
  CStr255_AC volume;
  if (GetVolumeNameFromVRefNum(volume, vRefNum) == noErr) spec->volumeName = volume;
  return true;
}

OSErr FSRefMakeFSSpec(const FSRef& ref, FSSpec* spec) {
  if (!spec) return paramErr;
  return host::MakeFSSpecFromPath(ref.path, spec);
}

CStr255_AC GetFullFileName(const FSSpec& spec) {
  CStr255_AC name(spec.name);
  FSRef ref;
  const OSErr err = host::FSpMakeFSRef(spec, &ref);
  if (err == fnfErr) return name;
  if (err != noErr) {
    platform::LogF("GetFullFileName: FSpMakeFSRef fails with error code %d", err);
    return name;
  }
  host::CatalogInfo info;
  const OSErr catErr = host::GetCatInfoForPath(ref.path, &info);
  if (catErr != noErr) {
    platform::LogF("GetFullFileName: FSGetCatalogInfo fails with error code %d", catErr);
    return name;
  }
  unicodeToPascalString(info.diskName, name);
  return name;
}

CStr255_AC fsSpecToRealName(const FSSpec& spec) {
  CStr255_AC name(spec.name);
  FSRef ref;
  host::CatalogInfo info;
  if (host::FSpMakeFSRef(spec, &ref) == noErr && host::GetCatInfoForPath(ref.path, &info) == noErr)
    unicodeToPascalString(info.diskName, name);
  return name;
}

OSErr myMakeFSSpecFromPath(const std::string& path, FSSpec& spec) {
  FSSpec made;
  const OSErr err = host::MakeFSSpecFromPath(path, &made);
  if (err == noErr || err == fnfErr) spec = made;
  return err;
}

std::string FSSpecToNSStringPath(const FSSpec& spec) {
  FSRef ref;
  if (host::FSpMakeFSRef(spec, &ref) != noErr) {
    platform::LogLine("FSpMakeFSRef fails in FSSpecToNSStringPath");
    return {};
  }
  return ref.path;
}

FSSpec NSStringFilePathToFSSpec(const std::string& path) {
  FSSpec spec;
  if (host::MakeFSSpecFromPath(path, &spec) != noErr) {
    platform::LogLine("CFURLGetFSRef fails in NSStringFilePathToFSSpec");
    return FSSpec{};
  }
  return spec;
}

bool GetPathFromResourceFolderFromAppBundle(const char* fileName, std::string& path) {
  platform::LogLine("Inside GetPathFromResourceFolderFromAppBundle");
  if (!fileName || !*fileName) return false;
  std::error_code ec;
  for (const auto& folder : {host::applicationFolder() / "Resources", host::executablePath().parent_path() / "Resources"}) {
    const auto candidate = folder / fileName;
    if (std::filesystem::is_regular_file(candidate, ec)) {
      path = candidate.string();
      platform::LogF("GetPathFromResourceFolderFromAppBundle found [%s]", path.c_str());
      return true;
    }
  }
  platform::LogF("GetPathFromResourceFolderFromAppBundle did not find [%s]", fileName);
  return false;
}
