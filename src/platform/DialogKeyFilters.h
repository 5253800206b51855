// Key filters for modal dialogs, and the two port utilities they use.
//
// The generic filter reports Enter, Tab, Return and Escape as item 0x7700 +
// the character, and letters and digits as the character plus a base chosen
// by the modifier held (Command 0x7900, Option 0x7B00, Control 0x7A00, none
// 0x7700). The password filter lets only letters and digits be typed,
// remembers the last one and, when asked to scramble, shows each as "∆".
// A filter is put on a dialog with host::InstallModalFilter; the items it
// reports go to the dialog's owner.
#pragma once

#include <cstdint>

#include "host/base/Geometry.h"
#include "host/qd/QuickDraw.h"
#include "host/ui/ModalFilter.h"

// Key events go to the password filter while this is on (1 at start).
extern int16_t gEnablePassword;
// The password filter shows every accepted character as "∆" while on.
extern int16_t gScrambleText;
// Set to 1 once a password character was typed.
extern int16_t gStruckAKey;
// The last password character typed (Mac Roman).
extern unsigned char gRealKeyChar;

// The item base for the modifiers of an event record.
int16_t getTranslationCode(uint16_t modifiers);
// Letters and digits.
bool isValidPasswordChar(unsigned char c);

Boolean filterGenericDialogKeys(DialogRef dialog, EventRecord* event, DialogItemIndex* itemHit);
Boolean filterPasswordDialogKeys(DialogRef dialog, EventRecord* event, DialogItemIndex* itemHit);
// With the dialog's port current: key-down and auto-key events go to the
// password filter while gEnablePassword is on, else to the generic one;
// other events are left to the dialog.
Boolean myBasicEventProc(DialogRef dialog, EventRecord* event, DialogItemIndex* itemHit);
// With the dialog's port current: a null event sets the arrow cursor and
// reports item 100; Return or Enter report item 1, Escape item 2; an update
// event updates every window; a disk event beeps and reports item 101 (and
// tells the operator when it carries an error).
Boolean myGenericEventFilter(DialogRef dialog, EventRecord* event, DialogItemIndex* itemHit);
// Shows "Removed DIBadMount", then message 7 of list 4105.
void DoDiskEvents(const EventRecord& event);

// The bounds of a port or offscreen.
CRect_AC myGetPortRect(CGrafPtr port);
// Makes the window's port the current port.
void mySetWindowPort(WindowRef window);
