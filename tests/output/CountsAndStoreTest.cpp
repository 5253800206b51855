// The count files (bytes at their offsets, the old and foreign forms,
// saturation, two processes at once), the encrypted store against the
// openssl command line, and the system printer's fit-to-paper geometry.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

#include "common/ChildRole.h"
#include "host/base/ByteOrder.h"
#include "host/crypto/Cipher.h"
#include "host/sys/PropertyList.h"
#include "output/PrintCountInfo.h"
#include "output/PrintCounts.h"
#include "output/SecureSettings.h"
#include "output/SystemPrint.h"
#include "output/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace output;

std::string Bytes(const fs::path& file) {
  auto v = outtest::ReadFile(file);
  return std::string(v.begin(), v.end());
}
void Write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
int32_t At(const std::string& b, size_t offset) {
  return host::LoadLEI32(reinterpret_cast<const uint8_t*>(b.data()) + offset);
}
std::string Hex(std::span<const uint8_t> bytes) {
  std::string s;
  char buf[3];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    s += buf;
  }
  return s;
}

TEST(PrintCounts, RecordFieldsSitAtTheirOffsetsLittleEndian) {
  tPrintQuantityInfo r;
  r.version = 9904;
  r.printToFile = 1; r.kind2 = 2; r.chooser = 3; r.regular = 4; r.kind5 = 5; r.kind6 = 6; r.kind7 = 7;
  r.Cell(8, 5) = 0x01020304;
  r.kind8 = 8; r.kind9[24] = 9; r.kind10 = 10; r.spare[5] = 11;
  const auto b = r.Encode();
  std::string s(b.begin(), b.end());
  EXPECT_EQ(s.substr(0, 4), std::string("\xB0\x26\x00\x00", 4));
  for (int i = 1; i <= 7; ++i) EXPECT_EQ(At(s, size_t(4 * i)), i);
  EXPECT_EQ(s.substr(32 + (8 * 41 + 5) * 4, 4), std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(At(s, 16432), 8);
  EXPECT_EQ(At(s, 16436 + 24 * 4), 9);
  EXPECT_EQ(At(s, 16536), 10);
  EXPECT_EQ(At(s, 16560), 11);
  EXPECT_EQ(tPrintQuantityInfo::Decode(b), r);
}

TEST(PrintCounts, KindsGridAndSaturation) {
  outtest::TempDir dir;
  ASSERT_EQ(AddToPrintCountIn(dir.path, 3, kCountSystemPrinter, 8, 4, true, false), 0);
  ASSERT_EQ(AddToPrintCountIn(dir.path, 2, kCountOriginalFiles, 26, 0, true, false), 0);  // kind 12 = kind 3
  ASSERT_EQ(AddToPrintCountIn(dir.path, 5, kCountKind11, 0, 0, true, false), 0);  // no counter in the file
  const std::string s = Bytes(dir.path / "Kivo-Processor Count");
  ASSERT_EQ(s.size(), 16564u);
  EXPECT_EQ(At(s, 12), 3);
  EXPECT_EQ(At(s, 32 + (8 * 41 + 4) * 4), 3);
  EXPECT_EQ(At(s, 4), 2);
  EXPECT_EQ(At(s, 32 + (26 * 41 + 0) * 4), 0) << "canvas 0 stays off the grid";
  int sum = 0;
  for (size_t o = 0; o < s.size(); o += 4) sum += At(s, o);
  EXPECT_EQ(sum, 9904 + 3 + 3 + 2);

  EXPECT_EQ(SaturatingAdd(INT32_MAX - 1, 5), INT32_MAX);
  EXPECT_EQ(SaturatingAdd(INT32_MIN + 1, -5), INT32_MIN);
  tPrintQuantityInfo nearlyFull;
  nearlyFull.regular = INT32_MAX - 1;
  ASSERT_EQ(WritePrintCountFile(dir.path / "Kivo-Processor Count", nearlyFull), 0);
  ASSERT_EQ(AddToPrintCountIn(dir.path, 100, kCountPrintCenter, 3, 3, true, false), 0);
  tPrintQuantityInfo back;
  ASSERT_EQ(GetPrintCountIn(dir.path, &back, true, false), 0);
  EXPECT_EQ(back.regular, INT32_MAX) << "stops at the top instead of turning negative";
}

TEST(PrintCounts, OldForeignAndDamagedFiles) {
  outtest::TempDir dir;
  const fs::path file = dir.path / "Kivo-X Count";
  tPrintQuantityInfo r;

  Write(file, "");
  ASSERT_EQ(GetPrintCountIn(dir.path, &r, false, false), 0);
  EXPECT_EQ(Bytes(file).size(), 16564u) << "an empty file becomes a zero record";
  EXPECT_EQ(Bytes(file).substr(0, 4), std::string("\xB0\x26\x00\x00", 4));

  std::string bigEndian(16564, '\0');
  bigEndian.replace(0, 4, std::string("\x00\x00\x26\xB0", 4));
  bigEndian[12] = 7;
  Write(file, bigEndian);
  ASSERT_EQ(GetPrintCountIn(dir.path, &r, false, false), 0);
  EXPECT_EQ(r.chooser, 0);
  EXPECT_EQ(At(Bytes(file), 0), 9904);
  EXPECT_EQ(Bytes(dir.path / "Kivo-X Count.old"), bigEndian) << "the old counts are kept aside, not zeroed";

  // An older version counted by two jobs: the new file holds their prints,
  // the old one (500 prints) keeps its own name beside it.
  std::string older(16564, '\0');
  older.replace(0, 4, std::string("\xAF\x26\x00\x00", 4));
  older[16] = char(0xF4), older[17] = 1;  // 500 direct prints
  Write(file, older);
  ASSERT_EQ(AddToPrintCountIn(dir.path, 1, kCountPrintCenter, 2, 2, false, false), 0);
  ASSERT_EQ(AddToPrintCountIn(dir.path, 1, kCountPrintCenter, 2, 2, false, false), 0);
  ASSERT_EQ(GetPrintCountIn(dir.path, &r, false, false), 0);
  EXPECT_EQ(r.regular, 2);
  EXPECT_EQ(Bytes(dir.path / "Kivo-X Count copy.old"), older);
  EXPECT_EQ(Bytes(dir.path / "Kivo-X Count.old"), bigEndian) << "an earlier one is not replaced";

  std::string unknown(16564, '\x11');
  Write(file, unknown);
  EXPECT_EQ(GetPrintCountIn(dir.path, &r, false, false), kCountBadVersion);
  EXPECT_EQ(AddToPrintCountIn(dir.path, 1, kCountPrintCenter, 2, 2, false, false), kCountBadVersion);
  EXPECT_EQ(Bytes(file), unknown) << "a record we cannot read is never written over";

  tPrintQuantityInfo counted;
  counted.regular = 41;
  ASSERT_EQ(WritePrintCountFile(file, counted), 0);
  Write(file, Bytes(file).substr(0, 100));  // cut short
  EXPECT_NE(AddToPrintCountIn(dir.path, 1, kCountPrintCenter, 2, 2, false, false), 0);
  EXPECT_EQ(Bytes(file).size(), 100u);
}

TEST(PrintCounts, ReadingDaysCreatesNoFiles) {
  outtest::TempDir dir;
  tPrintQuantityInfo r;
  r.chooser = 5;
  for (const char* day : {"01-01-2030", "02-29-2044", "12-31-2099"})
    EXPECT_EQ(GetPrintCountIn(dir.path, &r, true, true, day), 0);
  EXPECT_EQ(r.chooser, 0);
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir.path))
    if (e.path().filename() != kCountLockName) ++files;
  EXPECT_EQ(files, 0u);
  EXPECT_FALSE(doesFileExistsAtPath(dir.path, LongDateTimeOfDay(2044, 2, 29), false));
}

