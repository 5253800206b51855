#include "host/files/CatalogInfo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "host/files/FileErrors.h"
#include "host/files/HeldFolders.h"
#include "host/files/ResourceFork.h"

namespace host {
namespace {

// Seconds from 1904-01-01 to 1970-01-01.
constexpr int64_t kMacEpochOffset = 2082844800;

uint32_t ToMacSeconds(int64_t unixNs) {
  int64_t s = unixNs / 1000000000 + kMacEpochOffset;
  s = std::clamp<int64_t>(s, 0, UINT32_MAX);
  return static_cast<uint32_t>(s);
}

int64_t Ns(const struct statx_timestamp& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

}  // namespace

uint32_t CatalogInfo::CreationMacSeconds() const { return ToMacSeconds(creationTimeNs); }
uint32_t CatalogInfo::ModificationMacSeconds() const { return ToMacSeconds(modificationTimeNs); }

std::string AppleDoublePath(const std::string& path) {
  return JoinPath(ParentPath(path), "._" + LastPathName(path));
}

bool IsSidecarOf(const std::string& folderPath, const std::string& name) {
  if (name.size() <= 2 || name.compare(0, 2, "._") != 0) return false;
  struct stat st;
  return LstatAt(JoinPath(folderPath, name.substr(2)), &st) == 0;
}

OSErr ListFolder(const std::string& folderPath, std::vector<std::string>* names) {
  if (!names) return paramErr;
  names->clear();
  std::vector<std::string> all;
  if (ListNamesAt(folderPath, &all) != 0)
    return errno == ENOENT || errno == ENOTDIR ? OSErr(dirNFErr) : OSErrFromErrno(errno);
  std::sort(all.begin(), all.end());
  for (const std::string& n : all) {
    if (n.size() > 2 && n.compare(0, 2, "._") == 0 &&
        std::binary_search(all.begin(), all.end(), n.substr(2))) {
      continue;
    }
    names->push_back(n);
  }
  return noErr;
}

OSErr GetCatInfoForPath(const std::string& path, CatalogInfo* info) {
  if (!info) return paramErr;
  struct statx sx;
  struct stat link;
  const bool isLink = LstatAt(path, &link) == 0 && S_ISLNK(link.st_mode);
  // Below a held folder a link is never followed: it reports as the link
  // itself. Elsewhere a link whose target is gone is still an item of its
  // folder (it can be removed) and reports as the link too.
  if (StatxAt(path, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    if (!isLink || ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
      return OSErrFromErrno(errno);
  }
  CatalogInfo out;
  OSErr err = MakeFSSpecFromPath(path, &out.spec);
  if (err != noErr) return err;
  out.path = path;
  out.diskName = LastPathName(path);
  out.isFolder = S_ISDIR(sx.stx_mode);
  out.isLink = isLink;
  out.mode = sx.stx_mode;
  out.deviceID = (uint64_t(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
  out.nodeID = sx.stx_ino;
  out.modificationTimeNs = Ns(sx.stx_mtime);
  out.creationTimeNs = (sx.stx_mask & STATX_BTIME) ? Ns(sx.stx_btime) : Ns(sx.stx_mtime);
  GetFinderInfo(path, &out.finderInfo);
  if (!out.diskName.empty() && out.diskName[0] == '.') out.finderInfo.flags |= FinderInfo::kIsInvisible;
  out.invisible = (out.finderInfo.flags & FinderInfo::kIsInvisible) != 0;
  if (out.isFolder) {
    int16_t v = 0;
    err = GetDirIDForPath(path, &v, &out.dirID);
    if (err != noErr) return err;
    std::vector<std::string> names;
    if (ListFolder(path, &names) == noErr) out.valence = static_cast<uint32_t>(names.size());
  } else {
    out.dataLength = sx.stx_size;
    out.rsrcLength = ResourceForkLength(path);
  }
  *info = std::move(out);
  return noErr;
}

OSErr GetCatInfo(const FSSpec& spec, CatalogInfo* info) {
  std::string path;
  OSErr err = GetPathOfFSSpec(spec, &path);
  if (err != noErr) return err;
  return GetCatInfoForPath(path, info);
}

OSErr GetDirCatInfo(int16_t vRefNum, int32_t dirID, CatalogInfo* info) {
  std::string path;
  OSErr err = GetPathForDirID(vRefNum, dirID, &path);
  if (err != noErr) return err;
  return GetCatInfoForPath(path, info);
}

OSErr GetIndexedCatInfo(int16_t vRefNum, int32_t dirID, int index, CatalogInfo* info) {
  if (index < 1) return paramErr;
  std::string folder;
  OSErr err = GetPathForDirID(vRefNum, dirID, &folder);
  if (err != noErr) return err;
  std::vector<std::string> names;
  err = ListFolder(folder, &names);
  if (err != noErr) return err;
  if (static_cast<size_t>(index) > names.size()) return fnfErr;
  return GetCatInfoForPath(JoinPath(folder, names[index - 1]), info);
}

}  // namespace host
