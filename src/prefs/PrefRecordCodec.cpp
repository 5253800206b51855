// Stored byte images of the preference records, field by field.
#include <cassert>
#include <cstring>

#include "host/base/ByteOrder.h"
#include "prefs/PrefRecords.h"

namespace {

// Every record's size is the sum of its fields' widths, in stored order.
static_assert(kFSSpecStoredSize == 2 + 4 + 64);
static_assert(kMyFSSpecSize == kFSSpecStoredSize + 32);
static_assert(kFolderFSSpecSize == kFSSpecStoredSize + 32 + 2 + 2 + 2 + 32 + 222);
static_assert(kPrintServerPrefsSize ==
              5 * (2 + 4) + 2 + (2 + 4) + 2 + 2 + 2 + 64 + kMyFSSpecSize + 8 * 2 + kMyFSSpecSize + (2 + 4) + 2 +
                  2 + 12);
static_assert(kSpecialPrintToFilePrefSize == kFolderFSSpecSize + 2 + 32 + 2 + 2 + 2 + 2 + 64 + 32 + 2 + 2 + 2 +
                                                 4 * 2 + 4 * 10 + 2 + 64 + 64 + 2 + 2 + 2 + 2 + 2 + 2 + 256 +
                                                 3 * 2 + 24);
static_assert(kPrintToFilePrefsSize == kFolderFSSpecSize + 3 * 2 + 32 + 32 + 2 + 2 + 2 + 2 + 2 + 128);
static_assert(kProcessedJobsPrefsSize == kFolderFSSpecSize + 2 + 252);
static_assert(kPrintToCDPrefSize == kFolderFSSpecSize + 3 * 2 + 64 + 32 + 1 + 1 + 2 + kFolderFSSpecSize + 256);
static_assert(kOutputFilePrefsSize == 2 + 2 + 256);

class Writer {
 public:
  Writer(uint8_t* out, RecordByteOrder order) : p_(out), order_(order) {}
  void I16(int16_t v) {
    if (order_ == RecordByteOrder::kBigEndian) host::StoreBE16(p_ + pos_, static_cast<uint16_t>(v));
    else host::StoreLE16(p_ + pos_, static_cast<uint16_t>(v));
    pos_ += 2;
  }
  void I32(int32_t v) {
    if (order_ == RecordByteOrder::kBigEndian) host::StoreBE32(p_ + pos_, static_cast<uint32_t>(v));
    else host::StoreLE32(p_ + pos_, static_cast<uint32_t>(v));
    pos_ += 4;
  }
  void U8(uint8_t v) { p_[pos_++] = v; }
  // The string's stored form (length byte, characters, zeros), padded with
  // zeros to `width` bytes.
  template <size_t N>
  void Str(const TemplatePascalStr<N>& s, size_t width = N) {
    std::memset(p_ + pos_, 0, width);
    const size_t len = s.Length();
    p_[pos_] = static_cast<uint8_t>(len);
    std::memcpy(p_ + pos_ + 1, s.view().data(), len);
    pos_ += width;
  }
  template <size_t N>
  void Bytes(const std::array<uint8_t, N>& b) {
    std::memcpy(p_ + pos_, b.data(), N);
    pos_ += N;
  }
  void Zeros(size_t n) {
    std::memset(p_ + pos_, 0, n);
    pos_ += n;
  }
  uint8_t* Here() { return p_ + pos_; }
  void Advance(size_t n) { pos_ += n; }
  size_t Pos() const { return pos_; }

 private:
  uint8_t* p_;
  size_t pos_ = 0;
  RecordByteOrder order_;
};

class Reader {
 public:
  Reader(const uint8_t* in, RecordByteOrder order) : p_(in), order_(order) {}
  int16_t I16() {
    const int16_t v = order_ == RecordByteOrder::kBigEndian ? host::LoadBEI16(p_ + pos_) : host::LoadLEI16(p_ + pos_);
    pos_ += 2;
    return v;
  }
  int32_t I32() {
    const int32_t v = order_ == RecordByteOrder::kBigEndian ? host::LoadBEI32(p_ + pos_) : host::LoadLEI32(p_ + pos_);
    pos_ += 4;
    return v;
  }
  uint8_t U8() { return p_[pos_++]; }
  template <size_t N>
  void Str(TemplatePascalStr<N>& s, size_t width = N) {
    s = TemplatePascalStr<N>::FromStored(p_ + pos_, N);
    pos_ += width;
  }
  template <size_t N>
  void Bytes(std::array<uint8_t, N>& b) {
    std::memcpy(b.data(), p_ + pos_, N);
    pos_ += N;
  }
  void Skip(size_t n) { pos_ += n; }
  const uint8_t* Here() const { return p_ + pos_; }
  size_t Pos() const { return pos_; }

