// A new file written in the folder it is meant for and given its name only
// once it is whole: a program that takes every file of a hot folder the
// moment it appears (a RIP, a sync client, a `find` loop, dot-files
// included) never sees it half written.
//
// Where the folder's file system has unnamed files (O_TMPFILE: ext4, xfs,
// btrfs, tmpfs and most local file systems) the file has no name at all
// until it is linked in place; a link never replaces anything, so a target
// that must be replaced gets the file under a hidden name first and takes it
// by a rename right after (the one instant a hidden name is seen). Where it
// has none (network shares, FUSE), the file is written under a hidden name
// of its own, created exclusively, and renamed into place, as before.
//
// An exclusive flock is held on the file while it is open, so that a sweep of
// what a killed program left (see Leftovers.h) can tell a file that is still
// being written from one nobody will ever finish.
#pragma once

#include <cstdint>
#include <string>

#include "host/base/MacTypes.h"

namespace host {

class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&& other) noexcept;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  // A file that was not placed goes: its hidden name, if it has one, is
  // removed.
  ~StagedFile();

  // A new empty file in `folder`, open for reading and writing, with the
  // permission bits `mode` less the umask: unnamed where the file system
  // allows, else "<hiddenPrefix><8 random hex digits><hiddenSuffix>" made
  // exclusively (never through a link). The prefix should begin with "."
  // and name the program, so that folder scans pass it by and the sweep
  // knows it. An invalid object with `*error` (an errno) on failure.
  static StagedFile Open(const std::string& folder, const std::string& hiddenPrefix, const std::string& hiddenSuffix,
                         uint32_t mode, int* error);
  // The same, always under a hidden name (what file systems without
  // unnamed files get); for tests and for callers that need a name.
  static StagedFile OpenNamed(const std::string& folder, const std::string& hiddenPrefix,
                              const std::string& hiddenSuffix, uint32_t mode, int* error);

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  bool unnamed() const { return valid() && hiddenPath_.empty(); }
  // The hidden name's path while the file has one; empty for an unnamed file.
  const std::string& hiddenPath() const { return hiddenPath_; }

  // Gives the complete file the path `target` in the same folder: never
  // replacing an existing item unless `replace` (dupFNErr then). The
  // folder is synced, so that the name survives a crash. On success the
  // object no longer owns a name; on failure the file is still staged and
  // may be placed elsewhere or discarded. A consumer that takes the hidden
  // name in the instant between the link and the rename of a replacing
  // placement has taken the whole file: that counts as placed.
  OSErr Place(const std::string& target, bool replace);
  // Removes the hidden name, if any, and closes the file.
  void Discard();

 private:
  StagedFile(int fd, std::string folder, std::string prefix, std::string suffix, std::string hidden)
      : fd_(fd), folder_(std::move(folder)), prefix_(std::move(prefix)), suffix_(std::move(suffix)),
        hiddenPath_(std::move(hidden)) {}
  void Close();
  OSErr LinkUnnamed(const std::string& target);

  int fd_ = -1;
  std::string folder_, prefix_, suffix_;
  std::string hiddenPath_;
};

// Whether the named staging of StagedFile::Open is forced for every folder:
// the environment variable KIVO_NAMED_STAGING set to 1, for crash tests of
// file systems without unnamed files.
bool NamedStagingForced();

}  // namespace host
