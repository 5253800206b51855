// The spool tree as a shop shares it: what the program makes follows the
// umask (never open to everyone behind its back), and one application folder
// is worked by one processor only, however the second one was started.
#include <sys/stat.h>

#include "common/TempDir.h"
#include "e2e/E2E.h"

namespace {

namespace fs = e2e::fs;

// Every folder and file below `folder` with permission bits beyond those
// `mask` allows (folders 0777, files 0666, less the mask), as
// "path mode" lines.
std::string TooOpen(const fs::path& folder, mode_t mask) {
  std::string found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    const mode_t allowed = (S_ISDIR(st.st_mode) ? 0777 : 0666) & ~mask;
    if ((st.st_mode & 0777 & ~allowed) != 0) {
      char mode[8];
      std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
      found += it->path().string() + " " + mode + "\n";
    }
  }
  return found;
}

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 07777;
}

// Under umask 022 and 002 a set job is printed and counted; the spool tree,
// the output folders, the count files and the log are made with the modes
// the umask gives, never beyond it: the two drop folders 1777 less the
// umask (1775 with 002, sticky, so that a station of the shop's group can
// drop jobs but move no other's files), every other folder of the program's
// 0755 less the umask, writable by the program's user alone.
TEST(SharedSpool, FoldersAndFilesFollowTheUmask) {
  for (const mode_t mask : {mode_t(022), mode_t(002)}) {
    SCOPED_TRACE(mask);
    e2e::Station station("umask");
    {
      ScopedUmask umask(mask);  // inherited by the program
      ASSERT_TRUE(station.Start()) << station.Log();
    }
    ASSERT_TRUE(e2e::WritePhoto(station.images() / "Red.jpg", 300, 450, {220, 20, 20}));
    ASSERT_TRUE(station.Drop(e2e::SetOneJob("Red.jpg"), "red.trpr"));
    ASSERT_FALSE(station.WaitForSetOutput('A').empty()) << station.Log();
    ASSERT_TRUE(station.WaitForQueueEmpty()) << station.Log();
    ASSERT_TRUE(e2e::WaitUntil([&] { return !station.PrintLog().empty(); }, 30)) << station.Log();
    EXPECT_EQ(station.Stop(), 0);

    for (const fs::path& folder : {station.jobs(), station.images()})
      EXPECT_EQ(ModeOf(folder), mode_t(01777 & ~mask)) << folder;
    for (const fs::path& folder : {station.root(), station.allFiles(), station.finished(), station.unknown(),
                                   station.database(), station.graphics(), station.SetFolder('A')})
      EXPECT_EQ(ModeOf(folder), mode_t(0755 & ~mask)) << folder;
    EXPECT_EQ(TooOpen(station.app(), mask), "");
    EXPECT_EQ(TooOpen(station.state(), mask), "");
    // The daily log follows the umask too: 0644 or 0664, nothing set by hand.
    int logs = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(station.state(), ec), end; !ec && it != end; it.increment(ec))
      if (it->is_regular_file() && it->path().extension() == ".log") {
        ++logs;
        EXPECT_EQ(ModeOf(it->path()), mode_t(0666 & ~mask)) << it->path();
      }
    EXPECT_GE(logs, 1) << "a daily log was written";
  }
}

// Two files are the processor user's alone whatever the umask, by design:
// the user defaults and the day's encrypted count dictionary (mode 0600);
// the shared count files beside the dictionary follow the umask.
TEST(SharedSpool, TheUserDefaultsAndTheDayDictionaryAreTheProcessorUsersAlone) {
  e2e::Station station("private");
  {
    ScopedUmask umask(002);
    ASSERT_TRUE(station.Start()) << station.Log();
  }
  ASSERT_TRUE(e2e::PrintsARedSetJob(station));
  const fs::path dictionary = station.root() / (".Print Count Kivo-Processor " + e2e::Today("%Y-%m-%d"));
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(dictionary); }, 30)) << station.Log();
  EXPECT_EQ(station.Stop(), 0);
  EXPECT_EQ(ModeOf(station.defaultsFile()), mode_t(0600));
  EXPECT_EQ(ModeOf(dictionary), mode_t(0600));
  EXPECT_EQ(ModeOf(station.root() / "Kivo-Processor Count"), mode_t(0664));
}

// A second processor on the same application folder is refused even with a
// runtime folder of its own (started from cron or an ssh shell), naming the
// folder and the first one's process; the first goes on printing.
TEST(SharedSpool, ASecondProcessorOnOneApplicationFolderIsRefused) {
  e2e::Station first("spoolowner");
  ASSERT_TRUE(first.Start()) << first.Log();
  e2e::Station second("spoolsecond");
  second.SetEnv("KIVO_APP_FOLDER", first.app().string());
  ASSERT_TRUE(second.Launch());
  EXPECT_EQ(second.Wait(30), 1) << second.Console();
  EXPECT_NE(second.Console().find("Another version of Kivo-Processor is already running"), std::string::npos)
      << second.Console();
  // The lock it met and the process holding it.
  EXPECT_NE(second.Console().find("Kivo-Processor is already running as process " + std::to_string(first.pid()) +
                                  ": it holds the lock on the application folder " + first.app().string()),
            std::string::npos)
      << second.Console();

  EXPECT_TRUE(first.Running());
  ASSERT_TRUE(e2e::WritePhoto(first.images() / "Blue.jpg", 300, 450, {20, 20, 220}));
  ASSERT_TRUE(first.Drop(e2e::SetOneJob("Blue.jpg"), "blue.trpr"));
  EXPECT_EQ(first.WaitForSetOutput('A').size(), 1u) << first.Log();
  EXPECT_TRUE(first.WaitForQueueEmpty()) << first.Log();
  EXPECT_EQ(first.Stop(), 0);

  // Once the first has ended, a processor with yet another runtime folder
  // takes the folder over.
  e2e::Station third("spoolthird");
  third.SetEnv("KIVO_APP_FOLDER", first.app().string());
  ASSERT_TRUE(third.Launch());
  EXPECT_TRUE(e2e::WaitUntil([&] { return third.CatchesSigterm() || !third.Alive(); }, 30));
  EXPECT_TRUE(third.Alive()) << third.Console();
  EXPECT_EQ(third.Stop(), 0);
}

}  // namespace
