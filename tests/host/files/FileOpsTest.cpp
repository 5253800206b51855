#include "host/files/FileOps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "host/files/CatalogInfo.h"
#include "host/files/File.h"
#include "host/files/FinderInfo.h"
#include "host/files/HeldFolders.h"
#include "host/base/Fd.h"
#include "host/files/ResourceFork.h"
#include "common/TempDir.h"

namespace {

uint32_t ModeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFF;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

// New files and folders take the mode asked for less the umask, whichever
// way they are made: a shop opens its folders with umask 002, and nothing is
// made writable for everyone behind the umask's back.
TEST(FileOps, CreatingNeverOverwritesAndFollowsTheUmask) {
  TempDir dir;
  for (const mode_t mask : {mode_t(022), mode_t(002)}) {
    ScopedUmask umask(mask);
    const std::string tag = std::to_string(mask);
    EXPECT_EQ(host::ProcessUmask(), uint32_t(mask));
    const std::string count = dir / ("Kivo-Processor Count " + tag);
    ASSERT_EQ(host::CreateFileExclusive(count, 0666), noErr);
    EXPECT_EQ(ModeOf(count), 0666u & ~mask);
    WriteText(count, "counts");
    EXPECT_EQ(host::CreateFileExclusive(count, 0600), dupFNErr);
    EXPECT_EQ(ReadText(count), "counts");

    const std::string folder = dir / ("FINISHED JOBS FOLDER ƒ " + tag);
    ASSERT_EQ(host::CreateFolder(folder, 0777), noErr);
    EXPECT_EQ(ModeOf(folder), 0777u & ~mask);
    EXPECT_EQ(host::CreateFolder(folder, 0777), dupFNErr);

    const std::string written = dir / ("Print Log File " + tag);
    ASSERT_EQ(host::WriteFileAtomically(written, "line", 4, 0666), noErr);
    EXPECT_EQ(ModeOf(written), 0666u & ~mask);
    // A copy of a file open to everyone is no more open than the umask allows.
    ::chmod(written.c_str(), 0666);
    ASSERT_EQ(host::CopyFile(written, written + " copy", false), noErr);
    EXPECT_EQ(ModeOf(written + " copy"), 0666u & ~mask);
  }
  // A private mode stays private.
  ScopedUmask open(0);
  ASSERT_EQ(host::CreateFolder(dir / "private", 0700), noErr);
  EXPECT_EQ(ModeOf(dir / "private"), 0700u);
  EXPECT_EQ(host::CreateFolder(dir / "no/such/parent", 0777), fnfErr);
  // A link in the way of a new file is never followed.
  ::symlink((dir / "private/target").c_str(), (dir / "link").c_str());
  EXPECT_NE(host::CreateFileExclusive(dir / "link", 0666), noErr);
  EXPECT_FALSE(Exists(dir / "private/target"));
}

TEST(FileOps, AtomicWritesReplaceOnlyWhenAsked) {
  TempDir dir;
  const std::string target = dir / "defaults.plist";
  ASSERT_EQ(host::WriteFileAtomically(target, "one", 3, 0640), noErr);
  EXPECT_EQ(ReadText(target), "one");
  EXPECT_EQ(ModeOf(target), 0640u);
  ASSERT_EQ(host::WriteFileAtomically(target, "two", 3, 0640), noErr);
  EXPECT_EQ(ReadText(target), "two");
  EXPECT_EQ(host::WriteFileAtomically(target, "three", 5, 0640, false), dupFNErr);
  EXPECT_EQ(ReadText(target), "two");
  // No temporary file is left behind.
  std::vector<std::string> names;
  ASSERT_EQ(host::ListFolder(dir.path(), &names), noErr);
  EXPECT_EQ(names, std::vector<std::string>{"defaults.plist"});
}

// The forms that say why in words serve readers that report to the operator
// (image files, property lists, user defaults): the reason names the file
// and the system's cause, and a failed write leaves the old file whole.
TEST(FileOps, WholeFileReadsAndWritesSayWhyTheyFailed) {
  TempDir dir;
  const std::string target = dir / "settings.plist";
  std::string error;
  const std::vector<uint8_t> one{'o', 'n', 'e'};
  {
    ScopedUmask umask(027);
    ASSERT_TRUE(host::WriteFileAtomically(target, one, 0666, &error)) << error;
    EXPECT_EQ(ModeOf(target), 0640u);
  }
  std::vector<uint8_t> back;
  ASSERT_TRUE(host::ReadWholeFile(target, 100, &back, &error)) << error;
  EXPECT_EQ(back, one);

  EXPECT_FALSE(host::ReadWholeFile(target, 2, &back, &error));
  EXPECT_NE(error.find("is larger than 2 bytes"), std::string::npos) << error;
  EXPECT_FALSE(host::ReadWholeFile(dir / "missing", 100, &back, &error));
  EXPECT_NE(error.find("cannot open \"" + (dir / "missing") + "\": No such file or directory"), std::string::npos)
      << error;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(host::ReadWholeFile(dir / "fifo", 100, &back, &error));
  EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
  EXPECT_EQ(host::ReadWholeFile(dir / "fifo", &back), notAFileErr);
  EXPECT_EQ(host::ReadWholeFile(target, &back, 2), memFullErr);

  // A folder in the way of the final name: the write fails, says so, and
  // leaves no temporary file.
  ASSERT_EQ(::mkdir((dir / "taken").c_str(), 0700), 0);
  EXPECT_FALSE(host::WriteFileAtomically(dir / "taken", one, 0666, &error));
  EXPECT_NE(error.find("cannot rename the temporary file to"), std::string::npos) << error;
  EXPECT_FALSE(host::WriteFileAtomically(dir / "no/such/folder", one, 0666, &error));
  EXPECT_NE(error.find("cannot create a temporary file beside"), std::string::npos) << error;
  std::vector<std::string> names;
  ASSERT_EQ(host::ListFolder(dir.path(), &names), noErr);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"fifo", "settings.plist", "taken"}));
}

