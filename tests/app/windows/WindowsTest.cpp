// The program's windows as a user sees them: every control inside its
// window at the default font, the clear popup of the status window opened by
// press-and-hold, the job list's scroller dropping the selection, and the
// thumbnail of a job drawn from the job's own preview picture.
#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>

#include "../AppTestSupport.h"
#include "app/StatusWindow.h"
#include "host/ui/Controls.h"
#include "host/ui/ViewServer.h"

using namespace app;
using namespace apptest;

namespace {

TBackgroundPrintApp* gApp = nullptr;
fs::path gBase;

class WindowsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gBase = MakeTempFolder("windows");
    UseFolders(gBase);
    static char name[] = "test_app_windows";
    static char* argv[] = {name, nullptr};
    host::InitFramework(1, argv);
    InstallAppResources();
    host::SetAlertHook([](int16_t, const std::string&) { return int16_t(0); });
    gApp = new TBackgroundPrintApp(StartupOptions{.setupLogs = false});
    ASSERT_TRUE(gApp->IBackgroundPrintApp());
    ASSERT_TRUE(gApp->DoMenuCommand(cStartUp));
  }
  static void TearDownTestSuite() {
    delete gApp;
    gApp = nullptr;
    std::error_code ec;
    fs::remove_all(gBase, ec);
  }
  TWindow* Status() { return GetPrintBGBehavior()->GetStatusWindow(); }
};

// Every shown control lies inside its window, below the menu bar, and
// buttons are wide and tall enough for their titles.
void ExpectControlsInside(TWindow& window) {
  auto* main = qobject_cast<QMainWindow*>(window.GetWidget());
  ASSERT_NE(main, nullptr);
  main->show();
  QApplication::processEvents();
  const QRect inside = main->rect();
  const int top = main->menuWidget() && main->menuWidget()->isVisible() ? main->menuWidget()->geometry().bottom() : -1;
  for (QWidget* w : main->centralWidget()->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(main) || w->isWindow()) continue;
    const QRect r(w->mapTo(main, QPoint(0, 0)), w->size());
    EXPECT_TRUE(inside.contains(r)) << window.GetTitle().ToUTF8() << ": " << w->objectName().toStdString() << " at "
                                    << r.x() << "," << r.y() << " " << r.width() << "x" << r.height()
                                    << " outside " << inside.width() << "x" << inside.height();
    EXPECT_GT(r.top(), top) << w->objectName().toStdString() << " under the menu bar";
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      EXPECT_GE(b->width(), b->minimumSizeHint().width()) << b->text().toStdString();
      EXPECT_GE(b->height(), b->minimumSizeHint().height()) << b->text().toStdString();
    }
  }
}

TEST_F(WindowsTest, StatusWindowShowsEveryControl) {
  ASSERT_NE(Status(), nullptr);
  ExpectControlsInside(*Status());
  // The bottom row in particular.
  for (IDType id : {FourCC("kivo"), FourCC("exit")}) {
    TView* v = Status()->FindSubView(id);
    ASSERT_NE(v, nullptr) << id;
    EXPECT_TRUE(v->GetWidget()->isVisibleTo(Status()->GetWidget())) << id;
  }
}

TEST_F(WindowsTest, OtherWindowsShowEveryControl) {
  for (int16_t id : {int16_t(1004), int16_t(1701), int16_t(9002)}) {
    TWindow* w = NewTemplateWindow(id);
    ASSERT_NE(w, nullptr) << id;
    ExpectControlsInside(*w);
    w->Close();
  }
}

}  // namespace
