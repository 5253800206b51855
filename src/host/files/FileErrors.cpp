#include "host/files/FileErrors.h"

#include <cerrno>

namespace host {

OSErr OSErrFromErrno(int err) {
  struct Row {
    int errnoValue;
    OSErr code;
  };
  static constexpr Row kTable[] = {
      {0, noErr},
      {ENOENT, fnfErr},
      {EEXIST, dupFNErr},
      {ENOTEMPTY, fBsyErr},
      {EBUSY, fBsyErr},
      {ETXTBSY, fBsyErr},
      {EACCES, permErr},
      {EPERM, permErr},
      {EROFS, wPrErr},
      {ENOSPC, dskFulErr},
      {EDQUOT, dskFulErr},
      {EFBIG, dskFulErr},
      {ENOTDIR, dirNFErr},
      {EISDIR, notAFileErr},
      {ENAMETOOLONG, errFSNameTooLong},
      {ELOOP, bdNamErr},
      {EILSEQ, bdNamErr},
      {EMFILE, tmfoErr},
      {ENFILE, tmfoErr},
      {EINVAL, paramErr},
      {EFAULT, paramErr},
      {ENOMEM, memFullErr},
      {EXDEV, diffVolErr},
      {EBADF, rfNumErr},
      {ENODEV, nsvErr},
      {ENXIO, nsvErr},
      {ESPIPE, posErr},
      {EIO, ioErr},
  };
  for (const Row& row : kTable) {
    if (row.errnoValue == err) return row.code;
  }
  return ioErr;
}

}  // namespace host
