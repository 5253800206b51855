// A folder of this program's own for working files that others must neither
// read nor replace: made under an unpredictable name with mode 0700, held
// open, and checked to be a folder of this user that nobody else may enter.
// Files are created in it through that open folder, exclusively and without
// following a link, under unpredictable names; the folder and what was made
// in it are removed when the object goes.
#pragma once

#include <string>
#include <vector>

#include "host/base/UniqueFile.h"

namespace host {

class PrivateFolder {
 public:
  PrivateFolder() = default;
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // Makes the folder "<prefix>XXXXXX" in `parent`; false with `error`.
  bool Create(const std::string& parent, const std::string& prefix, std::string* error);
  // Creates a new empty file "<stem>-XXXXXXXX<extension>" open for reading
  // and writing (mode 0600); its descriptor, owned by this object, or -1
  // with `error`. `path` gets its path, for messages.
  int CreateFile(const std::string& stem, const std::string& extension, std::string* path, std::string* error);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int folder_ = -1;
  struct Made {
    std::string name;
    int fd;
  };
  std::vector<Made> files_;
};

// The program's private folder: makes `path` a folder (mode 0700) when
// missing, then checks that what stands there is a real folder, not a link,
// owned by this user, that nobody else may enter. A folder of this user open
// to others is narrowed to 0700 with `narrowIfOpen`, refused without it (for
// folders whose contents are trusted as this program's own). False with
// `error` when `path` is not such a folder: nothing may be kept in it.
bool MakeOwnPrivateFolder(const std::string& path, bool narrowIfOpen, std::string* error);
// The same for the folder `name` in the open folder `parentFd` (AT_FDCWD:
// `name` is a path), `shown` naming it in `error`: the folder open (its
// descriptor, the caller's to close), or -1.
int OpenOwnPrivateFolder(int parentFd, const std::string& name, bool narrowIfOpen, const std::string& shown,
                         std::string* error);
// Whether `path` already is such a folder (a real folder of this user that
// nobody else may enter), nothing changed.
bool IsOwnPrivateFolder(const std::string& path);

// Removes what a program stopped without cleaning up left: each folder of
// `parent` whose name starts with `prefix` and that is a private folder of
// this user (not a link), with the files in it; anything else is left.
// Returns how many folders went.
int RemoveLeftoverPrivateFolders(const std::string& parent, const std::string& prefix);

}  // namespace host