 private:
  const uint8_t* p_;
  size_t pos_ = 0;
  RecordByteOrder order_;
};

}  // namespace

void EncodeFSSpec(const FSSpec& v, uint8_t* out, RecordByteOrder order) {
  Writer w(out, order);
  w.I16(v.vRefNum);
  w.I32(v.parID);
  w.Str(v.name);
  assert(w.Pos() == kFSSpecStoredSize);
}

void DecodeFSSpec(const uint8_t* in, FSSpec& v, RecordByteOrder order) {
  Reader r(in, order);
  v.vRefNum = r.I16();
  v.parID = r.I32();
  r.Str(v.name);
}

void EncodeMyFSSpec(const tmyFSSpec& v, uint8_t* out, RecordByteOrder order) {
  EncodeFSSpec(v.spec, out, order);
  Writer w(out + kFSSpecStoredSize, order);
  w.Str(v.volumeName);
}

void DecodeMyFSSpec(const uint8_t* in, tmyFSSpec& v, RecordByteOrder order) {
  DecodeFSSpec(in, v.spec, order);
  Reader r(in + kFSSpecStoredSize, order);
  r.Str(v.volumeName);
}

void EncodeFolderFSSpec(const tFolderFSSpec& v, uint8_t* out, RecordByteOrder order) {
  EncodeFSSpec(v.spec, out, order);
  Writer w(out + kFSSpecStoredSize, order);
  w.Str(v.volumeName);         // 70
  w.I16(v.aliasID);            // 102
  w.I16(v.createIfMissing);    // 104
  w.I16(v.reserved106);        // 106
  w.Str(v.reserved108);        // 108
  w.Bytes(v.reserved140);      // 140
  assert(kFSSpecStoredSize + w.Pos() == kFolderFSSpecSize);
}

void DecodeFolderFSSpec(const uint8_t* in, tFolderFSSpec& v, RecordByteOrder order) {
  DecodeFSSpec(in, v.spec, order);
  Reader r(in + kFSSpecStoredSize, order);
  r.Str(v.volumeName);
  v.aliasID = r.I16();
  v.createIfMissing = r.I16();
  v.reserved106 = r.I16();
  r.Str(v.reserved108);
  r.Bytes(v.reserved140);
}

void EncodePrintServerPrefs(const tPrintServerPrefs& v, uint8_t* out, RecordByteOrder order) {
  Writer w(out, order);
  w.I16(v.rootVRefNum);
  w.I32(v.rootDirID);
  w.I16(v.imagesVRefNum);
  w.I32(v.imagesDirID);
  w.I16(v.jobsVRefNum);
  w.I32(v.jobsDirID);
  w.I16(v.finishedVRefNum);
  w.I32(v.finishedDirID);
  w.I16(v.unknownVRefNum);
  w.I32(v.unknownDirID);
  w.I16(v.enableBackground);  // 30
  w.I16(v.databaseVRefNum);   // 32
  w.I32(v.databaseDirID);
  w.I16(v.reserved38);        // 38
  w.I16(v.autoStart);         // 40
  w.I16(v.createRootIfMissing);
  w.Str(v.reserved44);        // 44
  EncodeMyFSSpec(v.rootSpec, w.Here(), order);  // 108
  w.Advance(kMyFSSpecSize);
  w.I16(v.blckSwitch);        // 210
  w.I16(v.reserved212);
  w.I16(v.keepJobFiles);
  w.I16(v.dualSwitch);
  w.I16(v.fullRescan);
  w.I16(v.hideImage);
  w.I16(v.askOnFailedJob);
  w.I16(v.t3amSwitch);
  EncodeMyFSSpec(v.secondRootSpec, w.Here(), order);  // 226
  w.Advance(kMyFSSpecSize);
  w.I16(v.secondRootVRefNum);  // 328
  w.I32(v.secondRootDirID);
  w.I16(v.reserved334);
  w.I16(v.reserved336);
  w.Bytes(v.reserved338);
  assert(w.Pos() == kPrintServerPrefsSize);
}

