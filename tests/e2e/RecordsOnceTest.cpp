// Exactly once through the running program when it is stopped the way a
// service manager stops it (SIGTERM), killed, or cannot record what it does:
// a job set aside by SIGTERM goes on from what it had placed; a route that
// cannot record an output does not put it in place and fails the job with
// its files; the web server is told of each printed job once, whenever the
// program is killed.
#include <fcntl.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>
#include <thread>

#include "common/FakeIppPrinter.h"
#include "e2e/E2E.h"

#include "layout/Objects.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace {

namespace fs = e2e::fs;

fs::path PrivateFolder(const e2e::Station& station) { return station.app() / "KIVO PRIVATE FOLDER"; }

// The pages (".jpg") and clips (".mov") in set A's folder.
size_t SetFiles(const e2e::Station& station, const std::string& extension) {
  size_t n = 0;
  for (const fs::path& p : e2e::VisibleFilesBelow(station.SetFolder('A')))
    if (p.extension() == extension) ++n;
  return n;
}

// The print-to-file counter of the cumulative count file (0 when none).
int32_t PrintToFileCount(const e2e::Station& station) {
  return std::max(0, e2e::CounterAt(e2e::ReadAll(station.root() / "Kivo-Processor Count"), 4));
}

jobwriter::TJobDescription CopiesJob(const std::string& photo, uint16_t copies) {
  jobwriter::TJobDescription job = e2e::SetOneJob(photo, "Copies");
  job.printQuantity = copies;
  return job;
}

// Waits until the program stopped itself at its stop point.
::testing::AssertionResult StoppedAtItsPoint(const e2e::Station& station) {
  if (e2e::WaitUntil([&] { return station.Stopped(); }, 60)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "it did not stop at its point:\n" << station.Log();
}

// Ends the program stopped at its point as a service manager does: SIGTERM,
// then lets it run on to act on it; its exit status.
int TerminateStopped(e2e::Station& station) {
  ::kill(station.pid(), SIGTERM);
  ::kill(station.pid(), SIGCONT);
  return station.Wait(60);
}

// ---- a job set aside by SIGTERM

// Set 1 keeps web sizes (the video copy needs them), and the encoder
// stand-ins come first on PATH: ffprobe describes every clip as half a
// second of 160 x 120, ffmpeg runs `script`. The intro and outro wait in
// the shared folder, the customer's clip in the images folder's "videos".
void PrepareVideo(e2e::Station& station, const std::string& script) {
  mySetAllDefaults();
  getMyPrintToFileSetPrefs(1)->doNotResizeJpegForWeb = 1;
  const std::vector<uint8_t> blob = PrintToFileSetBlob(1);
  ASSERT_TRUE(station.SetDefault(PrintToFileSetKey(1), host::PlistValue(host::PlistData(blob.begin(), blob.end()))));
  const fs::path shared = station.base() / "shared";
  fs::create_directories(shared / "MasterDvdContentFolder");
  e2e::WriteAll(shared / "MasterDvdContentFolder" / "Chapter1.mov", "intro");
  e2e::WriteAll(shared / "MasterDvdContentFolder" / "Chapter3.mov", "outro");
  station.SetEnv("KIVO_SHARED_FOLDER", shared.string());
  const fs::path bin = station.base() / "bin";
  fs::create_directories(bin);
  e2e::WriteAll(bin / "ffprobe",
                "#!/bin/sh\ncase \"$*\" in\n  *format=duration*) echo 0.5;;\n  *stream=width,height*) echo 160x120;;\n"
                "esac\n");
  e2e::WriteAll(bin / "ffmpeg", "#!/bin/sh\n" + script);
  for (const char* tool : {"ffprobe", "ffmpeg"}) fs::permissions(bin / tool, fs::perms::owner_all);
  station.SetEnv("PATH", bin.string() + ":" + std::getenv("PATH"));
  fs::create_directories(station.images() / "videos");
  e2e::WriteAll(station.images() / "videos" / "party.mov", "the party");
}

constexpr const char kMerge[] = "for a; do last=$a; done\nprintf merged > \"${last#file:}\"\n";

// A set job of three copies, each with its clip merged: SIGTERM during the
// second copy's merge sets the job aside with its first page and clip
// placed, and the next start makes the second and third only: three pages,
// three clips, counted three, logged once.
TEST(RecordsOnce, SigtermDuringTheSecondCopysMergeKeepsWhatTheFirstPlaced) {
  e2e::Station station("termsecond");
  // The first merge is made; the second hangs until the program ends it.
  ASSERT_NO_FATAL_FAILURE(PrepareVideo(
      station, std::string("if [ -e \"$0.first\" ]; then echo $$ > \"$0.pid\"; exec sleep 600; fi\n: > \"$0.first\"\n") +
                   kMerge));
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));
  jobwriter::TJobDescription job = CopiesJob("Blue.jpg", 3);
  job.videoCopy = 1;
  job.videoMerge = 1;
  job.videoPath = (station.images() / "videos" / "party.mov").string();
  ASSERT_TRUE(station.Drop(job, "video.trpr"));
  ASSERT_TRUE(station.WaitForFile(station.base() / "bin" / "ffmpeg.pid")) << station.Log();
  EXPECT_EQ(station.Stop(15), 0) << station.Log();
  EXPECT_EQ(SetFiles(station, ".jpg"), 1u) << station.Log();
  EXPECT_EQ(SetFiles(station, ".mov"), 1u);
  EXPECT_FALSE(station.QueueEmpty()) << "the job waits for the next start";
  EXPECT_EQ(PrintToFileCount(station), 0);

  e2e::WriteAll(station.base() / "bin" / "ffmpeg", std::string("#!/bin/sh\n") + kMerge);
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_TRUE(station.WaitUntilGone(station.images() / "Blue.jpg")) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_EQ(SetFiles(station, ".jpg"), 3u) << station.Log();
  EXPECT_EQ(SetFiles(station, ".mov"), 3u) << station.Log();
  EXPECT_EQ(PrintToFileCount(station), 3);
  EXPECT_EQ(e2e::PrintLogLines(station), 1u);
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
}

