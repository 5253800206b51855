// Test code that must run in a process of its own (as another user, or as a
// second station counting beside the program) runs in a fresh copy of this
// test program, started through posix_spawn, never in a forked child of the
// test: a child forked from the threaded test process that allocates before
// an exec can stop for good on a lock another thread held at the fork.
//
//   const e2e::RegisterChildRole kIntruder("intruder", [] { ...; return 0; });
//   const pid_t pid = e2e::StartChildRole("intruder", {{"KIVO_E2E_STOP", stop}});
//   int status = e2e::WaitChild(pid, 60);
//
// The copy plays the role named in KIVO_E2E_CHILD_ROLE before any test and
// ends with the role's result as its exit status; its parameters come in
// environment variables.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "common/Spawn.h"
#include "e2e/E2E.h"

namespace e2e {

using ChildRoleFunction = int (*)();

inline std::map<std::string, ChildRoleFunction>& ChildRoles() {
  static std::map<std::string, ChildRoleFunction> roles;
  return roles;
}

struct RegisterChildRole {
  RegisterChildRole(const char* name, ChildRoleFunction role) { ChildRoles()[name] = role; }
};

// Plays the role when this copy was started for one, and ends.
class ChildRoleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* name = std::getenv("KIVO_E2E_CHILD_ROLE");
    if (!name) return;
    const auto role = ChildRoles().find(name);
    _exit(role == ChildRoles().end() ? 125 : role->second());
  }
};

inline ::testing::Environment* const kChildRoleEnvironment =
    ::testing::AddGlobalTestEnvironment(new ChildRoleEnvironment);

// Starts a copy of this program for `role` with `environment` added; its
// process id, or -1. Its own output is dropped.
inline pid_t StartChildRole(const std::string& role, const std::map<std::string, std::string>& environment) {
  testing_support::SpawnOptions spawn;
  spawn.words = {"/proc/self/exe"};
  spawn.outputFile = "/dev/null";
  spawn.errorToOutput = true;
  spawn.environment = {{"KIVO_E2E_CHILD_ROLE", role},
                       {"GTEST_TOTAL_SHARDS", std::nullopt},
                       {"GTEST_SHARD_INDEX", std::nullopt}};
  for (const auto& [name, value] : environment) spawn.environment[name] = value;
  return testing_support::SpawnProgram(spawn);
}

// The child's exit status; -1 when it did not end within `seconds` (it is
// then killed) or ended by a signal.
inline int WaitChild(pid_t pid, double seconds) {
  if (pid <= 0) return -1;
  int status = 0;
  if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace e2e
