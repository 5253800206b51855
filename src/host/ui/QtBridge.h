// Conversions between the framework's values and Qt's, for the host UI code
// only (not part of the interface other folders use).
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <functional>

#include "host/base/Geometry.h"
#include "host/base/PascalString.h"
#include "host/qd/GWorld.h"

class QObject;
class TWindow;

namespace host::ui {

inline QString ToQString(const CStr255_AC& s) { return QString::fromStdString(s.ToUTF8()); }
inline CStr255_AC FromQString(const QString& s) { return CStr255_AC(s.toStdString()); }
inline QRect ToQRect(const CRect_AC& r) { return QRect(r.left, r.top, int(r.Width()), int(r.Height())); }
inline CRect_AC FromQRect(const QRect& r) {
  return CRect_AC(int16_t(r.top()), int16_t(r.left()), int16_t(r.top() + r.height()), int16_t(r.left() + r.width()));
}

// The offscreen's pixels as an opaque 32-bit image (the alpha byte of
// offscreens carries no coverage, so it is ignored).
QImage ImageFromGWorld(const host::GWorld& world);

// Gives a window that wants one the application's menu bar.
void AttachMenuBar(TWindow& window);

// While a dialog runs its own event loop: once the system asks the program
// to end (SIGTERM, SIGINT), `end` is called, once, from that loop within a
// tenth of a second, so that no dialog holds the program up. The watch is a
// child of `dialog` and goes with it. With the request already made, `end`
// comes on the dialog's first pass of the loop.
void EndOnTermination(QObject& dialog, std::function<void()> end);

// Runs fn, logging and swallowing exceptions: Qt's event loop must not be
// unwound by a failure inside a handler.
template <class Fn>
void Guarded(const char* what, Fn&& fn);

}  // namespace host::ui

#include <cstdio>
#include <exception>
template <class Fn>
void host::ui::Guarded(const char* what, Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s failed: %s\n", what, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s failed\n", what);
  }
}
