#include "platform/ZorvelLog.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <vector>

#include "host/files/FileManager.h"
#include "host/notify/DistributedNotifications.h"
#include "host/files/FileOps.h"
#include "host/files/NoLinkFile.h"
#include "host/sys/Folders.h"
#include "platform/DiagnosticLog.h"
#include "platform/Log.h"
#include "platform/ZorvelAdditions.h"

namespace fs = std::filesystem;

namespace zorvel {
std::string _gApplicationName = platform::ProcessName();
std::optional<std::string> _gLogString = std::string();
std::optional<std::string> _gLogFilePath;
FILE* _gLogFileHandle = nullptr;
bool _gShouldLogAppName = false;
bool _gShouldLogToStdErr = false;
bool _gShouldNotifyForUpdates = false;
int _gSeenSignal = 0;
}  // namespace zorvel

using namespace zorvel;

namespace {

// How a level is named on standard error and in the file; any level not
// listed is the debug level.
struct LevelNames {
  const char* label;
  const char* letter;
  bool debug;  // the label is followed by the application's name
};

LevelNames NamesOf(int level) {
  switch (level) {
    case kZorvelLogInfo:
      return {"INFO", "I", false};
    case kZorvelLogDebug2:
      return {"DEBUG2", "D2", true};
    case kZorvelLogError:
      return {"ERROR", "E", false};
    case kZorvelLogWarn:
      return {"WARN", "W", false};
    default:
      return {"DEBUG", "D", true};
  }
}

// "~" expanded, made absolute and free of "." and "..".
std::string Standardized(const std::string& path) {
  fs::path p = path;
  if (!path.empty() && path[0] == '~' && (path.size() == 1 || path[1] == '/')) {
    p = host::homeFolder() / path.substr(path.size() > 1 ? 2 : 1);
  }
  if (p.is_relative()) {
    std::error_code ec;
    p = fs::current_path(ec) / p;
  }
  return p.lexically_normal().string();
}

// Drops the first `count` bytes of the buffer, and the rest of a character
// cut in two.
void CutFront(std::string& buffer, size_t count) {
  size_t end = std::min(count, buffer.size());
  while (end < buffer.size() && (static_cast<unsigned char>(buffer[end]) & 0xC0) == 0x80) ++end;
  buffer.erase(0, end);
}

// Whether lstat finds a regular file there (links are not followed).
bool IsRegularFile(const std::string& path, off_t* size = nullptr) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size) *size = st.st_size;
  return true;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

size_t CharacterCount(std::string_view utf8) {
  size_t n = 0;
  for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

}  // namespace

void ZORVEL_Log::initialize() {
  if (_gLogFileHandle) std::fclose(_gLogFileHandle);
  _gLogFileHandle = nullptr;
  _gApplicationName = platform::ProcessName();
  _gLogString = std::string();
  _gLogFilePath.reset();
  _gShouldLogAppName = false;
  _gShouldLogToStdErr = false;
  _gShouldNotifyForUpdates = false;
  _gSeenSignal = 0;
}

void ZORVEL_Log::setShouldNotifyForLogUpdates(bool on) { _gShouldNotifyForUpdates = on; }
void ZORVEL_Log::setShouldLogToStdErr(bool on) { _gShouldLogToStdErr = on; }
void ZORVEL_Log::setShouldLogAppName(bool on) { _gShouldLogAppName = on; }
void ZORVEL_Log::setApplicationName(std::string_view name) { _gApplicationName = std::string(name); }

std::string ZORVEL_Log::logDateString() { return SVLogFileManager::logDateString(); }

void ZORVEL_Log::logLevel(int level, std::string_view message) {
  if (!_gShouldLogToStdErr && !_gLogFileHandle) return;
  const LevelNames names = NamesOf(level);
  if (_gShouldLogToStdErr) {
    std::string label = names.label;
    if (names.debug) label += ": " + _gApplicationName;
    const std::string text = label + ": " + std::string(message) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }
  if (!_gLogString && !_gLogFileHandle) return;
  std::string line = std::string(names.letter) + " " + logDateString();
  if (_gShouldLogAppName) line += " " + _gApplicationName + ":";
  line += " ";
  line += message;
  line += "\n";
  if (!_gLogFileHandle) {
    if (_gLogString->size() > kLogBufferLimit) CutFront(*_gLogString, kLogBufferCut);
    *_gLogString += line;
  } else {
    std::fwrite(line.data(), 1, line.size(), _gLogFileHandle);
  }
  if (_gShouldNotifyForUpdates) {
    host::DistributedNotificationCenter::Default().PostLocal(
        ZORVEL_LogFileDidUpdate, {{ZORVEL_LogFileAddedString, line}}, _gLogFilePath.value_or(std::string()));
  }
}

void ZORVEL_Log::debug(std::string_view message) {
  size_t start = 0;
  for (;;) {
    const size_t end = message.find('\n', start);
    if (end == std::string_view::npos) {
      logLevel(kZorvelLogDebug, message.substr(start));
      return;
    }
    logLevel(kZorvelLogDebug, message.substr(start, end - start));
    start = end + 1;
  }
}

void ZORVEL_Log::err(std::string_view message) { logLevel(kZorvelLogError, message); }

void ZORVEL_Log::fatal(std::string_view message) {
  logLevel(kZorvelLogError, message);
  if (_gSeenSignal != 0) std::exit(_gSeenSignal);
  // Wait for good, but let the usual stop signals end the process at once:
  // a program waiting here can still be shut down.
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGINT, SIG_DFL);
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  ::pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
  for (;;) ::pause();
}