constexpr int kCountsEach = 150;

// One of two processes counting into the same folder at once.
const testing_support::RegisterChildRole kCounter("counter", [] {
  const char* folder = std::getenv("KIVO_TEST_COUNT_FOLDER");
  if (!folder) return 2;
  for (int i = 0; i < kCountsEach; ++i)
    if (AddToPrintCountIn(folder, 1, kCountPrintCenter, 3, 2, true, false) != 0) return 1;
  return 0;
});

TEST(PrintCounts, TwoProcessesCountingAtOnceLoseNoCount) {
  outtest::TempDir dir;
  std::vector<pid_t> children;
  for (int c = 0; c < 2; ++c)
    children.push_back(testing_support::StartChildRole("counter", {{"KIVO_TEST_COUNT_FOLDER", dir.path.string()}}));
  for (pid_t pid : children) EXPECT_EQ(testing_support::WaitChild(pid, 120), 0);
  tPrintQuantityInfo r;
  ASSERT_EQ(GetPrintCountIn(dir.path, &r, true, false), 0);
  EXPECT_EQ(r.regular, 2 * kCountsEach);
  EXPECT_EQ(r.Cell(3, 2), 2 * kCountsEach);
}

TEST(CountDictionary, DayFileKindsTemplatesAndStationKeys) {
  outtest::TempDir dir;
  saveToDictionaryFile(dir.path, 3, kCountSystemPrinter, 8, 2, 1, "Portrait");
  saveToDictionaryFile(dir.path, 5, kCountSystemPrinter, 8, 2, 1, "Portrait");
  saveToDictionaryFile(dir.path, 1, kCountOriginalFiles, 26, 0, 1, "Portrait");
  const LongDateTime today = LongDateTimeNow();
  ASSERT_TRUE(doesFileExistsAtPath(dir.path, today, false));
  EXPECT_EQ(DayDictionaryPath(dir.path, false, LongDateTimeOfDay(2026, 12, 7)).filename(),
            ".Print Count Kivo-Processor 2026-12-07");
  auto day = printCountInfoObject::initWithLongDateTime(dir.path, today, false);
  ASSERT_TRUE(day.has_value()) << "the reader finds what the writer stored";
  EXPECT_EQ(day->getChooserCount(), 8);
  EXPECT_EQ(day->getOriginalFileSaveCount(), 1);
  EXPECT_EQ(day->getPrintToFileCount(), 0) << "kind 12 has its own key here";
  const auto& canvases = *day->getPrintCountDictionary().at("tPrinterCanvases").asDict();
  const host::PlistValue* quantity = canvases.at("System Printer").find("Portrait")->find("quantity");
  ASSERT_NE(quantity, nullptr);
  EXPECT_EQ(*quantity->asInteger(), 2) << "jobs, whatever their quantities";
  EXPECT_FALSE(printCountInfoObject::initWithLongDateTime(dir.path, today, true).has_value());

  // A day after 2040, where 32-bit seconds since 1904 run out.
  const LongDateTime later = LongDateTimeOfDay(2045, 3, 1);
  EXPECT_GT(later, int64_t(UINT32_MAX));
  EXPECT_EQ(IsoDayString(later), "2045-03-01");
  EXPECT_EQ(CountFileDayString(later + 86400), "03-02-2045");
}

