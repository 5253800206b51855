// An import answered "Later" leaves the program running on the settings it
// held; the preferences window opened afterwards shows what was imported,
// and its OK saves that, never the older settings over it. Once offscreen,
// with the dialogs answered by hooks, and once on a real X server (the
// suite's own Xvfb run, test_prefs_x11), where the "Later" and OK buttons
// shown on the screen are clicked.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <chrono>

#include "PrefsUiSupport.h"
#include "host/sys/PropertyList.h"
#include "host/ui/Alerts.h"
#include "prefs/PrefExport.h"

using namespace prefsui;

namespace {

// Set 1 writes PNG files and output files are of quality 85 in the file
// imported; the store and the running program hold the factory settings.
class ImportThenLater : public PrefsUiTest {
 protected:
  void SetUp() override {
    PrefsUiTest::SetUp();
    getMyPrintToFileSetPrefs(1)->fileFormat = kFormatPNG;
    getMyOutputFilePrefs()->jpegQuality = 85;
    ASSERT_TRUE(myNewSavePreferences());
    imported_ = dir_ / "imported.plist";
    ASSERT_TRUE(SaveToNewPreferencesFile(imported_));
    mySetAllDefaults();
    ASSERT_TRUE(myNewSavePreferences());
    myNewReadPreferences();  // as the program read them at its start
    ASSERT_EQ(getMyOutputFilePrefs()->jpegQuality, 50);
  }
  void TearDown() override {
    host::SetAlertHook({});
    PrefsUiTest::TearDown();
  }

  // What the store holds now, as a fresh start would read it.
  void ExpectStoredImport() {
    host::UserDefaults reread(defaults_->file());
    const auto quality = reread.getData(kOutputFilesPrefKey);
    ASSERT_TRUE(quality);
    EXPECT_EQ(DecodeOutputFileBlob(*quality)->jpegQuality, 85);
    const auto set = reread.getData(PrintToFileSetKey(1));
    ASSERT_TRUE(set);
    EXPECT_EQ(DecodePrintToFileSetBlob(*set, 1)->fileFormat, kFormatPNG);
  }

  fs::path imported_;
};

TEST_F(ImportThenLater, OkInThePreferencesWindowKeepsWhatWasImported) {
  folderAnswers_ = {imported_};
  int shown = 0;
  host::SetAlertHook([&](int16_t id, const std::string&) -> int16_t {
    shown = id;
    return 2;  // Later
  });
  EXPECT_FALSE(ImportPreferencesAndTell());
  EXPECT_EQ(shown, 1025);
  // The program keeps running on what it held.
  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 50);
  EXPECT_EQ(getMyPrintToFileSetPrefs(1)->fileFormat, kFormatJPEG);
  ExpectStoredImport();

  // The window shows the import; an edit made in it is saved with it.
  std::string qualityShown;
  RunDialog(
      [&](TPreferencesWindow& w) {
        ShowRow(w, 5);
        qualityShown = TextOf(*w.CurrentPanel(), "qual");
        ShowRow(w, 1);
        SetOn(*w.CurrentPanel(), "dljf", false);  // keep job files
      },
      FourCC("ok  "));
  EXPECT_EQ(qualityShown, "85");
  ExpectStoredImport();
  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 85);
  EXPECT_EQ(getMyPrintToFileSetPrefs(1)->fileFormat, kFormatPNG);
  host::UserDefaults reread(defaults_->file());
  EXPECT_EQ(DecodePrintServerBlob(*reread.getData(kPrintServerPrefKey))->keepJobFiles, 1) << "the edit is saved too";

  // Read again, the window shows the records as they are, not the store.
  getMyOutputFilePrefs()->jpegQuality = 60;
  RunDialog([&](TPreferencesWindow& w) { ShowRow(w, 5); qualityShown = TextOf(*w.CurrentPanel(), "qual"); },
            FourCC("canc"));
  EXPECT_EQ(qualityShown, "60");
}

TEST_F(ImportThenLater, CancelInThePreferencesWindowLeavesTheImportStored) {
  folderAnswers_ = {imported_};
  host::SetAlertHook([](int16_t, const std::string&) -> int16_t { return 2; });
  EXPECT_FALSE(ImportPreferencesAndTell());
  RunDialog([](TPreferencesWindow& w) { ShowRow(w, 5); }, FourCC("canc"));
  ExpectStoredImport();
}

// Clicks the button titled `title` of the modal window the screen shows
// next, once it is on the screen, after `before` has looked at it; gives up
// after a minute, closing that window, so that a test never waits for ever.
class ClickWhenShown {
 public:
  explicit ClickWhenShown(QString title, std::function<void()> before = {}) : state_(std::make_shared<State>()) {
    state_->title = std::move(title);
    state_->before = std::move(before);
    state_->end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    Poll(state_);
  }
  bool clicked() const { return state_->clicked; }

 private:
  struct State {
    QString title;
    std::function<void()> before;
    std::chrono::steady_clock::time_point end;
    bool clicked = false;
  };
  // A pending poll holds the state only weakly: once the object is gone,
  // nothing more is clicked.
  static void Poll(const std::shared_ptr<State>& state) {
    QTimer::singleShot(20, [weak = std::weak_ptr<State>(state)] {
      auto s = weak.lock();
      if (!s || s->clicked) return;
      QWidget* modal = QApplication::activeModalWidget();
      if (modal && modal->isVisible() && modal->windowHandle() && modal->windowHandle()->isExposed()) {
        for (QAbstractButton* b : modal->findChildren<QAbstractButton*>())
          if (b->isVisible() && b->isEnabled() && b->text() == s->title) {
            if (s->before) s->before();
            s->clicked = true;
            QTest::mouseClick(b, Qt::LeftButton);
            return;
          }
      }
      if (std::chrono::steady_clock::now() > s->end) {
        if (modal) modal->close();
        return;
      }
      Poll(s);
    });
  }
  std::shared_ptr<State> state_;
};

TEST_F(ImportThenLater, OnScreenClickingLaterThenOkKeepsTheImport) {
  if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server (the test_prefs_x11 run)";
  folderAnswers_ = {imported_};
  bool imported = true;
  {
    ClickWhenShown later(QStringLiteral("Later"));
    imported = ImportPreferencesAndTell();
    EXPECT_TRUE(later.clicked());
  }
  EXPECT_FALSE(imported) << "Later does not quit";
  EXPECT_EQ(getMyOutputFilePrefs()->jpegQuality, 50);

  // The preferences window, on the screen, with the modal loop of its own:
  // the output-files panel is shown, then OK is clicked.
  TPreferencesWindow* window = nullptr;
  host::SetModalHook([&](TWindow& w) -> IDType {
    if (auto* prefs = dynamic_cast<TPreferencesWindow*>(&w)) window = prefs;
    return kNoIdentifier;
  });
  std::string qualityShown;
  bool ok = false;
  {
    ClickWhenShown click(QStringLiteral("OK"), [&] {
      if (!window) return;
      ShowRow(*window, 5);
      qualityShown = TextOf(*window->CurrentPanel(), "qual");
    });
    ok = DoPreferencesDialog(services_);
    EXPECT_TRUE(click.clicked());
  }
  host::SetModalHook({});
  EXPECT_TRUE(ok);
  EXPECT_EQ(qualityShown, "85");
  ExpectStoredImport();
}

}  // namespace
