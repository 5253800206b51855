// The preference records in the application's user defaults.
//
// Each record that persists is kept under its own key as one data blob of
// the record's length, written field by field through a little-endian
// stream; the print-to-file and print-to-CD records have no blob (only
// their folders persist, as aliases, see prefs/FolderAliases.h).
//
//   "printServerPref"              tPrintServerPrefs         350 bytes
//   "PrintToFileSet 1" ... " 8"    tSpecialPrintToFilePref   982 bytes each
//   "outputFilesPref"              tOutputFilePrefs          260 bytes
//   "KivoPrintCenterPrefs"         tProcessedJobsPrefs       616 bytes
//   "WebUploadPrefs"               tSpecialPrintToFilePref   982 bytes
//   "printToFilePref"              tPrintToFilePrefs         570 bytes
//
// The print-to-file record's blob carries the whole record; only what the
// operator sets in its panel is read back: the two switches (create the
// folder when missing, skip the chroma-key properties). Its format, naming,
// prefix and extension keep their factory values, since printer 17 takes
// them from each job. The folder itself comes back through its alias.
//
// Reading is defensive: a string whose length byte exceeds its field, or a
// blob that ends early, stops that one blob (the fields read before it keep
// their new values); the other blobs still load.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/base/Stream.h"
#include "host/sys/PlistValue.h"
#include "prefs/PrefRecords.h"

namespace host {
class UserDefaults;
}

// User-defaults keys.
inline constexpr const char kPrintServerPrefKey[] = "printServerPref";
inline constexpr const char kOutputFilesPrefKey[] = "outputFilesPref";
inline constexpr const char kPrintCenterPrefsKey[] = "KivoPrintCenterPrefs";
inline constexpr const char kWebUploadPrefsKey[] = "WebUploadPrefs";
inline constexpr const char kPrintToFilePrefKey[] = "printToFilePref";
// "PrintToFileSet " and the set number in decimal.
std::string PrintToFileSetKey(int set);

// The defaults the store works on: the application's standard defaults
// unless another object was installed (a preference import or a test may
// point the store at a file of its own). Null restores the standard ones.
host::UserDefaults& PrefStoreDefaults();
void SetPrefStoreDefaults(host::UserDefaults* defaults);

// The value stored under the key; nothing for an empty key or a missing value.
std::optional<host::PlistValue> ReadFromMyUserDefaults(const std::string& key);
// Stores the value and, with `synchronize`, writes the defaults file at once.
// A value of nothing or an empty key is logged and stores nothing.
void WriteToMyUserDefaults(const std::optional<host::PlistValue>& object, const std::string& key, bool synchronize);
// Writes the defaults file now. False when it could not be written: the
// reason goes to `error` and to the log, where it is written once until a
// write succeeds again (start-up stores a dozen values, each of which would
// otherwise repeat it). The values stay in memory, so the next write that
// succeeds stores them.
bool SynchronizeMyUserDefaults(std::string* error = nullptr);

// Loads every record: factory defaults first, then each stored blob. A
// stored print-server switch that is neither 0 nor 1 is logged, takes its
// factory value and is saved back.
void myNewReadPreferences();

// An import stores values behind the live records, which keep running on
// what they held until they are read again (myNewReadPreferences). Whether
// that happened since they were last read, so that the preferences window
// can show, and OK save, what is stored rather than undo the import.
void NoteStoreChangedBehindTheRecords();
bool StoreChangedBehindTheRecords();
// Stores every record blob and synchronises the defaults once; false (with
// the reason in `error`) when the file could not be written.
bool myNewSavePreferences(std::string* error = nullptr);

// The stream objects: each reads or writes one live record through its
// accessor. ReadFrom throws CException_AC (paramErr for a string longer than
// its field, eofErr for a blob that ends early) with the fields read so far
// kept.
class TPrintServerPrefObject {
 public:
  void ReadFrom(CStream_AC* stream);
  void WriteTo(CStream_AC* stream) const;
};
class TPrintToFileSetObject {
 public:
  void ReadFrom(CStream_AC* stream, int16_t set);
  void WriteTo(CStream_AC* stream, int16_t set) const;
};
class TOutputFilePrefObject {
 public:
  void ReadFrom(CStream_AC* stream);
  void WriteTo(CStream_AC* stream) const;
};
class TProcessedJobObject {
 public:
  void ReadFrom(CStream_AC* stream);
  void WriteTo(CStream_AC* stream) const;
};
class TWebUploadObject {
 public:
  void ReadFrom(CStream_AC* stream);
  void WriteTo(CStream_AC* stream) const;
};
class TPrintToFilePrefObject {
 public:
  // Reads the stored record's switches, format, naming, prefix and
  // extension into the live record.
  void ReadFrom(CStream_AC* stream);
  void WriteTo(CStream_AC* stream) const;
};

// The blob of a live record as myNewSavePreferences stores it (the set
// number 1..8 for PrintToFileSetBlob).
std::vector<uint8_t> PrintServerPrefBlob();
std::vector<uint8_t> PrintToFileSetBlob(int16_t set);
// The blob of `record` stored as set `set` (the live record is not
// changed); empty when there is no such set.
std::vector<uint8_t> PrintToFileSetBlob(const tSpecialPrintToFilePref& record, int16_t set);
std::vector<uint8_t> OutputFilePrefBlob();
std::vector<uint8_t> ProcessedJobsPrefBlob();
std::vector<uint8_t> WebUploadPrefBlob();
std::vector<uint8_t> PrintToFilePrefBlob();
// The blob of a record of its own, as it would be stored (the live record is
// not changed).
std::vector<uint8_t> PrintServerPrefBlobOf(const tPrintServerPrefs& record);
std::vector<uint8_t> OutputFilePrefBlobOf(const tOutputFilePrefs& record);
std::vector<uint8_t> ProcessedJobsPrefBlobOf(const tProcessedJobsPrefs& record);
std::vector<uint8_t> WebUploadPrefBlobOf(const tSpecialPrintToFilePref& record);
std::vector<uint8_t> PrintToFilePrefBlobOf(const tPrintToFilePrefs& record);

// What a stored blob holds, decoded into a record of its own (the live
// records are not changed): nothing when the blob is not exactly the
// record's length or its fields do not read (a string longer than its field).
// The print-to-file blob gives what its reader takes over factory values.
std::optional<tPrintServerPrefs> DecodePrintServerBlob(const host::PlistData& blob);
std::optional<tSpecialPrintToFilePref> DecodePrintToFileSetBlob(const host::PlistData& blob, int16_t set);
std::optional<tOutputFilePrefs> DecodeOutputFileBlob(const host::PlistData& blob);
std::optional<tProcessedJobsPrefs> DecodeProcessedJobsBlob(const host::PlistData& blob);
std::optional<tSpecialPrintToFilePref> DecodeWebUploadBlob(const host::PlistData& blob);
std::optional<tPrintToFilePrefs> DecodePrintToFileBlob(const host::PlistData& blob);

// Copies `length` bytes of `data` as resource (type, id) named `name` into
// the resource fork of `file`, which must be open for writing; a resource of
// that type and id is replaced. The fork reaches the disk when the file is
// closed. A failure throws CException_AC.
class TFile;
void SaveStruct(TFile& file, const void* data, int16_t id, const CStr255_AC& name, long length, ResType type);
