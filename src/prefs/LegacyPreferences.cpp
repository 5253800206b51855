// The legacy preference file and its document.
#include "prefs/LegacyPreferences.h"

#include <system_error>

#include "host/base/ByteOrder.h"
#include "host/base/Exceptions.h"
#include "host/sys/Folders.h"
#include "platform/Log.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

const CStr255_AC vCarbonPrefFileName("KIVO-SPOOLER Carbon Prefs");
const CStr255_AC v10PrefFileName("KIVO-PROCESSOR Prefs");
const CStr255_AC v11PrefFileName("KIVO-PROCESSOR v11 Prefs");
const CStr255_AC v12PrefFileName("KIVO-PROCESSOR v12 Prefs");
const CStr255_AC v13PrefFileName("KIVO-PROCESSOR v13 Prefs");
const CStr255_AC v14PrefFileName("KIVO-PROCESSOR v14 Prefs");
const CStr255_AC oldPrefFileName = v10PrefFileName;
const CStr255_AC prefFileName = v14PrefFileName;

TPreferenceBehavior* pPreferenceManager = nullptr;

namespace fs = std::filesystem;

namespace {

constexpr RecordByteOrder kOrder = RecordByteOrder::kLittleEndian;
constexpr int kLegacySets = 4;

enum : int16_t { kServerRes = 1000, kPrintToFileRes = 1001, kProcessedRes = 1002, kSetsRes = 1003, kCDRes = 1004 };

template <class R, class Enc>
std::vector<uint8_t> Image(const R& record, size_t size, Enc encode) {
  std::vector<uint8_t> bytes(size);
  encode(record, bytes.data(), kOrder);
  return bytes;
}

// A resource read into a record: the stored bytes over the record's own
// image, so a short resource changes only what it holds.
template <class R, class Enc, class Dec>
void ReadRecord(TFile& file, R& record, size_t size, int16_t id, Enc encode, Dec decode) {
  std::vector<uint8_t> bytes = Image(record, size, encode);
  if (ReadStruct(file, bytes.data(), size, kPrefResourceType, id) == 0) return;
  decode(bytes.data(), record, kOrder);
}

}  // namespace

void SaveHandle(TFile& file, const std::vector<uint8_t>* data, int16_t id, const CStr255_AC& name, ResType type) {
  host::ResourceMap* map = file.GetResourceMap();
  if (!map) Throw_AC(resFNotFound, "SaveHandle: no resource file");
  if (!data) {
    if (map->Remove(type, id)) file.MarkResourcesChanged();
    return;
  }
  ThrowIfError_AC(file.SetResource(type, id, name.view(), *data), "SaveHandle");
}

size_t ReadStruct(TFile& file, void* record, size_t length, ResType type, int16_t id) {
  host::ResourceMap* map = file.GetResourceMap();
  const host::Resource* r = map ? map->Get(type, id) : nullptr;
  if (!r || !record) return 0;
  const size_t n = std::min(length, r->data.size());
  std::copy_n(r->data.data(), n, static_cast<uint8_t*>(record));
  return n;
}

// ---- preferences objects ----

void TPreferences::ReadFrom(TFile& file) {
  uint8_t head[4] = {};
  int64_t count = sizeof head;
  ThrowIfError_AC(file.SetDataMark(0), "TPreferences::ReadFrom");
  const OSErr err = file.ReadData(head, count);
  if (err != noErr && err != eofErr) Throw_AC(err, "TPreferences::ReadFrom");
  if (count == 4 && host::LoadBE32(head) != GetStandardSignature())
    platform::LogF("The preference file holds a \"%s\" object, read as \"%s\"", FourCCToString(host::LoadBE32(head)).c_str(),
                   FourCCToString(GetStandardSignature()).c_str());
}

void TPreferences::WriteTo(TFile& file) const {
  uint8_t head[4];
  host::StoreBE32(head, GetStandardSignature());
  int64_t count = sizeof head;
  ThrowIfError_AC(file.SetDataMark(0), "TPreferences::WriteTo");
  ThrowIfError_AC(file.WriteData(head, count), "TPreferences::WriteTo");
  ThrowIfError_AC(file.SetDataLength(sizeof head), "TPreferences::WriteTo");
}

