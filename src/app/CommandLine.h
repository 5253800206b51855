// The program's command line: the options it takes, its usage text and its
// version line. Reading the command line touches no folder, so asking for
// help or mistyping an option leaves the disk as it was.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "app/BackgroundPrintApp.h"

namespace app {

// Exit status of a command line the program does not take.
inline constexpr int kUsageExitStatus = 2;

// Reads the arguments after the program name into `options`. Returns the
// exit status when the program ends here instead of starting:
//   -h, --help     the usage on `out`, 0
//   --version      "Kivo-Processor <version>" on `out`, 0
//   anything else  it is named and the usage follows on `err`, 2
// Nothing when the program goes on: to start, or to export or import a
// preference file (the file is in `options`).
std::optional<int> ParseCommandLine(int argc, char** argv, StartupOptions& options, std::FILE* out, std::FILE* err);

// The usage: options, environment variables and the folders this run would
// use, as they are now.
std::string UsageText();

}  // namespace app
