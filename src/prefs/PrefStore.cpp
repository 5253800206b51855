// The preference blobs in the user defaults.
#include "prefs/PrefStore.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "host/base/Exceptions.h"
#include "host/files/File.h"
#include "host/sys/UserDefaults.h"
#include "platform/Log.h"

namespace {

std::atomic<host::UserDefaults*> gStoreDefaults{nullptr};

// Capacities of the string fields (length byte included).
constexpr size_t kStr31Capacity = 32;
constexpr size_t kStr63Capacity = 64;
constexpr size_t kStr255Capacity = 256;
constexpr size_t kSeparatorCapacity = 10;
constexpr size_t kWebUploadTail = 42;

// A string field of the given capacity; the characters are kept up to what
// the receiving string holds (a separator may carry nine characters in the
// stored form, of which its record keeps eight).
template <size_t N>
void ReadString(CStream_AC& s, TemplatePascalStr<N>& out, size_t capacity) {
  out.AssignMacRoman(s.ReadPascalBytes(capacity));
}

template <size_t N>
void ReadRaw(CStream_AC& s, std::array<uint8_t, N>& out) {
  s.ReadBytes(out.data(), N);
}

// The volume, directory and 64-byte name of a file specification.
void ReadSpec(CStream_AC& s, FSSpec& spec) {
  spec.vRefNum = s.ReadInt16();
  spec.parID = s.ReadInt32();
  s.ReadFixedPascalString(spec.name);
}

void WriteSpec(CStream_AC& s, const FSSpec& spec) {
  s.WriteInt16(spec.vRefNum);
  s.WriteInt32(spec.parID);
  s.WriteFixedPascalString(spec.name);
}

// The folder part shared by the set, web-upload and print-centre blobs.
void ReadFolderHead(CStream_AC& s, tFolderFSSpec& f) {
  ReadSpec(s, f.spec);
  ReadString(s, f.volumeName, kStr31Capacity);
  f.aliasID = s.ReadInt16();
  f.createIfMissing = s.ReadInt16();
  f.reserved106 = s.ReadInt16();
  ReadString(s, f.reserved108, kStr31Capacity);
}

void WriteFolderHead(CStream_AC& s, const tFolderFSSpec& f) {
  WriteSpec(s, f.spec);
  s.WritePascalString(f.volumeName);
  s.WriteInt16(f.aliasID);
  s.WriteInt16(f.createIfMissing);
  s.WriteInt16(f.reserved106);
  s.WritePascalString(f.reserved108);
}

// Rows common to a set and the web-upload record, up to the sub-folder names.
void ReadSpecialCommon(CStream_AC& s, tSpecialPrintToFilePref& p) {
  ReadFolderHead(s, p.folder);
  p.hasYearbookRecords = s.ReadInt16();
  ReadString(s, p.yearbookFolderName, kStr31Capacity);
  p.reserved396 = s.ReadInt16();
  p.orientation = s.ReadInt16();
  p.rotation = s.ReadInt16();
  p.fileFormat = s.ReadInt16();
  ReadString(s, p.baseName, kStr63Capacity);
  ReadString(s, p.extension, kStr31Capacity);
  p.forceOrientation = s.ReadInt16();
  p.namingType = s.ReadInt16();
  p.yearbookNaming = s.ReadInt16();
  for (auto& field : p.yearbookFields) field = s.ReadInt16();
  for (auto& sep : p.yearbookSeparators) ReadString(s, sep, kSeparatorCapacity);
  p.skipCKProperties = s.ReadInt16();
  ReadString(s, p.subFolderName, kStr63Capacity);
  ReadString(s, p.groupFolderName, kStr63Capacity);
}

void WriteSpecialCommon(CStream_AC& s, const tSpecialPrintToFilePref& p) {
  WriteFolderHead(s, p.folder);
  s.WriteInt16(p.hasYearbookRecords);
  s.WritePascalString(p.yearbookFolderName);
  s.WriteInt16(p.reserved396);
  s.WriteInt16(p.orientation);
  s.WriteInt16(p.rotation);
  s.WriteInt16(p.fileFormat);
  s.WritePascalString(p.baseName);
  s.WritePascalString(p.extension);
  s.WriteInt16(p.forceOrientation);
  s.WriteInt16(p.namingType);
  s.WriteInt16(p.yearbookNaming);
  for (int16_t field : p.yearbookFields) s.WriteInt16(field);
  for (const auto& sep : p.yearbookSeparators) s.WritePascalString(sep);
  s.WriteInt16(p.skipCKProperties);
  s.WritePascalString(p.subFolderName);
  s.WritePascalString(p.groupFolderName);
}

// A fixed-length little-endian buffer of the record's size, filled by `write`;
// the bytes after the fields stay zero.
template <typename F>
std::vector<uint8_t> MakeBlob(size_t size, F write) {
  CBufferStream_AC stream(size);
  stream.AddLittleEndianFilter();
  write(stream);
  return stream.TakeBuffer();
}

// The stored blob of a key, or nothing when absent or not data.
std::optional<host::PlistData> StoredBlob(const std::string& key) {
  auto value = ReadFromMyUserDefaults(key);
  if (!value) return std::nullopt;
  const host::PlistData* data = value->asData();
  if (!data) {
    platform::LogF("The preference value of key [%s] is not data and was ignored", key.c_str());
    return std::nullopt;
  }
  return *data;
}

// Reads one blob through `read`; a failure stops that blob only. False when
// the blob is damaged: it ended before its fields did (short or empty). A
// string longer than its field stops the blob but keeps what was read.
template <typename F>
bool ReadBlob(const std::string& key, const host::PlistData& blob, F read) {
  CBufferStream_AC stream(blob.data(), blob.size());
  stream.AddLittleEndianFilter();
  try {
    read(stream);
  } catch (const CException_AC& e) {
    platform::LogF("here: the preference blob [%s] stopped at byte %llu (error %d)", key.c_str(),
                   static_cast<unsigned long long>(stream.GetPosition()), int(e.GetError()));
    return e.GetError() != eofErr;
  }
  return true;
}

// A damaged blob would leave its record half read (a print-server record of
// zeros turns printing off for the session): the record goes back to its
// factory defaults, and those are stored under the key at once.
template <typename Reset, typename Encode>
void ReplaceDamagedRecord(const std::string& key, Reset reset, Encode encode) {
  reset();
  platform::LogF("The preference record [%s] is damaged: its factory defaults are used and saved", key.c_str());
  WriteToMyUserDefaults(host::PlistValue(encode()), key, true);
}

void StoreBlob(const std::string& key, std::vector<uint8_t> blob) {
  WriteToMyUserDefaults(host::PlistValue(std::move(blob)), key, false);
  platform::LogF("2010-05-30bexel Inside myNewSavePreferences... Done WriteToMyUserDefaults with ObjectKey=[%s]",
                 key.c_str());
}

}  // namespace