void TBackgroundPrintingPrefs::ReadFrom(TFile& file) {
  TPreferences::ReadFrom(file);
  ReadPrefs(file);
}

void TBackgroundPrintingPrefs::WriteTo(TFile& file) const {
  TPreferences::WriteTo(file);
  WritePrefs(file);
}

void TBackgroundPrintingPrefs::IBackgroundPrintingPrefs() {
  setMyPrintServerPrefToFactoryDefaults(getMyPrintServerPrefs());
  setMyPrintToFilePrefToFactoryDefaults(getMyPrintToFilePrefs());
  setMyProcessedJobsPrefToFactoryDefaults(getMyProcessedJobsPrefs());
  setAllPrintToFileSetPrefsToFactoryDefault();
  setMyPrintToCDSetPrefsToFactoryDefaults(getMyPrintToCDSetPrefs());
}

void TBackgroundPrintingPrefs::ReadPrefs(TFile& file) {
  setAllPrintToFileSetPrefsToFactoryDefault();
  ReadRecord(file, *getMyPrintServerPrefs(), kPrintServerPrefsSize, kServerRes, EncodePrintServerPrefs,
             DecodePrintServerPrefs);
  validatePrintServerPrefs(getMyPrintServerPrefs());
  ReadRecord(file, *getMyPrintToFilePrefs(), kPrintToFilePrefsSize, kPrintToFileRes, EncodePrintToFilePrefs,
             DecodePrintToFilePrefs);
  ReadRecord(file, *getMyProcessedJobsPrefs(), kProcessedJobsPrefsSize, kProcessedRes, EncodeProcessedJobsPrefs,
             DecodeProcessedJobsPrefs);
  // Four sets in one resource.
  std::vector<uint8_t> sets(kSpecialPrintToFilePrefSize * kLegacySets);
  for (int16_t n = 1; n <= kLegacySets; ++n)
    EncodeSpecialPrintToFilePref(*getMyPrintToFileSetPrefs(n), sets.data() + (n - 1) * kSpecialPrintToFilePrefSize,
                                 kOrder);
  if (ReadStruct(file, sets.data(), sets.size(), kPrefResourceType, kSetsRes) > 0) {
    for (int16_t n = 1; n <= kLegacySets; ++n)
      DecodeSpecialPrintToFilePref(sets.data() + (n - 1) * kSpecialPrintToFilePrefSize, *getMyPrintToFileSetPrefs(n),
                                   kOrder);
  }
  ReadRecord(file, *getMyPrintToCDSetPrefs(), kPrintToCDPrefSize, kCDRes, EncodePrintToCDPref, DecodePrintToCDPref);
}

void TBackgroundPrintingPrefs::WritePrefs(TFile& file) const {
  validatePrintServerPrefs(getMyPrintServerPrefs());
  auto save = [&](std::vector<uint8_t> bytes, int16_t id, const char* name) {
    SaveHandle(file, &bytes, id, CStr255_AC(name), kPrefResourceType);
  };
  save(Image(*getMyPrintServerPrefs(), kPrintServerPrefsSize, EncodePrintServerPrefs), kServerRes, "Printserver Prefs");
  save(Image(*getMyPrintToFilePrefs(), kPrintToFilePrefsSize, EncodePrintToFilePrefs), kPrintToFileRes,
       "PrintToFile Prefs");
  save(Image(*getMyProcessedJobsPrefs(), kProcessedJobsPrefsSize, EncodeProcessedJobsPrefs), kProcessedRes,
       "Processed Job Prefs");
  std::vector<uint8_t> sets(kSpecialPrintToFilePrefSize * kLegacySets);
  for (int16_t n = 1; n <= kLegacySets; ++n)
    EncodeSpecialPrintToFilePref(*getMyPrintToFileSetPrefs(n), sets.data() + (n - 1) * kSpecialPrintToFilePrefSize,
                                 kOrder);
  save(std::move(sets), kSetsRes, "printofile set Prefs");
  save(Image(*getMyPrintToCDSetPrefs(), kPrintToCDPrefSize, EncodePrintToCDPref), kCDRes, "printocd set Prefs");
}

// ---- document ----

