// The about window (view resources 1701 and 1015), the application's version
// text, the deferred menu command, and the process services the status
// window and start-up use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Opens a web address with the desktop (GotoNSURL); false when it could not.
bool GotoURL(const CStr255_AC& url);

// Hands a web or mail address, or a folder's path, to the desktop
// (xdg-open, by argument vector); false when it could not be started.
bool OpenWithDesktop(const std::string& target);

// The version the program was built with ("Unknown Version" when none).
CStr255_AC GetSoftwareVersion();

// The splash status line: nothing for no view or an empty text; otherwise
// the line is logged and shown, kept for 10 ticks and the windows are drawn.
void MyStartUpSplashWindowUpdateStatus(TView* view, const CStr255_AC& text);

// The about window shown, and drawn, as start-up begins, its status line
// following what start-up does (folders being created); none when the window
// cannot be made. Closing it at the end of start-up leaves it up, where
// somebody can see it, until it has been shown for 1.5 seconds.
TWindow* ShowStartUpSplash();
void CloseStartUpSplash(TWindow* splash);

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
// A running program, by its process id (the high half is always 0).
struct ProcessSerialNumber {
  uint32_t highLongOfPSN = 0;
  uint32_t lowLongOfPSN = 0;
};

// The program name an application signature stands for on this system
// ('ZRVb' this program, "kivo-processor"; 'ZRVz' the station application,
// "kivo-station"); empty for other signatures or types other than 'APPL'.
std::string ProgramNameForSignature(uint32_t signature, uint32_t type);
// Tests give the station application a program name of their own, so that a
// station started by another test running at the same time is not theirs.
void SetStationProgramNameForTesting(const std::string& name);

// The first running process of that signature and type: noErr and its
// number, or procNotFound (-600) and a zero number, with the line
// "GetNextProcess END OF LIST..." in the log.
OSErr MyFindProcess(uint32_t signature, uint32_t type, ProcessSerialNumber* psn);
OSErr MyFindProcessNew(uint32_t signature, uint32_t type, ProcessSerialNumber* psn);

// Finds the application; raising another program's windows is up to the
// desktop, so a found one is only logged. The search's result.
OSErr MyBringApplicationToFront(uint32_t signature, uint32_t type);
void MyBringFinderToFront();
// The WM_CLASS names of the file managers MyBringFinderToFront looks for.
const std::vector<std::string>& FileManagerNames();