std::string PrintToFileSetKey(int set) { return "PrintToFileSet " + std::to_string(set); }

host::UserDefaults& PrefStoreDefaults() {
  host::UserDefaults* d = gStoreDefaults.load();
  return d ? *d : host::UserDefaults::standard();
}

void SetPrefStoreDefaults(host::UserDefaults* defaults) { gStoreDefaults.store(defaults); }

std::optional<host::PlistValue> ReadFromMyUserDefaults(const std::string& key) {
  if (key.empty()) return std::nullopt;
  return PrefStoreDefaults().get(key);
}

void WriteToMyUserDefaults(const std::optional<host::PlistValue>& object, const std::string& key, bool synchronize) {
  if (!object || key.empty() || !PrefStoreDefaults().set(key, *object)) {
    platform::LogF("WriteToMyUserDefaults did NOT write object[%s] forKey[%s]", object ? "value" : "(null)",
                   key.c_str());
    return;
  }
  if (synchronize) SynchronizeMyUserDefaults();
}

bool SynchronizeMyUserDefaults(std::string* error) {
  static std::mutex mutex;
  static std::string lastLogged;
  std::string why;
  const bool written = PrefStoreDefaults().synchronize(&why);
  std::lock_guard lock(mutex);
  if (written) {
    lastLogged.clear();
    return true;
  }
  if (why.empty()) why = "the file could not be written";
  if (why != lastLogged) {
    platform::LogF("The settings could not be saved: %s", why.c_str());
    lastLogged = why;
  }
  if (error) *error = why;
  return false;
}