// Starts the program with a job of three copies of "Red.jpg" and waits
// until it was killed right after its second copy was put in place.
void KillAfterTheSecondCopy(e2e::Station& station) {
  station.SetEnv("KIVO_KILL_AT", "output-renamed:2");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(CopiesJob("Red.jpg", 3), "three.trpr"));
  ASSERT_EQ(station.Wait(60), 128 + SIGKILL) << station.Log();
  ASSERT_EQ(SetFiles(station, ".jpg"), 2u);
  station.SetEnv("KIVO_KILL_AT", "");
}

// Starts the program again and lets it finish the job of "Red.jpg" (after
// KillAfterTheSecondCopy, its three copies): each of the `copies` exists
// once and the job counts them, once.
void FinishTheCopies(e2e::Station& station, size_t copies) {
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg")) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_EQ(SetFiles(station, ".jpg"), copies) << station.Log();
  EXPECT_EQ(PrintToFileCount(station), int32_t(copies));
  EXPECT_EQ(e2e::PrintLogLines(station), 1u);
}

// Drops a job of one copy of a new photo "Blue.jpg" as `name` into the
// running program and waits until it has printed and its photo is gone.
void PrintALaterJob(e2e::Station& station, const std::string& name) {
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Blue.jpg", 300, 450, {20, 20, 220}));
  ASSERT_TRUE(station.Drop(CopiesJob("Blue.jpg", 1), name));
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_TRUE(station.WaitUntilGone(station.images() / "Blue.jpg")) << station.Log();
}

