// The preference records: plain fixed-layout records, one live global of each,
// reached through accessors. Each record has one place that knows its stored
// bytes (Encode/Decode below, next to its size constant); in memory the
// fields are ordinary host-order members.
//
// The byte images are what the legacy preference file stores and, for
// tSpecialPrintToFilePref, what every job file embeds (big-endian there).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"
#include "platform/FolderSpecs.h"

// A volume reference or directory id of this value means "no folder chosen".
constexpr int16_t kNoFolderVRefNum = -9999;
constexpr int32_t kNoFolderDirID = -9999;

// Alias ids of the folders (user-defaults key "AliasHandle " + id).
enum : int16_t {
  kPrintToFileAliasID = 4501,
  kProcessedJobsAliasID = 4502,
  kSpoolRootAliasID = 4506,
  kSecondSpoolRootAliasID = 4507,
  kPrintToFileSetAliasBase = 4510,  // set n has 4510 + n
  kPrintToCDAliasID = 4529,
  kPrintToCDSecondAliasID = 4530,
  kWebUploadAliasID = 4566,
};

// Output file formats of the print-to-file records.
enum : int16_t {
  kFormatTIFF = 2,
  kFormatJPEG = 3,
  kFormatPICT = 4,
  kFormatRAW = 5,
  kFormatOwnTIFF = 6,
  kFormatTarga = 7,
  kFormatPhotoshop = 8,
  kFormatPNG = 9,
  kFormatJPEGForWeb = 10,
};

// True for a format a print-to-file route writes (2 to 10).
constexpr bool IsWrittenFileFormat(int16_t format) { return format >= kFormatTIFF && format <= kFormatJPEGForWeb; }

// Length-prefixed string of at most 8 characters (9 bytes, padded to 10 in
// records).
using CStr8_AC = TemplatePascalStr<9>;

// Byte order of a stored record image.
enum class RecordByteOrder { kBigEndian, kLittleEndian };

// A chosen output folder. 362 bytes.
struct tFolderFSSpec {
  FSSpec spec{};
  CStr31_AC volumeName;
  int16_t aliasID = 0;
  int16_t createIfMissing = 0;
  int16_t reserved106 = 0;
  CStr31_AC reserved108;
  std::array<uint8_t, 222> reserved140{};
  friend bool operator==(const tFolderFSSpec&, const tFolderFSSpec&) = default;
};

// The spool folder tree and the general switches. 350 bytes.
struct tPrintServerPrefs {
  int16_t rootVRefNum = 0;
  int32_t rootDirID = 0;
  int16_t imagesVRefNum = 0;
  int32_t imagesDirID = 0;
  int16_t jobsVRefNum = 0;
  int32_t jobsDirID = 0;
  int16_t finishedVRefNum = 0;
  int32_t finishedDirID = 0;
  int16_t unknownVRefNum = 0;
  int32_t unknownDirID = 0;
  int16_t enableBackground = 0;
  int16_t databaseVRefNum = 0;
  int32_t databaseDirID = 0;
  int16_t reserved38 = 0;
  int16_t autoStart = 0;
  int16_t createRootIfMissing = 0;
  CStr63_AC reserved44;
  tmyFSSpec rootSpec;
  int16_t blckSwitch = 0;
  int16_t reserved212 = 0;
  int16_t keepJobFiles = 0;
  int16_t dualSwitch = 0;
  int16_t fullRescan = 0;
  int16_t hideImage = 0;
  int16_t askOnFailedJob = 0;
  int16_t t3amSwitch = 0;
  tmyFSSpec secondRootSpec;
  int16_t secondRootVRefNum = 0;
  int32_t secondRootDirID = 0;
  int16_t reserved334 = 0;
  int16_t reserved336 = 0;
  std::array<uint8_t, 12> reserved338{};
  friend bool operator==(const tPrintServerPrefs&, const tPrintServerPrefs&) = default;
};

