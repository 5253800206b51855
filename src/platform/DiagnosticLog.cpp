#include "platform/DiagnosticLog.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>
#include <thread>

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

// Under a systemd service standard error is the journal, which operators
// read (journalctl) as they do any service's: what the day log says is
// copied there as it is written. The copy is read back from the log file
// itself, so the day log stays whole and in order however the copy fares
// (a kill ends the copy, never the log). A thread waits for the file to
// change and passes on what is new; at the program's end what is left goes
// too.
class JournalCopy {
 public:
  ~JournalCopy() { Stop(); }

  // Starts copying what is added to the log open as standard error to
  // `journal` from now on; false when it cannot.
  bool Start(int journal) {
    if (thread_.joinable()) return true;
    // A descriptor of the log's own for reading, and the kernel's word
    // when it changes, both reached through standard error itself rather
    // than the log's name.
    log_ = ::open("/proc/self/fd/2", O_RDONLY | O_CLOEXEC);
    changes_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    struct stat st {};
    if (log_ < 0 || changes_ < 0 || ::pipe2(stop_, O_CLOEXEC) != 0 || ::fstat(log_, &st) != 0 ||
        ::inotify_add_watch(changes_, ("/proc/self/fd/" + std::to_string(log_)).c_str(), IN_MODIFY) < 0) {
      Close();
      return false;
    }
    offset_ = st.st_size;
    journal_ = journal;
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  // Passes on what is left and ends the copy.
  void Stop() {
    if (!thread_.joinable()) return;
    [[maybe_unused]] const ssize_t n = ::write(stop_[1], "x", 1);
    thread_.join();
    Close();
  }

 private:
  void Run() {
    for (;;) {
      pollfd waits[2] = {{changes_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (::poll(waits, 2, -1) < 0 && errno != EINTR) break;
      char events[4096];
      while (::read(changes_, events, sizeof events) > 0) {
      }
      CopyNew();
      if (waits[1].revents != 0) return;
    }
  }
  // Everything the log has beyond what was copied.
  void CopyNew() {
    char chunk[65536];
    for (;;) {
      const ssize_t got = ::pread(log_, chunk, sizeof chunk, offset_);
      if (got <= 0) return;
      offset_ += got;
      for (ssize_t done = 0; done < got;) {
        const ssize_t n = ::write(journal_, chunk + done, size_t(got - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the journal is gone: nothing more to do
        done += n;
      }
    }
  }
  void Close() {
    for (int* fd : {&log_, &changes_, &stop_[0], &stop_[1]})
      if (*fd >= 0) {
        ::close(*fd);
        *fd = -1;
      }
  }

  int log_ = -1, changes_ = -1, journal_ = -1;
  int stop_[2] = {-1, -1};
  off_t offset_ = 0;
  std::thread thread_;
};

JournalCopy gJournalCopy;
bool gJournalCopied = false;

// Whether standard error is the journal's stream: systemd names that
// stream's device and inode in JOURNAL_STREAM ("<dev>:<inode>"), and a
// standard error redirected elsewhere (by a wrapper, a shell) is no longer
// that stream.
bool StandardErrorIsTheJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  uintmax_t device = 0, inode = 0;
  char end = 0;
  if (!stream || std::sscanf(stream, "%" SCNuMAX ":%" SCNuMAX "%c", &device, &inode, &end) != 2) return false;
  struct stat st {};
  return ::fstat(STDERR_FILENO, &st) == 0 && uintmax_t(st.st_dev) == device && uintmax_t(st.st_ino) == inode;
}

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
    const bool journal = gConsoleFd < 0 && StandardErrorIsTheJournal();
    if (gConsoleFd < 0) gConsoleFd = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    // Standard error becomes the day's log, never through a link.
    const host::NoLinkFile log = host::OpenWithoutLinks(file.string(), host::NoLinkStart::kAtEnd);
    gLogFileOpen = log.fd >= 0 && ::dup2(log.fd, STDERR_FILENO) == STDERR_FILENO;
    if (log.fd >= 0) ::close(log.fd);
    if (journal && gLogFileOpen && gConsoleFd >= 0) {
      gJournalCopied = gJournalCopy.Start(gConsoleFd);
      if (!gJournalCopied) platform::LogLine("The day's log cannot be copied to the journal");
    }
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
  // The line above went there already, or goes there with the whole log.
  if (!gLogFileOpen || gConsoleFd < 0 || gJournalCopied) return;
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
