// The records a job file carries whole besides the object descriptors: the
// printer settings blocks, the job information, the yearbook records, the
// colour-matching settings and the small records of the page finish. Each is
// stored big-endian; its Fields() layout lists the converted words and the
// raw byte runs (kept exactly as stored) in file order, and serves both
// decoding and encoding (layout::DecodeRecord / layout::EncodeRecord).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/base/PascalString.h"
#include "imaging/ImageProperties.h"
#include "layout/Descriptors.h"
#include "layout/StoredBytes.h"
#include "prefs/PrefRecords.h"

struct myValueRec {
  std::array<uint32_t, 3> value{};
  static constexpr size_t kStoredSize = 12;
  template <class IO, class R>
  static void Fields(IO& io, R& r) { for (auto& v : r.value) io.u32(v); }
  friend bool operator==(const myValueRec&, const myValueRec&) = default;
};

struct myUpdColorAdjustInfo {
  std::array<myValueRec, 10> values{};
  uint16_t w120 = 0;
  static constexpr size_t kStoredSize = 122;
  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    for (auto& v : r.values) myValueRec::Fields(io, v);
    io.u16(r.w120);
  }
  friend bool operator==(const myUpdColorAdjustInfo&, const myUpdColorAdjustInfo&) = default;
};

struct myUpdColorAdjustInfo2 {
  uint16_t w0 = 0;
  uint16_t w2 = 0;  // low byte: the job's useColorSettings for some printers
  std::array<myValueRec, 10> values{};
  uint16_t w124 = 0;
  myCocoaImageColorAdjustInfo cocoa;
  std::array<uint8_t, 1058> raw{};
  static constexpr size_t kStoredSize = 1224;
  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    io.u16(r.w0); io.u16(r.w2);
    for (auto& v : r.values) myValueRec::Fields(io, v);
    io.u16(r.w124);
    myCocoaImageColorAdjustInfo::Fields(io, r.cocoa);
    io.raw(r.raw);
  }
  friend bool operator==(const myUpdColorAdjustInfo2&, const myUpdColorAdjustInfo2&) = default;
};

struct KodakSettings {
  std::array<uint16_t, 9> words{};
  std::array<uint8_t, 2> raw18{};
  uint16_t w20 = 0, w22 = 0;
  std::array<uint8_t, 4> raw24{};
  uint16_t w28 = 0, w30 = 0;
  static constexpr size_t kStoredSize = 32;
  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    for (auto& w : r.words) io.u16(w);
    io.raw(r.raw18); io.u16(r.w20); io.u16(r.w22); io.raw(r.raw24); io.u16(r.w28); io.u16(r.w30);
  }
  friend bool operator==(const KodakSettings&, const KodakSettings&) = default;
};

struct tMediaTypePref {
  std::array<uint16_t, 8> words{};
  std::array<uint8_t, 118> raw{};
  static constexpr size_t kStoredSize = 134;
  template <class IO, class R>
  static void Fields(IO& io, R& r) { for (auto& w : r.words) io.u16(w); io.raw(r.raw); }
  friend bool operator==(const tMediaTypePref&, const tMediaTypePref&) = default;
};

struct myFujiColorAdjustInfo {
  std::array<uint16_t, 3> words{};
  std::array<myValueRec, 12> values{};
  uint16_t w150 = 0, w152 = 0;
  std::array<uint8_t, 128> raw{};
  static constexpr size_t kStoredSize = 282;
  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    for (auto& w : r.words) io.u16(w);
    for (auto& v : r.values) myValueRec::Fields(io, v);
    io.u16(r.w150); io.u16(r.w152); io.raw(r.raw);
  }
  friend bool operator==(const myFujiColorAdjustInfo&, const myFujiColorAdjustInfo&) = default;
};

struct tMitsubishiSettings {
  std::array<uint16_t, 7> words{};
  std::array<uint8_t, 2> raw14{};
  std::array<uint32_t, 9> longs{};
  std::array<uint16_t, 3> words52{};
  myUpdColorAdjustInfo colorAdjust;
  std::array<uint16_t, 3> words180{};
  std::array<uint8_t, 10110> raw{};
  static constexpr size_t kStoredSize = 10296;
  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    for (auto& w : r.words) io.u16(w);
    io.raw(r.raw14);
    for (auto& l : r.longs) io.u32(l);
    for (auto& w : r.words52) io.u16(w);
    myUpdColorAdjustInfo::Fields(io, r.colorAdjust);
    for (auto& w : r.words180) io.u16(w);
    io.raw(r.raw);
  }
  friend bool operator==(const tMitsubishiSettings&, const tMitsubishiSettings&) = default;
};

