// New files under names nobody can guess, for working and temporary files in
// folders another program or user may also write: the name carries random
// hexadecimal digits, the file is created exclusively and never through a
// link, so nothing planted in advance is opened or written.
#pragma once

#include <string>

namespace host {

// Eight hexadecimal digits from the system's random source.
std::string RandomHexName();

// Creates a new file "<stem><8 random hex digits><suffix>" relative to the
// folder open as `folderFd` (AT_FDCWD: relative to the working folder, or a
// `stem` that is a whole path), with O_CREAT | O_EXCL | O_NOFOLLOW |
// O_CLOEXEC added to `flags` and `mode` less the umask. A name already taken
// is tried again with new digits. Returns the descriptor and puts the name
// (`stem` + digits + `suffix`) in `made`; -1 with errno set on failure.
int CreateUniqueFile(int folderFd, const std::string& stem, const std::string& suffix, int flags, unsigned mode,
                     std::string* made);

}  // namespace host
