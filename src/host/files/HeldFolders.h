// The folders the program works in, checked once and held open by
// descriptor for the whole run.
//
// The promise this file keeps: once a folder is held, nothing below it is
// ever reached by a path from "/" again. Each held folder is an
// O_PATH | O_DIRECTORY descriptor together with the path it was opened at
// (for messages only). A path at or below a held folder is taken apart
// into that descriptor and the rest; the folders of the rest are opened from
// the descriptor with openat2 (RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS), and
// the open, create, rename, delete, listing or re-creation is made with
// openat, renameat2, unlinkat or mkdirat on the folder that holds the name,
// the last name never followed either. So a name swapped later for a link,
// for another folder, or moved away changes nothing: nothing below a held
// folder is read, written, made or deleted anywhere else through any of its
// names, and a link below it is never followed. Whether a held folder's own
// name still leads to it is asked with MovedHeldFolders; the caller alerts
// and pauses, and nothing is ever made again at whatever a name now leads to.
//
// A folder is held after the start-up's strict check of its path (as
// OpenSSH's StrictModes): walked from "/" one name at a time, each folder on
// the way and the folder itself must be the program user's or root's and
// writable by no other user unless it has the sticky bit (a group counts
// when it has a member other than the program's user), and a link on the
// way must be root's or the program user's (an operator's link, followed
// this once). How strict the held folder itself must be depends on what it
// is for (see FolderUse). A refusal names the folder and the command that
// mends it.
//
// The same table gives the file specifications their directory ids (see
// FSSpec.h): a held folder's id is its descriptor; the id of a folder below
// a held folder stands for its path below that folder, opened from its
// descriptor whenever it is used and checked to be the same folder; a
// folder elsewhere (a system folder of colour profiles, a folder an
// operator is choosing) is known by its device and node, its path checked
// to lead to it, as before.
//
// Paths stay what messages show: a held folder answers with the path it
// was opened at, never /proc/self/fd/N.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/base/Fd.h"
#include "host/base/MacTypes.h"
#include "host/base/RegularFile.h"

namespace host {

// What a held folder is for; it decides how strict the check of the folder
// itself is (the folders above it are always checked strictly).
enum class FolderUse {
  // A folder the program keeps state in (the application folder, the spool
  // root and its finished, unknown, database, graphics and private folders,
  // the preferences folder, every folder it makes for itself): writable by
  // the program's user alone, sticky bit or not.
  kState,
  // A drop folder ("PRINT JOBS FOLDER ƒ", "IMAGES FOLDER ƒ"): others may
  // write in it only when it has the sticky bit, so that each removes or
  // renames only what it put there.
  kDrop,
  // A folder the program places outputs into (print-to-file, the sets, CD,
  // web upload, the print centre's, the desktop): the folder itself may be
  // open to its consumer (a RIP's hot folder).
  kOutput,
  // A folder the program only reads from (the shared clip folder): held, so
  // that nothing below it is reached through a link, and not checked.
  kSource,
};

// Why a folder is not held: what is wrong and the command that mends it.
struct FolderRefusal {
  std::string folder;  // the folder (or link) at fault, as its path reads
  std::string why;     // "other users can write in it (mode 2775, group kivo)"
  std::string mend;    // "chmod g-w '/srv/kivo'"; empty when no command mends it
  // "the folder "<folder>" <why>; mend it with: <mend>"
  std::string Text() const;
};

// Checks the folder at `path` for `use` as the promise says and holds it
// for the rest of the run. A folder held already (by any of its paths)
// keeps its descriptor and gets `path` as one more way of naming it. With
// `watch`, MovedHeldFolders looks after its name. False, with `refusal`,
// when the check fails or no folder can be opened there.
bool HoldFolder(const std::string& path, FolderUse use, FolderRefusal* refusal = nullptr, bool watch = true);
// Runs the check alone, holding nothing.
bool CheckFolder(const std::string& path, FolderUse use, FolderRefusal* refusal);
// Whether `path` lies at or below a held folder.
bool IsBelowHeldFolder(const std::string& path);
// Whether `path` names a held folder itself (by any of its paths).
bool IsHeldFolder(const std::string& path);
// Stops looking after the name of the held folder `path` and of every held
// folder below it (a spool root the operator replaced); they stay held.
void StopWatching(const std::string& path);

// A watched held folder whose name no longer leads to it.
struct MovedFolder {
  std::string path;  // the path it was held at
  std::string now;   // what stands at that name: "nothing", "a symbolic link", "another folder", ...
};
// The watched held folders whose paths no longer lead to them (the name is
// looked up as it stands, links followed, and compared with the descriptor).
std::vector<MovedFolder> MovedHeldFolders();

// Lets go of the names of the watched held folders that no longer stand at
// them, so that the operator's new set-up (a start, a spool folder chosen
// again) can make or hold folders there; their descriptors stay open, and
// specifications made for them stay theirs.
void ForgetMovedHeldFolders();
// Forgets every held folder and directory id (tests only).
void ReleaseHeldFoldersForTesting();

// A name in the folder that holds it. Below a held folder: that folder
// opened from its held ancestor without following any link (or the held
// descriptor itself), and the last name; elsewhere AT_FDCWD and the path as
// given. A path that is a held folder itself is given too as `self`, its
// descriptor, with the name in its parent for changes of the name.
class FolderAndName {
 public:
  explicit FolderAndName(const std::string& path);
  // The folder (AT_FDCWD outside held folders), valid while this object lives.
  int at() const { return owned_.get() >= 0 ? owned_.get() : at_; }
  const char* name() const { return name_.c_str(); }
  const std::string& nameString() const { return name_; }
  // 0, or the errno of opening the folder: ELOOP for a link on the way,
  // EXDEV for a path that leaves the held folder through "..".
  int error() const { return error_; }
  bool held() const { return held_; }
  // The held descriptor when the path is a held folder itself, else -1.
  int self() const { return self_; }