struct tMitsubishiMediaPref {
  std::array<uint16_t, 10> words{};
  std::array<uint8_t, 128> raw{};
  static constexpr size_t kStoredSize = 148;
  template <class IO, class R>
  static void Fields(IO& io, R& r) { for (auto& w : r.words) io.u16(w); io.raw(r.raw); }
  friend bool operator==(const tMitsubishiMediaPref&, const tMitsubishiMediaPref&) = default;
};

struct tShinkoPrinterSettings {
  myUpdColorAdjustInfo colorAdjust;
  uint16_t w122 = 0;
  std::array<uint8_t, 256> raw{};
  static constexpr size_t kStoredSize = 380;
  template <class IO, class R>
  static void Fields(IO& io, R& r) { myUpdColorAdjustInfo::Fields(io, r.colorAdjust); io.u16(r.w122); io.raw(r.raw); }
  friend bool operator==(const tShinkoPrinterSettings&, const tShinkoPrinterSettings&) = default;
};

struct tNoritsuPrinterSettings {
  myUpdColorAdjustInfo colorAdjust;
  std::array<uint8_t, 512> raw{};
  static constexpr size_t kStoredSize = 634;
  template <class IO, class R>
  static void Fields(IO& io, R& r) { myUpdColorAdjustInfo::Fields(io, r.colorAdjust); io.raw(r.raw); }
  friend bool operator==(const tNoritsuPrinterSettings&, const tNoritsuPrinterSettings&) = default;
};

struct tOlmecOP800PrinterSettings : tNoritsuPrinterSettings {};

struct tDNPPrinterSettings {
  uint16_t w0 = 0, w2 = 0;
  std::array<float, 10> values{};
  std::array<uint8_t, 1008> raw44{};
  uint16_t w1052 = 0;
  std::array<uint8_t, 254> raw1054{};
  static constexpr size_t kStoredSize = 1308;
  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    io.u16(r.w0); io.u16(r.w2);
    for (auto& v : r.values) io.f32(v);
    io.raw(r.raw44); io.u16(r.w1052); io.raw(r.raw1054);
  }
  friend bool operator==(const tDNPPrinterSettings&, const tDNPPrinterSettings&) = default;
};

struct tPrint2FileItem {
  uint16_t setNumber = 0;     // print-to-file set 1 to 8 of a set job
  uint16_t transparency = 0;  // non-zero: the page keeps keyed images' transparency
  uint16_t w4 = 0;
  std::array<uint8_t, 124> raw{};
  static constexpr size_t kStoredSize = 130;
  template <class IO, class R>
  static void Fields(IO& io, R& r) { io.u16(r.setNumber); io.u16(r.transparency); io.u16(r.w4); io.raw(r.raw); }
  friend bool operator==(const tPrint2FileItem&, const tPrint2FileItem&) = default;
};

struct tJobInfo {
  CStr31_AC first;   // "Current" marks a current job
  CStr31_AC second;
  uint16_t w64 = 0;
  float f66 = 0;
  uint16_t w70 = 0, w72 = 0, w74 = 0;
  static constexpr size_t kStoredSize = 76;
  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    io.str(r.first); io.str(r.second); io.u16(r.w64); io.f32(r.f66);
    io.u16(r.w70); io.u16(r.w72); io.u16(r.w74);
  }
};

// 41 strings of 256 bytes, kept as stored.
struct tRecordStruct {
  std::array<uint8_t, 10496> strings{};
  static constexpr size_t kStoredSize = 10496;
  template <class IO, class R>
  static void Fields(IO& io, R& r) { io.raw(r.strings); }
  friend bool operator==(const tRecordStruct&, const tRecordStruct&) = default;
};

struct tPrinterColorSyncPrefs {
  uint16_t w0 = 0, w2 = 0;
  FSSpec profile;
  uint16_t w74 = 0;
  std::array<uint8_t, 126> raw{};
  static constexpr size_t kStoredSize = 202;
  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    io.u16(r.w0); io.u16(r.w2); io.fsspec(r.profile); io.u16(r.w74); io.raw(r.raw);
  }
};

