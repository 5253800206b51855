// Windows and views from .ui view resources: building, finding sub-views by
// identifier, controls sending their events to the window, modal dialogs,
// and what a grabbed window image shows.
#include <gtest/gtest.h>

#include <QLabel>
#include <QListView>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>

#include "UiTestSupport.h"
#include "host/qd/GWorld.h"

namespace {

using namespace uitest;

class Views : public ::testing::Test {
 protected:
  void SetUp() override { EnsureFramework(); }
  void TearDown() override {
    for (TWindow* w : TWindow::AllWindows()) w->Close();
    QCoreApplication::processEvents();
  }
};

TEST_F(Views, WindowFromResourceHasItsViewsByIdentifier) {
  TWindow* window = NewTemplateWindow(1001);
  ASSERT_NE(window, nullptr);
  auto* status = dynamic_cast<TTestStatusWindow*>(window);
  ASSERT_NE(status, nullptr) << "the registered class is used";
  EXPECT_TRUE(status->postCreated);
  EXPECT_NE(status->statAtPostCreate, nullptr) << "sub-views exist when DoPostCreate runs";
  EXPECT_EQ(window->GetTitle(), "Test Status");

  auto* stat = window->FindSubView<TStaticText>(FourCC("stat"));
  ASSERT_NE(stat, nullptr);
  EXPECT_EQ(stat->GetText(), "IDLING");
  EXPECT_EQ(stat->GetFrame(), CRect_AC(10, 10, 34, 310));
  EXPECT_NE(window->FindSubView<TTestJobsList>(FourCC("jobs")), nullptr) << "custom class over its Qt base";
  EXPECT_NE(window->FindSubView<TPictureView>(FourCC("pict")), nullptr);
  EXPECT_NE(window->FindSubView<TButton>(FourCC("strt")), nullptr);
  auto* popup = window->FindSubView<TPopup>(FourCC("pop1"));
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->CountItems(), 3);
  EXPECT_EQ(popup->GetItemText(1).ToMacRoman(), "Clear\xC9");  // Mac Roman ellipsis
  EXPECT_TRUE(window->FindSubView<TCheckBox>(FourCC("chk1"))->IsOn());
  window->Open();
  EXPECT_FALSE(window->FindSubView(FourCC("hide"))->IsShown());
  EXPECT_TRUE(stat->IsShown());
  EXPECT_EQ(window->FindSubView(FourCC("none")), nullptr);

  EXPECT_EQ(NewTemplateWindow(999), nullptr);
}

TEST_F(Views, APostedKeyReachesTheFrontWindowThroughTheLoop) {
  auto* window = dynamic_cast<TTestStatusWindow*>(NewTemplateWindow(1001));
  ASSERT_NE(window, nullptr);
  window->Open();
  host::PostKeyDownEvent(27);
  EXPECT_TRUE(window->keys.empty()) << "delivered by the loop, not at once";
  for (int i = 0; i < 5 && window->keys.empty(); ++i) QCoreApplication::processEvents();
  ASSERT_EQ(window->keys.size(), 1u);
  EXPECT_EQ(window->keys[0], 27);
  QTest::keyClick(window->GetWidget(), Qt::Key_X);
  ASSERT_EQ(window->keys.size(), 2u);
  EXPECT_EQ(window->keys[1], 'x');
}

TEST_F(Views, FreeViewTreesAndResourceFolders) {
  std::unique_ptr<TView> page = DoCreateViews(3001);
  ASSERT_NE(page, nullptr);
  EXPECT_NE(dynamic_cast<TTestPageView*>(page.get()), nullptr);
  EXPECT_EQ(page->FindSubView<TStaticText>(FourCC("text"))->GetText(), "page");
  EXPECT_NE(page->FindSubView(IdentifierFromName("odd")), nullptr) << "an unknown class still gives a view";

  // A folder added later overrides; a broken resource gives nothing.
  host::AddViewResourceFolder(KIVO_UI_TEST_OVERRIDE);
  std::unique_ptr<TView> over = DoCreateViews(3001);
  ASSERT_NE(over, nullptr);
  EXPECT_EQ(over->FindSubView<TStaticText>(FourCC("text"))->GetText(), "override");
  EXPECT_EQ(DoCreateViews(3002), nullptr);
  host::ClearViewResourceFolders();
  host::AddViewResourceFolder(KIVO_UI_TEST_VIEWS);

  // Inside a super view, the super view owns the new views.
  TWindow* window = NewTemplateWindow(1001);
  TView* created = nullptr;
  EXPECT_EQ(DoCreateViews(3001, window, &created), nullptr);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(window->FindSubView(FourCC("page")), created);
}

