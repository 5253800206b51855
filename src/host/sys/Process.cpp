#include "host/sys/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>

#include "host/sys/Termination.h"

extern char** environ;

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> makeArgv(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  // Default signal handling in the child, whatever the parent ignores.
  void resetSignals(short flags) {
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, static_cast<short>(flags | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK));
  }
};


void appendOutput(ProcessResult& result, const char* data, std::size_t n, std::size_t cap) {
  if (result.output.size() < cap) result.output.append(data, std::min(n, cap - result.output.size()));
}

// Reads what the pipe holds now; false once it reached its end.
bool drainPipe(int fd, ProcessResult& result, std::size_t cap) {
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      appendOutput(result, buffer, static_cast<std::size_t>(n), cap);
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
}

void recordStatus(ProcessResult& result, int status) {
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
}

bool reap(pid_t pid, int options, int& status) {
  for (;;) {
    pid_t r = ::waitpid(pid, &status, options);
    if (r == pid) return true;
    if (r < 0 && errno == EINTR) continue;
    return false;
  }
}

// The process groups of the supervised children that run now: killed when
// the program exits while one of them still runs.
std::mutex gGroupsMutex;
std::set<pid_t> gGroups;

void KillRunningGroups() {
  std::lock_guard<std::mutex> lock(gGroupsMutex);
  for (pid_t group : gGroups) ::kill(-group, SIGKILL);
  gGroups.clear();
}

void RegisterGroup(pid_t group) {
  static std::once_flag once;
  std::call_once(once, [] { std::atexit(KillRunningGroups); });
  std::lock_guard<std::mutex> lock(gGroupsMutex);
  gGroups.insert(group);
}

void UnregisterGroup(pid_t group) {
  std::lock_guard<std::mutex> lock(gGroupsMutex);
  gGroups.erase(group);
}

// The program's path as execve needs it: a name without "/" is looked up
// on PATH here, before the fork, since the child may only make
// async-signal-safe calls.
std::string ResolveProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* env = std::getenv("PATH");
  const std::string path = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    // An empty entry is the current folder.
    std::string folder(end > start ? std::string_view(path).substr(start, end - start) : std::string_view("."));
    start = end + 1;
    std::string candidate = std::move(folder);
    candidate += '/';
    candidate += program;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

// The guard's side of a supervised child: it has started the program as
// `worker` in its own process group and waits for either end. When this
// program dies (its end of the life line closes, by any death, SIGKILL
// included) the guard kills the whole group, itself with it; when the
// worker ends, the guard ends the same way. Only async-signal-safe calls:
// it runs in the child of a fork, without an exec.
[[noreturn]] void GuardGroup(pid_t worker, int lifeline) {
  const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, worker, 0));
  for (;;) {
    pollfd fds[2] = {{lifeline, POLLIN, 0}, {pidFd, POLLIN, 0}};
    const int n = ::poll(fds, pidFd >= 0 ? 2 : 1, pidFd >= 0 ? -1 : 100);
    if (n > 0 && fds[0].revents != 0) ::kill(0, SIGKILL);  // the program is gone
    int status = 0;
    const pid_t r = ::waitpid(worker, &status, WNOHANG);
    if (r == worker) {
      if (WIFEXITED(status)) ::_exit(WEXITSTATUS(status));
      const int sig = WIFSIGNALED(status) ? WTERMSIG(status) : SIGKILL;
      // Ended by a signal: the guard ends by the same one, without a core.
      struct rlimit none {};
      ::setrlimit(RLIMIT_CORE, &none);
      struct sigaction dfl {};
      dfl.sa_handler = SIG_DFL;
      ::sigaction(sig, &dfl, nullptr);
      sigset_t only;
      sigemptyset(&only);
      sigaddset(&only, sig);
      ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
      ::kill(::getpid(), sig);
      ::_exit(128 + sig);
    }
    if (r < 0 && errno != EINTR) ::_exit(127);
  }
}

