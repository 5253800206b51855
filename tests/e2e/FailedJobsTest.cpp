// Failure paths through the running program: a job that fails keeps its job
// file and its photos (it prints once it is moved back), a route that wrote
// nothing never reports the job printed, and a job killed at any moment
// prints exactly once.
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <random>
#include <thread>

#include "e2e/E2E.h"
#include "e2e/PrefsDialog.h"

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
  // A printer that cannot be reached is waited for, here for 4 s.
  station.SetEnv("KIVO_PRINTER_BUSY_LIMIT", "4");
  // Set A's folder is a file: the set job cannot be written.
  e2e::WriteAll(station.SetFolder('A'), "not a folder");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));
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
  EXPECT_NE(log.find("Printer cannot be reached: trying again in 2 s (try 2)"), std::string::npos) << log;
  EXPECT_NE(log.find("the printer cannot be reached: Service Unavailable (for 4 s)"), std::string::npos) << log;
  EXPECT_TRUE(fs::exists(station.images() / "Red.jpg")) << "a failed job keeps its photo";
  EXPECT_TRUE(fs::exists(station.images() / "Blue.jpg")) << "a failed job keeps its photo";
  EXPECT_TRUE(station.PrintLog().empty()) << station.PrintLog();

  // With the file gone, the next start makes the folder, the job moved back
  // prints, and only then does its photo go.
  EXPECT_EQ(station.Stop(), 0);
  fs::remove(station.SetFolder('A'));
  ASSERT_TRUE(station.Start()) << station.Log();
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

// The outputs in a folder per job: "P07.jpg", "P07 copy.jpg" and so on all
// count for the job of P07.
std::map<std::string, int> OutputsPerJob(const fs::path& folder) {
  std::map<std::string, int> counts;
  for (const fs::path& p : e2e::VisibleFilesBelow(folder))
    if (p.extension() == ".jpg" || p.extension() == ".JPG") ++counts[p.filename().string().substr(0, 3)];
  return counts;
}
std::map<std::string, int> OutputsPerJob(const e2e::Station& station) { return OutputsPerJob(station.SetFolder('A')); }

fs::path WebFolder(const e2e::Station& station) { return station.app() / fs::u8path("WEB UPLOAD FOLDER \xC6\x92"); }

// Stores preferences for the station before it starts.
void WritePrefs(const e2e::Station& station, const std::function<void()>& change) {
  e2e::WritePrefs(station.defaultsFile(), change);
}

// Set 1 makes a web copy and further copies in set 2 of each job; set 2
// writes into set A's folder too.
void WebAndFurtherSet(const e2e::Station& station) {
  WritePrefs(station, [] {
    getMyPrintToFileSetPrefs(1)->createJpegForWeb = 1;
    getMyPrintToFileSetPrefs(1)->alsoCopyToSet = {3, 0, 0};
    getMyWebUploadPrefs()->folder.createIfMissing = 1;
  });
}

// A job of `copies` copies of one photo for set 1, `name` its template.
jobwriter::TJobDescription CopiesJob(const std::string& name, uint16_t copies) {
  jobwriter::TJobDescription job = e2e::SetOneJob(name + ".jpg", name);
  job.printQuantity = copies;
  return job;
}

// Every job of `names` has `copies` outputs of set 1 and as many of set 2
// in set A's folder, and one web copy; none failed.
void ExpectEveryOutputOnce(const e2e::Station& station, const std::vector<std::string>& names, int copies,
                           const std::string& context) {
  const auto a = OutputsPerJob(station.SetFolder('A'));
  const auto web = OutputsPerJob(WebFolder(station));
  auto count = [](const std::map<std::string, int>& m, const std::string& n) {
    const auto it = m.find(n);
    return it == m.end() ? 0 : it->second;
  };
  for (const std::string& n : names) {
    EXPECT_EQ(count(a, n), 2 * copies) << n << " in set A " << context;
    EXPECT_EQ(count(web, n), 1) << n << " web copy " << context;
  }
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty()) << context;
}

// A printer-17 job of `copies` copies of one photo, numbered under its own
// name ("Q01_0001.jpg"...) in the print-to-file folder.
jobwriter::TJobDescription PrintToFileJob(const std::string& name, uint16_t copies) {
  jobwriter::TJobDescription job = e2e::SetOneJob(name + ".jpg", name, 17);
  job.printQuantity = copies;
  setMyPrintToFileSetPrefsToFactoryDefaults(&job.printToFileSet, 1);
  job.printToFileSet.namingType = 1;
  job.printToFileSet.baseName = CStr63_AC(name);
  return job;
}

fs::path PrintToFileFolder(const e2e::Station& station) {
  return station.app() / fs::u8path("PRINT TO FILE FOLDER \xC6\x92");
}

