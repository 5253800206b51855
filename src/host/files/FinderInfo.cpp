#include "host/files/FinderInfo.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

#include "host/base/ByteOrder.h"
#include "host/files/FileErrors.h"

namespace host {
namespace {

constexpr const char* kAttrName = "user.com.apple.FinderInfo";

bool IsUnsupported(int err) { return err == ENOTSUP || err == EOPNOTSUPP || err == EPERM; }

}  // namespace

void FinderInfo::EncodeBE(uint8_t* out) const {
  StoreBE32(out, type);
  StoreBE32(out + 4, creator);
  StoreBE16(out + 8, flags);
  StoreBE16(out + 10, static_cast<uint16_t>(locationV));
  StoreBE16(out + 12, static_cast<uint16_t>(locationH));
  StoreBE16(out + 14, static_cast<uint16_t>(folder));
  std::memcpy(out + 16, extended.data(), extended.size());
}

FinderInfo FinderInfo::DecodeBE(const uint8_t* in) {
  FinderInfo f;
  f.type = LoadBE32(in);
  f.creator = LoadBE32(in + 4);
  f.flags = LoadBE16(in + 8);
  f.locationV = LoadBEI16(in + 10);
  f.locationH = LoadBEI16(in + 12);
  f.folder = LoadBEI16(in + 14);
  std::memcpy(f.extended.data(), in + 16, f.extended.size());
  return f;
}

OSErr GetFinderInfo(const std::string& path, FinderInfo* info) {
  if (!info) return paramErr;
  *info = FinderInfo();
  uint8_t buf[FinderInfo::kStoredSize] = {};
  const ssize_t n = ::getxattr(path.c_str(), kAttrName, buf, sizeof buf);
  if (n < 0) {
    const int err = errno;
    if (err == ENODATA || IsUnsupported(err)) {
      struct stat st;
      return ::stat(path.c_str(), &st) == 0 ? OSErr(noErr) : OSErrFromErrno(errno);
    }
    if (err == ERANGE) return noErr;  // an oversized attribute is not ours
    return OSErrFromErrno(err);
  }
  // A shorter attribute reads as zero-filled.
  *info = FinderInfo::DecodeBE(buf);
  return noErr;
}

OSErr SetFinderInfo(const std::string& path, const FinderInfo& info) {
  uint8_t buf[FinderInfo::kStoredSize];
  info.EncodeBE(buf);
  if (::setxattr(path.c_str(), kAttrName, buf, sizeof buf, 0) == 0) return noErr;
  const int err = errno;
  if (IsUnsupported(err)) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? OSErr(noErr) : OSErrFromErrno(errno);
  }
  return OSErrFromErrno(err);
}

bool FinderInfoSupported(const std::string& path) {
  const ssize_t n = ::getxattr(path.c_str(), kAttrName, nullptr, 0);
  return n >= 0 || !IsUnsupported(errno);
}

}  // namespace host
