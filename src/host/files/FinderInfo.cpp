#include "host/files/FinderInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

#include "host/base/ByteOrder.h"
#include "host/base/Fd.h"
#include "host/files/FileErrors.h"
#include "host/files/HeldFolders.h"

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

namespace {

// The path the attribute calls take for `path`: below a held folder the
// item opened from its descriptor without following a link (`held` keeps
// it open; a link there has no Finder information of its own: ELOOP),
// elsewhere the path itself.
int AttributePath(const std::string& path, Fd* held, std::string* attrPath) {
  if (!IsBelowHeldFolder(path)) {
    *attrPath = path;
    return 0;
  }
  held->Reset(OpenAt(path, O_PATH));
  struct stat st {};
  if (held->get() < 0 || ::fstat(held->get(), &st) != 0) return errno;
  if (S_ISLNK(st.st_mode)) return ELOOP;
  *attrPath = DescriptorPath(held->get());
  return 0;
}

}  // namespace

OSErr GetFinderInfo(const std::string& path, FinderInfo* info) {
  if (!info) return paramErr;
  *info = FinderInfo();
  Fd held;
  std::string attrPath;
  if (const int err = AttributePath(path, &held, &attrPath); err != 0) return err == ELOOP ? OSErr(noErr) : OSErrFromErrno(err);
  uint8_t buf[FinderInfo::kStoredSize] = {};
  const ssize_t n = ::getxattr(attrPath.c_str(), kAttrName, buf, sizeof buf);
  if (n < 0) {
    const int err = errno;
    if (err == ENODATA || IsUnsupported(err)) {
      struct stat st;
      return StatAt(path, &st) == 0 ? OSErr(noErr) : OSErrFromErrno(errno);
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
  Fd held;
  std::string attrPath;
  if (const int err = AttributePath(path, &held, &attrPath); err != 0) return OSErrFromErrno(err);
  if (::setxattr(attrPath.c_str(), kAttrName, buf, sizeof buf, 0) == 0) return noErr;
  const int err = errno;
  if (IsUnsupported(err)) {
    struct stat st;
    return StatAt(path, &st) == 0 ? OSErr(noErr) : OSErrFromErrno(errno);
  }
  return OSErrFromErrno(err);
}

bool FinderInfoSupported(const std::string& path) {
  Fd held;
  std::string attrPath;
  if (AttributePath(path, &held, &attrPath) != 0) return false;
  const ssize_t n = ::getxattr(attrPath.c_str(), kAttrName, nullptr, 0);
  return n >= 0 || !IsUnsupported(errno);
}

}  // namespace host
