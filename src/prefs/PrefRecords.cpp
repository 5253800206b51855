// The live preference records, their factory defaults and their repair rules.
#include "prefs/PrefRecords.h"

#include "platform/Choosers.h"
#include "platform/Log.h"
#include "platform/Polling.h"

namespace {

tPrintServerPrefs gPrintServerPrefs;
tPrintToFilePrefs gPrintToFilePrefs;
std::array<tSpecialPrintToFilePref, 8> gPrintToFileSetPrefs;
tProcessedJobsPrefs gProcessedJobsPrefs;
tPrintToCDPref gPrintToCDSetPrefs;
tOutputFilePrefs gOutputFilePrefs;
tSpecialPrintToFilePref gWebUploadPrefs;


// A folder that is not chosen yet, with its alias id, to be created beside
// the application when missing.
void SetNoFolder(tFolderFSSpec& folder, int16_t aliasID) {
  folder.spec.vRefNum = kNoFolderVRefNum;
  folder.spec.parID = kNoFolderDirID;
  folder.spec.name = CStr63_AC();
  folder.volumeName = CStr31_AC();
  folder.aliasID = aliasID;
  folder.createIfMissing = 1;
}

void SetNoMyFSSpec(tmyFSSpec& spec) {
  spec.spec.vRefNum = kNoFolderVRefNum;
  spec.spec.parID = 0;
  spec.spec.name = CStr63_AC();
  spec.volumeName = CStr31_AC();
}

// The values a set and the web-upload record share.
void SetSpecialDefaults(tSpecialPrintToFilePref& p, int16_t aliasID, int16_t format) {
  p = tSpecialPrintToFilePref{};
  SetNoFolder(p.folder, aliasID);
  p.orientation = 1;
  p.rotation = 2;
  p.fileFormat = format;
  p.baseName = "Print";
  p.extension = ".jpg";
  p.namingType = 3;
}

}  // namespace

tSpecialPrintToFilePref mySpecialPrintToFilePref;
tSittingDirectoryStruct gSittingDirectoryPrefs;
tNTServerPrefs gNTServerPrefs;
tStartupPrefs gStartupPrefs;
tDornsStartupPrefs gDornsStartupPrefs;
tOutputPrefStruct gOutputPrefs;
std::array<tPrint2FileSetEntry, 8> gPrint2FileSetPref{};

tPrint2FileSetEntry* getMyPrint2FileSetPref(int16_t printer) {
  if (printer >= 25 && printer <= 28) return &gPrint2FileSetPref[size_t(printer - 25)];
  if (printer >= 49 && printer <= 52) return &gPrint2FileSetPref[size_t(printer - 49 + 4)];
  return nullptr;
}

int16_t PrinterCodeOfPrintToFileSet(int16_t set) {
  if (set >= 1 && set <= 4) return int16_t(24 + set);
  if (set >= 5 && set <= 8) return int16_t(44 + set);
  return 0;
}

tPrintServerPrefs* getMyPrintServerPrefs() { return &gPrintServerPrefs; }
tPrintToFilePrefs* getMyPrintToFilePrefs() { return &gPrintToFilePrefs; }
tSpecialPrintToFilePref* getMyPrintToFileSetPrefs(int16_t n) {
  if (n < 1 || n > 8) return nullptr;
  return &gPrintToFileSetPrefs[static_cast<size_t>(n - 1)];
}
std::array<tSpecialPrintToFilePref, 8>* getMyPrintToFileSetPrefsAll() { return &gPrintToFileSetPrefs; }
tProcessedJobsPrefs* getMyProcessedJobsPrefs() { return &gProcessedJobsPrefs; }
tPrintToCDPref* getMyPrintToCDSetPrefs() { return &gPrintToCDSetPrefs; }
tOutputFilePrefs* getMyOutputFilePrefs() { return &gOutputFilePrefs; }
tSpecialPrintToFilePref* getMyWebUploadPrefs() { return &gWebUploadPrefs; }
CStr255_AC* getMyOriginalExtension() { return &gOriginalExtension; }