// ---- stream objects ----

void TPrintServerPrefObject::ReadFrom(CStream_AC* stream) {
  CStream_AC& s = *stream;
  tPrintServerPrefs& p = *getMyPrintServerPrefs();
  p.rootVRefNum = s.ReadInt16();
  p.rootDirID = s.ReadInt32();
  p.imagesVRefNum = s.ReadInt16();
  p.imagesDirID = s.ReadInt32();
  p.jobsVRefNum = s.ReadInt16();
  p.jobsDirID = s.ReadInt32();
  p.finishedVRefNum = s.ReadInt16();
  p.finishedDirID = s.ReadInt32();
  p.unknownVRefNum = s.ReadInt16();
  p.unknownDirID = s.ReadInt32();
  p.enableBackground = s.ReadInt16();
  p.databaseVRefNum = s.ReadInt16();
  p.databaseDirID = s.ReadInt32();
  p.reserved38 = s.ReadInt16();
  p.autoStart = s.ReadInt16();
  p.createRootIfMissing = s.ReadInt16();
  p.rootSpec.spec.vRefNum = s.ReadInt16();
  p.rootSpec.spec.parID = s.ReadInt32();
  p.blckSwitch = s.ReadInt16();
  p.reserved212 = s.ReadInt16();
  p.keepJobFiles = s.ReadInt16();
  p.dualSwitch = s.ReadInt16();
  p.fullRescan = s.ReadInt16();
  p.hideImage = s.ReadInt16();
  p.askOnFailedJob = s.ReadInt16();
  p.t3amSwitch = s.ReadInt16();
  p.secondRootSpec.spec.vRefNum = s.ReadInt16();
  p.secondRootSpec.spec.parID = s.ReadInt32();
  p.secondRootVRefNum = s.ReadInt16();
  p.secondRootDirID = s.ReadInt32();
  p.reserved334 = s.ReadInt16();
  p.reserved336 = s.ReadInt16();
}

void TPrintServerPrefObject::WriteTo(CStream_AC* stream) const {
  CStream_AC& s = *stream;
  const tPrintServerPrefs& p = *getMyPrintServerPrefs();
  s.WriteInt16(p.rootVRefNum);
  s.WriteInt32(p.rootDirID);
  s.WriteInt16(p.imagesVRefNum);
  s.WriteInt32(p.imagesDirID);
  s.WriteInt16(p.jobsVRefNum);
  s.WriteInt32(p.jobsDirID);
  s.WriteInt16(p.finishedVRefNum);
  s.WriteInt32(p.finishedDirID);
  s.WriteInt16(p.unknownVRefNum);
  s.WriteInt32(p.unknownDirID);
  s.WriteInt16(p.enableBackground);
  s.WriteInt16(p.databaseVRefNum);
  s.WriteInt32(p.databaseDirID);
  s.WriteInt16(p.reserved38);
  s.WriteInt16(p.autoStart);
  s.WriteInt16(p.createRootIfMissing);
  s.WriteInt16(p.rootSpec.spec.vRefNum);
  s.WriteInt32(p.rootSpec.spec.parID);
  s.WriteInt16(p.blckSwitch);
  s.WriteInt16(p.reserved212);
  s.WriteInt16(p.keepJobFiles);
  s.WriteInt16(p.dualSwitch);
  s.WriteInt16(p.fullRescan);
  s.WriteInt16(p.hideImage);
  s.WriteInt16(p.askOnFailedJob);
  s.WriteInt16(p.t3amSwitch);
  s.WriteInt16(p.secondRootSpec.spec.vRefNum);
  s.WriteInt32(p.secondRootSpec.spec.parID);
  s.WriteInt16(p.secondRootVRefNum);
  s.WriteInt32(p.secondRootDirID);
  s.WriteInt16(p.reserved334);
  s.WriteInt16(p.reserved336);
}

