// Running-copy lock, machine facts and folder locations.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/ChildRole.h"

#include "host/sys/Folders.h"
#include "host/sys/Process.h"
#include "host/sys/RunningCopyLock.h"
#include "host/sys/SystemInfo.h"
#include "host/sys/TempDir.h"

using namespace host;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

// A second process asking for the lock on the file or folder in
// KIVO_TEST_LOCK_PATH: 0 when it is told a copy is already running.
const testing_support::RegisterChildRole kSecondHolder("second-holder", [] {
  const char* kind = std::getenv("KIVO_TEST_LOCK_KIND");
  const char* path = std::getenv("KIVO_TEST_LOCK_PATH");
  if (!kind || !path) return 2;
  const RunningCopyLock second = std::string(kind) == "folder" ? RunningCopyLock::acquireFolder(path)
                                                               : RunningCopyLock::acquire(path);
  return second.status() == RunningCopyLock::Status::AlreadyRunning ? 0 : 1;
});

int SecondHolder(const std::string& kind, const std::filesystem::path& path) {
  return testing_support::WaitChild(
      testing_support::StartChildRole("second-holder",
                                      {{"KIVO_TEST_LOCK_KIND", kind}, {"KIVO_TEST_LOCK_PATH", path.string()}}),
      60);
}

TEST(RunningCopyLock, SecondHolderIsToldItIsAlreadyRunning) {
  TempDir dir;
  const auto file = dir / "Kivo-Processor.lock";
  {
    RunningCopyLock first = RunningCopyLock::acquire(file);
    ASSERT_TRUE(first.acquired()) << first.message();

    // Another process, as a second copy of the program would be.
    EXPECT_EQ(SecondHolder("file", file), 0);

    RunningCopyLock again = RunningCopyLock::acquire(file);
    EXPECT_EQ(again.status(), RunningCopyLock::Status::AlreadyRunning);
    EXPECT_NE(again.message().find("already running"), std::string::npos);

    // A program we start and that outlives the lock's owner must not keep it.
    ASSERT_TRUE(startDetached("sleep", {"5"}));
  }
  EXPECT_TRUE(RunningCopyLock::acquire(file).acquired());  // released with the object

  EXPECT_EQ(RunningCopyLock::acquire(dir / "missing-folder/lock").status(), RunningCopyLock::Status::Failed);
}

// The lock on a folder is held on the folder itself: another process asking
// for it under another spelling of the path is refused, and a lock file that
// is a link is never followed.
TEST(RunningCopyLock, AFolderIsLockedItselfAndALinkIsNeverFollowed) {
  TempDir dir;
  std::filesystem::create_directories(dir / "app");
  std::filesystem::create_directory_symlink(dir / "app", dir / "app-link");
  {
    RunningCopyLock first = RunningCopyLock::acquireFolder(dir / "app");
    ASSERT_TRUE(first.acquired()) << first.message();
    EXPECT_EQ(SecondHolder("folder", dir / "app-link"), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "app"));  // nothing is made in it
  }
  EXPECT_TRUE(RunningCopyLock::acquireFolder(dir / "app").acquired());
  EXPECT_EQ(RunningCopyLock::acquireFolder(dir / "missing").status(), RunningCopyLock::Status::Failed);

  writeFile(dir / "elsewhere", "");
  std::filesystem::create_symlink(dir / "elsewhere", dir / "planted.lock");
  EXPECT_EQ(RunningCopyLock::acquire(dir / "planted.lock").status(), RunningCopyLock::Status::Failed);
}

// A lock file shared by processors (in a spool folder) is made with the bits
// the umask gives, says who holds it to whoever is refused, and is used only
// when it is a regular file: a FIFO under its name does not stall the start.
TEST(RunningCopyLock, ALockFileFollowsTheUmaskAndNamesItsHolder) {
  TempDir dir;
  const auto file = dir / "Kivo-Processor.lock";
  {
    const mode_t old = ::umask(002);
    RunningCopyLock first = RunningCopyLock::acquire(file);
    ::umask(old);
    ASSERT_TRUE(first.acquired()) << first.message();
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
    RunningCopyLock second = RunningCopyLock::acquire(file);
    EXPECT_EQ(second.status(), RunningCopyLock::Status::AlreadyRunning);
    EXPECT_EQ(second.holder().rfind("process " + std::to_string(::getpid()), 0), 0u) << second.holder();
  }
  ASSERT_EQ(::mkfifo((dir / "fifo.lock").c_str(), 0600), 0);
  const RunningCopyLock fifo = RunningCopyLock::acquire(dir / "fifo.lock");
  EXPECT_EQ(fifo.status(), RunningCopyLock::Status::Failed);
  EXPECT_NE(fifo.message().find("not a regular file"), std::string::npos) << fifo.message();
}

