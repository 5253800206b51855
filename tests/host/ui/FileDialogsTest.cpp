// The Qt file dialogs as the choosers configure them, driven on the
// offscreen platform, and their unattended answer.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <filesystem>
#include <memory>

#include "UiTestSupport.h"
#include "host/ui/FileDialogs.h"

namespace fs = std::filesystem;

namespace {

struct ScratchFolder {
  ScratchFolder() {
    char pattern[] = "/tmp/kivo-dialogs-XXXXXX";
    path = mkdtemp(pattern);
    fs::create_directories(path / "Inner");
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

TEST(FileDialogs, SaveDialogRenamesWithTheTypeAndAnswersPathAndType) {
  uitest::EnsureFramework();
  ScratchFolder dir;
  host::FileDialogRequest r;
  r.kind = host::FileDialogKind::kSaveFile;
  r.title = "Save";
  r.startFolder = dir.path;
  r.defaultName = "Untitled.JPG";
  r.saveTypes = {"Original", "TIFF (*.TIF)", "JPEG (*.JPG)"};
  r.initialSaveType = 3;
  r.renameForType = [](int type, const std::string& name) {
    return name.substr(0, name.find('.')) + (type == 2 ? ".TIF" : "");
  };
  std::unique_ptr<QFileDialog> dialog(host::MakeFileDialog(r));
  EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
  EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(dialog->selectedNameFilter().toStdString(), "JPEG (*.JPG)");
  auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(name, nullptr);
  dialog->selectNameFilter("TIFF (*.TIF)");
  Q_EMIT dialog->filterSelected("TIFF (*.TIF)");
  EXPECT_EQ(name->text().toStdString(), "Untitled.TIF");
  dialog->selectFile(QString::fromStdString((dir.path / "Photo.TIF").string()));
  auto answer = host::AnswerOfFileDialog(*dialog, r);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->path, dir.path / "Photo.TIF");
  EXPECT_EQ(answer->saveType, 2);
}

TEST(FileDialogs, FolderDialogShowsFoldersOnly) {
  uitest::EnsureFramework();
  ScratchFolder dir;
  host::FileDialogRequest r;
  r.kind = host::FileDialogKind::kChooseFolder;
  r.message = "Choose the output folder:";
  r.startFolder = dir.path;
  std::unique_ptr<QFileDialog> dialog(host::MakeFileDialog(r));
  EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
  EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
  EXPECT_EQ(fs::path(dialog->directory().absolutePath().toStdString()), dir.path);
  EXPECT_EQ(dialog->labelText(QFileDialog::LookIn).toStdString(), "Choose the output folder:");
}

TEST(FileDialogs, UnattendedDialogsAnswerCancelAtOnceAndTheHookComesFirst) {
  uitest::EnsureFramework();
  ASSERT_TRUE(host::IsUnattended());
  host::FileDialogRequest r;
  r.kind = host::FileDialogKind::kOpenFile;
  EXPECT_FALSE(host::RunFileDialog(r));
  int asked = 0;
  host::SetFileDialogHook([&](const host::FileDialogRequest&) -> std::optional<std::optional<host::FileDialogAnswer>> {
    ++asked;
    return std::optional<host::FileDialogAnswer>(host::FileDialogAnswer{"/tmp/x.plist", 1});
  });
  auto answer = host::RunFileDialog(r);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->path, fs::path("/tmp/x.plist"));
  host::SetFileDialogHook([&](const host::FileDialogRequest&) -> std::optional<std::optional<host::FileDialogAnswer>> {
    ++asked;
    return std::nullopt;  // not answered: the usual (unattended) answer
  });
  EXPECT_FALSE(host::RunFileDialog(r));
  EXPECT_EQ(asked, 2);
  host::SetFileDialogHook({});
}

}  // namespace
