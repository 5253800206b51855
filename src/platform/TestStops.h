// Points where the end-to-end tests stop the program to kill it there.
//
// When KIVO_STOP_AT names a point, the program stops itself (SIGSTOP) each
// time it reaches that point, so that a test can kill it at exactly that
// moment; unset, nothing happens. The points are the durable steps of
// handing a job's output over: "placing-recorded" (the output is recorded
// and not yet handed over), "output-placed" (handed over, not yet recorded
// as complete) and "output-recorded" (recorded as complete).
#pragma once

namespace platform {

void StopHereForTests(const char* point);

}  // namespace platform
