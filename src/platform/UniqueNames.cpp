#include "platform/UniqueNames.h"

#include <string>

#include "host/files/CatalogInfo.h"
#include "host/files/File.h"
#include "host/files/FileOps.h"
#include "platform/FileNames.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/PStrings.h"

namespace {

// The folder that holds the item `spec` names.
bool FolderOf(const FSSpec& spec, std::string* folder) {
  return host::GetPathForDirID(spec.vRefNum, spec.parID, folder) == noErr;
}

bool NameTakenIn(const std::string& folder, const std::string& diskName) {
  host::CatalogInfo info;
  return host::GetCatInfoForPath(host::JoinPath(folder, diskName), &info) != fnfErr;
}

platform::NameTaken TakenIn(const std::string& folder) {
  return [folder](const std::string& name) { return NameTakenIn(folder, name); };
}

// The on-disk form of a Mac Roman name ("" when no item can have it).
std::string DiskName(std::string_view macRoman) {
  std::string disk;
  return host::MacNameToDiskName(macRoman, &disk) == noErr ? disk : std::string();
}

// The real name of the item `spec` names, or the on-disk form of its name.
std::string RealDiskName(const FSSpec& spec) {
  host::CatalogInfo info;
  if (host::GetCatInfo(spec, &info) == noErr) return info.diskName;
  return DiskName(spec.name.view());
}

void SetName(FSSpec& spec, const std::string& diskName) { spec.name = host::DiskNameToMacName(spec.parID, diskName); }

// Whether a file of this Mac Roman name exists in the folder of `spec`.
bool Exists(const FSSpec& folderSpec, const CStr255_AC& macName) {
  std::string folder;
  if (!FolderOf(folderSpec, &folder)) return false;
  const std::string disk = DiskName(macName.view());
  return !disk.empty() && NameTakenIn(folder, disk);
}

}  // namespace

CStr255_AC getUniqueNameBexel(const CStr255_AC& base, int32_t& counter, const CStr255_AC& ext, FSSpec& spec) {
  CStr255_AC name;
  for (int32_t tries = 0; tries < kMaxFileNameLoop; ++tries) {
    name = createNameForSittingImages(base, counter, ext);
    spec.name = name;
    if (!Exists(spec, name)) return name;
    ++counter;
  }
  DisplayNormalMessage("getUniqueName: counter > kMaxFileNameLoop value");
  return name;
}

CStr255_AC getUniqueName(const CStr255_AC& base, int32_t& counter, const CStr255_AC& ext, FSSpec& spec) {
  return getUniqueNameBexel(base, counter, ext, spec);
}

CStr255_AC getUniqueNameForPrintToFile(const CStr255_AC& base, int32_t& counter, const CStr255_AC& ext,
                                       int16_t width, FSSpec& spec) {
  CStr255_AC name;
  for (int32_t tries = 0; tries <= kMaxFileNameLoop; ++tries) {
    name = FormFileNameOld(base, counter, ext, true, width);
    spec.name = name;
    if (!Exists(spec, name)) return name;
    ++counter;
  }
  DisplayNormalMessage("getUniqueNameForPrintToFile: counter > kMaxFileNameLoop value");
  return name;
}

CStr255_AC getUniqueNameForPrintToFileNew(const CStr255_AC& base, int32_t& counter, const CStr255_AC& ext,
                                          int16_t width, FSSpec& spec) {
  CStr255_AC name;
  for (int32_t tries = 0; tries <= kMaxFileNameLoop; ++tries) {
    name = FormFileNameNew(base, counter, ext, true, width);
    TFile* file = DoMakeFile(0);
    OSErr err = file ? file->Specify(spec) : OSErr(memFullErr);
    if (err == noErr) err = file->RenameFile(name.view());
    if (err == noErr) {
      spec = file->GetFileSpec();
      delete file;
      return name;
    }
    delete file;
    if (err != dupFNErr && err != bdNamErr) {
      // The file itself cannot be renamed: no other number would help.
      checkFileError(err);
      return name;
    }
    ++counter;
  }
  DisplayNormalMessage("getUniqueNameForPrintToFile: counter > kMaxFileNameLoop value");
  return name;
}

void getUniqueNameWithCopyBeforeExtension(FSSpec& spec) {
  std::string folder;
  if (!FolderOf(spec, &folder)) return;
  SetName(spec, platform::CopyNameBeforeExtension(RealDiskName(spec), TakenIn(folder)));
}

void getUniqueNameWithCopy(FSSpec& spec) { getUniqueNameWithCopyBeforeExtension(spec); }

