// Bringing another program's window to the front. Under X11 the window
// manager is asked, the way a pager or task bar asks it, to activate the
// program's top-level window (an EWMH _NET_ACTIVE_WINDOW client message to
// the root window). The window is found among the window manager's clients
// (_NET_CLIENT_LIST, else the root window's children) by its _NET_WM_PID,
// else by its WM_CLASS naming the program. Wayland gives no program a way
// to raise another one's window, and headless runs have none: there the
// request is only reported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

enum class ActivationResult {
  kAsked,           // the window manager was asked to activate the window
  kNoWindow,        // X11, but no such window
  kNoWindowSystem,  // not X11 (Wayland, offscreen): nobody to ask
};

// Asks for the top-level window of process `pid` (0: by name only) or,
// failing that, one whose WM_CLASS instance or class equals one of `names`
// (compared without regard to case).
ActivationResult ActivateProgramWindow(int64_t pid, const std::vector<std::string>& names);

// Whether the program runs on X11 (Qt's xcb platform).
bool HasX11();

}  // namespace host
