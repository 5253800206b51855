// The programs running on this machine, as /proc lists them.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace host {

struct RunningProgram {
  pid_t pid = 0;
  std::string name;                 // the file name of its executable, else its command name
  std::filesystem::path executable;  // empty when it cannot be read (another user's process)
};

// Every process whose entry could be read, lowest process id first.
// `procFolder` is replaceable for tests.
std::vector<RunningProgram> runningPrograms(const std::filesystem::path& procFolder = "/proc");

}  // namespace host
