// The application object and its event loop on Qt. The program derives its
// application from TApplication, overrides DoInitialState, DoMenuCommand,
// DoSetupMenus and DoScriptCommand, and calls Run.
//
//   host::InitFramework(argc, argv);   // before any window: makes the QApplication
//   auto* app = new TMyApp;            // TApplication(mainFileType, creator)
//   app->Run();                        // DoInitialState from the loop, until Quit
//   delete app;
//
// Menu commands are numbers: the menus come from a table (InstallMenus) and
// show in the menu bar of every window that has one. A command chosen from a
// menu goes to the application's behaviours first, then to DoMenuCommand.
// Deferred commands (PostCommand) run from the event loop after the current
// event. SIGTERM and SIGINT arrive as DoScriptCommand(cTerminateRequest),
// which by default quits; the program may override it to wind down first,
// but nobody is there to answer a refusal, so it always ends. A quit request
// that an operator or a script sends (cQuitRequest) is what the program may
// refuse.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/base/PascalString.h"
#include "host/ui/EventHandler.h"

class QMainWindow;
class TWindow;

namespace host {

// Makes the Qt application object once. With no display (neither DISPLAY nor
// WAYLAND_DISPLAY set) and no QT_QPA_PLATFORM chosen, Qt's offscreen platform
// is used, so the program runs unattended without a flag.
// A display that cannot be used (DISPLAY naming no X server) also gives
// the offscreen platform, with a line on standard error, instead of an abort.
void InitFramework(int argc, char** argv);
// That line, for the day's log once it is open; empty when the display in
// use is the one asked for.
const std::string& DisplayFallbackNote();

// The system beep; with no display it is only logged.
void Beep();
// Whether the Shift key is held down now (false with no display).
bool IsShiftKeyDown();

struct MenuItemDef {
  MenuItemDef(std::string t = {}, CommandNumber c = cNoCommand, std::string s = {})
      : text(std::move(t)), command(c), shortcut(std::move(s)) {}
  std::string text;  // UTF-8; empty for a separator line
  CommandNumber command;
  std::string shortcut;  // Qt key sequence text, e.g. "Ctrl+Q"; may be empty
};

struct MenuDef {
  int16_t menuId = 0;
  std::string title;
  std::vector<MenuItemDef> items;
};

}  // namespace host

// A deferred command: runs from the event loop once ready.
class TCommand {
 public:
  explicit TCommand(CommandNumber command = cNoCommand) : command_(command) {}
  virtual ~TCommand() = default;
  CommandNumber GetCommandNumber() const { return command_; }
  // Whether the event loop may run it now; it asks again later otherwise.
  virtual bool IsReadyToExecute() = 0;
  virtual void DoIt() = 0;

 private:
  CommandNumber command_;
};

class TApplication : public TEventHandler {
 public:
  TApplication(OSType mainFileType, OSType creator);
  ~TApplication() override;

  OSType GetMainFileType() const { return mainFileType_; }
  OSType GetCreator() const { return creator_; }

  // Called once from the event loop when Run starts.
  virtual void DoInitialState();
  // The default quits on cQuit.
  bool DoMenuCommand(CommandNumber command) override;
  // The default enables cAboutApp and cQuit.
  void DoSetupMenus() override;
  // Requests from outside the program. The default turns cQuitRequest and
  // cTerminateRequest into DoMenuCommand(cQuit); override to refuse or to
  // wind down first. True when handled.
  virtual bool DoScriptCommand(CommandNumber command);

  // Runs the event loop until Quit. Returns the exit code (0).
  int Run();
  // Ends the event loop (and any modal loop inside it).
  void Quit();
  bool IsQuitting() const { return quitting_; }

  void PostCommand(std::unique_ptr<TCommand> command);
  // A menu command as if chosen by the user: menus are set up first and a
  // disabled command does nothing. True when handled.
  bool ChooseMenuCommand(CommandNumber command);
  // What happens on a quit request, and when SIGTERM arrives, without an
  // event or a signal (tests).
  void DeliverQuitRequest();
  void DeliverTerminateRequest();

  // Menus.
  void InstallMenus(const std::vector<host::MenuDef>& menus);
  // Disables every command, then lets the handlers enable theirs.
  void SetupTheMenus();
  // Menus are set up again from the event loop, once however often this is
  // called. Called after every command and control event, so that keyboard
  // equivalents follow the program's state without a menu being opened.
  void InvalidateMenus();
  void Enable(CommandNumber command, bool state);
  void EnableCheck(CommandNumber command, bool enable, bool check);
  bool IsEnabled(CommandNumber command) const;
  bool IsChecked(CommandNumber command) const;
  void SetCommandText(CommandNumber command, const CStr255_AC& text);
  CStr255_AC GetCommandText(CommandNumber command) const;
  // Removes item `item` (from 1, separators count) of menu `menuId`.
  void RemoveMenuItem(int16_t menuId, int16_t item);
  void AttachMenuBar(QMainWindow& window);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  OSType mainFileType_;
  OSType creator_;
  bool quitting_ = false;
  void RunDeferred();
  // Arms the idle timer for the next handler that wants idle time.
  void ScheduleIdle();
};

// The one application object while it exists.
extern TApplication* gApplication;
