// One spool folder, one processor: two processors with application folders
// of their own, configured alike (two service instances, two machines on a
// shared disk), would both take jobs from one "All Files". The second is
// refused and says why, as a second copy is, however the first is doing.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "common/ChildRole.h"
#include "common/TempDir.h"
#include "e2e/E2E.h"
#include "host/files/Alias.h"
#include "pipeline/SpoolFolders.h"

namespace {

namespace fs = e2e::fs;

// Points the station's spool folder at `root` (before it starts), as a
// preferences file copied from another machine does.
void UseSpoolFolder(e2e::Station& station, const fs::path& root) {
  host::AliasRecord alias;
  ASSERT_EQ(host::NewAlias(root.string(), &alias), noErr);
  ASSERT_TRUE(station.SetDefault("AliasHandle 4506", host::PlistValue(alias.Encode())));
}

constexpr char kRefused[] = "is already working on the spool folder";
constexpr char kCannot[] = "cannot work on the spool folder";

std::string Parameter(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// As the user nobody, a station user of the shop's group: KIVO_E2E_DO
// "rename" (KIVO_E2E_PATH to KIVO_E2E_TO), "link" (a symbolic link at
// KIVO_E2E_TO to KIVO_E2E_PATH), "folder" or "remove" KIVO_E2E_PATH. 0 when
// it was done.
const testing_support::RegisterChildRole kStationUser("spool-station-user", [] {
  if (!e2e::BecomeNobody()) return 3;
  const std::string what = Parameter("KIVO_E2E_DO"), path = Parameter("KIVO_E2E_PATH"), to = Parameter("KIVO_E2E_TO");
  if (what == "rename") return ::rename(path.c_str(), to.c_str()) == 0 ? 0 : 1;
  if (what == "link") return ::symlink(path.c_str(), to.c_str()) == 0 ? 0 : 1;
  if (what == "folder") return ::mkdir(path.c_str(), 0775) == 0 ? 0 : 1;
  if (what == "remove") return ::unlink(path.c_str()) == 0 ? 0 : 1;
  return 4;
});

int AsStationUser(const char* what, const fs::path& path, const fs::path& to = {}) {
  return testing_support::WaitChild(testing_support::StartChildRole(
      "spool-station-user", {{"KIVO_E2E_DO", what}, {"KIVO_E2E_PATH", path.string()}, {"KIVO_E2E_TO", to.string()}}), 60);
}

TEST(OneSpool, ASecondProcessorWithItsOwnApplicationFolderIsRefused) {
  e2e::Station first("spoolfirst");
  ASSERT_TRUE(first.Start()) << first.Log();
  const fs::path lock = first.spoolPrivate() / pipeline::kSpoolLockName;
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(lock)));

  // Started by hand: status 1, and the reason on standard error, naming the
  // spool folder.
  e2e::Station second("spoolsecond");
  UseSpoolFolder(second, first.root());
  ASSERT_TRUE(second.Launch());
  EXPECT_EQ(second.Wait(30), 1) << second.Console();
  const std::string console = second.Console();
  EXPECT_NE(console.find(kRefused), std::string::npos) << console;
  EXPECT_NE(console.find(first.root().filename().string()), std::string::npos) << console;
  EXPECT_NE(console.find("process " + std::to_string(first.pid())), std::string::npos) << console;

  // Started by the user service: status 0 and the reason in its log.
  e2e::Station service("spoolservice");
  UseSpoolFolder(service, first.root());
  ASSERT_TRUE(service.Launch({"--from-service"}));
  EXPECT_EQ(service.Wait(30), 0) << service.Console();
  EXPECT_NE(service.Log().find(kRefused), std::string::npos) << service.Log();

  // The first prints on, alone: the refused ones made nothing of the job.
  ASSERT_TRUE(e2e::PrintsARedSetJob(first));
  EXPECT_EQ(e2e::VisibleFilesBelow(first.SetFolder('A')).size(), 1u);
  EXPECT_TRUE(e2e::VisibleFilesBelow(second.SetFolder('A')).empty());
  EXPECT_TRUE(e2e::VisibleFilesBelow(service.SetFolder('A')).empty());
  EXPECT_EQ(first.Stop(), 0);

  // Once the first has ended, the second takes the spool folder over (its
  // own application folder gets no spool tree: Start() would wait for one).
  ASSERT_TRUE(second.Launch());
  ASSERT_TRUE(e2e::WaitUntil([&] { return second.CatchesSigterm(); }, 60)) << second.Log();
  ASSERT_TRUE(e2e::WritePhoto(first.images() / "Green.jpg", 300, 450, {20, 200, 20}));
  ASSERT_TRUE(first.Drop(e2e::SetOneJob("Green.jpg"), "green.trpr"));
  EXPECT_EQ(second.WaitForSetOutput('A', 60).size(), 1u) << second.Log();
  EXPECT_TRUE(first.WaitForQueueEmpty()) << second.Log();
  EXPECT_EQ(second.Stop(), 0);
}

