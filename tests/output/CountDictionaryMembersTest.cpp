// The count dictionary's other ways in (by date, by file name, without a
// station word) and its other counters (totals of a count record, USB sticks,
// confirmations, the older per-printer canvas lists), read back from the
// stored day files; and its diagnostic switch.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "output/PrintCountInfo.h"

namespace {

using namespace output;
namespace fs = std::filesystem;

const LongDateTime kDay = LongDateTimeOfDay(2026, 12, 7);

TEST(CountDictionaryMembers, FilesOpenedByDateByNameAndWithoutStationWord) {
  outtest::TempDir dir;
  {
    printCountInfoObject o = printCountInfoObject::init(dir.path, kDay);
    o.addToCounts(2, kCountPrintToFile, 0, 0, "");
  }
  EXPECT_TRUE(fs::exists(dir.path / ".Print Count 2026-12-07"));
  {
    printCountInfoObject o = printCountInfoObject::initWithFileName(dir.path, ".Print Count 2026-12-07");
    EXPECT_EQ(o.getPrintToFileCount(), 2) << "the station's own key";
  }

  // A sibling's day file by name is counted under the sibling's key, where
  // the reader of that station and date finds it.
  {
    printCountInfoObject o = printCountInfoObject::initWithFileName(dir.path, ".Print Count Kivo-X 2026-12-07");
    o.addToCounts(4, kCountSystemPrinter, 0, 0, "");
  }
  {
    printCountInfoObject o = printCountInfoObject::initWithFileName(dir.path, ".Print Count Kivo-Processor 2026-12-07");
    o.addToCounts(1, kCountSystemPrinter, 0, 0, "");
  }
  auto sibling = printCountInfoObject::initWithLongDateTime(dir.path, kDay, true);
  ASSERT_TRUE(sibling);
  EXPECT_EQ(sibling->getChooserCount(), 4);
  const auto noon = std::chrono::system_clock::from_time_t(time_t(kDay - 2082844800));
  auto own = printCountInfoObject::initWithDate(dir.path, noon, false);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->getChooserCount(), 1);
  EXPECT_FALSE(printCountInfoObject::initWithDate(dir.path, noon + std::chrono::hours(48), false));

  // A name that leads out of the folder creates nothing there.
  const fs::path inner = dir.Sub("spool");
  for (const char* name : {"../escaped", "sub/file", "..", ""}) {
    printCountInfoObject o = printCountInfoObject::initWithFileName(inner, name);
    o.addToCounts(1, kCountSystemPrinter, 0, 0, "");
    EXPECT_FALSE(o.IsStored()) << name;
  }
  EXPECT_FALSE(fs::exists(dir.path / "escaped"));
  EXPECT_TRUE(fs::is_empty(inner));
}

TEST(CountDictionaryMembers, TotalsUsbSticksConfirmationsAndOlderCanvasListsAreStored) {
  outtest::TempDir dir;
  {
    printCountInfoObject o = printCountInfoObject::initWithWhich(dir.path, false, kDay);
    o.addToCounts(10, kCountSystemPrinter, 0, 0, "");
    tPrintQuantityInfo totals;
    totals.chooser = 1;
    totals.kind2 = 2;
    totals.printToFile = 3;
    totals.regular = 4;
    totals.kind5 = 5;
    totals.kind6 = 6;
    totals.kind7 = 7;
    totals.kind8 = 8;  // kinds after 7 are not added
    o.addTotals(totals);
    o.setUSBFlashCount(2);
    o.setUSBFlashCount(3);
    o.addConfirmationIDKey(std::string("A-1234"));
    o.addToCanvasCountOld(8, 3);
    o.addToCanvasCountOld(8, 3);
    o.addToCanvasCountOld(8, 1);
    o.addToCanvasCountOld(8, -1);
    o.addToPackageCount(8, 2);
  }
  auto day = printCountInfoObject::initWithLongDateTime(dir.path, kDay, false);
  ASSERT_TRUE(day);
  EXPECT_EQ(day->getChooserCount(), 11);
  EXPECT_EQ(day->getCDCount(), 2);
  EXPECT_EQ(day->getPrintToFileCount(), 3);
  EXPECT_EQ(day->getRegularPrintCount(), 4);
  EXPECT_EQ(day->getPrintToFile2Count(), 5);
  EXPECT_EQ(day->getSaveAsCompCount(), 6);
  EXPECT_EQ(day->getCDWriteCount(), 7);
  EXPECT_EQ(day->getUSBFlashCount(), 5);
  const host::PlistDict& entry = day->getPrintCountDictionary();
  EXPECT_EQ(*entry.at("tImageGrabCount").asInteger(), 0);
  EXPECT_EQ(*entry.at("tConfirmationID").asString(), "A-1234");
  EXPECT_TRUE(entry.at("tPackagesPrinted").asDict()->empty());
  const host::PlistValue* list = entry.at("tPrinterCanvases").find("printer08");
  ASSERT_TRUE(list && list->find("canvasList") && list->find("canvasList")->asArray());
  EXPECT_EQ(*list->find("canvasList")->asArray(),
            (host::PlistArray{int64_t(0), int64_t(1), int64_t(0), int64_t(2)}));
}

TEST(CountDictionaryMembers, VerboseSwitchTurnsTheDiagnosticLinesOnAndOff) {
  outtest::TempDir dir;
  ASSERT_TRUE(printCountInfoObject::isVerbose());
  auto linesOfOneCount = [&] {
    testing::internal::CaptureStderr();
    { printCountInfoObject::init(dir.path, kDay).addToCounts(1, kCountSystemPrinter, 8, 1, "T"); }
    return testing::internal::GetCapturedStderr();
  };
  const std::string on = linesOfOneCount();
  EXPECT_NE(on.find("savedPath "), std::string::npos) << on;
  EXPECT_NE(on.find("Dictionary = {"), std::string::npos) << on;
  printCountInfoObject::setVerbose(false);
  const std::string off = linesOfOneCount();
  printCountInfoObject::setVerbose(true);
  EXPECT_EQ(off.find("savedPath"), std::string::npos) << off;
  EXPECT_EQ(off.find("Dictionary ="), std::string::npos) << off;
}

}  // namespace
