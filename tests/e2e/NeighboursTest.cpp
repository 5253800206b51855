// The running processor against neighbours that do not answer or cannot be
// had: a session bus that accepts and stays silent, a video encoder that
// hangs, printers that never answer or are busy, a display with no server,
// an application folder that cannot be made and a second copy. Each time the
// program goes on or says why it cannot, and SIGTERM ends it within seconds.
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "common/FakeIppPrinter.h"
#include "e2e/E2E.h"
#include "e2e/Merge.h"

#include "host/sys/UserDefaults.h"
#include "layout/Objects.h"
#include "prefs/PrefRecords.h"
#include "prefs/PrefStore.h"

namespace {

namespace fs = e2e::fs;

using testing_support::FakeIppPrinter;
using testing_support::MuteListener;

TEST(Neighbours, ASilentSessionBusTurnsNotificationsOffAndJobsStillPrint) {
  e2e::Station station("silentbus");
  MuteListener bus((station.base() / "bus").string());
  ASSERT_TRUE(bus.ok());
  e2e::UseBusAt(station, station.base() / "bus");
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(e2e::PrintsARedSetJob(station));
  EXPECT_NE(station.Log().find("notifications to and from the other station applications are off"), std::string::npos)
      << station.Log();
  EXPECT_GE(bus.connections(), 1u);
  EXPECT_EQ(station.Stop(), 0);
}


// A printer that takes the connection and never answers holds the job; on
// SIGTERM the program ends within seconds and the job is still there, with
// its photo, for the next start; nothing went to the unknown-jobs folder and
// nothing was counted.
TEST(Neighbours, SigtermEndsTheWaitForASilentPrinterAndKeepsTheJob) {
  e2e::Station station("silentprinter");
  MuteListener printer;
  ASSERT_TRUE(printer.ok());
  station.SetEnv("PRINTER", printer.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), "silent.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return printer.connections() >= 1; }, 60)) << station.Log();
  // Well inside the printer's own answer limit of a minute.
  EXPECT_EQ(station.Stop(15), 0) << station.Log();
  EXPECT_TRUE(fs::exists(station.images() / "Green.jpg"));
  EXPECT_TRUE(fs::exists(station.allFiles() / "silent.trpr") || fs::exists(station.jobs() / "silent.trpr"))
      << station.Log();
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_FALSE(fs::exists(station.root() / "Kivo-Processor Count"));
  EXPECT_EQ(station.Log().find("The page could not be printed"), std::string::npos) << station.Log();
  EXPECT_NE(station.Log().find("the job is kept"), std::string::npos) << station.Log();

  // The next start prints it.
  FakeIppPrinter working(0);
  ASSERT_TRUE(working.ok());
  station.SetEnv("PRINTER", working.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  EXPECT_TRUE(e2e::WaitUntil([&] { return working.documents().size() == 1; }, 60)) << station.Log();
  EXPECT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

// A printer that is busy twice and then takes the job: the program waits and
// offers it again, saying so, and the job prints once and is counted.
TEST(Neighbours, ABusyPrinterIsWaitedForAndTakesTheJob) {
  e2e::Station station("busyprinter");
  FakeIppPrinter printer(2);
  ASSERT_TRUE(printer.ok());
  station.SetEnv("PRINTER", printer.uri());
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), "busy.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return printer.documents().size() == 1; }, 60)) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(printer.busyAnswered(), 2);
  EXPECT_EQ(printer.jobsCreated(), 1);
  const std::string log = station.Log();
  EXPECT_NE(log.find("Printer busy: trying again in 2 s (try 2)"), std::string::npos) << log;
  EXPECT_NE(log.find("Printer busy: trying again in 4 s (try 3)"), std::string::npos) << log;
  EXPECT_NE(log.find("Currently printing another job"), std::string::npos) << log;
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_TRUE(fs::exists(station.root() / "Kivo-Processor Count"));
}

// A printer that stays busy fails the job once the (here shortened) limit
// has passed, like any printer that does not take it.
TEST(Neighbours, APrinterBusyBeyondTheLimitFailsTheJob) {
  e2e::Station station("alwaysbusy");
  FakeIppPrinter printer(1000);
  ASSERT_TRUE(printer.ok());
  station.SetEnv("PRINTER", printer.uri());
  station.SetEnv("KIVO_PRINTER_BUSY_LIMIT", "5");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(station.Drop(e2e::SystemPrinterJob("Green.jpg"), "busy.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return !e2e::VisibleFiles(station.unknown()).empty(); }, 60)) << station.Log();
  EXPECT_TRUE(printer.documents().empty());
  EXPECT_EQ(printer.busyAnswered(), 2);  // after 2 s, the next pause of 4 s would pass the limit
  EXPECT_NE(station.Log().find("the printer stayed busy for 5 s"), std::string::npos) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_FALSE(fs::exists(station.root() / "Kivo-Processor Count"));
}

// DISPLAY naming no X server: the program runs on the offscreen platform and
// says so, instead of aborting.
TEST(Neighbours, ADisplayWithNoServerGivesTheOffscreenPlatform) {
  e2e::Station station("nodisplay");
  station.SetEnv("QT_QPA_PLATFORM", "");
  station.SetEnv("WAYLAND_DISPLAY", "");
  station.SetEnv("DISPLAY", ":4917");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
  ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));
  EXPECT_FALSE(station.WaitForSetOutput('A', 60).empty()) << station.Log();
  const std::string expected = "The display :4917 cannot be used (platform \"xcb\"): running on the offscreen platform";
  EXPECT_NE(station.Console().find(expected), std::string::npos) << station.Console();
  EXPECT_NE(station.Log().find(expected), std::string::npos);
  EXPECT_EQ(station.Stop(), 0);
}

// An application folder that cannot be made ends the program at once with a
// non-zero status and the reason on its standard error.
TEST(Neighbours, AnApplicationFolderThatCannotBeMadeStopsTheStart) {
  e2e::Station station("noappfolder");
  e2e::WriteAll(station.base() / "plain-file", "not a folder");
  const fs::path app = station.base() / "plain-file" / "app";
  station.SetEnv("KIVO_APP_FOLDER", app.string());
  ASSERT_TRUE(station.Launch());
  EXPECT_EQ(station.Wait(30), 1) << station.Log();
  const std::string console = station.Console();
  EXPECT_NE(console.find("Kivo-Processor cannot start: the folder \"" + app.string() + "\" cannot be created"),
            std::string::npos)
      << console;
  EXPECT_FALSE(fs::exists(app));
}

// A second copy is refused with status 1, and says why on its standard error
// as well as in the log.
TEST(Neighbours, ASecondCopySaysWhyItEnds) {
  e2e::Station first("firstcopy");
  ASSERT_TRUE(first.Start()) << first.Log();
  e2e::Station second("secondcopy");
  second.SetEnv("XDG_RUNTIME_DIR", (first.base() / "run").string());
  ASSERT_TRUE(second.Launch());
  EXPECT_EQ(second.Wait(30), 1) << second.Log();
  EXPECT_NE(second.Console().find("Another version of Kivo-Processor is already running"), std::string::npos)
      << second.Console();
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(first.Stop(), 0);
}

using e2e::DropMergeJob;
using e2e::PidIn;
using e2e::PrepareMerge;

// Ended: gone, or a zombie that nobody has reaped yet.
bool Ended(pid_t pid) {
  return e2e::WaitUntil([&] {
    if (::kill(pid, 0) != 0) return true;
    const std::string status = e2e::ReadAll("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("State:");
    return at == std::string::npos || status.find('Z', at) < status.find('\n', at);
  }, 20);
}

// An encoder that hangs does not hold the program: SIGTERM ends it within
// seconds, with the encoder and what it started.
TEST(Neighbours, SigtermStopsAHungVideoMerge) {
  e2e::Station station("hungmerge");
  const fs::path bin = PrepareMerge(station, "echo $$ > \"$0.pid\"\nsleep 600 &\necho $! > \"$0.child\"\nwait\n", false);
  ASSERT_TRUE(station.Start()) << station.Log();
  DropMergeJob(station, "merge.trpr");
  const pid_t encoder = PidIn(bin / "ffmpeg.pid"), child = PidIn(bin / "ffmpeg.child");
  ASSERT_GT(encoder, 0) << station.Log();
  ASSERT_GT(child, 0);
  EXPECT_EQ(station.Stop(15), 0) << station.Log();
  EXPECT_TRUE(Ended(encoder));
  EXPECT_TRUE(Ended(child));
  EXPECT_NE(station.Log().find("merge result = failed (stopped because the program is ending)"), std::string::npos)
      << station.Log();
}

// Killed outright, the program takes its encoder with it, and what the
// encoder started too: a wrapper script whose real encoder is its child.
TEST(Neighbours, AKilledProgramLeavesNoEncoderRunning) {
  e2e::Station station("killedmerge");
  const fs::path bin =
      PrepareMerge(station, "echo $$ > \"$0.pid\"\nsleep 600 &\necho $! > \"$0.child\"\nwait\n", false);
  ASSERT_TRUE(station.Start()) << station.Log();
  DropMergeJob(station, "merge.trpr");
  const pid_t encoder = PidIn(bin / "ffmpeg.pid"), child = PidIn(bin / "ffmpeg.child");
  ASSERT_GT(encoder, 0) << station.Log();
  ASSERT_GT(child, 0);
  ::kill(station.pid(), SIGKILL);
  EXPECT_EQ(station.Wait(), 128 + SIGKILL);
  EXPECT_TRUE(Ended(encoder));
  EXPECT_TRUE(Ended(child));
}

// SIGTERM during a merge: the job did not get its video, so it is not
// finished: nothing is placed, logged or counted, the job file and its photo
// stay, and the next start prints it with its merged clip.
TEST(Neighbours, SigtermDuringAMergeKeepsTheJobForTheNextStart) {
  e2e::Station station("termmerge");
  const fs::path bin = PrepareMerge(station, "echo $$ > \"$0.pid\"\nexec sleep 600\n", false);
  ASSERT_TRUE(station.Start()) << station.Log();
  DropMergeJob(station, "merge.trpr");
  ASSERT_GT(PidIn(bin / "ffmpeg.pid"), 0) << station.Log();
  EXPECT_EQ(station.Stop(15), 0) << station.Log();
  EXPECT_TRUE(e2e::VisibleFilesBelow(station.SetFolder('A')).empty());
  EXPECT_TRUE(fs::exists(station.images() / "Blue.jpg"));
  EXPECT_FALSE(station.QueueEmpty());
  EXPECT_TRUE(e2e::VisibleFiles(station.unknown()).empty());
  EXPECT_EQ(station.PrintLog(), "");

  e2e::WriteAll(bin / "ffmpeg", "#!/bin/sh\nfor a; do last=$a; done\nprintf merged > \"${last#file:}\"\n");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_TRUE(station.WaitForFile(station.SetFolder('A') / "party.mov")) << station.Log();
  EXPECT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(e2e::ReadAll(station.SetFolder('A') / "party.mov"), "merged");
  EXPECT_TRUE(e2e::WaitUntil([&] { return !station.PrintLog().empty(); }, 30));
  EXPECT_EQ(station.Stop(), 0);
}

// The encoder never writes in the set folder: a link planted under the old
// temporary name "Tempfile_<clip>" leads nowhere, the file it points at stays
// as it was, and a failed merge deletes no earlier clip of that name; the
// private merge folder is gone after each merge.
TEST(Neighbours, AMergeWritesNothingThroughALinkInTheSetFolder) {
  e2e::Station station("mergelink");
  const fs::path bin =
      PrepareMerge(station, "for a; do last=$a; done\nprintf 'merged %s' \"$$\" > \"${last#file:}\"\n", false);
  ASSERT_TRUE(station.Start()) << station.Log();
  const fs::path set = station.SetFolder('A');
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::is_directory(set); }, 30));
  const fs::path outside = station.base() / "outside.txt";
  e2e::WriteAll(outside, "not the program's");
  fs::create_symlink(outside, set / "Tempfile_party.mov");
  DropMergeJob(station, "first.trpr");
  ASSERT_TRUE(station.WaitForFile(set / "party.mov")) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  const std::string first = e2e::ReadAll(set / "party.mov");
  EXPECT_EQ(first.rfind("merged ", 0), 0u) << first;
  EXPECT_EQ(e2e::ReadAll(outside), "not the program's");
  EXPECT_TRUE(fs::is_symlink(set / "Tempfile_party.mov"));

