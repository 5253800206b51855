#include "prefs/PrefRecords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace {

TEST(PrefDefaults, SetsAndWebUploadAfterSetAllDefaults) {
  mySetAllDefaults();
  const tSpecialPrintToFilePref* set5 = getMyPrintToFileSetPrefs(5);
  ASSERT_NE(set5, nullptr);
  EXPECT_EQ(set5->folder.aliasID, 4515);
  EXPECT_EQ(set5->folder.createIfMissing, 1);
  EXPECT_EQ(set5->folder.spec.vRefNum, -9999);
  EXPECT_EQ(set5->folder.spec.parID, -9999);
  EXPECT_EQ(set5->fileFormat, 3);
  EXPECT_EQ(set5->namingType, 3);
  EXPECT_EQ(set5->orientation, 1);
  EXPECT_EQ(set5->rotation, 2);
  EXPECT_EQ(set5->maxSize, 640);
  EXPECT_EQ(set5->ftpSite, 1);
  EXPECT_TRUE(set5->baseName == "Print");
  EXPECT_TRUE(set5->extension == ".jpg");

  tSpecialPrintToFilePref web = *getMyWebUploadPrefs();
  EXPECT_EQ(web.folder.aliasID, 4566);
  EXPECT_EQ(web.fileFormat, 10);
  EXPECT_EQ(web.maxSize, 0);
  EXPECT_EQ(web.ftpSite, 0);
  // Identical otherwise.
  web.folder.aliasID = 4515;
  web.fileFormat = 3;
  web.maxSize = 640;
  web.ftpSite = 1;
  EXPECT_EQ(web, *set5);

  for (int16_t n = 1; n <= 8; ++n) EXPECT_EQ(getMyPrintToFileSetPrefs(n)->folder.aliasID, 4510 + n);
  EXPECT_EQ(getMyPrintToFileSetPrefs(0), nullptr);
  EXPECT_EQ(getMyPrintToFileSetPrefs(9), nullptr);
}

TEST(PrefDefaults, OtherRecords) {
  mySetAllDefaults();
  const tPrintServerPrefs& ps = *getMyPrintServerPrefs();
  EXPECT_EQ(ps.rootVRefNum, -9999);
  EXPECT_EQ(ps.rootDirID, 0);
  EXPECT_EQ(ps.databaseVRefNum, -9999);
  EXPECT_EQ(ps.enableBackground, 1);
  EXPECT_EQ(ps.autoStart, 1);
  EXPECT_EQ(ps.createRootIfMissing, 1);
  EXPECT_EQ(ps.reserved212, 5);
  EXPECT_EQ(ps.fullRescan, 1);
  EXPECT_EQ(ps.askOnFailedJob, 0);
  EXPECT_EQ(ps.rootSpec.spec.vRefNum, -9999);
  EXPECT_EQ(ps.rootSpec.spec.parID, 0);
  EXPECT_EQ(ps.secondRootVRefNum, -9999);
  EXPECT_EQ(ps.reserved334, 1);

  const tPrintToFilePrefs& ptf = *getMyPrintToFilePrefs();
  EXPECT_EQ(ptf.folder.aliasID, 4501);
  EXPECT_EQ(ptf.namingType, 1);
  EXPECT_EQ(ptf.fileFormat, 3);
  EXPECT_EQ(getMyProcessedJobsPrefs()->folder.aliasID, 4502);
  EXPECT_EQ(getMyProcessedJobsPrefs()->useNewHandOff, 0);
  const tPrintToCDPref& cd = *getMyPrintToCDSetPrefs();
  EXPECT_EQ(cd.folder.aliasID, 4529);
  EXPECT_EQ(cd.secondFolder.aliasID, 4530);
  EXPECT_EQ(cd.secondFolder.spec.parID, -9999);
  EXPECT_EQ(cd.namingType, 3);
  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 50);
  EXPECT_EQ(getMyOutputFilePrefs()->secondQuality, 75);

  EXPECT_FALSE(setMyPrintServerPrefToFactoryDefaults(nullptr));
  EXPECT_FALSE(setMyPrintToFileSetPrefsToFactoryDefaults(nullptr, 1));
  EXPECT_FALSE(setMyWebUploadPrefsToFactoryDefaults(nullptr));
}

TEST(PrefDefaults, FolderRecordsAreClearedFirst) {
  tPrintToFilePrefs p;
  p.reserved442.fill(0xAB);
  p.folder.reserved140.fill(0xCD);
  p.skipCKProperties = 1;
  ASSERT_TRUE(setMyPrintToFilePrefToFactoryDefaults(&p));
  EXPECT_EQ(p.reserved442[17], 0);
  EXPECT_EQ(p.folder.reserved140[0], 0);
  EXPECT_EQ(p.skipCKProperties, 0);
}

