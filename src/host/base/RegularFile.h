// Opening files for reading without trusting what sits under the name.
//
// A FIFO, a device or a socket dropped where a job, a photo, a sidecar or the
// user defaults are expected would block `open` for ever or feed the reader
// endless bytes. Every reader opens through OpenRegularFile: the name is
// opened non-blocking, checked with fstat, and anything but a regular file is
// closed again and refused with one line on standard error.
#pragma once

namespace host {

// Opens `path` with `flags` (O_RDONLY, O_RDWR, ...; O_CLOEXEC is added) when
// it is a regular file, and returns the descriptor in blocking mode. Returns
// -1 with errno set when the open fails, and -1 with errno EISDIR for a
// folder or EINVAL for any other kind of file; `notRegular`, when given, is
// set true for those two refusals.
int OpenRegularFile(const char* path, int flags, bool* notRegular = nullptr);

// Why a file could not be used, for messages that say what happened.
enum class FileAccess { readable, missing, notRegular, unreadable };
// Whether `path` names a regular file this process can open for reading.
FileAccess CheckFileAccess(const char* path);

}  // namespace host
