#include "app/CommandLine.h"

#include <cstring>

#include "app/PrintBGBehavior.h"
#include "host/notify/ProgramObject.h"
#include "host/sys/Folders.h"
#include "pipeline/PrinterHandOff.h"
#include "pipeline/SpoolFolders.h"
#include "platform/ProgramVersion.h"

namespace app {

std::string UsageText() {
  const std::filesystem::path appFolder = host::applicationFolderPath();
  std::string text;
  text += "Usage: kivo-processor [--from-service] [FILE...]\n";
  text += "       kivo-processor --export-preferences FILE | --import-preferences FILE\n";
  text += "       kivo-processor --help | --version\n";
  text += "\n";
  text += "Takes the job files that stations drop into its spool folder one at a time,\n";
  text += "oldest first, and prints each down its output route. With no display it\n";
  text += "runs headless.\n";
  text += "\n";
  text += "Options:\n";
  text += "  -h, --help        show this text and exit\n";
  text += "  --version         show the version and exit\n";
  text += "  --from-service    started by the user service: a second copy leaves with\n";
  text += "                    a log line and status 0 instead of status 1\n";
  text += "  -fromlaunchagent  the same, as the start-at-login unit passes it\n";
  text += "  FILE...           files handed to the program (by a shell or the desktop)\n";
  text += "                    are logged and open nothing: jobs are taken from the\n";
  text += "                    spool folder only\n";
  text += "  --export-preferences FILE\n";
  text += "                    write the stored preferences to FILE (as the Export\n";
  text += "                    Preferences menu command does) and exit; status 1 when\n";
  text += "                    none are stored yet (the processor never started)\n";
  text += "  --import-preferences FILE\n";
  text += "                    store the preferences of such a file (made here or on\n";
  text += "                    another station) for the next start and exit; refused\n";
  text += "                    while a processor runs\n";
  text += "\n";
  text += "Environment:\n";
  text += "  KIVO_APP_FOLDER     the application folder (else the program's own folder\n";
  text += "                      when the user owns and can write it and it is no\n";
  text += "                      folder of programs such as /usr/local/bin, else\n";
  text += "                      $XDG_DATA_HOME/Kivo-Processor)\n";
  text += "  XDG_CONFIG_HOME     user defaults in Kivo-Processor/defaults.plist below it\n";
  text += "                      (default ~/.config)\n";
  text += "  XDG_STATE_HOME      daily logs in Kivo/ below it (default ~/.local/state)\n";
  text += "  XDG_DATA_HOME       colour profiles in icc/ below it (default ~/.local/share)\n";
  text += "  XDG_RUNTIME_DIR     where the lock that keeps to one running copy lives\n";
  text += "  KIVO_SHARED_FOLDER  holds MasterDvdContentFolder for the video merge\n";
  text += "                      (default /srv/Shared)\n";
  text += "  LPDEST, PRINTER     the system printer's destination (else the CUPS default)\n";
  text += "  CUPS_SERVER         the print scheduler printer 8 goes through: host:port\n";
  text += "                      or the path of its socket (default the machine's own)\n";
  text += "  KIVO_PRINTER_BUSY_LIMIT\n";
  text += "                      seconds a busy printer, or one that cannot be reached,\n";
  text += "                      is waited for (default 300)\n";
  text += "  KIVO_PRINTER_ANSWER_LIMIT\n";
  text += "                      seconds each request waits for the printer's answer\n";
  text += "                      (default 60)\n";
  text += "  KIVO_COUNT_LOCK_WAIT\n";
  text += "                      seconds a count waits for the count files' lock\n";
  text += "                      (default 10)\n";
  text += "  KIVO_MERGE_LEAST_LIMIT, KIVO_MERGE_STALL_LIMIT\n";
  text += "                      seconds a video merge may always run (default 20),\n";
  text += "                      and may go without progress (default 10); lower only\n";
  text += "  KIVO_BUS_NAME       the session-bus name other programs ask to quit\n";
  text += "                      (default " + std::string(host::kDefaultProgramBusName) + ")\n";
  text += "  DBUS_SESSION_BUS_ADDRESS\n";
  text += "                      the session bus for notifications and quit requests\n";
  text += "  JOURNAL_STREAM      set by systemd: when it names standard error (the\n";
  text += "                      journal), the daily log is copied there too\n";
  text += "  DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM\n";
  text += "                      with no display the program runs on Qt's offscreen\n";
  text += "                      platform\n";
  text += "  KIVO_KILL_AT, KIVO_STOP_AT, KIVO_NAMED_STAGING\n";
  text += "                      for crash tests only; unset, they do nothing\n";
  text += "\n";
  text += "Folders of this run:\n";
  text += "  application folder  " + appFolder.string() + "\n";
  text += "  spool folder        " + (appFolder / pipeline::kSpoolRootFolderName).string() + "\n";
  text += "                      (unless the preferences name another one)\n";
  text += "  print log           " + (appFolder / kPrintLogName).string() + "\n";
  text += "  daily logs          " + host::logsFolder().string() + "\n";
  text += "  user defaults       " + host::defaultsFile().string() + "\n";
  text += "\n";
  text += "Where the prints land (unless the preferences name other folders):\n";
  text += "  printer 17          " + (appFolder / kPrintToFileFolderName).string() + "\n";
  text += "  print-to-file sets  " + (appFolder / kPrintToFileSetsFolderName).string() + "\n";
  text += "                      (all eight sets share it)\n";
  text += "  web copies          " + (appFolder / kWebUploadFolderName).string() + "\n";
  text += "  photo printers      " + (appFolder / pipeline::kPrintCenterFolderName).string() + "\n";
  text += "                      (hand-off files for the print-centre program)\n";
  text += "  yearbook pages      " + (host::desktopFolder() / "Yearbook Photos").string() + "\n";
  text += "  printer 8           the CUPS destination (LPDEST, PRINTER or the default)\n";
  text += "  failed jobs         " +
          (appFolder / pipeline::kSpoolRootFolderName / pipeline::kUnknownJobsFolderName).string() + "\n";
  text += "\n";
  text += "Exit status: 0 when stopped (SIGTERM, SIGINT or Quit), 1 when another copy\n";
  text += "runs (or a preference file was not written or imported), 2 for an option it\n";
  text += "does not take.\n";
  return text;
}

std::optional<int> ParseCommandLine(int argc, char** argv, StartupOptions& options, std::FILE* out, std::FILE* err) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
      std::fputs(UsageText().c_str(), out);
      return 0;
    }
    if (std::strcmp(a, "--version") == 0) {
      std::fprintf(out, "Kivo-Processor %s\n", platform::ProgramVersion());
      return 0;
    }
    if (std::strcmp(a, "--from-service") == 0 || std::strcmp(a, "-fromlaunchagent") == 0) {
      options.fromService = true;
      continue;
    }
    if (std::strcmp(a, "--export-preferences") == 0 || std::strcmp(a, "--import-preferences") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        std::fprintf(err, "kivo-processor: %s needs a file\n\n", a);
        std::fputs(UsageText().c_str(), err);
        return kUsageExitStatus;
      }
      (a[2] == 'e' ? options.exportPreferences : options.importPreferences) = argv[++i];
      continue;
    }
    if (a[0] != '-' && a[0] != '\0') {
      options.files.push_back(a);
      continue;
    }
    std::fprintf(err, "kivo-processor: unknown option '%s'\n\n", a);
    std::fputs(UsageText().c_str(), err);
    return kUsageExitStatus;
  }
  if (!options.exportPreferences.empty() && !options.importPreferences.empty()) {
    std::fprintf(err, "kivo-processor: --export-preferences and --import-preferences go one at a time\n\n");
    std::fputs(UsageText().c_str(), err);
    return kUsageExitStatus;
  }
  return std::nullopt;
}

}  // namespace app
