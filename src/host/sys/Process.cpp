#include "host/sys/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

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

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

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

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options) {
  ProcessResult result;
  int pipeFds[2] = {-1, -1};
  if (options.captureOutput && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
    result.error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return result;
  }
  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (options.captureOutput) posix_spawn_file_actions_adddup2(&setup.actions, pipeFds[1], STDOUT_FILENO);
  short flags = 0;
  if (options.timeout) {
    // Its own process group, so that a timeout also ends what it started.
    posix_spawnattr_setpgroup(&setup.attr, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  setup.resetSignals(flags);

  std::vector<char*> argv = makeArgv(program, arguments);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
  if (pipeFds[1] >= 0) ::close(pipeFds[1]);
  if (rc != 0) {
    if (pipeFds[0] >= 0) ::close(pipeFds[0]);
    result.error = "cannot run " + program + ": " + std::strerror(rc);
    return result;
  }
  result.started = true;

  const std::size_t cap = options.maxOutputBytes;
  const auto deadline = options.timeout ? Clock::now() + *options.timeout : Clock::time_point::max();
  int outFd = pipeFds[0];
  if (outFd >= 0) ::fcntl(outFd, F_SETFL, ::fcntl(outFd, F_GETFL) | O_NONBLOCK);
  int status = 0;
  bool exited = false;

  if (outFd < 0 && !options.timeout) {
    exited = reap(pid, 0, status);
  } else {
    int pidFd = openPidfd(pid);
    while (!exited) {
      int waitMs = -1;
      if (options.timeout) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
          result.timedOut = true;
          ::kill(-pid, SIGKILL);
          exited = reap(pid, 0, status);
          break;
        }
        waitMs = static_cast<int>(std::min<long long>(left, 1 << 30));
      }
      // Without a process descriptor the exit is noticed by polling waitpid
      // every 50 ms.
      if (pidFd < 0) waitMs = waitMs < 0 ? 50 : std::min(waitMs, 50);
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
      exited = reap(pid, WNOHANG, status);
    }
    if (pidFd >= 0) ::close(pidFd);
    if (!exited) exited = reap(pid, 0, status);
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

}  // namespace host
