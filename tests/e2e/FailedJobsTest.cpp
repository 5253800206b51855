// Failure paths through the running program: a job that fails keeps its job
// file and its photos (it prints once it is moved back), a route that wrote
// nothing never reports the job printed, and a job killed at any moment
// prints exactly once.
#include <netinet/in.h>
#include <sys/socket.h>

#include <random>

#include "e2e/E2E.h"

#include "host/base/ByteOrder.h"
#include "layout/Objects.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace {

namespace fs = e2e::fs;

// A loopback port nothing listens on: bound, then closed again.
int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

TEST(FailedJobs, AJobWhoseRouteFailsKeepsItsPhotoAndPrintsWhenMovedBack) {
  e2e::Station station("failed");
  const int port = ClosedPort();
  ASSERT_NE(port, 0);
  station.SetEnv("PRINTER", "ipp://127.0.0.1:" + std::to_string(port) + "/ipp/print");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));

  // Set A's folder is a file now: the set job cannot be written.
  ASSERT_TRUE(fs::is_directory(station.SetFolder('A')));
  fs::remove_all(station.SetFolder('A'));
  e2e::WriteAll(station.SetFolder('A'), "not a folder");
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg", "SetJob"), "a-set.trpr"));
  // The system printer cannot be reached.
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Blue.jpg", "PrinterJob", 8), "b-printer.trpr"));

  ASSERT_TRUE(e2e::WaitUntil([&] {
    return e2e::ExistsAsEntry(station.unknown() / "a-set.trpr") &&
           e2e::ExistsAsEntry(station.unknown() / "b-printer.trpr");
  }, 60)) << station.Log();
  const std::string log = station.Log();
  EXPECT_NE(log.find("Print to File Set Folder could not be found!"), std::string::npos) << log;
  EXPECT_NE(log.find("The page could not be printed"), std::string::npos) << log;
  EXPECT_TRUE(fs::exists(station.images() / "Red.jpg")) << "a failed job keeps its photo";
  EXPECT_TRUE(fs::exists(station.images() / "Blue.jpg")) << "a failed job keeps its photo";
  EXPECT_TRUE(station.PrintLog().empty()) << station.PrintLog();

  // With the folder back, the job moved back prints, and only then does its
  // photo go.
  fs::remove(station.SetFolder('A'));
  fs::create_directory(station.SetFolder('A'));
  fs::rename(station.unknown() / "a-set.trpr", station.jobs() / "a-set.trpr");
  ASSERT_FALSE(station.WaitForSetOutput('A').empty()) << station.Log();
  EXPECT_TRUE(e2e::WaitUntil([&] { return station.PrintLog().find("Template: SetJob") != std::string::npos; }));
  EXPECT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg")) << station.Log();
  EXPECT_TRUE(fs::exists(station.images() / "Blue.jpg"));
  EXPECT_EQ(station.Stop(), 0);
}

