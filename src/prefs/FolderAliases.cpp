// Folder aliases kept in the user defaults.
#include "prefs/FolderAliases.h"

#include "host/sys/UserDefaults.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "prefs/PrefStore.h"

std::string AliasKey(int16_t aliasID) { return "AliasHandle " + std::to_string(aliasID); }

OSErr SaveFSSpecAsAliasHandle(const FSRef& ref, int16_t aliasID, bool synchronize) {
  host::AliasRecord alias;
  const OSErr err = host::NewAlias(ref.path, &alias);
  if (err != noErr) {
    platform::LogF("SaveFSSpecAsAliasHandle(FSRef,short) crapped out with error code = [%i]", int(err));
    DisplayNormalMessage("SaveFSSpecAsAliasHandle FAILED???");
    return err;
  }
  std::vector<uint8_t> bytes = alias.Encode();
  if (bytes.empty()) {
    platform::LogLine("SaveFSSpecAsAliasHandle(FSRef,short) => myBuffer is NIL...");
    return memFullErr;
  }
  WriteToMyUserDefaults(host::PlistValue(std::move(bytes)), AliasKey(aliasID), synchronize);
  return noErr;
}

OSErr SaveFSSpecAsAliasHandle(const FSSpec& spec, int16_t aliasID, bool synchronize) {
  FSRef ref;
  const OSErr err = host::FSpMakeFSRef(spec, &ref);
  if (err != noErr) {
    platform::LogF("SaveFSSpecAsAliasHandle: alias id %d names no existing item (error %d)", int(aliasID), int(err));
    return err;
  }
  return SaveFSSpecAsAliasHandle(ref, aliasID, synchronize);
}

OSErr SaveFSSpecAsAliasHandle(const tFolderFSSpec* folder) {
  if (!folder) return paramErr;
  return SaveFSSpecAsAliasHandle(folder->spec, folder->aliasID);
}

std::optional<host::AliasRecord> ReadAliasHandle(int16_t aliasID) {
  const std::string key = AliasKey(aliasID);
  auto value = ReadFromMyUserDefaults(key);
  if (!value) return std::nullopt;
  const host::PlistData* bytes = value->asData();
  host::AliasRecord alias;
  if (!bytes || host::AliasRecord::Decode(bytes->data(), bytes->size(), &alias) != noErr) {
    platform::LogF("The stored alias [%s] is not an alias and was ignored", key.c_str());
    return std::nullopt;
  }
  return alias;
}

bool validateIfAliasHandle(FSSpec* spec, int16_t aliasID) {
  if (!spec) return false;
  auto alias = ReadAliasHandle(aliasID);
  if (!alias) return false;
  std::string path;
  if (host::ResolveAlias(*alias, &path) != noErr) return false;
  FSSpec found;
  if (host::MakeFSSpecFromPath(path, &found) != noErr) return false;
  *spec = found;
  return true;
}

bool validateIfAliasHandle(tFolderFSSpec* folder) {
  if (!folder) return false;
  platform::LogF("my alias handle id = %d", int(folder->aliasID));
  return validateIfAliasHandle(&folder->spec, folder->aliasID);
}