bool setMyPrintServerPrefToFactoryDefaults(tPrintServerPrefs* p) {
  if (!p) return false;
  // Every field is assigned; the folder pairs get directory id 0.
  p->rootVRefNum = kNoFolderVRefNum;
  p->rootDirID = 0;
  p->imagesVRefNum = kNoFolderVRefNum;
  p->imagesDirID = 0;
  p->jobsVRefNum = kNoFolderVRefNum;
  p->jobsDirID = 0;
  p->finishedVRefNum = kNoFolderVRefNum;
  p->finishedDirID = 0;
  p->unknownVRefNum = kNoFolderVRefNum;
  p->unknownDirID = 0;
  p->enableBackground = 1;
  p->databaseVRefNum = kNoFolderVRefNum;
  p->databaseDirID = 0;
  p->reserved38 = 1;
  p->autoStart = 1;
  p->createRootIfMissing = 1;
  p->reserved44 = CStr63_AC();
  SetNoMyFSSpec(p->rootSpec);
  p->blckSwitch = 0;
  p->reserved212 = 5;
  p->keepJobFiles = 0;
  p->dualSwitch = 0;
  p->fullRescan = 1;
  p->hideImage = 0;
  p->askOnFailedJob = 0;
  p->t3amSwitch = 0;
  SetNoMyFSSpec(p->secondRootSpec);
  p->secondRootVRefNum = kNoFolderVRefNum;
  p->secondRootDirID = 0;
  p->reserved334 = 1;
  p->reserved336 = 0;
  p->reserved338.fill(0);
  return true;
}

bool setMyPrintToFilePrefToFactoryDefaults(tPrintToFilePrefs* p) {
  if (!p) return false;
  *p = tPrintToFilePrefs{};
  SetNoFolder(p->folder, kPrintToFileAliasID);
  p->orientation = 1;
  p->rotation = 2;
  p->fileFormat = kFormatJPEG;
  p->baseName = "Print";
  p->extension = ".jpg";
  p->namingType = 1;
  return true;
}

bool setMyPrintToFileSetPrefsToFactoryDefaults(tSpecialPrintToFilePref* p, int16_t set) {
  if (!p) return false;
  SetSpecialDefaults(*p, static_cast<int16_t>(kPrintToFileSetAliasBase + set), kFormatJPEG);
  p->maxSize = 640;
  p->ftpSite = 1;
  return true;
}

bool setMyProcessedJobsPrefToFactoryDefaults(tProcessedJobsPrefs* p) {
  if (!p) return false;
  *p = tProcessedJobsPrefs{};
  SetNoFolder(p->folder, kProcessedJobsAliasID);
  return true;
}

bool setMyPrintToCDSetPrefsToFactoryDefaults(tPrintToCDPref* p) {
  if (!p) return false;
  *p = tPrintToCDPref{};
  SetNoFolder(p->folder, kPrintToCDAliasID);
  p->orientation = 1;
  p->rotation = 2;
  p->fileFormat = kFormatJPEG;
  p->baseName = "Print";
  p->extension = ".jpg";
  p->namingType = 3;
  SetNoFolder(p->secondFolder, kPrintToCDSecondAliasID);
  return true;
}

bool setMyOutputFilePrefToFactoryDefaults(tOutputFilePrefs* p) {
  if (!p) return false;
  *p = tOutputFilePrefs{};
  p->jpegQuality = 50;
  p->secondQuality = 75;
  return true;
}

bool setMyWebUploadPrefsToFactoryDefaults(tSpecialPrintToFilePref* p) {
  if (!p) return false;
  // As a set, but its own folder and the web format; size and site stay 0.
  SetSpecialDefaults(*p, kWebUploadAliasID, kFormatJPEGForWeb);
  return true;
}

void setAllPrintToFileSetPrefsToFactoryDefault() {
  for (int16_t n = 1; n <= 8; ++n) setMyPrintToFileSetPrefsToFactoryDefaults(getMyPrintToFileSetPrefs(n), n);
}

void mySetAllDefaults() {
  setMyPrintServerPrefToFactoryDefaults(&gPrintServerPrefs);
  setMyPrintToFilePrefToFactoryDefaults(&gPrintToFilePrefs);
  setMyProcessedJobsPrefToFactoryDefaults(&gProcessedJobsPrefs);
  setAllPrintToFileSetPrefsToFactoryDefault();
  setMyPrintToCDSetPrefsToFactoryDefaults(&gPrintToCDSetPrefs);
  setMyOutputFilePrefToFactoryDefaults(&gOutputFilePrefs);
  setMyWebUploadPrefsToFactoryDefaults(&gWebUploadPrefs);
}

