#include "platform/FileServices.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "MessageCapture.h"
#include "common/TempDir.h"
#include "host/files/FileOps.h"
#include "platform/FolderLookup.h"
#include "platform/UniqueNames.h"

namespace {

namespace fs = std::filesystem;

FSSpec FolderSpec(const std::string& path) {
  FSSpec spec;
  EXPECT_EQ(host::MakeFolderSpecFromPath(path, &spec), noErr) << path;
  return spec;
}

FSSpec FileIn(const std::string& folder, const char* name) {
  FSSpec spec = FolderSpec(folder);
  spec.name = CStr63_AC(name);
  return spec;
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Limits the size of files this process may write, for one scope.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

 private:
  rlimit saved_{};
};

TEST(FileServices, CopyInChunksAndCopyNames) {
  MessageCapture capture;
  TempDir dir;
  const std::string data(600000, 'q');
  WriteText(dir / "photo.jpg", data);
  fs::create_directories(dir / "out");
  FSSpec destination = FileIn(dir / "out", "photo.jpg");
  ASSERT_EQ(doCopyTheFileInChunks(FileIn(dir.path(), "photo.jpg"), destination, false), noErr);
  EXPECT_EQ(ReadText(dir / "out/photo.jpg"), data);
  // A second copy without replacing gets a " copy" name; with it, the file is replaced.
  FSSpec again = FileIn(dir / "out", "photo.jpg");
  ASSERT_EQ(doCopyTheFileInChunks(FileIn(dir.path(), "photo.jpg"), again, false), noErr);
  EXPECT_EQ(again.name.ToUTF8(), "photo copy.jpg");
  WriteText(dir / "photo.jpg", "new");
  FSSpec replaced = FileIn(dir / "out", "photo.jpg");
  ASSERT_EQ(doCopyTheFileInChunks(FileIn(dir.path(), "photo.jpg"), replaced, true), noErr);
  EXPECT_EQ(ReadText(dir / "out/photo.jpg"), "new");
  EXPECT_EQ(Names(dir / "out"), (std::vector<std::string>{"photo copy.jpg", "photo.jpg"}));

  // A name of 250 characters is copied whole.
  const std::string longName(246, 'k');
  WriteText(dir / (longName + ".jpg"), "long");
  FSSpec longSource;
  ASSERT_EQ(host::MakeFSSpecFromPath(dir / (longName + ".jpg"), &longSource), noErr);
  // The destination is named through its stand-in once it exists.
  FSSpec outFolder = FolderSpec(dir / "out");
  ASSERT_EQ(createNewFile(outFolder, CStr255_AC(longName + ".jpg")), noErr);
  ASSERT_EQ(doCopyTheFileInChunks(longSource, outFolder, true), noErr);
  EXPECT_TRUE(Names(dir / "out").size() == 3);
  EXPECT_EQ(ReadText(dir / ("out/" + longName + ".jpg")), "long");

  // Onto itself with replace: untouched, with the message.
  FSSpec self = FileIn(dir.path(), "photo.jpg");
  EXPECT_EQ(doCopyTheFileInChunks(FileIn(dir.path(), "photo.jpg"), self, true), noErr);
  EXPECT_EQ(ReadText(dir / "photo.jpg"), "new");
  EXPECT_EQ(capture.texts.back(), "Source directory is the same as destination directory");

  // A missing source is a failure, not a success.
  FSSpec nowhere = FileIn(dir / "out", "x.jpg");
  EXPECT_NE(doCopyTheFileInChunks(FileIn(dir.path(), "missing.jpg"), nowhere, false), noErr);
  EXPECT_FALSE(fs::exists(dir / "out/x.jpg"));
}

TEST(FileServices, FailedCopyLeavesNothingUnderTheFinalName) {
  MessageCapture capture;
  TempDir dir;
  WriteText(dir / "big.bin", std::string(300000, 'b'));
  fs::create_directories(dir / "out");
  FSSpec destination = FileIn(dir / "out", "big.bin");
  {
    FileSizeLimit limit(100000);
    EXPECT_NE(doCopyTheFileInChunks(FileIn(dir.path(), "big.bin"), destination, false), noErr);
  }
  EXPECT_TRUE(Names(dir / "out").empty());
  EXPECT_FALSE(capture.texts.empty());
}

TEST(FileServices, MoveKeepsTheSourceWhenTheCopyFails) {
  MessageCapture capture;
  TempDir local;
  TempDir other("/dev/shm");
  ASSERT_TRUE(local.ok() && other.ok());
  struct stat a, b;
  stat(local.path().c_str(), &a);
  stat(other.path().c_str(), &b);
  if (a.st_dev == b.st_dev) GTEST_SKIP() << "needs two file systems";
  const std::string data(300000, 'j');
  WriteText(local / "job1", data);
  WriteText(local / "job2", data);
  const FSSpec target = FolderSpec(other.path());
  {
    FileSizeLimit limit(100000);
    EXPECT_NE(myTFileMoveFile(FileIn(local.path(), "job1"), target.parID), noErr);
  }
  EXPECT_EQ(ReadText(local / "job1"), data);
  EXPECT_TRUE(Names(other.path()).empty());
  // Across file systems, with a file of that name already there.
  WriteText(other / "job2", "older");
  ASSERT_EQ(myTFileMoveFile(FileIn(local.path(), "job2"), target.parID), noErr);
  EXPECT_FALSE(fs::exists(local / "job2"));
  EXPECT_EQ(ReadText(other / "job2 copy"), data);
  EXPECT_EQ(ReadText(other / "job2"), "older");
}

TEST(FileServices, JobFileMovesTakeTheCopyNameAndReportFailures) {
  MessageCapture capture;
  TempDir dir;
  fs::create_directories(dir / "finished");
  WriteText(dir / "finished/job.kpj", "first");
  WriteText(dir / "job.kpj", "second");
  const FSSpec finished = FolderSpec(dir / "finished");
  ASSERT_EQ(myTFileMoveFile(FileIn(dir.path(), "job.kpj"), finished.parID), noErr);
  EXPECT_EQ(ReadText(dir / "finished/job copy.kpj"), "second");
  EXPECT_EQ(ReadText(dir / "finished/job.kpj"), "first");
  EXPECT_FALSE(fs::exists(dir / "job.kpj"));
  // A folder that is gone: the file stays and the operator is told.
  WriteText(dir / "job2.kpj", "third");
  fs::remove_all(dir / "finished");
  EXPECT_NE(myTFileMoveFile(FileIn(dir.path(), "job2.kpj"), finished.parID), noErr);
  EXPECT_EQ(ReadText(dir / "job2.kpj"), "third");
  ASSERT_FALSE(capture.texts.empty());
  EXPECT_EQ(capture.texts.back().rfind("Cannot Copy and Move File!\rError Code = ", 0), 0u) << capture.texts.back();
}

TEST(FileServices, MovingAFileOntoItselfKeepsIt) {
  MessageCapture capture;
  TempDir dir;
  // The same file reached through a link is still the file itself.
  WriteText(dir / "orig.jpg", "mine");
  fs::create_symlink(dir / "orig.jpg", dir / "link.jpg");
  FSSpec viaLink = FileIn(dir.path(), "link.jpg");
  EXPECT_EQ(copyTheFile(FileIn(dir.path(), "orig.jpg"), viaLink, true), noErr);
  EXPECT_EQ(ReadText(dir / "orig.jpg"), "mine");
  EXPECT_TRUE(fs::is_symlink(dir / "link.jpg"));
  fs::remove(dir / "link.jpg");
  fs::remove(dir / "orig.jpg");

  WriteText(dir / "a.jpg", "keep");
  EXPECT_EQ(doNSStringPathCopy(dir / "a.jpg", dir.path(), "a.jpg", true), noErr);
  EXPECT_EQ(ReadText(dir / "a.jpg"), "keep");
  // Replacing another file: the new one takes the name, nothing else is left.
  WriteText(dir / "b.jpg", "new");
  EXPECT_EQ(doNSStringPathCopy(dir / "b.jpg", dir.path(), "a.jpg", true), noErr);
  EXPECT_EQ(ReadText(dir / "a.jpg"), "new");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"a.jpg"});
}

