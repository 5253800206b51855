// Named moments at which the program's durable state has just changed (a
// record of printed jobs written, an output renamed into place, a count
// store taken). Tests of crash recovery name one in the environment and the
// program kills or stops itself there, so that every such moment can be
// reached:
//
//   KIVO_KILL_AT=<point>:<n>  SIGKILL the n-th time <point> is passed
//   KIVO_KILL_AT=<point>      SIGKILL the first time <point> is passed
//   KIVO_KILL_AT=<n>          SIGKILL at the n-th point passed, whichever
//   KIVO_STOP_AT=<point>      SIGSTOP each time <point> is passed, so that a
//                             test can SIGKILL the program exactly there
//
// A count of 0 or less, or an empty or unset variable, does nothing. Unset,
// passing a point costs one test of a flag read once.
#pragma once

#include <string>

namespace platform {

void PassCrashPoint(const char* point);

// What KIVO_KILL_AT says: the point (empty for any point) and how many
// passes it takes; an empty point and 0 when it says nothing.
struct KillAt {
  std::string point;
  long passes = 0;
};
KillAt ParseKillAt(const char* text);

}  // namespace platform
