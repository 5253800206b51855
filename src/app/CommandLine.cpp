#include "app/CommandLine.h"

#include <cstring>

#include "app/PrintBGBehavior.h"
#include "host/sys/Folders.h"
#include "pipeline/SpoolFolders.h"
#include "platform/ProgramVersion.h"

namespace app {

std::string UsageText() {
  const std::filesystem::path appFolder = host::applicationFolderPath();
  std::string text;
  text += "Usage: kivo-processor [--from-service] [FILE...]\n";
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
  text += "\n";
  text += "Environment:\n";
  text += "  KIVO_APP_FOLDER     the application folder (else the program's own folder\n";
  text += "                      when it is writable, else $XDG_DATA_HOME/Kivo-Processor)\n";
  text += "  XDG_CONFIG_HOME     user defaults in Kivo-Processor/defaults.plist below it\n";
  text += "                      (default ~/.config)\n";
  text += "  XDG_STATE_HOME      daily logs in Kivo/ below it (default ~/.local/state)\n";
  text += "  XDG_DATA_HOME       colour profiles in icc/ below it (default ~/.local/share)\n";
  text += "  XDG_RUNTIME_DIR     where the lock that keeps to one running copy lives\n";
  text += "  KIVO_SHARED_FOLDER  holds MasterDvdContentFolder for the video merge\n";
  text += "                      (default /srv/Shared)\n";
  text += "  LPDEST, PRINTER     the system printer's destination (else the CUPS default)\n";
  text += "  DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM\n";
  text += "                      with no display the program runs on Qt's offscreen\n";
  text += "                      platform\n";
  text += "\n";
  text += "Folders of this run:\n";
  text += "  application folder  " + appFolder.string() + "\n";
  text += "  spool folder        " + (appFolder / pipeline::kSpoolRootFolderName).string() + "\n";
  text += "                      (unless the preferences name another one)\n";
  text += "  print log           " + (appFolder / kPrintLogName).string() + "\n";
  text += "  daily logs          " + host::logsFolder().string() + "\n";
  text += "  user defaults       " + host::defaultsFile().string() + "\n";
  text += "\n";
  text += "Exit status: 0 when stopped (SIGTERM, SIGINT or Quit), 1 when another copy\n";
  text += "runs, 2 for an option it does not take.\n";
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
    if (a[0] != '-' && a[0] != '\0') {
      options.files.push_back(a);
      continue;
    }
    std::fprintf(err, "kivo-processor: unknown option '%s'\n\n", a);
    std::fputs(UsageText().c_str(), err);
    return kUsageExitStatus;
  }
  return std::nullopt;
}

}  // namespace app