void TPrintToFileSetObject::ReadFrom(CStream_AC* stream, int16_t set) {
  tSpecialPrintToFilePref* p = getMyPrintToFileSetPrefs(set);
  if (!p) Throw_AC(paramErr, "no such print-to-file set");
  CStream_AC& s = *stream;
  ReadSpecialCommon(s, *p);
  p->createJpegForWeb = s.ReadInt16();
  p->maxSize = s.ReadInt16();
  p->doNotResizeJpegForWeb = s.ReadInt16();
  p->ftpSite = s.ReadInt16();
  p->doNotResizePng = s.ReadInt16();
  p->overwrite = s.ReadInt16();
  ReadString(s, p->editText, kStr255Capacity);
  for (auto& v : p->alsoCopyToSet) v = s.ReadInt16();
  ReadRaw(s, p->reserved958);
}

void TPrintToFileSetObject::WriteTo(CStream_AC* stream, int16_t set) const {
  const tSpecialPrintToFilePref* p = getMyPrintToFileSetPrefs(set);
  if (!p) Throw_AC(paramErr, "no such print-to-file set");
  CStream_AC& s = *stream;
  WriteSpecialCommon(s, *p);
  s.WriteInt16(p->createJpegForWeb);
  s.WriteInt16(p->maxSize);
  s.WriteInt16(p->doNotResizeJpegForWeb);
  s.WriteInt16(p->ftpSite);
  s.WriteInt16(p->doNotResizePng);
  s.WriteInt16(p->overwrite);
  s.WritePascalString(p->editText);
  for (int16_t v : p->alsoCopyToSet) s.WriteInt16(v);
  s.WriteBytes(p->reserved958.data(), p->reserved958.size());
}

void TOutputFilePrefObject::ReadFrom(CStream_AC* stream) {
  tOutputFilePrefs& p = *getMyOutputFilePrefs();
  p.jpegQuality = stream->ReadInt16();
  p.secondQuality = stream->ReadInt16();
  ReadRaw(*stream, p.reserved4);
}

void TOutputFilePrefObject::WriteTo(CStream_AC* stream) const {
  const tOutputFilePrefs& p = *getMyOutputFilePrefs();
  stream->WriteInt16(p.jpegQuality);
  stream->WriteInt16(p.secondQuality);
  stream->WriteBytes(p.reserved4.data(), p.reserved4.size());
}

void TProcessedJobObject::ReadFrom(CStream_AC* stream) {
  tProcessedJobsPrefs& p = *getMyProcessedJobsPrefs();
  ReadFolderHead(*stream, p.folder);
  p.useNewHandOff = stream->ReadInt16();
  ReadRaw(*stream, p.reserved364);
}

void TProcessedJobObject::WriteTo(CStream_AC* stream) const {
  const tProcessedJobsPrefs& p = *getMyProcessedJobsPrefs();
  WriteFolderHead(*stream, p.folder);
  stream->WriteInt16(p.useNewHandOff);
  stream->WriteBytes(p.reserved364.data(), p.reserved364.size());
}