TEST(PrefValidation, RepairsOutOfRangeValues) {
  tSpecialPrintToFilePref set;
  setMyPrintToFileSetPrefsToFactoryDefaults(&set, 2);
  set.fileFormat = 0;
  set.maxSize = -5;
  set.ftpSite = 0;
  validatePrintToFileSetPrefs(&set);
  EXPECT_EQ(set.fileFormat, 3);
  EXPECT_EQ(set.maxSize, 640);
  EXPECT_EQ(set.ftpSite, 1);
  set.fileFormat = 1;
  set.ftpSite = 4;
  validatePrintToFileSetPrefs(&set);
  EXPECT_EQ(set.fileFormat, 3);
  EXPECT_EQ(set.ftpSite, 4);
  // A format above the last one written fails every job as surely.
  set.fileFormat = 11;
  validatePrintToFileSetPrefs(&set);
  EXPECT_EQ(set.fileFormat, 3);
  for (int16_t format = 2; format <= 10; ++format) {
    set.fileFormat = format;
    validatePrintToFileSetPrefs(&set);
    EXPECT_EQ(set.fileFormat, format);
  }

  tSpecialPrintToFilePref web;
  setMyWebUploadPrefsToFactoryDefaults(&web);
  web.fileFormat = 1;
  web.folder.aliasID = 4511;
  validateWebUploadPrefs(&web);
  EXPECT_EQ(web.fileFormat, 10);
  EXPECT_EQ(web.folder.aliasID, 4566);
  EXPECT_EQ(web.maxSize, 0);
  web.fileFormat = 40;
  validateWebUploadPrefs(&web);
  EXPECT_EQ(web.fileFormat, 10);

  tPrintServerPrefs ps;
  setMyPrintServerPrefToFactoryDefaults(&ps);
  ps.keepJobFiles = 7;
  ps.t3amSwitch = 1;
  validatePrintServerPrefs(&ps);
  EXPECT_EQ(ps.keepJobFiles, 1);
  EXPECT_EQ(ps.t3amSwitch, 0);
  ps.keepJobFiles = 0;
  validatePrintServerPrefs(&ps);
  EXPECT_EQ(ps.keepJobFiles, 0);
}

TEST(PrefExtensions, ByFileFormat) {
  EXPECT_TRUE(getExtensionFromFileType(1) == ".???");
  EXPECT_TRUE(getExtensionFromFileType(3) == ".jpg");
  EXPECT_TRUE(getExtensionFromFileType(10) == ".jpg");
  EXPECT_TRUE(getExtensionFromFileType(2) == ".tif");
  EXPECT_TRUE(getExtensionFromFileType(6) == ".tif");
  EXPECT_TRUE(getExtensionFromFileType(8) == ".PSD");
  EXPECT_TRUE(getExtensionFromFileType(9) == ".PNG");
  EXPECT_TRUE(getExtensionFromFileType(11) == ".???");
}

uint16_t BE16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