void getUniqueNameWithCopyBeforeExtForLongNames(FSSpec& spec) {
  std::string folder;
  if (!FolderOf(spec, &folder)) return;
  SetName(spec, platform::CopyNameForLongNames(RealDiskName(spec), TakenIn(folder)));
}

OSErr newGetUniqueNameWithCopy(const FSRef* parent, const CStr255_AC& base, const CStr255_AC& ext,
                               CStr255_AC& result) {
  if (!parent) {
    DisplayNormalMessage("newGetUniqueNameWithCopy - parentRef -> Nil Pointer!");
    return -1;
  }
  std::string name;
  const int16_t err = platform::NewCopyName(DiskName(base.view()), DiskName(ext.view()), TakenIn(parent->path), name);
  if (err == -1) {
    DisplayNormalMessage("newGetUniqueNameWithCopy - Should never be here either?????");
    return -1;
  }
  if (err != 0) {
    DisplayNormalMessage("newGetUniqueNameWithCopy - Cannot loop beyond 5000???");
    return -1;
  }
  result = CStr255_AC(name);
  return noErr;
}

OSErr newGetUniqueNameWithCopy(FSSpec* spec, const CStr255_AC& base, const CStr255_AC& ext) {
  if (!spec) {
    DisplayNormalMessage("newGetUniqueNameWithCopy - fileSpec -> Nil Pointer!");
    return -1;
  }
  FSRef parent;
  const OSErr err = host::GetPathForDirID(spec->vRefNum, spec->parID, &parent.path);
  if (err != noErr) return err;
  std::string name;
  const int16_t found = platform::NewCopyName(DiskName(base.view()), DiskName(ext.view()), TakenIn(parent.path), name);
  if (found == -1) {
    DisplayNormalMessage("newGetUniqueNameWithCopy - Should never be here either?????");
    return -1;
  }
  if (found != 0) {
    DisplayNormalMessage("newGetUniqueNameWithCopy - Cannot loop beyond 5000???");
    return -1;
  }
  SetName(*spec, name);
  return noErr;
}

OSErr newFSpRename(FSRef* ref, const char* newName) {
  if (!ref) {
    DisplayNormalMessage("newFSpRename - existingFSRef -> Nil Pointer!");
    return -1;
  }
  if (!newName) {
    DisplayNormalMessage("newFSpRename - newName -> Nil Pointer!");
    return -1;
  }
  std::string unicodeName;
  if (ConvertCStringToHFSUniStr(newName, unicodeName) != 0) {
    DisplayNormalMessage("newFSpRename - failed on ConvertCStringToHFSUniStr???");
    return bdNamErr;
  }
  std::string disk;
  OSErr err = host::MacNameToDiskName(newName, &disk);
  if (err != noErr) return err;
  const std::string target = host::JoinPath(host::ParentPath(ref->path), disk);
  err = host::RenameNoReplace(ref->path, target);
  if (err == noErr) ref->path = target;
  return err;
}

OSErr newFSpRename(FSSpec* spec, const char* newName) {
  if (!spec) {
    DisplayNormalMessage("newFSpRename - itemFSSpec -> Nil Pointer!");
    return -1;
  }
  if (!newName) {
    DisplayNormalMessage("newFSpRename - newName -> Nil Pointer!");
    return -1;
  }
  FSRef ref;
  OSErr err = host::FSpMakeFSRef(*spec, &ref);
  if (err != noErr) {
    DisplayNormalMessage("newFSpRename - Cannot create FSpMakeFSRef from exisiting FSSpec???");
    return err;
  }
  err = newFSpRename(&ref, newName);
  if (err == noErr) convertFSRefToFSSpec(&ref, spec);
  return err;
}

OSErr convertFSRefToFSSpec(const FSRef* ref, FSSpec* spec) {
  if (!ref) {
    DisplayNormalMessage("convertFSRefToFSSpec - srcFSRef -> Nil Pointer!");
    return -1;
  }
  if (!spec) {
    DisplayNormalMessage("convertFSRefToFSSpec - retFSSpec -> Nil Pointer!");
    return -1;
  }
  FSSpec made;
  const OSErr err = host::MakeFSSpecFromPath(ref->path, &made);
  if (err != noErr) {
    DisplayNormalMessage(platform::StringF("convertFSRefToFSSpec - Unable to convertFSRefToFSSpec -> error code = [%i]", err).c_str());
    return err;
  }
  *spec = made;
  return noErr;
}
