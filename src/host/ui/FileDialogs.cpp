#include "host/ui/FileDialogs.h"

#include "host/ui/QtBridge.h"

#include <QFileDialog>
#include <QLineEdit>
#include <cstdio>
#include <memory>

#include "host/ui/View.h"

namespace host {

namespace {

FileDialogHook& Hook() {
  static FileDialogHook hook;
  return hook;
}

const char* KindName(FileDialogKind kind) {
  switch (kind) {
    case FileDialogKind::kChooseFolder: return "choose folder";
    case FileDialogKind::kOpenFile: return "open file";
    case FileDialogKind::kSaveFile: return "save file";
  }
  return "?";
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

QStringList NameFilters(const FileDialogRequest& r) {
  QStringList filters;
  if (!r.saveTypes.empty()) {
    for (const std::string& t : r.saveTypes) filters << Q(t);
    return filters;
  }
  if (!r.extensions.empty()) {
    QString patterns;
    for (const std::string& e : r.extensions) patterns += (patterns.isEmpty() ? "*." : " *.") + Q(e);
    filters << QString("%1 (%2)").arg(Q(r.extensions.front()), patterns);
  }
  return filters;
}

}  // namespace

void SetFileDialogHook(FileDialogHook hook) { Hook() = std::move(hook); }

QFileDialog* MakeFileDialog(const FileDialogRequest& r) {
  auto* dialog = new QFileDialog(nullptr, Q(r.title));
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  dialog->setLabelText(QFileDialog::LookIn, Q(r.message.empty() ? r.title : r.message));
  if (!r.startFolder.empty()) dialog->setDirectory(QString::fromStdString(r.startFolder.string()));
  switch (r.kind) {
    case FileDialogKind::kChooseFolder:
      dialog->setFileMode(QFileDialog::Directory);
      dialog->setOption(QFileDialog::ShowDirsOnly, true);
      dialog->setAcceptMode(QFileDialog::AcceptOpen);
      break;
    case FileDialogKind::kOpenFile:
      dialog->setFileMode(QFileDialog::ExistingFile);
      dialog->setAcceptMode(QFileDialog::AcceptOpen);
      break;
    case FileDialogKind::kSaveFile:
      dialog->setFileMode(QFileDialog::AnyFile);
      dialog->setAcceptMode(QFileDialog::AcceptSave);
      // Replacing a file is confirmed by the dialog itself.
      if (!r.defaultName.empty()) dialog->selectFile(Q(r.defaultName));
      if (r.saveTypes.empty() && !r.extensions.empty()) dialog->setDefaultSuffix(Q(r.extensions.front()));
      break;
  }
  const QStringList filters = NameFilters(r);
  if (!filters.isEmpty()) {
    dialog->setNameFilters(filters);
    const int initial = std::clamp(r.initialSaveType, 1, int(filters.size()));
    dialog->selectNameFilter(filters[initial - 1]);
  }
  if (r.kind == FileDialogKind::kSaveFile && !r.saveTypes.empty() && r.renameForType) {
    // Picking another type keeps the typed name in step with it.
    auto rename = r.renameForType;
    QObject::connect(dialog, &QFileDialog::filterSelected, dialog, [dialog, filters, rename](const QString& f) {
      const int type = int(filters.indexOf(f)) + 1;
      auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
      if (type < 1 || !edit) return;
      const std::string name = rename(type, edit->text().toStdString());
      edit->setText(Q(name));
    });
  }
  return dialog;
}

std::optional<FileDialogAnswer> AnswerOfFileDialog(const QFileDialog& dialog, const FileDialogRequest& r) {
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
  FileDialogAnswer answer;
  answer.path = std::filesystem::path(files.front().toStdString());
  if (!r.saveTypes.empty()) {
    const int index = int(NameFilters(r).indexOf(dialog.selectedNameFilter()));
    answer.saveType = index >= 0 ? index + 1 : 1;
  }
  return answer;
}

std::optional<FileDialogAnswer> RunFileDialog(const FileDialogRequest& r) {
  if (auto& hook = Hook()) {
    if (auto answered = hook(r)) return *answered;
  }
  if (IsUnattended()) {
    std::fprintf(stderr, "File dialog (%s) \"%s\": no display, answered Cancel\n", KindName(r.kind),
                 r.title.empty() ? r.message.c_str() : r.title.c_str());
    return std::nullopt;
  }
  std::unique_ptr<QFileDialog> dialog(MakeFileDialog(r));
  dialog->setWindowModality(Qt::ApplicationModal);
  // Once the system asks the program to end, the dialog is cancelled.
  QFileDialog* d = dialog.get();
  ui::EndOnTermination(*d, [d] { d->reject(); });
  if (dialog->exec() != QDialog::Accepted) return std::nullopt;
  return AnswerOfFileDialog(*dialog, r);
}

}  // namespace host
