// Folder aliases in the user defaults: each chosen folder is stored a
// second time, as an alias record under "AliasHandle " and the folder's
// alias id in decimal, so that a folder that was moved or renamed, or whose
// volume came back under another mount point, is found again at start-up.
//
// Alias ids: 4501 print-to-file folder, 4502 print-centre folder, 4506 and
// 4507 spool roots, 4511 to 4518 print-to-file sets 1 to 8, 4529 and 4530
// print to CD, 4566 web upload (constants in prefs/PrefRecords.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/base/MacTypes.h"
#include "host/files/Alias.h"
#include "host/files/FSSpec.h"
#include "prefs/PrefRecords.h"

// "AliasHandle " and the id in decimal.
std::string AliasKey(int16_t aliasID);

// Makes an alias of the item and stores it under the alias key, writing the
// defaults file at once (unless `synchronize` is false: the caller writes
// it with other values). The alias call's result (0 on success); on failure
// the operator is told and nothing is stored.
OSErr SaveFSSpecAsAliasHandle(const FSRef& ref, int16_t aliasID, bool synchronize = true);
// The same for a file specification (a folder in the usual form or in the
// folder convention); nothing is stored when it names no existing item.
OSErr SaveFSSpecAsAliasHandle(const FSSpec& spec, int16_t aliasID, bool synchronize = true);
// The folder of the record under the record's own alias id.
OSErr SaveFSSpecAsAliasHandle(const tFolderFSSpec* folder);

// The stored alias of the id; nothing when the key is absent or its bytes
// are not an alias.
std::optional<host::AliasRecord> ReadAliasHandle(int16_t aliasID);

// Resolves the stored alias of the record's alias id; on success the found
// folder's specification (usual form: parent id and name) replaces the
// record's `spec` and the result is true. False, with the record unchanged,
// when no alias is stored or it does not resolve.
bool validateIfAliasHandle(tFolderFSSpec* folder);
// The same into a file specification, for the given alias id.
bool validateIfAliasHandle(FSSpec* spec, int16_t aliasID);