// Starts a child in a process group of its own that dies with this process.
// The child is a guard that starts the program and kills the whole group
// when this process dies, however it dies (see GuardGroup); the program
// itself also gets the parent-death signal from the guard. `lifeline` is
// this process's end of the pipe the guard watches: closed after the child
// is reaped. Returns 0 on success or the errno of what failed, in the parent
// or before the program's exec.
int SpawnSupervised(const std::string& program, std::vector<char*>& argv, int stdoutFd, pid_t* pid,
                    int* lifeline) {
  const std::string path = ResolveProgram(program);
  if (path.empty()) return ENOENT;
  int status[2];
  if (::pipe2(status, O_CLOEXEC) != 0) return errno;
  int life[2];
  if (::pipe2(life, O_CLOEXEC) != 0) {
    const int e = errno;
    ::close(status[0]);
    ::close(status[1]);
    return e;
  }
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) {
    const int e = errno;
    for (int fd : {status[0], status[1], life[0], life[1]}) ::close(fd);
    return e;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here to the exec.
    ::setpgid(0, 0);
    ::close(life[1]);
    if (::getppid() != parent) ::_exit(127);  // the parent died already
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
      if (sig != SIGKILL && sig != SIGSTOP) ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = ::open("/dev/null", O_RDWR);
    if (in >= 0 && in != STDIN_FILENO) ::dup2(in, STDIN_FILENO);
    if (stdoutFd >= 0) ::dup2(stdoutFd, STDOUT_FILENO);
    const pid_t guard = ::getpid();
    const pid_t worker = ::fork();
    if (worker == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != guard) ::_exit(127);  // the guard died already
      if (in > STDERR_FILENO) ::close(in);
      ::execve(path.c_str(), argv.data(), environ);
      const int e = errno;
      [[maybe_unused]] ssize_t n = ::write(status[1], &e, sizeof e);
      ::_exit(127);
    }
    if (worker < 0) {
      const int e = errno;
      [[maybe_unused]] ssize_t n = ::write(status[1], &e, sizeof e);
      ::_exit(127);
    }
    // The guard keeps nothing of ours but the life line (as descriptor 3)
    // and standard error: no pipe end of the caller's, no lock.
    if (in >= 0) ::dup2(in, STDOUT_FILENO);
    if (life[0] != 3) {
      ::dup2(life[0], 3);
      ::close(life[0]);
    }
    if (::syscall(SYS_close_range, 4u, ~0u, 0u) != 0)
      for (int fd = 4; fd < 65536; ++fd) ::close(fd);
    GuardGroup(worker, 3);
  }
  ::close(status[1]);
  ::close(life[0]);
  // The group exists from the parent's side too, so that a kill right away
  // reaches it whichever of the two ran first.
  ::setpgid(child, child);
  int childErr = 0;
  ssize_t n;
  do n = ::read(status[0], &childErr, sizeof childErr);
  while (n < 0 && errno == EINTR);
  ::close(status[0]);
  if (n == sizeof childErr) {
    int ignored = 0;
    ::waitpid(child, &ignored, 0);
    ::close(life[1]);
    return childErr;
  }
  *pid = child;
  *lifeline = life[1];
  return 0;
}

// True once the child has ended; it stays a zombie until reaped.
bool hasEnded(pid_t pid) {
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) return info.si_pid == pid;
    if (errno != EINTR) return true;  // nothing to wait for
  }
}

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options) {
  ProcessResult result;
  int pipeFds[2] = {-1, -1};
  if (options.captureOutput && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
    result.error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return result;
  }
  const bool supervised = options.timeout || options.stopOnTermination || options.watch;
  std::vector<char*> argv = makeArgv(program, arguments);
  pid_t pid = -1;
  int lifeline = -1;
  int rc = 0;
  if (supervised) {
    rc = SpawnSupervised(program, argv, pipeFds[1], &pid, &lifeline);
  } else {
    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (options.captureOutput) posix_spawn_file_actions_adddup2(&setup.actions, pipeFds[1], STDOUT_FILENO);
    setup.resetSignals(0);
    rc = ::posix_spawnp(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
  }
  if (pipeFds[1] >= 0) ::close(pipeFds[1]);
  if (rc != 0) {
    if (pipeFds[0] >= 0) ::close(pipeFds[0]);
    result.error = "cannot run " + program + ": " + std::strerror(rc);
    return result;
  }
  if (supervised) RegisterGroup(pid);
  result.started = true;

  const std::size_t cap = options.maxOutputBytes;
  const auto deadline = options.timeout ? Clock::now() + *options.timeout : Clock::time_point::max();
  int outFd = pipeFds[0];
  if (outFd >= 0) ::fcntl(outFd, F_SETFL, ::fcntl(outFd, F_GETFL) | O_NONBLOCK);
  int status = 0;
  bool exited = false;

  if (!supervised && outFd < 0) {
    exited = reap(pid, 0, status);
  } else {
    int pidFd = openPidfd(pid);
    while (!exited) {
      int waitMs = -1;
      const bool stop = options.stopOnTermination && TerminationRequested();
      if (stop || options.timeout) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (stop || left <= 0) {
          (stop ? result.interrupted : result.timedOut) = true;
          ::kill(-pid, SIGKILL);
          break;
        }
        waitMs = static_cast<int>(std::min<long long>(left, 1 << 30));
      }
      // Without a process descriptor the exit is noticed by polling waitpid
      // every 50 ms; a request to end is looked at every 100 ms.
      if (pidFd < 0) waitMs = waitMs < 0 ? 50 : std::min(waitMs, 50);
      if (options.stopOnTermination) waitMs = waitMs < 0 ? 100 : std::min(waitMs, 100);
      if (options.watch) waitMs = waitMs < 0 ? 250 : std::min(waitMs, 250);
      pollfd fds[2];
      nfds_t n = 0;
      if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
      if (pidFd >= 0) fds[n++] = {pidFd, POLLIN, 0};
      int pr = ::poll(fds, n, waitMs);
      if (pr < 0 && errno != EINTR) break;
      if (outFd >= 0 && !drainPipe(outFd, result, cap)) {
        ::close(outFd);
        outFd = -1;
      }
      exited = supervised ? hasEnded(pid) : reap(pid, WNOHANG, status);
      if (!exited && options.watch) {
        if (auto why = options.watch(result.output)) {
          result.stoppedBy = why->empty() ? std::string("stopped by its watch") : *why;
          ::kill(-pid, SIGKILL);
          break;
        }
      }
    }
    if (pidFd >= 0) ::close(pidFd);
    if (supervised) {
      // A child that was stopped takes everything it started with it; the
      // child is not reaped before this, so its group id cannot have been
      // handed to another process. What a child that ended by itself left
      // running (a program it started on purpose) is left alone.
      if (result.timedOut || result.interrupted || !result.stoppedBy.empty()) ::kill(-pid, SIGKILL);
      UnregisterGroup(pid);
      exited = false;
    }
    if (!exited) exited = reap(pid, 0, status);
    if (lifeline >= 0) ::close(lifeline);
    // What the child wrote before it ended is still in the pipe; anything its
    // own children write later is not waited for.
    if (outFd >= 0) {
      drainPipe(outFd, result, cap);
      ::close(outFd);
    }
  }
  if (exited) recordStatus(result, status);
  return result;
}

