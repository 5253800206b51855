// Shared set-up of the preferences window tests: one Qt application on the
// offscreen platform, a user-defaults file of the test's own, answers for
// the file dialogs and the modal windows, and helpers that work the controls
// as the operator would.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QComboBox>
#include <QLineEdit>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "host/sys/UserDefaults.h"
#include "host/ui/FileDialogs.h"
#include "host/ui/QtTestApp.h"
#include "host/ui/View.h"
#include "host/ui/ViewServer.h"
#include "prefs/PreferencePanels.h"
#include "prefs/PreferencesWindow.h"
#include "prefs/PrefStore.h"

namespace prefsui {

namespace fs = std::filesystem;

inline void EnsureFramework() {
  static bool done = false;
  if (done) return;
  done = true;
  kivotest::EnsureQtApp("test_prefs");
  // The window's view resources, as the application has them.
  host::AddViewResourceFolder(KIVO_APP_VIEWS);
  RegisterPreferencesClasses();
}

// Counts what the window asked of the application.
class RecordingServices : public TPrefsServices {
 public:
  int created = 0, created2 = 0;
  OSErr CreateImageAndJobFolders() override {
    ++created;
    return noErr;
  }
  OSErr CreateImageAndJobFolders2() override {
    ++created2;
    return noErr;
  }
};

class PrefsUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureFramework();
    char pattern[] = "/tmp/kivo-prefsui-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    defaults_ = std::make_unique<host::UserDefaults>(dir_ / "defaults.plist");
    SetPrefStoreDefaults(defaults_.get());
    mySetAllDefaults();
    gLastSelectedPreference = 1;
    folderAnswers_.clear();
    dialogRequests_.clear();
    host::SetFileDialogHook([this](const host::FileDialogRequest& r) -> std::optional<std::optional<host::FileDialogAnswer>> {
      dialogRequests_.push_back(r);
      if (folderAnswers_.empty()) return std::optional<host::FileDialogAnswer>();
      fs::path next = folderAnswers_.front();
      folderAnswers_.pop_front();
      if (next.empty()) return std::optional<host::FileDialogAnswer>();
      return std::optional<host::FileDialogAnswer>(host::FileDialogAnswer{next, 1});
    });
  }
  void TearDown() override {
    host::SetModalHook({});
    host::SetFileDialogHook({});
    SetPrefStoreDefaults(nullptr);
    QCoreApplication::processEvents();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Runs the preferences dialog: `drive` works the window, then it is
  // closed with `answer`. Nested modal windows are answered by `nested`.
  void RunDialog(const std::function<void(TPreferencesWindow&)>& drive, IDType answer,
                 const std::function<IDType(TWindow&)>& nested = {}) {
    host::SetModalHook([&](TWindow& w) -> IDType {
      if (auto* p = dynamic_cast<TPreferencesWindow*>(&w)) {
        drive(*p);
        return answer;
      }
      return nested ? nested(w) : kNoIdentifier;
    });
    ASSERT_TRUE(DoPreferencesDialog(services_));
    host::SetModalHook({});
    QCoreApplication::processEvents();
  }

  fs::path MakeFolder(const std::string& name) {
    fs::path p = dir_ / name;
    fs::create_directories(p);
    return p;
  }

  fs::path dir_;
  std::unique_ptr<host::UserDefaults> defaults_;
  RecordingServices services_;
  std::deque<fs::path> folderAnswers_;  // an empty path answers Cancel
  std::vector<host::FileDialogRequest> dialogRequests_;
};

// The operator's actions.
inline void ShowRow(TPreferencesWindow& w, int16_t row) {
  TToolboxEvent e;
  w.CategoryList()->DoMouseCommand(row, e);
}
inline TView* Find(TView& v, const char (&id)[5]) { return v.FindSubView(FourCC(id)); }
inline void Click(TView& v, const char (&id)[5]) {
  TView* c = Find(v, id);
  ASSERT_NE(c, nullptr) << id;
  if (auto* b = dynamic_cast<TButton*>(c)) {
    b->Press();
    return;
  }
  auto* button = qobject_cast<QAbstractButton*>(c->GetWidget());
  ASSERT_NE(button, nullptr) << id;
  button->click();
}
inline bool IsOn(TView& v, const char (&id)[5]) {
  auto* c = dynamic_cast<TCheckBox*>(Find(v, id));
  return c && c->IsOn();
}
inline void SetOn(TView& v, const char (&id)[5], bool on) {
  if (IsOn(v, id) != on) Click(v, id);
}
inline void Choose(TView& v, const char (&id)[5], int item) {
  auto* combo = qobject_cast<QComboBox*>(Find(v, id) ? Find(v, id)->GetWidget() : nullptr);
  ASSERT_NE(combo, nullptr) << id;
  combo->setCurrentIndex(item - 1);
  Q_EMIT combo->activated(item - 1);
}
inline void Type(TView& v, const char (&id)[5], const std::string& text) {
  auto* edit = qobject_cast<QLineEdit*>(Find(v, id) ? Find(v, id)->GetWidget() : nullptr);
  ASSERT_NE(edit, nullptr) << id;
  edit->setText(QString::fromStdString(text));
  Q_EMIT edit->editingFinished();
}
inline std::string TextOf(TView& v, const char (&id)[5]) {
  auto* t = dynamic_cast<TStaticText*>(Find(v, id));
  return t ? t->GetText().ToUTF8() : std::string("<none>");
}
inline bool Shown(TView& v, const char (&id)[5]) {
  TView* c = Find(v, id);
  return c && c->IsShown();
}

}  // namespace prefsui