 private:
  Fd owned_;
  int at_ = -100;  // AT_FDCWD
  int self_ = -1;
  int error_ = 0;
  bool held_ = false;
  std::string name_;
};

// ---- operations on paths, each made as the promise says. They return what
// the system call they stand for returns (a descriptor or 0, -1 with errno).

// open: O_CLOEXEC is added; below a held folder O_NOFOLLOW too. A held
// folder itself opened with O_DIRECTORY (or O_PATH, or O_TMPFILE) is
// opened again from its descriptor.
int OpenAt(const std::string& path, int flags, unsigned mode = 0);
// The folder at `path` open for listing, syncing and locking (O_RDONLY |
// O_DIRECTORY); a link is never taken for it below a held folder (ELOOP).
int OpenFolder(const std::string& path);
// stat; below a held folder the last name is never followed (a link
// reports as the link), a held folder itself reports its descriptor.
int StatAt(const std::string& path, struct stat* st);
// statx with `mask`, as StatAt.
int StatxAt(const std::string& path, unsigned mask, struct statx* sx);
// lstat: the last name never followed, wherever it is.
int LstatAt(const std::string& path, struct stat* st);
// Whether anything (a dangling link, a FIFO included) stands at `path`, as
// LstatAt sees it.
bool ExistsAt(const std::string& path);
// chmod of what stands at `path`; below a held folder a link is refused
// (ELOOP) rather than followed.
int ChangeModeAt(const std::string& path, unsigned mode);
// chown of what stands at `path`, a link never followed.
int ChangeOwnerAt(const std::string& path, uid_t owner, gid_t group);
int MakeFolderAt(const std::string& path, unsigned mode);
// unlink, or rmdir with `folder`. A held folder itself is removed only
// while its name still leads to it.
int RemoveAt(const std::string& path, bool folder = false);
// renameat2 with `flags` (RENAME_NOREPLACE ...). A held folder is renamed
// only while its name still leads to it.
int RenameAt(const std::string& from, const std::string& to, unsigned flags = 0);
// link (no following): a new name for the item at `from`.
int LinkAt(const std::string& from, const std::string& to);
// Gives the open, unnamed file `fd` (O_TMPFILE) the name `to`.
int LinkDescriptorAt(int fd, const std::string& to);
// Creates a new file "<stem><8 random hex digits><suffix>" in the folder
// `folder` exclusively (see host/base/UniqueFile.h); its descriptor, its
// path in `made`.
int CreateUniqueFileIn(const std::string& folder, const std::string& stem, const std::string& suffix, int flags,
                       unsigned mode, std::string* made);
// Makes a new folder "<stem><6 random hex digits>" (as mkdtemp's "XXXXXX")
// in the folder `folder` with `mode`, trying other digits while the name is
// taken; 0 with its path in `made`, or -1 with errno.
int CreateUniqueFolderIn(const std::string& folder, const std::string& stem, unsigned mode, std::string* made);
// The names in the folder at `path` ("." and ".." left out), unsorted; -1
// with errno when it cannot be listed.
int ListNamesAt(const std::string& path, std::vector<std::string>* names);
// Opens `rest` (a relative path) below the folder open as `dirFd` the way
// names below a held folder are opened: no link followed, the last name
// included (ELOOP), and never out of the folder (EXDEV).
int OpenBelowFolder(int dirFd, const std::string& rest, int flags, unsigned mode = 0);
// `path` relative to `folder` when it lies below it, the two taken by their
// names alone (made normal, "." and ".." resolved as written); empty when
// it does not (it is the folder itself, or lies elsewhere).
std::string PathBelow(const std::string& folder, const std::string& path);
// Opens `path`, which lies below `folder` (PathBelow), from that folder
// (reached as OpenAt reaches it) as OpenBelowFolder opens; -1 with errno,
// EXDEV when it does not lie below `folder`.
int OpenBeneath(const std::string& folder, const std::string& path, int flags);
// Where the kernel has the item at `path` now (reached as the operations
// above reach it), for finding its volume; empty, with errno, when it cannot
// be opened.
std::string KernelPathAt(const std::string& path);
// A path the kernel resolves to the item open as `fd` ("/proc/self/fd/N"),
// for calls that take only a path (extended attributes, inotify); never
// shown in a message.
std::string DescriptorPath(int fd);

// ---- reading what stations and operators put in the folders

// Opens `path` for `flags` when it is a regular file (see
// host/base/RegularFile.h): below a held folder from its descriptor, no
// link followed (ELOOP, said on standard error), elsewhere as it stands.
int OpenRegularFile(const char* path, int flags, bool* notRegular = nullptr);
// Whether `path` names a regular file this process can open for reading.
FileAccess CheckFileAccess(const char* path);

// ---- the directory ids of file specifications (FSSpec.cpp)

// The id of the existing folder at `path`, handed out on first sight (ids
// start at 100). `device` gets its device and `realPath` where the kernel
// has it now (for finding its volume). ENOENT, ENOTDIR, ELOOP ... as errno.
int FolderIdOf(const std::string& path, int32_t* id, dev_t* device, std::string* realPath);
// The path of folder `id`; -1 with ENOENT when the id is unknown or its
// folder is gone (a folder below a held one, or elsewhere, that no longer
// stands at its path, or a held folder that was removed).
int PathOfFolderId(int32_t id, std::string* path);

}  // namespace host