// The set record as station applications write it into job files.
TEST(PrefRecordBytes, SpecialPrintToFileGoldenBigEndian) {
  tSpecialPrintToFilePref p;
  setMyPrintToFileSetPrefsToFactoryDefaults(&p, 3);
  p.folder.spec.vRefNum = -2;
  p.folder.spec.parID = 0x01020304;
  p.folder.spec.name = "Out";
  p.folder.volumeName = "Disk";
  p.hasYearbookRecords = 1;
  p.yearbookFolderName = "YB";
  p.forceOrientation = 1;
  p.yearbookNaming = 1;
  p.yearbookFields = {1, 2, 3, 4};
  p.yearbookSeparators[0] = "_";
  p.yearbookSeparators[3] = "12345678";
  p.skipCKProperties = 1;
  p.subFolderName = "Sub";
  p.groupFolderName = "Grp";
  p.createJpegForWeb = 1;
  p.doNotResizeJpegForWeb = 1;
  p.doNotResizePng = 1;
  p.overwrite = 1;
  p.editText = "Edit";
  p.alsoCopyToSet = {2, 9, 0};
  p.reserved958[23] = 0x77;

  std::vector<uint8_t> b(kSpecialPrintToFilePrefSize, 0xEE);
  EncodeSpecialPrintToFilePref(p, b.data(), RecordByteOrder::kBigEndian);

  EXPECT_EQ(BE16(b, 0), 0xFFFE);
  EXPECT_EQ(b[2], 0x01); EXPECT_EQ(b[3], 0x02); EXPECT_EQ(b[4], 0x03); EXPECT_EQ(b[5], 0x04);
  EXPECT_EQ(b[6], 3); EXPECT_EQ(b[7], 'O'); EXPECT_EQ(b[9], 't'); EXPECT_EQ(b[10], 0);
  EXPECT_EQ(b[70], 4); EXPECT_EQ(b[71], 'D');
  EXPECT_EQ(BE16(b, 102), 4513);
  EXPECT_EQ(BE16(b, 104), 1);
  EXPECT_EQ(BE16(b, 362), 1);
  EXPECT_EQ(b[364], 2); EXPECT_EQ(b[365], 'Y');
  EXPECT_EQ(BE16(b, 398), 1);
  EXPECT_EQ(BE16(b, 400), 2);
  EXPECT_EQ(BE16(b, 402), 3);
  EXPECT_EQ(b[404], 5); EXPECT_EQ(b[405], 'P'); EXPECT_EQ(b[409], 't');
  EXPECT_EQ(b[468], 4); EXPECT_EQ(b[469], '.'); EXPECT_EQ(b[472], 'g');
  EXPECT_EQ(BE16(b, 500), 1);
  EXPECT_EQ(BE16(b, 502), 3);
  EXPECT_EQ(BE16(b, 504), 1);
  EXPECT_EQ(BE16(b, 506), 1); EXPECT_EQ(BE16(b, 512), 4);
  EXPECT_EQ(b[514], 1); EXPECT_EQ(b[515], '_');
  EXPECT_EQ(b[544], 8); EXPECT_EQ(b[545], '1'); EXPECT_EQ(b[552], '8'); EXPECT_EQ(b[553], 0);
  EXPECT_EQ(BE16(b, 554), 1);
  EXPECT_EQ(b[556], 3); EXPECT_EQ(b[557], 'S');
  EXPECT_EQ(b[620], 3); EXPECT_EQ(b[621], 'G');
  EXPECT_EQ(BE16(b, 684), 1);
  EXPECT_EQ(BE16(b, 686), 640);
  EXPECT_EQ(BE16(b, 688), 1);
  EXPECT_EQ(BE16(b, 690), 1);
  EXPECT_EQ(BE16(b, 692), 1);
  EXPECT_EQ(BE16(b, 694), 1);
  EXPECT_EQ(b[696], 4); EXPECT_EQ(b[697], 'E');
  EXPECT_EQ(BE16(b, 952), 2); EXPECT_EQ(BE16(b, 954), 9); EXPECT_EQ(BE16(b, 956), 0);
  EXPECT_EQ(b[981], 0x77);

  tSpecialPrintToFilePref back;
  DecodeSpecialPrintToFilePref(b.data(), back, RecordByteOrder::kBigEndian);
  EXPECT_EQ(back, p);

  std::vector<uint8_t> le(kSpecialPrintToFilePrefSize);
  EncodeSpecialPrintToFilePref(p, le.data(), RecordByteOrder::kLittleEndian);
  EXPECT_EQ(le[686], 0x80); EXPECT_EQ(le[687], 0x02);
  DecodeSpecialPrintToFilePref(le.data(), back, RecordByteOrder::kLittleEndian);
  EXPECT_EQ(back, p);
}

TEST(PrefRecordBytes, OverlongStoredLengthIsClamped) {
  std::vector<uint8_t> b(kSpecialPrintToFilePrefSize, 0);
  b[468] = 200;  // an extension claiming 200 characters in a 32-byte field
  for (int i = 469; i < 500; ++i) b[i] = 'x';
  tSpecialPrintToFilePref p;
  DecodeSpecialPrintToFilePref(b.data(), p, RecordByteOrder::kBigEndian);
  EXPECT_EQ(p.extension.Length(), 31u);
  EXPECT_EQ(p.forceOrientation, 0);
}

