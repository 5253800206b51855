// Where the program's files live on disk.
//
//   application folder  KIVO_APP_FOLDER when set; else the executable's folder
//                       when the user owns it and can write it and it is no
//                       folder of programs (not named bin, sbin or libexec,
//                       not below /usr, /opt or another system tree); else
//                       $XDG_DATA_HOME/Kivo-Processor (default
//                       ~/.local/share/Kivo-Processor, created on demand)
//   logs                $XDG_STATE_HOME/Kivo (default ~/.local/state/Kivo)
//   configuration       $XDG_CONFIG_HOME/Kivo-Processor (default ~/.config/...)
//   user defaults       <configuration>/defaults.plist
//   user units          $XDG_CONFIG_HOME/systemd/user
//   desktop             XDG_DESKTOP_DIR from $XDG_CONFIG_HOME/user-dirs.dirs,
//                       else ~/Desktop (the other user folders alike)
//   ICC profiles        /usr/share/color/icc, /usr/local/share/color/icc,
//                       $XDG_DATA_HOME/icc, ~/.color/icc
//
// XDG variables that are empty or not absolute are ignored, as the base
// directory rules say. Every call reads the environment afresh.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

std::filesystem::path homeFolder();
std::filesystem::path executablePath();  // empty when it cannot be found

std::filesystem::path applicationFolder();
// The folder applicationFolder() gives, without creating anything (for
// messages such as the usage text).
std::filesystem::path applicationFolderPath();
// Creates the application folder when it is missing (with its parents) and
// checks that the program can write in it; false with the reason otherwise.
bool ensureApplicationFolder(std::string* why);
std::filesystem::path logsFolder();
std::filesystem::path configFolder();
std::filesystem::path defaultsFile();
std::filesystem::path userUnitsFolder();
std::filesystem::path desktopFolder();
// A folder of user-dirs.dirs by its key ("DESKTOP", "DOCUMENTS", "DOWNLOAD",
// "PICTURES", "MUSIC", "VIDEOS", "PUBLICSHARE"...), else home/fallback.
std::filesystem::path userDirectory(std::string_view key, const char* fallbackBelowHome);
// $XDG_DATA_HOME (default ~/.local/share) and $XDG_CACHE_HOME (~/.cache).
std::filesystem::path dataHomeFolder();
std::filesystem::path cacheHomeFolder();
std::vector<std::filesystem::path> iccProfileFolders();

// $XDG_RUNTIME_DIR when it is set, absolute and an existing folder.
std::optional<std::filesystem::path> runtimeFolder();

}  // namespace host