// A processor stopped in the middle of a job (a debugger, a paused
// container, a machine asleep) still holds its spool folder: the second is
// refused and leaves the job in work alone.
TEST(OneSpool, AProcessorStoppedInTheMiddleOfAJobKeepsItsSpoolFolder) {
  e2e::Station first("spoolstopped");
  first.SetEnv("KIVO_STOP_AT", "output-renamed");
  ASSERT_TRUE(first.Start()) << first.Log();
  ASSERT_TRUE(e2e::WritePhoto(first.images() / "Two.jpg", 300, 450, {200, 20, 200}));
  jobwriter::TJobDescription job = e2e::SetOneJob("Two.jpg");
  job.printQuantity = 2;
  ASSERT_TRUE(first.Drop(job, "two.trpr"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return first.Stopped(); }, 60)) << first.Log();
  ASSERT_EQ(e2e::VisibleFilesBelow(first.SetFolder('A')).size(), 1u);

  e2e::Station second("spoolwaiting");
  UseSpoolFolder(second, first.root());
  ASSERT_TRUE(second.Launch());
  EXPECT_EQ(second.Wait(30), 1) << second.Console();
  EXPECT_NE(second.Console().find(kRefused), std::string::npos) << second.Console();
  EXPECT_EQ(e2e::VisibleFiles(first.allFiles()).size(), 1u) << "the job in work stays where it is";
  EXPECT_TRUE(e2e::VisibleFilesBelow(second.SetFolder('A')).empty());

  // Going on, it stops again after each copy.
  EXPECT_TRUE(e2e::WaitUntil([&] {
    if (first.Stopped()) ::kill(first.pid(), SIGCONT);
    return first.QueueEmpty();
  }, 60)) << first.Log();
  EXPECT_EQ(e2e::VisibleFilesBelow(first.SetFolder('A')).size(), 2u);
  EXPECT_EQ(first.Stop(), 0);
}

// In the shop's set-up a station user may write in the two drop folders and
// nowhere else: before a start and while a processor runs it can neither
// plant the spool lock's folder, nor take the lock away, nor rename the
// program's folder holding it. A program folder renamed by the operator
// while a processor runs pauses that one, naming it, and still refuses a
// second processor, which names it too.
TEST(OneSpool, AStationUserCanNeitherPlantNorTakeAwayTheSpoolLock) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  e2e::Station first("spoolshared");
  ScopedUmask umask(002);  // inherited by the processors
  ASSERT_TRUE(first.ShareDropFolders());
  const fs::path theirs = first.jobs() / "theirs";
  ASSERT_EQ(AsStationUser("folder", theirs), 0) << "a station writes in the drop folder";
  EXPECT_NE(AsStationUser("link", theirs, first.spoolPrivate()), 0);
  EXPECT_NE(AsStationUser("folder", first.spoolPrivate()), 0);
  fs::remove(theirs);

  ASSERT_TRUE(first.Start()) << first.Log();
  EXPECT_NE(AsStationUser("remove", first.spoolPrivate() / pipeline::kSpoolLockName), 0);
  EXPECT_NE(AsStationUser("folder", first.spoolPrivate() / "planted"), 0);
  EXPECT_NE(AsStationUser("rename", first.spoolPrivate(), first.jobs() / "Taken"), 0);
  EXPECT_NE(AsStationUser("rename", first.allFiles(), first.jobs() / "Taken"), 0);
  ASSERT_TRUE(e2e::WritePhoto(first.images() / "Two.jpg", 300, 450, {200, 20, 200}));
  jobwriter::TJobDescription job = e2e::SetOneJob("Two.jpg");
  job.printQuantity = 2;
  ASSERT_TRUE(first.Drop(job, "two.trpr"));
  ASSERT_TRUE(first.WaitForQueueEmpty()) << first.Log();
  EXPECT_EQ(e2e::VisibleFilesBelow(first.SetFolder('A')).size(), 2u);

  // The operator renames the program's folder: the first pauses and says
  // so, making nothing in its place; a second processor finds it under its
  // new name and is refused.
  fs::rename(first.spoolPrivate(), first.root() / "Taken");
  ASSERT_TRUE(first.WaitForLog("the folder \"" + first.spoolPrivate().string() + "\" no longer stands at its name"))
      << first.Log();
  e2e::Station second("spoolrenamed");
  UseSpoolFolder(second, first.root());
  ASSERT_TRUE(second.Launch());
  EXPECT_EQ(second.Wait(30), 1) << second.Console();
  EXPECT_NE(second.Console().find("\"Taken\""), std::string::npos) << second.Console();
  EXPECT_EQ(first.Stop(), 0);
  EXPECT_FALSE(fs::exists(first.spoolPrivate()));
  EXPECT_TRUE(fs::is_regular_file(first.root() / "Taken" / "Printed Job Files"));
  EXPECT_TRUE(e2e::VisibleFilesBelow(second.SetFolder('A')).empty());

  // Put back, the folder is the spool folder's again.
  fs::rename(first.root() / "Taken", first.spoolPrivate());
  ASSERT_TRUE(second.Launch());
  ASSERT_TRUE(e2e::WaitUntil([&] { return second.CatchesSigterm() || !second.Alive(); }, 60)) << second.Console();
  EXPECT_EQ(second.Stop(), 0) << second.Console();
}

