// The base of the in-house utility library: facts about the machine (free
// memory, model, system version, a start-up banner), temporary files made
// safely in the temporary folder, and the standard folders of the desktop
// (the XDG layout). Class operations only; nothing here keeps state.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

class ZORVEL_Base {
 public:
  virtual ~ZORVEL_Base() = default;

  // The kinds of standard folder a search can ask for.
  enum DirectoryType : int {
    kApplicationDirectory = 1,     // programs: ~/.local/bin, /usr/local/bin, /usr/bin
    kLibraryDirectory,             // shared data of programs: $XDG_DATA_HOME, /usr/local/lib, /usr/lib
    kUserDirectory,                // the users' home folders: /home
    kDocumentationDirectory,       // $XDG_DATA_HOME/doc, /usr/local/share/doc, /usr/share/doc
    kDocumentDirectory,            // XDG_DOCUMENTS_DIR
    kDesktopDirectory,             // XDG_DESKTOP_DIR
    kCachesDirectory,              // $XDG_CACHE_HOME, /var/cache
    kApplicationSupportDirectory,  // $XDG_DATA_HOME, /usr/local/share, /usr/share
    kDownloadsDirectory,           // XDG_DOWNLOAD_DIR
    kMoviesDirectory,              // XDG_VIDEOS_DIR
    kMusicDirectory,               // XDG_MUSIC_DIR
    kPicturesDirectory,            // XDG_PICTURES_DIR
    kSharedPublicDirectory,        // XDG_PUBLICSHARE_DIR
  };
  // Domains, searched in this order; 0 means all of them.
  enum Domain : unsigned {
    kUserDomain = 1,
    kLocalDomain = 2,
    kNetworkDomain = 4,  // nothing on this system
    kSystemDomain = 8,
    kAllDomains = 0xFFFF,
  };

  // The first folder of that type in the domain(s), whether or not it exists
  // yet; paths below the home folder start with "~" (not expanded). None
  // when the type has no folder in the domain.
  static std::optional<std::string> firstFoundDirectoryType(DirectoryType type, unsigned domain);

  // "freePages", "freeBytes" (free pages x page size) and "freeMB" (free
  // bytes / 1,048,576); none when the free memory cannot be read.
  using VmStats = std::map<std::string, uint64_t>;
  static std::optional<VmStats> vmStats();
  // "<hardware model> (<machine>)".
  static std::string hostModelAndArch();
  // Creates a new empty file of a unique name in $TMPDIR (else the system's
  // temporary folder) and gives its path. With `fd` the open descriptor goes
  // to the caller, who closes it; without, it is closed here. None on
  // failure, after logging why.
  static std::optional<std::string> safeTempFile(int* fd = nullptr);
  // "<system> <release> foundation (<C library version>);\n<memory>MB
  // (<free>MB free); <n> CPU; <byte order> (<bits>-bit); <model>".
  static std::string systemVersionInfo();
  // A rule of 80 "^", then "\n<process> starting up\n" and systemVersionInfo.
  static std::string startupInfo();

  // Objects of the library name no file of their own.
  std::optional<std::string> pathToSelf() const { return std::nullopt; }

 protected:
  // The template made unique and created; on failure the text to report.
  static std::optional<std::string> MakeSafeTempFile(int* fd, std::string* failure);
};
