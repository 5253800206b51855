#include "host/files/FSSpec.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "host/files/CatalogInfo.h"
#include "host/files/FileErrors.h"
#include "common/TempDir.h"

TEST(FSSpec, FolderWithEmptyNameResolvesToTheFolder) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string folder = dir / "Kivo-Processor Folder ƒ";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);

  FSSpec folderSpec;
  ASSERT_EQ(host::MakeFolderSpecFromPath(folder, &folderSpec), noErr);
  EXPECT_TRUE(folderSpec.name.IsEmpty());
  EXPECT_NE(folderSpec.parID, fsRtDirID);
  std::string path;
  ASSERT_EQ(host::GetPathOfFSSpec(folderSpec, &path), noErr);
  EXPECT_EQ(path, folder);

  // The usual form names the folder by its parent and its Mac Roman name.
  FSSpec usual;
  ASSERT_EQ(host::FSMakeFSSpec(folderSpec.vRefNum, folderSpec.parID, "", &usual), noErr);
  EXPECT_EQ(usual.name.ToUTF8(), "Kivo-Processor Folder ƒ");
  EXPECT_EQ(usual.name[usual.name.Length()], 0xC4);
  FSSpec parent;
  ASSERT_EQ(host::MakeFolderSpecFromPath(dir.path(), &parent), noErr);
  EXPECT_EQ(usual.parID, parent.parID);
  ASSERT_EQ(host::GetPathOfFSSpec(usual, &path), noErr);
  EXPECT_EQ(path, folder);

  // Ids are stable within the process.
  FSSpec again;
  ASSERT_EQ(host::MakeFolderSpecFromPath(folder + "/", &again), noErr);
  EXPECT_EQ(again, folderSpec);
}

TEST(FSSpec, MakeFSSpecReportsMissingItemsAndFolders) {
  TempDir dir;
  WriteText(dir / "job.trpr", "x");
  FSSpec folder;
  ASSERT_EQ(host::MakeFolderSpecFromPath(dir.path(), &folder), noErr);
  FSSpec spec;
  EXPECT_EQ(host::FSMakeFSSpec(folder.vRefNum, folder.parID, "job.trpr", &spec), noErr);
  EXPECT_EQ(spec.parID, folder.parID);
  EXPECT_EQ(host::FSMakeFSSpec(folder.vRefNum, folder.parID, "missing", &spec), fnfErr);
  EXPECT_EQ(spec.name.ToUTF8(), "missing");
  FSRef ref;
  EXPECT_EQ(host::FSpMakeFSRef(spec, &ref), fnfErr);
  EXPECT_EQ(host::FSMakeFSSpec(folder.vRefNum, 7777777, "job.trpr", &spec), dirNFErr);
  EXPECT_EQ(host::FSMakeFSSpec(kNoVolume, kNoDirectory, "job.trpr", &spec), nsvErr);

  // A folder that is removed loses its id rather than naming something else.
  const std::string sub = dir / "sub";
  ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
  FSSpec subSpec;
  ASSERT_EQ(host::MakeFolderSpecFromPath(sub, &subSpec), noErr);
  ASSERT_EQ(::rmdir(sub.c_str()), 0);
  std::string path;
  EXPECT_EQ(host::GetPathOfFSSpec(subSpec, &path), dirNFErr);
}

TEST(FSSpec, NamesCannotLeaveTheirFolder) {
  TempDir dir;
  FSSpec folder;
  ASSERT_EQ(host::MakeFolderSpecFromPath(dir.path(), &folder), noErr);
  FSSpec spec;
  EXPECT_EQ(host::FSMakeFSSpec(folder.vRefNum, folder.parID, "..", &spec), bdNamErr);
  EXPECT_EQ(host::FSMakeFSSpec(folder.vRefNum, folder.parID, "a:b", &spec), bdNamErr);
  spec = folder;
  spec.name.AssignMacRoman("..");
  std::string path;
  EXPECT_EQ(host::GetPathOfFSSpec(spec, &path), bdNamErr);

  // A "/" in a Mac name is ":" on disk, and back.
  ASSERT_EQ(host::FSMakeFSSpec(folder.vRefNum, folder.parID, "12/05/2026", &spec), fnfErr);
  ASSERT_EQ(host::GetPathOfFSSpec(spec, &path), noErr);
  EXPECT_EQ(path, dir / "12:05:2026");
  WriteText(path, "");
  ASSERT_EQ(host::MakeFSSpecFromPath(path, &spec), noErr);
  EXPECT_EQ(spec.name.ToMacRoman(), "12/05/2026");
}