// One print-to-file set, the web-upload settings, and the print-to-file
// block of every job file. 982 bytes.
struct tSpecialPrintToFilePref {
  tFolderFSSpec folder;
  int16_t hasYearbookRecords = 0;
  CStr31_AC yearbookFolderName;
  int16_t reserved396 = 0;
  int16_t orientation = 0;       // 1 landscape, 2 portrait
  int16_t rotation = 0;
  int16_t fileFormat = 0;
  CStr63_AC baseName;
  CStr31_AC extension;
  int16_t forceOrientation = 0;
  int16_t namingType = 0;
  int16_t yearbookNaming = 0;
  std::array<int16_t, 4> yearbookFields{};
  std::array<CStr8_AC, 4> yearbookSeparators;
  int16_t skipCKProperties = 0;
  CStr63_AC subFolderName;
  CStr63_AC groupFolderName;
  int16_t createJpegForWeb = 0;
  int16_t maxSize = 0;
  int16_t doNotResizeJpegForWeb = 0;
  int16_t ftpSite = 0;
  int16_t doNotResizePng = 0;
  int16_t overwrite = 0;
  CStr255_AC editText;
  std::array<int16_t, 3> alsoCopyToSet{};
  std::array<uint8_t, 24> reserved958{};
  friend bool operator==(const tSpecialPrintToFilePref&, const tSpecialPrintToFilePref&) = default;
};

// The single print-to-file route (printer code 17). 570 bytes.
struct tPrintToFilePrefs {
  tFolderFSSpec folder;
  int16_t orientation = 0;
  int16_t rotation = 0;
  int16_t fileFormat = 0;
  CStr31_AC baseName;
  CStr31_AC extension;
  int16_t reserved432 = 0;
  int16_t reserved434 = 0;
  int16_t namingType = 0;
  int16_t reserved438 = 0;
  int16_t skipCKProperties = 0;
  std::array<uint8_t, 128> reserved442{};
  friend bool operator==(const tPrintToFilePrefs&, const tPrintToFilePrefs&) = default;
};

// The hand-off to the print-centre application. 616 bytes.
struct tProcessedJobsPrefs {
  tFolderFSSpec folder;
  int16_t useNewHandOff = 0;
  std::array<uint8_t, 252> reserved364{};
  friend bool operator==(const tProcessedJobsPrefs&, const tProcessedJobsPrefs&) = default;
};

// A print-to-CD folder set. 1,086 bytes.
struct tPrintToCDPref {
  tFolderFSSpec folder;
  int16_t orientation = 0;
  int16_t rotation = 0;
  int16_t fileFormat = 0;
  CStr63_AC baseName;
  CStr31_AC extension;
  uint8_t reserved464 = 0;
  int16_t namingType = 0;
  tFolderFSSpec secondFolder;
  std::array<uint8_t, 256> reserved830{};
  friend bool operator==(const tPrintToCDPref&, const tPrintToCDPref&) = default;
};

// The "Output Files" settings. 260 bytes.
struct tOutputFilePrefs {
  int16_t jpegQuality = 0;
  int16_t secondQuality = 0;
  std::array<uint8_t, 256> reserved4{};
  friend bool operator==(const tOutputFilePrefs&, const tOutputFilePrefs&) = default;
};

// Records kept from the stations' common preference set. Each has one global
// made at program load, which holds zeros and empty strings for the life of
// the program: neither the store nor any panel nor any route reads or writes
// them, and none is stored.

// 216 bytes: 12 reserved bytes, then two folder locations.
struct tSittingDirectoryStruct {
  std::array<uint8_t, 12> reserved0{};
  tmyFSSpec first;
  tmyFSSpec second;
  friend bool operator==(const tSittingDirectoryStruct&, const tSittingDirectoryStruct&) = default;
};

// 32 bytes: one Str31.
struct tNTServerPrefs {
  CStr31_AC serverName;
  friend bool operator==(const tNTServerPrefs&, const tNTServerPrefs&) = default;
};

// 38 bytes: 6 reserved bytes, then one Str31.
struct tStartupPrefs {
  std::array<uint8_t, 6> reserved0{};
  CStr31_AC name;
  friend bool operator==(const tStartupPrefs&, const tStartupPrefs&) = default;
};

// 794 bytes: 6 reserved bytes, two folders, one Str63.
struct tDornsStartupPrefs {
  std::array<uint8_t, 6> reserved0{};
  tFolderFSSpec first;
  tFolderFSSpec second;
  CStr63_AC name;
  friend bool operator==(const tDornsStartupPrefs&, const tDornsStartupPrefs&) = default;
};