bool startDetached(const std::string& program, const std::vector<std::string>& arguments, std::string* error) {
  SpawnSetup setup;
  // Fully detached: it keeps none of our standard streams open, so nothing
  // that reads our output waits for it.
  posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  setup.resetSignals(POSIX_SPAWN_SETSID);
  std::vector<char*> argv = makeArgv(program, arguments);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
  if (rc != 0) {
    if (error) *error = "cannot run " + program + ": " + std::strerror(rc);
    return false;
  }
  std::thread([pid] {
    int status = 0;
    reap(pid, 0, status);
  }).detach();
  return true;
}

pid_t startChild(const std::string& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment, std::string* error) {
  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_setpgroup(&setup.attr, 0);
  setup.resetSignals(POSIX_SPAWN_SETPGROUP);
  std::vector<std::string> variables;
  for (char** e = environ; e && *e; ++e) {
    const std::string entry(*e);
    if (!environment.count(entry.substr(0, entry.find('=')))) variables.push_back(entry);
  }
  for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  std::vector<char*> argv = makeArgv(program, arguments);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), envp.data());
  if (rc != 0) {
    if (error) *error = "cannot run " + program + ": " + std::strerror(rc);
    return -1;
  }
  return pid;
}

bool reapChild(pid_t pid, ProcessResult* result) {
  if (pid <= 0) return false;
  int status = 0;
  if (!reap(pid, WNOHANG, status)) return false;
  if (result) {
    result->started = true;
    recordStatus(*result, status);
  }
  return true;
}

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

ProcessResult runForked(const std::function<int(int fd)>& work, const ProcessOptions& options) {
  ProcessResult result;
  const int memory = ::memfd_create("kivo-forked", MFD_CLOEXEC);
  if (memory < 0) {
    result.error = std::string("no memory file for the child: ") + std::strerror(errno);
    return result;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    result.error = std::string("the child could not be started: ") + std::strerror(errno);
    ::close(memory);
    return result;
  }
  if (pid == 0) {
    // A fault ends the child at once, whatever handlers this program set.
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) ::signal(sig, SIG_DFL);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::_exit(work(memory));
  }
  result.started = true;
  const int pidfd = openPidfd(pid);
  const auto deadline = options.timeout ? Clock::now() + *options.timeout : Clock::time_point::max();
  int status = 0;
  for (;;) {
    if (reap(pid, WNOHANG, status)) break;
    const bool late = Clock::now() >= deadline;
    const bool ending = options.stopOnTermination && TerminationRequested();
    if (late || ending) {
      ::kill(pid, SIGKILL);
      reap(pid, 0, status);
      result.timedOut = late && !ending;
      result.interrupted = ending;
      break;
    }
    if (pidfd >= 0) {
      pollfd ended{pidfd, POLLIN, 0};
      ::poll(&ended, 1, 250);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  recordStatus(result, status);
  struct stat st {};
  if (::fstat(memory, &st) == 0 && st.st_size > 0) {
    result.output.resize(size_t(st.st_size));
    size_t got = 0;
    while (got < result.output.size()) {
      const ssize_t n = ::pread(memory, result.output.data() + got, result.output.size() - got, off_t(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += size_t(n);
    }
    result.output.resize(got);
  }
  ::close(memory);
  return result;
}

}  // namespace host