TEST_F(Views, ControlsSendTheirIdentifierAndEventToTheWindow) {
  auto* window = dynamic_cast<TTestStatusWindow*>(NewTemplateWindow(1001));
  ASSERT_NE(window, nullptr);
  window->Open();
  auto* strt = window->FindSubView<TButton>(FourCC("strt"));
  auto* button = qobject_cast<QPushButton*>(strt->GetWidget());
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_EQ(window->events.size(), 1u);
  EXPECT_EQ(window->events[0].source, FourCC("strt"));
  EXPECT_EQ(window->events[0].number, mButtonHit);
  EXPECT_EQ(window->events[0].clickCount, 1);

  // A double click arrives as a first click and then one with count 2.
  window->events.clear();
  QTest::mouseClick(button, Qt::LeftButton);
  QTest::mouseDClick(button, Qt::LeftButton);
  QTest::mouseRelease(button, Qt::LeftButton);
  ASSERT_FALSE(window->events.empty());
  EXPECT_EQ(window->events.back().clickCount, 2);
  EXPECT_EQ(window->events.front().clickCount, 1);

  window->events.clear();
  QWidget* box = window->FindSubView(FourCC("chk1"))->GetWidget();
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
  ASSERT_EQ(window->events.size(), 1u);
  EXPECT_EQ(window->events[0].number, mCheckBoxHit);
  EXPECT_FALSE(window->FindSubView<TCheckBox>(FourCC("chk1"))->IsOn());

  // A dimmed control cannot be clicked.
  window->events.clear();
  strt->DimState(true);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_TRUE(window->events.empty());
}

TEST_F(Views, GrabbedWindowShowsStatusTextAndListRows) {
  auto* window = NewTemplateWindow(1001);
  ASSERT_NE(window, nullptr);
  window->Open();
  auto* stat = window->FindSubView<TStaticText>(FourCC("stat"));
  auto* jobs = window->FindSubView<TTestJobsList>(FourCC("jobs"));
  QWidget* top = window->GetWidget();
  const QRect statRect(stat->GetWidget()->mapTo(top, QPoint(0, 0)), stat->GetWidget()->size());

  stat->SetText(CStr255_AC("PAUSED - Press 'Resume' to Start"));
  EXPECT_GT(DarkPixels(Grab(top), statRect), 20);
  stat->SetText(CStr255_AC(""));
  EXPECT_EQ(DarkPixels(Grab(top), statRect), 0);

  jobs->rows = {"job one.trpr", "job two.trpr"};
  jobs->InsertItemsLast(2);
  EXPECT_EQ(jobs->GetNumRows(), 2);
  QImage image = Grab(top);
  auto rowRect = [&](int16_t row) {
    const CRect_AC r = jobs->GetRowRect(row);
    return QRect(jobs->GetWidget()->mapTo(top, QPoint(r.left, r.top)), QSize(int(r.Width()), int(r.Height())));
  };
  EXPECT_GT(DarkPixels(image, rowRect(1)), 10);
  EXPECT_GT(DarkPixels(image, rowRect(2)), 10);

  // Rows ask GetItemText again when told the data changed.
  jobs->rows[1] = "";
  jobs->UpdateList();
  EXPECT_EQ(DarkPixels(Grab(top), rowRect(2)), 0);

  jobs->SelectRow(2);
  EXPECT_EQ(jobs->LastSelectedRow(), 2);
  jobs->DeleteItemsLast(5);
  EXPECT_EQ(jobs->GetNumRows(), 0);
  EXPECT_FALSE(jobs->HasSelection());
}

TEST_F(Views, PictureViewShowsAnOffscreen) {
  auto* window = NewTemplateWindow(1001);
  window->Open();
  auto* pict = window->FindSubView<TPictureView>(FourCC("pict"));
  QWidget* top = window->GetWidget();
  const QRect rect(pict->GetWidget()->mapTo(top, QPoint(0, 0)), pict->GetWidget()->size());
  EXPECT_EQ(DarkPixels(Grab(top), rect), 0);

  host::GWorldHandle black = host::GWorld::Create(CLongRect_AC(0, 0, 20, 40));
  ASSERT_TRUE(black);
  for (int32_t y = 0; y < black->height(); ++y)
    for (int32_t x = 0; x < black->width(); ++x) {
      uint8_t* p = black->scanline(y) + 4 * x;
      p[1] = p[2] = p[3] = 0;
    }
  pict->SetOffscreen(black.get());
  black.reset();  // the view keeps its own copy
  const int dark = DarkPixels(Grab(top), rect);
  // 40 x 20 fitted into 100 x 100 keeps its proportions: 100 x 50.
  EXPECT_NEAR(dark, 100 * 50, 300);
  pict->SetOffscreen(nullptr);
  EXPECT_EQ(DarkPixels(Grab(top), rect), 0);

  // A page far larger than the kept preview (not a whole multiple of it
  // either) keeps its proportions and its colours: 3001 x 1001, red left
  // third, blue beyond, shown 100 x 33.
  host::GWorldHandle page = host::GWorld::Create(CLongRect_AC(0, 0, 1001, 3001));
  ASSERT_TRUE(page);
  for (int32_t y = 0; y < page->height(); ++y)
    for (int32_t x = 0; x < page->width(); ++x) {
      uint8_t* p = page->scanline(y) + 4 * x;
      p[1] = x < 1000 ? 255 : 0;
      p[2] = 0;
      p[3] = x < 1000 ? 0 : 255;
    }
  pict->SetOffscreen(page.get());
  const QImage shown = Grab(top);
  EXPECT_NEAR(DarkPixels(shown, rect), 100 * 33, 300);
  const QPoint centre = rect.center();
  EXPECT_EQ(shown.pixel(rect.left() + 15, centre.y()), qRgb(255, 0, 0));
  EXPECT_EQ(shown.pixel(rect.left() + 80, centre.y()), qRgb(0, 0, 255));
  EXPECT_EQ(shown.pixel(centre.x(), rect.top() + 10), qRgb(255, 255, 255));
}