// A home without a desktop folder: the yearbook job makes it and prints.
TEST(FailedJobs, AYearbookJobMakesTheMissingDesktopFolder) {
  e2e::Station station("yearbook");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_FALSE(e2e::ExistsAsEntry(station.base() / "Desktop"));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  jobwriter::TJobDescription job = e2e::SetOneJob("Red.jpg", "Yearbook", 17);
  setMyPrintToFileSetPrefsToFactoryDefaults(&job.printToFileSet, 1);
  job.printToFileSet.namingType = 2;
  job.printToFileSet.yearbookFolderName = "Class";
  ASSERT_TRUE(station.Drop(job, "yearbook.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return station.PrintLog().find("Template: Yearbook") != std::string::npos; }))
      << station.Log();
  std::vector<fs::path> saved;
  for (const fs::path& p : e2e::VisibleFiles(station.base() / "Desktop" / "Yearbook Photos" / "Class"))
    if (p.extension() == ".jpg") saved.push_back(p);
  ASSERT_EQ(saved.size(), 1u) << station.Log();
  const e2e::Picture page = e2e::ReadPicture(saved.front());
  ASSERT_TRUE(page.image) << page.error;
  EXPECT_GT(page.rgb(page.width() / 2, page.height() / 2)[0], 180);
  EXPECT_NE(station.Log().find("was missing and has been made"), std::string::npos);
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
}

// The outputs in set A's folder per photo name: "P07.jpg", "P07 copy.jpg"
// and so on all count for the job of P07.
std::map<std::string, int> OutputsPerJob(const e2e::Station& station) {
  std::map<std::string, int> counts;
  for (const fs::path& p : e2e::VisibleFilesBelow(station.SetFolder('A')))
    if (p.extension() == ".jpg") ++counts[p.filename().string().substr(0, 3)];
  return counts;
}

// A batch of jobs while the program is killed again and again: at random
// moments, right after an output appears, and while a page is being
// finished. Every job prints exactly once and takes its photo with it.
TEST(FailedJobs, JobsKilledAtAnyMomentPrintExactlyOnce) {
  e2e::Station station("once");
  ASSERT_TRUE(station.Start()) << station.Log();
  constexpr int kJobs = 36;
  auto name = [](int i) { return std::string("P") + char('0' + i / 10) + char('0' + i % 10); };
  for (int i = 0; i < kJobs; ++i) {
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (name(i) + ".jpg"), 600, 900, {uint8_t(7 * i), 90, 160}));
    ASSERT_TRUE(station.Drop(e2e::SetOneJob(name(i) + ".jpg", name(i)), name(i) + ".trpr"));
  }

  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  auto outputs = [&] {
    size_t n = 0;
    for (const auto& [job, count] : OutputsPerJob(station)) n += size_t(count);
    return n;
  };
  int kills = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(40);
  while (kills < 18 && outputs() < size_t(kJobs) && std::chrono::steady_clock::now() < end) {
    switch (kills % 3) {
      case 0:
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 400)(random)));
        break;
      case 1: {
        const size_t before = outputs();
        e2e::WaitUntil([&] { return outputs() > before; }, 10);
        break;
      }
      default: {
        const size_t before = e2e::CountOf(station.Log(), "before FinishJob");
        e2e::WaitUntil([&] { return e2e::CountOf(station.Log(), "before FinishJob") > before; }, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 30)(random)));
        break;
      }
    }
    ASSERT_EQ(kill(station.pid(), SIGKILL), 0);
    ASSERT_EQ(station.Wait(), 128 + SIGKILL);
    ++kills;
    ASSERT_TRUE(station.Start()) << station.Log();
  }
  EXPECT_GE(kills, 6) << "the batch ended before the program was killed often";

  ASSERT_TRUE(station.WaitForQueueEmpty(60)) << station.Log();
  const auto counts = OutputsPerJob(station);
  for (int i = 0; i < kJobs; ++i) {
    const auto it = counts.find(name(i));
    EXPECT_EQ(it == counts.end() ? 0 : it->second, 1) << name(i) << " after " << kills << " kills";
  }
  for (int i = 0; i < kJobs; ++i)
    EXPECT_TRUE(station.WaitUntilGone(station.images() / (name(i) + ".jpg"), 10)) << name(i);
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
}

// Set 1's record, changed by `edit`, stored for the program before it starts.
void StoreSetOne(e2e::Station& station, const std::function<void(tSpecialPrintToFilePref&)>& edit) {
  mySetAllDefaults();
  edit(*getMyPrintToFileSetPrefs(1));
  ASSERT_TRUE(station.SetDefault(PrintToFileSetKey(1), host::PlistValue(PrintToFileSetBlob(1))));
}

// The print-to-file counter of the count file (0 when there is none).
int32_t PrintToFileCount(const e2e::Station& station) {
  const std::string bytes = e2e::ReadAll(station.root() / "Kivo-Processor Count");
  return bytes.size() < 8 ? 0 : host::LoadLEI32(reinterpret_cast<const uint8_t*>(bytes.data()) + 4);
}

TEST(FailedJobs, RoutesThatWriteNothingFailTheJob) {
  e2e::Station station("nothing");
  // A set stored with a format no route writes is repaired at start-up and
  // says so; only a job's own record can still ask for one.
  StoreSetOne(station, [](tSpecialPrintToFilePref& set) { set.fileFormat = 99; });
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(station.WaitForLog("Print-to-file set A (1): file format 99 is not usable and was changed to 3", 20))
      << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));
  // Single-folder jobs whose own records ask for format 99 and keep the job
  // writer library's format 0.
  jobwriter::TJobDescription format99 = e2e::SetOneJob("Red.jpg", "Format99", 17);
  format99.printToFileSet.fileFormat = 99;
  ASSERT_TRUE(station.Drop(format99, "a-format99.trpr"));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Blue.jpg", "Format0", 17), "b-format0.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] {
    return e2e::ExistsAsEntry(station.unknown() / "a-format99.trpr") &&
           e2e::ExistsAsEntry(station.unknown() / "b-format0.trpr");
  })) << station.Log();
  const std::string log = station.Log();
  EXPECT_NE(log.find("asks for file format 99, which is not written"), std::string::npos) << log;
  EXPECT_NE(log.find("asks for file format 0, which is not written"), std::string::npos) << log;
  EXPECT_EQ(e2e::CountOf(log, "DisplayNormalMessage ERROR string: [Could not write printer file!]"), 2u) << log;
  EXPECT_TRUE(fs::exists(station.images() / "Red.jpg"));
  EXPECT_TRUE(fs::exists(station.images() / "Blue.jpg"));
  EXPECT_TRUE(station.PrintLog().empty()) << station.PrintLog();
  EXPECT_TRUE(e2e::VisibleFilesBelow(station.app() / fs::u8path("PRINT TO FILE FOLDER ƒ")).empty());
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_EQ(PrintToFileCount(station), 0);
}

