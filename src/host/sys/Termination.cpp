#include "host/sys/Termination.h"

#include <csignal>
#include <type_traits>

namespace host {

namespace {

// sig_atomic_t is what a signal handler may store into; libraries that take
// a cancel switch read an int, which it is on Linux.
static_assert(std::is_same_v<sig_atomic_t, int>);
volatile sig_atomic_t gTerminationRequested = 0;

}  // namespace

void NoteTerminationRequested() noexcept { gTerminationRequested = 1; }

bool TerminationRequested() noexcept { return gTerminationRequested != 0; }

int* TerminationCancelFlag() noexcept { return const_cast<int*>(&gTerminationRequested); }

}  // namespace host