void validatePrintServerPrefs(tPrintServerPrefs* p) {
  if (!p) return;
  if (p->keepJobFiles != 0 && p->keepJobFiles != 1) p->keepJobFiles = 1;
  p->t3amSwitch = 0;
}

void validatePrintToFileSetPrefs(tSpecialPrintToFilePref* p) {
  if (!p) return;
  // Every job of a set whose format no route writes would fail.
  if (!IsWrittenFileFormat(p->fileFormat)) p->fileFormat = kFormatJPEG;
  if (p->maxSize <= 0) p->maxSize = 640;
  if (p->ftpSite == 0) p->ftpSite = 1;
}

namespace {

// Logs each value validation changed in the record `what`.
void LogRepairs(const char* what, const tSpecialPrintToFilePref& before, const tSpecialPrintToFilePref& after) {
  auto log = [what](const char* field, int before, int after) {
    if (before != after)
      platform::LogF("%s: %s %d is not usable and was changed to %d", what, field, before, after);
  };
  log("file format", before.fileFormat, after.fileFormat);
  log("maximum size", before.maxSize, after.maxSize);
  log("upload site", before.ftpSite, after.ftpSite);
  log("folder alias id", before.folder.aliasID, after.folder.aliasID);
}

}  // namespace

void validateAllPrintToFileSetPrefs() {
  for (int16_t n = 1; n <= 8; ++n) {
    tSpecialPrintToFilePref* set = getMyPrintToFileSetPrefs(n);
    const tSpecialPrintToFilePref before = *set;
    validatePrintToFileSetPrefs(set);
    LogRepairs(platform::StringF("Print-to-file set %c (%d)", char('A' + n - 1), int(n)).c_str(), before, *set);
  }
}

void validateWebUploadPrefs(tSpecialPrintToFilePref* p) {
  if (!p) return;
  const tSpecialPrintToFilePref before = *p;
  if (!IsWrittenFileFormat(p->fileFormat)) p->fileFormat = kFormatJPEGForWeb;
  p->folder.aliasID = kWebUploadAliasID;
  LogRepairs("The web-upload settings", before, *p);
}