struct tColorSyncPrefs {
  uint16_t w0 = 0;
  std::array<FSSpec, 3> profiles{};
  std::array<tPrinterColorSyncPrefs, 100> printers{};
  CStr255_AC string20412;
  CStr255_AC string20668;
  std::array<CStr255_AC, 100> strings{};
  uint16_t applyEmbedded = 0;  // non-zero: apply embedded profiles
  uint16_t w46526 = 0;
  std::array<uint8_t, 1022> raw{};
  static constexpr size_t kStoredSize = 47550;
  static constexpr size_t kApplyEmbeddedOffset = 46524;
  template <class IO, class R>
  static void Fields(IO& io, R& r) {
    io.u16(r.w0);
    for (auto& p : r.profiles) io.fsspec(p);
    for (auto& p : r.printers) tPrinterColorSyncPrefs::Fields(io, p);
    io.str(r.string20412); io.str(r.string20668);
    for (auto& s : r.strings) io.str(s);
    io.u16(r.applyEmbedded); io.u16(r.w46526); io.raw(r.raw);
  }
};

struct tOldTimePhotoPrefs {
  myImageColorAdjustInfo tint;
  uint16_t strength = 0;  // percent
  std::array<uint8_t, 128> raw{};
  static constexpr size_t kStoredSize = 142;
  template <class IO, class R>
  static void Fields(IO& io, R& r) { myImageColorAdjustInfo::Fields(io, r.tint); io.u16(r.strength); io.raw(r.raw); }
  friend bool operator==(const tOldTimePhotoPrefs&, const tOldTimePhotoPrefs&) = default;
};

// A fixed 256-byte string field (length byte, 255 text bytes, tail).
struct CStr255Field {
  CStr255_AC value;
  static constexpr size_t kStoredSize = 256;
  template <class IO, class R>
  static void Fields(IO& io, R& r) { io.str(r.value); }
};

// The printer settings blocks a job may carry: one slot per kind of block
// (two colour-adjust slots, two media slots, one of each other record).
struct TPrinterBlocks {
  std::array<myUpdColorAdjustInfo2, 2> colorAdjust{};
  std::array<tMediaTypePref, 2> mediaType{};
  KodakSettings kodak;
  myFujiColorAdjustInfo fuji;
  std::unique_ptr<tMitsubishiSettings> mitsubishi = std::make_unique<tMitsubishiSettings>();
  tMitsubishiMediaPref mitsubishiMedia;
  tShinkoPrinterSettings shinko;
  tNoritsuPrinterSettings noritsu;
  tOlmecOP800PrinterSettings olmec;
  tDNPPrinterSettings dnp;
  tPrint2FileItem print2File;

  TPrinterBlocks() = default;
  TPrinterBlocks(const TPrinterBlocks& o) { *this = o; }
  TPrinterBlocks& operator=(const TPrinterBlocks& o);
};

namespace pipeline {

// Which blocks follow the header for a printer code, in file order. Unknown
// codes (0, 4, 14, 22, 35 and anything outside 0..57) carry none.
enum class EPrinterBlock {
  kColorAdjust0, kColorAdjust1, kMedia0, kMedia1, kKodak, kFuji,
  kMitsubishi, kMitsubishiMedia, kShinko, kNoritsu, kOlmec, kDNP, kPrint2File,
};
std::vector<EPrinterBlock> PrinterBlocksFor(int16_t printerCode, bool* known = nullptr);
// The stored size of one block.
size_t PrinterBlockSize(EPrinterBlock block);

// Reads the blocks of the printer code into their slots; false for a code
// that is not known (nothing read).
// The print-to-file set record as a job carries it: 982 bytes, big-endian.
tSpecialPrintToFilePref ReadSpecialPrintToFilePref(layout::TJobStream& stream);
void WriteSpecialPrintToFilePref(layout::TJobWriter& out, const tSpecialPrintToFilePref& pref);

bool ReadPrinterBlocks(layout::TJobStream& stream, int16_t printerCode, TPrinterBlocks& blocks);
void WritePrinterBlocks(layout::TJobWriter& out, int16_t printerCode, const TPrinterBlocks& blocks);

}  // namespace pipeline
