// Free names in a folder for files about to be written, and renaming.
// Each works on the folder of a file specification; candidates are tested
// against the folder's real (UTF-8) names, and a name that an FSSpec cannot
// hold (too long, or without a faithful Mac Roman form) is given to it as the
// file table's stand-in, so the specification still names that file.
#pragma once

#include <cstdint>

#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"

// Numbered names base_0001.ext (63 characters) from `counter` upward; the
// counter is left at the number of the name returned, which is also put into
// spec.name.
CStr255_AC getUniqueNameBexel(const CStr255_AC& base, int32_t& counter, const CStr255_AC& ext, FSSpec& spec);
CStr255_AC getUniqueName(const CStr255_AC& base, int32_t& counter, const CStr255_AC& ext, FSSpec& spec);
// The same in the 31-character form with the given number width.
CStr255_AC getUniqueNameForPrintToFile(const CStr255_AC& base, int32_t& counter, const CStr255_AC& ext,
                                       int16_t width, FSSpec& spec);
// `spec` names a written file: renames it to the first free numbered name
// (63 characters); `spec` follows the file. The file keeps its name when no
// name is free.
CStr255_AC getUniqueNameForPrintToFileNew(const CStr255_AC& base, int32_t& counter, const CStr255_AC& ext,
                                          int16_t width, FSSpec& spec);

// " copy" names (63 characters) for a wanted file; spec.name is replaced.
void getUniqueNameWithCopyBeforeExtension(FSSpec& spec);
void getUniqueNameWithCopy(FSSpec& spec);
// The long-name " copy" form (no cutting).
void getUniqueNameWithCopyBeforeExtForLongNames(FSSpec& spec);
// base+ext, base " copy"+ext, base " copy N"+ext in folder `parent`: 0 with
// the free name in `result`, or -1 (after a message).
OSErr newGetUniqueNameWithCopy(const FSRef* parent, const CStr255_AC& base, const CStr255_AC& ext,
                               CStr255_AC& result);
// The same in the folder of the item `spec` names; spec.name gets the name.
OSErr newGetUniqueNameWithCopy(FSSpec* spec, const CStr255_AC& base, const CStr255_AC& ext);

// Renames without replacing (dupFNErr when the name is taken); on success
// the reference or specification names the renamed item.
OSErr newFSpRename(FSRef* ref, const char* newName);
OSErr newFSpRename(FSSpec* spec, const char* newName);
OSErr convertFSRefToFSSpec(const FSRef* ref, FSSpec* spec);