TEST(CountDictionary, CountersAtTheirLargestValueStayThere) {
  outtest::TempDir dir;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  {
    auto day = printCountInfoObject::initWithWhich(dir.path, false);
    day.addToCounts(1, kCountPrintToFile, 25, 1, "Full");
  }
  // The stored counters raised to the top by hand, one as a real number
  // far beyond any 64-bit value.
  {
    auto store = ZORVEL_SecureSettings::initWithPath(DayDictionaryPath(dir.path, false, LongDateTimeNow()));
    ASSERT_TRUE(store.has_value());
    host::PlistValue totals = *store->objectForKey("tPrintTotals");
    host::PlistDict& entry = *(*totals.asDict())[kProcessorStationKey].asDict();
    entry["tPrintToFileCount"] = kMax;
    entry["tRegularCount"] = 1e30;
    (*(*(*entry["tPrinterCanvases"].asDict())["Print to File Set 1"].asDict())["Full"].asDict())["quantity"] = kMax;
    store->setObject(totals, "tPrintTotals");
    ASSERT_TRUE(store->save());
  }
  saveToDictionaryFile(dir.path, 3, kCountPrintToFile, 25, 1, 1, "Full");
  saveToDictionaryFile(dir.path, 3, kCountPrintCenter, 25, 1, 1, "Full");
  auto day = printCountInfoObject::initWithLongDateTime(dir.path, LongDateTimeNow(), false);
  ASSERT_TRUE(day.has_value());
  EXPECT_EQ(day->getPrintToFileCount(), kMax) << "no wrap to a negative count";
  EXPECT_EQ(day->getRegularPrintCount(), kMax);
  const auto& canvases = *day->getPrintCountDictionary().at("tPrinterCanvases").asDict();
  EXPECT_EQ(*canvases.at("Print to File Set 1").find("Full")->find("quantity")->asInteger(), kMax);
  EXPECT_EQ(SaturatingAdd64(kMax - 1, 5), kMax);
  EXPECT_EQ(SaturatingAdd64(std::numeric_limits<int64_t>::min() + 1, -5), std::numeric_limits<int64_t>::min());
}

