// The sweep of what a killed run left: only the names it is told are the
// program's, only what is older than the run and unlocked, never through a
// link, whole working folders only when nothing in them is live.
#include "host/files/Leftovers.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/TempDir.h"

namespace {

namespace fs = std::filesystem;

struct timespec Now() {
  struct timespec t {};
  ::clock_gettime(CLOCK_REALTIME, &t);
  return t;
}

// The start of the run the sweeps look back from: a minute ago, so that
// what the test writes now is of this run whatever the clock's grain.
struct timespec RunStart() {
  struct timespec t = Now();
  t.tv_sec -= 60;
  return t;
}

// Gives `path` (a link itself, not what it points at) a time an hour ago.
void MakeOld(const std::string& path) {
  struct timespec times[2] = {Now(), Now()};
  times[0].tv_sec -= 3600;
  times[1].tv_sec -= 3600;
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

void Old(const std::string& path, const std::string& text = "left") {
  std::ofstream(path) << text;
  MakeOld(path);
}

host::LeftoverNames Ours(int depth = 0) {
  host::LeftoverNames names;
  names.file = [](const std::string& n) { return host::IsUniqueName(n, ".kivo-tmp-") || n.rfind(".ours", 0) == 0; };
  names.folder = [](const std::string& n) { return n.rfind(".kivo-merge-", 0) == 0; };
  names.depth = depth;
  return names;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(Leftovers, OnlyOldUnlockedFilesOfTheProgramsOwnNamesGo) {
  TempDir dir;
  Old(dir / ".kivo-tmp-0123abcd");
  Old(dir / ".ours-old");
  Old(dir / "customer.jpg");           // not the program's name
  Old(dir / ".kivo-tmp-0123ABCD");     // not the unique form
  std::ofstream(dir / ".ours-new") << "being written";  // changed during this run
  Old(dir / ".ours-locked");
  const int held = ::open((dir / ".ours-locked").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);  // a live writer
  Old(dir / ".ours-kept");
  Old(dir / ".ours-theirs");  // a station user's file under the program's name
  const passwd* nobody = ::getpwnam("nobody");
  const bool other = ::geteuid() == 0 && nobody;
  if (other) {
    ASSERT_EQ(::chown((dir / ".ours-theirs").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  }
  host::LeftoverNames names = Ours();
  names.keep = [&](const std::string& path) { return path == dir / ".ours-kept"; };

  const auto removed = host::SweepLeftovers(dir.path(), names, RunStart());
  ::close(held);
  std::vector<std::string> gone{dir / ".kivo-tmp-0123abcd", dir / ".ours-old"};
  if (!other) gone.push_back(dir / ".ours-theirs");
  EXPECT_EQ(Sorted(removed), Sorted(gone));
  if (other) {
    EXPECT_TRUE(fs::exists(dir / ".ours-theirs"));
  }
  for (const char* stays : {"customer.jpg", ".kivo-tmp-0123ABCD", ".ours-new", ".ours-locked", ".ours-kept"})
    EXPECT_TRUE(fs::exists(dir / stays)) << stays;
}

// A link under a leftover's name is neither followed nor taken for a file;
// a folder given as a link, or met as one below, is not entered.
TEST(Leftovers, NothingIsFollowedThroughALink) {
  TempDir dir, outside;
  Old(outside / ".ours-outside", "not ours");
  fs::create_symlink(outside / ".ours-outside", dir / ".ours-link");
  MakeOld(dir / ".ours-link");
  fs::create_directory_symlink(outside.path(), dir / "sub");
  fs::create_directory_symlink(outside.path(), dir / ".kivo-merge-AbC123");
  const std::string linkedFolder = dir / "linked";
  fs::create_directory_symlink(outside.path(), linkedFolder);

  EXPECT_TRUE(host::SweepLeftovers(dir.path(), Ours(3), RunStart()).empty());
  EXPECT_TRUE(host::SweepLeftovers(linkedFolder, Ours(3), RunStart()).empty());
  EXPECT_EQ(std::ifstream(outside / ".ours-outside").get(), 'n');
  EXPECT_TRUE(fs::is_symlink(dir / ".ours-link"));
  EXPECT_TRUE(fs::is_symlink(dir / ".kivo-merge-AbC123"));
}

// A working folder goes whole when it and all it holds are old and nobody
// locks it; a folder still in use, or holding a folder, stays.
TEST(Leftovers, AWorkingFolderGoesOnlyWhenNothingInItIsLive) {
  TempDir dir;
  auto folder = [&](const std::string& name, bool freshFile) {
    fs::create_directory(dir / name);
    Old(dir / (name + "/clip.mov"));
    if (freshFile) std::ofstream(dir / (name + "/merged.mov")) << "growing";
    else Old(dir / (name + "/merged.mov"));
    MakeOld(dir / name);
  };
  folder(".kivo-merge-aaaaaa", false);
  folder(".kivo-merge-bbbbbb", true);
  folder(".kivo-merge-cccccc", false);
  folder(".kivo-merge-dddddd", false);
  fs::create_directory(dir / ".kivo-merge-dddddd/inner");
  MakeOld(dir / ".kivo-merge-dddddd");
  const int held = ::open((dir / ".kivo-merge-cccccc").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);

  const auto removed = host::SweepLeftovers(dir.path(), Ours(), RunStart());
  ::close(held);
  EXPECT_EQ(removed, std::vector<std::string>{dir / ".kivo-merge-aaaaaa"});
  EXPECT_FALSE(fs::exists(dir / ".kivo-merge-aaaaaa"));
  for (const char* stays : {".kivo-merge-bbbbbb/merged.mov", ".kivo-merge-cccccc/clip.mov",
                            ".kivo-merge-dddddd/clip.mov"})
    EXPECT_TRUE(fs::exists(dir / stays)) << stays;
}

}  // namespace
