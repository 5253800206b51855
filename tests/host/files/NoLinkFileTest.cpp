// Files the program keeps writing into are never written through whatever
// another user put at their names: links, hard links and FIFOs are replaced
// by a file of the program's own, and what they led to keeps its bytes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/TempDir.h"
#include "host/files/NoLinkFile.h"
#include "host/files/HeldFolders.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool IsOwnFile(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
}

TEST(NoLinkFile, AppendsMakeTheFileWithTheUmaskAndAddAtTheEnd) {
  TempDir dir;
  ScopedUmask mask(002);
  const std::string log = dir / "Print Log File";
  std::string note;
  ASSERT_TRUE(host::AppendWithoutLinks(log, "one\r", &note));
  ASSERT_TRUE(host::AppendWithoutLinks(log, "two\r", &note));
  EXPECT_TRUE(note.empty()) << note;
  EXPECT_EQ(Read(log), "one\rtwo\r");
  struct stat st {};
  ASSERT_EQ(::stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0664u);

  const host::NoLinkFile emptied = host::OpenWithoutLinks(log, host::NoLinkStart::kEmptied);
  ASSERT_GE(emptied.fd, 0) << emptied.error;
  EXPECT_EQ(host::WriteAllBytes(emptied.fd, "three"), 0);
  ::close(emptied.fd);
  EXPECT_EQ(Read(log), "three");
}

// Whatever another user put at the name is removed and a file made in its
// place; the file a link or a hard link led to keeps its bytes, also when
// the name was to be emptied.
TEST(NoLinkFile, WhatIsPlantedAtTheNameIsReplacedAndWhatItLedToIsUntouched) {
  TempDir dir;
  const std::string outside = dir / "outside.txt";
  for (const host::NoLinkStart start : {host::NoLinkStart::kAtEnd, host::NoLinkStart::kEmptied}) {
    for (const char* kind : {"symbolic link", "hard link", "FIFO", "dangling link"}) {
      SCOPED_TRACE(kind);
      Write(outside, "keep\n");
      const std::string name = dir / "KivoBrevantLog.txt";
      fs::remove(name);
      const std::string k = kind;
      if (k == "symbolic link") fs::create_symlink(outside, name);
      if (k == "hard link") fs::create_hard_link(outside, name);
      if (k == "FIFO") {
        ASSERT_EQ(::mkfifo(name.c_str(), 0666), 0);
      }
      if (k == "dangling link") fs::create_symlink(dir / "nothing-here", name);

      const host::NoLinkFile file = host::OpenWithoutLinks(name, start);
      ASSERT_GE(file.fd, 0) << file.Note();
      EXPECT_EQ(host::WriteAllBytes(file.fd, "line\n"), 0);
      ::close(file.fd);
      EXPECT_EQ(Read(outside), "keep\n");
      EXPECT_FALSE(fs::exists(dir / "nothing-here"));
      EXPECT_TRUE(IsOwnFile(name));
      EXPECT_EQ(Read(name), "line\n");
      EXPECT_NE(file.removed.find("\"" + name + "\" was "), std::string::npos) << file.removed;
      EXPECT_NE(file.removed.find("it was removed"), std::string::npos) << file.removed;
    }
  }
}

// A folder at the name is refused; an append that must not make the file
// makes nothing, also where a link stood.
TEST(NoLinkFile, AFolderIsRefusedAndAFileThatMustExistIsNotMade) {
  TempDir dir;
  const std::string folder = dir / "Yearbook.read me";
  fs::create_directory(folder);
  const host::NoLinkFile refused = host::OpenWithoutLinks(folder, host::NoLinkStart::kAtEnd);
  EXPECT_LT(refused.fd, 0);
  EXPECT_EQ(refused.errorNumber, EISDIR);
  EXPECT_NE(refused.error.find("is a folder"), std::string::npos) << refused.error;
  EXPECT_TRUE(fs::is_directory(folder));

  const std::string outside = dir / "outside.png";
  Write(outside, "png");
  const std::string page = dir / "page.png";
  std::string note;
  EXPECT_FALSE(host::AppendWithoutLinks(page, "block", &note, false));
  EXPECT_FALSE(fs::exists(page));
  fs::create_symlink(outside, page);
  EXPECT_FALSE(host::AppendWithoutLinks(page, "block", &note, false));
  EXPECT_FALSE(fs::exists(fs::symlink_status(page)));
  EXPECT_EQ(Read(outside), "png");
  EXPECT_NE(note.find("was a symbolic link"), std::string::npos) << note;

  // Opened below a held folder, a folder on the way swapped for a link
  // refuses the file: nothing is made where the link leads.
  const fs::path photos = fs::path(dir.path()) / "Desktop" / "Yearbook Photos";
  fs::create_directories(photos);
  ASSERT_TRUE(host::HoldFolder(dir / "Desktop", host::FolderUse::kSource));
  fs::create_directory(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", photos / "Class");
  const std::string list = dir / "Desktop/Yearbook Photos/Class/Yearbook.read me";
  const host::NoLinkFile through = host::OpenWithoutLinks(list, host::NoLinkStart::kAtEnd, true, 0666);
  EXPECT_LT(through.fd, 0);
  EXPECT_EQ(through.errorNumber, ELOOP);
  EXPECT_NE(through.error.find("is a symbolic link, which is not followed"), std::string::npos) << through.error;
  EXPECT_FALSE(fs::exists(dir / "elsewhere/Yearbook.read me"));
  fs::remove(photos / "Class");
  fs::create_directory(photos / "Class");
  const host::NoLinkFile made = host::OpenWithoutLinks(list, host::NoLinkStart::kAtEnd, true, 0666);
  ASSERT_GE(made.fd, 0) << made.Note();
  ::close(made.fd);
  EXPECT_TRUE(IsOwnFile(list));
  host::ReleaseHeldFoldersForTesting();
}

}  // namespace
