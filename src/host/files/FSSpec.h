// File specifications and the process-wide volume and directory table.
//
// An FSSpec names an item as (volume reference number, parent directory id,
// name of at most 63 Mac Roman characters). Volume numbers stand for mounted
// file systems and directory ids for folders; both are handed out by this
// process when a path is first resolved or enumerated and are not kept
// across restarts (stored folders come back through aliases). Directory id
// 2 is the root of a volume and 1 its parent, as the Parts expect; every
// other id is unique in the process and is kept by the held-folder table
// (HeldFolders.h): a held folder's id is its descriptor, whatever its name
// leads to later; a folder below one is opened from it without following a
// link whenever its id is used. An FSRef is a full UTF-8 path; every actual
// file-system call goes through one, and a path at or below a held folder
// is resolved from that folder's descriptor.
//
// Names: Mac Roman in an FSSpec, UTF-8 on disk. A "/" inside a Mac name is
// ":" on disk (and back). An on-disk name that has no faithful 63-character
// Mac Roman form gets a short stand-in name ("begin#1A2B3.ext") that this
// table maps back to the real name. The names "", "." and "..", names with
// ":" or NUL, are refused with bdNamErr, so a name from a file can never walk
// out of its folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"

struct FSSpec {
  int16_t vRefNum = 0;
  int32_t parID = 0;
  CStr63_AC name;

  // The stored form: u16 volume, u32 directory id, 64-byte name, big-endian.
  static constexpr size_t kStoredSize = 70;
  void EncodeBE(uint8_t* out) const;
  static FSSpec DecodeBE(const uint8_t* in);

  friend bool operator==(const FSSpec& a, const FSSpec& b) {
    return a.vRefNum == b.vRefNum && a.parID == b.parID && a.name == b.name;
  }
};

// A full path of an item, UTF-8.
struct FSRef {
  std::string path;
  friend bool operator==(const FSRef&, const FSRef&) = default;
};

// "No folder" in stored records.
constexpr int16_t kNoVolume = -9999;
constexpr int32_t kNoDirectory = -9999;
constexpr int32_t fsRtParID = 1;
constexpr int32_t fsRtDirID = 2;

namespace host {

struct VolumeInfo {
  int16_t vRefNum = 0;
  std::string mountPoint;  // UTF-8 path
  std::string label;       // UTF-8; the file system's label, else the mount point's last name
  uint64_t totalBytes = 0;
  uint64_t freeBytes = 0;
  bool readOnly = false;
};

// ---- volumes ----
// Volume by number (nsvErr when unknown).
OSErr GetVolumeInfo(int16_t vRefNum, VolumeInfo* info);
// Volumes in mount order, from index 1; nsvErr past the last one. Kernel
// pseudo file systems (proc, sysfs, cgroup, ...) are left out.
OSErr GetIndexedVolume(int index, VolumeInfo* info);
// The volume holding an existing path.
OSErr GetVolumeForPath(const std::string& path, int16_t* vRefNum);

// ---- directories ----
// The id of an existing folder (hands one out on first sight; below a held
// folder reached without following a link).
OSErr GetDirIDForPath(const std::string& path, int16_t* vRefNum, int32_t* dirID);
// The path of a folder id (a held folder's path as it was held); dirNFErr
// when the id is unknown or the folder it named is gone (a folder moved away
// is not silently followed, a held folder removed is gone).
OSErr GetPathForDirID(int16_t vRefNum, int32_t dirID, std::string* path);

// ---- names ----
// A Mac Roman name as it is on disk; bdNamErr for names no item can have.
OSErr MacNameToDiskName(std::string_view macRoman, std::string* diskName);
// The FSSpec name of an on-disk name in folder `dirID`: the Mac Roman form
// when it is faithful and fits in 63 characters, else a registered stand-in.
CStr63_AC DiskNameToMacName(int32_t dirID, const std::string& diskName);

// ---- specifications ----
// Fills `spec` for (vRefNum, dirID, name). An empty name names the folder
// `dirID` itself, given in the usual form (its parent's id and its name).
// noErr when the item exists, fnfErr when only its folder does (spec still
// filled), dirNFErr / nsvErr when the folder or volume is unknown, bdNamErr
// for a name no item can have.
OSErr FSMakeFSSpec(int16_t vRefNum, int32_t dirID, std::string_view macRomanName, FSSpec* spec);
// The path a specification names. A folder passed as its own id with an
// empty name resolves to that folder. The item need not exist; its folder must.
OSErr GetPathOfFSSpec(const FSSpec& spec, std::string* path);
// The FSRef of an existing item (fnfErr when it does not exist).
OSErr FSpMakeFSRef(const FSSpec& spec, FSRef* ref);
// The specification of a path whose folder exists; fnfErr (spec filled) when
// the item itself does not.
OSErr MakeFSSpecFromPath(const std::string& path, FSSpec* spec);
// The folder convention: the folder's own id in parID and an empty name.
OSErr MakeFolderSpecFromPath(const std::string& path, FSSpec* spec);

// Joins a folder path and a name with one "/".
std::string JoinPath(const std::string& folder, const std::string& name);
// The last name of a path and the path of its folder.
std::string LastPathName(const std::string& path);
std::string ParentPath(const std::string& path);

}  // namespace host