void TWebUploadObject::ReadFrom(CStream_AC* stream) {
  tSpecialPrintToFilePref& p = *getMyWebUploadPrefs();
  ReadSpecialCommon(*stream, p);
  // The tail: the record's 24 reserved bytes, then 18 bytes of no meaning.
  std::array<uint8_t, kWebUploadTail> tail{};
  ReadRaw(*stream, tail);
  std::copy_n(tail.begin(), p.reserved958.size(), p.reserved958.begin());
}

void TWebUploadObject::WriteTo(CStream_AC* stream) const {
  const tSpecialPrintToFilePref& p = *getMyWebUploadPrefs();
  WriteSpecialCommon(*stream, p);
  std::array<uint8_t, kWebUploadTail> tail{};
  std::copy(p.reserved958.begin(), p.reserved958.end(), tail.begin());
  stream->WriteBytes(tail.data(), tail.size());
}

void TPrintToFilePrefObject::ReadFrom(CStream_AC* stream) {
  CStream_AC& s = *stream;
  tFolderFSSpec folder;
  ReadFolderHead(s, folder);
  tPrintToFilePrefs stored;
  stored.orientation = s.ReadInt16();
  stored.rotation = s.ReadInt16();
  stored.fileFormat = s.ReadInt16();
  ReadString(s, stored.baseName, kStr31Capacity);
  ReadString(s, stored.extension, kStr31Capacity);
  stored.reserved432 = s.ReadInt16();
  stored.reserved434 = s.ReadInt16();
  stored.namingType = s.ReadInt16();
  stored.reserved438 = s.ReadInt16();
  stored.skipCKProperties = s.ReadInt16();
  tPrintToFilePrefs& live = *getMyPrintToFilePrefs();
  live.folder.createIfMissing = folder.createIfMissing;
  live.skipCKProperties = stored.skipCKProperties;
  // The format, naming, prefix and extension are each job's own: a value
  // stored by an earlier version is read past and the factory one stays.
}

void TPrintToFilePrefObject::WriteTo(CStream_AC* stream) const {
  CStream_AC& s = *stream;
  const tPrintToFilePrefs& p = *getMyPrintToFilePrefs();
  WriteFolderHead(s, p.folder);
  s.WriteInt16(p.orientation);
  s.WriteInt16(p.rotation);
  s.WriteInt16(p.fileFormat);
  s.WritePascalString(p.baseName);
  s.WritePascalString(p.extension);
  s.WriteInt16(p.reserved432);
  s.WriteInt16(p.reserved434);
  s.WriteInt16(p.namingType);
  s.WriteInt16(p.reserved438);
  s.WriteInt16(p.skipCKProperties);
  s.WriteBytes(p.reserved442.data(), p.reserved442.size());
}

// ---- blobs ----

std::vector<uint8_t> PrintServerPrefBlob() {
  return MakeBlob(kPrintServerPrefsSize, [](CStream_AC& s) { TPrintServerPrefObject().WriteTo(&s); });
}
std::vector<uint8_t> PrintToFileSetBlob(int16_t set) {
  return MakeBlob(kSpecialPrintToFilePrefSize, [set](CStream_AC& s) { TPrintToFileSetObject().WriteTo(&s, set); });
}

namespace {

// The blob `encode` makes of the live record `live` while it holds `record`;
// the live record is put back as it was.
template <typename R, typename F>
std::vector<uint8_t> EncodeDetached(R* live, const R& record, F encode) {
  if (!live) return {};
  const R saved = *live;
  *live = record;
  std::vector<uint8_t> blob = encode();
  *live = saved;
  return blob;
}

}  // namespace