// A job of three copies killed right after its second copy was put in
// place, started again and stopped by SIGTERM once it is read again, before
// the rest is drawn: started a third time, it makes the third copy only.
// Every copy exists once and the job counts three, once.
TEST(RecordsOnce, AJobKilledAfterItsSecondCopyAndStoppedBeforeTheRestPrintsEachCopyOnce) {
  e2e::Station station("killterm");
  ASSERT_NO_FATAL_FAILURE(KillAfterTheSecondCopy(station));

  station.SetEnv("KIVO_STOP_AT", "job-read");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(StoppedAtItsPoint(station));
  EXPECT_EQ(TerminateStopped(station), 0) << station.Log();
  EXPECT_NE(station.Log().find("stays queued for the next start"), std::string::npos) << station.Log();
  EXPECT_EQ(SetFiles(station, ".jpg"), 2u);
  EXPECT_TRUE(fs::exists(station.images() / "Red.jpg"));
  EXPECT_EQ(PrintToFileCount(station), 0);

  station.SetEnv("KIVO_STOP_AT", "");
  ASSERT_NO_FATAL_FAILURE(FinishTheCopies(station, 3));
}

// Stopped at the first record write of a one-copy set job, the operator
// renames the spool folder's "KIVO PRIVATE FOLDER", which holds the job's
// working copy and the record, and the program is killed. The next start is
// refused, naming the folder under its new name: nothing is taken for
// placed, printed, counted or deleted. Renamed back, the job prints once
// and is counted once. Nothing of a job is kept in the application folder's
// private folder of earlier versions.
TEST(RecordsOnce, APrivateFolderRenamedWhileStoppedNeverMakesAnOutputCountAsPlaced) {
  e2e::Station station("renamedprivate");
  station.SetEnv("KIVO_STOP_AT", "record-written");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return station.Stopped(); }, 60)) << station.Log();
  EXPECT_FALSE(fs::exists(station.app() / "KIVO PRIVATE FOLDER"));
  const fs::path aside = station.root() / "Aside";
  fs::rename(station.spoolPrivate(), aside);
  ASSERT_EQ(::kill(station.pid(), SIGKILL), 0);
  ASSERT_EQ(station.Wait(), 128 + SIGKILL);

  station.SetEnv("KIVO_STOP_AT", "");
  const size_t before = station.Console().size();
  ASSERT_TRUE(station.Launch());
  EXPECT_EQ(station.Wait(30), 1) << station.Console();
  EXPECT_NE(station.Console().find("\"Aside\"", before), std::string::npos) << station.Console();
  EXPECT_EQ(SetFiles(station, ".jpg"), 0u);
  EXPECT_EQ(PrintToFileCount(station), 0);
  EXPECT_TRUE(fs::exists(station.images() / "Red.jpg"));
  EXPECT_TRUE(fs::exists(station.allFiles() / "red.trpr"));

  fs::rename(aside, station.spoolPrivate());
  FinishTheCopies(station, 1);
}

// ---- a damaged record

fs::path RecordFile(const e2e::Station& station) { return station.record(); }

// Where one bit is flipped: in the record's header (its magic, its version
// and the version's check), and in the middle of each of its entries (each
// a 4-byte length, a 4-byte checksum and the body).
std::vector<size_t> FlipPlaces(const std::string& record) {
  std::vector<size_t> places{1, 4, 6};
  for (size_t at = 8; at + 8 <= record.size();) {
    uint32_t length = 0;
    for (int i = 3; i >= 0; --i) length = length << 8 | uint8_t(record[at + size_t(i)]);
    if (length == 0 || at + 8 + length > record.size()) break;
    places.push_back(at + 8 + length / 2);
    at += 8 + length;
  }
  return places;
}