// 12 bytes: 8 reserved bytes, then a point (vertical, horizontal).
struct tOutputPrefStruct {
  std::array<uint8_t, 8> reserved0{};
  int16_t v = 0;
  int16_t h = 0;
  friend bool operator==(const tOutputPrefStruct&, const tOutputPrefStruct&) = default;
};

extern tSpecialPrintToFilePref mySpecialPrintToFilePref;
extern tSittingDirectoryStruct gSittingDirectoryPrefs;
extern tNTServerPrefs gNTServerPrefs;
extern tStartupPrefs gStartupPrefs;
extern tDornsStartupPrefs gDornsStartupPrefs;
extern tOutputPrefStruct gOutputPrefs;

// Eight raw print-to-file set entries of 5,586 bytes, zeros from load, one
// per set printer code: 25 to 28 are entries 0 to 3, 49 to 52 entries 4 to 7.
constexpr size_t kPrint2FileSetEntrySize = 5586;
using tPrint2FileSetEntry = std::array<uint8_t, kPrint2FileSetEntrySize>;
extern std::array<tPrint2FileSetEntry, 8> gPrint2FileSetPref;
// The entry of a set printer code; null for any other code.
tPrint2FileSetEntry* getMyPrint2FileSetPref(int16_t printer);
// The printer code of set 1..8 (25, 26, 27, 28, 49, 50, 51, 52); 0 for
// another number.
int16_t PrinterCodeOfPrintToFileSet(int16_t set);

// Stored sizes.
constexpr size_t kFSSpecStoredSize = 70;
constexpr size_t kMyFSSpecSize = 102;
constexpr size_t kFolderFSSpecSize = 362;
constexpr size_t kPrintServerPrefsSize = 350;
constexpr size_t kSpecialPrintToFilePrefSize = 982;
constexpr size_t kPrintToFilePrefsSize = 570;
constexpr size_t kProcessedJobsPrefsSize = 616;
constexpr size_t kPrintToCDPrefSize = 1086;
constexpr size_t kOutputFilePrefsSize = 260;

// Field-by-field encoding into exactly k...Size bytes at `out`, and decoding
// from exactly that many bytes at `in`. Strings whose length byte claims more
// than their capacity are read as the capacity.
void EncodeFSSpec(const FSSpec& v, uint8_t* out, RecordByteOrder order);
void DecodeFSSpec(const uint8_t* in, FSSpec& v, RecordByteOrder order);
void EncodeMyFSSpec(const tmyFSSpec& v, uint8_t* out, RecordByteOrder order);
void DecodeMyFSSpec(const uint8_t* in, tmyFSSpec& v, RecordByteOrder order);
void EncodeFolderFSSpec(const tFolderFSSpec& v, uint8_t* out, RecordByteOrder order);
void DecodeFolderFSSpec(const uint8_t* in, tFolderFSSpec& v, RecordByteOrder order);
void EncodePrintServerPrefs(const tPrintServerPrefs& v, uint8_t* out, RecordByteOrder order);
void DecodePrintServerPrefs(const uint8_t* in, tPrintServerPrefs& v, RecordByteOrder order);
void EncodeSpecialPrintToFilePref(const tSpecialPrintToFilePref& v, uint8_t* out, RecordByteOrder order);
void DecodeSpecialPrintToFilePref(const uint8_t* in, tSpecialPrintToFilePref& v, RecordByteOrder order);
void EncodePrintToFilePrefs(const tPrintToFilePrefs& v, uint8_t* out, RecordByteOrder order);
void DecodePrintToFilePrefs(const uint8_t* in, tPrintToFilePrefs& v, RecordByteOrder order);
void EncodeProcessedJobsPrefs(const tProcessedJobsPrefs& v, uint8_t* out, RecordByteOrder order);
void DecodeProcessedJobsPrefs(const uint8_t* in, tProcessedJobsPrefs& v, RecordByteOrder order);
void EncodePrintToCDPref(const tPrintToCDPref& v, uint8_t* out, RecordByteOrder order);
void DecodePrintToCDPref(const uint8_t* in, tPrintToCDPref& v, RecordByteOrder order);
void EncodeOutputFilePrefs(const tOutputFilePrefs& v, uint8_t* out, RecordByteOrder order);
void DecodeOutputFilePrefs(const uint8_t* in, tOutputFilePrefs& v, RecordByteOrder order);

// ---- live records ----

