#include "host/files/FileManager.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "host/files/CatalogInfo.h"
#include "common/TempDir.h"
#include "host/files/FileOps.h"

TEST(FileManager, SpecificationCallsCreateMoveRenameAndDelete) {
  TempDir dir;
  FSSpec root;
  ASSERT_EQ(host::MakeFolderSpecFromPath(dir.path(), &root), noErr);

  FSSpec folder;
  ASSERT_EQ(host::FSMakeFSSpec(root.vRefNum, root.parID, "All Files", &folder), fnfErr);
  int32_t allFiles = 0;
  ASSERT_EQ(host::FSpDirCreate(folder, 0777, &allFiles), noErr);
  EXPECT_EQ(host::FSpDirCreate(folder, 0777), dupFNErr);
  host::CatalogInfo info;
  ASSERT_EQ(host::GetDirCatInfo(root.vRefNum, allFiles, &info), noErr);
  EXPECT_EQ(info.path, dir / "All Files");
  EXPECT_EQ(info.mode & 0777, 0777u & ~host::ProcessUmask());

  FSSpec job;
  ASSERT_EQ(host::FSMakeFSSpec(root.vRefNum, root.parID, "job.trpr", &job), fnfErr);
  ASSERT_EQ(host::FSpCreate(job, FourCC("ZRVz"), FourCC("trpr")), noErr);
  EXPECT_EQ(host::FSpCreate(job, FourCC("ZRVz"), FourCC("trpr")), dupFNErr);
  host::FinderInfo finder;
  ASSERT_EQ(host::FSpGetFInfo(job, &finder), noErr);
  if (host::FinderInfoSupported(dir.path())) {
    EXPECT_EQ(finder.type, FourCC("trpr"));
  }

  ASSERT_EQ(host::FSpCatMove(job, root.vRefNum, allFiles), noErr);
  FSSpec moved;
  ASSERT_EQ(host::FSMakeFSSpec(root.vRefNum, allFiles, "job.trpr", &moved), noErr);
  WriteText(dir / "All Files/other.trpr", "");
  EXPECT_EQ(host::FSpRename(moved, "other.trpr"), dupFNErr);
  ASSERT_EQ(host::FSpRename(moved, "renamed.trpr"), noErr);
  ASSERT_EQ(host::FSMakeFSSpec(root.vRefNum, allFiles, "renamed.trpr", &moved), noErr);
  ASSERT_EQ(host::FSpDelete(moved), noErr);
  EXPECT_EQ(host::FSMakeFSSpec(root.vRefNum, allFiles, "renamed.trpr", &moved), fnfErr);
  EXPECT_EQ(host::FSpDelete(folder), fBsyErr);
  EXPECT_EQ(host::FlushVolume(root.vRefNum), noErr);
}