// A job of three copies killed right after its second copy was put in
// place, and one bit of its record flipped, in the header or in any of its
// entries: at the next start the record as found is kept aside and the job
// is held, not made again: it waits in the unknown-jobs folder with its
// photo, the operator is told naming it, and nothing more is printed,
// counted or logged. A job dropped after the start prints.
TEST(RecordsOnce, ADamagedRecordHoldsTheJobItSpokeOfAndNothingIsMadeAgain) {
  size_t places = 1;
  for (size_t place = 0; place < places; ++place) {
    SCOPED_TRACE("flip " + std::to_string(place));
    e2e::Station station("damaged");
    ASSERT_NO_FATAL_FAILURE(KillAfterTheSecondCopy(station));
    std::string record = e2e::ReadAll(RecordFile(station));
    const std::vector<size_t> flips = FlipPlaces(record);
    places = flips.size();
    ASSERT_GE(places, 6u) << "the header and three entries at least";
    record[flips[place]] = char(record[flips[place]] ^ 0x04);
    e2e::WriteAll(RecordFile(station), record);
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "three.trpr"); }, 60))
        << station.Log();
    const std::string log = station.Log();
    const size_t alert = log.find("Whether the job file [three.trpr] printed cannot be told");
    EXPECT_NE(alert, std::string::npos) << log;
    EXPECT_NE(log.find("(it was kept as [" + (station.spoolPrivate() / "Printed Job Files.damaged-").string(), alert),
              std::string::npos)
        << "the alert names the record kept aside where the operator finds it\n" << log;
    EXPECT_TRUE(fs::exists(station.images() / "Red.jpg")) << "a held job keeps its photo";
    size_t aside = 0;
    for (const fs::path& f : e2e::VisibleFiles(station.spoolPrivate()))
      if (f.filename().string().rfind("Printed Job Files.damaged-", 0) == 0 && e2e::ReadAll(f) == record) ++aside;
    EXPECT_EQ(aside, 1u) << "the record as found is kept aside";
    ASSERT_NO_FATAL_FAILURE(PrintALaterJob(station, "later.trpr"));
    EXPECT_EQ(station.Stop(), 0);
    EXPECT_EQ(SetFiles(station, ".jpg"), 3u) << "the held job's two and the later one\n" << station.Log();
    EXPECT_EQ(PrintToFileCount(station), 1);
    EXPECT_EQ(e2e::PrintLogLines(station), 1u);
  }
}

// A job of three copies killed right after its second copy was put in
// place, its file touched before the restart (its times changed, its bytes
// not): it is the same job, and the restart makes the third copy only.
TEST(RecordsOnce, ATouchedJobFileIsTheSameJob) {
  e2e::Station station("touched");
  ASSERT_NO_FATAL_FAILURE(KillAfterTheSecondCopy(station));
  const fs::path job = station.allFiles() / "three.trpr";
  const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, job.c_str(), times, 0), 0);
  ASSERT_NO_FATAL_FAILURE(FinishTheCopies(station, 3));
}

// Runs the program with its clock `offset` ("-1h", "+2s") from the real one
// (Debian's libfaketime); empty: the real clock.
void UseClock(e2e::Station& station, const std::string& offset) {
  std::string library;
  std::error_code ec;
  for (const fs::directory_entry& arch : fs::directory_iterator("/usr/lib", ec)) {
    const fs::path candidate = arch.path() / "faketime" / "libfaketime.so.1";
    if (fs::exists(candidate)) library = candidate;
  }
  ASSERT_FALSE(library.empty()) << "Debian's faketime is not installed";
  station.SetEnv("LD_PRELOAD", offset.empty() ? "" : library);
  station.SetEnv("FAKETIME", offset);
  station.SetEnv("FAKETIME_DONT_FAKE_MONOTONIC", "1");
  // The files' times stay the kernel's, as on a machine whose clock is off:
  // faked, they would differ between the calls the library covers and those
  // it does not (fstatat).
  station.SetEnv("NO_FAKE_STAT", offset.empty() ? "" : "1");
  // Under the sanitizers the library comes before their runtime.
  const char* asan = std::getenv("ASAN_OPTIONS");
  station.SetEnv("ASAN_OPTIONS", std::string(asan ? asan : "") + (asan && *asan ? ":" : "") +
                                     "verify_asan_link_order=0");
}

