// Splitting of the engine's heavy passes over worker threads. A pass is cut
// into N consecutive shares (share i starts at i * (n / N); the last share
// takes the remainder); every share but the first runs on a thread of its own,
// the first on the caller's thread, and the caller returns only after all
// shares are done. Each share writes only its own part of the output, so the
// result does not depend on N. A thread that cannot be started has its share
// done by the caller.
#pragma once

#include <functional>

namespace chromakey {

// The default worker count the callers pass (1: everything on the caller's thread).
extern int gNumKeyerThreads;

// Calls fn(begin, end) over [0, n) in `workers` shares. workers < 2 or n < 2
// runs fn(0, n) on the caller's thread.
void split_pass(int workers, long n, const std::function<void(long, long)>& fn);

}  // namespace chromakey