void ZORVEL_Log::logData(std::span<const uint8_t> data) {
  for (size_t at = 0; at < data.size(); at += 16) {
    const size_t n = std::min<size_t>(16, data.size() - at);
    debug(platform::StringF("%.8zx  ", at) + zorvel::HexdumpLine(data.subspan(at, n)));
  }
}

std::string ZORVEL_Log::OldLogPath(const std::string& path) {
  const fs::path p = path;
  std::string extension = p.extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  if (extension.empty()) extension = "log";
  return (p.parent_path() / (p.stem().string() + "_old." + extension)).string();
}

void ZORVEL_Log::rollLogFile(const std::string& path, const std::optional<std::string>& toPath, uint64_t size) {
  off_t current = 0;
  if (!IsRegularFile(path, &current) || static_cast<uint64_t>(current) < size) return;
  debug("Rolling log file.");
  const std::string target = toPath ? *toPath : OldLogPath(path);

  std::vector<uint8_t> combined;
  bool readable = true;
  if (Exists(target)) {
    readable = IsRegularFile(target) && host::ReadWholeFile(target, SIZE_MAX, &combined, nullptr);
  }
  std::vector<uint8_t> now;
  readable = readable && host::ReadWholeFile(path, SIZE_MAX, &now, nullptr);
  combined.insert(combined.end(), now.begin(), now.end());
  if (combined.size() > kOldLogLimit) {
    // Keep what follows the first line break at or after the cut, so the
    // kept part is within the limit and starts at a line; with no line
    // break there, nothing is kept.
    const size_t from = combined.size() - kOldLogLimit - 1;
    const auto it = std::find(combined.begin() + static_cast<long>(from), combined.end(), uint8_t('\n'));
    combined.erase(combined.begin(), it == combined.end() ? it : it + 1);
  }
  // The old log gets the mode the umask gives, like every file the program
  // makes.
  if (!readable || !host::WriteFileAtomically(target, combined, 0666, nullptr)) {
    // The current file keeps its lines when they could not be saved.
    debug(platform::StringF("Error writing old log file to %s", target.c_str()));
    return;
  }
  debug(platform::StringF("Rolled previous log file into %s", target.c_str()));
  const host::NoLinkFile emptied = host::OpenWithoutLinks(path, host::NoLinkStart::kEmptied, false);
  if (!emptied.removed.empty()) debug(emptied.removed);
  if (emptied.fd >= 0) {
    ::close(emptied.fd);
    debug(platform::StringF("Starting new log file at %s", path.c_str()));
  }
}

void ZORVEL_Log::rollLogFileIfNecessary(const std::string& path) { rollLogFile(path, std::nullopt, kLogRollSize); }

bool ZORVEL_Log::setLogFile(const std::string& path) {
  const std::string standardized = Standardized(path);
  _gLogFilePath = standardized;
  rollLogFileIfNecessary(standardized);
  if (_gLogFileHandle) return true;
  // Never through a link: one planted at the name is replaced by the log.
  const host::NoLinkFile opened = host::OpenWithoutLinks(standardized, host::NoLinkStart::kAtEnd);
  if (!opened.removed.empty()) debug(opened.removed);
  const int fd = opened.fd;
  FILE* file = fd >= 0 ? ::fdopen(fd, "a") : nullptr;
  if (!file) {
    const int error = fd >= 0 ? errno : opened.errorNumber;
    if (fd >= 0) ::close(fd);
    debug(platform::StringF("Failed to open log file at %s; error %d \"%s\"", standardized.c_str(), error,
                            std::strerror(error)));
    return false;
  }
  if (_gLogString && !_gLogString->empty()) std::fwrite(_gLogString->data(), 1, _gLogString->size(), file);
  _gLogString.reset();
  std::fflush(file);
  std::setvbuf(file, nullptr, _IONBF, 0);
  _gLogFileHandle = file;
  if (!_gShouldLogToStdErr) {
    std::fflush(stderr);
    ::dup2(fd, STDERR_FILENO);
  }
  return true;
}

bool ZORVEL_Log::validateEmailAddress(std::string_view address) {
  debug(platform::StringF("Passed emailAddress=[%.*s] with length=[%i]...", static_cast<int>(address.size()),
                          address.data(), static_cast<int>(CharacterCount(address))));
  // No address is longer than 254 characters; longer text is refused before
  // the pattern, whose matcher recurses per character.
  if (address.size() > 254) return false;
  std::string lower(address);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  static const std::regex pattern(
      R"re((?:[a-z0-9!#$%&'*+/=?^_`{|}~-]+(?:\.[a-z0-9!#$%&'*+/=?^_`{|}~-]+)*|"(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21\x23-\x5b\x5d-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])*")@(?:(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.)+[a-z0-9](?:[a-z0-9-]*[a-z0-9])?|\[(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?|[a-z0-9-]*[a-z0-9]:(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21-\x5a\x53-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])+)\]))re",
      std::regex::ECMAScript | std::regex::optimize);
  return std::regex_match(lower, pattern);
}

std::optional<std::string> ZORVEL_Log::safeTempFile(int* fd) {
  std::string failure;
  auto path = MakeSafeTempFile(fd, &failure);
  if (!path) debug(failure);
  return path;
}
