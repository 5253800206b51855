// The folder and save choosers, answered through the file-dialog hook.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/TempDir.h"
#include "host/files/FSSpec.h"
#include "host/ui/FileDialogs.h"
#include "platform/Choosers.h"
#include "platform/FolderLookup.h"
#include "platform/StringLists.h"

namespace fs = std::filesystem;

namespace {

class Choosers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    fs::create_directories(dir_ / "Start");
    fs::create_directories(dir_ / "Chosen");
    host::SetFileDialogHook([this](const host::FileDialogRequest& r) -> std::optional<std::optional<host::FileDialogAnswer>> {
      requests_.push_back(r);
      if (answer_.empty()) return std::optional<host::FileDialogAnswer>();
      return std::optional<host::FileDialogAnswer>(host::FileDialogAnswer{answer_, saveType_});
    });
  }
  void TearDown() override {
    host::SetFileDialogHook({});
    gOriginalExtension = CStr255_AC();
    setCurrentSaveAsType(1);
  }
  FSSpec FolderSpec(const std::string& name) {
    FSSpec spec;
    EXPECT_EQ(host::MakeFolderSpecFromPath(dir_ / name, &spec), noErr);
    return spec;
  }
  TempDir dir_;
  fs::path answer_;
  int saveType_ = 1;
  std::vector<host::FileDialogRequest> requests_;
};

TEST_F(Choosers, FolderChooserAnswersTheFoldersOwnID) {
  const FSSpec start = FolderSpec("Start");
  int16_t vRefNum = start.vRefNum;
  int32_t dirID = start.parID;
  answer_ = dir_ / "Chosen";
  ASSERT_TRUE(myChooseFolder(vRefNum, dirID, false, 23));
  EXPECT_EQ(dirID, FolderSpec("Chosen").parID);
  EXPECT_EQ(vRefNum, start.vRefNum);
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].kind, host::FileDialogKind::kChooseFolder);
  EXPECT_EQ(requests_[0].startFolder, fs::path(dir_ / "Start"));
  EXPECT_EQ(requests_[0].message, GetIndString(kPromptStrings, 23).ToUTF8());
  EXPECT_EQ(gDefaultFolderFSSpec.parID, start.parID);

  // Cancel leaves both untouched.
  answer_.clear();
  int16_t v = 3;
  int32_t d = 4;
  EXPECT_FALSE(myChooseFolder(v, d, true, 9));
  EXPECT_EQ(v, 3);
  EXPECT_EQ(d, 4);
  // A start folder that names nothing opens wherever the dialog likes.
  EXPECT_TRUE(requests_.back().startFolder.empty());
}

TEST_F(Choosers, SaveTypesKeepTheExtensionInStep) {
  EXPECT_EQ(RenameForSaveAsType(CStr255_AC("Photo.JPG"), 9).ToUTF8(), "Photo.PNG");
  EXPECT_EQ(RenameForSaveAsType(CStr255_AC("Photo.JPG"), 1).ToUTF8(), "Photo");
  EXPECT_EQ(RenameForSaveAsType(CStr255_AC("Photo.JPG"), -4).ToUTF8(), "Photo");
  gOriginalExtension = ".cr2";
  EXPECT_EQ(RenameForSaveAsType(CStr255_AC("Photo.JPG"), 0).ToUTF8(), "Photo.cr2");
  EXPECT_EQ(getExtensionStringForSaveAsType(6).ToUTF8(), ".TIF");
  EXPECT_EQ(getExtensionStringForSaveAsType(7).ToUTF8(), ".TARGA");
  EXPECT_TRUE(getExtensionStringForSaveAsType(10).IsEmpty());
}

TEST_F(Choosers, SaveChooserGivesTheTargetFolderAndName) {
  FSSpec spec = FolderSpec("Start");
  answer_ = fs::path(dir_ / "Chosen") / "Report.txt";
  ASSERT_EQ(MySaveFile(&spec, CStr255_AC("Counts.txt"), FourCC("TEXT"), CStr255_AC("Save the report")), noErr);
  EXPECT_EQ(spec.parID, FolderSpec("Chosen").parID);
  EXPECT_EQ(spec.name.ToUTF8(), "Report.txt");
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].defaultName, "Counts.txt");  // a text save keeps the caller's name
  EXPECT_TRUE(requests_[0].saveTypes.empty());
  EXPECT_EQ(requests_[0].message, GetIndString(kPromptStrings, 40).ToUTF8());

  // An image save offers the types, opens on the last one used and remembers the one picked.
  setCurrentSaveAsType(3);
  saveType_ = 9;
  answer_ = fs::path(dir_ / "Chosen") / std::string(80, 'n');
  ASSERT_EQ(MySaveFile(&spec, CStr255_AC(), FourCC("JPEG"), CStr255_AC("Save")), noErr);
  EXPECT_EQ(requests_[1].saveTypes.size(), 9u);
  EXPECT_EQ(requests_[1].initialSaveType, 3);
  EXPECT_EQ(requests_[1].defaultName, "Untitled.JPG");
  EXPECT_EQ(getCurrentSaveAsType(), 9);
  EXPECT_EQ(spec.name.Length(), 62u);
  ASSERT_TRUE(requests_[1].renameForType);
  EXPECT_EQ(requests_[1].renameForType(9, "Photo.JPG"), "Photo.PNG");

  answer_.clear();
  const FSSpec before = spec;
  EXPECT_EQ(MySaveFile(&spec, CStr255_AC(), FourCC("JPEG"), CStr255_AC("Save")), -1);
  EXPECT_EQ(spec, before);
}

}  // namespace
