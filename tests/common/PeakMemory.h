// The resident-memory peak of a process: "VmHWM" in /proc/<pid>/status, set
// back to the present resident size by writing 5 to /proc/<pid>/clear_refs,
// so that a test can see the most one step of a program (or of the test
// itself) held at any moment. Only pages actually touched count: memory
// reserved and never written costs nothing here, as it costs the machine
// nothing.
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace testing_support {

// "self" for the calling process.
inline std::string ProcFolder(pid_t pid = 0) { return "/proc/" + (pid > 0 ? std::to_string(pid) : "self"); }

// A "<field>: <n> kB" line of the status file, in kB; -1 when it cannot be
// read (the process is gone).
inline long StatusKiB(const std::string& field, pid_t pid = 0) {
  std::ifstream status(ProcFolder(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  return -1;
}

inline long PeakResidentKiB(pid_t pid = 0) { return StatusKiB("VmHWM", pid); }
inline long ResidentKiB(pid_t pid = 0) { return StatusKiB("VmRSS", pid); }

// Starts a new peak at the present resident size; false when the kernel
// refused (the process is gone or not ours).
inline bool ResetPeakResident(pid_t pid = 0) {
  std::ofstream clear(ProcFolder(pid) + "/clear_refs");
  clear << "5";
  clear.flush();
  return bool(clear);
}

// How far the resident size of this process rose above where it stood while
// `step` ran, in MiB; -1 when the peak cannot be measured.
template <class Step>
long PeakRiseMiB(Step&& step) {
  if (!ResetPeakResident()) return -1;
  const long before = ResidentKiB();
  step();
  const long peak = PeakResidentKiB();
  if (before < 0 || peak < 0) return -1;
  return (peak - before) / 1024;
}

}  // namespace testing_support