// A lock in a folder held open is taken through that folder: renamed, with
// a link to another folder put at its old name, the lock is still made in
// it and held there, and nothing is made through the link.
TEST(RunningCopyLock, ALockInAnOpenFolderIsTakenThereWhateverWasRenamed) {
  TempDir dir;
  std::filesystem::create_directories(dir / "own");
  std::filesystem::create_directories(dir / "theirs");
  const int folder = ::open((dir / "own").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  std::filesystem::rename(dir / "own", dir / "moved");
  std::filesystem::create_directory_symlink(dir / "theirs", dir / "own");
  {
    RunningCopyLock lock = RunningCopyLock::acquireIn(folder, "x.lock", dir / "own/x.lock");
    ASSERT_TRUE(lock.acquired()) << lock.message();
    EXPECT_EQ(SecondHolder("file", dir / "moved/x.lock"), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "theirs"));
  }
  ::close(folder);
}

TEST(RunningCopyLock, LivesInTheRuntimeFolderElseTheApplicationFolder) {
  TempDir dir;
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().c_str());
    EXPECT_EQ(RunningCopyLock::defaultLockFile(), dir / "Kivo-Processor.lock");
  }
  ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
  ScopedEnv app("KIVO_APP_FOLDER", (dir / "app").c_str());
  EXPECT_EQ(RunningCopyLock::defaultLockFile(), dir / "app/.Kivo-Processor.lock");
}

TEST(SystemInfo, VersionComesFromTheKernel) {
  SystemVersion v = systemVersion();
  EXPECT_EQ(v.sysname, "Linux");
  EXPECT_FALSE(v.release.empty());
  EXPECT_GE(v.major, 3);
  EXPECT_EQ(systemVersionText(), "Linux " + v.release);
}

void fakeInterface(const TempDir& net, const std::string& name, int index, int type, const std::string& address,
                   bool physical, bool wireless = false) {
  writeFile(net / (name + "/ifindex"), std::to_string(index) + "\n");
  writeFile(net / (name + "/type"), std::to_string(type) + "\n");
  writeFile(net / (name + "/address"), address + "\n");
  if (physical) std::filesystem::create_directories(net / (name + "/device"));
  if (wireless) std::filesystem::create_directories(net / (name + "/wireless"));
}

TEST(SystemInfo, PrimaryAddressPrefersPhysicalEthernetByIndex) {
  using A = HardwareAddress;
  TempDir net;
  EXPECT_EQ(primaryHardwareAddress(net.path()), A{});  // no interfaces: zeros
  EXPECT_EQ(primaryHardwareAddress(net / "missing"), A{});

  fakeInterface(net, "lo", 1, 772, "00:00:00:00:00:00", false);
  fakeInterface(net, "docker0", 2, 1, "02:42:ac:11:00:01", false);
  EXPECT_EQ(primaryHardwareAddress(net.path()), (A{0x02, 0x42, 0xac, 0x11, 0x00, 0x01}));  // any non-loopback
  fakeInterface(net, "wlan0", 3, 1, "aa:bb:cc:dd:ee:01", true, true);
  EXPECT_EQ(primaryHardwareAddress(net.path()), (A{0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x01}));  // wireless beats virtual
  fakeInterface(net, "enp9s0", 9, 1, "00:11:22:33:44:09", true);
  fakeInterface(net, "enp4s0", 4, 1, "00:11:22:33:44:04", true);
  fakeInterface(net, "enp2s0", 5, 1, "00:00:00:00:00:00", true);  // zero address: skipped
  fakeInterface(net, "ib0", 1, 32, "80:00:00:00:00:00", true);   // not Ethernet
  EXPECT_EQ(primaryHardwareAddress(net.path()), (A{0x00, 0x11, 0x22, 0x33, 0x44, 0x04}));  // lowest index
}

TEST(Folders, FollowTheEnvironment) {
  TempDir dir;
  ScopedEnv home("HOME", dir.path().c_str());
  ScopedEnv config("XDG_CONFIG_HOME", nullptr);
  ScopedEnv state("XDG_STATE_HOME", "relative/ignored");
  ScopedEnv data("XDG_DATA_HOME", (dir / "data").c_str());
  EXPECT_EQ(configFolder(), dir / ".config/Kivo-Processor");
  EXPECT_EQ(defaultsFile(), dir / ".config/Kivo-Processor/defaults.plist");
  EXPECT_EQ(userUnitsFolder(), dir / ".config/systemd/user");
  EXPECT_EQ(logsFolder(), dir / ".local/state/Kivo");
  EXPECT_EQ(iccProfileFolders().at(2), dir / "data/icc");
  EXPECT_EQ(iccProfileFolders().at(3), dir / ".color/icc");
  {
    ScopedEnv app("KIVO_APP_FOLDER", (dir / "app").c_str());
    EXPECT_EQ(applicationFolder(), dir / "app");
  }

  EXPECT_EQ(desktopFolder(), dir / "Desktop");
  writeFile(dir / ".config/user-dirs.dirs", "# comment\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\nXDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
  EXPECT_EQ(desktopFolder(), dir / "Bureau");
  writeFile(dir / ".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/srv/desk\"\n");
  EXPECT_EQ(desktopFolder(), std::filesystem::path("/srv/desk"));
}

}  // namespace
