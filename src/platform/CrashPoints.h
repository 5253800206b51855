// Moments at which the program's durable state has just changed: a record
// of printed jobs written, an output renamed into place. Tests of crash
// recovery name one in the environment, KIVO_KILL_AT_POINT=<n> (the n-th
// such moment of the run), and the program kills itself there with SIGKILL,
// so that every such moment is reached. Without the variable nothing
// happens.
#pragma once

namespace platform {

void PassCrashPoint();

}  // namespace platform
