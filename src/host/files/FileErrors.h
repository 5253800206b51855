// The one translation of POSIX errno values into the 16-bit result codes
// that the file services report.
#pragma once

#include "host/base/MacTypes.h"

namespace host {

// ENOENT -> fnfErr, EEXIST -> dupFNErr, EACCES/EPERM -> permErr, ENOSPC -> dskFulErr, ...
// 0 gives noErr; an errno without a closer match gives ioErr.
OSErr OSErrFromErrno(int err);

}  // namespace host