TEST(FileServices, CreationNeverReplaces) {
  MessageCapture capture;
  TempDir dir;
  WriteText(dir / "a.txt", "keep");
  FSSpec spec = FileIn(dir.path(), "a.txt");
  EXPECT_EQ(createNewFile(spec), noErr);  // an existing file is not an error
  EXPECT_EQ(ReadText(dir / "a.txt"), "keep");
  FSSpec unique = FileIn(dir.path(), "a.txt");
  EXPECT_EQ(CreateUniqueFSSpecNew(unique, FourCC("ZRVb"), FourCC("TEXT"), 0, false), noErr);
  EXPECT_EQ(unique.name.ToUTF8(), "a copy.txt");
  EXPECT_EQ(ReadText(dir / "a.txt"), "keep");
  FSSpec unique2 = FileIn(dir.path(), "a.txt");
  EXPECT_EQ(CreateUniqueFSSpec(unique2, 0, 0, 0, false), noErr);
  EXPECT_EQ(unique2.name.ToUTF8(), "a copy 1.txt");
  FSSpec rename = FileIn(dir.path(), "a copy.txt");
  EXPECT_EQ(newFSpRename(&rename, "a.txt"), dupFNErr);
  EXPECT_EQ(ReadText(dir / "a.txt"), "keep");
  EXPECT_EQ(newFSpRename(&rename, "b.txt"), noErr);
  EXPECT_EQ(rename.name.ToUTF8(), "b.txt");
  EXPECT_TRUE(fs::exists(dir / "b.txt"));

  // A long name reaches the disk whole.
  const std::string longName(120, 'L');
  FSSpec folder = FolderSpec(dir.path());
  EXPECT_EQ(createNewFile(folder, CStr255_AC(longName + ".txt")), noErr);
  EXPECT_TRUE(fs::exists(dir / (longName + ".txt")));
  EXPECT_TRUE(IsExistingFile(folder));
}

