#include "host/files/File.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "host/files/Alias.h"
#include "host/files/FileStream.h"
#include "host/files/FileOps.h"
#include "host/files/FinderInfo.h"
#include "common/TempDir.h"

TEST(File, CreateWriteReadPositionAndClose) {
  TempDir dir;
  FSSpec folder;
  ASSERT_EQ(host::MakeFolderSpecFromPath(dir.path(), &folder), noErr);
  FSSpec spec;
  ASSERT_EQ(host::FSMakeFSSpec(folder.vRefNum, folder.parID, "Print Log File", &spec), fnfErr);

  std::unique_ptr<TFile> file(DoMakeFile(0));
  ASSERT_EQ(file->Specify(spec), noErr);
  EXPECT_FALSE(file->Exists());
  EXPECT_EQ(file->OpenFile(), fnfErr);
  file->SetCreationMode(0777);
  file->SetFileType(FourCC("TEXT"));
  file->SetFileCreator(FourCC("ZRVb"));
  ASSERT_EQ(file->CreateFile(), noErr);
  EXPECT_EQ(file->CreateFile(), dupFNErr);
  struct stat st;
  ASSERT_EQ(::stat((dir / "Print Log File").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0777u & ~host::ProcessUmask());
  if (host::FinderInfoSupported(dir.path())) {
    OSType creator = 0;
    ASSERT_EQ(file->GetFileCreator(&creator), noErr);
    EXPECT_EQ(creator, FourCC("ZRVb"));
  }

  ASSERT_EQ(file->OpenFile(), noErr);
  int64_t n = 11;
  ASSERT_EQ(file->WriteData("hello world", n), noErr);
  EXPECT_EQ(n, 11);
  int64_t length = 0;
  ASSERT_EQ(file->GetDataLength(length), noErr);
  EXPECT_EQ(length, 11);
  ASSERT_EQ(file->SetDataMark(6), noErr);
  char buf[16] = {};
  n = 10;
  EXPECT_EQ(file->ReadData(buf, n), eofErr);
  EXPECT_EQ(n, 5);
  EXPECT_STREQ(buf, "world");
  EXPECT_EQ(file->SetDataMark(-5, fsFromLEOF), noErr);
  int64_t mark = 0;
  ASSERT_EQ(file->GetDataMark(mark), noErr);
  EXPECT_EQ(mark, 6);
  EXPECT_EQ(file->SetDataMark(50), eofErr);
  EXPECT_EQ(file->SetDataMark(-1), posErr);
  ASSERT_EQ(file->SetDataLength(5), noErr);
  ASSERT_EQ(file->CloseFile(), noErr);
  EXPECT_EQ(ReadText(dir / "Print Log File"), "hello");
  n = 1;
  EXPECT_EQ(file->ReadData(buf, n), rfNumErr);

  // Renaming never replaces, and the file specification follows the file.
  WriteText(dir / "taken", "keep");
  EXPECT_EQ(file->RenameFile("taken"), dupFNErr);
  ASSERT_EQ(file->RenameFile("Print Log 2"), noErr);
  EXPECT_EQ(file->GetFileSpec().name.ToUTF8(), "Print Log 2");
  EXPECT_EQ(ReadText(dir / "Print Log 2"), "hello");
  ASSERT_EQ(file->DeleteFile(), noErr);
  EXPECT_FALSE(file->Exists());
}

TEST(File, StreamOverAFileReadsLittleEndianAndStopsAtTheEnd) {
  TempDir dir;
  TFile file;
  ASSERT_EQ(file.SpecifyWithPath(dir / "Kivo-Processor Count"), noErr);
  ASSERT_EQ(file.CreateFile(), noErr);
  ASSERT_EQ(file.OpenFile(), noErr);
  {
    CFileStream_AC out(&file);
    out.AddLittleEndianFilter();
    out.WriteInt32(9904);
    out.WriteInt16(-3);
    out.WritePascalString(CStr31_AC("ƒ"));
  }
  ASSERT_EQ(file.SetDataMark(0), noErr);
  CFileStream_AC in(&file);
  EXPECT_EQ(in.GetLength(), 8u);
  EXPECT_EQ(in.ReadUInt32BE(), 0xB0260000u);
  in.SetPosition(0);
  in.AddLittleEndianFilter();
  EXPECT_EQ(in.ReadInt32(), 9904);
  EXPECT_EQ(in.ReadInt16(), -3);
  CStr31_AC s;
  in.ReadPascalString(s);
  EXPECT_EQ(s.ToUTF8(), "ƒ");
  EXPECT_EQ(host::CatchToOSErr([&] { in.ReadUInt8(); }), eofErr);
  EXPECT_EQ(host::CatchToOSErr([&] { in.SetPosition(9); }), eofErr);
}

TEST(Alias, ResolvesByPathThenByVolumeLabel) {
  TempDir shm("/dev/shm");
  ASSERT_TRUE(shm.ok());
  ::mkdir((shm / "PRINT JOBS FOLDER ƒ").c_str(), 0755);
  host::AliasRecord alias;
  ASSERT_EQ(host::NewAlias(shm / "PRINT JOBS FOLDER ƒ", &alias), noErr);
  EXPECT_EQ(alias.volumeLabel, "shm");
  EXPECT_EQ(alias.relativePath, host::LastPathName(shm.path()) + "/PRINT JOBS FOLDER ƒ");

  const std::vector<uint8_t> stored = alias.Encode();
  host::AliasRecord back;
  ASSERT_EQ(host::AliasRecord::Decode(stored.data(), stored.size(), &back), noErr);
  EXPECT_EQ(back, alias);
  for (size_t len = 0; len < stored.size(); ++len) {
    EXPECT_EQ(host::AliasRecord::Decode(stored.data(), len, &back), paramErr) << len;
  }

  std::string path;
  bool changed = true;
  ASSERT_EQ(host::ResolveAlias(alias, &path, &changed), noErr);
  EXPECT_EQ(path, shm / "PRINT JOBS FOLDER ƒ");
  EXPECT_FALSE(changed);

  // The volume mounted elsewhere: found under the mount with the same label.
  host::AliasRecord moved = alias;
  moved.path = "/media/old-mount/" + alias.relativePath;
  ASSERT_EQ(host::ResolveAlias(moved, &path, &changed), noErr);
  EXPECT_EQ(path, shm / "PRINT JOBS FOLDER ƒ");
  EXPECT_TRUE(changed);

  TFile file;
  ASSERT_EQ(file.SpecifyWithAlias(moved), noErr);
  EXPECT_EQ(file.GetPath(), shm / "PRINT JOBS FOLDER ƒ");

  moved.volumeLabel = "another-volume";
  EXPECT_EQ(host::ResolveAlias(moved, &path), fnfErr);
  moved.volumeLabel = "shm";
  moved.relativePath = "../etc";
  const std::vector<uint8_t> escaping = moved.Encode();
  EXPECT_EQ(host::AliasRecord::Decode(escaping.data(), escaping.size(), &back), paramErr);
}
