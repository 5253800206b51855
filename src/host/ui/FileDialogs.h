// File dialogs: choosing a folder, choosing a file to open, and naming a
// file to save, on Qt's own (non-native) file dialog so that they behave the
// same on every desktop and can be driven on the offscreen platform.
//
// With no display (host::IsUnattended) a dialog is not shown: it is logged
// and answered as cancelled at once, so an unattended processor never waits
// on a dialog it opened itself. Tests and scripted runs answer through
// SetFileDialogHook, which sees every request first.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QFileDialog;

namespace host {

enum class FileDialogKind { kChooseFolder, kOpenFile, kSaveFile };

struct FileDialogRequest {
  FileDialogKind kind = FileDialogKind::kChooseFolder;
  std::string title;    // window title (UTF-8)
  std::string message;  // the prompt shown above the list (UTF-8)
  std::filesystem::path startFolder;  // where the dialog opens; empty = Qt's default
  std::string defaultName;            // name field of a save dialog
  // File types offered, as extensions without the dot ("plist"); empty = all.
  // A save dialog adds the first one to a typed name that has none.
  std::vector<std::string> extensions;
  // Save dialogs only: named types the operator may pick from (the first is
  // type 1), the type chosen at first (1-based), and how the typed name
  // changes when another type is picked.
  std::vector<std::string> saveTypes;
  int initialSaveType = 1;
  std::function<std::string(int type, const std::string& name)> renameForType;
};

struct FileDialogAnswer {
  std::filesystem::path path;  // the chosen folder or file
  int saveType = 1;            // save dialogs with types: the type picked
};

// Runs the dialog; nothing when it was cancelled (or could not be shown).
std::optional<FileDialogAnswer> RunFileDialog(const FileDialogRequest& request);

// The hook gets every request first. It returns the dialog's result (an
// answer, or nothing for "cancelled"), or nothing at all to let the dialog
// run as usual.
using FileDialogHook = std::function<std::optional<std::optional<FileDialogAnswer>>(const FileDialogRequest&)>;
void SetFileDialogHook(FileDialogHook hook);

// The configured Qt dialog for a request, not yet shown, owned by the caller
// (RunFileDialog uses it; tests drive it directly).
QFileDialog* MakeFileDialog(const FileDialogRequest& request);
// The answer a finished (accepted) dialog of that request gives.
std::optional<FileDialogAnswer> AnswerOfFileDialog(const QFileDialog& dialog, const FileDialogRequest& request);

}  // namespace host
