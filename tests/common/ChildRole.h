// Test code that must run in a process of its own (as another user, as a
// second station counting beside the program, as a second holder of a lock)
// runs in a fresh copy of this test program, started through posix_spawn,
// never in a forked child of the test: a child forked from a threaded test
// process that allocates before an exec can stop for good on a lock another
// thread held at the fork.
//
//   const testing_support::RegisterChildRole kIntruder("intruder", [] { ...; return 0; });
//   const pid_t pid = testing_support::StartChildRole("intruder", {{"KIVO_E2E_STOP", stop}});
//   int status = testing_support::WaitChild(pid, 60);
//
// The copy plays the role named in KIVO_TEST_CHILD_ROLE before any test and
// ends with the role's result as its exit status; its parameters come in
// environment variables.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "common/Spawn.h"

namespace testing_support {

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
    const char* name = std::getenv("KIVO_TEST_CHILD_ROLE");
    if (!name) return;
    const auto role = ChildRoles().find(name);
    _exit(role == ChildRoles().end() ? 125 : role->second());
  }
};

inline ::testing::Environment* const kChildRoleEnvironment =
    ::testing::AddGlobalTestEnvironment(new ChildRoleEnvironment);

// Starts a copy of this program for `role` with `environment` added; its
// process id, or -1. Its own output is dropped unless `outputFile` names a
// file for it.
inline pid_t StartChildRole(const std::string& role, const std::map<std::string, std::string>& environment,
                            const std::string& outputFile = "/dev/null") {
  SpawnOptions spawn;
  // Under its own path, so that the copy has this program's name.
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  spawn.words = {ec ? std::string("/proc/self/exe") : self.string()};
  spawn.outputFile = outputFile;
  spawn.errorToOutput = true;
  spawn.environment = {{"KIVO_TEST_CHILD_ROLE", role},
                       {"GTEST_TOTAL_SHARDS", std::nullopt},
                       {"GTEST_SHARD_INDEX", std::nullopt}};
  for (const auto& [name, value] : environment) spawn.environment[name] = value;
  return SpawnProgram(spawn);
}

// The child's exit status (128 + a signal that ended it); -1 when it did
// not end within `seconds` (it is then killed).
inline int WaitChild(pid_t pid, double seconds) { return WaitForExitOrKill(pid, seconds); }

}  // namespace testing_support
