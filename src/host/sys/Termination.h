// Whether the system has asked the program to end (SIGTERM or SIGINT).
//
// The signal handler notes the request; every wait on a neighbour that may
// last (a printer that does not answer, a child program that hangs) looks at
// it at least every few tenths of a second and gives way, so the program
// ends within seconds however busy its job step is. The request is never
// withdrawn.
#pragma once

namespace host {

// Async-signal-safe: only stores a flag.
void NoteTerminationRequested() noexcept;
bool TerminationRequested() noexcept;

// The same flag as an int that libraries poll as a cancel switch (non-zero:
// stop); it must not be written through.
int* TerminationCancelFlag() noexcept;

}  // namespace host
