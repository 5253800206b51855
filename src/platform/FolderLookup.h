// Lookups on which every folder and file location rests: existence of files
// and folders, folder ids, the folder that holds an item, subfolders by name,
// folder creation, volumes by name or number, finding a stored folder again
// after a restart, the default folders beside the application, and file
// specifications for long names.
//
// Folder convention: a folder is passed as an FSSpec whose parID holds the
// folder's own id and whose name is empty.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"
#include "host/files/CatalogInfo.h"
#include "host/files/FSSpec.h"
#include "platform/FolderSpecs.h"

namespace platform {
// Shows a line in the start-up window's status line; set by the application
// (the default only logs it).
using StartupStatusHook = std::function<void(const CStr255_AC&)>;
void SetStartupStatusHook(StartupStatusHook hook);
}  // namespace platform

void MyStartUpSplashWindowUpdateStatus(const CStr255_AC& text);

// True when the name is not empty and the item exists.
bool IsExistingFile(const FSSpec& spec);
bool IsExistingFSSpecLow(const FSSpec& spec);
bool IsExistingFileNew(const FSSpec& spec);
// A non-empty name: a folder of that name exists; an empty name: the folder
// parID exists.
bool IsExistingDirectory(const FSSpec& spec);
// The folder exists on that very volume.
bool IsExistingDirectory(int16_t vRefNum, int32_t dirID);
bool IsExistingDirectoryLow(int16_t vRefNum, int32_t dirID);
bool IsFolder(const host::CatalogInfo& info);
bool IsVisible(const host::CatalogInfo& info);

// The id of the folder a specification names (usual form), or -9999.
int32_t GetFolderDirID(const FSSpec& spec);
// For a specification whose parID holds a folder id: the folder's parent id
// (its name goes into spec.name), or -1.
int32_t GetParIDFromDirID(FSSpec& spec);
// Replaces the file specification by that of the folder that holds the item.
OSErr GetParFSSpecInfoFromFSSpec(FSSpec& spec);
// The usual form (parent id and name) of folder `dirID`; -1 on failure.
OSErr GetFolderFSSpec(int16_t vRefNum, int32_t dirID, FSSpec* spec);

// The id of the subfolder `name` of `folder`: an exact match first, then one
// ignoring case (findFolder also ignores accents); names are compared after
// composing decomposed accents. -1 when there is none.
int32_t FindFolderParID(const FSSpec& folder, const CStr255_AC& name);
int32_t findFolder(const FSSpec& folder, const CStr255_AC& name);

// Creates folder `name` (mode 0777 less the umask) in folder `dirID`, or
// finds the existing one; `spec` ends in the folder convention. The
// creation's code (0 when the folder existed); an empty name shows a message
// and returns bdNamErr.
OSErr createNewFolder(const CStr255_AC& name, int16_t vRefNum, int32_t dirID, FSSpec* spec);
// createNewFolder for paths: the folder `name` (an on-disk UTF-8 name, so any
// character it holds is kept) in the folder at `parent`, created or found;
// its path, or empty when it cannot be had (the operator was told).
std::string CreateOrFindFolderPath(const std::string& parent, const std::string& name);
// Number of visible items of a folder.
int16_t GetSpecialNumberOfFiles(int16_t vRefNum, int32_t dirID);
bool UsedSpecialGetNumOfFiles();

// The file `longName` (up to 255 characters) in the folder `spec` (folder
// convention): 0 when it exists (or was created, with `create`); with
// `resolve` `spec` becomes the file's specification.
OSErr GetValidFileFSSpec(const CStr255_AC& longName, FSSpec& spec, bool create, bool resolve);
// The catalog information of an item; false (after a message) when it
// cannot be read.
bool getXFileInfoStuff(const FSSpec& spec, host::CatalogInfo* info);

// Volumes.
OSErr FindVolumeByName(const CStr255_AC& name, int16_t* vRefNum);
OSErr FindVolumeByNameNew(const CStr255_AC& name, int16_t* vRefNum);
OSErr CheckIfVolumeNameAndVRefNumMatch(const CStr255_AC& name, int16_t vRefNum);
// Mode 1 by name, 2 by number (name and number given out), else a check
// that the two belong together.
OSErr FindVolumeFromNameOrVRefNum(CStr255_AC& name, int16_t& vRefNum, int16_t mode);
OSErr GetVolumeNameFromVRefNum(CStr255_AC& name, int16_t vRefNum);
OSErr XGetVInfo(int16_t volume, CStr255_AC* name, int16_t* vRefNum, uint64_t* freeBytes, uint64_t* totalBytes);
uint64_t getAvailableHardDiskSpace(int16_t vRefNum);

// Finds a stored folder again: by its specification on its volume when the
// volume still carries its name, else by its id on the volume found by name,
// else by its id on the volume of that number. A folder found by id must
// carry the stored folder's name; an id alone is never trusted.
bool AttemptToFindFolder(int16_t volume, int32_t& folderID, const tmyFSSpec& spec, int16_t& foundVolume);
// With `create`: creates `folderName` beside the application and gives out
// its volume, id and specification (true when the folder is there). Without:
// tells the operator the folder cannot be found and returns false.
bool AttemptToCreateDefaultFolder(bool create, int16_t& vRefNum, int32_t& dirID, tmyFSSpec* spec,
                                  const CStr255_AC& folderName, const CStr255_AC& label);

OSErr FSRefMakeFSSpec(const FSRef& ref, FSSpec* spec);
// The item's real name (up to 255 characters), else the file specification's.
CStr255_AC fsSpecToRealName(const FSSpec& spec);
// A resource file shipped with the application ("Resources" beside it).
bool GetPathFromResourceFolderFromAppBundle(const char* fileName, std::string& path);

// ---- paths ----

// The item's full name from the disk (up to 255 characters, "^" for a
// character without a Mac Roman form); the file specification's name when the
// item cannot be read.
CStr255_AC GetFullFileName(const FSSpec& spec);
// The specification of a path whose folder exists.
OSErr myMakeFSSpecFromPath(const std::string& path, FSSpec& spec);
// The path of an existing item; empty when it cannot be found.
std::string FSSpecToNSStringPath(const FSSpec& spec);
// The specification of an existing item; all fields 0 when it cannot be found.
FSSpec NSStringFilePathToFSSpec(const std::string& path);
