// Counting and system printing through the running program: the count files'
// bytes after a few jobs, the day's encrypted count dictionary opened with
// the openssl command line, and printer-code-8 jobs sent to a real IPP
// printer (ippeveprinter on the loopback interface, with a private bus and
// mDNS responder of its own) that either takes the page or refuses it.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <cstdio>
#include <ctime>

#include "common/IppPrinter.h"
#include "common/ChildRole.h"
#include "e2e/E2E.h"
#include "host/files/FileOps.h"
#include "host/base/ByteOrder.h"
#include "layout/Objects.h"
#include "host/sys/PropertyList.h"
#include "output/PrintCounts.h"
#include "output/SecureSettings.h"
#include "prefs/PrefRecords.h"

namespace {

namespace fs = std::filesystem;

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char buf[3];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    s += buf;
  }
  return s;
}

using testipp::IppPrinter;

jobwriter::TJobDescription PhotoJob(int16_t printer, uint16_t copies, int16_t canvas, const char* photo) {
  jobwriter::TJobDescription job;
  job.printer = printer;
  job.printQuantity = copies;
  job.canvas = canvas;
  job.templateName = "Counts";
  job.blocks.print2File.setNumber = 1;
  // The single-folder route writes what the job's own record says: JPEG.
  setMyPrintToFileSetPrefsToFactoryDefaults(&job.printToFileSet, 1);
  job.objects.push_back(jobwriter::RecordOf(*layout::TImageObject::New(jobwriter::ImageDesc(photo, 0, 0, 4, 6))));
  return job;
}

