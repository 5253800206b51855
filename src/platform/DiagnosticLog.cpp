#include "platform/DiagnosticLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

#include "host/files/CatalogInfo.h"
#include "host/files/NoLinkFile.h"
#include "host/sys/Folders.h"
#include "host/sys/Process.h"
#include "host/sys/SystemInfo.h"
#include "platform/Log.h"
#include "platform/ProgramVersion.h"

namespace fs = std::filesystem;
using Clock = SVLogFileManager::Clock;

namespace {

const char* const kDefaultLogBaseName = "KivoLogFile";
const char* const kStartupLogName = "KivoBrevantLog.txt";
bool gLogFileOpen = false;
// The standard error the program was started with, kept when the log takes
// its place; -1 before that.
int gConsoleFd = -1;

std::tm LocalTime(Clock::time_point t) {
  const std::time_t secs = Clock::to_time_t(t);
  std::tm local{};
  localtime_r(&secs, &local);
  return local;
}

Clock::time_point FromNs(int64_t ns) {
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)));
}

bool StartsWithIgnoringCase(const std::string& name, const std::string& prefix) {
  if (name.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(name[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

}  // namespace

std::string SVLogFileManager::getApplicationName() {
  const fs::path exe = host::executablePath();
  std::string name = exe.empty() ? std::string() : exe.stem().string();
  return name.empty() ? std::string(kDefaultLogBaseName) : name;
}

std::string SVLogFileManager::getApplicationVersion() {
  return platform::ProgramVersion();
}

std::string SVLogFileManager::hostModelAndArch() {
  std::string model = host::hardwareModel();
  if (model.empty()) model = "Unknown model";
  return model + " (" + host::systemVersion().machine + ")";
}

std::string SVLogFileManager::logDateString(Clock::time_point when) {
  const std::tm local = LocalTime(when);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
  // %Y is the calendar year; the week-based year would put the last days of
  // December into the next year.
  char date[64];
  std::strftime(date, sizeof date, "%Y/%m/%d %H:%M:%S", &local);
  char zone[16];
  std::strftime(zone, sizeof zone, "%z", &local);
  return platform::StringF("[%s.%03d %s]", date, static_cast<int>(ms), zone);
}

std::string SVLogFileManager::logDateString() { return logDateString(Clock::now()); }

void SVLogFileManager::debug(std::string_view text) {
  if (!gLogFileOpen) return;
  const std::string line = "D " + logDateString() + " " + std::string(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

std::string SVLogFileManager::computeDaysFolderString(Clock::time_point now, int16_t hours, int16_t minutes) {
  const auto shifted = now - std::chrono::seconds(int64_t(hours) * 3600 + int64_t(minutes) * 60);
  const std::tm local = LocalTime(shifted);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d", &local);
  return buf;
}

std::string SVLogFileManager::computeCurrentDaysFolderString2(int16_t hours, int16_t minutes) {
  return computeDaysFolderString(Clock::now(), hours, minutes);
}

fs::path SVLogFileManager::dailyLogPath(const fs::path& folder, Clock::time_point now) {
  return folder / (getApplicationName() + "_" + computeDaysFolderString(now, 3, 0) + ".log");
}

bool SVLogFileManager::logFileOpen() { return gLogFileOpen; }

bool SVLogFileManager::setupLogFile() {
  // Only our own logs folder is created; no system folder's permissions are
  // touched.
  const fs::path folder = host::logsFolder();
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) platform::LogF("createDirectoryAtPath returned error: %s", ec.message().c_str());
  if (fs::is_directory(folder, ec)) {
    const fs::path file = dailyLogPath(folder, Clock::now());
    std::fflush(stderr);
    if (gConsoleFd < 0) gConsoleFd = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    // Standard error becomes the day's log, never through a link.
    const host::NoLinkFile log = host::OpenWithoutLinks(file.string(), host::NoLinkStart::kAtEnd);
    gLogFileOpen = log.fd >= 0 && ::dup2(log.fd, STDERR_FILENO) == STDERR_FILENO;
    if (log.fd >= 0) ::close(log.fd);
    if (!log.Note().empty()) platform::LogLine("The day's log: " + log.Note());
  }
  const std::string rule(59, '=');
  platform::LogLine(rule);
  platform::LogLine(hostModelAndArch());
  const host::SystemVersion system = host::systemVersion();
  if (system.release.empty()) {
    platform::LogLine("runShellScript2 failed to get the system version???");
  } else {
    platform::LogF("%s: v%s", system.sysname.c_str(), system.release.c_str());
  }
  platform::LogF("%s => %s", getApplicationName().c_str(), getApplicationVersion().c_str());
  platform::LogLine(rule);
  return true;
}

void SVLogFileManager::tellConsole(std::string_view text) {
  platform::LogLine(text);
  if (!gLogFileOpen || gConsoleFd < 0) return;  // the line above went there already
  std::string line(text);
  if (line.empty() || line.back() != '\n') line += '\n';
  [[maybe_unused]] ssize_t n = ::write(gConsoleFd, line.data(), line.size());
}

Clock::time_point SVLogFileManager::dateToTest(Clock::time_point creation, Clock::time_point modification,
                                               DateKey key) {
  if (key == DateKey::kCreation) return modification;
  // 1904-01-01 and 1970-01-01 00:00:00 UTC stand for "no creation date".
  const auto epoch1970 = Clock::time_point{};
  const auto epoch1904 = epoch1970 - std::chrono::seconds(2082844800LL);
  if (creation == epoch1970 || creation == epoch1904) return modification;
  return creation;
}

bool SVLogFileManager::itemIsEarlierThan(const fs::path& path, Clock::time_point limit, DateKey key) {
  host::CatalogInfo info;
  if (host::GetCatInfoForPath(path.string(), &info) != 0) {
    platform::LogLine("itemIsEarlierThan -> file may NOT exist anymore?????");
    return false;
  }
  return dateToTest(FromNs(info.creationTimeNs), FromNs(info.modificationTimeNs), key) < limit;
}

bool SVLogFileManager::deleteItem(const fs::path& path, Clock::time_point beforeDate, const std::string& baseName,
                                  bool deleteImmediately) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec || !fs::exists(status)) {
    platform::LogF("testDirectory=> curItem does NOT exist: %s\n", path.c_str());
    return false;
  }
  if (!fs::is_regular_file(status)) return false;
  if (!StartsWithIgnoringCase(path.filename().string(), baseName)) return false;
  if (!itemIsEarlierThan(path, beforeDate, DateKey::kModification) || !deleteImmediately) return false;
  if (!fs::remove(path, ec) || ec) return false;
  platform::LogF("Item DELETED: [%s]", path.filename().c_str());
  return true;
}

void SVLogFileManager::deleteOldLogsWithOptions(const DeleteOptions& options) {
  const fs::path source = options.sourcePath.value_or(host::logsFolder());
  const std::string baseName = options.baseName.value_or(getApplicationName());
  const Clock::time_point before = options.beforeDate.value_or(Clock::now() - std::chrono::seconds(259200));
  if (baseName.empty()) return;
  std::error_code ec;
  std::vector<fs::path> items;
  if (options.deleteSubDirectory) {
    for (fs::recursive_directory_iterator it(source, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec))
      items.push_back(it->path());
  } else {
    for (fs::directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) items.push_back(it->path());
  }
  for (const fs::path& item : items) deleteItem(item, before, baseName, options.deleteImmediately);
}

void SVLogFileManager::deleteLogsForDaysOld(double days) {
  platform::LogF("Checking for Old Log Files to Delete...for daysOld = %f", days);
  days = std::clamp(days, 1.0, 90.0);
  const auto limit = Clock::now() - std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(days * 86400.0));
  platform::LogF("lastDateToDeleteFrom = %s", logDateString(limit).c_str());
  DeleteOptions options;
  options.deleteSubDirectory = true;
  options.deleteImmediately = true;
  options.beforeDate = limit;
  deleteOldLogsWithOptions(options);
  platform::LogLine("Checking for Old Log Files to Delete...Done.");
}

std::optional<std::string> SVLogFileManager::runShellScript2(const std::string& program,
                                                             const std::vector<std::string>& arguments) {
  if (program.empty()) {
    platform::LogLine("\n\nrunShellScript2 FAILED => scriptName==nil!\n\n");
    return std::nullopt;
  }
  host::ProcessOptions options;
  options.captureOutput = true;
  options.timeout = std::chrono::seconds(60);
  const host::ProcessResult result = host::runProcess(program, arguments, options);
  if (!result.started) return std::nullopt;
  if (!result.succeeded()) platform::LogLine("runShellScript2 Task failed.");
  return result.output;
}

fs::path SVLogFileManager::startupLogPath() { return host::applicationFolder() / kStartupLogName; }

void SVLogFileManager::writeToLogFile(std::string_view text) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[64] = {};
  asctime_r(&local, stamp);
  const size_t len = std::strlen(stamp);
  if (len > 0 && stamp[len - 1] == '\n') stamp[len - 1] = '\0';
  const fs::path exe = host::executablePath();
  const std::string line = platform::StringF("[%s %s] ==> ", exe.filename().c_str(), stamp) + std::string(text) + "\n";
  // The application folder may be open to the stations' group: the log is
  // never written through a link planted there.
  std::string note;
  host::AppendWithoutLinks(startupLogPath().string(), line, &note);
  if (!note.empty()) platform::LogLine("The start-up log: " + note);
}

void SVLogFileManager::writeStartupHeaderToLogFile() { writeToLogFile(host::executablePath().string()); }