#define KIVO_SWITCH(Record, path) \
  tRecordSwitch<Record> { #path, [](Record& r) -> int16_t& { return r.path; } }

std::span<const tRecordSwitch<tPrintServerPrefs>> PrintServerSwitches() {
  static constexpr tRecordSwitch<tPrintServerPrefs> kSwitches[] = {
      KIVO_SWITCH(tPrintServerPrefs, enableBackground), KIVO_SWITCH(tPrintServerPrefs, autoStart),
      KIVO_SWITCH(tPrintServerPrefs, createRootIfMissing), KIVO_SWITCH(tPrintServerPrefs, blckSwitch),
      KIVO_SWITCH(tPrintServerPrefs, keepJobFiles),     KIVO_SWITCH(tPrintServerPrefs, dualSwitch),
      KIVO_SWITCH(tPrintServerPrefs, fullRescan),       KIVO_SWITCH(tPrintServerPrefs, hideImage),
      KIVO_SWITCH(tPrintServerPrefs, askOnFailedJob),   KIVO_SWITCH(tPrintServerPrefs, t3amSwitch),
  };
  return kSwitches;
}

std::span<const tRecordSwitch<tSpecialPrintToFilePref>> SpecialPrintToFileSwitches() {
  static constexpr tRecordSwitch<tSpecialPrintToFilePref> kSwitches[] = {
      KIVO_SWITCH(tSpecialPrintToFilePref, folder.createIfMissing),
      KIVO_SWITCH(tSpecialPrintToFilePref, forceOrientation),
      KIVO_SWITCH(tSpecialPrintToFilePref, skipCKProperties),
  };
  return kSwitches;
}

std::span<const tRecordSwitch<tSpecialPrintToFilePref>> PrintToFileSetSwitches() {
  static constexpr tRecordSwitch<tSpecialPrintToFilePref> kSwitches[] = {
      KIVO_SWITCH(tSpecialPrintToFilePref, createJpegForWeb),
      KIVO_SWITCH(tSpecialPrintToFilePref, doNotResizeJpegForWeb),
      KIVO_SWITCH(tSpecialPrintToFilePref, doNotResizePng),
      KIVO_SWITCH(tSpecialPrintToFilePref, overwrite),
  };
  return kSwitches;
}

std::span<const tRecordSwitch<tProcessedJobsPrefs>> ProcessedJobsSwitches() {
  static constexpr tRecordSwitch<tProcessedJobsPrefs> kSwitches[] = {
      KIVO_SWITCH(tProcessedJobsPrefs, folder.createIfMissing),
      KIVO_SWITCH(tProcessedJobsPrefs, useNewHandOff),
  };
  return kSwitches;
}

std::span<const tRecordSwitch<tPrintToFilePrefs>> PrintToFileSwitches() {
  static constexpr tRecordSwitch<tPrintToFilePrefs> kSwitches[] = {
      KIVO_SWITCH(tPrintToFilePrefs, folder.createIfMissing),
      KIVO_SWITCH(tPrintToFilePrefs, skipCKProperties),
  };
  return kSwitches;
}

#undef KIVO_SWITCH

namespace {

// Puts each switch of `record` in `lists` that is neither 0 nor 1 back to its
// value in the factory record `setFactory` fills; returns what it repaired.
template <class Record, class SetFactory, class... Lists>
std::vector<tRepairedSwitch> RepairSwitches(Record* record, SetFactory setFactory, Lists... lists) {
  std::vector<tRepairedSwitch> repaired;
  if (!record) return repaired;
  Record factory;
  setFactory(&factory);
  auto repair = [&](std::span<const tRecordSwitch<Record>> switches) {
    for (const tRecordSwitch<Record>& s : switches) {
      int16_t& value = s.field(*record);
      if (value == 0 || value == 1) continue;
      repaired.push_back({s.name, value, s.field(factory)});
      value = s.field(factory);
    }
  };
  (repair(lists), ...);
  return repaired;
}

}  // namespace

std::vector<tRepairedSwitch> RepairPrintServerSwitches(tPrintServerPrefs* p) {
  return RepairSwitches(
      p,
      [](tPrintServerPrefs* f) {
        setMyPrintServerPrefToFactoryDefaults(f);
        f->keepJobFiles = 1;
      },
      PrintServerSwitches());
}

std::vector<tRepairedSwitch> RepairPrintToFileSetSwitches(tSpecialPrintToFilePref* p, int16_t set) {
  return RepairSwitches(
      p, [set](tSpecialPrintToFilePref* f) { setMyPrintToFileSetPrefsToFactoryDefaults(f, set); },
      SpecialPrintToFileSwitches(), PrintToFileSetSwitches());
}

std::vector<tRepairedSwitch> RepairWebUploadSwitches(tSpecialPrintToFilePref* p) {
  return RepairSwitches(p, setMyWebUploadPrefsToFactoryDefaults, SpecialPrintToFileSwitches());
}

std::vector<tRepairedSwitch> RepairProcessedJobsSwitches(tProcessedJobsPrefs* p) {
  return RepairSwitches(p, setMyProcessedJobsPrefToFactoryDefaults, ProcessedJobsSwitches());
}

std::vector<tRepairedSwitch> RepairPrintToFileSwitches(tPrintToFilePrefs* p) {
  return RepairSwitches(p, setMyPrintToFilePrefToFactoryDefaults, PrintToFileSwitches());
}

CStr255_AC getExtensionFromFileType(int16_t format) {
  switch (format) {
    case kFormatTIFF:
    case kFormatOwnTIFF: return CStr255_AC(".tif");
    case kFormatJPEG:
    case kFormatJPEGForWeb: return CStr255_AC(".jpg");
    case kFormatPICT: return CStr255_AC(".pct");
    case kFormatRAW: return CStr255_AC(".raw");
    case kFormatTarga: return CStr255_AC(".tga");
    case kFormatPhotoshop: return CStr255_AC(".PSD");
    case kFormatPNG: return CStr255_AC(".PNG");
    default: return CStr255_AC(".???");
  }
}

void connectPollingToPrintServerPrefs() {
  platform::SetPollSwitch([] { return getMyPrintServerPrefs()->enableBackground != 0; });
}
