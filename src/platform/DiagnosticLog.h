// The daily diagnostic log and the start-up log.
//
// At start-up standard error is reopened onto "<name>_<yyyy-MM-dd>.log" in
// the logs folder, where the log day is the date of the current time minus
// 3 hours (work before 03:00 belongs to the previous day), a banner naming
// the machine, the system and the application version is written, and logs
// older than a number of days are deleted. A small start-up log
// "KivoBrevantLog.txt" in the application folder gets one line per start.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class SVLogFileManager {
 public:
  using Clock = std::chrono::system_clock;

  // Creates the logs folder, reopens standard error onto the day's log and
  // writes the banner. Returns true. When standard error was the journal
  // (started by a systemd service, which names that stream in
  // JOURNAL_STREAM), everything the day's log gets from then on is copied
  // there as well.
  static bool setupLogFile();
  // Writes a line to the day's log and to the standard error the program
  // was started with (the terminal or the service's journal), for what the
  // person who started it must see: why it cannot run.
  static void tellConsole(std::string_view text);
  // Deletes daily logs older than `days` (held to 1..90) in the logs folder
  // and its subfolders.
  static void deleteLogsForDaysOld(double days);

  struct DeleteOptions {
    bool deleteSubDirectory = false;
    bool deleteImmediately = false;
    std::optional<std::filesystem::path> sourcePath;  // default: the logs folder
    std::optional<std::string> baseName;               // default: the application name
    std::optional<Clock::time_point> beforeDate;       // default: now minus 3 days
  };
  static void deleteOldLogsWithOptions(const DeleteOptions& options);
  // Deletes one file whose name begins with `baseName` (ignoring case) and
  // whose date is before `beforeDate`; true when it was deleted.
  static bool deleteItem(const std::filesystem::path& path, Clock::time_point beforeDate,
                         const std::string& baseName, bool deleteImmediately);

  enum class DateKey { kCreation, kModification };
  // Whether the file's date is strictly before `limit`. With the
  // modification key the creation date is tested, unless it reads as
  // 1904-01-01 or 1970-01-01 (no real creation date), when the
  // modification date is tested; with the creation key the modification
  // date is tested.
  static bool itemIsEarlierThan(const std::filesystem::path& path, Clock::time_point limit, DateKey key);
  // The date that rule tests, from the two dates of a file.
  static Clock::time_point dateToTest(Clock::time_point creation, Clock::time_point modification, DateKey key);

  // The base name of the daily logs (the program's name, without extension;
  // "KivoLogFile" when there is none) and the version text for the banner.
  static std::string getApplicationName();
  static std::string getApplicationVersion();
  // "<hardware model> (<machine>)".
  static std::string hostModelAndArch();
  // "[2026/12/08 22:05:45.123 +0000]", the year being the calendar year.
  static std::string logDateString();
  static std::string logDateString(Clock::time_point when);
  // "D <logDateString> text" on the reopened standard error.
  static void debug(std::string_view text);

  // "yyyy-MM-dd" of now minus hours and minutes, in local time.
  static std::string computeCurrentDaysFolderString2(int16_t hours, int16_t minutes);
  static std::string computeDaysFolderString(Clock::time_point now, int16_t hours, int16_t minutes);
  // The day's log file in `folder` for `now`.
  static std::filesystem::path dailyLogPath(const std::filesystem::path& folder, Clock::time_point now);

  // Runs a program (no shell) and gives its standard output, or nothing when
  // there is no program or it could not run.
  static std::optional<std::string> runShellScript2(const std::string& program,
                                                    const std::vector<std::string>& arguments);

  // The start-up log beside the application.
  static void writeToLogFile(std::string_view text);
  static void writeStartupHeaderToLogFile();
  static std::filesystem::path startupLogPath();

  // Whether standard error was reopened onto the daily log.
  static bool logFileOpen();
};
