// What the benchmarks that compare against vips share: vips itself run as a
// process (output to /dev/null) and timed. The reporting is in Report.h.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

// Runs vips with `args`; its wall time in milliseconds, -1 when it fails.
inline double RunVips(std::vector<std::string> args) {
  std::vector<char*> argv;
  args.insert(args.begin(), "vips");
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "vips", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The fastest of `runs` runs; -1 when any run fails.
inline double BestOf(int runs, const std::vector<std::string>& args) {
  double best = -1;
  for (int i = 0; i < runs; ++i) {
    const double t = RunVips(args);
    if (t < 0) return -1;
    best = best < 0 ? t : std::min(best, t);
  }
  return best;
}

}  // namespace bench
