// The job file reader over files made by the job writer and by hand.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "FakeServices.h"
#include "jobwriter/JobWriter.h"
#include "pipeline/BGPrintView.h"

using namespace pipeline;
using jobwriter::RecordOf;
using jobwriter::TJobDescription;

namespace {

TJobDescription SimpleJob() {
  TJobDescription j;
  j.objects.push_back(RecordOf(*layout::TTextObject::New(jobwriter::TextDesc("hello", 1, 1, 2, 1))));
  return j;
}

struct Reader {
  FakeServices services;
  TBGPrintView view{services};
  int16_t Read(const std::vector<uint8_t>& bytes) { return view.ReadObjectsFromBytes(bytes); }
  int16_t Read(const TJobDescription& j) { return Read(jobwriter::WriteJobFile(j)); }
};

// Offset of the template name's length byte in a job with no printer block.
constexpr size_t kTemplateOffset = 2 + 2 + 2 + 2 + 1 + 2;

}  // namespace

TEST(JobReader, TinyFilesAndBadMagic) {
  Reader r0;
  EXPECT_EQ(r0.Read(std::vector<uint8_t>{}), kResultReadFailure);
  Reader r1;
  EXPECT_EQ(r1.Read(std::vector<uint8_t>{0xB8}), kResultReadFailure);
  auto bytes = jobwriter::WriteJobFile(SimpleJob());
  bytes[1] = 0x55;
  Reader r2;
  EXPECT_EQ(r2.Read(bytes), kResultNotAJobFile);
  EXPECT_EQ(r2.view.printer, 0);  // nothing of the view changed
  EXPECT_TRUE(r2.view.objectList.empty());
}

TEST(JobReader, WriterJobReadsBackWhole) {
  TJobDescription j = SimpleJob();
  j.printer = 17;
  j.canvas = 4;
  j.printQuantity = 3;
  j.templateName = "Wedding";
  j.packageName = "Gold";
  j.pageWidth = 5;
  j.pageHeight = 7;
  j.resolution = 254;
  j.isMirror = true;
  j.CropHSize = 1.5f;
  j.FinalCropWhere = 2;
  j.baseName = "IMG.0001.jpg";
  j.pageColorAdjust.gamma = -4;
  j.oldTimePhoto.strength = 40;
  j.colorSyncPrefs->applyEmbedded = 1;
  j.jobInfo.first = "Current";
  j.jobInfo.w72 = 5;
  j.webDictionary = {1, 2, 3};
  j.customerEmail = "a@b.c";
  j.groupCode = "G1";
  j.nameSuffix = "_x";
  j.blurValue = 2.5f;
  j.videoPath = "/tmp/v.mov";
  j.printInfo = {9, 8, 7};
  j.trailerText = {'h', 'i'};
  Reader r;
  ASSERT_EQ(r.Read(j), kResultOK);
  const TBGPrintView& v = r.view;
  EXPECT_EQ(v.canvas, 4);
  EXPECT_EQ(v.printQuantity, 3);
  EXPECT_EQ(v.templateName, "Wedding");
  EXPECT_EQ(gCurrentTemplateName, "Wedding");
  EXPECT_EQ(v.packageName, "Gold");
  EXPECT_EQ(v.pageHeight, 7.0f);
  EXPECT_EQ(v.resolution, 254);
  EXPECT_TRUE(v.isMirror);
  EXPECT_EQ(v.CropHSize, 1.5f);
  EXPECT_EQ(v.FinalCropWhere, 2);
  EXPECT_EQ(v.baseName, "IMG.0001");
  EXPECT_EQ(v.pageColorAdjust.gamma, -4);
  EXPECT_EQ(v.oldTimePhoto.strength, 40);
  EXPECT_TRUE(r.services.applyEmbedded);
  EXPECT_TRUE(v.isCurrentJob);
  EXPECT_EQ(r.services.jobInfo.w72, 5);
  ASSERT_EQ(v.WebDictionaryArchive().size(), 3u);
  EXPECT_EQ(v.WebDictionaryArchive()[2], 3);
  EXPECT_EQ(r.services.customerEmail, "a@b.c");
  EXPECT_EQ(r.services.groupCode, "G1");
  EXPECT_EQ(v.nameSuffix, "_x");
  EXPECT_EQ(r.services.blur, 2.5f);
  EXPECT_EQ(v.videoPath, "/tmp/v.mov");
  EXPECT_EQ(r.services.printInfo, (std::vector<uint8_t>{9, 8, 7}));
  EXPECT_TRUE(r.services.Logged("attempting to read 3 bytes"));
  EXPECT_EQ((*v.trailerText)[1], 'i');
  ASSERT_EQ(v.objectList.size(), 1u);
  EXPECT_TRUE(r.services.Logged("TBGPrintView::DoNewReadObjects => There are [1] objects and [isCKSubJob = 0]..."));
  EXPECT_TRUE(r.services.Logged("Found kTextObjectType\n"));
}

