// Preferences on a station without a display: the command-line forms of the
// export and import menu commands. The preferences window needs a display;
// these let an operator carry settings made in the window elsewhere (or
// earlier, as a backup) to the station and back, over ssh or a script.
//
//   kivo-processor --export-preferences FILE
//   kivo-processor --import-preferences FILE
//
// Both work on the user defaults of the user who runs them and end at once
// without starting the processor. An import is refused while a processor of
// this user or on this application folder runs: it reads its preferences at
// start and writes its own values back, so an import under it would be lost.
// Each key the import refuses and each folder it moves is named on standard
// output; the diagnostic lines go to the daily log.
#pragma once

#include <cstdio>
#include <filesystem>

namespace app {

// What the operator should read goes to `out`, or, for a failure, to
// standard error as the command found it (the daily log takes standard
// error over for the diagnostic lines).
// Exit status: 0 written; 1 not written.
int ExportPreferencesCommand(const std::filesystem::path& file, std::FILE* out);
// Exit status: 0 imported (some keys may have been refused, each named on
// `out`); 1 nothing imported (the file is no preference export, every key
// in it was refused, or a processor runs).
int ImportPreferencesCommand(const std::filesystem::path& file, std::FILE* out, std::FILE* err);

}  // namespace app