tPrintServerPrefs* getMyPrintServerPrefs();
tPrintToFilePrefs* getMyPrintToFilePrefs();
// Set n = 1..8; any other n gives null.
tSpecialPrintToFilePref* getMyPrintToFileSetPrefs(int16_t n);
std::array<tSpecialPrintToFilePref, 8>* getMyPrintToFileSetPrefsAll();
tProcessedJobsPrefs* getMyProcessedJobsPrefs();
tPrintToCDPref* getMyPrintToCDSetPrefs();
tOutputFilePrefs* getMyOutputFilePrefs();
tSpecialPrintToFilePref* getMyWebUploadPrefs();
// Extension used by the save-as chooser for types of 1 or less.
CStr255_AC* getMyOriginalExtension();

// ---- factory defaults (true when done; a null record changes nothing) ----

bool setMyPrintServerPrefToFactoryDefaults(tPrintServerPrefs* p);
bool setMyPrintToFilePrefToFactoryDefaults(tPrintToFilePrefs* p);
bool setMyPrintToFileSetPrefsToFactoryDefaults(tSpecialPrintToFilePref* p, int16_t set);
bool setMyProcessedJobsPrefToFactoryDefaults(tProcessedJobsPrefs* p);
bool setMyPrintToCDSetPrefsToFactoryDefaults(tPrintToCDPref* p);
bool setMyOutputFilePrefToFactoryDefaults(tOutputFilePrefs* p);
bool setMyWebUploadPrefsToFactoryDefaults(tSpecialPrintToFilePref* p);
void setAllPrintToFileSetPrefsToFactoryDefault();
void mySetAllDefaults();

// ---- validation (repairs in place; a null record is left alone) ----

// A set's or the web-upload record's format that no route writes becomes
// JPEG (sets) or JPEG for the web; validateAllPrintToFileSetPrefs and
// validateWebUploadPrefs log each value they change.
void validatePrintServerPrefs(tPrintServerPrefs* p);
void validatePrintToFileSetPrefs(tSpecialPrintToFilePref* p);
void validateAllPrintToFileSetPrefs();
void validateWebUploadPrefs(tSpecialPrintToFilePref* p);

// A switch (0 off, 1 on) of a stored record: its field name and the field.
// Stored records are checked against these lists when read and when
// imported, so both agree on what a switch is.
template <class Record>
struct tRecordSwitch {
  const char* name;
  int16_t& (*field)(Record&);
};
std::span<const tRecordSwitch<tPrintServerPrefs>> PrintServerSwitches();
// The switches a print-to-file set shares with the web-upload record.
std::span<const tRecordSwitch<tSpecialPrintToFilePref>> SpecialPrintToFileSwitches();
// The switches only a print-to-file set gives a meaning.
std::span<const tRecordSwitch<tSpecialPrintToFilePref>> PrintToFileSetSwitches();
std::span<const tRecordSwitch<tProcessedJobsPrefs>> ProcessedJobsSwitches();
std::span<const tRecordSwitch<tPrintToFilePrefs>> PrintToFileSwitches();

// A switch repaired by one of the Repair...Switches calls: its name, the
// value found and the value put in its place.
struct tRepairedSwitch {
  const char* name;
  int16_t found;
  int16_t repaired;
};
// Each puts every switch of its record that is neither 0 nor 1 back to the
// record's factory value and returns what was repaired. `keepJobFiles` goes
// to 1, as validatePrintServerPrefs does: keeping a job's files loses
// nothing. A set's `overwrite` goes to its factory 0, which never replaces a
// file already written.
std::vector<tRepairedSwitch> RepairPrintServerSwitches(tPrintServerPrefs* p);
std::vector<tRepairedSwitch> RepairPrintToFileSetSwitches(tSpecialPrintToFilePref* p, int16_t set);
std::vector<tRepairedSwitch> RepairWebUploadSwitches(tSpecialPrintToFilePref* p);
std::vector<tRepairedSwitch> RepairProcessedJobsSwitches(tProcessedJobsPrefs* p);
std::vector<tRepairedSwitch> RepairPrintToFileSwitches(tPrintToFilePrefs* p);

// The extension of a file format (".jpg", ".tif", ...; ".???" for others).
CStr255_AC getExtensionFromFileType(int16_t format);

// Connects the event-polling switch to `enableBackground` of the live
// print-server record.
void connectPollingToPrintServerPrefs();
