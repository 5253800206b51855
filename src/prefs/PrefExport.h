// Export and import of the stored preferences: menu command 1008 copies the
// user-defaults keys of the preference blobs and folder aliases into a
// property-list file, command 1009 copies such a file back into the user
// defaults, after which the program offers to quit so that the next launch
// reads them.
//
// Folder aliases travel as places: a folder beneath the exporting station's
// application folder becomes the same place beneath the importing
// station's, and a folder that does not exist on the importing station is
// not taken (that folder stays the station's own, and the report says why).
//
// The file holds one dictionary, "Kivo-Processor v14 Prefs Dictionary",
// with the stored values unchanged (data) and, beside each record's blob,
// every value the preferences window offers as a readable key of its own
// (prefs/ReadablePrefs.h), which an operator without a display edits. On
// import every key of it is checked before it is stored: its name must be
// one of the keys this program keeps, its value data of the record's exact
// length whose fields read and lie in their ranges (aliases must read as
// aliases), or a readable setting of the right type and range, which goes
// into its record and wins over the blob. What fails is not stored and is
// named in the report; everything else in the store stays as it was. An
// export of an earlier version (blobs alone) imports as before. The
// start-at-login switch "prefEnableRelaunch" is never taken from a file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/base/PascalString.h"
#include "host/sys/PlistValue.h"

inline constexpr const char kPrefsDictionaryName[] = "Kivo-Processor v14 Prefs Dictionary";
// The exporting station's application folder, written beside its folder
// aliases: on import a folder beneath it becomes the same place beneath
// the importing station's application folder. Never stored.
inline constexpr const char kExportingApplicationFolderKey[] = "Exported From Application Folder";

// The file's top dictionary from the stored values: every exported key that
// has a value. Nothing when the store is unavailable.
std::optional<host::PlistDict> CopyUserPreferencesToDictionary();
// Writes the dictionary to `path` atomically and gives the file the
// application's creator code. False (logged) when nothing was written.
bool SaveToNewPreferencesFile(const std::filesystem::path& path);
// The export command: asks where to save, writes the file and tells the
// operator where it went, or that it could not be written. False when
// nothing was written (also on cancel).
bool SaveToNewPreferencesFile();

struct PrefImportReport {
  // The stored keys the import writes (a record changed by readable
  // settings alone is among them).
  std::vector<std::string> applied;
  // Key and why it was not imported.
  std::vector<std::pair<std::string, std::string>> refused;
  // Why the file is not a preference export (cannot be read, not a property
  // list, too large or too deep, no "Kivo-Processor v14 Prefs Dictionary");
  // empty when it is one, or no file was chosen.
  std::string notAnExport;
  // The folders whose stored location the import changes: what the folder
  // is ("the spool folder") and where it now is.
  std::vector<std::pair<std::string, std::string>> movedFolders;
  // The folders that stay this station's own: those whose place the file
  // does not name (an export of an earlier version, or of a station that
  // never made them), and those it names where this station has no folder.
  struct KeptFolder {
    std::string folder;  // what the folder is
    std::string path;    // where this station has it; empty: where it makes it at its next start
    std::string why;     // why the file's place was not taken
    // "stays /path (why)".
    std::string Text() const;
  };
  std::vector<KeptFolder> keptFolders;
  // The refused keys as one text for the operator (empty when none).
  std::string RefusedText() const;
  // The refused keys and the moved and kept folders, one per line, for the alert's
  // details (empty when there are neither).
  std::string DetailsText() const;
};

// Why a value may not be stored under `key`; nothing when it may.
std::optional<std::string> CheckImportedPreference(const std::string& key, const host::PlistValue& value);

// Stores the dictionary's value for `key` when the store has none or `force`.
bool CopyToUserDefaultsObjectForKey(const host::PlistDict& dictionary, const std::string& key, bool force);
// Every key of the dictionary, then the store is written. True.
bool CopyToUserDefaultsObjectForAllKeys(const host::PlistDict& dictionary, bool force);

// Imports one file: true when its dictionary was found and at least the
// keys that passed the checks were stored (an empty dictionary imports
// nothing and is still true); false when the file or its dictionary cannot
// be read, or when every key in it was refused.
bool LoadFromNewPreferencesFile2(const std::filesystem::path& path, bool force, PrefImportReport* report = nullptr);
// The import command: asks for the file and imports it with force.
bool LoadFromNewPreferencesFile(PrefImportReport* report = nullptr);
// The import command with what the operator is told: after an import,
// alert 1025 (which says when folders move; the refused keys and the moved
// folders are listed whole in its details); a message when the file is not
// a preference export or every key in it was refused; nothing on cancel.
// True when the operator answered the alert's first item (quit at once).
bool ImportPreferencesAndTell();

// Where export proposes to save and import starts looking: the preferences
// folder beside the application.
std::filesystem::path PreferenceFilesFolder();
// The proposed file name of an export made now ("Kivo-Processor 1.0 On 2026-12-09").
std::string ProposedPreferenceFileName();
