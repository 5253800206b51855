// One spool folder, one processor: two processors with application folders
// of their own, configured alike (two service instances, two machines on a
// shared disk), would both take jobs from one "All Files". The second is
// refused and says why, as a second copy is, however the first is doing.
#include <csignal>

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

TEST(OneSpool, ASecondProcessorWithItsOwnApplicationFolderIsRefused) {
  e2e::Station first("spoolfirst");
  ASSERT_TRUE(first.Start()) << first.Log();
  const fs::path lock = first.root() / pipeline::kSpoolLockName;
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

}  // namespace
