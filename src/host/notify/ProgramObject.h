// The program's own object on the session bus, through which another program
// (a script, a station, the desktop) asks it to quit:
//
//   bus name  org.kivo.Processor (KIVO_BUS_NAME names another, e.g. for a test run)
//   path      /org/kivo/Processor
//   interface org.kivo.Processor
//   method    Quit()  -> nothing when the program quits; the error
//             org.kivo.Processor.Error.Busy with the refusal text otherwise
//
//   dbus-send --session --print-reply --dest=org.kivo.Processor /org/kivo/Processor org.kivo.Processor.Quit
//
// The object lives on the same session bus as the distributed notifications
// and is published only when that bus answered in time; every call to the
// bus daemon here has a time limit of a few seconds.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace host {

inline constexpr char kProgramObjectPath[] = "/org/kivo/Processor";
inline constexpr char kProgramInterface[] = "org.kivo.Processor";
inline constexpr char kDefaultProgramBusName[] = "org.kivo.Processor";
inline constexpr char kBusyErrorName[] = "org.kivo.Processor.Error.Busy";

// The bus name the program asks for: KIVO_BUS_NAME when it is set to a valid
// bus name, else org.kivo.Processor.
std::string ProgramBusName();

// What the program makes of a quit request: the refusal text (nothing when
// it quits), and what it does once the caller has its answer (shows the
// refusal, or ends the event loop). The answer goes first, so that a caller
// never waits on an operator closing an alert, and a quitting program has
// handed its answer to the bus before it ends.
struct QuitDecision {
  std::optional<std::string> refusal;
  std::function<void()> afterAnswer;
};
// Called on the main thread, from the event loop.
using QuitRequestHandler = std::function<QuitDecision()>;

// Publishes the object under `busName`. False (with a line on standard
// error) when there is no session bus, the name is held by another
// connection, or the bus refused; the program runs on without it.
bool PublishProgramObject(const std::string& busName, QuitRequestHandler onQuit);

// Withdraws the object and gives the name back (at quit).
void WithdrawProgramObject();

}  // namespace host
