// Splitting of the engine's heavy passes over worker threads. A pass is cut
// into N consecutive shares (share i starts at i * (n / N); the last share
// takes the remainder) that run as tasks on the process's worker pool while
// the caller waits (and helps); the caller returns only after every share is
// done. Each share writes only its own part of the output, so the result does
// not depend on N or on how many threads the pool has.
#pragma once

#include <functional>

namespace chromakey {

// The default worker count the callers pass (1: everything on the caller's thread).
extern int gNumKeyerThreads;

// Calls fn(begin, end) over [0, n) in `workers` shares. workers < 2 or n < 2
// runs fn(0, n) on the caller's thread. False when a share failed with an
// exception (its part of the output is then incomplete).
bool split_pass(int workers, long n, const std::function<void(long, long)>& fn);

}  // namespace chromakey
