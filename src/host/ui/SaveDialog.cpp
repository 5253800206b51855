#include "host/ui/SaveDialog.h"

#include <QFileDialog>
#include <QGuiApplication>

#include "host/ui/View.h"

namespace host {

std::optional<std::string> ChooseSaveFile(const std::string& title, const std::string& folder,
                                          const std::string& defaultName) {
  if (IsUnattended()) return std::nullopt;
  const QString start = QString::fromStdString(folder.empty() ? defaultName : folder + "/" + defaultName);
  const QString chosen = QFileDialog::getSaveFileName(nullptr, QString::fromStdString(title), start);
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

bool AnyModifierKeyDown() {
  if (IsUnattended()) return false;
  const Qt::KeyboardModifiers m = QGuiApplication::queryKeyboardModifiers();
  return (m & (Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier | Qt::ControlModifier)) != 0;
}

}  // namespace host