// Every job of `names` has `copies` outputs in the print-to-file folder.
void ExpectEveryPrintToFileCopyOnce(const e2e::Station& station, const std::vector<std::string>& names, int copies,
                                    const std::string& context) {
  const auto made = OutputsPerJob(PrintToFileFolder(station));
  for (const std::string& n : names) {
    const auto it = made.find(n);
    EXPECT_EQ(it == made.end() ? 0 : it->second, copies) << n << " " << context;
  }
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty()) << context;
}

// Drops one job per moment, named `prefix` and the moment, and kills the
// program right after that moment of it (a record written, an output
// renamed in); started again, the program must leave what `expect` checks.
// Stops at the first job that passes fewer moments. The names of the jobs.
void KillAtEachMoment(e2e::Station& station, char prefix, int first, int last,
                      const std::function<jobwriter::TJobDescription(const std::string&)>& makeJob,
                      const std::function<void(const std::vector<std::string>&, const std::string&)>& expect,
                      std::vector<std::string>* names) {
  bool finishedUnkilled = false;
  for (int point = first; point <= last && !finishedUnkilled; ++point) {
    const std::string name = prefix + std::string(point < 10 ? "0" : "") + std::to_string(point);
    names->push_back(name);
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (name + ".jpg"), 300, 450, {uint8_t(4 * point), 90, 160}));
    ASSERT_TRUE(station.Drop(makeJob(name), name + ".trpr"));
    ASSERT_TRUE(e2e::KilledAtThenRestarted(station, point, station.images() / (name + ".jpg"), &finishedUnkilled));
    expect(*names, "after a kill at moment " + std::to_string(point));
  }
  if (last >= 60) EXPECT_TRUE(finishedUnkilled) << "every moment of the job was reached";
  else EXPECT_FALSE(finishedUnkilled) << "the job has more than " << last << " moments";
}

// No working file is left behind (beside the spool folder's lock and
// record), and no save failed.
void ExpectNothingLeftOver(e2e::Station& station) {
  std::vector<std::string> left;
  for (const fs::path& p : e2e::EntriesBelow(station.spoolPrivate()))
    if (!e2e::IsSpoolLockOrRecord(p)) left.push_back(p.filename());
  EXPECT_EQ(left, std::vector<std::string>{});
  EXPECT_EQ(station.Log().find("An error occured while trying to save the file!"), std::string::npos);
}

// The program is killed right after each moment its durable state changes
// while a job of three copies, a web copy and three further-set copies is
// made, one kill per job; started again, it makes exactly the outputs that
// are missing. The moments are taken in two halves, each a test of its own,
// so that the two can run side by side.
void KillASetJobAtMoments(int first, int last) {
  e2e::Station station("points");
  WebAndFurtherSet(station);
  ASSERT_TRUE(station.Start()) << station.Log();  // the spool tree
  ASSERT_EQ(station.Stop(), 0);
  std::vector<std::string> names;
  ASSERT_NO_FATAL_FAILURE(KillAtEachMoment(
      station, 'K', first, last, [](const std::string& name) { return CopiesJob(name, 3); },
      [&](const std::vector<std::string>& made, const std::string& context) {
        ExpectEveryOutputOnce(station, made, 3, context);
      },
      &names));
  ExpectNothingLeftOver(station);
}

TEST(FailedJobs, AJobKilledAtEachOfItsFirstRecordingPointsMakesEveryOutputOnce) {
  // A job of seven outputs passes many moments: more than these.
  KillASetJobAtMoments(1, 14);
}

TEST(FailedJobs, AJobKilledAtEachOfItsLaterRecordingPointsMakesEveryOutputOnce) {
  KillASetJobAtMoments(15, 60);
}

// The same for a printer-17 job of three copies.
TEST(FailedJobs, APrintToFileJobKilledAtEachRecordingPointMakesEveryCopyOnce) {
  e2e::Station station("points");
  WebAndFurtherSet(station);
  ASSERT_TRUE(station.Start()) << station.Log();  // the spool tree
  ASSERT_EQ(station.Stop(), 0);
  std::vector<std::string> printToFile;
  ASSERT_NO_FATAL_FAILURE(KillAtEachMoment(
      station, 'Q', 1, 60, [](const std::string& name) { return PrintToFileJob(name, 3); },
      [&](const std::vector<std::string>& made, const std::string& context) {
        ExpectEveryPrintToFileCopyOnce(station, made, 3, context);
      },
      &printToFile));
  EXPECT_GE(printToFile.size(), 7u) << "a job of three copies passes at least two moments per copy";
  ExpectNothingLeftOver(station);
}