// How far the clock of the running program's latest log line (stamped
// "YYYY-MM-DD HH:MM:SS.mmm kivo-processor[<pid>]") is from the real one
// now, in seconds.
long LoggedClockOffset(const e2e::Station& station) {
  const std::string log = station.Log();
  const std::string own = " kivo-processor[" + std::to_string(station.pid()) + "]";
  const size_t at = log.rfind(own);
  struct tm stamp {};
  if (at == std::string::npos || at < 23 || !::strptime(log.substr(at - 23, 19).c_str(), "%Y-%m-%d %H:%M:%S", &stamp))
    return 0;
  stamp.tm_isdst = -1;
  return long(std::mktime(&stamp) - std::time(nullptr));
}

// The record's header damaged while a job of three copies waits, killed
// after its second copy: at the next start the job is held whatever the
// program's clock says of the file times, two seconds or an hour behind
// them (a server's clock on a shared spool, a clock stepped back after the
// kill) or an hour ahead, and nothing is made again. A job dropped then
// prints. Started again with the clock set right, a new job prints, and so
// does the held job once the operator moves it back: in full, as a new try.
TEST(RecordsOnce, ADamagedHeaderHoldsTheJobsWaitingWhateverTheClockSays) {
  for (const char* offset : {"-2s", "-1h", "+1h"}) {
    SCOPED_TRACE(std::string("the clock ") + offset);
    e2e::Station station("fakeclock");
    ASSERT_NO_FATAL_FAILURE(KillAfterTheSecondCopy(station));
    std::string record = e2e::ReadAll(RecordFile(station));
    record[1] = char(record[1] ^ 0x04);
    e2e::WriteAll(RecordFile(station), record);
    ASSERT_NO_FATAL_FAILURE(UseClock(station, offset));
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "three.trpr"); }, 60))
        << station.Log();
    if (offset[2] == 'h') {
      EXPECT_NEAR(LoggedClockOffset(station), offset[0] == '-' ? -3600 : 3600, 600) << "the clock is not moved";
    }
    EXPECT_NE(station.Log().find("Whether the job file [three.trpr] printed cannot be told: the record of printed "
                                 "jobs was found damaged while this job waited"),
              std::string::npos)
        << station.Log();
    ASSERT_NO_FATAL_FAILURE(PrintALaterJob(station, "later.trpr"));
    EXPECT_EQ(station.Stop(), 0);
    EXPECT_EQ(SetFiles(station, ".jpg"), 3u) << "the held job's two and the later one\n" << station.Log();
    EXPECT_EQ(PrintToFileCount(station), 1);

    ASSERT_NO_FATAL_FAILURE(UseClock(station, ""));
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_NO_FATAL_FAILURE(PrintALaterJob(station, "next.trpr"));
    fs::rename(station.unknown() / "three.trpr", station.jobs() / "three.trpr");
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    EXPECT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg")) << station.Log();
    EXPECT_EQ(station.Stop(), 0);
    EXPECT_EQ(SetFiles(station, ".jpg"), 7u) << station.Log();
    EXPECT_EQ(PrintToFileCount(station), 5);
  }
}

// The record emptied, or removed, while a job of three copies waits killed
// after its second copy: it proves nothing of that job, which is held (set
// aside with its photo and an alert naming it, nothing made again or
// counted). A job dropped then prints.
TEST(RecordsOnce, AnEmptiedOrRemovedRecordHoldsTheJobsWaiting) {
  for (const bool removed : {false, true}) {
    SCOPED_TRACE(removed ? "removed" : "emptied");
    e2e::Station station("recordgone");
    ASSERT_NO_FATAL_FAILURE(KillAfterTheSecondCopy(station));
    if (removed) ASSERT_TRUE(fs::remove(RecordFile(station)));
    else e2e::WriteAll(RecordFile(station), "");
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "three.trpr"); }, 60))
        << station.Log();
    EXPECT_NE(station.Log().find(std::string("Whether the job file [three.trpr] printed cannot be told: the record of "
                                             "printed jobs [") +
                                 station.record().string() + (removed ? "] was missing" : "] was found empty")),
              std::string::npos)
        << station.Log();
    EXPECT_TRUE(fs::exists(station.images() / "Red.jpg"));
    ASSERT_NO_FATAL_FAILURE(PrintALaterJob(station, "later.trpr"));
    EXPECT_EQ(station.Stop(), 0);
    EXPECT_EQ(SetFiles(station, ".jpg"), 3u) << station.Log();
    EXPECT_EQ(PrintToFileCount(station), 1);
  }
}

