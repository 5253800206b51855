// Popup buttons, the floating popup they open, the deselecting scroller and
// the 3-D frame adorners, driven by synthesized mouse events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListView>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "UiTestSupport.h"
#include "common/MenuClicks.h"
#include "host/qd/GWorld.h"
#include "host/ui/Widgets.h"

using namespace uitest;

namespace {

class TWidgetsApp : public TApplication {
 public:
  TWidgetsApp() : TApplication(FourCC("TEXT"), FourCC("ZRVb")) {}
};

// A window with a popup button 'file', the floating popup 'pop1' it opens
// and a list of 40 rows in a deselecting scroller 'scrl'.
struct PopupWindow {
  TTestStatusWindow* window = nullptr;
  TPopupButton* button = nullptr;
  TFloatingPopup* popup = nullptr;
  TDeselectCellScroller* scroller = nullptr;
  TTestJobsList* list = nullptr;

  PopupWindow() {
    auto owned = std::make_unique<TTestStatusWindow>();
    owned->MakeWidget(nullptr);
    window = static_cast<TTestStatusWindow*>(TWindow::Adopt(std::move(owned)));
    window->Resize(400, 300);
    button = Add<TPopupButton>("file", 10, 10, 120, 30);
    button->SetTitle("Clear All");
    popup = Add<TFloatingPopup>("pop1", 200, 10, 150, 28);
    for (const char* item : {"Clear Folder", "-", "All Folders", "Print Jobs Folder"}) popup->AddItem(item);
    popup->Show(false);
    auto scroll = std::make_unique<TDeselectCellScroller>();
    scroll->SetIdentifier(FourCC("scrl"));
    scroller = static_cast<TDeselectCellScroller*>(window->AddSubView(std::move(scroll)));
    scroller->GetWidget()->setGeometry(10, 60, 200, 120);
    auto rows = std::make_unique<TTestJobsList>();
    rows->SetIdentifier(FourCC("jobs"));
    list = static_cast<TTestJobsList*>(scroller->AddSubView(std::move(rows)));
    list->GetWidget()->setGeometry(0, 0, 200, 120);
    for (int i = 1; i <= 40; ++i) list->rows.push_back("job " + std::to_string(i));
    list->InsertItemsLast(40);
    scroller->DoPostCreate();
    window->Open();
    QApplication::processEvents();
  }
  ~PopupWindow() { window->Close(); }

  template <class T>
  T* Add(const char* name, int x, int y, int w, int h) {
    auto view = std::make_unique<T>();
    view->SetIdentifier(IdentifierFromName(name));
    T* added = static_cast<T*>(window->AddSubView(std::move(view)));
    added->GetWidget()->setGeometry(x, y, w, h);
    return added;
  }
  QWidget* Button() const { return button->GetWidget(); }
  size_t Count(EventNumber n, IDType source) const {
    size_t c = 0;
    for (const auto& e : window->events) c += e.number == n && e.source == source;
    return c;
  }
};

class Widgets : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureFramework();
    host::RegisterWidgetClasses();
  }
  TWidgetsApp app_;
};

TEST_F(Widgets, HeldPopupButtonOpensThePopupAtTheMouseAndSendsItsChoice) {
  PopupWindow w;
  auto menu = ChooseInNextMenu("Print Jobs Folder");
  const QPoint at(40, 15);
  QTest::mousePress(w.Button(), Qt::LeftButton, {}, at);
  QTest::mouseMove(w.Button(), at + QPoint(3, -3));  // within the slop
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.Count(mPopupHit, FourCC("pop1")) > 0; }, 5000));
  QTest::mouseRelease(w.Button(), Qt::LeftButton, {}, at + QPoint(3, -3));
  QApplication::processEvents();

  EXPECT_TRUE(menu->opened);
  ASSERT_EQ(w.Count(mPopupHit, FourCC("pop1")), 1u);
  EXPECT_EQ(w.Count(mButtonHit, FourCC("file")), 0u) << "the held press is no click";
  // While open the popup stood at the mouse; afterwards it is hidden, back
  // on its first item and its own identifier.
  EXPECT_EQ(w.popup->GetFrame().left, 10 + 43);
  EXPECT_EQ(w.popup->GetFrame().top, 10 + 12);
  EXPECT_FALSE(w.popup->IsShown());
  EXPECT_EQ(w.popup->GetCurrentItem(), 1);
  EXPECT_EQ(w.popup->GetIdentifier(), FourCC("pop1"));
}