TEST(CountsAndPrinting, CountFilesHoldTheJobsAtTheirOffsetsAndTheDayDictionaryDecrypts) {
  e2e::Station station("counts");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 400, 600, {20, 20, 220}));
  ASSERT_TRUE(station.Drop(PhotoJob(17, 2, 3, "Blue.jpg"), "a.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  // A new name: the first job deletes its photo after its file has gone.
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue2.jpg", 400, 600, {20, 20, 220}));
  ASSERT_TRUE(station.Drop(PhotoJob(25, 1, 3, "Blue2.jpg"), "b.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(station.Stop(), 0);

  for (const fs::path& file : {station.root() / "Kivo-Processor Count",
                               station.root() / ("Kivo-Processor Count" + e2e::Today("%m-%d-%Y"))}) {
    const std::string bytes = e2e::ReadAll(file);
    ASSERT_EQ(bytes.size(), 16564u) << file;
    EXPECT_EQ(bytes.substr(0, 4), std::string("\xB0\x26\x00\x00", 4));
    EXPECT_EQ(e2e::CounterAt(bytes, 4), 3);                        // print to file: 2 + 1
    EXPECT_EQ(e2e::CounterAt(bytes, 12), 0);                       // system printer
    EXPECT_EQ(e2e::CounterAt(bytes, 16), 0);                       // direct printers
    EXPECT_EQ(e2e::CounterAt(bytes, 32 + (17 * 41 + 3) * 4), 2);   // job type 17, canvas 3
    EXPECT_EQ(e2e::CounterAt(bytes, 32 + (25 * 41 + 3) * 4), 1);   // job type 25, canvas 3
    EXPECT_EQ(e2e::CounterAt(bytes, 16540), 0);
    // Open as far as the umask allows (the program has the test's umask).
    EXPECT_EQ(fs::status(file).permissions() & fs::perms(0777), fs::perms(0666 & ~host::ProcessUmask()));
  }
  EXPECT_FALSE(fs::exists(station.root() / "Kivo-X Count")) << "counting writes this station's files only";

  // The day dictionary, decrypted by openssl with the key derived by openssl.
  const fs::path day = station.root() / (".Print Count Kivo-Processor " + e2e::Today("%Y-%m-%d"));
  ASSERT_TRUE(fs::exists(day));
  const std::string pass(reinterpret_cast<const char*>(output::SecureStorePassphrase().data()),
                         output::SecureStorePassphrase().size());
  const fs::path keyFile = station.base() / "key.txt";
  ASSERT_EQ(std::system(("openssl kdf -keylen 16 -kdfopt digest:SHA1 -kdfopt 'pass:" + pass +
                         "' -kdfopt salt:quarbelt -kdfopt iter:1000 PBKDF2 | tr -d ':\\n' > '" + keyFile.string() + "'")
                            .c_str()),
            0);
  const std::string key = e2e::ReadAll(keyFile);
  ASSERT_EQ(key.size(), 32u) << key;
  const std::vector<uint8_t> iv(output::SecureStoreIV().begin(), output::SecureStoreIV().end());
  const fs::path plain = station.base() / "day.xml";
  ASSERT_EQ(std::system(("openssl enc -d -aes-128-cbc -K " + key + " -iv " + Hex(iv) + " -in '" + day.string() +
                         "' -out '" + plain.string() + "'")
                            .c_str()),
            0);
  const std::string xml = e2e::ReadAll(plain);
  EXPECT_NE(xml.find("<key>tPrintTotals</key>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<key>Kivo-Processor</key>"), std::string::npos) << xml;
  const size_t k = xml.find("<key>tPrintToFileCount</key>");
  ASSERT_NE(k, std::string::npos) << xml;
  EXPECT_EQ(xml.substr(xml.find("<integer>", k), 20), "<integer>3</integer>") << xml;
  EXPECT_NE(xml.find("<key>Counts</key>"), std::string::npos) << "template counted under its printer" << xml;
}

TEST(CountsAndPrinting, SystemPrinterJobReachesTheIppPrinterFittedToItsPaper) {
  e2e::Station station("print");
  IppPrinter printer(station.base() / "printer", "image/jpeg");
  ASSERT_TRUE(printer.ready()) << printer.log();
  station.SetEnv("PRINTER", printer.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 600, 900, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(PhotoJob(8, 2, 5, "Green.jpg"), "print.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  std::vector<fs::path> docs;
  ASSERT_TRUE(e2e::WaitUntil([&] { return !(docs = printer.documents()).empty(); }, 60)) << station.Log() << printer.log();
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(docs.front().string() + ".env"); }, 30)) << printer.log();
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());

  // Letter paper at the printer's 600 dpi; a 4 x 6 inch page at 300 dpi keeps
  // its size (2400 x 3600 dots), centred.
  const e2e::Picture sheet = e2e::ReadPicture(docs.front());
  ASSERT_TRUE(sheet.image) << sheet.error;
  EXPECT_EQ(sheet.width(), 5100);
  EXPECT_EQ(sheet.height(), 6600);
  const auto centre = sheet.rgb(2550, 3300);
  EXPECT_GT(centre[1], 150);
  EXPECT_LT(centre[0], 80);
  const auto margin = sheet.rgb(1300, 3300);  // left of (5100 - 2400) / 2 = 1350
  EXPECT_GT(margin[0], 240);
  const auto inside = sheet.rgb(1400, 3300);
  EXPECT_LT(inside[0], 80);
  const std::string attributes = e2e::ReadAll(docs.front().string() + ".env");
  EXPECT_NE(attributes.find("IPP_COPIES=2"), std::string::npos) << attributes;
  EXPECT_NE(attributes.find("IPP_ORIENTATION_REQUESTED=portrait"), std::string::npos) << attributes;
  EXPECT_NE(attributes.find("IPP_MEDIA=na_letter_8.5x11in"), std::string::npos) << attributes;
  EXPECT_EQ(station.Stop(), 0);

  const std::string counts = e2e::ReadAll(station.root() / "Kivo-Processor Count");
  ASSERT_EQ(counts.size(), 16564u);
  EXPECT_EQ(e2e::CounterAt(counts, 12), 2);
  EXPECT_EQ(e2e::CounterAt(counts, 32 + (8 * 41 + 5) * 4), 2);
}

TEST(CountsAndPrinting, PrinterThatRefusesTheJobFailsIt) {
  e2e::Station station("refuse");
  IppPrinter printer(station.base() / "printer", "application/pdf");
  ASSERT_TRUE(printer.ready()) << printer.log();
  station.SetEnv("PRINTER", printer.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(PhotoJob(8, 1, 5, "Green.jpg"), "refused.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return !e2e::VisibleFiles(station.unknown()).empty(); }, 60)) << station.Log();
  EXPECT_TRUE(printer.documents().empty());
  EXPECT_NE(station.Log().find("The page could not be printed"), std::string::npos) << station.Log();
  EXPECT_NE(station.Log().find("document-format"), std::string::npos) << "the printer's own reason is told";
  EXPECT_EQ(station.Stop(), 0);
  // A job that did not print is not counted.
  EXPECT_FALSE(fs::exists(station.root() / "Kivo-Processor Count"));
}

}  // namespace

namespace {

TEST(CountsAndPrinting, CopyOriginalsJobStoresTheUntouchedPhotoAndCountsOnce) {
  e2e::Station station("originals");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Original.jpg", 320, 240, {200, 120, 40}));
  const std::string original = e2e::ReadAll(station.images() / "Original.jpg");
  jobwriter::TJobDescription job = PhotoJob(26, 4, 7, "Original.jpg");
  CAttributeDesc attr{};
  attr.SaveOriginal = 1;
  job.objects.push_back(jobwriter::RecordOf(*layout::TAttributeObject::New(attr)));
  ASSERT_TRUE(station.Drop(job, "originals.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  std::vector<fs::path> copies;
  ASSERT_TRUE(e2e::WaitUntil([&] { return !(copies = e2e::VisibleFilesBelow(station.SetFolder('A'))).empty(); }, 30))
      << station.Log();
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(e2e::ReadAll(copies.front()), original) << "a byte copy";
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty()) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  const std::string counts = e2e::ReadAll(station.root() / "Kivo-Processor Count");
  ASSERT_EQ(counts.size(), 16564u);
  EXPECT_EQ(e2e::CounterAt(counts, 4), 1) << "one copy-of-originals count, whatever the quantity";
  EXPECT_EQ(e2e::CounterAt(counts, 32 + (26 * 41 + 7) * 4), 1);
}

}  // namespace

namespace {

// The job's archived print settings, as a station's keyed archive of its
// print info: landscape on A4.
std::vector<uint8_t> ArchivedLandscapeA4() {
  using host::PlistArray, host::PlistDict, host::PlistUid, host::PlistValue;
  PlistArray objects{
      PlistValue("$null"),
      PlistDict{{"NSAttributes", PlistUid{2}}, {"$class", PlistUid{7}}},
      PlistDict{{"NS.keys", PlistArray{PlistUid{3}, PlistUid{4}}},
                {"NS.objects", PlistArray{PlistUid{5}, PlistUid{6}}},
                {"$class", PlistUid{8}}},
      PlistValue("NSOrientation"),
      PlistValue("NSPaperName"),
      PlistValue(int64_t(1)),
      PlistValue("iso-a4"),
      PlistDict{{"$classname", "NSPrintInfo"}, {"$classes", PlistArray{"NSPrintInfo", "NSObject"}}},
      PlistDict{{"$classname", "NSMutableDictionary"},
                {"$classes", PlistArray{"NSMutableDictionary", "NSDictionary", "NSObject"}}},
  };
  PlistDict archive{{"$archiver", "NSKeyedArchiver"},
                    {"$version", int64_t(100000)},
                    {"$top", PlistDict{{"root", PlistUid{1}}}},
                    {"$objects", objects}};
  auto bytes = host::serializePropertyList(archive, host::PlistFormat::Binary);
  return bytes ? *bytes : std::vector<uint8_t>{};
}

TEST(CountsAndPrinting, ArchivedPrintSettingsChooseThePaperAndOrientation) {
  e2e::Station station("printinfo");
  IppPrinter printer(station.base() / "printer", "image/jpeg");
  ASSERT_TRUE(printer.ready()) << printer.log();
  station.SetEnv("PRINTER", printer.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 600, 900, {20, 200, 20}));
  jobwriter::TJobDescription job = PhotoJob(8, 1, 5, "Green.jpg");
  job.printInfo = ArchivedLandscapeA4();
  ASSERT_FALSE(job.printInfo.empty());
  ASSERT_TRUE(station.Drop(job, "a4.trpr"));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  std::vector<fs::path> docs;
  ASSERT_TRUE(e2e::WaitUntil([&] { return !(docs = printer.documents()).empty(); }, 60)) << station.Log();
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(docs.front().string() + ".env"); }, 30));
  EXPECT_NE(station.Log().find("Printing through Cocoa"), std::string::npos);
  // A4 at 600 dpi, landscape: 7016 x 4961 dots; the 4 x 6 inch portrait
  // page is turned to lie on it, at its own size (3600 x 2400).
  const e2e::Picture sheet = e2e::ReadPicture(docs.front());
  ASSERT_TRUE(sheet.image) << sheet.error;
  EXPECT_EQ(sheet.width(), 7016);
  EXPECT_EQ(sheet.height(), 4961);
  EXPECT_LT(sheet.rgb(3508, 2480)[0], 80);
  EXPECT_GT(sheet.rgb(1650, 2480)[0], 240);  // left of (7016 - 3600) / 2 = 1708
  EXPECT_LT(sheet.rgb(1760, 2480)[0], 80);
  const std::string attributes = e2e::ReadAll(docs.front().string() + ".env");
  EXPECT_NE(attributes.find("IPP_ORIENTATION_REQUESTED=landscape"), std::string::npos) << attributes;
  EXPECT_NE(attributes.find("IPP_MEDIA=iso_a4_210x297mm"), std::string::npos) << attributes;
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace

namespace {

// Another station sharing the spool root: counts one print-centre print
// KIVO_E2E_TIMES times into the count files below KIVO_E2E_ROOT.
const testing_support::RegisterChildRole kSibling("sibling", [] {
  const char* root = std::getenv("KIVO_E2E_ROOT");
  const char* times = std::getenv("KIVO_E2E_TIMES");
  if (!root || !times) return 2;
  for (int i = 0, n = std::atoi(times); i < n; ++i)
    if (output::AddToPrintCountIn(root, 1, output::kCountPrintCenter, 40, 1, true, false) != 0) return 1;
  return 0;
});

TEST(CountsAndPrinting, TheProgramAndASiblingCountingAtOnceLoseNoCount) {
  e2e::Station station("sibling");
  ASSERT_TRUE(station.Start()) << station.Log();
  constexpr int kJobs = 4, kSiblingCounts = 300;
  for (int i = 0; i < kJobs; ++i) {
    const std::string photo = "P" + std::to_string(i) + ".jpg";
    ASSERT_TRUE(e2e::WritePhoto(station.images() / photo, 200, 300, {90, 90, 90}));
    ASSERT_TRUE(station.Drop(PhotoJob(17, 1, 2, photo.c_str()), "j" + std::to_string(i) + ".trpr"));
  }
  // Another station sharing the spool root counts into the same files
  // while the jobs are counted.
  const fs::path root = station.root();
  const pid_t sibling = testing_support::StartChildRole(
      "sibling", {{"KIVO_E2E_ROOT", root.string()}, {"KIVO_E2E_TIMES", std::to_string(kSiblingCounts)}});
  ASSERT_GT(sibling, 0);
  EXPECT_EQ(testing_support::WaitChild(sibling, 120), 0);
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  ASSERT_TRUE(e2e::WaitUntil([&] {
    const std::string b = e2e::ReadAll(root / "Kivo-Processor Count");
    return b.size() == 16564 && e2e::CounterAt(b, 4) == kJobs;
  }, 30)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  const std::string counts = e2e::ReadAll(root / "Kivo-Processor Count");
  EXPECT_EQ(e2e::CounterAt(counts, 4), kJobs);
  EXPECT_EQ(e2e::CounterAt(counts, 16), kSiblingCounts);
  EXPECT_EQ(e2e::CounterAt(counts, 32 + (40 * 41 + 1) * 4), kSiblingCounts);
}

TEST(CountsAndPrinting, SigtermWhileAnotherProgramHoldsTheCountLockEndsAtOnceAndTheJobIsCountedOnceLater) {
  e2e::Station station("lockterm");
  ASSERT_TRUE(station.Start()) << station.Log();
  // Another program holds the count lock and keeps it.
  const fs::path lockFile = station.root() / "Kivo Count.lock";
  const int held = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Grey.jpg", 200, 300, {90, 90, 90}));
  jobwriter::TJobDescription job = PhotoJob(17, 2, 3, "Grey.jpg");
  job.printToFileSet.namingType = 1;  // numbered names in the print-to-file folder
  ASSERT_TRUE(station.Drop(job, "held.trpr"));
  // The program has printed and now waits for the lock.
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::HasOpen(station.pid(), lockFile); }, 60)) << station.Log();
  EXPECT_EQ(station.Stop(10), 0) << "a held count lock kept the program from ending\n" << station.Log();
  const fs::path outputs = station.app() / fs::u8path("PRINT TO FILE FOLDER ƒ");
  EXPECT_EQ(e2e::VisibleFilesBelow(outputs).size(), 2u);
  EXPECT_FALSE(fs::exists(station.root() / "Kivo-Processor Count")) << "nothing could be counted yet";
  ::close(held);

  // The next start counts the job from its journal, once, and prints
  // nothing again.
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const fs::path cumulative = station.root() / "Kivo-Processor Count";
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::CounterAt(e2e::ReadAll(cumulative), 4) == 2; }, 30)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  for (const fs::path& file : {cumulative, station.root() / ("Kivo-Processor Count" + e2e::Today("%m-%d-%Y"))}) {
    const std::string bytes = e2e::ReadAll(file);
    EXPECT_EQ(e2e::CounterAt(bytes, 4), 2) << file;
    EXPECT_EQ(e2e::CounterAt(bytes, 32 + (17 * 41 + 3) * 4), 2) << file;
  }
  EXPECT_EQ(e2e::VisibleFilesBelow(outputs).size(), 2u) << "the job was printed again";
}

}  // namespace
