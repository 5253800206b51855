// Event polling during long work: lets the application repaint its windows
// while a job step runs. The application sets the repaint hook at start-up
// (the default does nothing, so headless runs need nothing) and the switch
// that says whether polling is allowed (the print-server preferences' switch).
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

using PollHook = std::function<void()>;
using PollSwitch = std::function<bool()>;
using TickSource = std::function<uint32_t()>;

// Repaints the application's windows; empty restores the default (nothing).
void SetApplicationPollHook(PollHook hook);
// Whether polling is allowed; empty restores the default (allowed).
void SetPollSwitch(PollSwitch enabled);
// The tick clock (60 ticks a second since the system started); empty
// restores the system clock. Tests use it to step time.
void SetTickSource(TickSource source);

uint32_t TickCount();

// The progress display's idle step, which animates an open-ended progress
// bar during long loops; installed by the owner of the progress display for
// its lifetime. Without a progress display there is nothing to animate.
void SetProgressIdleHook(PollHook hook);

}  // namespace platform

// Idles the progress display (see SetProgressIdleHook).
void myIdleProgress();

// Asks the application to update all its windows.
void myNewApplicationPollEvent();
void myApplicationPollEvent();
void doApplicationPollEvent();
// Polls when the switch allows it.
void myPollEvent();
// Polls when the switch allows it and more than the poll interval has passed
// since the last poll.
void myPollEventOnTicks();

int32_t myGetLastPollTicks();
// Stores 0 for a value of 0 or less; returns the stored value.
int32_t mySetLastPollTicks(int32_t ticks);
int16_t myGetPollTicks();