TEST_F(Widgets, PressThatMovedOrEndedEarlyIsAnOrdinaryClick) {
  PopupWindow w;
  auto menu = ChooseInNextMenu("All Folders");
  // Moved 4 pixels: tracked as a button, the release clicks it.
  const QPoint at(40, 15);
  QTest::mousePress(w.Button(), Qt::LeftButton, {}, at);
  QTest::mouseMove(w.Button(), at + QPoint(4, 0));
  QTest::qWait(kPopupHoldTicks * 1000 / 60 + 200);
  QTest::mouseRelease(w.Button(), Qt::LeftButton, {}, at + QPoint(4, 0));
  QApplication::processEvents();
  EXPECT_EQ(w.Count(mButtonHit, FourCC("file")), 1u);
  EXPECT_FALSE(menu->opened);

  // Released after 10 ticks: a click.
  QTest::mousePress(w.Button(), Qt::LeftButton, {}, at);
  QTest::qWait(10 * 1000 / 60);
  QTest::mouseRelease(w.Button(), Qt::LeftButton, {}, at);
  QTest::qWait(kPopupHoldTicks * 1000 / 60 + 100);
  EXPECT_EQ(w.Count(mButtonHit, FourCC("file")), 2u);
  EXPECT_FALSE(menu->opened);
  EXPECT_EQ(w.Count(mPopupHit, FourCC("pop1")), 0u);
}

TEST_F(Widgets, ControlClickOpensThePopupAtOnce) {
  PopupWindow w;
  auto menu = ChooseInNextMenu("All Folders");
  QTest::mouseClick(w.Button(), Qt::LeftButton, Qt::ControlModifier, QPoint(20, 20));
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.Count(mPopupHit, FourCC("pop1")) > 0; }, 5000));
  EXPECT_TRUE(menu->opened);
  EXPECT_EQ(w.Count(mPopupHit, FourCC("pop1")), 1u);
  EXPECT_EQ(w.Count(mButtonHit, FourCC("file")), 0u);
}

TEST_F(Widgets, PopupCommandsForUnknownIdentifiersAndMissingPopups) {
  const TPopupTarget other = PopupTargetFor(FourCC("xyzw"));
  EXPECT_EQ(other.popup, FourCC("pop5"));
  EXPECT_EQ(other.carried, FourCC("xyzw") + 100);

  PopupWindow w;
  TPopupCommand command(w.window, FourCC("last"), CPoint_AC(5, 5));  // 'pop2' does not exist
  command.DoIt();
  QTest::qWait(20);
  EXPECT_TRUE(w.window->events.empty());
  EXPECT_FALSE(w.popup->IsShown());
}

TEST_F(Widgets, ScrollingTheListDropsItsSelectionAndTellsTheWindow) {
  PopupWindow w;
  auto* view = qobject_cast<QListView*>(w.list->GetWidget());
  QScrollBar* bar = view->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  auto clickBarBelowHandle = [&] {
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - bar->width() - 4));
    QTest::qWait(20);
  };

  // No selection: the bar scrolls, nothing else happens.
  clickBarBelowHandle();
  EXPECT_GT(bar->value(), 0);
  EXPECT_TRUE(w.window->events.empty());

  w.list->SelectRow(3);
  w.list->SelectRow(5, true);
  ASSERT_TRUE(w.list->HasSelection());
  // Scrolling by program keeps it.
  bar->setValue(0);
  QTest::qWait(20);
  EXPECT_TRUE(w.list->HasSelection());
  clickBarBelowHandle();
  EXPECT_FALSE(w.list->HasSelection());
  ASSERT_EQ(w.window->events.size(), 1u);
  EXPECT_EQ(w.window->events[0].number, kScrollerDeselected);
  EXPECT_EQ(w.window->events[0].source, FourCC("scrl"));
}

TEST_F(Widgets, FrameAdornersDrawTheirBevels) {
  EXPECT_TRUE(T3DFrameAdorner().Lines(0, 5).empty());
  // Drawn over a picture view's edges.
  PopupWindow w;
  TPictureView* pict = w.Add<TPictureView>("pict", 250, 100, 40, 30);
  auto black = host::GWorld::Create(CLongRect_AC(0, 0, 30, 40));
  for (int32_t y = 0; y < 30; ++y) std::fill_n(black->scanline(y), 4 * 40, uint8_t(0));
  pict->SetOffscreen(black.get());
  ASSERT_TRUE(host::AdornView(*pict, "T3DFrameAdorner"));
  EXPECT_FALSE(host::AdornView(*pict, "TNoSuchAdorner"));
  QApplication::processEvents();
  const QImage image = Grab(pict->GetWidget());
  EXPECT_EQ(qGray(image.pixel(0, 15)), 144);   // left, dark
  EXPECT_EQ(qGray(image.pixel(20, 1)), 144);   // second ring, top
  EXPECT_EQ(qGray(image.pixel(39, 15)), 240);  // right, light
  EXPECT_EQ(qGray(image.pixel(20, 29)), 240);  // bottom
  EXPECT_EQ(qGray(image.pixel(39, 0)), 240);   // the corner the right edge starts at
  EXPECT_LT(qGray(image.pixel(20, 15)), 10);   // the picture inside
  // The raised border has its colours the other way round.
  EXPECT_EQ(T3DButtonAdorner().Lines(10, 6)[0].color.red, 61440);
}

}  // namespace
