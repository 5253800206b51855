// Opening files for reading without trusting what sits under the name.
//
// A FIFO, a device or a socket dropped where a job, a photo, a sidecar or the
// user defaults are expected would block `open` for ever or feed the reader
// endless bytes. Every reader opens through OpenRegularFileAt: the name is
// opened non-blocking, checked with fstat, and anything but a regular file is
// closed again and refused with one line on standard error.
//
// Below the program's own folders the name is reached from the folder's held
// descriptor without following any link (host/files/HeldFolders.h, whose
// OpenRegularFile gives this function the folder and the name).
#pragma once

#include <string>

namespace host {

// Opens `name` in the folder open as `dirFd` (AT_FDCWD: `name` is a path)
// with `flags` (O_RDONLY, O_RDWR, ...; O_CLOEXEC and O_NOCTTY are added, and
// O_NOFOLLOW when `noFollow`) when it is a regular file, and returns the
// descriptor in blocking mode. Returns -1 with errno set when the open
// fails, and -1 with errno EISDIR for a folder or EINVAL for any other kind
// of file; `notRegular`, when given, is set true for those two refusals.
// `shown` names the file in the refusal's line.
int OpenRegularFileAt(int dirFd, const char* name, int flags, bool* notRegular, bool noFollow,
                      const std::string& shown);

// Why a file could not be used, for messages that say what happened:
// `link` is a symbolic link below one of the program's folders, which is
// never followed.
enum class FileAccess { readable, missing, notRegular, unreadable, link };

}  // namespace host
