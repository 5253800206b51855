// Running other programs with an argument vector (posix_spawn). No shell is
// involved, so file names with blanks, quotes or semicolons are passed as
// they are and never interpreted.
//
// The program is looked up on PATH when its name has no "/". The child's
// standard input is /dev/null, so it can never wait for typed input; its
// standard error is ours (the log).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace host {

struct ProcessOptions {
  // On expiry the child and every process of its group are killed.
  std::optional<std::chrono::milliseconds> timeout;
  // When the program is asked to end (host/sys/Termination.h), the child and
  // its group are killed within a fraction of a second instead of waited for.
  bool stopOnTermination = false;
  bool captureOutput = false;               // collect the child's standard output
  std::size_t maxOutputBytes = 16u << 20;   // output beyond this is read and dropped
  // Looked at whenever output arrives and at least every quarter second
  // while the child runs, with the output captured so far (of which it may
  // take what it has read). A reason given stops the child and its group
  // as a time limit does; ProcessResult::stoppedBy holds it.
  std::function<std::optional<std::string>(std::string& output)> watch;
};

struct ProcessResult {
  bool started = false;  // false: the program could not be run (see error)
  int exitStatus = -1;   // the exit code when the child exited normally
  int termSignal = 0;    // the signal that ended it, else 0
  bool timedOut = false;
  bool interrupted = false;  // killed because the program is ending
  std::string stoppedBy;     // why the watch stopped it
  std::string output;    // standard output when captured
  std::string error;     // why it could not be started
  bool succeeded() const { return started && !timedOut && !interrupted && stoppedBy.empty() && termSignal == 0 && exitStatus == 0;
  }
};

// Runs the program with the arguments (not counting argv[0], which is the
// program) and waits for it to end.
//
// A child with a time limit or one that stops on termination runs in a
// process group of its own, which is killed as a whole when it is stopped,
// when this program exits while it runs, and when this program dies without
// exiting, even by SIGKILL: a small guard process starts the program in that
// group and kills the group once this program's end of a pipe closes. What
// the program starts in a session or group of its own (setsid, setpgid) is
// beyond the group; under the user service the service's control group
// covers it.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options = {});

// Starts the program in a session of its own, with its standard streams on
// /dev/null, and returns at once; the child is reaped in the background when
// it ends. False (with a reason) when it
// could not be started.
bool startDetached(const std::string& program, const std::vector<std::string>& arguments,
                   std::string* error = nullptr);

// Starts the program as a child that the caller watches and reaps (see
// reapChild): in a process group of its own, standard input /dev/null, our
// standard output and error. `environment` adds to or replaces variables of
// this process's environment. Its process id, or -1 (with a reason) when it
// could not be started.
pid_t startChild(const std::string& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment = {}, std::string* error = nullptr);

// Collects a child that has ended: true (and its status when asked for)
// once it has; false while it still runs, or when it is not our child.
bool reapChild(pid_t pid, ProcessResult* result = nullptr);

// A descriptor that becomes readable when the process ends (pidfd), or -1
// with errno set where the kernel has none.
int openPidfd(pid_t pid);

// Runs `work` in a child forked from this process, so that a fault in code
// this program cannot mend (a library that crashes or never ends on a file
// it was given) ends the child and not the program. `work` writes what it
// makes to the descriptor it is given (a memory file) and returns the
// child's exit status; the child ends without running this program's exit
// handlers. The child is waited for as `options` say (timeout,
// stopOnTermination; it is killed at either), and the memory file's bytes
// are the result's output. Only the calling thread exists in the child:
// `work` must not wait for what another thread holds.
ProcessResult runForked(const std::function<int(int fd)>& work, const ProcessOptions& options = {});

}  // namespace host