TEST(SecureStore, NewStoreChangesAndSaves) {
  outtest::TempDir dir;
  const fs::path file = dir.path / "store";
  {
    auto store = ZORVEL_SecureSettings::initWithPath(file);
    ASSERT_TRUE(store.has_value());
    EXPECT_EQ((fs::status(file).permissions() & fs::perms::all), fs::perms(0600));
    auto plain = host::parsePropertyList(outtest::ReadFile(file));
    ASSERT_TRUE(plain && plain->asDict() && plain->asDict()->empty()) << "a new store is a plain empty list";
    EXPECT_FALSE(store->save()) << "nothing changed, nothing written";
    store->setObject(host::PlistDict{{"a", int64_t(1)}}, "tPrintTotals");
    EXPECT_TRUE(store->save());
  }
  EXPECT_EQ(outtest::ReadFile(file).size() % 16, 0u);
  auto again = ZORVEL_SecureSettings::initWithPath(file);
  ASSERT_TRUE(again.has_value());
  EXPECT_TRUE(again->didRestoreFromPrevious());
  EXPECT_EQ(*again->objectForKey("tPrintTotals")->find("a")->asInteger(), 1);
}

TEST(SecureStore, OpensslDecryptsOurStoreAndWritesOneWeRead) {
  outtest::TempDir dir;
  const auto key = SecureStoreKey();
  ASSERT_TRUE(key.has_value());
  // The derivation as the openssl command line does it.
  const std::string pass(reinterpret_cast<const char*>(SecureStorePassphrase().data()), SecureStorePassphrase().size());
  const fs::path keyFile = dir.path / "key";
  ASSERT_EQ(std::system(("openssl kdf -keylen 16 -kdfopt digest:SHA1 -kdfopt 'pass:" + pass +
                         "' -kdfopt salt:quarbelt -kdfopt iter:1000 PBKDF2 | tr -d ':\\n' | tr A-F a-f > '" +
                         keyFile.string() + "'").c_str()), 0);
  EXPECT_EQ(Bytes(keyFile), Hex(*key));
  const std::string cipher = " -aes-128-cbc -K " + Hex(*key) + " -iv " + Hex(SecureStoreIV());

  const fs::path ours = dir.path / "ours";
  {
    auto store = ZORVEL_SecureSettings::initWithPath(ours);
    ASSERT_TRUE(store.has_value());
    store->setObject(std::string("é 2026"), "note");
  }
  const fs::path plain = dir.path / "plain.xml";
  ASSERT_EQ(std::system(("openssl enc -d" + cipher + " -in '" + ours.string() + "' -out '" + plain.string() + "'").c_str()), 0);
  auto value = host::parsePropertyList(outtest::ReadFile(plain));
  ASSERT_TRUE(value && value->asDict());
  EXPECT_EQ(*value->find("note")->asString(), "é 2026");

  const fs::path theirs = dir.path / "theirs";
  Write(dir.path / "in.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>tPrintTotals</key><dict>"
        "<key>Kivo-X</key><dict><key>tRegularCount</key><integer>12</integer></dict></dict></dict></plist>\n");
  ASSERT_EQ(std::system(("openssl enc -e" + cipher + " -in '" + (dir.path / "in.xml").string() + "' -out '" +
                         theirs.string() + "'").c_str()), 0);
  auto read = ZORVEL_SecureSettings::openReadOnly(theirs);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read->objectForKey("tPrintTotals")->find("Kivo-X")->find("tRegularCount")->asInteger(), 12);
}

