// File and folder operations on paths, with the guarantees the program
// relies on: creating never overwrites, files are written to a temporary
// name and renamed into place, and a move across file systems copies,
// syncs and renames before the source is removed (a source that was not
// completely copied is never deleted). A file's AppleDouble sidecar (its
// resource fork) travels with it on moves, copies, renames and deletes.
// All results are 16-bit result codes; nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "host/base/MacTypes.h"

namespace host {

// New files and folders get the permission bits asked for less the
// process's umask, never more: a shop whose stations run as other users
// opens the folders to them with a group and umask 002, and nothing is made
// writable for everyone behind the umask's back.
uint32_t ProcessUmask();

// Creates an empty file with the permission bits `mode` less the umask;
// dupFNErr when the name exists.
OSErr CreateFileExclusive(const std::string& path, uint32_t mode);
// Creates a folder with `mode` less the umask; dupFNErr when the name exists.
OSErr CreateFolder(const std::string& path, uint32_t mode);

// Writes `size` bytes to a new file staged in the target's folder (unnamed
// where the file system allows, see StagedFile.h), syncs it and puts it at
// `path`; with `replace` false an existing file is not touched and the
// result is dupFNErr. Nothing is left behind on failure. The file gets
// `mode` less the umask.
OSErr WriteFileAtomically(const std::string& path, const void* data, size_t size, uint32_t mode,
                          bool replace = true);
// The first half of WriteFileAtomically: writes and syncs the bytes in a
// new file of its own beside `path`, created exclusively under an
// unpredictable name ("." + name + ".kivo-" and eight random hexadecimal
// digits), and says its path in `temp`. The caller renames it into place
// (or removes it).
OSErr StageFileBeside(const std::string& path, const void* data, size_t size, uint32_t mode, std::string* temp);
// Reads a whole file; memFullErr when it is larger than `maxSize`.
OSErr ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes,
                    size_t maxSize = size_t(1) << 30);
// The same two with the reason in words for messages (`error`, for example
// "cannot open "<path>": No such file or directory"); the write always
// replaces an existing file.
bool ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>* bytes, std::string* error);
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes, uint32_t mode,
                         std::string* error);

// Closes an open file by its reference number, which is its descriptor.
// rfNumErr for a number that is no open file or is one of the standard
// streams (nothing is closed then); ioErr when the close itself failed.
OSErr FSClose(int16_t refNum);

// Every call below takes paths; a path at or below a held folder
// (HeldFolders.h) is reached from that folder's descriptor, never through a
// link: a folder on the way that is a link makes the call fail (ELOOP's
// result code, a line on standard error), and nothing outside is touched.
//
// Renames without replacing (dupFNErr when `to` exists).
OSErr RenameNoReplace(const std::string& from, const std::string& to);
// Moves a file or folder to `to`, never replacing. Across file systems a
// file is copied into a file staged beside `to` (see CopyFile), synced, put in place
// and only then is the source removed; a folder gives diffVolErr there.
OSErr MoveItem(const std::string& from, const std::string& to);
// The same, replacing a file at `to` when `replace` (a folder never replaces).
OSErr MoveItem(const std::string& from, const std::string& to, bool replace);
// Copies a file's data (and its Finder information and sidecar) to `to`
// through a synced file staged beside it (see StagedFile.h), which has no
// name a folder listing shows until it is complete; with `replace` false an
// existing `to` gives dupFNErr.
OSErr CopyFile(const std::string& from, const std::string& to, bool replace);
// Copies the regular file open on `fd` (read from its start) to `to` as
// CopyFile does its data: through a synced temporary file, never replacing
// an existing `to` unless `replace`.
OSErr CopyFromDescriptor(int fd, const std::string& to, bool replace);
// Whether two paths reach the same existing item (links and other spellings
// of one path included).
bool SameItem(const std::string& a, const std::string& b);
// Deletes a file (and its sidecar) or an empty folder (fBsyErr when not empty).
OSErr DeleteItem(const std::string& path);

// Permission bits.
OSErr GetMode(const std::string& path, uint32_t* mode);
OSErr SetMode(const std::string& path, uint32_t mode);

// Syncs a folder so that renames inside it are durable.
void SyncFolder(const std::string& folderPath);

}  // namespace host