fs::path PreferenceFilePath() {
  return host::configFolder().parent_path() / "Kivo Preferences" / prefFileName.ToUTF8();
}

void TPreferenceDocument::IPreferenceDocument(TPreferenceBehavior* behavior, const fs::path& path) {
  behavior_ = behavior;
  path_ = path.empty() ? PreferenceFilePath() : path;
  std::error_code ec;
  fs::create_directories(path_.parent_path(), ec);
  if (ec) Throw_AC(dirNFErr, "IPreferenceDocument: the preferences folder cannot be made");
  if (!fs::exists(path_, ec)) {
    TFile file;
    ThrowIfError_AC(file.SpecifyWithPath(path_.string()), "IPreferenceDocument");
    file.SetFileType(FourCC("pref"));
    file.SetFileCreator(FourCC("ZRVb"));
    ThrowIfError_AC(file.CreateFile(), "IPreferenceDocument");
    preferences_ = behavior_ ? behavior_->DoMakePreferences() : std::make_unique<TBackgroundPrintingPrefs>();
    preferences_->BeInDocument(this);
    Save();
    return;
  }
  Read();
}

void TPreferenceDocument::Save() {
  if (!preferences_) return;
  TFile file;
  ThrowIfError_AC(file.SpecifyWithPath(path_.string()), "TPreferenceDocument::Save");
  file.SetPermissions(fsRdWrPerm, fsRdWrPerm);
  const OSErr err = file.OpenFile();
  if (err != noErr) {
    // A file made elsewhere may have no resource fork yet; one that has a
    // fork failed to open for another reason.
    if (file.CreateRsrcFork() == dupFNErr) Throw_AC(err, "TPreferenceDocument::Save");
    ThrowIfError_AC(file.OpenFile(), "TPreferenceDocument::Save");
  }
  preferences_->WriteTo(file);
  ThrowIfError_AC(file.CloseFile(), "TPreferenceDocument::Save");
}

void TPreferenceDocument::Read() {
  TFile file;
  ThrowIfError_AC(file.SpecifyWithPath(path_.string()), "TPreferenceDocument::Read");
  file.SetPermissions(fsRdPerm, fsRdPerm);
  OSErr err = file.OpenFile();
  if (err != noErr) {
    // Without a resource fork there is nothing to read but the header.
    file.SetPermissions(fsRdPerm, 0);
    ThrowIfError_AC(file.OpenFile(), "TPreferenceDocument::Read");
  }
  // A streamed object is made plain, not with factory values: what the file
  // lacks stays as the records hold it.
  std::unique_ptr<TPreferences> prefs =
      preferences_ ? preferences_->Clone() : std::make_unique<TBackgroundPrintingPrefs>();
  prefs->BeInDocument(this);
  prefs->ReadFrom(file);
  file.CloseFile();
  preferences_ = std::move(prefs);
}

bool TPreferenceDocument::IsCommandDisabled(CommandNumber command) {
  return command == 30 || command == 32 || command == 33 || command == 34;
}

// ---- behaviours ----

TPreferenceBehavior::TPreferenceBehavior(const fs::path& path) : TBehavior(FourCC("pref")) {
  pPreferenceManager = this;
  document_ = DoMakePreferenceDocument(path);
}

TPreferenceBehavior::~TPreferenceBehavior() {
  if (pPreferenceManager == this) pPreferenceManager = nullptr;
}

std::unique_ptr<TPreferenceDocument> TPreferenceBehavior::DoMakePreferenceDocument(const fs::path& path) {
  auto document = std::make_unique<TPreferenceDocument>();
  document->IPreferenceDocument(this, path);
  return document;
}

std::unique_ptr<TPreferences> TPreferenceBehavior::DoMakePreferences() {
  auto prefs = std::make_unique<TBackgroundPrintingPrefs>();
  prefs->IBackgroundPrintingPrefs();
  return prefs;
}

std::unique_ptr<TPreferences> TPrintBGPrefBehavior::DoMakePreferences() {
  return TPreferenceBehavior::DoMakePreferences();
}

// ---- entry points ----

bool SavePreferences(std::string* error) { return myNewSavePreferences(error); }
void ReadPreferences() { myNewReadPreferences(); }
