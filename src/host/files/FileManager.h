// File Manager calls on file specifications, over the path operations of
// FileOps.h: create, create a folder, delete, rename, move to another
// folder, Finder information and volume flushing. Results are 16-bit codes.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/base/MacTypes.h"
#include "host/files/FSSpec.h"
#include "host/files/FinderInfo.h"

namespace host {

// 0666 less the process umask: the mode of files made without a mode of their own.
uint32_t DefaultFileMode();

// Creates an empty file with the type and creator; dupFNErr when the name exists.
OSErr FSpCreate(const FSSpec& spec, OSType creator, OSType type, uint32_t mode = DefaultFileMode());
// Creates a folder with exactly `mode`; its id goes to `newDirID` when given.
OSErr FSpDirCreate(const FSSpec& spec, uint32_t mode, int32_t* newDirID = nullptr);
// Deletes a file (with its resource fork) or an empty folder.
OSErr FSpDelete(const FSSpec& spec);
// Gives an item a new name in its folder, never replacing (dupFNErr).
OSErr FSpRename(const FSSpec& spec, std::string_view newMacRomanName);
// Moves an item into another folder under the same name, never replacing.
OSErr FSpCatMove(const FSSpec& spec, int16_t destVRefNum, int32_t destDirID);
OSErr FSpGetFInfo(const FSSpec& spec, FinderInfo* info);
OSErr FSpSetFInfo(const FSSpec& spec, const FinderInfo& info);
// Pushes everything written on a volume to its disk.
OSErr FlushVolume(int16_t vRefNum);

}  // namespace host
