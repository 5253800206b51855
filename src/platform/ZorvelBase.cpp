#include "platform/ZorvelBase.h"

#include <gnu/libc-version.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "host/sys/Folders.h"
#include "host/sys/SystemInfo.h"
#include "platform/DiagnosticLog.h"
#include "platform/Log.h"

namespace {

namespace fs = std::filesystem;

// A user-domain path as the folder search gives it: "~" in place of the
// home folder.
std::string WithTilde(const fs::path& path) {
  const std::string home = host::homeFolder().lexically_normal().string();
  std::string p = path.lexically_normal().string();
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (home != "/" && (p == home || (p.size() > home.size() && p.compare(0, home.size(), home) == 0 &&
                                    p[home.size()] == '/'))) {
    return "~" + p.substr(home.size());
  }
  return p;
}

// The folders of one type, in domain order (user, local, network, system);
// an empty entry means "none in that domain".
std::vector<std::string> FoldersOf(ZORVEL_Base::DirectoryType type) {
  using B = ZORVEL_Base;
  const fs::path data = host::dataHomeFolder();
  switch (type) {
    case B::kApplicationDirectory:
      return {WithTilde(host::homeFolder() / ".local/bin"), "/usr/local/bin", "", "/usr/bin"};
    case B::kLibraryDirectory:
      return {WithTilde(data), "/usr/local/lib", "", "/usr/lib"};
    case B::kUserDirectory:
      return {"", "/home", "", ""};
    case B::kDocumentationDirectory:
      return {WithTilde(data / "doc"), "/usr/local/share/doc", "", "/usr/share/doc"};
    case B::kDocumentDirectory:
      return {WithTilde(host::userDirectory("DOCUMENTS", "Documents")), "", "", ""};
    case B::kDesktopDirectory:
      return {WithTilde(host::desktopFolder()), "", "", ""};
    case B::kCachesDirectory:
      return {WithTilde(host::cacheHomeFolder()), "/var/cache", "", ""};
    case B::kApplicationSupportDirectory:
      return {WithTilde(data), "/usr/local/share", "", "/usr/share"};
    case B::kDownloadsDirectory:
      return {WithTilde(host::userDirectory("DOWNLOAD", "Downloads")), "", "", ""};
    case B::kMoviesDirectory:
      return {WithTilde(host::userDirectory("VIDEOS", "Videos")), "", "", ""};
    case B::kMusicDirectory:
      return {WithTilde(host::userDirectory("MUSIC", "Music")), "", "", ""};
    case B::kPicturesDirectory:
      return {WithTilde(host::userDirectory("PICTURES", "Pictures")), "", "", ""};
    case B::kSharedPublicDirectory:
      return {WithTilde(host::userDirectory("PUBLICSHARE", "Public")), "", "", ""};
  }
  return {};
}

// The C library's version as a number ("2.36" gives 2.36).
double CLibraryVersion() {
  return std::strtod(gnu_get_libc_version(), nullptr);
}

}  // namespace

std::optional<std::string> ZORVEL_Base::firstFoundDirectoryType(DirectoryType type, unsigned domain) {
  if (domain == 0) domain = kAllDomains;
  const std::vector<std::string> folders = FoldersOf(type);
  for (size_t i = 0; i < folders.size(); ++i) {
    if ((domain & (1u << i)) && !folders[i].empty()) return folders[i];
  }
  return std::nullopt;
}

std::optional<ZORVEL_Base::VmStats> ZORVEL_Base::vmStats() {
  long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pageSize <= 0) pageSize = 4096;
  const long freePages = ::sysconf(_SC_AVPHYS_PAGES);
  if (freePages < 0) return std::nullopt;
  const uint64_t freeBytes = static_cast<uint64_t>(freePages) * static_cast<uint64_t>(pageSize);
  return VmStats{{"freePages", static_cast<uint64_t>(freePages)},
                 {"freeBytes", freeBytes},
                 {"freeMB", freeBytes / 1048576u}};
}

std::string ZORVEL_Base::hostModelAndArch() { return SVLogFileManager::hostModelAndArch(); }

std::optional<std::string> ZORVEL_Base::MakeSafeTempFile(int* fd, std::string* failure) {
  std::string folder;
  if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) {
    folder = tmp;
  } else {
    folder = P_tmpdir;
  }
  // The template lies inside the folder even when TMPDIR lacks the final
  // separator (otherwise the file would land beside the folder).
  if (folder.back() != '/') folder += '/';
  std::string path = folder + "XXXXXXXXXXXXXXXX";
  std::vector<char> buffer(path.begin(), path.end());
  buffer.push_back('\0');
  const int made = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (made < 0) {
    const int error = errno;
    if (failure) {
      *failure = platform::StringF("ERROR: failed to create temporary file %s (Error %d: %s)", path.c_str(), error,
                                   std::strerror(error));
    }
    return std::nullopt;
  }
  if (fd) {
    *fd = made;
  } else {
    ::close(made);
  }
  return std::string(buffer.data());
}

std::optional<std::string> ZORVEL_Base::safeTempFile(int* fd) {
  std::string failure;
  auto path = MakeSafeTempFile(fd, &failure);
  if (!path) platform::LogLine(failure);
  return path;
}

std::string ZORVEL_Base::systemVersionInfo() {
  long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pageSize <= 0) pageSize = 4096;
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const uint64_t memoryMB =
      pages > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) / 1048576u : 0;
  const auto stats = vmStats();
  const long long freeMB = stats ? static_cast<long long>(stats->at("freeMB")) : 0;
  const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
  const char* order = std::endian::native == std::endian::big      ? "BigEndian"
                      : std::endian::native == std::endian::little ? "LittleEndian"
                                                                   : "Unknown";
  return platform::StringF("%s foundation (%.3f);\n%lluMB (%lldMB free); %ld CPU; %s (%d-bit); %s",
                           host::systemVersionText().c_str(), CLibraryVersion(),
                           static_cast<unsigned long long>(memoryMB), freeMB, cpus > 0 ? cpus : 1L, order,
                           static_cast<int>(sizeof(void*) * 8), hostModelAndArch().c_str());
}

std::string ZORVEL_Base::startupInfo() {
  return std::string(80, '^') + "\n" + platform::ProcessName() + " starting up\n" + systemVersionInfo();
}