TEST(JobReader, StringLengthBytes) {
  TJobDescription j = SimpleJob();
  j.templateName = std::string(31, 'T');
  auto bytes = jobwriter::WriteJobFile(j);
  ASSERT_EQ(bytes[kTemplateOffset], 31);
  Reader ok;
  EXPECT_EQ(ok.Read(bytes), kResultOK);
  EXPECT_EQ(ok.view.templateName.Length(), 31u);
  bytes[kTemplateOffset] = 32;
  Reader bad;
  EXPECT_EQ(bad.Read(bytes), kResultReadFailure);
  // A base name with no "." stays whole; two dots keep everything before the last.
  TJobDescription k = SimpleJob();
  k.baseName = "plain";
  Reader r;
  ASSERT_EQ(r.Read(k), kResultOK);
  EXPECT_EQ(r.view.baseName, "plain");
}

TEST(JobReader, EveryPrinterCodeReadsItsBlock) {
  const size_t base = jobwriter::WriteJobFile(SimpleJob()).size();  // code 17: no block
  for (int code = -1; code <= 58; ++code) {
    SCOPED_TRACE(code);
    TJobDescription j = SimpleJob();
    j.printer = int16_t(code);
    j.blocks.print2File.setNumber = 3;
    j.blocks.mediaType[0].words[7] = 0x1234;
    j.blocks.mediaType[1].words[7] = 0x1234;
    j.blocks.dnp.w1052 = 0x4321;
    j.blocks.mitsubishi->words180[0] = 0x5555;
    bool known = false;
    size_t blockBytes = 0;
    for (auto b : PrinterBlocksFor(int16_t(code), &known)) blockBytes += PrinterBlockSize(b);
    const auto bytes = jobwriter::WriteJobFile(j);
    EXPECT_EQ(bytes.size(), base + blockBytes);
    Reader r;
    ASSERT_EQ(r.Read(bytes), kResultOK);
    EXPECT_EQ(r.view.printer, code);
    ASSERT_EQ(r.view.objectList.size(), 1u);
    const bool unknown = code < 0 || code > 57 || code == 0 || code == 4 || code == 14 || code == 22 || code == 35;
    EXPECT_EQ(known, !unknown);
    EXPECT_EQ(r.services.messages.size(), unknown ? 1u : 0u);
    if (unknown) {
      EXPECT_EQ(r.services.messages[0].rfind("TBGPrintView::ReadColorCorrectionValue: Unknown Printer Type!\n"
                                             "The job's printer code " + std::to_string(code) + " is not one",
                                             0),
                0u)
          << r.services.messages[0];
    }
  }
  EXPECT_EQ(PrinterBlocksFor(17).size(), 0u);
  EXPECT_EQ(PrinterBlockSize(EPrinterBlock::kMitsubishi), 10296u);
}

TEST(JobReader, UseColorSettingsFromTheColourAdjustBlock) {
  for (uint16_t word : {0, 256, 1, 0x0101}) {
    TJobDescription j = SimpleJob();
    j.printer = 9;
    j.useColorSettings = true;
    j.blocks.colorAdjust[0].w2 = word;
    Reader r;
    ASSERT_EQ(r.Read(j), kResultOK);
    EXPECT_EQ(r.view.useColorSettings, (word & 0xFF) != 0) << word;
  }
}

