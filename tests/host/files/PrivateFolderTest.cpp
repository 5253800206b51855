// What a killed program left of its private folders for working files is
// removed, and nothing else: never what a link points at.
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
