// The preferences window driven as an operator would, in the test process,
// on a station's stored user defaults.
#pragma once

#include <QCoreApplication>
#include <filesystem>
#include <functional>
#include <optional>

#include "host/sys/UserDefaults.h"
#include "host/ui/FileDialogs.h"
#include "host/ui/View.h"
#include "prefs/PrefStore.h"
#include "prefs/PreferencesWindow.h"

namespace e2e {

// Stores preferences before the program starts: the factory records,
// changed by `change`, in the defaults file `defaultsFile` it will read.
inline void WritePrefs(const std::filesystem::path& defaultsFile, const std::function<void()>& change) {
  host::UserDefaults defaults(defaultsFile);
  SetPrefStoreDefaults(&defaults);
  myNewReadPreferences();
  change();
  myNewSavePreferences();
  SetPrefStoreDefaults(nullptr);
}

// Preferences services that leave the spool tree alone: the program under
// test, not this process, owns it.
struct NoSpoolChanges : TPrefsServices {
  OSErr CreateImageAndJobFolders() override { return noErr; }
  OSErr CreateImageAndJobFolders2() override { return noErr; }
};

// Opens the preferences window on the user defaults in `defaultsFile`, lets
// `act` do what the operator does in it, and presses OK. A folder dialog is
// answered with `chosen`; `beforeClosing` runs while the store is still in
// use. What the dialog returned.
inline bool RunPreferencesDialog(const std::filesystem::path& defaultsFile,
                                 const std::function<void(TPreferencesWindow&)>& act,
                                 const std::optional<std::filesystem::path>& chosen = std::nullopt,
                                 const std::function<void()>& beforeClosing = {}) {
  host::UserDefaults store(defaultsFile);
  SetPrefStoreDefaults(&store);
  myNewReadPreferences();
  if (chosen)
    host::SetFileDialogHook([&](const host::FileDialogRequest&) -> std::optional<std::optional<host::FileDialogAnswer>> {
      return std::optional<host::FileDialogAnswer>(host::FileDialogAnswer{*chosen, 1});
    });
  host::SetModalHook([&](TWindow& w) -> IDType {
    auto* prefs = dynamic_cast<TPreferencesWindow*>(&w);
    if (!prefs) return kNoIdentifier;
    act(*prefs);
    return FourCC("ok  ");
  });
  NoSpoolChanges services;
  const bool answered = DoPreferencesDialog(services);
  QCoreApplication::processEvents();
  host::SetModalHook({});
  host::SetFileDialogHook({});
  if (beforeClosing) beforeClosing();
  SetPrefStoreDefaults(nullptr);
  return answered;
}

// The panel in row `row` of the category list.
inline TPreferencesView* ShowPanel(TPreferencesWindow& prefs, int16_t row) {
  TToolboxEvent e;
  prefs.CategoryList()->DoMouseCommand(row, e);
  return prefs.CurrentPanel();
}

}  // namespace e2e
