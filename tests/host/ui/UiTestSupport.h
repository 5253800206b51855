// Shared set-up of the UI tests: one Qt application for the process, the
// test view resources and the test program's own view classes.
#pragma once

#include <QApplication>
#include <QImage>
#include <QWidget>
#include <string>
#include <vector>

#include "host/ui/Controls.h"
#include "host/ui/QtTestApp.h"
#include "host/ui/ViewServer.h"

namespace uitest {

struct EventRecord {
  IDType source;
  EventNumber number;
  int clickCount;
};

class TTestStatusWindow : public TWindow {
 public:
  std::vector<EventRecord> events;
  bool postCreated = false;
  TView* statAtPostCreate = nullptr;
  void DoPostCreate() override {
    postCreated = true;
    statAtPostCreate = FindSubView(FourCC("stat"));
  }
  std::vector<int16_t> keys;
  bool DoKeyEvent(int16_t charCode) override {
    keys.push_back(charCode);
    return TWindow::DoKeyEvent(charCode);
  }
  void DoEvent(EventNumber n, TEventHandler* source, const TToolboxEvent* e) override {
    auto* view = dynamic_cast<TView*>(source);
    events.push_back({view ? view->GetIdentifier() : 0, n, e ? e->clickCount : 0});
    TWindow::DoEvent(n, source, e);
  }
};

class TTestJobsList : public TTextListView {
 public:
  std::vector<std::string> rows;
  CStr255_AC GetItemText(int16_t row) const override {
    return row >= 1 && size_t(row) <= rows.size() ? CStr255_AC(rows[row - 1]) : CStr255_AC();
  }
};

class TTestPageView : public TView {};

inline void EnsureFramework() {
  static bool done = false;
  if (done) return;
  done = true;
  kivotest::EnsureQtApp("test_host_ui");
  host::AddViewResourceFolder(KIVO_UI_TEST_VIEWS);
  host::RegisterViewClass<TTestStatusWindow>("TTestStatusWindow");
  host::RegisterViewClass<TTestJobsList>("TTestJobsList");
  host::RegisterViewClass<TTestPageView>("TTestPageView");
}

// Number of pixels in `rect` of the image that are clearly darker than the
// background: text drawn there shows up as such pixels.
inline int DarkPixels(const QImage& image, const QRect& rect) {
  int n = 0;
  const QRect r = rect.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (qGray(image.pixel(x, y)) < 100) ++n;
  return n;
}

// The window's contents as they are drawn, in device-independent pixels.
inline QImage Grab(QWidget* w) {
  QImage image = w->grab().toImage();
  image.setDevicePixelRatio(1);
  return image.scaled(w->size());
}

}  // namespace uitest