void DecodePrintServerPrefs(const uint8_t* in, tPrintServerPrefs& v, RecordByteOrder order) {
  Reader r(in, order);
  v.rootVRefNum = r.I16();
  v.rootDirID = r.I32();
  v.imagesVRefNum = r.I16();
  v.imagesDirID = r.I32();
  v.jobsVRefNum = r.I16();
  v.jobsDirID = r.I32();
  v.finishedVRefNum = r.I16();
  v.finishedDirID = r.I32();
  v.unknownVRefNum = r.I16();
  v.unknownDirID = r.I32();
  v.enableBackground = r.I16();
  v.databaseVRefNum = r.I16();
  v.databaseDirID = r.I32();
  v.reserved38 = r.I16();
  v.autoStart = r.I16();
  v.createRootIfMissing = r.I16();
  r.Str(v.reserved44);
  DecodeMyFSSpec(r.Here(), v.rootSpec, order);
  r.Skip(kMyFSSpecSize);
  v.blckSwitch = r.I16();
  v.reserved212 = r.I16();
  v.keepJobFiles = r.I16();
  v.dualSwitch = r.I16();
  v.fullRescan = r.I16();
  v.hideImage = r.I16();
  v.askOnFailedJob = r.I16();
  v.t3amSwitch = r.I16();
  DecodeMyFSSpec(r.Here(), v.secondRootSpec, order);
  r.Skip(kMyFSSpecSize);
  v.secondRootVRefNum = r.I16();
  v.secondRootDirID = r.I32();
  v.reserved334 = r.I16();
  v.reserved336 = r.I16();
  r.Bytes(v.reserved338);
}

void EncodeSpecialPrintToFilePref(const tSpecialPrintToFilePref& v, uint8_t* out, RecordByteOrder order) {
  EncodeFolderFSSpec(v.folder, out, order);
  Writer w(out + kFolderFSSpecSize, order);
  w.I16(v.hasYearbookRecords);  // 362
  w.Str(v.yearbookFolderName);  // 364
  w.I16(v.reserved396);         // 396
  w.I16(v.orientation);         // 398
  w.I16(v.rotation);            // 400
  w.I16(v.fileFormat);          // 402
  w.Str(v.baseName);            // 404
  w.Str(v.extension);           // 468
  w.I16(v.forceOrientation);    // 500
  w.I16(v.namingType);          // 502
  w.I16(v.yearbookNaming);      // 504
  for (const int16_t f : v.yearbookFields) w.I16(f);          // 506
  for (const auto& s : v.yearbookSeparators) w.Str(s, 10);    // 514
  w.I16(v.skipCKProperties);    // 554
  w.Str(v.subFolderName);       // 556
  w.Str(v.groupFolderName);     // 620
  w.I16(v.createJpegForWeb);    // 684
  w.I16(v.maxSize);
  w.I16(v.doNotResizeJpegForWeb);
  w.I16(v.ftpSite);
  w.I16(v.doNotResizePng);
  w.I16(v.overwrite);           // 694
  w.Str(v.editText);            // 696
  for (const int16_t s : v.alsoCopyToSet) w.I16(s);           // 952
  w.Bytes(v.reserved958);       // 958
  assert(kFolderFSSpecSize + w.Pos() == kSpecialPrintToFilePrefSize);
}

void DecodeSpecialPrintToFilePref(const uint8_t* in, tSpecialPrintToFilePref& v, RecordByteOrder order) {
  DecodeFolderFSSpec(in, v.folder, order);
  Reader r(in + kFolderFSSpecSize, order);
  v.hasYearbookRecords = r.I16();
  r.Str(v.yearbookFolderName);
  v.reserved396 = r.I16();
  v.orientation = r.I16();
  v.rotation = r.I16();
  v.fileFormat = r.I16();
  r.Str(v.baseName);
  r.Str(v.extension);
  v.forceOrientation = r.I16();
  v.namingType = r.I16();
  v.yearbookNaming = r.I16();
  for (int16_t& f : v.yearbookFields) f = r.I16();
  for (auto& s : v.yearbookSeparators) r.Str(s, 10);
  v.skipCKProperties = r.I16();
  r.Str(v.subFolderName);
  r.Str(v.groupFolderName);
  v.createJpegForWeb = r.I16();
  v.maxSize = r.I16();
  v.doNotResizeJpegForWeb = r.I16();
  v.ftpSite = r.I16();
  v.doNotResizePng = r.I16();
  v.overwrite = r.I16();
  r.Str(v.editText);
  for (int16_t& s : v.alsoCopyToSet) s = r.I16();
  r.Bytes(v.reserved958);
}