// The record of what was placed lies with the spool folder: a processor
// with an application folder of its own taking the spool folder over from
// one killed in the middle of a job makes only what the dead one had not
// placed. A record it cannot read refuses it, as a foreign private folder
// does.
TEST(OneSpool, AProcessorTakingOverFromAKilledOneMakesOnlyWhatWasNotPlaced) {
  e2e::Station first("spooldead");
  first.SetEnv("KIVO_KILL_AT", "output-renamed:1");
  ASSERT_TRUE(first.Start()) << first.Log();
  ASSERT_TRUE(e2e::WritePhoto(first.images() / "Two.jpg", 300, 450, {20, 200, 200}));
  jobwriter::TJobDescription job = e2e::SetOneJob("Two.jpg");
  job.printQuantity = 2;
  ASSERT_TRUE(first.Drop(job, "two.trpr"));
  ASSERT_EQ(first.Wait(60), 128 + SIGKILL) << first.Log();
  ASSERT_EQ(e2e::VisibleFilesBelow(first.SetFolder('A')).size(), 1u);

  e2e::Station second("spooltakeover");
  UseSpoolFolder(second, first.root());
  if (geteuid() == 0) {
    const passwd* user = getpwnam("nobody");
    ASSERT_TRUE(user);
    ASSERT_EQ(::chown(first.record().c_str(), user->pw_uid, uid_t(-1)), 0);
    ASSERT_TRUE(second.Launch());
    EXPECT_EQ(second.Wait(30), 1) << second.Console();
    EXPECT_NE(second.Console().find("its record of printed jobs"), std::string::npos) << second.Console();
    ASSERT_EQ(::chown(first.record().c_str(), 0, uid_t(-1)), 0);
  }
  ASSERT_TRUE(second.Launch());
  ASSERT_TRUE(e2e::WaitUntil([&] { return second.CatchesSigterm(); }, 60)) << second.Log();
  EXPECT_TRUE(first.WaitForQueueEmpty()) << second.Log();
  EXPECT_TRUE(second.WaitUntilGone(first.images() / "Two.jpg")) << second.Log();
  EXPECT_EQ(second.Stop(), 0);
  EXPECT_EQ(e2e::VisibleFilesBelow(first.SetFolder('A')).size() + e2e::VisibleFilesBelow(second.SetFolder('A')).size(),
            2u)
      << second.Log();
}

// A record of printed jobs a later version wrote lies with the spool
// folder (that version worked it, and this one was started again): this
// one does not start, naming the record and what to do, and leaves it as
// it is, since taking it for none would print its jobs again. A bit
// flipped in the version of this version's record is damage, not a later
// version: the start goes on (RecordsOnce.ADamagedRecordHolds...).
TEST(OneSpool, ARecordOfALaterVersionRefusesTheStartNamingIt) {
  e2e::Station station("spoollater");
  ASSERT_TRUE(station.Start()) << station.Log();
  ASSERT_EQ(station.Stop(), 0);
  const std::string later = std::string("KPJR\x07\x00\xf8\xff", 8) + "what a later version keeps";
  e2e::WriteAll(station.record(), later);
  ASSERT_TRUE(station.Launch());
  EXPECT_EQ(station.Wait(30), 1) << station.Console();
  const std::string console = station.Console();
  EXPECT_NE(console.find(kCannot), std::string::npos) << console;
  EXPECT_NE(console.find("its record of printed jobs \"" + station.record().string() +
                         "\" was written by a later version of Kivo-Processor (in form 7)"),
            std::string::npos)
      << console;
  EXPECT_EQ(e2e::ReadAll(station.record()), later);
}

}  // namespace