TEST(SecureStore, UndecryptableStoreIsMovedAsideNeverOverwritten) {
  outtest::TempDir dir;
  const fs::path file = dir.path / ".Print Count Kivo-Processor 2026-12-07";
  const std::string junk(64, '\x5a');
  Write(file, junk);
  auto store = ZORVEL_SecureSettings::initWithPath(file);
  ASSERT_TRUE(store.has_value());
  EXPECT_TRUE(store->dataStore().empty());
  bool kept = false;
  for (const auto& e : fs::directory_iterator(dir.path))
    if (e.path() != file && Bytes(e.path()) == junk) kept = true;
  EXPECT_TRUE(kept) << "the old bytes are kept beside the new store";
}

TEST(SystemPrintGeometry, FitsCentresAndTurns) {
  // 1,800 x 1,200 at 300 dpi on a 72-dpi device with a 720 x 540 page:
  // 432 x 288, moved right by 144 and down by 126.
  CLongRect_AC page(0, 0, 540, 720);
  computeAdjustedRect(CLongRect_AC(0, 0, 1200, 1800), page, 300, 300, 72, 72);
  EXPECT_EQ(page, CLongRect_AC(126, 144, 414, 576));
  // Wider than the page, less tall: fitted to the width.
  page = CLongRect_AC(0, 0, 500, 400);
  computeAdjustedRect(CLongRect_AC(0, 0, 200, 800), page, 72, 72, 72, 72);
  EXPECT_EQ(page, CLongRect_AC(200, 0, 300, 400));
  // Taller, less wide: fitted to the height.
  page = CLongRect_AC(0, 0, 400, 500);
  computeAdjustedRect(CLongRect_AC(0, 0, 800, 200), page, 72, 72, 72, 72);
  EXPECT_EQ(page, CLongRect_AC(0, 200, 400, 300));
  // Larger in both by the same whole percent: the width is fitted.
  page = CLongRect_AC(0, 0, 100, 100);
  computeAdjustedRect(CLongRect_AC(0, 0, 200, 201), page, 72, 72, 72, 72);
  EXPECT_EQ(page.Width(), 100);
  // One dot of slack stays at the edge.
  page = CLongRect_AC(0, 0, 101, 101);
  computeAdjustedRect(CLongRect_AC(0, 0, 100, 100), page, 72, 72, 72, 72);
  EXPECT_EQ(page, CLongRect_AC(0, 0, 100, 100));

  // A portrait image on a landscape page area is turned clockwise first.
  auto source = outtest::Page(20, 30);
  const uint32_t topLeft = host::LoadBE32(source->scanline(0));
  CLongRect_AC area(0, 0, 100, 200);
  auto turned = rescaleImageForChooserPrinting(source.get(), 72, area, 72, true);
  ASSERT_NE(turned, nullptr);
  EXPECT_EQ(turned->width(), 30);
  EXPECT_EQ(turned->height(), 20);
  EXPECT_EQ(host::LoadBE32(turned->scanline(0) + 4 * 29), topLeft) << "top-left goes to top-right";
  EXPECT_EQ(area, CLongRect_AC(40, 85, 60, 115));
  CLongRect_AC square(0, 0, 100, 200);
  auto same = outtest::Page(30, 30);
  EXPECT_EQ(rescaleImageForChooserPrinting(same.get(), 72, square, 72, true), nullptr) << "a square is landscape";
}

TEST(SystemPrintSettings, ArchivedSettingsMapToDestinationPaperAndOrientation) {
  host::PlistDict info{{"NSAttributes", host::PlistDict{{"NSPaperName", "iso-a4"},
                                                        {"NSOrientation", int64_t(1)},
                                                        {"NSPrinter", host::PlistDict{{"NSName", "Lab"}}}}}};
  const TSystemPrintSettings s = SystemPrintSettingsOf(info);
  EXPECT_EQ(s.destination, "Lab");
  EXPECT_EQ(s.media, "iso_a4_210x297mm");
  EXPECT_EQ(s.orientation, 2);
  EXPECT_EQ(PwgMediaOfPaperName("Letter"), "na_letter_8.5x11in");
  EXPECT_EQ(PwgMediaOfPaperName("Custom Thing"), "");
  EXPECT_EQ(SystemPrintSettingsOf({}).orientation, 0);
}

}  // namespace
