// File operations of the pipeline: create, copy, move, empty folders, show
// or hide, permission bits, creator codes. Failures are shown to the operator
// through the message sink and returned as 16-bit result codes; nothing
// throws.
//
// What the program relies on: a copy is written to a temporary name, synced
// and renamed into place, so a half-written file never takes the final name;
// creating or renaming never replaces an existing file unless asked to; a
// move never removes a source that was not copied completely.
#pragma once

#include <cstdint>
#include <string>

#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"
#include "host/files/File.h"
#include "host/files/FinderInfo.h"

// Creates the file spec.name in folder spec.parID (folder convention) unless
// it exists; `spec` becomes the file's specification.
OSErr createNewFile(FSSpec& spec);
// The same for a name of up to 255 characters.
OSErr createNewFile(FSSpec& spec, const CStr255_AC& longName);

// Makes room for a new file and creates it (empty): an existing file of
// that name is deleted with `replace`, else `spec` gets a free " copy" name.
OSErr CreateUniqueFSSpec(FSSpec& spec, OSType creator, OSType type, int16_t script, bool replace);
// The same with the type and creator set and the 63-character " copy" form.
OSErr CreateUniqueFSSpecNew(FSSpec& spec, OSType creator, OSType type, int16_t script, bool replace);

// Copies the data fork (with type and creator) of `source` into
// `destination` (a file specification); 0 when done, else -1 or a result
// code. Without `replace` an existing destination leads to a " copy" name,
// given out in `destination`; with it the old file is replaced only once the
// new one is complete.
OSErr doCopyTheFileInChunks(const FSSpec& source, FSSpec& destination, bool replace);
OSErr doCopyTheFile(const FSSpec& source, FSSpec& destination, bool replace);
OSErr copyTheFile(const FSSpec& source, FSSpec& destination, bool replace);

// Moves a job file into folder `folderID` of its volume under its own
// (on-disk) name; an existing file of that name leads to the " copy" name
// ("job copy.kpj"). The source is removed only after a complete copy. A
// move that fails (no such folder, no file) is shown to the operator as
// "Cannot Copy and Move File!" with its code, which is returned.
OSErr myTFileMoveFile(TFile* file, int32_t folderID);
OSErr myTFileMoveFile(const FSSpec& file, int32_t folderID);

// Moves the file at `sourcePath` to folderPath/name; with `replace` an item
// there is replaced, otherwise an existing item is left alone and the
// move does not happen (logged). A replaced file goes only once the new one
// has its name; a file moved onto itself stays. Always 0.
OSErr doNSStringPathCopy(const std::string& sourcePath, const std::string& folderPath, const std::string& name,
                         bool replace);

// Empties a folder (folder convention): visible files are deleted, ".DS_Store"
// of the invisible ones, subfolders are left.
void deleteAllFilesInFolder(const FSSpec& folder);
// Empties a folder and every subfolder below it; folders and invisible
// files are kept.
void specialDeleteAllFilesInFolder(const FSSpec& folder);
// Empties every visible subfolder; files directly in the folder are kept.
void deleteAllFilesInSubFolders(const FSSpec& folder);

OSErr myFSShowHideFile(const FSSpec* spec, bool show);
// Both type and creator are 'tmp?'.
bool myFSSpecIsTempFSSpec(const host::FinderInfo& info);

// Closes the file whose reference number `refNum` points at, after setting
// that number to 0; the result of the close. 0 for a null pointer.
OSErr myFSClose(int16_t* refNum);

// Adds (mode & 0777), less the umask, to the item's permission bits; true
// when set.
bool setPermission(const char* path, uint32_t mode);
// Sets the permission bits to exactly (mode & 0777); true when set.
bool setPermissionFolder(const char* path, uint32_t mode);
void WriteNSHFSCreatorCode(const std::string& path, OSType creator);
void BlockMove(const void* source, void* destination, long count);

// Pushes what was written on a volume to its disk; a failure is reported
// (item 9 of list 4100, then the code's own message).
int16_t flushOneVolume(int16_t vRefNum);

constexpr OSType kTempFileMark = FourCC("tmp?");
