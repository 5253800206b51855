#include "app/PreferenceFileCommands.h"

#include <unistd.h>

#include <optional>
#include <string>

#include "host/sys/Folders.h"
#include "host/sys/RunningCopyLock.h"
#include "platform/CrashPoints.h"
#include "platform/DiagnosticLog.h"
#include "prefs/PrefExport.h"

namespace app {

namespace {

// The diagnostic lines of the preference code go to the daily log, as a
// running processor's do, so that the command's own output stays readable.
// Standard error is the log from then on: what the operator must read is
// told on the console the command was started from, and logged.
void LogToDailyLog() { SVLogFileManager::setupLogFile(); }

void Tell(const std::string& text) { SVLogFileManager::tellConsole("kivo-processor: " + text); }

// The locks a processor of this user holds for its whole run, held by the
// import for the whole import: no processor starts on these preferences
// meanwhile.
struct TProcessorLocks {
  std::optional<host::RunningCopyLock> session, folder, configuration;
};

// Takes them; why the import must wait (a processor holds one, or the
// configuration folder cannot be locked at all), or nothing.
std::optional<std::string> KeepProcessorsOff(TProcessorLocks* held) {
  held->session.emplace(host::RunningCopyLock::acquire());
  if (held->session->status() == host::RunningCopyLock::Status::AlreadyRunning) return held->session->message();
  std::error_code ec;
  const std::filesystem::path folder = host::applicationFolderPath();
  if (std::filesystem::is_directory(folder, ec)) {
    held->folder.emplace(host::RunningCopyLock::acquireFolder(folder));
    if (held->folder->status() == host::RunningCopyLock::Status::AlreadyRunning) return held->folder->message();
  }
  held->configuration.emplace(host::RunningCopyLock::acquireConfiguration());
  if (!held->configuration->acquired()) return held->configuration->message();
  return std::nullopt;
}

}  // namespace

int ExportPreferencesCommand(const std::filesystem::path& file, std::FILE* out) {
  LogToDailyLog();
  // A user whose processor never started has no preferences stored: an
  // export would be an empty file that another station could import.
  const auto exported = CopyUserPreferencesToDictionary();
  const auto inner = exported ? exported->find(kPrefsDictionaryName) : host::PlistDict::const_iterator();
  if (exported && (inner == exported->end() || !inner->second.asDict() || inner->second.asDict()->empty())) {
    Tell("there is nothing to export: no preferences are stored in " + host::defaultsFile().string() +
         " (the processor stores them at its first start); " + file.string() + " was not written");
    return 1;
  }
  if (!SaveToNewPreferencesFile(file)) {
    Tell("the preferences could not be written to " + file.string() + " (the reason is in " +
         host::logsFolder().string() + ")");
    return 1;
  }
  std::fprintf(out, "Preferences of %s saved at %s\n", host::defaultsFile().c_str(), file.c_str());
  return 0;
}

int ImportPreferencesCommand(const std::filesystem::path& file, std::FILE* out, std::FILE* err) {
  TProcessorLocks held;
  if (const auto why = KeepProcessorsOff(&held)) {
    if (held.configuration && held.configuration->status() == host::RunningCopyLock::Status::Failed) {
      std::fprintf(err, "kivo-processor: nothing was imported: %s, so a processor starting meanwhile could not be "
                   "kept off the preferences.\n", why->c_str());
      return 1;
    }
    std::fprintf(err,
                 "kivo-processor: nothing was imported: a processor is running (%s). Stop it first "
                 "(systemctl --user stop kivo-processor), import, then start it again.\n",
                 why->c_str());
    return 1;
  }
  platform::PassCrashPoint("preferences-locked");
  LogToDailyLog();
  PrefImportReport report;
  const bool imported = LoadFromNewPreferencesFile2(file, true, &report);
  if (!report.notAnExport.empty()) {
    Tell("nothing was imported: " + file.string() + " is not a preference file of Kivo-Processor (" +
         report.notAnExport + ")");
    return 1;
  }
  for (const auto& [key, why] : report.refused) std::fprintf(out, "Not imported: %s (%s)\n", key.c_str(), why.c_str());
  for (const auto& [what, where] : report.movedFolders) std::fprintf(out, "Moved: %s is now %s\n", what.c_str(), where.c_str());
  for (const auto& kept : report.keptFolders)
    std::fprintf(out, "Kept: %s %s\n", kept.folder.c_str(), kept.Text().c_str());
  if (!imported) {
    Tell("nothing was imported from " + file.string() + ": every setting in it was refused");
    return 1;
  }
  std::fprintf(out, "Imported %zu settings from %s into %s; the next start of the processor uses them\n",
               report.applied.size(), file.c_str(), host::defaultsFile().c_str());
  return 0;
}

}  // namespace app