TEST_F(Views, ModalDialogsAnswerThemselvesWithoutADisplay) {
  TWindow* dialog = NewTemplateWindow(1002);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->FindSubView<TEditText>(FourCC("name"))->GetText().ToMacRoman(), "Caf\x8E");
  EXPECT_EQ(dialog->FindSubView<TCluster>(FourCC("clus"))->GetCurrentRadio(), FourCC("rad2"));
  EXPECT_TRUE(dialog->FindSubView<TButton>(FourCC("ok  "))->IsDismisser());
  EXPECT_FALSE(dialog->FindSubView<TButton>(FourCC("help"))->IsDismisser());

  EXPECT_EQ(dialog->PoseModally(), FourCC("canc"));

  host::SetModalHook([](TWindow& w) {
    w.FindSubView<TEditText>(FourCC("name"))->SetText(CStr255_AC("typed"));
    return FourCC("ok  ");
  });
  EXPECT_EQ(dialog->PoseModally(), FourCC("ok  "));
  EXPECT_EQ(dialog->FindSubView<TEditText>(FourCC("name"))->GetText(), "typed");
  host::SetModalHook(nullptr);
  dialog->Close();
}

TEST_F(Views, CloseFreesTheWindowFromTheEventLoop) {
  TWindow* window = NewTemplateWindow(1002);
  const size_t before = TWindow::AllWindows().size();
  window->Close();
  EXPECT_EQ(TWindow::AllWindows().size(), before - 1);
  QCoreApplication::processEvents();
}

TEST_F(Views, AMinimisedWindowStaysListedAndOpenBringsItBack) {
  TWindow* window = NewTemplateWindow(1002);
  window->Open();
  const size_t before = TWindow::AllWindows().size();
  window->Minimize();
  QCoreApplication::processEvents();
  EXPECT_TRUE(window->GetWidget()->isMinimized());
  EXPECT_EQ(TWindow::AllWindows().size(), before);
  window->Open();
  QCoreApplication::processEvents();
  EXPECT_FALSE(window->GetWidget()->isMinimized());
  EXPECT_TRUE(window->IsShown());
}

}  // namespace

namespace {

TEST_F(Views, FindWindowWithIdentifierTakesTheFrontMostWindowOfTheIdentifier) {
  TWindow* first = NewTemplateWindow(1001);
  TWindow* second = NewTemplateWindow(1001);
  TWindow* other = NewTemplateWindow(1002);
  ASSERT_TRUE(first && second && other);
  first->SetIdentifier(FourCC("wtan"));
  second->SetIdentifier(FourCC("wtan"));
  other->SetIdentifier(FourCC("abou"));
  EXPECT_EQ(FindWindowWithIdentifier(FourCC("abou")), other);
  EXPECT_EQ(FindWindowWithIdentifier(FourCC("none")), nullptr);
  // Of two windows with the identifier, the one that came to the front last.
  second->Open();
  first->Open();
  EXPECT_EQ(FindWindowWithIdentifier(FourCC("wtan")), first);
  second->Open();
  EXPECT_EQ(FindWindowWithIdentifier(FourCC("wtan")), second);
  // A closed window is no longer in the list.
  second->Close();
  EXPECT_EQ(FindWindowWithIdentifier(FourCC("wtan")), first);
  QCoreApplication::processEvents();
}

TEST_F(Views, ALongPathIsShortenedInTheMiddleToFitItsWidth) {
  TWindow* window = NewTemplateWindow(1001);
  ASSERT_NE(window, nullptr);
  auto* stat = window->FindSubView<TStaticText>(FourCC("stat"));
  ASSERT_NE(stat, nullptr);
  auto* label = qobject_cast<QLabel*>(stat->GetWidget());
  ASSERT_NE(label, nullptr);
  std::string path = "/home/operator";
  for (int i = 0; i < 40; ++i) path += "/folder" + std::to_string(i);
  path += "/Kivo-Processor Folder \xC6\x92";  // ends in a non-ASCII letter
  stat->SetTextElided(path, 200);
  const QString shown = label->text();
  EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), 200);
  EXPECT_TRUE(shown.startsWith("/home")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith(QString::fromUtf8("Folder \xC6\x92"))) << "the end of the path stays, in UTF-8";
  EXPECT_TRUE(shown.contains(QChar(0x2026))) << "an ellipsis marks the cut";

  stat->SetTextElided("/short", 200);
  EXPECT_EQ(label->text(), "/short") << "a path that fits is shown whole";
}

}  // namespace
