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

// The program's private folder is made 0700 whatever the umask; one that
// stands as a link, as a file or is another user's is refused and left as
// it is; one open to others is closed again or refused, as asked, and
// checking never changes anything.
TEST(PrivateFolder, TheProgramsFolderIsARealClosedFolderOfItsOwnUser) {
  TempDir dir;
  const fs::path base(dir.path());
  const mode_t before = ::umask(0);
  std::string error;
  EXPECT_TRUE(host::MakeOwnPrivateFolder((base / "own").string(), false, &error)) << error;
  ::umask(before);
  EXPECT_EQ(fs::status(base / "own").permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_TRUE(host::IsOwnPrivateFolder((base / "own").string()));
  EXPECT_TRUE(host::MakeOwnPrivateFolder((base / "own").string(), false, &error)) << "made once, used again";

  fs::create_directory_symlink(base / "own", base / "link");
  EXPECT_FALSE(host::MakeOwnPrivateFolder((base / "link").string(), true, &error));
  EXPECT_EQ(error, "the private folder \"" + (base / "link").string() + "\" is a symbolic link, which is never followed");
  EXPECT_FALSE(host::IsOwnPrivateFolder((base / "link").string()));
  EXPECT_TRUE(fs::is_symlink(base / "link"));
  { std::ofstream(base / "file") << "x"; }
  EXPECT_FALSE(host::MakeOwnPrivateFolder((base / "file").string(), true, &error));
  EXPECT_EQ(error, "the private folder \"" + (base / "file").string() + "\" is not a folder");
  EXPECT_FALSE(host::MakeOwnPrivateFolder("", true, &error));

  fs::create_directory(base / "open");
  ::chmod((base / "open").c_str(), 0755);
  EXPECT_FALSE(host::IsOwnPrivateFolder((base / "open").string()));
  EXPECT_FALSE(host::MakeOwnPrivateFolder((base / "open").string(), false, &error));
  EXPECT_EQ(error, "the private folder \"" + (base / "open").string() + "\" is open to other users");
  EXPECT_EQ(fs::status(base / "open").permissions() & fs::perms::all, fs::perms(0755)) << "refused, not changed";
  EXPECT_TRUE(host::MakeOwnPrivateFolder((base / "open").string(), true, &error)) << error;
  EXPECT_EQ(fs::status(base / "open").permissions() & fs::perms::all, fs::perms::owner_all);

  if (::geteuid() == 0) {  // another user's folder (the tests run as root in CI)
    fs::create_directory(base / "theirs");
    ::chmod((base / "theirs").c_str(), 0700);
    ASSERT_EQ(::chown((base / "theirs").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(host::MakeOwnPrivateFolder((base / "theirs").string(), true, &error));
    EXPECT_EQ(error, "the private folder \"" + (base / "theirs").string() + "\" belongs to another user (user id 65534)");
    EXPECT_FALSE(host::IsOwnPrivateFolder((base / "theirs").string()));
  }
}

}  // namespace
