#include "platform/DialogKeyFilters.h"

#include "host/ui/Application.h"
#include "host/ui/View.h"
#include "platform/Messages.h"

int16_t gEnablePassword = 1;
int16_t gScrambleText = 0;
int16_t gStruckAKey = 0;
unsigned char gRealKeyChar = 0;

namespace {

constexpr int16_t kKeyItemBase = 0x7700;
constexpr unsigned char kScrambledChar = 0xC6;  // "∆" in Mac Roman

constexpr unsigned char kEnter = 3, kTab = 9, kReturn = 13, kEscape = 27;

bool IsDialogKey(unsigned char c) { return c == kEnter || c == kTab || c == kReturn || c == kEscape; }

unsigned char CharOf(const EventRecord& event) { return static_cast<unsigned char>(event.message & charCodeMask); }

bool IsKeyEvent(const EventRecord& event) { return event.what == keyDown || event.what == autoKey; }

bool IsLetterOrDigit(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

int16_t getTranslationCode(uint16_t modifiers) {
  if (modifiers & cmdKey) return 0x7900;
  if (modifiers & optionKey) return 0x7B00;
  if (modifiers & controlKey) return 0x7A00;
  return kKeyItemBase;
}

bool isValidPasswordChar(unsigned char c) { return IsLetterOrDigit(c); }

Boolean filterGenericDialogKeys(DialogRef, EventRecord* event, DialogItemIndex* itemHit) {
  if (!event || !itemHit || !IsKeyEvent(*event)) return false;
  const unsigned char c = CharOf(*event);
  if (IsDialogKey(c)) {
    *itemHit = static_cast<DialogItemIndex>(kKeyItemBase + c);
    return true;
  }
  if (IsLetterOrDigit(c)) {
    *itemHit = static_cast<DialogItemIndex>(getTranslationCode(event->modifiers) + c);
    return true;
  }
  return false;
}

Boolean filterPasswordDialogKeys(DialogRef, EventRecord* event, DialogItemIndex* itemHit) {
  if (!event || !itemHit || !IsKeyEvent(*event)) return false;
  const unsigned char c = CharOf(*event);
  if (IsDialogKey(c)) {
    *itemHit = static_cast<DialogItemIndex>(kKeyItemBase + c);
    return true;
  }
  if (isValidPasswordChar(c)) {
    gRealKeyChar = c;
    gStruckAKey = 1;
    if (gScrambleText) event->message = (event->message & ~charCodeMask) | kScrambledChar;
    return false;
  }
  // Any other character is not typed; editing keys (below the blank, and
  // delete) still reach the field.
  if (c >= 0x20 && c != 0x7F) event->what = nullEvent;
  return false;
}

Boolean myBasicEventProc(DialogRef dialog, EventRecord* event, DialogItemIndex* itemHit) {
  if (!event) return false;
  host::SavedWindowPort saved;
  mySetWindowPort(dialog);
  if (IsKeyEvent(*event)) {
    return gEnablePassword ? filterPasswordDialogKeys(dialog, event, itemHit)
                           : filterGenericDialogKeys(dialog, event, itemHit);
  }
  return false;
}

Boolean myGenericEventFilter(DialogRef dialog, EventRecord* event, DialogItemIndex* itemHit) {
  if (!event || !itemHit) return false;
  host::SavedWindowPort saved;
  mySetWindowPort(dialog);
  switch (event->what) {
    case nullEvent:
      host::SetArrowCursor(dialog);
      *itemHit = 100;
      return true;
    case keyDown:
    case autoKey: {
      const unsigned char c = CharOf(*event);
      if (c == kReturn || c == kEnter) {
        *itemHit = 1;
        return true;
      }
      if (c == kEscape) {
        *itemHit = 2;
        return true;
      }
      return false;
    }
    case updateEvt:
      host::UpdateAllWindows();
      return false;
    case diskEvt:
      host::Beep();
      *itemHit = 101;
      if (event->message > 0xFFFF) DoDiskEvents(*event);
      return true;
    default:
      return false;
  }
}

void DoDiskEvents(const EventRecord&) {
  DisplayNormalMessage("Removed DIBadMount");
  DisplayNormalMessage(int16_t(4105), int16_t(7));
}

CRect_AC myGetPortRect(CGrafPtr port) {
  const CLongRect_AC bounds = GetPortBounds(port);
  return CRect_AC(static_cast<int16_t>(bounds.top), static_cast<int16_t>(bounds.left),
                  static_cast<int16_t>(bounds.bottom), static_cast<int16_t>(bounds.right));
}

void mySetWindowPort(WindowRef window) { host::SetWindowPort(window); }
