// Opening files for reading without trusting what sits under the name.
//
// A FIFO, a device or a socket dropped where a job, a photo, a sidecar or the
// user defaults are expected would block `open` for ever or feed the reader
// endless bytes. Every reader opens through OpenRegularFile: the name is
// opened non-blocking, checked with fstat, and anything but a regular file is
// closed again and refused with one line on standard error.
//
// Files that stations put into the program's folders (photos, graphics,
// clips and their sidecars) are opened beneath their folder without
// following any link: once a folder is named with SetFoldersOpenedBeneath,
// every OpenRegularFile of a path below it goes through OpenBeneath, so no
// reader anywhere can be led out of it by a link a station user put there.
#pragma once

#include <string>
#include <vector>

namespace host {

// Opens `path` with `flags` (O_RDONLY, O_RDWR, ...; O_CLOEXEC is added) when
// it is a regular file, and returns the descriptor in blocking mode. Returns
// -1 with errno set when the open fails, and -1 with errno EISDIR for a
// folder or EINVAL for any other kind of file; `notRegular`, when given, is
// set true for those two refusals.
int OpenRegularFile(const char* path, int flags, bool* notRegular = nullptr);

// Opens `path`, which must lie below `folder`, without following any link
// in the part below `folder` (and without leaving it through ".."): a
// component swapped for a link at any moment makes the open fail rather
// than reach outside. `flags` as for open (O_RDONLY when not given);
// close-on-exec and non-blocking are added. -1 with errno set (ELOOP for a
// link, EXDEV for a path not below `folder`).
int OpenBeneath(const std::string& folder, const std::string& path, int flags = 0);

// The folders whose files come from stations. Paths below any of them (as
// given, or below the folder's resolved path) are opened by OpenRegularFile
// through OpenBeneath; replaces the folders named before. Empty names are
// left out.
void SetFoldersOpenedBeneath(const std::vector<std::string>& folders);
// The folder of SetFoldersOpenedBeneath that `path` lies below, or empty.
std::string FolderOpenedBeneath(const std::string& path);

// Why a file could not be used, for messages that say what happened:
// `link` is a symbolic link below a folder of SetFoldersOpenedBeneath,
// which is never followed.
enum class FileAccess { readable, missing, notRegular, unreadable, link };
// Whether `path` names a regular file this process can open for reading.
FileAccess CheckFileAccess(const char* path);

}  // namespace host