void EncodePrintToFilePrefs(const tPrintToFilePrefs& v, uint8_t* out, RecordByteOrder order) {
  EncodeFolderFSSpec(v.folder, out, order);
  Writer w(out + kFolderFSSpecSize, order);
  w.I16(v.orientation);
  w.I16(v.rotation);
  w.I16(v.fileFormat);
  w.Str(v.baseName);   // 368
  w.Str(v.extension);  // 400
  w.I16(v.reserved432);
  w.I16(v.reserved434);
  w.I16(v.namingType);  // 436
  w.I16(v.reserved438);
  w.I16(v.skipCKProperties);  // 440
  w.Bytes(v.reserved442);
  assert(kFolderFSSpecSize + w.Pos() == kPrintToFilePrefsSize);
}

void DecodePrintToFilePrefs(const uint8_t* in, tPrintToFilePrefs& v, RecordByteOrder order) {
  DecodeFolderFSSpec(in, v.folder, order);
  Reader r(in + kFolderFSSpecSize, order);
  v.orientation = r.I16();
  v.rotation = r.I16();
  v.fileFormat = r.I16();
  r.Str(v.baseName);
  r.Str(v.extension);
  v.reserved432 = r.I16();
  v.reserved434 = r.I16();
  v.namingType = r.I16();
  v.reserved438 = r.I16();
  v.skipCKProperties = r.I16();
  r.Bytes(v.reserved442);
}

void EncodeProcessedJobsPrefs(const tProcessedJobsPrefs& v, uint8_t* out, RecordByteOrder order) {
  EncodeFolderFSSpec(v.folder, out, order);
  Writer w(out + kFolderFSSpecSize, order);
  w.I16(v.useNewHandOff);
  w.Bytes(v.reserved364);
  assert(kFolderFSSpecSize + w.Pos() == kProcessedJobsPrefsSize);
}

void DecodeProcessedJobsPrefs(const uint8_t* in, tProcessedJobsPrefs& v, RecordByteOrder order) {
  DecodeFolderFSSpec(in, v.folder, order);
  Reader r(in + kFolderFSSpecSize, order);
  v.useNewHandOff = r.I16();
  r.Bytes(v.reserved364);
}

void EncodePrintToCDPref(const tPrintToCDPref& v, uint8_t* out, RecordByteOrder order) {
  EncodeFolderFSSpec(v.folder, out, order);
  Writer w(out + kFolderFSSpecSize, order);
  w.I16(v.orientation);
  w.I16(v.rotation);
  w.I16(v.fileFormat);
  w.Str(v.baseName);   // 368
  w.Str(v.extension);  // 432
  w.U8(v.reserved464);  // 464
  w.Zeros(1);           // alignment byte at 465
  w.I16(v.namingType);  // 466
  EncodeFolderFSSpec(v.secondFolder, w.Here(), order);  // 468
  w.Advance(kFolderFSSpecSize);
  w.Bytes(v.reserved830);
  assert(kFolderFSSpecSize + w.Pos() == kPrintToCDPrefSize);
}

void DecodePrintToCDPref(const uint8_t* in, tPrintToCDPref& v, RecordByteOrder order) {
  DecodeFolderFSSpec(in, v.folder, order);
  Reader r(in + kFolderFSSpecSize, order);
  v.orientation = r.I16();
  v.rotation = r.I16();
  v.fileFormat = r.I16();
  r.Str(v.baseName);
  r.Str(v.extension);
  v.reserved464 = r.U8();
  r.Skip(1);
  v.namingType = r.I16();
  DecodeFolderFSSpec(r.Here(), v.secondFolder, order);
  r.Skip(kFolderFSSpecSize);
  r.Bytes(v.reserved830);
}

void EncodeOutputFilePrefs(const tOutputFilePrefs& v, uint8_t* out, RecordByteOrder order) {
  Writer w(out, order);
  w.I16(v.jpegQuality);
  w.I16(v.secondQuality);
  w.Bytes(v.reserved4);
  assert(w.Pos() == kOutputFilePrefsSize);
}

void DecodeOutputFilePrefs(const uint8_t* in, tOutputFilePrefs& v, RecordByteOrder order) {
  Reader r(in, order);
  v.jpegQuality = r.I16();
  v.secondQuality = r.I16();
  r.Bytes(v.reserved4);
}
