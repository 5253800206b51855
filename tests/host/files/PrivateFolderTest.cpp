// The private folder for working files: made 0700 under an unpredictable
// name, its files created exclusively and never through a link, and all of
// it removed when it goes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/TempDir.h"
#include "host/files/PrivateFolder.h"

namespace {

namespace fs = std::filesystem;

TEST(PrivateFolder, IsMadeForThisUserAloneAndRemovedWithWhatItHolds) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0777);
  std::string first, second, error;
  {
    host::PrivateFolder a, b;
    ASSERT_TRUE(a.Create(dir.path(), "Work ", &error)) << error;
    ASSERT_TRUE(b.Create(dir.path(), "Work ", &error)) << error;
    EXPECT_NE(a.path(), b.path());
    struct stat st{};
    ASSERT_EQ(::lstat(a.path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    const int fd1 = a.CreateFile("doc", ".jpg", &first, &error);
    const int fd2 = a.CreateFile("doc", ".jpg", &second, &error);
    ASSERT_GE(fd1, 0) << error;
    ASSERT_GE(fd2, 0) << error;
    EXPECT_NE(first, second);
    EXPECT_EQ(fs::path(first).parent_path(), fs::path(a.path()));
    EXPECT_EQ(fs::path(first).extension(), ".jpg");
    ASSERT_EQ(::lstat(first.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::write(fd1, "abc", 3), 3);
  }
  EXPECT_FALSE(fs::exists(first));
  EXPECT_TRUE(fs::is_empty(dir.path())) << "both folders are gone";
}

// Without its parent there is no folder, and no file is made anywhere.
TEST(PrivateFolder, WithoutItsParentMakesNothing) {
  TempDir dir;
  host::PrivateFolder folder;
  std::string error;
  EXPECT_FALSE(folder.Create(dir / "missing", "Work ", &error));
  EXPECT_FALSE(error.empty());
  std::string path;
  EXPECT_LT(folder.CreateFile("doc", ".jpg", &path, &error), 0);
}

// Folders left by a killed program go with their files; a folder of that
// name that is not private, a link of that name and what a link inside
// points at stay.
TEST(PrivateFolder, LeftoversOfAKilledProgramAreRemovedAndNothingElse) {
  TempDir dir;
  const fs::path outside = fs::path(dir.path()) / "outside.txt";
  { std::ofstream(outside) << "keep"; }
  std::string left;
  {
    host::PrivateFolder folder;
    std::string error, file;
    ASSERT_TRUE(folder.Create(dir.path(), "Work ", &error)) << error;
    ASSERT_GE(folder.CreateFile("doc", ".jpg", &file, &error), 0);
    left = folder.path();
    // Kept as a killed program keeps it: a copy of the folder made by hand.
    fs::create_directory(left + "-copy");
    ::chmod((left + "-copy").c_str(), 0700);
    std::ofstream(left + "-copy/doc.jpg") << "page";
    fs::create_symlink(outside, left + "-copy/link");
  }
  fs::create_directory(fs::path(dir.path()) / "Work open");
  ::chmod((fs::path(dir.path()) / "Work open").c_str(), 0755);
  fs::create_directory_symlink(dir.path(), fs::path(dir.path()) / "Work link");
  EXPECT_EQ(host::RemoveLeftoverPrivateFolders(dir.path(), "Work "), 1);
  EXPECT_FALSE(fs::exists(left + "-copy"));
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_TRUE(fs::is_directory(fs::path(dir.path()) / "Work open"));
  EXPECT_TRUE(fs::is_symlink(fs::path(dir.path()) / "Work link"));
}

}  // namespace
