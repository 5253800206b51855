// Catalog information of files and folders, from statx and the Finder
// information, and enumeration of a folder's items by index.
//
// An item counts as invisible when its name begins with "." or its Finder
// flags carry kIsInvisible; the reported Finder flags include kIsInvisible
// for dot names. AppleDouble sidecars ("._name" beside "name") carry other
// items' resource forks and are not items of their own: enumeration and
// item counts leave them out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/base/MacTypes.h"
#include "host/files/FSSpec.h"
#include "host/files/FinderInfo.h"

namespace host {

struct CatalogInfo {
  FSSpec spec;             // the usual form: parent id and name
  std::string path;        // full UTF-8 path
  std::string diskName;    // UTF-8 name on disk (long names included)
  bool isFolder = false;   // a symbolic link to a folder counts, with isLink set
  bool isLink = false;     // the name is a symbolic link (to whatever it points at)
  bool invisible = false;
  int32_t dirID = 0;       // a folder's own id; 0 for files
  uint64_t dataLength = 0; // files: bytes in the data fork
  uint64_t rsrcLength = 0; // files: bytes in the resource fork (AppleDouble sidecar)
  uint32_t valence = 0;    // folders: number of items (sidecars left out)
  int64_t creationTimeNs = 0;      // since 1970-01-01 UTC; the birth time where the
  int64_t modificationTimeNs = 0;  // file system keeps one, else the modification time
  uint32_t mode = 0;       // POSIX mode bits
  uint64_t deviceID = 0;   // the file system and the item's number on it:
  uint64_t nodeID = 0;     // together they name the item whatever its name
  FinderInfo finderInfo;

  // Catalog attribute bit of folders (0x10) as the Parts test it.
  static constexpr uint8_t kFolderAttribute = 0x10;
  uint8_t Attributes() const { return isFolder ? kFolderAttribute : 0; }
  // Seconds since 1904-01-01, the Parts' date form.
  uint32_t CreationMacSeconds() const;
  uint32_t ModificationMacSeconds() const;
};

// The item a specification names (fnfErr when it does not exist).
OSErr GetCatInfo(const FSSpec& spec, CatalogInfo* info);
// The item at a path.
OSErr GetCatInfoForPath(const std::string& path, CatalogInfo* info);
// The folder with the given id.
OSErr GetDirCatInfo(int16_t vRefNum, int32_t dirID, CatalogInfo* info);
// The index-th item (from 1, in name order) of folder `dirID`; fnfErr past
// the last one.
OSErr GetIndexedCatInfo(int16_t vRefNum, int32_t dirID, int index, CatalogInfo* info);

// The UTF-8 names of a folder's items in byte order of their names, without
// "." "..", and without AppleDouble sidecars of existing items.
OSErr ListFolder(const std::string& folderPath, std::vector<std::string>* names);

// The sidecar path "<folder>/._<name>" that holds the resource fork of `path`.
std::string AppleDoublePath(const std::string& path);
// True for a sidecar name ("._x") whose item "x" exists in the same folder.
bool IsSidecarOf(const std::string& folderPath, const std::string& name);

}  // namespace host