std::vector<uint8_t> PrintToFileSetBlob(const tSpecialPrintToFilePref& record, int16_t set) {
  return EncodeDetached(getMyPrintToFileSetPrefs(set), record, [set] { return PrintToFileSetBlob(set); });
}
std::vector<uint8_t> PrintServerPrefBlobOf(const tPrintServerPrefs& record) {
  return EncodeDetached(getMyPrintServerPrefs(), record, [] { return PrintServerPrefBlob(); });
}
std::vector<uint8_t> OutputFilePrefBlobOf(const tOutputFilePrefs& record) {
  return EncodeDetached(getMyOutputFilePrefs(), record, [] { return OutputFilePrefBlob(); });
}
std::vector<uint8_t> ProcessedJobsPrefBlobOf(const tProcessedJobsPrefs& record) {
  return EncodeDetached(getMyProcessedJobsPrefs(), record, [] { return ProcessedJobsPrefBlob(); });
}
std::vector<uint8_t> WebUploadPrefBlobOf(const tSpecialPrintToFilePref& record) {
  return EncodeDetached(getMyWebUploadPrefs(), record, [] { return WebUploadPrefBlob(); });
}
std::vector<uint8_t> PrintToFilePrefBlobOf(const tPrintToFilePrefs& record) {
  return EncodeDetached(getMyPrintToFilePrefs(), record, [] { return PrintToFilePrefBlob(); });
}
std::vector<uint8_t> OutputFilePrefBlob() {
  return MakeBlob(kOutputFilePrefsSize, [](CStream_AC& s) { TOutputFilePrefObject().WriteTo(&s); });
}
std::vector<uint8_t> ProcessedJobsPrefBlob() {
  return MakeBlob(kProcessedJobsPrefsSize, [](CStream_AC& s) { TProcessedJobObject().WriteTo(&s); });
}
std::vector<uint8_t> WebUploadPrefBlob() {
  return MakeBlob(kSpecialPrintToFilePrefSize, [](CStream_AC& s) { TWebUploadObject().WriteTo(&s); });
}
std::vector<uint8_t> PrintToFilePrefBlob() {
  return MakeBlob(kPrintToFilePrefsSize, [](CStream_AC& s) { TPrintToFilePrefObject().WriteTo(&s); });
}

namespace {

// Reads a blob through a stream object that writes into the live record
// `live`, and hands back what it read, with the live record as it was.
template <typename R, typename F>
std::optional<R> DecodeDetached(R* live, R start, size_t length, const host::PlistData& blob, F read) {
  if (!live || blob.size() != length) return std::nullopt;
  const R saved = *live;
  *live = start;
  std::optional<R> out;
  CBufferStream_AC stream(blob.data(), blob.size());
  stream.AddLittleEndianFilter();
  try {
    read(stream);
    out = *live;
  } catch (const CException_AC&) {
  }
  *live = saved;
  return out;
}

}  // namespace

std::optional<tPrintServerPrefs> DecodePrintServerBlob(const host::PlistData& blob) {
  return DecodeDetached(getMyPrintServerPrefs(), tPrintServerPrefs{}, kPrintServerPrefsSize, blob,
                        [](CStream_AC& s) { TPrintServerPrefObject().ReadFrom(&s); });
}

std::optional<tSpecialPrintToFilePref> DecodePrintToFileSetBlob(const host::PlistData& blob, int16_t set) {
  tSpecialPrintToFilePref start;
  if (!setMyPrintToFileSetPrefsToFactoryDefaults(&start, set) || !getMyPrintToFileSetPrefs(set)) return std::nullopt;
  return DecodeDetached(getMyPrintToFileSetPrefs(set), start, kSpecialPrintToFilePrefSize, blob,
                        [set](CStream_AC& s) { TPrintToFileSetObject().ReadFrom(&s, set); });
}

std::optional<tOutputFilePrefs> DecodeOutputFileBlob(const host::PlistData& blob) {
  tOutputFilePrefs start;
  setMyOutputFilePrefToFactoryDefaults(&start);
  return DecodeDetached(getMyOutputFilePrefs(), start, kOutputFilePrefsSize, blob,
                        [](CStream_AC& s) { TOutputFilePrefObject().ReadFrom(&s); });
}

