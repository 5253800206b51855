#include "pipeline/PrinterRecords.h"

TPrinterBlocks& TPrinterBlocks::operator=(const TPrinterBlocks& o) {
  if (this == &o) return *this;
  colorAdjust = o.colorAdjust;
  mediaType = o.mediaType;
  kodak = o.kodak;
  fuji = o.fuji;
  *mitsubishi = *o.mitsubishi;
  mitsubishiMedia = o.mitsubishiMedia;
  shinko = o.shinko;
  noritsu = o.noritsu;
  olmec = o.olmec;
  dnp = o.dnp;
  print2File = o.print2File;
  return *this;
}

namespace pipeline {

using B = EPrinterBlock;

std::vector<EPrinterBlock> PrinterBlocksFor(int16_t code, bool* known) {
  if (known) *known = true;
  switch (code) {
    case 1: case 2: case 3: case 10: case 18: return {B::kColorAdjust0};
    case 9: case 21: case 37: case 39: case 41: case 42: return {B::kColorAdjust0, B::kMedia0};
    case 5: case 6: case 7: return {B::kKodak, B::kColorAdjust1};
    case 12: case 13: case 19: case 20: return {B::kFuji};
    case 23: return {B::kMitsubishi, B::kMitsubishiMedia};
    case 11: case 31: case 32: case 36: case 43: case 44: case 47: case 53: case 56: case 57:
      return {B::kMitsubishi, B::kMedia0};
    case 24: case 29: case 33: return {B::kColorAdjust1, B::kMedia1};
    case 25: case 26: case 27: case 28: case 49: case 50: case 51: case 52: return {B::kPrint2File};
    case 15: case 16: case 40: return {B::kShinko, B::kMedia0};
    case 30: return {B::kNoritsu, B::kMedia0};
    case 38: return {B::kOlmec, B::kMedia0};
    case 45: case 46: case 48: case 54: case 55: return {B::kDNP, B::kMedia0};
    case 8: case 17: case 34: return {};
    default:
      if (known) *known = false;
      return {};
  }
}

size_t PrinterBlockSize(EPrinterBlock block) {
  switch (block) {
    case B::kColorAdjust0: case B::kColorAdjust1: return myUpdColorAdjustInfo2::kStoredSize;
    case B::kMedia0: case B::kMedia1: return tMediaTypePref::kStoredSize;
    case B::kKodak: return KodakSettings::kStoredSize;
    case B::kFuji: return myFujiColorAdjustInfo::kStoredSize;
    case B::kMitsubishi: return tMitsubishiSettings::kStoredSize;
    case B::kMitsubishiMedia: return tMitsubishiMediaPref::kStoredSize;
    case B::kShinko: return tShinkoPrinterSettings::kStoredSize;
    case B::kNoritsu: return tNoritsuPrinterSettings::kStoredSize;
    case B::kOlmec: return tOlmecOP800PrinterSettings::kStoredSize;
    case B::kDNP: return tDNPPrinterSettings::kStoredSize;
    case B::kPrint2File: return tPrint2FileItem::kStoredSize;
  }
  return 0;
}

tSpecialPrintToFilePref ReadSpecialPrintToFilePref(layout::TJobStream& stream) {
  auto bytes = stream.ReadBytes(kSpecialPrintToFilePrefSize);
  tSpecialPrintToFilePref pref;
  DecodeSpecialPrintToFilePref(bytes.data(), pref, RecordByteOrder::kBigEndian);
  return pref;
}

void WriteSpecialPrintToFilePref(layout::TJobWriter& out, const tSpecialPrintToFilePref& pref) {
  std::array<uint8_t, kSpecialPrintToFilePrefSize> bytes{};
  EncodeSpecialPrintToFilePref(pref, bytes.data(), RecordByteOrder::kBigEndian);
  out.WriteBytes(bytes);
}

bool ReadPrinterBlocks(layout::TJobStream& s, int16_t code, TPrinterBlocks& b) {
  bool known = false;
  for (EPrinterBlock block : PrinterBlocksFor(code, &known)) {
    switch (block) {
      case B::kColorAdjust0: b.colorAdjust[0] = s.ReadRecord<myUpdColorAdjustInfo2>(); break;
      case B::kColorAdjust1: b.colorAdjust[1] = s.ReadRecord<myUpdColorAdjustInfo2>(); break;
      case B::kMedia0: b.mediaType[0] = s.ReadRecord<tMediaTypePref>(); break;
      case B::kMedia1: b.mediaType[1] = s.ReadRecord<tMediaTypePref>(); break;
      case B::kKodak: b.kodak = s.ReadRecord<KodakSettings>(); break;
      case B::kFuji: b.fuji = s.ReadRecord<myFujiColorAdjustInfo>(); break;
      case B::kMitsubishi: *b.mitsubishi = s.ReadRecord<tMitsubishiSettings>(); break;
      case B::kMitsubishiMedia: b.mitsubishiMedia = s.ReadRecord<tMitsubishiMediaPref>(); break;
      case B::kShinko: b.shinko = s.ReadRecord<tShinkoPrinterSettings>(); break;
      case B::kNoritsu: b.noritsu = s.ReadRecord<tNoritsuPrinterSettings>(); break;
      case B::kOlmec: static_cast<tNoritsuPrinterSettings&>(b.olmec) = s.ReadRecord<tNoritsuPrinterSettings>(); break;
      case B::kDNP: b.dnp = s.ReadRecord<tDNPPrinterSettings>(); break;
      case B::kPrint2File: b.print2File = s.ReadRecord<tPrint2FileItem>(); break;
    }
  }
  return known;
}

void WritePrinterBlocks(layout::TJobWriter& out, int16_t code, const TPrinterBlocks& b) {
  for (EPrinterBlock block : PrinterBlocksFor(code)) {
    switch (block) {
      case B::kColorAdjust0: out.WriteRecord(b.colorAdjust[0]); break;
      case B::kColorAdjust1: out.WriteRecord(b.colorAdjust[1]); break;
      case B::kMedia0: out.WriteRecord(b.mediaType[0]); break;
      case B::kMedia1: out.WriteRecord(b.mediaType[1]); break;
      case B::kKodak: out.WriteRecord(b.kodak); break;
      case B::kFuji: out.WriteRecord(b.fuji); break;
      case B::kMitsubishi: out.WriteRecord(*b.mitsubishi); break;
      case B::kMitsubishiMedia: out.WriteRecord(b.mitsubishiMedia); break;
      case B::kShinko: out.WriteRecord(b.shinko); break;
      case B::kNoritsu: out.WriteRecord(b.noritsu); break;
      case B::kOlmec: out.WriteRecord(static_cast<const tNoritsuPrinterSettings&>(b.olmec)); break;
      case B::kDNP: out.WriteRecord(b.dnp); break;
      case B::kPrint2File: out.WriteRecord(b.print2File); break;
    }
  }
}

}  // namespace pipeline
