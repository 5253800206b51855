// The shared workspace: programs this one starts as its children, the notice
// that one of them has ended, asking one to quit, and work done later from
// the event loop.
//
// A child is started by argument vector (no shell) and watched until it
// ends; it is then collected and the local notification
// "NSWorkspaceDidTerminateApplicationNotification" is posted through the
// process's notification centre with "NSApplicationProcessIdentifier",
// "NSApplicationName" (the program's file name), "NSApplicationPath" and the
// two halves of its process serial number ("NSApplicationProcessSerialNumberHigh"
// 0, "NSApplicationProcessSerialNumberLow" its process id). Only children
// started here can be asked to quit, so a stale or foreign process id never
// receives a signal. Nothing here waits for a child.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace host {

inline constexpr char NSWorkspaceDidTerminateApplicationNotification[] =
    "NSWorkspaceDidTerminateApplicationNotification";

class Workspace {
 public:
  // The one workspace of the process. Needs a Qt application object (of any
  // kind) for the notices to be posted.
  static Workspace& Shared();

  // Starts the program with the arguments (after the program's own name) and
  // with `environment` added to this process's. Its process id, or 0 with a
  // reason when it could not be started.
  pid_t LaunchApplication(const std::string& path, const std::vector<std::string>& arguments,
                          const std::map<std::string, std::string>& environment, std::string* error = nullptr);

  // Asks a running child started here to quit (SIGTERM); false for any other
  // process id.
  bool TerminateApplication(pid_t pid);
  bool IsRunningChild(pid_t pid) const;

  ~Workspace();

 private:
  Workspace();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Calls `action` from the event loop once `seconds` have passed.
void PerformAfterDelay(double seconds, std::function<void()> action);

}  // namespace host