std::optional<tProcessedJobsPrefs> DecodeProcessedJobsBlob(const host::PlistData& blob) {
  tProcessedJobsPrefs start;
  setMyProcessedJobsPrefToFactoryDefaults(&start);
  return DecodeDetached(getMyProcessedJobsPrefs(), start, kProcessedJobsPrefsSize, blob,
                        [](CStream_AC& s) { TProcessedJobObject().ReadFrom(&s); });
}

std::optional<tSpecialPrintToFilePref> DecodeWebUploadBlob(const host::PlistData& blob) {
  tSpecialPrintToFilePref start;
  setMyWebUploadPrefsToFactoryDefaults(&start);
  return DecodeDetached(getMyWebUploadPrefs(), start, kSpecialPrintToFilePrefSize, blob,
                        [](CStream_AC& s) { TWebUploadObject().ReadFrom(&s); });
}

std::optional<tPrintToFilePrefs> DecodePrintToFileBlob(const host::PlistData& blob) {
  tPrintToFilePrefs start;
  setMyPrintToFilePrefToFactoryDefaults(&start);
  return DecodeDetached(getMyPrintToFilePrefs(), start, kPrintToFilePrefsSize, blob,
                        [](CStream_AC& s) { TPrintToFilePrefObject().ReadFrom(&s); });
}

// ---- read and save ----

namespace {

// A switch is 0 or 1, as import requires; anything else (a byte-swapped 1
// reads as 256) has been put back to its factory value by the caller's
// repair. Each repair is logged and the record is stored back at once, so the
// next start reads a sound record.
template <class Encode>
void SaveRepairedSwitches(const std::string& key, const std::vector<tRepairedSwitch>& repaired, Encode encode) {
  if (repaired.empty()) return;
  for (const tRepairedSwitch& r : repaired)
    platform::LogF("The preference [%s] held %d for %s, which is not a switch: %d is used and saved", key.c_str(),
                   int(r.found), r.name, int(r.repaired));
  WriteToMyUserDefaults(host::PlistValue(encode()), key, true);
}

}  // namespace

namespace {
bool gStoreChangedBehindTheRecords = false;
}  // namespace

void NoteStoreChangedBehindTheRecords() { gStoreChangedBehindTheRecords = true; }
bool StoreChangedBehindTheRecords() { return gStoreChangedBehindTheRecords; }

