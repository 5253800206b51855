// Views and windows from view resources. A view resource is a Qt Designer
// .ui file named by its number ("1001.ui") in one of the resource folders:
// plain folders or Qt resource prefixes (":/views"), searched last-added
// first, so a program's own folder can override a shared one.
//
// Each <widget> becomes a view of the class its "class" attribute names: a
// class registered with RegisterViewClass (the program's own TView
// subclasses), else the framework class for the Qt class (QLabel static
// text, QLineEdit edit text, QCheckBox, QRadioButton, QGroupBox cluster,
// QComboBox popup, QPushButton, QListView/QListWidget text list,
// QProgressBar, QWidget plain view). A custom class that is not registered
// falls back to the class its <customwidget> entry extends. The object name
// gives the four-character identifier ("stat", "ok" = 'ok  '). Views are
// placed by their "geometry"; vertical, horizontal and grid layouts are
// honoured too. A top-level QMainWindow with a QMenuBar child gets the
// application's menu bar. Push buttons with the boolean property
// "dismisses" (or named "ok"/"canc") end a modal dialog.
#pragma once

#include <functional>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/ui/View.h"

namespace host {

using ViewFactory = std::function<std::unique_ptr<TView>()>;

// Registers a class by name so that view resources can create it.
void RegisterViewClass(const std::string& className, ViewFactory factory);
template <class T>
void RegisterViewClass(const std::string& className) {
  RegisterViewClass(className, [] { return std::make_unique<T>(); });
}

// Whether a view resource can name the class (the program's own classes and
// the framework's).
bool IsViewClassRegistered(const std::string& className);

void AddViewResourceFolder(const std::string& folderOrPrefix);
void ClearViewResourceFolders();
// Path of resource `id`, or empty when no folder holds it.
std::string FindViewResource(int16_t id);
// Path of the resource named "<name>.ui" (a window controller's own
// resource), or empty.
std::string FindViewResource(const std::string& name);
// The bytes of the program's resource file "<name>.<type>" in the same
// folders (property lists and images that ship with the program); none
// when no folder holds it.
std::optional<std::vector<uint8_t>> GetBundleResource(const std::string& name, const std::string& type);
// Picture resource `id` ("<id>.png" in the same folders) as a new
// offscreen, or none.
std::unique_ptr<GWorld> GetPictureResource(int16_t id);

}  // namespace host

// A window from view resource `id`, in the framework's window list (closed
// and freed by TWindow::Close), not yet shown. None, with a line on standard
// error, when the resource is missing or malformed.
TWindow* NewTemplateWindow(int16_t id);
// The same for the resource named "<name>.ui".
TWindow* NewTemplateWindow(const std::string& name);

// The views of resource `id`: inside `superView` when given (the result then
// points at the new view, which the super view owns, and the returned handle
// is empty), otherwise as a free view tree that the caller owns. The second
// form is how views that are never shown (a job's page view) are made.
std::unique_ptr<TView> DoCreateViews(int16_t id, TView* superView = nullptr, TView** created = nullptr);
