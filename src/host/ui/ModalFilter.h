// Modal-dialog filters: a filter sees each event of a dialog as an event
// record before the dialog does, and may handle it itself (reporting an
// item number to the dialog's owner), change the character it carries, or
// leave it to the dialog. On Qt a filter is an event filter over the
// dialog's window and every widget in it; keys typed there reach it as
// key-down (auto-key when repeated) records.
//
// Also the current window port: the window that QuickDraw-style code would
// draw into, made current around a filter call.
#pragma once

#include <cstdint>
#include <functional>

#include "host/base/MacTypes.h"
#include "host/qd/QuickDraw.h"

class TWindow;

// Event kinds of a record.
enum : uint16_t {
  nullEvent = 0,
  mouseDown = 1,
  mouseUp = 2,
  keyDown = 3,
  keyUp = 4,
  autoKey = 5,
  updateEvt = 6,
  diskEvt = 7,
  activateEvt = 8,
  osEvt = 15,
};

// Modifier bits of a record. Command is the Control key on this system,
// Option is Alt and Control is the Super (Meta) key.
enum : uint16_t {
  cmdKey = 0x0100,
  shiftKey = 0x0200,
  alphaLock = 0x0400,
  optionKey = 0x0800,
  controlKey = 0x1000,
};

inline constexpr uint32_t charCodeMask = 0x000000FF;
inline constexpr uint32_t keyCodeMask = 0x0000FF00;

struct EventRecord {
  uint16_t what = nullEvent;
  uint32_t message = 0;  // keys: the Mac Roman character, and the key code above it
  uint32_t when = 0;     // ticks
  int16_t whereV = 0, whereH = 0;
  uint16_t modifiers = 0;
};

using DialogRef = TWindow*;
using WindowRef = TWindow*;
using DialogItemIndex = int16_t;

// True when the filter handled the event and put an item in `itemHit`. When
// it returns false the event goes on to the dialog, as the filter left it:
// with another character in its message that character is typed instead;
// turned into a null event it is dropped.
using ModalFilterProcPtr = Boolean (*)(DialogRef dialog, EventRecord* event, DialogItemIndex* itemHit);

namespace host {

// What the dialog's owner does with an item a filter reported.
using DialogItemHandler = std::function<void(DialogItemIndex item)>;

// Runs `filter` on every key typed in the dialog's window while the window
// exists. The window must have its widget.
void InstallModalFilter(TWindow& dialog, ModalFilterProcPtr filter, DialogItemHandler onItem);

// The current window port: none at first, and none once that window has
// left the framework's window list.
void SetWindowPort(TWindow* window);
TWindow* CurrentWindowPort();

// Saves the current window port and offscreen port, and puts both back
// when it goes.
class SavedWindowPort {
 public:
  SavedWindowPort();
  ~SavedWindowPort();
  SavedWindowPort(const SavedWindowPort&) = delete;
  SavedWindowPort& operator=(const SavedWindowPort&) = delete;

 private:
  TWindow* window_;
  SavedPort port_;
};

// The arrow cursor, over the window and over any cursor the program set.
void SetArrowCursor(TWindow* window);

}  // namespace host