TEST(FileOps, MoveAcrossFileSystemsCopiesThenRemovesTheSource) {
  TempDir disk;
  TempDir shm("/dev/shm");
  ASSERT_TRUE(shm.ok());
  const std::string source = disk / "job 1.trpr";
  std::string content(600000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  WriteText(source, content);
  ::chmod(source.c_str(), 0640);
  host::ResourceMap fork;
  fork.Set(FourCC("pnot"), 0, "", {1, 2, 3}, false);
  ASSERT_EQ(host::WriteResourceFork(source, fork), noErr);

  const std::string target = shm / "job 1.trpr";
  ASSERT_EQ(host::MoveItem(source, target), noErr);
  EXPECT_FALSE(Exists(source));
  EXPECT_FALSE(Exists(host::AppleDoublePath(source)));
  EXPECT_EQ(ReadText(target), content);
  EXPECT_EQ(ModeOf(target), 0640u);
  host::ResourceMap moved;
  ASSERT_EQ(host::ReadResourceFork(target, &moved), noErr);
  EXPECT_NE(moved.Get(FourCC("pnot"), 0), nullptr);
  std::vector<std::string> names;
  ASSERT_EQ(host::ListFolder(shm.path(), &names), noErr);
  EXPECT_EQ(names, std::vector<std::string>{"job 1.trpr"});

  // And back within one file system.
  ASSERT_EQ(host::MoveItem(target, source), noErr);
  EXPECT_EQ(ReadText(source), content);
  // Folders do not cross file systems.
  ASSERT_EQ(host::CreateFolder(disk / "sub", 0755), noErr);
  EXPECT_EQ(host::MoveItem(disk / "sub", shm / "sub"), diffVolErr);
  EXPECT_TRUE(Exists(disk / "sub"));
}

TEST(FileOps, MoveOntoAnExistingNameIsRefused) {
  TempDir disk;
  TempDir shm("/dev/shm");
  WriteText(disk / "a", "source");
  WriteText(disk / "b", "existing");
  WriteText(shm / "a", "existing elsewhere");
  EXPECT_EQ(host::MoveItem(disk / "a", disk / "b"), dupFNErr);
  EXPECT_EQ(host::MoveItem(disk / "a", shm / "a"), dupFNErr);
  EXPECT_EQ(ReadText(disk / "a"), "source");
  EXPECT_EQ(ReadText(disk / "b"), "existing");
  EXPECT_EQ(ReadText(shm / "a"), "existing elsewhere");
  EXPECT_EQ(host::RenameNoReplace(disk / "a", disk / "b"), dupFNErr);
  EXPECT_EQ(host::MoveItem(disk / "missing", disk / "c"), fnfErr);
}

TEST(FileOps, CopyAndDeleteCarryTheSidecar) {
  TempDir dir;
  WriteText(dir / "a.jpg", "data");
  host::ResourceMap fork;
  fork.Set(FourCC("Pref"), 5000, "Image Properties", {4});
  ASSERT_EQ(host::WriteResourceFork(dir / "a.jpg", fork), noErr);
  ASSERT_EQ(host::CopyFile(dir / "a.jpg", dir / "b.jpg", false), noErr);
  EXPECT_EQ(ReadText(dir / "b.jpg"), "data");
  EXPECT_EQ(host::ResourceForkLength(dir / "b.jpg"), host::ResourceForkLength(dir / "a.jpg"));
  EXPECT_EQ(host::CopyFile(dir / "a.jpg", dir / "b.jpg", false), dupFNErr);
  ASSERT_EQ(host::DeleteItem(dir / "a.jpg"), noErr);
  EXPECT_FALSE(Exists(dir / "._a.jpg"));
  ASSERT_EQ(host::CreateFolder(dir / "full", 0755), noErr);
  WriteText(dir / "full/x", "");
  EXPECT_EQ(host::DeleteItem(dir / "full"), fBsyErr);
}

TEST(CatalogInfo, SizesDatesFlagsAndEnumeration) {
  TempDir dir;
  WriteText(dir / "b.trpr", "12345");
  WriteText(dir / ".DS_Store", "");
  ASSERT_EQ(host::CreateFolder(dir / "a folder", 0755), noErr);

  host::CatalogInfo info;
  ASSERT_EQ(host::GetCatInfoForPath(dir / "b.trpr", &info), noErr);
  EXPECT_FALSE(info.isFolder);
  EXPECT_FALSE(info.invisible);
  EXPECT_EQ(info.dataLength, 5u);
  EXPECT_EQ(info.rsrcLength, 0u);
  EXPECT_GT(info.creationTimeNs, 0);
  EXPECT_GT(info.ModificationMacSeconds(), 3'000'000'000u);  // after 1999

  ASSERT_EQ(host::GetCatInfoForPath(dir / ".DS_Store", &info), noErr);
  EXPECT_TRUE(info.invisible);
  EXPECT_TRUE(info.finderInfo.flags & host::FinderInfo::kIsInvisible);

  host::CatalogInfo folder;
  ASSERT_EQ(host::GetCatInfoForPath(dir.path(), &folder), noErr);
  EXPECT_TRUE(folder.isFolder);
  EXPECT_EQ(folder.Attributes() & 0x10, 0x10);
  EXPECT_EQ(folder.valence, 3u);
  std::vector<std::string> seen;
  for (int i = 1; host::GetIndexedCatInfo(folder.spec.vRefNum, folder.dirID, i, &info) == noErr; ++i) {
    seen.push_back(info.diskName);
    EXPECT_EQ(info.spec.parID, folder.dirID);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{".DS_Store", "a folder", "b.trpr"}));
  EXPECT_EQ(host::GetIndexedCatInfo(folder.spec.vRefNum, folder.dirID, 4, &info), fnfErr);
  EXPECT_EQ(host::GetCatInfoForPath(dir / "none", &info), fnfErr);
}

TEST(FinderInfo, TypeCreatorAndInvisibleFlagRoundTrip) {
  TempDir dir;
  WriteText(dir / "Print Log File", "");
  if (!host::FinderInfoSupported(dir.path())) GTEST_SKIP() << "no user extended attributes here";
  host::FinderInfo info;
  ASSERT_EQ(host::GetFinderInfo(dir / "Print Log File", &info), noErr);
  EXPECT_EQ(info, host::FinderInfo());
  info.type = FourCC("TEXT");
  info.creator = FourCC("ZRVb");
  info.flags = host::FinderInfo::kIsInvisible;
  ASSERT_EQ(host::SetFinderInfo(dir / "Print Log File", info), noErr);
  host::FinderInfo back;
  ASSERT_EQ(host::GetFinderInfo(dir / "Print Log File", &back), noErr);
  EXPECT_EQ(back, info);
  host::CatalogInfo cat;
  ASSERT_EQ(host::GetCatInfoForPath(dir / "Print Log File", &cat), noErr);
  EXPECT_TRUE(cat.invisible);
  EXPECT_EQ(cat.finderInfo.creator, FourCC("ZRVb"));

  uint8_t stored[32];
  info.EncodeBE(stored);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(stored), 8), "TEXTZRVb");
  EXPECT_EQ(stored[8], 0x40);
  EXPECT_EQ(host::GetFinderInfo(dir / "missing", &back), fnfErr);
}

