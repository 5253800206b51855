#include "host/sys/Folders.h"

#include <cerrno>
#include <cstring>

#include "host/files/FileOps.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace host {

namespace {

constexpr const char* kAppName = "Kivo-Processor";

std::optional<std::filesystem::path> absoluteEnv(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v || v[0] != '/') return std::nullopt;
  return std::filesystem::path(v);
}

std::filesystem::path xdgFolder(const char* name, const char* fallbackBelowHome) {
  if (auto p = absoluteEnv(name)) return *p;
  return homeFolder() / fallbackBelowHome;
}

}  // namespace

std::filesystem::path homeFolder() {
  if (auto home = absoluteEnv("HOME")) return *home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::filesystem::path executablePath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : p;
}

namespace {

// Whether the folder the executable lies in may serve as the application
// folder: one the user owns and can write, as a build folder or an unpacked
// copy is. A folder of programs never is, whoever owns it: an installed copy
// started as root from /usr/local/bin would otherwise spread its spool tree
// and logs among the system's programs. Folders of programs are those named
// bin, sbin or libexec and everything below the system's own trees.
bool executableFolderServes(const std::filesystem::path& folder) {
  if (folder.empty() || !folder.is_absolute()) return false;
  const std::string name = folder.filename().string();
  if (name == "bin" || name == "sbin" || name == "libexec") return false;
  const std::string text = folder.string() + "/";
  for (const char* system : {"/usr/", "/bin/", "/sbin/", "/lib/", "/lib64/", "/opt/", "/etc/", "/snap/"})
    if (text.rfind(system, 0) == 0) return false;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
  return ::access(folder.c_str(), W_OK) == 0;
}

// The application folder, and whether it is the fallback below the data home
// (the one folder of the three that the program makes itself).
std::pair<std::filesystem::path, bool> applicationFolderChoice() {
  if (const char* v = std::getenv("KIVO_APP_FOLDER"); v && *v) return {std::filesystem::absolute(v), false};
  std::filesystem::path exe = executablePath();
  if (!exe.empty() && executableFolderServes(exe.parent_path())) return {exe.parent_path(), false};
  return {xdgFolder("XDG_DATA_HOME", ".local/share") / kAppName, true};
}

}  // namespace

std::filesystem::path applicationFolderPath() { return applicationFolderChoice().first; }

std::filesystem::path applicationFolder() {
  auto [folder, fallback] = applicationFolderChoice();
  if (fallback) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
  }
  return folder;
}

bool ensureApplicationFolder(std::string* why) {
  const std::filesystem::path folder = applicationFolderPath();  // created just below
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder)) {
    if (why) *why = "the folder \"" + folder.string() + "\" cannot be created: " +
                    (ec ? ec.message() : std::string("something else is there"));
    return false;
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    if (why) *why = "the folder \"" + folder.string() + "\" cannot be written: " + std::strerror(errno);
    return false;
  }
  return true;
}

std::filesystem::path logsFolder() { return xdgFolder("XDG_STATE_HOME", ".local/state") / "Kivo"; }

std::filesystem::path configFolder() { return xdgFolder("XDG_CONFIG_HOME", ".config") / kAppName; }

std::filesystem::path defaultsFile() { return configFolder() / "defaults.plist"; }

std::filesystem::path userUnitsFolder() { return xdgFolder("XDG_CONFIG_HOME", ".config") / "systemd" / "user"; }

std::filesystem::path userDirectory(std::string_view key, const char* fallbackBelowHome) {
  const std::filesystem::path home = homeFolder();
  // user-dirs.dirs holds shell assignments: XDG_DESKTOP_DIR="$HOME/Desktop"
  // with either an absolute path or one relative to $HOME.
  const std::string prefix = "XDG_" + std::string(key) + "_DIR=";
  std::vector<std::uint8_t> bytes;
  ReadWholeFile((xdgFolder("XDG_CONFIG_HOME", ".config") / "user-dirs.dirs").string(), 1 << 20, &bytes, nullptr);
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string line;
  while (std::getline(in, line)) {
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, prefix.size(), prefix) != 0) continue;
    std::string value = line.substr(start + prefix.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t')) value.pop_back();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) {
      std::string rest = value.substr(5);
      while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
      // "$HOME/" alone means the home folder itself.
      return rest.empty() ? home : home / rest;
    }
    if (!value.empty() && value.front() == '/') return value;
  }
  return home / fallbackBelowHome;
}

std::filesystem::path desktopFolder() { return userDirectory("DESKTOP", "Desktop"); }

std::filesystem::path dataHomeFolder() { return xdgFolder("XDG_DATA_HOME", ".local/share"); }

std::filesystem::path cacheHomeFolder() { return xdgFolder("XDG_CACHE_HOME", ".cache"); }

std::vector<std::filesystem::path> iccProfileFolders() {
  return {"/usr/share/color/icc", "/usr/local/share/color/icc", xdgFolder("XDG_DATA_HOME", ".local/share") / "icc",
          homeFolder() / ".color/icc"};
}

std::optional<std::filesystem::path> runtimeFolder() {
  auto p = absoluteEnv("XDG_RUNTIME_DIR");
  std::error_code ec;
  if (p && std::filesystem::is_directory(*p, ec)) return p;
  return std::nullopt;
}

}  // namespace host
