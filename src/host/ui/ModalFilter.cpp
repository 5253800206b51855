#include "host/ui/ModalFilter.h"

#include <QApplication>
#include <QKeyEvent>
#include <algorithm>
#include <QWidget>

#include "host/base/MacRoman.h"
#include "host/qd/QuickDraw.h"
#include "host/ui/EventHandler.h"
#include "host/ui/QtBridge.h"
#include "host/ui/View.h"

namespace host {
namespace {

TWindow* gWindowPort = nullptr;

// The Mac Roman character of a key, 0 when it has none.
uint8_t CharacterOf(const QKeyEvent& e) {
  switch (e.key()) {
    case Qt::Key_Return: return 13;
    case Qt::Key_Enter: return 3;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Delete: return 127;
    case Qt::Key_Home: return 1;
    case Qt::Key_End: return 4;
    case Qt::Key_PageUp: return 11;
    case Qt::Key_PageDown: return 12;
    case Qt::Key_Left: return 28;
    case Qt::Key_Right: return 29;
    case Qt::Key_Up: return 30;
    case Qt::Key_Down: return 31;
    default: break;
  }
  // With a command modifier the text is a control character; the record
  // carries the key's own letter or digit, as typed without it.
  const bool commanded = e.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (commanded && e.key() >= Qt::Key_A && e.key() <= Qt::Key_Z) {
    const int letter = e.key() - Qt::Key_A;
    return static_cast<uint8_t>(((e.modifiers() & Qt::ShiftModifier) ? 'A' : 'a') + letter);
  }
  if (commanded && e.key() >= Qt::Key_0 && e.key() <= Qt::Key_9) return static_cast<uint8_t>('0' + e.key() - Qt::Key_0);
  bool lossless = false;
  const std::string roman = UTF8ToMacRoman(e.text().toStdString(), &lossless);
  return roman.size() == 1 && lossless ? static_cast<uint8_t>(roman[0]) : 0;
}

uint16_t ModifiersOf(Qt::KeyboardModifiers m) {
  uint16_t bits = 0;
  if (m & Qt::ControlModifier) bits |= cmdKey;
  if (m & Qt::ShiftModifier) bits |= shiftKey;
  if (m & Qt::AltModifier) bits |= optionKey;
  if (m & Qt::MetaModifier) bits |= controlKey;
  return bits;
}

class ModalFilterObject : public QObject {
 public:
  ModalFilterObject(TWindow& dialog, ModalFilterProcPtr filter, DialogItemHandler onItem)
      : QObject(dialog.GetWidget()), dialog_(dialog), filter_(filter), onItem_(std::move(onItem)) {
    qApp->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (resending_ || event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != dialog_.GetWidget()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const uint8_t c = CharacterOf(*key);
    if (c == 0) return false;
    EventRecord record;
    record.what = key->isAutoRepeat() ? autoKey : keyDown;
    record.message = ((key->nativeScanCode() & 0xFF) << 8) | c;
    record.when = TickCount();
    record.modifiers = ModifiersOf(key->modifiers());
    const uint16_t what = record.what;
    const uint32_t message = record.message;
    DialogItemIndex item = 0;
    bool handled = false;
    ui::Guarded("modal filter", [&] { handled = filter_(&dialog_, &record, &item); });
    if (handled) {
      ui::Guarded("dialog item", [&] { onItem_(item); });
      return true;
    }
    if (record.what != what) return true;  // dropped
    if (record.message != message) {
      // Typed as the character the filter put in its place.
      const std::string text = MacRomanToUTF8(std::string(1, static_cast<char>(record.message & charCodeMask)));
      QKeyEvent replaced(QEvent::KeyPress, Qt::Key_unknown, key->modifiers(), QString::fromStdString(text),
                         key->isAutoRepeat());
      resending_ = true;
      QApplication::sendEvent(widget, &replaced);
      resending_ = false;
      return true;
    }
    return false;
  }

 private:
  TWindow& dialog_;
  ModalFilterProcPtr filter_;
  DialogItemHandler onItem_;
  bool resending_ = false;
};

}  // namespace

void InstallModalFilter(TWindow& dialog, ModalFilterProcPtr filter, DialogItemHandler onItem) {
  if (!dialog.GetWidget() || !filter) return;
  new ModalFilterObject(dialog, filter, std::move(onItem));
}

void SetWindowPort(TWindow* window) {
  gWindowPort = window;
  // Drawing now goes to the window, not to an offscreen.
  SetGWorld(nullptr);
}

TWindow* CurrentWindowPort() {
  const auto all = TWindow::AllWindows();
  return std::find(all.begin(), all.end(), gWindowPort) != all.end() ? gWindowPort : nullptr;
}

SavedWindowPort::SavedWindowPort() : window_(gWindowPort) {}

SavedWindowPort::~SavedWindowPort() { gWindowPort = window_; }

void SetArrowCursor(TWindow* window) {
  if (QApplication::overrideCursor()) QApplication::changeOverrideCursor(Qt::ArrowCursor);
  if (window && window->GetWidget()) window->GetWidget()->setCursor(Qt::ArrowCursor);
}

}  // namespace host