// ---- the yearbook list

// A yearbook job killed right after its page was put in place, or right
// after its list was: at the next start the page stands once and
// "Yearbook.read me" lists it once, under one header line.
TEST(RecordsOnce, AYearbookPageIsListedInItsReadMeOnceAcrossKills) {
  for (const char* kill : {"output-renamed:1", "output-renamed:2"}) {
    SCOPED_TRACE(kill);
    e2e::Station station("yearbookkill");
    station.SetEnv("KIVO_KILL_AT", kill);
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(station.DropWritten({"--yearbook", "Class 7B", "--yearbook-field", "First name=Anna",
                                     "--yearbook-field", "Surname=Smith", "--yearbook-name", "2,1", "--color",
                                     "0,65535,0@0,0,4,6"},
                                    "anna.trpr"));
    ASSERT_EQ(station.Wait(60), 128 + SIGKILL) << station.Log();
    station.SetEnv("KIVO_KILL_AT", "");
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    EXPECT_EQ(station.Stop(), 0);
    const fs::path folder = station.base() / "Desktop" / "Yearbook Photos" / "Class 7B";
    std::vector<std::string> names;
    for (const fs::path& f : e2e::VisibleFiles(folder)) names.push_back(f.filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Smith_Anna.jpg", "Yearbook.read me"})) << station.Log();
    const std::string readMe = e2e::ReadAll(folder / "Yearbook.read me");
    EXPECT_EQ(e2e::CountOf(readMe, "File Name\t"), 1u) << readMe;
    EXPECT_EQ(e2e::CountOf(readMe, "Smith_Anna.jpg\tAnna\tSmith\t"), 1u) << readMe;
    EXPECT_EQ(e2e::PrintLogLines(station), 1u);
  }
}

// ---- outputs that cannot be recorded

// The private folders (the spool folder's, for the record and the working
// files, and the application folder's of earlier versions) as tiny tmpfs of
// the program's own mount namespace: the program runs inside it (a wrapper
// mounts them and then runs the program); the test reaches them through
// /proc/<pid>/root.
void RunWithTinyPrivateFolder(e2e::Station& station) {
  for (const fs::path& folder : {PrivateFolder(station), station.spoolPrivate()}) {
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
  }
  station.SetLauncher({"unshare", "--mount", "--propagation", "private", "sh", "-c",
                       "mount -t tmpfs -o size=256k,mode=0700 kivo-private \"$0\" && "
                       "mount -t tmpfs -o size=256k,mode=0700 kivo-record \"$1\" && shift && exec \"$@\"",
                       PrivateFolder(station).string(), station.spoolPrivate().string()});
}

// Fills the program's private folders, as the program sees them, to the
// last byte. The record made at the start has room left in its last block:
// it is removed, so that it must be made anew in the full folder.
::testing::AssertionResult FillPrivateFolder(const e2e::Station& station) {
  for (const fs::path& folder : {PrivateFolder(station), station.spoolPrivate()}) {
    const fs::path inside = fs::path("/proc") / std::to_string(station.pid()) / "root" / folder.relative_path();
    ::unlink((inside / "Printed Job Files").c_str());
    const int fd = ::open((inside / "filler").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return ::testing::AssertionFailure() << "cannot write in " << inside << ": " << std::strerror(errno);
    const std::string block(4096, 'x');
    ssize_t written = 0;
    while ((written = ::write(fd, block.data(), block.size())) > 0) {
    }
    const int err = errno;
    ::close(fd);
    if (err != ENOSPC) return ::testing::AssertionFailure() << "filling stopped with: " << std::strerror(err);
  }
  return ::testing::AssertionSuccess();
}

void StoreHandOffPrefs(e2e::Station& station, bool pair) {
  setMyProcessedJobsPrefToFactoryDefaults(getMyProcessedJobsPrefs());
  getMyProcessedJobsPrefs()->useNewHandOff = pair ? 1 : 0;
  ASSERT_TRUE(station.SetDefault(kPrintCenterPrefsKey, host::PlistValue(ProcessedJobsPrefBlob())));
}

// The hand-offs in the print-centre folder: whole ones (binary files, or the
// property lists of pairs), not the working "Tempfile_" ones.
size_t HandOffs(const e2e::Station& station, bool pair) {
  const fs::path folder =
      station.app() / "Kivo-PrintCenter Folder" / (pair ? "Jobs To Be Printed---NEW" : "Jobs To Be Printed");
  size_t n = 0;
  for (const fs::path& f : e2e::VisibleFiles(folder))
    if (f.filename().string().rfind("Tempfile_", 0) != 0 && (!pair || f.extension() == ".plist")) ++n;
  return n;
}

// With the private folder full, a job of the print-centre hand-off (binary,
// then a JPEG and property-list pair) and a copy of an original cannot
// record their output: nothing is handed off or copied, and the job fails
// with its photo. Had the output been put in place, the program would have
// been killed right there (KIVO_KILL_AT) and the next start would have put
// it there again. Moved back after a restart with room, each job hands
// off or copies exactly once.
TEST(RecordsOnce, OutputsThatCannotBeRecordedAreNotPutInPlaceAndTheJobFailsWithItsFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  struct Case {
    const char* name;
    bool pair = false;
    bool original = false;
  };
  for (const Case& c : {Case{"binary hand-off"}, Case{"pair hand-off", true}, Case{"copy of an original", false, true}}) {
    SCOPED_TRACE(c.name);
    e2e::Station station("fullprivate");
    ASSERT_NO_FATAL_FAILURE(StoreHandOffPrefs(station, c.pair));
    RunWithTinyPrivateFolder(station);
    station.SetEnv("KIVO_KILL_AT", "output-placed");
    ASSERT_TRUE(station.Start()) << station.Log();
    ASSERT_TRUE(FillPrivateFolder(station));
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 200, {220, 20, 20}));
    jobwriter::TJobDescription job = c.original ? e2e::CopyOriginalJob("Red.jpg") : e2e::SetOneJob("Red.jpg", "HandOff");
    if (!c.original) job.printer = 21;
    ASSERT_TRUE(station.Drop(job, "full.trpr"));
    ASSERT_TRUE(e2e::WaitUntil(
        [&] { return !station.Alive() || e2e::ExistsAsEntry(station.unknown() / "full.trpr"); }, 60))
        << station.Log();
    ASSERT_TRUE(station.Alive()) << "killed after putting in place what it could not record\n" << station.Log();
    // A copy of an original is written in the private folder first: there
    // it fails already.
    if (!c.original) {
      EXPECT_NE(station.Log().find("could not be recorded before it was put in place"), std::string::npos)
          << station.Log();
    }
    EXPECT_EQ(HandOffs(station, c.pair), 0u);
    EXPECT_TRUE(e2e::VisibleFilesBelow(station.SetFolder('A')).empty());
    EXPECT_TRUE(fs::exists(station.images() / "Red.jpg")) << "a failed job keeps its photo";
    if (c.original) {
      EXPECT_NE(station.Log().find("Could not write printer file!"), std::string::npos);
    }
    ::kill(station.pid(), SIGKILL);
    ASSERT_EQ(station.Wait(), 128 + SIGKILL);

    station.SetLauncher({});
    station.SetEnv("KIVO_KILL_AT", "");
    ASSERT_TRUE(station.Start()) << station.Log();
    fs::rename(station.unknown() / "full.trpr", station.jobs() / "full.trpr");
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    EXPECT_TRUE(station.WaitUntilGone(station.images() / "Red.jpg")) << station.Log();
    EXPECT_EQ(station.Stop(), 0);
    EXPECT_EQ(c.original ? e2e::VisibleFilesBelow(station.SetFolder('A')).size() : HandOffs(station, c.pair), 1u)
        << station.Log();
  }
}

