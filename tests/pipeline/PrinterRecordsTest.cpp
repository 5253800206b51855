// Stored sizes of the printer settings records and their byte-exact round
// trips.
#include <gtest/gtest.h>

#include <random>

#include "pipeline/PrinterRecords.h"

using namespace layout;

namespace {

template <typename R>
void ExpectByteExactRoundTrip(std::vector<size_t> str63LengthBytes = {}) {
  std::vector<uint8_t> bytes(R::kStoredSize);
  std::mt19937 rng(1234);
  for (auto& b : bytes) b = uint8_t(rng());
  for (size_t at : str63LengthBytes) bytes[at] %= 64;
  auto r = std::make_unique<R>(DecodeRecord<R>(bytes));
  EXPECT_EQ(EncodeRecord(*r), bytes);
}

}  // namespace

TEST(PrinterRecords, LayoutsMatchTheirStoredSizes) {
  EXPECT_EQ(LayoutSize<myValueRec>(), 12u);
  EXPECT_EQ(LayoutSize<myUpdColorAdjustInfo>(), 122u);
  EXPECT_EQ(LayoutSize<myCocoaImageColorAdjustInfo>(), 40u);
  EXPECT_EQ(LayoutSize<myUpdColorAdjustInfo2>(), 1224u);
  EXPECT_EQ(LayoutSize<KodakSettings>(), 32u);
  EXPECT_EQ(LayoutSize<tMediaTypePref>(), 134u);
  EXPECT_EQ(LayoutSize<myFujiColorAdjustInfo>(), 282u);
  EXPECT_EQ(LayoutSize<tMitsubishiMediaPref>(), 148u);
  EXPECT_EQ(LayoutSize<tShinkoPrinterSettings>(), 380u);
  EXPECT_EQ(LayoutSize<tNoritsuPrinterSettings>(), 634u);
  EXPECT_EQ(LayoutSize<tOlmecOP800PrinterSettings>(), 634u);
  EXPECT_EQ(LayoutSize<tDNPPrinterSettings>(), 1308u);
  EXPECT_EQ(LayoutSize<tPrint2FileItem>(), 130u);
  EXPECT_EQ(LayoutSize<tJobInfo>(), 76u);
  EXPECT_EQ(LayoutSize<tPrinterColorSyncPrefs>(), 202u);
  EXPECT_EQ(LayoutSize<tOldTimePhotoPrefs>(), 142u);
  // The big ones live on the heap.
  RecordSizer m;
  auto mitsu = std::make_unique<tMitsubishiSettings>();
  tMitsubishiSettings::Fields(m, *mitsu);
  EXPECT_EQ(m.consumed(), 10296u);
  RecordSizer c;
  auto cs = std::make_unique<tColorSyncPrefs>();
  tColorSyncPrefs::Fields(c, *cs);
  EXPECT_EQ(c.consumed(), 47550u);
}

TEST(PrinterRecords, ConvertedWordsSitWhereTheLayoutSays) {
  myUpdColorAdjustInfo2 ca;
  ca.w2 = 0x0102;
  ca.values[9].value[2] = 0xAABBCCDD;
  ca.w124 = 0x0304;
  ca.cocoa.values[0] = 1.5f;
  ca.raw[0] = 0x77;
  auto b = EncodeRecord(ca);
  EXPECT_EQ(LoadU16BE(&b[2]), 0x0102);
  EXPECT_EQ(LoadU32BE(&b[120]), 0xAABBCCDDu);
  EXPECT_EQ(LoadU16BE(&b[124]), 0x0304);
  EXPECT_EQ(BitsToFloat(LoadU32BE(&b[126])), 1.5f);
  EXPECT_EQ(b[166], 0x77);

  auto cs = std::make_unique<tColorSyncPrefs>();
  cs->applyEmbedded = 1;
  cs->printers[99].w74 = 0x0506;
  cs->strings[99] = "last";
  auto cb = EncodeRecord(*cs);
  EXPECT_EQ(LoadU16BE(&cb[tColorSyncPrefs::kApplyEmbeddedOffset]), 1);
  EXPECT_EQ(LoadU16BE(&cb[212 + 99 * 202 + 74]), 0x0506);
  EXPECT_EQ(cb[20924 + 99 * 256], 4);

  tDNPPrinterSettings dnp;
  dnp.w1052 = 0x0708;
  EXPECT_EQ(LoadU16BE(&EncodeRecord(dnp)[1052]), 0x0708);

  tMitsubishiSettings* mitsu = new tMitsubishiSettings;
  mitsu->colorAdjust.w120 = 0x0909;
  mitsu->words180[2] = 0x0A0B;
  auto mb = EncodeRecord(*mitsu);
  EXPECT_EQ(LoadU16BE(&mb[58 + 120]), 0x0909);
  EXPECT_EQ(LoadU16BE(&mb[184]), 0x0A0B);
  delete mitsu;
}

TEST(PrinterRecords, DecodeThenEncodeGivesTheStoredBytesBack) {
  ExpectByteExactRoundTrip<myUpdColorAdjustInfo2>();
  ExpectByteExactRoundTrip<KodakSettings>();
  ExpectByteExactRoundTrip<tMediaTypePref>();
  ExpectByteExactRoundTrip<myFujiColorAdjustInfo>();
  ExpectByteExactRoundTrip<tMitsubishiSettings>();
  ExpectByteExactRoundTrip<tMitsubishiMediaPref>();
  ExpectByteExactRoundTrip<tShinkoPrinterSettings>();
  ExpectByteExactRoundTrip<tNoritsuPrinterSettings>();
  ExpectByteExactRoundTrip<tDNPPrinterSettings>();
  ExpectByteExactRoundTrip<tPrint2FileItem>();
  ExpectByteExactRoundTrip<tRecordStruct>();
  ExpectByteExactRoundTrip<tOldTimePhotoPrefs>();
  // Colour-matching settings: every string field takes any length byte up to
  // 255, so random bytes come back whole, strings included.
  std::vector<size_t> names = {2 + 6, 72 + 6, 142 + 6};
  for (size_t i = 0; i < 100; ++i) names.push_back(212 + i * 202 + 10);
  ExpectByteExactRoundTrip<tColorSyncPrefs>(names);
}

TEST(PrinterRecords, OverlongStringLengthIsClampedToItsField) {
  std::vector<uint8_t> bytes(tJobInfo::kStoredSize, 'x');
  bytes[0] = 200;  // more than a 32-byte field holds
  bytes[32] = 7;
  auto info = DecodeRecord<tJobInfo>(bytes);
  EXPECT_EQ(info.first.Length(), 31u);
  EXPECT_EQ(info.second.Length(), 7u);
}