TEST(JobReader, ObjectCountsAreTakenAsRead) {
  for (uint32_t count : {0u, 32768u, 65537u, 0xFFFFFFFFu}) {
    TJobDescription j = SimpleJob();
    j.objectCount = count;
    Reader r;
    EXPECT_EQ(r.Read(j), kResultReadFailure) << count;
    EXPECT_TRUE(r.services.Logged("Something BAD happened?? count of main job is ["));
  }
  TJobDescription j = SimpleJob();
  j.hasSubJob = true;
  j.subJobCount = 0;
  Reader r;
  EXPECT_EQ(r.Read(j), kResultReadFailure);
  EXPECT_TRUE(r.services.Logged("Something BAD happened?? count of subJob is [0]"));
}

TEST(JobReader, SubJobAndAttributeSwitches) {
  TJobDescription j = SimpleJob();
  j.hasSubJob = true;
  j.subJobWidth = 4;
  j.subJobHeight = 6;
  j.SubjobResizeMode = 2;
  CImageDesc img = jobwriter::ImageDesc("green.jpg", 0, 0, 4, 6);
  img.fHasChromaKey = 1;
  auto keyed = layout::TImageObject::New(img);
  keyed->SetChromaKeySettings(tChromaKeySettings{});
  j.subJobObjects.push_back(RecordOf(*keyed));
  CAttributeDesc attr;
  attr.SaveCKTemplateAsIs = 1;
  attr.IgnoreOverlays = 1;
  attr.SaveOriginal = 1;
  attr.SubjobResizeMode = 5;
  j.objects.push_back(RecordOf(*layout::TAttributeObject::New(attr)));
  Reader r;
  ASSERT_EQ(r.Read(j), kResultOK);
  EXPECT_TRUE(r.view.HasSubJob());
  EXPECT_EQ(r.view.subJobObjectList.size(), 1u);
  EXPECT_EQ(r.view.objectList.size(), 2u);
  EXPECT_TRUE(r.view.hasChromaKey);
  EXPECT_EQ(r.view.GetSubjobResizeMode(), 5);
  EXPECT_EQ(r.view.GetSaveCKTemplateAsIs(), 1);
  EXPECT_EQ(r.view.GetIgnoreOverlays(), 1);
  EXPECT_EQ(r.view.GetSaveOriginal(), 1);
}

TEST(JobReader, ShortImageRecordAfterAKeyedOneReadsNoKeyBlock) {
  TJobDescription j = SimpleJob();
  j.objects.clear();
  CImageDesc img = jobwriter::ImageDesc("a.jpg", 0, 0, 1, 1);
  img.fHasChromaKey = 1;
  auto keyed = layout::TImageObject::New(img);
  keyed->SetChromaKeySettings(tChromaKeySettings{});
  j.objects.push_back(RecordOf(*keyed));
  // An image record of 300 bytes: it stops before the chroma-key switch.
  auto shortImage = RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc("b.jpg", 0, 0, 1, 1)));
  layout::StoreU32BE(shortImage.data() + 40, 300);
  shortImage.resize(44 + 300);
  j.objects.push_back(shortImage);
  j.objects.push_back(RecordOf(*layout::TTextObject::New(jobwriter::TextDesc("after", 0, 0, 1, 1))));
  Reader r;
  ASSERT_EQ(r.Read(j), kResultOK);
  ASSERT_EQ(r.view.objectList.size(), 3u);
  auto& second = static_cast<layout::TImageObject&>(*r.view.objectList[1]);
  EXPECT_FALSE(second.HasChromaKeySettings());
  EXPECT_EQ(second.Descriptor().fFile.name, "b.jpg");
  EXPECT_EQ(r.view.objectList[2]->TypeCode(), layout::kTextObjectType);
}

TEST(JobReader, UnknownRecordIsSkippedWhole) {
  TJobDescription j = SimpleJob();
  j.objects.insert(j.objects.begin(), jobwriter::RawRecord(FourCC("zzzz"), 10000, 0xAB));
  Reader r;
  ASSERT_EQ(r.Read(j), kResultOK);
  ASSERT_EQ(r.view.objectList.size(), 1u);
  EXPECT_EQ(r.view.objectList[0]->TypeCode(), layout::kTextObjectType);
  EXPECT_EQ(r.services.messages.size(), 2u);
}

