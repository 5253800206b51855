// The in-house utility library's levelled log: lines go to standard error
// (when asked), to a memory buffer until a log file is set and then to that
// file, which is rolled into a "_old" file once it reaches 1 MiB. Observers
// can be told of every line through a local notification. Hex dumps of byte
// blocks go through it line by line.
//
// The program's own diagnostics use the daily log (DiagnosticLog.h); this log
// stands beside it for tools built on the library. Its state is class-wide
// and meant for one thread at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/ZorvelBase.h"

namespace host {
struct Notification;
}

// Name of the notification posted for every line written, and the key of
// the line in its user information; the object is the log file's path.
inline constexpr char ZORVEL_LogFileDidUpdate[] = "ZORVEL_LogFileDidUpdate";
inline constexpr char ZORVEL_LogFileAddedString[] = "ZORVEL_LogFileAddedString";

// Log levels; any level not listed writes as kZorvelLogDebug.
enum ZORVEL_LogLevel : int {
  kZorvelLogInfo = 0,    // "INFO", file letter "I"
  kZorvelLogDebug = 1,   // "DEBUG: <application>", "D"
  kZorvelLogDebug2 = 2,  // "DEBUG2: <application>", "D2"
  kZorvelLogError = 3,   // "ERROR", "E"
  kZorvelLogWarn = 4,    // "WARN", "W"
};

// The class-wide state, set by ZORVEL_Log::initialize.
namespace zorvel {
extern std::string _gApplicationName;            // put into lines; the process name
extern std::optional<std::string> _gLogString;   // lines written before a log file is set
extern std::optional<std::string> _gLogFilePath;  // normalised path of the log file
extern FILE* _gLogFileHandle;                    // the open log file (unbuffered), or null
extern bool _gShouldLogAppName;
extern bool _gShouldLogToStdErr;
extern bool _gShouldNotifyForUpdates;
extern int _gSeenSignal;  // a signal recorded for fatal to exit with; 0 when none

// The buffer is cut by its first 10,000 characters once it is longer than this.
inline constexpr size_t kLogBufferLimit = 1000000;
inline constexpr size_t kLogBufferCut = 10000;
// rollLogFileIfNecessary rolls a log of this size or more.
inline constexpr uint64_t kLogRollSize = 1048576;
// A rolled ("_old") log never grows beyond this.
inline constexpr size_t kOldLogLimit = 10485760;
}  // namespace zorvel

class ZORVEL_Log : public ZORVEL_Base {
 public:
  // Sets the state to its start: the process name, an empty buffer, no file
  // (a file still open is closed), every switch off, no signal.
  static void initialize();

  // Rolls the file when necessary, then (when no file is open yet) opens it
  // for appending with the mode the umask gives, writes the buffered lines to it, drops the
  // buffer and, unless lines go to standard error, points standard error at
  // the file too. False when it cannot be opened (logged). A path that is a
  // symbolic link is not followed: the link is replaced by the log file
  // (host::OpenWithoutLinks).
  static bool setLogFile(const std::string& path);
  static void setShouldNotifyForLogUpdates(bool on);
  static void setShouldLogToStdErr(bool on);
  static void setShouldLogAppName(bool on);
  static void setApplicationName(std::string_view name);

  // "[2026/12/08 22:05:45.123 +0000]".
  static std::string logDateString();

  // Writes one line at a level: "<label>: <message>" to standard error when
  // asked, and "<letter> <date>[ <application>:] <message>" to the buffer or
  // the file. Nothing happens when neither standard error nor a file is in
  // use.
  static void logLevel(int level, std::string_view message);
  // Each line of the message at the debug level.
  static void debug(std::string_view message);
  static void err(std::string_view message);
  // Writes at the error level, then ends the process with the recorded
  // signal's number; without one the thread waits until the process is
  // stopped (SIGTERM and SIGINT end it at once).
  [[noreturn]] static void fatal(std::string_view message);

  // The bytes as hex-dump lines through debug.
  static void logData(std::span<const uint8_t> data);

  // When the file is `size` bytes or larger: appends it to the target (the
  // path without its extension followed by "_old.<extension>", "log" when
  // there is none), keeps the target within 10 MiB by dropping whole lines
  // from its start, and empties the file.
  static void rollLogFile(const std::string& path, const std::optional<std::string>& toPath, uint64_t size);
  static void rollLogFileIfNecessary(const std::string& path);

  // Whether the address (lower-cased) is a well-formed e-mail address.
  static bool validateEmailAddress(std::string_view address);

  // As the base, but a failure is written through debug.
  static std::optional<std::string> safeTempFile(int* fd = nullptr);

  // An observer of ZORVEL_LogFileDidUpdate that does nothing with it.
  void logFileDidUpdate(const host::Notification&) {}

  // The target a roll without a target path uses.
  static std::string OldLogPath(const std::string& path);
};
