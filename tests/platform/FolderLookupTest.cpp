#include "platform/FolderLookup.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "MessageCapture.h"
#include "common/TempDir.h"
#include "host/files/FileOps.h"

namespace {

namespace fs = std::filesystem;

FSSpec FolderSpec(const std::string& path) {
  FSSpec spec;
  EXPECT_EQ(host::MakeFolderSpecFromPath(path, &spec), noErr) << path;
  return spec;
}

int32_t IdOf(const std::string& path) { return FolderSpec(path).parID; }

TEST(FolderLookup, SubfolderByNameIgnoringCaseAndForm) {
  TempDir dir;
  fs::create_directories(dir / "PRINT JOBS FOLDER \xC6\x92");  // ƒ
  fs::create_directories(dir / "Cafe\xCC\x81");                // decomposed é
  fs::create_directories(dir / "abc");
  fs::create_directories(dir / "ABC");
  WriteText(dir / "file", "x");
  const FSSpec root = FolderSpec(dir.path());
  EXPECT_EQ(FindFolderParID(root, CStr255_AC("print jobs folder \xC6\x92")), IdOf(dir / "PRINT JOBS FOLDER \xC6\x92"));
  EXPECT_EQ(FindFolderParID(root, CStr255_AC("CAF\xC3\x89")), IdOf(dir / "Cafe\xCC\x81"));
  EXPECT_EQ(findFolder(root, CStr255_AC("cafe")), IdOf(dir / "Cafe\xCC\x81"));
  EXPECT_EQ(FindFolderParID(root, CStr255_AC("cafe")), -1);
  EXPECT_EQ(FindFolderParID(root, CStr255_AC("ABC")), IdOf(dir / "ABC"));
  EXPECT_EQ(FindFolderParID(root, CStr255_AC("abc")), IdOf(dir / "abc"));
  EXPECT_EQ(FindFolderParID(root, CStr255_AC("file")), -1);
  EXPECT_EQ(FindFolderParID(root, CStr255_AC("none")), -1);
}

TEST(FolderLookup, CreatingFolders) {
  MessageCapture capture;
  TempDir dir;
  const FSSpec root = FolderSpec(dir.path());
  FSSpec made;
  ASSERT_EQ(createNewFolder(CStr255_AC("IMAGES FOLDER \xC6\x92"), root.vRefNum, root.parID, &made), noErr);
  EXPECT_TRUE(fs::is_directory(dir / "IMAGES FOLDER \xC6\x92"));
  EXPECT_EQ(static_cast<unsigned>(fs::status(dir / "IMAGES FOLDER \xC6\x92").permissions()) & 0777,
            0777u & ~host::ProcessUmask());
  EXPECT_EQ(made.parID, IdOf(dir / "IMAGES FOLDER \xC6\x92"));
  EXPECT_TRUE(IsExistingDirectory(made));
  FSSpec again;
  EXPECT_EQ(createNewFolder(CStr255_AC("IMAGES FOLDER \xC6\x92"), root.vRefNum, root.parID, &again), noErr);
  EXPECT_EQ(again.parID, made.parID);
  EXPECT_TRUE(capture.texts.empty());
  // No name makes no folder, and says so in its result too.
  EXPECT_EQ(createNewFolder(CStr255_AC(""), root.vRefNum, root.parID, &again), bdNamErr);
  EXPECT_EQ(again.parID, made.parID);
  EXPECT_EQ(capture.texts.back(), "createNewFolder => theName is nil");
  WriteText(dir / "plain", "x");
  FSSpec plainFile;
  ASSERT_EQ(host::FSMakeFSSpec(root.vRefNum, root.parID, "plain", &plainFile), noErr);
  EXPECT_FALSE(IsExistingDirectory(plainFile));
  EXPECT_EQ(createNewFolder(CStr255_AC("plain"), root.vRefNum, root.parID, &again), dupFNErr);

  // The usual form and the way back.
  FSSpec usual;
  ASSERT_EQ(GetFolderFSSpec(made.vRefNum, made.parID, &usual), noErr);
  EXPECT_EQ(usual.parID, root.parID);
  EXPECT_EQ(GetFolderDirID(usual), made.parID);
  FSSpec parent = made;
  EXPECT_EQ(GetParIDFromDirID(parent), root.parID);
  EXPECT_EQ(parent.name.ToUTF8(), "IMAGES FOLDER \xC6\x92");
}

TEST(FolderLookup, Existence) {
  TempDir dir;
  WriteText(dir / "x.jpg", "x");
  FSSpec spec = FolderSpec(dir.path());
  EXPECT_FALSE(IsExistingFile(spec));  // empty name
  spec.name = CStr63_AC("x.jpg");
  EXPECT_TRUE(IsExistingFile(spec));
  spec.name = CStr63_AC("y.jpg");
  EXPECT_FALSE(IsExistingFile(spec));
  EXPECT_EQ(GetSpecialNumberOfFiles(spec.vRefNum, spec.parID), 1);
  EXPECT_TRUE(UsedSpecialGetNumOfFiles());
  EXPECT_FALSE(IsExistingDirectory(static_cast<int16_t>(spec.vRefNum + 100), spec.parID));
}

TEST(FolderLookup, StoredFolderFoundAgainOnlyWithItsName) {
  MessageCapture capture;
  TempDir dir;
  fs::create_directories(dir / "Spool");
  fs::create_directories(dir / "Other");
  tmyFSSpec stored;
  ASSERT_EQ(host::MakeFSSpecFromPath(dir / "Spool", &stored.spec), noErr);
  CStr255_AC volume;
  ASSERT_EQ(GetVolumeNameFromVRefNum(volume, stored.spec.vRefNum), noErr);
  stored.volumeName = volume;
  int32_t id = IdOf(dir / "Spool");
  int16_t found = 0;
  EXPECT_TRUE(AttemptToFindFolder(stored.spec.vRefNum, id, stored, found));
  EXPECT_EQ(found, stored.spec.vRefNum);
  EXPECT_EQ(id, IdOf(dir / "Spool"));

  // The stored name is gone and the id now belongs to another folder: not found.
  tmyFSSpec moved = stored;
  moved.spec.name = CStr63_AC("Gone");
  int32_t otherID = IdOf(dir / "Other");
  EXPECT_FALSE(AttemptToFindFolder(moved.spec.vRefNum, otherID, moved, found));
  int32_t none = 0;
  EXPECT_FALSE(AttemptToFindFolder(-9999, none, stored, found));
  EXPECT_EQ(CheckIfVolumeNameAndVRefNumMatch(volume, stored.spec.vRefNum), noErr);
  EXPECT_EQ(CheckIfVolumeNameAndVRefNumMatch(CStr255_AC("no such volume"), stored.spec.vRefNum), -1);
  int16_t byName = 0;
  EXPECT_EQ(FindVolumeByName(volume, &byName), noErr);
  EXPECT_EQ(FindVolumeByName(CStr255_AC("no such volume \xC6\x92"), &byName), nsvErr);
  EXPECT_GT(getAvailableHardDiskSpace(stored.spec.vRefNum), 0u);
}

TEST(FolderLookup, DefaultFolderBesideTheApplication) {
  MessageCapture capture;
  TempDir dir;
  ::setenv("KIVO_APP_FOLDER", dir.path().c_str(), 1);
  std::vector<std::string> status;
  platform::SetStartupStatusHook([&](const CStr255_AC& s) { status.push_back(s.ToUTF8()); });
  tmyFSSpec spec;
  int16_t vRefNum = 0;
  int32_t dirID = 0;
  EXPECT_TRUE(AttemptToCreateDefaultFolder(true, vRefNum, dirID, &spec, CStr255_AC("UNKNOWN JOBS FOLDER \xC6\x92"),
                                           CStr255_AC("Unknown Jobs")));
  EXPECT_TRUE(fs::is_directory(dir / "UNKNOWN JOBS FOLDER \xC6\x92"));
  EXPECT_EQ(dirID, IdOf(dir / "UNKNOWN JOBS FOLDER \xC6\x92"));
  EXPECT_EQ(spec.spec.name.ToUTF8(), "UNKNOWN JOBS FOLDER \xC6\x92");
  EXPECT_EQ(status, std::vector<std::string>{"Creating Folder - UNKNOWN JOBS FOLDER \xC6\x92"});
  tmyFSSpec missing;
  missing.spec.name = CStr63_AC("Lost");
  EXPECT_FALSE(AttemptToCreateDefaultFolder(false, vRefNum, dirID, &missing, CStr255_AC("x"), CStr255_AC("Print Jobs")));
  EXPECT_EQ(capture.texts.back(), "Unable to Find Print Jobs:\r  Volume: Desktop\r  Folder: Lost");
  platform::SetStartupStatusHook({});
  ::unsetenv("KIVO_APP_FOLDER");
}

TEST(FolderLookup, PathsAndLongNames) {
  TempDir dir;
  const std::string longName(150, 'n');
  FSSpec folder = FolderSpec(dir.path());
  EXPECT_EQ(GetValidFileFSSpec(CStr255_AC(longName), folder, false, false), fnfErr);
  EXPECT_EQ(GetValidFileFSSpec(CStr255_AC(longName), folder, true, true), noErr);
  EXPECT_TRUE(fs::exists(dir / longName));
  EXPECT_EQ(GetFullFileName(folder).ToUTF8(), longName);
  EXPECT_EQ(FSSpecToNSStringPath(folder), dir / longName);
  const FSSpec back = NSStringFilePathToFSSpec(dir / longName);
  EXPECT_EQ(back, folder);
  const FSSpec nothing = NSStringFilePathToFSSpec(dir / "none/deeper");
  EXPECT_EQ(nothing.parID, 0);
}

}  // namespace