// A record that cannot be written (a folder stands in its place): the
// system printer is not offered the page, the job fails with its photo and
// nothing is counted.
TEST(RecordsOnce, TheSystemPrinterIsNotOfferedAPageThatCannotBeRecorded) {
  e2e::Station station("norecord");
  testing_support::FakeIppPrinter printer(0);
  ASSERT_TRUE(printer.ok());
  station.SetEnv("PRINTER", printer.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(fs::remove(station.record()));
  ASSERT_TRUE(fs::create_directory(station.record()));
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  jobwriter::TJobDescription job = e2e::SetOneJob("Green.jpg", "Printer", 8);
  job.canvas = 5;
  ASSERT_TRUE(station.Drop(job, "printer.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return e2e::ExistsAsEntry(station.unknown() / "printer.trpr"); }, 60))
      << station.Log();
  EXPECT_NE(station.Log().find("the print could not be recorded before it was sent"), std::string::npos)
      << station.Log();
  EXPECT_TRUE(printer.documents().empty());
  EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_FALSE(fs::exists(station.root() / "Kivo-Processor Count"));
  EXPECT_EQ(e2e::PrintLogLines(station), 0u);
}

// ---- the web notification

// A set job with web data naming an image is killed once at each moment
// its durable state changes, one job per moment, and started again: the
// web server is told "processed" of every job exactly once, each page
// exists once and each job is counted once.
TEST(RecordsOnce, EveryPrintedJobIsToldToTheWebServerOnceWhereverItIsKilled) {
  e2e::Station station("webonce");
  const e2e::BusWatcher watcher(station.base() / "bus.txt");
  const std::string tag = station.base().filename().string();
  auto url = [&](const std::string& name) { return "https://example.org/" + tag + "/" + name + ".jpg"; };
  auto told = [&](const std::string& name) {
    size_t n = 0;
    for (const auto& s : watcher.Seen())
      if (s.name == "KivoWebServerNotification" && s.userInfo.find(url(name)) != std::string::npos &&
          s.userInfo.find("Job processed") != std::string::npos)
        ++n;
    return n;
  };
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  std::vector<std::string> names;
  bool finishedUnkilled = false;
  for (int point = 1; point <= 40 && !finishedUnkilled; ++point) {
    const std::string name = "W" + std::string(point < 10 ? "0" : "") + std::to_string(point);
    SCOPED_TRACE("killed at moment " + std::to_string(point));
    names.push_back(name);
    ASSERT_TRUE(e2e::WritePhoto(station.images() / (name + ".jpg"), 200, 300, {uint8_t(5 * point), 90, 160}));
    jobwriter::TJobDescription job = e2e::SetOneJob(name + ".jpg", name);
    job.webDictionary = jobwriter::WebDataArchive({{"imageurl", url(name)}, {"order", name}});
    ASSERT_TRUE(station.Drop(job, name + ".trpr"));
    ASSERT_TRUE(e2e::KilledAtThenRestarted(station, point, station.images() / (name + ".jpg"), &finishedUnkilled));
    EXPECT_TRUE(e2e::WaitUntil([&] { return told(name) >= 1; }, 60)) << name << "\n" << station.Log();
    EXPECT_EQ(SetFiles(station, ".jpg"), names.size());
    EXPECT_EQ(PrintToFileCount(station), int32_t(names.size()));
  }
  // By now the watcher has written down every signal of the earlier jobs.
  for (const std::string& name : names) EXPECT_EQ(told(name), 1u) << name;
  EXPECT_TRUE(finishedUnkilled) << "every moment of the job was reached";
  EXPECT_GE(names.size(), 12u) << "a job passes more moments than these";
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
}

}  // namespace