  // A merge that fails leaves the earlier clip and the planted link alone;
  // the clip comes unmerged beside it, never what the encoder half wrote.
  e2e::WriteAll(bin / "ffmpeg", "#!/bin/sh\nfor a; do last=$a; done\nprintf half > \"${last#file:}\"\nexit 1\n");
  DropMergeJob(station, "second.trpr");
  ASSERT_TRUE(station.WaitForLog("merge result = failed (exit status 1)")) << station.Log();
  ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
  EXPECT_EQ(e2e::ReadAll(set / "party.mov"), first);
  EXPECT_EQ(e2e::ReadAll(set / "party copy.mov"), "the party");
  EXPECT_EQ(e2e::ReadAll(outside), "not the program's");
  EXPECT_TRUE(fs::is_symlink(set / "Tempfile_party.mov"));
  for (const auto& entry : fs::directory_iterator(set))
    EXPECT_EQ(entry.path().filename().string().rfind(".kivo-merge-", 0), std::string::npos) << entry.path();
  EXPECT_EQ(station.Stop(), 0);
}

// While the customer's clip folder is swapped for a link to another folder
// and back, over and over, video jobs copy the customer's clip or nothing:
// never the clip the link leads to.
TEST(Neighbours, AFolderSwappedForALinkNeverLetsAnotherClipOut) {
  e2e::Station station("videoswap");
  PrepareMerge(station, "exit 1\n", false);
  ASSERT_TRUE(station.Start()) << station.Log();
  const fs::path videos = station.images() / "videos", real = station.images() / "videos.real";
  const fs::path theirs = station.base() / "theirs";
  fs::create_directories(videos);
  fs::create_directories(theirs);
  e2e::WriteAll(videos / "party.mov", "our clip");
  e2e::WriteAll(theirs / "party.mov", "their clip");

  std::atomic<bool> swapping{true};
  std::thread swapper([&] {
    while (swapping) {
      std::error_code ec;
      fs::rename(videos, real, ec);
      fs::create_directory_symlink(theirs, videos, ec);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
      fs::remove(videos, ec);
      fs::rename(real, videos, ec);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });
  constexpr int kJobs = 30;
  for (int i = 0; i < kJobs; ++i) {
    const std::string photo = "Swap" + std::to_string(i) + ".jpg";
    ASSERT_TRUE(e2e::WritePhoto(station.images() / photo, 120, 180, {20, 20, 220}));
    jobwriter::TJobDescription job = e2e::SetOneJob(photo, "Video");
    job.videoCopy = 1;
    job.videoPath = (videos / "party.mov").string();
    ASSERT_TRUE(station.Drop(job, "swap" + std::to_string(i) + ".trpr"));
  }
  const bool done = station.WaitForQueueEmpty(240);
  swapping = false;
  swapper.join();
  ASSERT_TRUE(done) << station.Log();
  int clips = 0;
  for (const fs::path& file : e2e::VisibleFilesBelow(station.SetFolder('A'))) {
    if (file.extension() != ".mov") continue;
    ++clips;
    EXPECT_EQ(e2e::ReadAll(file), "our clip") << file;
  }
  EXPECT_GT(clips, 0) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
}

// With overwrite off a second merged clip of the same name does not replace
// the first: it takes a " copy" name, as a page does.
TEST(Neighbours, AMergedClipNeverReplacesAnEarlierOneWithOverwriteOff) {
  e2e::Station station("mergecopy");
  PrepareMerge(station, "for a; do last=$a; done\nprintf 'merged %s' \"$$\" > \"${last#file:}\"\n", false);
  ASSERT_TRUE(station.Start()) << station.Log();
  DropMergeJob(station, "first.trpr");
  ASSERT_TRUE(station.WaitForFile(station.SetFolder('A') / "party.mov")) << station.Log();
  const std::string first = e2e::ReadAll(station.SetFolder('A') / "party.mov");
  DropMergeJob(station, "second.trpr");
  ASSERT_TRUE(station.WaitForFile(station.SetFolder('A') / "party copy.mov")) << station.Log();
  EXPECT_EQ(e2e::ReadAll(station.SetFolder('A') / "party.mov"), first);
  EXPECT_NE(e2e::ReadAll(station.SetFolder('A') / "party copy.mov"), first);
  EXPECT_EQ(station.Stop(), 0);
}

}  // namespace
