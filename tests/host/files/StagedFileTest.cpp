// Files staged in the folder they are meant for: no name a listing shows
// until they are whole (or, without unnamed files, a hidden name of their
// own), never replacing what they must not, locked while they are written,
// and nothing left behind when they are not placed.
#include "host/files/StagedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "common/TempDir.h"
#include "host/files/FileOps.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const host::StagedFile& staged, const std::string& text) {
  ASSERT_EQ(::write(staged.fd(), text.data(), text.size()), ssize_t(text.size()));
}

// Whether another holder could take the file's lock now.
bool Lockable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

// Both forms, each placed without replacing: the name is there only once
// the file is whole, an existing name is never replaced (the same file may
// then go elsewhere), and the hidden name of the named form is locked while
// it is written and gone afterwards.
TEST(StagedFile, AppearsOnlyWhenPlacedAndNeverReplacesWithoutBeingAsked) {
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "named" : "unnamed");
    TempDir dir;
    std::ofstream(dir / "taken.jpg") << "earlier";
    int err = 0;
    host::StagedFile staged = named ? host::StagedFile::OpenNamed(dir.path(), ".kivo-work-", ".jpg", 0644, &err)
                                    : host::StagedFile::Open(dir.path(), ".kivo-work-", ".jpg", 0644, &err);
    ASSERT_TRUE(staged.valid()) << err;
    Write(staged, "whole page");
    if (named) {
      EXPECT_EQ(Names(dir.path()).size(), 2u);
      EXPECT_EQ(fs::path(staged.hiddenPath()).filename().string().rfind(".kivo-work-", 0), 0u);
      EXPECT_FALSE(Lockable(staged.hiddenPath())) << "a sweep must pass a file being written by";
    } else {
      ASSERT_TRUE(staged.unnamed()) << "tmpfs and ext4 have unnamed files";
      EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"taken.jpg"});
    }
    EXPECT_EQ(staged.Place(dir / "taken.jpg", false), dupFNErr);
    EXPECT_EQ(Read(dir / "taken.jpg"), "earlier");
    ASSERT_EQ(staged.Place(dir / "page.jpg", false), noErr);
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"page.jpg", "taken.jpg"}));
    EXPECT_EQ(Read(dir / "page.jpg"), "whole page");
  }
}

// Asked to replace, both forms replace the file at once and leave no
// hidden name; the file gets the bits asked for less the umask.
TEST(StagedFile, ReplacesWhenAskedAndFollowsTheUmask) {
  ScopedUmask umask(027);
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "named" : "unnamed");
    TempDir dir;
    std::ofstream(dir / "page.jpg") << "old";
    int err = 0;
    host::StagedFile staged = named ? host::StagedFile::OpenNamed(dir.path(), ".kivo-work-", "", 0666, &err)
                                    : host::StagedFile::Open(dir.path(), ".kivo-work-", "", 0666, &err);
    ASSERT_TRUE(staged.valid()) << err;
    Write(staged, "new");
    ASSERT_EQ(staged.Place(dir / "page.jpg", true), noErr);
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"page.jpg"});
    EXPECT_EQ(Read(dir / "page.jpg"), "new");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "page.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
  }
}

// Not placed, a staged file leaves nothing: discarded, or dropped.
TEST(StagedFile, AFileNotPlacedLeavesNothing) {
  TempDir dir;
  {
    host::StagedFile dropped = host::StagedFile::OpenNamed(dir.path(), ".kivo-work-", "", 0666, nullptr);
    ASSERT_TRUE(dropped.valid());
    Write(dropped, "half");
  }
  host::StagedFile discarded = host::StagedFile::OpenNamed(dir.path(), ".kivo-work-", "", 0666, nullptr);
  ASSERT_TRUE(discarded.valid());
  discarded.Discard();
  EXPECT_FALSE(discarded.valid());
  EXPECT_TRUE(Names(dir.path()).empty());
  EXPECT_EQ(discarded.Place(dir / "x", false), paramErr);
  EXPECT_TRUE(Names(dir.path()).empty());
}

// Every name that appears in `folder` while `act` runs (created, linked or
// moved in), in order, as inotify reports them.
std::vector<std::string> NamesAppearing(const std::string& folder, const std::function<void()>& act) {
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0 || ::inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0) return {"(no inotify)"};
  act();
  std::vector<std::string> names;
  alignas(inotify_event) char buffer[1 << 16];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
    for (char* p = buffer; p < buffer + got;) {
      const auto* e = reinterpret_cast<const inotify_event*>(p);
      if (e->len > 0) names.push_back(e->name);
      p += sizeof(inotify_event) + e->len;
    }
  ::close(fd);
  return names;
}

// The whole-file writes, copies and moves go through staged files: onto
// another file system (/dev/shm is a tmpfs) no name but the final one ever
// appears, and nothing is replaced unless asked.
TEST(StagedFile, WritesCopiesAndMovesShowNoNameButTheFinalOne) {
  TempDir source;
  TempDir target(fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
  std::ofstream(source / "clip.mov") << "the clip";
  const auto appeared = NamesAppearing(target.path(), [&] {
    EXPECT_EQ(host::CopyFile(source / "clip.mov", target / "clip.mov", false), noErr);
    EXPECT_EQ(host::CopyFile(source / "clip.mov", target / "clip.mov", false), dupFNErr);
    EXPECT_EQ(host::WriteFileAtomically(target / "note.txt", "abc", 3, 0666, false), noErr);
    EXPECT_EQ(host::WriteFileAtomically(target / "note.txt", "xyz", 3, 0666, false), dupFNErr);
    EXPECT_EQ(host::MoveItem(source / "clip.mov", target / "moved.mov", false), noErr);
  });
  EXPECT_EQ(appeared, (std::vector<std::string>{"clip.mov", "note.txt", "moved.mov"}));
  EXPECT_EQ(Read(target / "note.txt"), "abc");
  EXPECT_EQ(Read(target / "moved.mov"), "the clip");
  EXPECT_FALSE(fs::exists(source / "clip.mov"));

  // Replacing: the new file takes the name in one rename, from a hidden
  // name that stands for that instant only.
  std::ofstream(source / "clip.mov") << "another clip";
  ASSERT_EQ(host::MoveItem(source / "clip.mov", target / "note.txt", true), noErr);
  EXPECT_EQ(Read(target / "note.txt"), "another clip");
  EXPECT_EQ(Names(target.path()), (std::vector<std::string>{"clip.mov", "moved.mov", "note.txt"}));
}

}  // namespace
