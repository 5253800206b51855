// Starting a program from a test without running any of the test's own code
// in the child.
//
// A test process has threads (fake servers, Qt's, the worker pool), and a
// child made by fork() that allocates before its exec can stop for good on
// a lock another thread held at the fork (the sanitizer's allocator does not
// guard against that). Everything is prepared here in the parent, and
// posix_spawn does only the descriptor moves and the exec in the child.
//
// Every program starts with default signal handling and nothing blocked,
// whatever the test program inherited: a test run by a script that ignores
// SIGINT (`make test &` in a job-control-less shell) must not hand that on,
// or a program that relies on Ctrl-C would behave differently under it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testing_support {

struct SpawnOptions {
  // The program (looked up in PATH when it has no "/") and its arguments.
  std::vector<std::string> words;
  // Variables to set, or to remove (nullopt), over the test's environment;
  // with `clearEnvironment` over an empty one.
  std::map<std::string, std::optional<std::string>> environment;
  bool clearEnvironment = false;
  // Where standard output and error go: a file (created when missing,
  // appended to or truncated), or a descriptor of the caller's; by default
  // the test's own. `errorToOutput` sends standard error where standard
  // output goes.
  std::string outputFile;
  std::string errorFile;
  bool truncate = false;
  int outputFd = -1;
  bool errorToOutput = false;
  // Descriptors of the caller's to close in the child (the other end of a
  // pipe).
  std::vector<int> closeInChild;
  // The child's working folder; empty keeps the test's.
  std::string directory;
  // A process group of its own, as a terminal gives a command.
  bool newProcessGroup = false;
};

// Starts the program; its process id, or -1 when it could not be started.
inline pid_t SpawnProgram(const SpawnOptions& options) {
  if (options.words.empty()) return -1;
  std::map<std::string, std::string> values;
  if (!options.clearEnvironment) {
    for (char** e = environ; e && *e; ++e) {
      const std::string entry(*e);
      const size_t equals = entry.find('=');
      if (equals != std::string::npos) values[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
  }
  for (const auto& [name, value] : options.environment) {
    if (value) values[name] = *value;
    else values.erase(name);
  }
  std::vector<std::string> entries;
  for (const auto& [name, value] : values) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> words = options.words;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  const int flags = O_WRONLY | O_CREAT | (options.truncate ? O_TRUNC : O_APPEND);
  for (int fd : options.closeInChild) posix_spawn_file_actions_addclose(&actions, fd);
  if (!options.outputFile.empty())
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.outputFile.c_str(), flags, 0644);
  else if (options.outputFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, options.outputFd, STDOUT_FILENO);
  if (options.errorToOutput)
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  else if (!options.errorFile.empty())
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.errorFile.c_str(), flags, 0644);
  if (options.outputFd > STDERR_FILENO) posix_spawn_file_actions_addclose(&actions, options.outputFd);
  if (!options.directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str());
  sigset_t everySignal, noSignal;
  sigfillset(&everySignal);
  sigemptyset(&noSignal);
  posix_spawnattr_setsigdefault(&attributes, &everySignal);
  posix_spawnattr_setsigmask(&attributes, &noSignal);
  short spawnFlags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (options.newProcessGroup) {
    posix_spawnattr_setpgroup(&attributes, 0);
    spawnFlags |= POSIX_SPAWN_SETPGROUP;
  }
  posix_spawnattr_setflags(&attributes, spawnFlags);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return rc == 0 ? pid : -1;
}

// Waits up to `seconds` for the started program `pid` to end and collects
// it: its exit status, 128 + the signal that ended it, or -1 when it has
// not ended by then (it is left running).
inline int WaitForExit(pid_t pid, double seconds) {
  if (pid <= 0) return -1;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The same, and a program that has not ended by then is killed and
// collected (-1).
inline int WaitForExitOrKill(pid_t pid, double seconds) {
  const int status = WaitForExit(pid, seconds);
  if (status == -1 && pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return status;
}

}  // namespace testing_support
