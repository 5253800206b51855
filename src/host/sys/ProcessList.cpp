#include "host/sys/ProcessList.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace host {

namespace fs = std::filesystem;

std::vector<RunningProgram> runningPrograms(const fs::path& procFolder) {
  std::vector<RunningProgram> programs;
  std::error_code ec;
  for (fs::directory_iterator it(procFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (entry.empty() || !std::all_of(entry.begin(), entry.end(), [](unsigned char c) { return std::isdigit(c); }))
      continue;
    RunningProgram p;
    p.pid = pid_t(std::stol(entry));
    std::error_code linkError;
    p.executable = fs::read_symlink(it->path() / "exe", linkError);
    if (linkError) p.executable.clear();
    std::string exeName = p.executable.filename().string();
    // A replaced executable reads as "<path> (deleted)".
    if (const auto at = exeName.find(" (deleted)"); at != std::string::npos) exeName.resize(at);
    if (!exeName.empty()) {
      p.name = exeName;
    } else {
      std::ifstream comm(it->path() / "comm");
      std::getline(comm, p.name);
    }
    if (!p.name.empty()) programs.push_back(std::move(p));
  }
  std::sort(programs.begin(), programs.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
  return programs;
}

}  // namespace host
