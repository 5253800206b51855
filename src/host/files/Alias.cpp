#include "host/files/Alias.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/base/ByteOrder.h"
#include "host/files/FileErrors.h"

namespace host {
namespace {

constexpr uint8_t kMagic[4] = {'K', 'v', 'A', 'l'};
constexpr uint16_t kVersion = 1;

void PutString(std::vector<uint8_t>& out, const std::string& s) {
  uint8_t len[2];
  StoreBE16(len, static_cast<uint16_t>(s.size()));
  out.insert(out.end(), len, len + 2);
  out.insert(out.end(), s.begin(), s.end());
}

bool GetString(const uint8_t* bytes, size_t size, size_t& pos, std::string* s) {
  if (size - pos < 2) return false;
  const size_t len = LoadBE16(bytes + pos);
  pos += 2;
  if (size - pos < len) return false;
  s->assign(reinterpret_cast<const char*>(bytes + pos), len);
  pos += len;
  return true;
}

bool Exists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::vector<uint8_t> AliasRecord::Encode() const {
  // The magic and the version, written in place (GCC 12 wrongly warns of an
  // out-of-bounds copy, -Warray-bounds, for an insert after the magic).
  std::vector<uint8_t> out(6);
  std::copy(kMagic, kMagic + 4, out.begin());
  StoreBE16(out.data() + 4, kVersion);
  PutString(out, path.substr(0, 0xFFFF));
  PutString(out, volumeLabel.substr(0, 0xFFFF));
  PutString(out, relativePath.substr(0, 0xFFFF));
  return out;
}

OSErr AliasRecord::Decode(const uint8_t* bytes, size_t size, AliasRecord* alias) {
  if (!bytes || !alias || size < 6 || std::memcmp(bytes, kMagic, 4) != 0 ||
      LoadBE16(bytes + 4) != kVersion) {
    return paramErr;
  }
  AliasRecord a;
  size_t pos = 6;
  if (!GetString(bytes, size, pos, &a.path) || !GetString(bytes, size, pos, &a.volumeLabel) ||
      !GetString(bytes, size, pos, &a.relativePath)) {
    return paramErr;
  }
  // Only absolute paths, and relative paths that stay below their mount point.
  if (a.path.empty() || a.path[0] != '/') return paramErr;
  const std::string rel = "/" + a.relativePath + "/";
  if (rel.find("/../") != std::string::npos) return paramErr;
  *alias = std::move(a);
  return noErr;
}

OSErr NewAlias(const std::string& path, AliasRecord* alias) {
  if (!alias) return paramErr;
  FSSpec spec;
  OSErr err = MakeFSSpecFromPath(path, &spec);
  if (err != noErr) return err;
  char buf[PATH_MAX];
  if (!::realpath(path.c_str(), buf)) return OSErrFromErrno(errno);
  const std::string canonical = buf;
  int16_t vRefNum = 0;
  err = GetVolumeForPath(canonical, &vRefNum);
  if (err != noErr) return err;
  VolumeInfo volume;
  err = GetVolumeInfo(vRefNum, &volume);
  if (err != noErr) return err;
  AliasRecord a;
  a.path = canonical;
  a.volumeLabel = volume.label;
  std::string rel = canonical.substr(std::min(volume.mountPoint.size(), canonical.size()));
  while (!rel.empty() && rel[0] == '/') rel.erase(0, 1);
  a.relativePath = rel;
  *alias = std::move(a);
  return noErr;
}

OSErr NewAlias(const FSSpec& spec, AliasRecord* alias) {
  FSRef ref;
  OSErr err = FSpMakeFSRef(spec, &ref);
  if (err != noErr) return err;
  return NewAlias(ref.path, alias);
}

OSErr ResolveAlias(const AliasRecord& alias, std::string* path, bool* wasChanged) {
  if (!path) return paramErr;
  if (wasChanged) *wasChanged = false;
  if (Exists(alias.path)) {
    *path = alias.path;
    return noErr;
  }
  if (alias.volumeLabel.empty()) return fnfErr;
  VolumeInfo volume;
  for (int index = 1; GetIndexedVolume(index, &volume) == noErr; ++index) {
    if (volume.label != alias.volumeLabel) continue;
    const std::string candidate =
        alias.relativePath.empty() ? volume.mountPoint : JoinPath(volume.mountPoint, alias.relativePath);
    if (Exists(candidate)) {
      *path = candidate;
      if (wasChanged) *wasChanged = true;
      return noErr;
    }
  }
  return fnfErr;
}

}  // namespace host