TEST(FSSpec, LongAndForeignNamesGetStandInNames) {
  TempDir dir;
  const std::string longName = std::string(80, 'n') + ".jpg";
  const std::string foreign = "写真.png";
  WriteText(dir / longName, "long");
  WriteText(dir / foreign, "foreign");
  for (const std::string& name : {longName, foreign}) {
    FSSpec spec;
    ASSERT_EQ(host::MakeFSSpecFromPath(dir / name, &spec), noErr) << name;
    EXPECT_LE(spec.name.Length(), 63u);
    std::string path;
    ASSERT_EQ(host::GetPathOfFSSpec(spec, &path), noErr);
    EXPECT_EQ(path, dir / name);
  }
  FSSpec spec;
  ASSERT_EQ(host::MakeFSSpecFromPath(dir / longName, &spec), noErr);
  EXPECT_EQ(spec.name.ToUTF8().substr(spec.name.Length() - 4), ".jpg");
}

TEST(FSSpec, StoredFormIsSeventyBigEndianBytes) {
  FSSpec spec;
  spec.vRefNum = -100;
  spec.parID = 0x01020304;
  spec.name.AssignUTF8("Print Log File");
  uint8_t buf[FSSpec::kStoredSize];
  spec.EncodeBE(buf);
  EXPECT_EQ(buf[0], 0xFF);
  EXPECT_EQ(buf[1], 0x9C);
  EXPECT_EQ(buf[2], 0x01);
  EXPECT_EQ(buf[5], 0x04);
  EXPECT_EQ(buf[6], 14);
  EXPECT_EQ(buf[7], 'P');
  EXPECT_EQ(FSSpec::DecodeBE(buf), spec);
}

TEST(FSSpec, VolumesAreNumberedAndLabelled) {
  int16_t v = 0;
  ASSERT_EQ(host::GetVolumeForPath("/dev/shm", &v), noErr);
  host::VolumeInfo info;
  ASSERT_EQ(host::GetVolumeInfo(v, &info), noErr);
  EXPECT_EQ(info.mountPoint, "/dev/shm");
  EXPECT_EQ(info.label, "shm");
  EXPECT_EQ(host::GetVolumeInfo(12345, &info), nsvErr);
  int count = 0;
  while (host::GetIndexedVolume(count + 1, &info) == noErr) ++count;
  EXPECT_GE(count, 1);
  FSSpec root;
  ASSERT_EQ(host::MakeFSSpecFromPath("/dev/shm", &root), noErr);
  EXPECT_EQ(root.parID, fsRtParID);
  std::string path;
  ASSERT_EQ(host::GetPathOfFSSpec(root, &path), noErr);
  EXPECT_EQ(path, "/dev/shm");
}

TEST(FileErrors, ErrnoValuesMapToResultCodes) {
  EXPECT_EQ(host::OSErrFromErrno(0), noErr);
  EXPECT_EQ(host::OSErrFromErrno(ENOENT), fnfErr);
  EXPECT_EQ(host::OSErrFromErrno(EEXIST), dupFNErr);
  EXPECT_EQ(host::OSErrFromErrno(ENOSPC), dskFulErr);
  EXPECT_EQ(host::OSErrFromErrno(EACCES), permErr);
  EXPECT_EQ(host::OSErrFromErrno(EROFS), wPrErr);
  EXPECT_EQ(host::OSErrFromErrno(EINVAL), paramErr);
  EXPECT_EQ(host::OSErrFromErrno(EHOSTDOWN), ioErr);
}

TEST(FSSpec, ANewFolderNeverInheritsTheIdOfARemovedOne) {
  TempDir dir("/dev/shm");
  ASSERT_TRUE(dir.ok());
  for (int round = 0; round < 5; ++round) {
    ASSERT_EQ(::mkdir((dir / "A").c_str(), 0755), 0);
    FSSpec a;
    ASSERT_EQ(host::MakeFolderSpecFromPath(dir / "A", &a), noErr);
    ASSERT_EQ(::rmdir((dir / "A").c_str()), 0);
    ASSERT_EQ(::mkdir((dir / "B").c_str(), 0755), 0);
    FSSpec b;
    ASSERT_EQ(host::MakeFolderSpecFromPath(dir / "B", &b), noErr);
    EXPECT_NE(a.parID, b.parID);
    std::string path;
    EXPECT_EQ(host::GetPathOfFSSpec(a, &path), dirNFErr);
    ASSERT_EQ(::rmdir((dir / "B").c_str()), 0);
  }
}