TEST(PrefRecordBytes, OtherRecordsRoundTrip) {
  mySetAllDefaults();
  tPrintServerPrefs ps = *getMyPrintServerPrefs();
  ps.rootSpec.volumeName = "Vol";
  ps.secondRootDirID = 0x7FFF0001;
  std::vector<uint8_t> b(kPrintServerPrefsSize);
  EncodePrintServerPrefs(ps, b.data(), RecordByteOrder::kBigEndian);
  EXPECT_EQ(BE16(b, 30), 1);       // enableBackground
  EXPECT_EQ(BE16(b, 108), 0xD8F1); // rootSpec volume -9999
  EXPECT_EQ(b[178], 3);            // rootSpec volume name
  EXPECT_EQ(BE16(b, 212), 5);
  EXPECT_EQ(BE16(b, 226), 0xD8F1);
  EXPECT_EQ(BE16(b, 330), 0x7FFF);
  tPrintServerPrefs psBack;
  DecodePrintServerPrefs(b.data(), psBack, RecordByteOrder::kBigEndian);
  EXPECT_EQ(psBack, ps);

  tPrintToCDPref cd = *getMyPrintToCDSetPrefs();
  cd.reserved464 = 9;
  std::vector<uint8_t> c(kPrintToCDPrefSize);
  EncodePrintToCDPref(cd, c.data(), RecordByteOrder::kBigEndian);
  EXPECT_EQ(c[464], 9);
  EXPECT_EQ(BE16(c, 466), 3);
  EXPECT_EQ(BE16(c, 468 + 102), 4530);
  tPrintToCDPref cdBack;
  DecodePrintToCDPref(c.data(), cdBack, RecordByteOrder::kBigEndian);
  EXPECT_EQ(cdBack, cd);

  tPrintToFilePrefs ptf = *getMyPrintToFilePrefs();
  std::vector<uint8_t> f(kPrintToFilePrefsSize);
  EncodePrintToFilePrefs(ptf, f.data(), RecordByteOrder::kLittleEndian);
  EXPECT_EQ(f[436], 1);
  EXPECT_EQ(f[368], 5);
  tPrintToFilePrefs ptfBack;
  DecodePrintToFilePrefs(f.data(), ptfBack, RecordByteOrder::kLittleEndian);
  EXPECT_EQ(ptfBack, ptf);

  std::vector<uint8_t> o(kOutputFilePrefsSize);
  EncodeOutputFilePrefs(*getMyOutputFilePrefs(), o.data(), RecordByteOrder::kBigEndian);
  EXPECT_EQ(BE16(o, 0), 50);
  EXPECT_EQ(BE16(o, 2), 75);
}

}  // namespace

#include "platform/Polling.h"

namespace {

TEST(PrefPolling, FollowsTheBackgroundSwitch) {
  int repaints = 0;
  platform::SetApplicationPollHook([&] { ++repaints; });
  connectPollingToPrintServerPrefs();
  mySetAllDefaults();
  myPollEvent();
  EXPECT_EQ(repaints, 1);
  getMyPrintServerPrefs()->enableBackground = 0;
  myPollEvent();
  myPollEventOnTicks();
  EXPECT_EQ(repaints, 1);
  platform::SetApplicationPollHook({});
  platform::SetPollSwitch({});
}

}  // namespace

// The records nothing reads hold their load values; the sets' printer table
// has one entry per set printer code and none for any other code.
TEST(PrefRecords, UnreadRecordsAndTheSetPrinterTable) {
  EXPECT_EQ(gSittingDirectoryPrefs, tSittingDirectoryStruct{});
  EXPECT_TRUE(gSittingDirectoryPrefs.first.volumeName.IsEmpty());
  EXPECT_TRUE(gNTServerPrefs.serverName.IsEmpty());
  EXPECT_EQ(gStartupPrefs, tStartupPrefs{});
  EXPECT_EQ(gDornsStartupPrefs, tDornsStartupPrefs{});
  EXPECT_EQ(gOutputPrefs.v, 0);
  EXPECT_EQ(gOutputPrefs.h, 0);
  EXPECT_EQ(mySpecialPrintToFilePref, tSpecialPrintToFilePref{});
  // mySetAllDefaults gives them nothing.
  mySetAllDefaults();
  EXPECT_EQ(mySpecialPrintToFilePref, tSpecialPrintToFilePref{});
  EXPECT_EQ(gDornsStartupPrefs, tDornsStartupPrefs{});

  std::set<const tPrint2FileSetEntry*> entries;
  for (int16_t set = 1; set <= 8; ++set) {
    const int16_t code = PrinterCodeOfPrintToFileSet(set);
    EXPECT_EQ(code, set <= 4 ? 24 + set : 44 + set) << set;
    tPrint2FileSetEntry* entry = getMyPrint2FileSetPref(code);
    ASSERT_NE(entry, nullptr) << code;
    EXPECT_EQ(entry, &gPrint2FileSetPref[size_t(set - 1)]) << code;
    EXPECT_EQ(entry->size(), 5586u);
    EXPECT_TRUE(std::all_of(entry->begin(), entry->end(), [](uint8_t b) { return b == 0; }));
    entries.insert(entry);
  }
  EXPECT_EQ(entries.size(), 8u);
  for (int16_t code : {int16_t(-1), int16_t(0), int16_t(8), int16_t(17), int16_t(24), int16_t(29), int16_t(48),
                       int16_t(53), int16_t(32767)})
    EXPECT_EQ(getMyPrint2FileSetPref(code), nullptr) << code;
  for (int16_t set : {int16_t(0), int16_t(9), int16_t(-3)}) EXPECT_EQ(PrinterCodeOfPrintToFileSet(set), 0);
}
