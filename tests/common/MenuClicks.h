// Clicks an item of a popup menu that a test makes open, as a user would.
#pragma once

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

// Chooses `item` (its text) of the next popup menu that opens, by a click,
// for as long as the returned watcher lives.
struct MenuWatcher {
  bool opened = false;
};
inline std::shared_ptr<MenuWatcher> ChooseInNextMenu(const QString& item) {
  auto watcher = std::make_shared<MenuWatcher>();
  // Each pending timer holds the poll; the poll itself holds only weak
  // references, so everything is freed once the watcher is gone.
  auto poll = std::make_shared<std::function<void()>>();
  std::weak_ptr<std::function<void()>> self = poll;
  *poll = [item, weak = std::weak_ptr<MenuWatcher>(watcher), self] {
    auto w = weak.lock();
    if (!w) return;
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) {
      if (auto again = self.lock()) QTimer::singleShot(10, [again] { (*again)(); });
      return;
    }
    w->opened = true;
    for (QAction* a : menu->actions())
      if (a->text() == item) QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
  };
  QTimer::singleShot(10, [poll] { (*poll)(); });
  return watcher;
}