TEST(JobReader, YearbookRecordsAndTrailerSetRecord) {
  TJobDescription j = SimpleJob();
  j.printToFileSet.hasYearbookRecords = 1;
  (*j.yearbookBlocks)[0].strings[0] = 'A';
  (*j.yearbookBlocks)[1].strings[0] = 'B';
  tSpecialPrintToFilePref trailerCopy = j.printToFileSet;
  trailerCopy.fileFormat = 9;
  trailerCopy.subFolderName = "Keyed";
  j.trailerPrintToFileSet = trailerCopy;
  Reader r;
  ASSERT_EQ(r.Read(j), kResultOK);
  EXPECT_EQ((*r.view.yearbookRecords)[1].strings[0], 'A');
  EXPECT_EQ((*r.view.yearbookRecords)[0].strings[0], 'B');
  // The trailer's copy counts.
  EXPECT_EQ(r.view.printToFileSet.fileFormat, 9);
  EXPECT_EQ(r.view.printToFileSet.subFolderName, "Keyed");
}

TEST(JobReader, PrintInfoLengthZeroAndWebDictionaryLength) {
  TJobDescription j = SimpleJob();
  j.webDictionaryLength = 40000;  // longer than its block: no archive
  Reader r;
  ASSERT_EQ(r.Read(j), kResultOK);
  EXPECT_TRUE(r.services.printInfoCleared);
  EXPECT_FALSE(r.view.hasPrintInfo);
  EXPECT_TRUE(r.view.WebDictionaryArchive().empty());
}

TEST(JobReader, PrintToFileSetValidation) {
  TJobDescription j = SimpleJob();
  j.printer = 26;
  j.blocks.print2File.setNumber = 9;
  Reader r;
  EXPECT_EQ(r.Read(j), kResultSetFolderMissing2);
  EXPECT_EQ(r.view.objectList.size(), 1u);  // read completely
  j.blocks.print2File.setNumber = 2;
  Reader r2;
  r2.services.setFolderResolves = false;
  EXPECT_EQ(r2.Read(j), kResultSetFolderMissing2);
  Reader r3;
  r3.services.setFolderResolves = true;
  EXPECT_EQ(r3.Read(j), kResultOK);
}

TEST(JobReader, EveryTruncationFailsCleanly) {
  TJobDescription j = SimpleJob();
  j.hasSubJob = true;
  j.subJobObjects.push_back(RecordOf(*layout::TNodeViewObject::New(CNodeDesc{})));
  j.printInfo = {1, 2, 3, 4};
  const auto bytes = jobwriter::WriteJobFile(j);
  for (size_t n = 0; n < bytes.size(); n += (n < 200 ? 1 : 97)) {
    Reader r;
    std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + n);
    EXPECT_EQ(r.Read(prefix), kResultReadFailure) << n;
  }
  Reader whole;
  EXPECT_EQ(whole.Read(bytes), kResultOK);
}

TEST(JobReader, AJobFileIsReadOncePerView) {
  const auto dir = std::filesystem::temp_directory_path() / ("kivo-reader-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto file = dir / "job.trpr";
  ASSERT_TRUE(jobwriter::WriteJobFile(SimpleJob(), file));
  Reader r;
  EXPECT_EQ(r.view.ReadObjects(file), kResultOK);
  // A node naming the job's own file must not append its objects again.
  EXPECT_EQ(r.view.ReadObjects(dir / "." / "job.trpr"), kResultReadFailure);
  EXPECT_EQ(r.view.objectList.size(), 1u);
  // A file that cannot be read changes nothing.
  EXPECT_EQ(r.view.ReadObjects(dir / "missing.trpr"), kResultReadFailure);
  EXPECT_EQ(r.view.objectList.size(), 1u);
  std::filesystem::remove_all(dir);
}

#include "jobwriter/SeedCorpus.h"

TEST(JobReader, EverySeedJobReads) {
  for (const auto& [name, bytes] : jobwriter::SeedJobs()) {
    Reader r;
    EXPECT_EQ(r.Read(bytes), kResultOK) << name;
    EXPECT_FALSE(r.view.objectList.empty()) << name;
  }
}