// A batch of jobs while the program is killed again and again: at random
// moments, right after an output appears, and while a page is being
// finished. Each job makes three copies, a web copy and three copies in a
// further set: every output is made exactly once and the job takes its
// photo with it.
TEST(FailedJobs, JobsKilledAtAnyMomentPrintExactlyOnce) {
  e2e::Station station("once");
  WebAndFurtherSet(station);
  ASSERT_TRUE(station.Start()) << station.Log();
  constexpr int kJobs = 24;
  auto name = [](int i) { return std::string("P") + char('0' + i / 10) + char('0' + i % 10); };
  for (int i = 0; i < kJobs; ++i) {
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (name(i) + ".jpg"), 600, 900, {uint8_t(7 * i), 90, 160}));
    ASSERT_TRUE(station.Drop(CopiesJob(name(i), 3), name(i) + ".trpr"));
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
  while (kills < 18 && outputs() < size_t(6 * kJobs) && std::chrono::steady_clock::now() < end) {
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
  std::vector<std::string> names;
  for (int i = 0; i < kJobs; ++i) {
    names.push_back(name(i));
    EXPECT_TRUE(station.WaitUntilGone(station.images() / (name(i) + ".jpg"), 10)) << name(i);
  }
  EXPECT_EQ(station.Stop(), 0);
  ExpectEveryOutputOnce(station, names, 3, "after " + std::to_string(kills) + " kills");
}

// A hot folder's consumer (a RIP, an uploader) takes every output from set
// A's folder and from the print-to-file folder the moment it appears: every
// job (sets, and printer 17 with three copies) still ends printed, none is
// reported failed, and across kills none of its outputs is written again.
TEST(FailedJobs, AConsumerTakingOutputsAsTheyAppearLosesAndRepeatsNothing) {
  e2e::Station station("consumer");
  const fs::path taken = station.base() / "taken";
  fs::create_directories(taken);
  std::atomic<bool> stop{false};
  std::thread consumer([&] {
    int serial = 0;
    while (!stop) {
      for (const fs::path& folder : {station.SetFolder('A'), PrintToFileFolder(station)})
        for (const fs::path& p : e2e::VisibleFilesBelow(folder)) {
          // Each file taken keeps its own name: the next output may come
          // under the same name.
          std::error_code ec;
          const std::string name = p.stem().string() + "#" + std::to_string(++serial) + p.extension().string();
          fs::rename(p, taken / name, ec);
        }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  struct Join {
    std::atomic<bool>& stop;
    std::thread& thread;
    ~Join() {
      stop = true;
      thread.join();
    }
  } join{stop, consumer};

  ASSERT_TRUE(station.Start()) << station.Log();
  std::vector<std::string> names, printToFile;
  auto drop = [&](int i) {
    const std::string number = std::string(i < 10 ? "0" : "") + std::to_string(i);
    const std::string name = "C" + number;
    names.push_back(name);
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (name + ".jpg"), 300, 450, {uint8_t(9 * i), 40, 200}));
    ASSERT_TRUE(station.Drop(CopiesJob(name, 2), name + ".trpr"));
    if (i % 2 != 0) return;
    const std::string other = "R" + number;
    printToFile.push_back(other);
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (other + ".jpg"), 300, 450, {uint8_t(9 * i), 200, 40}));
    ASSERT_TRUE(station.Drop(PrintToFileJob(other, 3), other + ".trpr"));
  };
  // Without kills.
  for (int i = 0; i < 6; ++i) drop(i);
  ASSERT_TRUE(station.WaitForQueueEmpty(60)) << station.Log();
  // With kills, each one right after an output was taken.
  for (int i = 6; i < 20; ++i) drop(i);
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  int kills = 0;
  while (kills < 8 && !station.QueueEmpty()) {
    const size_t before = e2e::VisibleFiles(taken).size();
    e2e::WaitUntil([&] { return e2e::VisibleFiles(taken).size() > before; }, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 20)(random)));
    ASSERT_EQ(kill(station.pid(), SIGKILL), 0);
    ASSERT_EQ(station.Wait(), 128 + SIGKILL);
    ++kills;
    ASSERT_TRUE(station.Start()) << station.Log();
  }
  EXPECT_GE(kills, 3);
  ASSERT_TRUE(station.WaitForQueueEmpty(60)) << station.Log();
  for (const auto* list : {&names, &printToFile})
    for (const std::string& n : *list)
      EXPECT_TRUE(station.WaitUntilGone(station.images() / (n + ".jpg"), 10)) << n;
  EXPECT_EQ(station.Stop(), 0);
  const auto counts = OutputsPerJob(taken);
  auto count = [&](const std::string& n) {
    const auto it = counts.find(n);
    return it == counts.end() ? 0 : it->second;
  };
  for (const std::string& n : names) EXPECT_EQ(count(n), 2) << n << " after " << kills << " kills";
  for (const std::string& n : printToFile) EXPECT_EQ(count(n), 3) << n << " after " << kills << " kills";
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Log().find("An error occured while trying to save the file!"), std::string::npos);
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