void myNewReadPreferences() {
  gStoreChangedBehindTheRecords = false;
  mySetAllDefaults();

  if (auto blob = StoredBlob(kPrintServerPrefKey)) {
    // The stored record replaces the defaults entirely; fields the blob does
    // not reach stay zero.
    *getMyPrintServerPrefs() = tPrintServerPrefs{};
    if (!ReadBlob(kPrintServerPrefKey, *blob, [](CStream_AC& s) { TPrintServerPrefObject().ReadFrom(&s); })) {
      ReplaceDamagedRecord(kPrintServerPrefKey, [] { setMyPrintServerPrefToFactoryDefaults(getMyPrintServerPrefs()); },
                           PrintServerPrefBlob);
    } else {
      SaveRepairedSwitches(kPrintServerPrefKey, RepairPrintServerSwitches(getMyPrintServerPrefs()),
                           PrintServerPrefBlob);
    }
  }
  for (int16_t set = 1; set <= 8; ++set) {
    const std::string key = PrintToFileSetKey(set);
    auto blob = StoredBlob(key);
    if (!blob) continue;
    if (!ReadBlob(key, *blob, [set](CStream_AC& s) { TPrintToFileSetObject().ReadFrom(&s, set); }))
      ReplaceDamagedRecord(
          key, [set] { setMyPrintToFileSetPrefsToFactoryDefaults(getMyPrintToFileSetPrefs(set), set); },
          [set] { return PrintToFileSetBlob(set); });
    else
      SaveRepairedSwitches(key, RepairPrintToFileSetSwitches(getMyPrintToFileSetPrefs(set), set),
                           [set] { return PrintToFileSetBlob(set); });
  }
  validateAllPrintToFileSetPrefs();

  auto blob = StoredBlob(kOutputFilesPrefKey);
  if (blob && !ReadBlob(kOutputFilesPrefKey, *blob, [](CStream_AC& s) { TOutputFilePrefObject().ReadFrom(&s); }))
    ReplaceDamagedRecord(kOutputFilesPrefKey, [] { setMyOutputFilePrefToFactoryDefaults(getMyOutputFilePrefs()); },
                         OutputFilePrefBlob);
  blob = StoredBlob(kPrintCenterPrefsKey);
  if (blob) {
    if (!ReadBlob(kPrintCenterPrefsKey, *blob, [](CStream_AC& s) { TProcessedJobObject().ReadFrom(&s); }))
      ReplaceDamagedRecord(kPrintCenterPrefsKey,
                           [] { setMyProcessedJobsPrefToFactoryDefaults(getMyProcessedJobsPrefs()); },
                           ProcessedJobsPrefBlob);
    else
      SaveRepairedSwitches(kPrintCenterPrefsKey, RepairProcessedJobsSwitches(getMyProcessedJobsPrefs()),
                           ProcessedJobsPrefBlob);
  }
  blob = StoredBlob(kWebUploadPrefsKey);
  if (blob) {
    if (!ReadBlob(kWebUploadPrefsKey, *blob, [](CStream_AC& s) { TWebUploadObject().ReadFrom(&s); }))
      ReplaceDamagedRecord(kWebUploadPrefsKey, [] { setMyWebUploadPrefsToFactoryDefaults(getMyWebUploadPrefs()); },
                           WebUploadPrefBlob);
    else
      SaveRepairedSwitches(kWebUploadPrefsKey, RepairWebUploadSwitches(getMyWebUploadPrefs()), WebUploadPrefBlob);
  }
  validateWebUploadPrefs(getMyWebUploadPrefs());
  if (auto blob = StoredBlob(kPrintToFilePrefKey);
      blob && ReadBlob(kPrintToFilePrefKey, *blob, [](CStream_AC& s) { TPrintToFilePrefObject().ReadFrom(&s); }))
    SaveRepairedSwitches(kPrintToFilePrefKey, RepairPrintToFileSwitches(getMyPrintToFilePrefs()), PrintToFilePrefBlob);
}

bool myNewSavePreferences(std::string* error) {
  platform::LogLine("Inside myNewSavePreferences... 2010-05-30bexel");
  StoreBlob(kPrintServerPrefKey, PrintServerPrefBlob());
  for (int16_t set = 1; set <= 8; ++set) StoreBlob(PrintToFileSetKey(set), PrintToFileSetBlob(set));
  StoreBlob(kOutputFilesPrefKey, OutputFilePrefBlob());
  StoreBlob(kWebUploadPrefsKey, WebUploadPrefBlob());
  StoreBlob(kPrintCenterPrefsKey, ProcessedJobsPrefBlob());
  StoreBlob(kPrintToFilePrefKey, PrintToFilePrefBlob());

  if (auto blob = StoredBlob(kPrintCenterPrefsKey))
    ReadBlob(kPrintCenterPrefsKey, *blob, [](CStream_AC& s) { TProcessedJobObject().ReadFrom(&s); });

  return SynchronizeMyUserDefaults(error);
}

void SaveStruct(TFile& file, const void* data, int16_t id, const CStr255_AC& name, long length, ResType type) {
  if (length < 0 || (length > 0 && !data)) Throw_AC(paramErr, "SaveStruct: no data");
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::vector<uint8_t> copy(bytes, bytes + length);
  ThrowIfError_AC(file.SetResource(type, id, name.view(), std::move(copy)), "SaveStruct");
}
