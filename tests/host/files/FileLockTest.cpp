// The shared lock file: held by one process at a time, and never opened
// through a link or as anything but a regular file.
#include "host/files/FileLock.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "common/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(FileLock, OneHolderAtATimeAndTheLockGoesWithTheObject) {
  TempDir dir;
  const fs::path lock = dir / "Kivo Count.lock";
  auto first = host::FileLock::Acquire(lock);
  ASSERT_TRUE(first.has_value());
  EXPECT_TRUE(fs::is_regular_file(lock));
  std::string why;
  bool held = false;
  EXPECT_FALSE(host::FileLock::Acquire(lock, 30ms, &why, &held).has_value());
  EXPECT_NE(why.find("too long"), std::string::npos) << why;
  EXPECT_TRUE(held);
  first.reset();
  EXPECT_TRUE(host::FileLock::Acquire(lock, 30ms).has_value());
}

TEST(FileLock, ALinkOrAnythingButARegularFileIsRefusedAndNothingIsCreated) {
  TempDir dir;
  TempDir elsewhere;
  const fs::path lock = dir / "Kivo Count.lock";
  const fs::path target = elsewhere / "planted";

  // A link to a file that does not exist yet: following it would create it.
  fs::create_symlink(target, lock);
  std::string why;
  bool held = true;
  EXPECT_FALSE(host::FileLock::Acquire(lock, 30ms, &why, &held).has_value());
  EXPECT_NE(why.find("symbolic link"), std::string::npos) << why;
  EXPECT_FALSE(held) << "waiting would not help";
  EXPECT_FALSE(fs::exists(fs::symlink_status(target)));

  // A link to an existing file is not opened either.
  WriteText(target, "someone else's");
  EXPECT_FALSE(host::FileLock::Acquire(lock, 30ms).has_value());
  EXPECT_EQ(ReadText(target), "someone else's");
  fs::remove(lock);

  fs::create_directory(lock);
  EXPECT_FALSE(host::FileLock::Acquire(lock, 30ms, &why).has_value());
  fs::remove(lock);

  // A FIFO would stall a plain open for write.
  ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0);
  why.clear();
  EXPECT_FALSE(host::FileLock::Acquire(lock, 30ms, &why).has_value());
  EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
}

}  // namespace