namespace host {

// A FIFO, where a file is expected, is refused at once instead of blocking
// the reader in open for a writer that never comes; so is a folder.
TEST(FileOps, OnlyRegularFilesAreOpenedForReading) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0666), 0);
  ASSERT_EQ(::mkfifo((dir / "._job").c_str(), 0666), 0);
  ASSERT_EQ(WriteFileAtomically(dir / "job", "abc", 3, 0644), noErr);
  std::vector<uint8_t> bytes;
  EXPECT_EQ(ReadWholeFile(dir / "pipe", &bytes), notAFileErr);
  EXPECT_EQ(ReadWholeFile(dir.path(), &bytes), notAFileErr);
  EXPECT_EQ(ReadWholeFile(dir / "job", &bytes), noErr);
  EXPECT_EQ(bytes.size(), 3u);
  EXPECT_EQ(CopyFile(dir / "pipe", dir / "copy", false), notAFileErr);
  EXPECT_FALSE(Exists(dir / "copy"));
  // The job's sidecar is a FIFO: its fork reads as damaged or absent, and
  // the job itself still reads.
  ResourceMap map;
  EXPECT_NE(ReadResourceFork(dir / "job", &map), noErr);
  EXPECT_EQ(ResourceForkLength(dir / "job"), 0u);

  TFile file;
  ASSERT_EQ(file.SpecifyWithPath(dir / "pipe"), noErr);
  EXPECT_EQ(file.OpenFile(), notAFileErr);
  TFile job;
  ASSERT_EQ(job.SpecifyWithPath(dir / "job"), noErr);
  EXPECT_EQ(job.OpenFile(), noErr);
}

