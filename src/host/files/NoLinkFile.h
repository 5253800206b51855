// Opening a file the program keeps writing into (a log, a list it adds a
// line to, a block added to a file it made) where other users may write
// too: a station user of the shop's group can put anything under the name
// between two writes. The name is never followed: a symbolic link found
// there is removed (what it points at is untouched) and a new regular file
// made in its place, and so is a FIFO, a socket, a device or a regular file
// that has other names as well (a hard link into someone else's file). A
// folder at the name is refused. What was removed is said in `removed`, so
// the caller can log it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace host {

enum class NoLinkStart {
  kAtEnd,    // every write goes to the end (O_APPEND)
  kEmptied,  // the file is emptied first
};

struct NoLinkFile {
  int fd = -1;           // open for writing, close-on-exec; the caller closes it; -1 when refused
  std::string removed;   // what stood at the name and was removed; empty when nothing was
  std::string error;     // why nothing was opened; empty when `fd` is open
  int errorNumber = 0;   // the errno of that failure
  // The two texts above as one line for the log (empty when both are).
  std::string Note() const;
};

// Opens `path` for writing without following it. A missing file is made
// with `mode` less the umask when `create` is true; with `create` false a
// missing file (or one removed because it was no plain file) is not made
// and the result is an error. Below a held folder (HeldFolders.h) the
// folders between it and the file are opened from its descriptor without
// following a link either: one of them swapped for a link refuses the file
// (nothing is written or removed through it).
NoLinkFile OpenWithoutLinks(const std::string& path, NoLinkStart start, bool create = true, uint32_t mode = 0666);

// Writes all of `bytes` to `fd`; 0, or the errno of the failed write.
int WriteAllBytes(int fd, std::string_view bytes);

// Adds `bytes` at the end of `path`, opened as OpenWithoutLinks opens it
// (made when missing unless `create` is false). False when not all was
// written; `note` gets the log line of OpenWithoutLinks or of the failed
// write.
bool AppendWithoutLinks(const std::string& path, std::string_view bytes, std::string* note, bool create = true);

}  // namespace host