TEST(FileServices, EmptyingFolders) {
  MessageCapture capture;
  TempDir dir;
  WriteText(dir / "a", "1");
  WriteText(dir / "b", "2");
  WriteText(dir / ".DS_Store", "x");
  WriteText(dir / ".hidden", "x");
  fs::create_directories(dir / "sub/deeper");
  WriteText(dir / "sub/c", "3");
  WriteText(dir / "sub/deeper/d", "4");
  WriteText(dir / "sub/.keep", "5");
  deleteAllFilesInSubFolders(FolderSpec(dir.path()));
  EXPECT_EQ(Names(dir / "sub"), (std::vector<std::string>{".keep", "deeper"}));
  EXPECT_TRUE(Names(dir / "sub/deeper").empty());
  EXPECT_TRUE(fs::exists(dir / "a"));
  deleteAllFilesInFolder(FolderSpec(dir.path()));
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{".hidden", "sub"}));
  EXPECT_TRUE(capture.texts.empty());
}

TEST(FileServices, ClosingByReferenceNumberClearsItFirst) {
  TempDir dir;
  WriteText(dir / "f.txt", "x");
  const int fd = ::open((dir / "f.txt").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GT(fd, STDERR_FILENO);
  int16_t refNum = static_cast<int16_t>(fd);
  EXPECT_EQ(myFSClose(&refNum), noErr);
  EXPECT_EQ(refNum, 0);
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  // Closed already, or no file at all: nothing else is closed.
  refNum = static_cast<int16_t>(fd);
  EXPECT_EQ(myFSClose(&refNum), rfNumErr);
  EXPECT_EQ(refNum, 0);
  EXPECT_EQ(myFSClose(&refNum), rfNumErr);
  refNum = STDERR_FILENO;
  EXPECT_EQ(myFSClose(&refNum), rfNumErr);
  EXPECT_NE(::fcntl(STDERR_FILENO, F_GETFD), -1);
  EXPECT_EQ(myFSClose(nullptr), noErr);
}

TEST(FileServices, PermissionsAndFinderFlags) {
  TempDir dir;
  WriteText(dir / "f", "x");
  fs::permissions(dir / "f", fs::perms(0700));
  {
    // Bits are added only as far as the umask allows.
    ScopedUmask umask(022);
    EXPECT_TRUE(setPermission((dir / "f").c_str(), 0666));
    EXPECT_EQ(static_cast<unsigned>(fs::status(dir / "f").permissions()) & 0777, 0744u);
  }
  {
    ScopedUmask umask(002);
    EXPECT_TRUE(setPermission((dir / "f").c_str(), 0666));
    EXPECT_EQ(static_cast<unsigned>(fs::status(dir / "f").permissions()) & 0777, 0764u);
  }
  EXPECT_TRUE(setPermissionFolder((dir / "f").c_str(), 0640));
  EXPECT_EQ(static_cast<unsigned>(fs::status(dir / "f").permissions()) & 0777, 0640u);
  EXPECT_FALSE(setPermission((dir / "none").c_str(), 0666));

  host::FinderInfo temp;
  temp.type = temp.creator = FourCC("tmp?");
  EXPECT_TRUE(myFSSpecIsTempFSSpec(temp));
  temp.creator = FourCC("ZRVb");
  EXPECT_FALSE(myFSSpecIsTempFSSpec(temp));
  EXPECT_EQ(myFSShowHideFile(nullptr, true), noErr);
  char buf[4] = {1, 2, 3, 4};
  BlockMove(buf, buf + 1, 2);
  EXPECT_EQ(buf[2], 2);
  BlockMove(buf, buf + 1, 0);
}

TEST(UniqueNames, NumberedNamesAtTheirLimits) {
  MessageCapture capture;
  TempDir dir;
  FSSpec spec = FolderSpec(dir.path());
  int32_t counter = 1;
  CStr255_AC name = getUniqueNameForPrintToFile(CStr255_AC(std::string(40, 'p')), counter, CStr255_AC(".jpg"), 4, spec);
  EXPECT_EQ(name.ToUTF8(), std::string(22, 'p') + "_0001.jpg");
  WriteText(dir / name.ToUTF8(), "x");
  WriteText(dir / (std::string(22, 'p') + "_0002.jpg"), "x");
  spec = FolderSpec(dir.path());
  name = getUniqueNameForPrintToFile(CStr255_AC(std::string(40, 'p')), counter, CStr255_AC(".jpg"), 4, spec);
  EXPECT_EQ(counter, 3);
  EXPECT_EQ(name.Length(), 31u);
  EXPECT_EQ(spec.name.ToUTF8(), std::string(22, 'p') + "_0003.jpg");

  counter = 7;
  spec = FolderSpec(dir.path());
  name = getUniqueNameBexel(CStr255_AC(std::string(80, 'r') + "_"), counter, CStr255_AC("tif"), spec);
  EXPECT_EQ(name.Length(), 63u);
  EXPECT_EQ(name.ToUTF8(), std::string(54, 'r') + "_0007.tif");

  // Renaming a written file to the first free number.
  WriteText(dir / "written.tmp", "data");
  WriteText(dir / "Print_0001.jpg", "x");
  FSSpec written = FileIn(dir.path(), "written.tmp");
  counter = 1;
  name = getUniqueNameForPrintToFileNew(CStr255_AC("Print"), counter, CStr255_AC(".jpg"), 4, written);
  EXPECT_EQ(name.ToUTF8(), "Print_0002.jpg");
  EXPECT_EQ(counter, 2);
  EXPECT_EQ(ReadText(dir / "Print_0002.jpg"), "data");
  EXPECT_EQ(written.name.ToUTF8(), "Print_0002.jpg");
  EXPECT_TRUE(capture.texts.empty());
}

TEST(UniqueNames, CopyNamesAgainstARealFolder) {
  MessageCapture capture;
  TempDir dir;
  WriteText(dir / "photo.jpg", "x");
  WriteText(dir / "photo copy.jpg", "x");
  FSSpec spec = FileIn(dir.path(), "photo.jpg");
  getUniqueNameWithCopyBeforeExtension(spec);
  EXPECT_EQ(spec.name.ToUTF8(), "photo copy 1.jpg");

  // A 200-character name keeps every character in the long form; the FSSpec
  // names it through its stand-in.
  const std::string longName(200, 'w');
  WriteText(dir / (longName + ".png"), "x");
  FSSpec longSpec;
  ASSERT_EQ(host::MakeFSSpecFromPath(dir / (longName + ".png"), &longSpec), noErr);
  getUniqueNameWithCopyBeforeExtForLongNames(longSpec);
  std::string path;
  ASSERT_EQ(host::GetPathOfFSSpec(longSpec, &path), noErr);
  EXPECT_EQ(host::LastPathName(path), longName + " copy.png");

  // A name Mac Roman cannot hold is not collapsed into "^": its copy keeps
  // the real characters.
  const std::string cjk = "\xE7\x85\xA7\xE7\x89\x87.jpg";  // 照片.jpg
  WriteText(dir / cjk, "x");
  FSSpec cjkSpec;
  ASSERT_EQ(host::MakeFSSpecFromPath(dir / cjk, &cjkSpec), noErr);
  getUniqueNameWithCopyBeforeExtension(cjkSpec);
  ASSERT_EQ(host::GetPathOfFSSpec(cjkSpec, &path), noErr);
  EXPECT_EQ(host::LastPathName(path), "\xE7\x85\xA7\xE7\x89\x87 copy.jpg");

  FSSpec inFolder = FileIn(dir.path(), "photo.jpg");
  EXPECT_EQ(newGetUniqueNameWithCopy(&inFolder, CStr255_AC("photo"), CStr255_AC(".jpg")), noErr);
  EXPECT_EQ(inFolder.name.ToUTF8(), "photo copy 1.jpg");
  EXPECT_EQ(newGetUniqueNameWithCopy(static_cast<FSSpec*>(nullptr), CStr255_AC("a"), CStr255_AC(".b")), -1);
  EXPECT_EQ(capture.texts.back(), "newGetUniqueNameWithCopy - fileSpec -> Nil Pointer!");
}

TEST(FileServices, AVolumeThatCannotBeFlushedBeepsAndTellsTheOperator) {
  MessageCapture messages;
  testing::internal::CaptureStderr();
  EXPECT_NE(flushOneVolume(-4242), noErr);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Beep"), std::string::npos) << err;
  EXPECT_FALSE(messages.texts.empty());

  TempDir dir;
  FSSpec folder = FolderSpec(dir.path());
  testing::internal::CaptureStderr();
  EXPECT_EQ(flushOneVolume(folder.vRefNum), noErr);
  EXPECT_EQ(testing::internal::GetCapturedStderr().find("Beep"), std::string::npos);
}

}  // namespace
