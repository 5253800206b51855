// The about window (view resources 1701 and 1015), the application's version
// text, the deferred menu command, and the process services the status
// window and start-up use.
#pragma once

#include <cstdint>

#include "host/ui/Application.h"
#include "host/ui/View.h"

namespace app {

class TAboutWindow : public TWindow {
 public:
  void DoPostCreate() override;
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;
};

// The about box, posed modally; a beep when it cannot be made.
void showAboutBox();

// Opens a web address with the desktop's browser; false when it could not.
bool GotoURL(const CStr255_AC& url);

// The version the program was built with ("Unknown Version" when none).
CStr255_AC GetSoftwareVersion();

// The splash status line: nothing for no view or an empty text.
void MyStartUpSplashWindowUpdateStatus(TView* view, const CStr255_AC& text);

void RegisterAboutWindowClasses();

// Set at start-up from the running-copy lock; read by isAppRunning.
void SetAnotherCopyRunning(bool on);
bool AnotherCopyRunning();

}  // namespace app

// A menu command run later from the event loop through the application's
// own DoMenuCommand (it does not pass the behaviours).
class TPostMenuCommand : public TCommand {
 public:
  TPostMenuCommand(CommandNumber command, unsigned long /*unused*/) : TCommand(command) {}
  bool IsReadyToExecute() override { return true; }
  void DoIt() override;
};

// The process result when no process matches.
constexpr OSErr procNotFound = -600;

// Running copies of the application with this creator: the running-copy lock
// tells whether another one holds it (2), else this one runs alone (1).
// Other creators are not known on this system (0).
uint8_t isAppRunning(uint32_t creator);
// Bringing another application to the front is up to the desktop; these only
// log the request and give procNotFound.
OSErr MyBringApplicationToFront(uint32_t signature, uint32_t type);
void MyBringFinderToFront();