// Emptying a folder must be able to see a link for what it is.
TEST(CatalogInfo, LinksAreReportedAsLinksEvenWhenDangling) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir / "real", 0755), noErr);
  ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "to-folder").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "gone").c_str(), (dir / "dangling").c_str()), 0);
  CatalogInfo info;
  ASSERT_EQ(GetCatInfoForPath(dir / "to-folder", &info), noErr);
  EXPECT_TRUE(info.isFolder);
  EXPECT_TRUE(info.isLink);
  ASSERT_EQ(GetCatInfoForPath(dir / "dangling", &info), noErr);
  EXPECT_FALSE(info.isFolder);
  EXPECT_TRUE(info.isLink);
  ASSERT_EQ(GetCatInfoForPath(dir / "real", &info), noErr);
  EXPECT_FALSE(info.isLink);
  EXPECT_NE(info.nodeID, 0u);
  EXPECT_EQ(DeleteItem(dir / "to-folder"), noErr);
  EXPECT_TRUE(Exists(dir / "real"));
}

}  // namespace host

// A file below a folder is opened without following any link below the
// folder and without leaving it; the copy reads the descriptor.
TEST(FileOps, OpeningBeneathAFolderFollowsNoLink) {
  TempDir dir;
  ASSERT_EQ(host::CreateFolder(dir / "images", 0755), noErr);
  ASSERT_EQ(host::CreateFolder(dir / "images/videos", 0755), noErr);
  ASSERT_EQ(host::CreateFolder(dir / "elsewhere", 0755), noErr);
  WriteText(dir / "images/videos/party.mov", "ours");
  WriteText(dir / "elsewhere/party.mov", "theirs");
  ::symlink((dir / "elsewhere").c_str(), (dir / "images/door").c_str());
  ::symlink((dir / "elsewhere/party.mov").c_str(), (dir / "images/videos/link.mov").c_str());

  host::Fd images(::open((dir / "images").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  const int fd = host::OpenBelowFolder(images.get(), "videos/party.mov", O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(host::CopyFromDescriptor(fd, dir / "copy.mov", false), noErr);
  EXPECT_EQ(ReadText(dir / "copy.mov"), "ours");
  EXPECT_EQ(host::CopyFromDescriptor(fd, dir / "copy.mov", false), dupFNErr);
  ::close(fd);

  for (const std::string refused : {"door/party.mov", "videos/link.mov", "../elsewhere/party.mov"}) {
    const int bad = host::OpenBelowFolder(images.get(), refused, O_RDONLY);
    EXPECT_LT(bad, 0) << refused;
    EXPECT_TRUE(errno == ELOOP || errno == EXDEV) << refused;
    if (bad >= 0) ::close(bad);
  }
  // By the folder's path: the same, and a path that does not lie below it
  // (by its names) is refused before anything is opened.
  const std::string folder = dir / "images";
  host::Fd byPath(host::OpenBeneath(folder, folder + "/./videos/party.mov", O_RDONLY));
  EXPECT_GE(byPath.get(), 0);
  for (const auto& [refused, why] : {std::pair{folder + "/door/party.mov", ELOOP},
                                     std::pair{folder + "/../elsewhere/party.mov", EXDEV}, std::pair{folder, EXDEV}}) {
    errno = 0;
    EXPECT_LT(host::OpenBeneath(folder, refused, O_RDONLY), 0) << refused;
    EXPECT_EQ(errno, why) << refused;
  }
}