// Naming type 6 puts the job's base name (here 250 characters) after the
// photo's name: too long for a file name, so it is cut, also for the
// " copy" name of the second job.
TEST(FailedJobs, ASetNameTooLongForAFileNameIsCut) {
  e2e::Station station("longname");
  StoreSetOne(station, [](tSpecialPrintToFilePref& set) { set.namingType = 6; });
  ASSERT_TRUE(station.Start()) << station.Log();
  for (const char* templ : {"First", "Second"}) {
    ASSERT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg"));
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
    jobwriter::TJobDescription job = e2e::SetOneJob("Red.jpg", templ);
    job.baseName = CStr255_AC(std::string(250, 'x'));
    ASSERT_TRUE(station.Drop(job, std::string(templ) + ".trpr"));
    ASSERT_TRUE(e2e::WaitUntil([&] { return station.PrintLog().find(std::string("Template: ") + templ) != std::string::npos; }))
        << station.Log();
  }
  const auto outputs = e2e::VisibleFilesBelow(station.SetFolder('A'));
  ASSERT_EQ(outputs.size(), 2u) << station.Log();
  for (const fs::path& p : outputs) {
    EXPECT_LE(p.filename().string().size(), 255u);
    EXPECT_EQ(p.filename().string().rfind("Red_xxxx", 0), 0u) << p;
    EXPECT_TRUE(e2e::ReadPicture(p).image) << p;
  }
  EXPECT_NE(station.Log().find("is too long for a file name: it is cut"), std::string::npos);
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
}

// Codes whose texts the encoder cannot take fail the job, saying which
// object and why, instead of printing the page without them.
TEST(FailedJobs, ACodeThatCannotBeMadeFailsTheJob) {
  e2e::Station station("codes");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));
  jobwriter::TJobDescription qr = e2e::SetOneJob("Red.jpg", "QR");
  CStampDesc qrStamp = jobwriter::StampDesc("", 0.5f, 0.5f, 2, 2, 1);
  qrStamp.fText = CStr255_AC::FromMacRoman("A\xAD" "B");  // "A≠B": no ISO Latin-1 form
  qr.objects.push_back(jobwriter::RecordOf(*layout::TStampObject::New(qrStamp)));
  ASSERT_TRUE(station.Drop(qr, "a-qr.trpr"));
  jobwriter::TJobDescription bar = e2e::SetOneJob("Blue.jpg", "Barcode");
  bar.objects.push_back(jobwriter::RecordOf(
      *layout::TStampObject::New(jobwriter::StampDesc(std::string(200, '4'), 0.25f, 4.5f, 3.5f, 1, 2))));
  ASSERT_TRUE(station.Drop(bar, "b-bar.trpr"));

  ASSERT_TRUE(e2e::WaitUntil([&] {
    return e2e::ExistsAsEntry(station.unknown() / "a-qr.trpr") && e2e::ExistsAsEntry(station.unknown() / "b-bar.trpr");
  })) << station.Log();
  const std::string log = station.Log();
  EXPECT_NE(log.find("[The stamp \"A\xE2\x89\xA0" "B\" cannot be drawn as a QR code: it has characters without an "
                     "ISO Latin-1 form!]"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("cannot be drawn as a Code 128 barcode: the encoder refused it"), std::string::npos) << log;
  EXPECT_TRUE(e2e::VisibleFilesBelow(station.SetFolder('A')).empty());
  EXPECT_TRUE(station.PrintLog().empty()) << station.PrintLog();
  EXPECT_TRUE(fs::exists(station.images() / "Red.jpg"));
  EXPECT_TRUE(fs::exists(station.images() / "Blue.jpg"));
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_EQ(PrintToFileCount(station), 0);
}

}  // namespace
