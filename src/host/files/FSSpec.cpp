#include "host/files/FSSpec.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <unordered_map>

#include "host/base/ByteOrder.h"
#include "host/base/MacRoman.h"
#include "host/files/FileErrors.h"
#include "host/files/HeldFolders.h"

void FSSpec::EncodeBE(uint8_t* out) const {
  host::StoreBE16(out, static_cast<uint16_t>(vRefNum));
  host::StoreBE32(out + 2, static_cast<uint32_t>(parID));
  std::memcpy(out + 6, name.data(), 64);
}

FSSpec FSSpec::DecodeBE(const uint8_t* in) {
  FSSpec s;
  s.vRefNum = host::LoadBEI16(in);
  s.parID = host::LoadBEI32(in + 2);
  s.name = CStr63_AC::FromStored(in + 6, 64);
  return s;
}

namespace host {
namespace {

constexpr int16_t kFirstVolume = -100;

struct MountEntry {
  std::string mountPoint;
  std::string fsType;
  std::string source;
};

// Undoes the octal escapes (\040 for a space ...) of /proc/self/mountinfo.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() &&
        s[i + 1] >= '0' && s[i + 1] <= '7' && s[i + 2] >= '0' && s[i + 2] <= '7' &&
        s[i + 3] >= '0' && s[i + 3] <= '7') {
      out += static_cast<char>(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<MountEntry> ReadMounts() {
  std::vector<MountEntry> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    std::string w;
    while (fields >> w) f.push_back(w);
    size_t dash = 0;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (f.size() < 5 || dash + 2 >= f.size()) continue;
    mounts.push_back({Unescape(f[4]), f[dash + 1], Unescape(f[dash + 2])});
  }
  return mounts;
}

bool IsPseudoFileSystem(const std::string& type) {
  static const std::set<std::string> kPseudo = {
      "proc", "sysfs", "cgroup", "cgroup2", "devpts", "mqueue", "securityfs", "debugfs",
      "tracefs", "pstore", "bpf", "configfs", "fusectl", "hugetlbfs", "autofs", "binfmt_misc",
      "nsfs", "rpc_pipefs", "efivarfs", "selinuxfs", "devtmpfs"};
  return kPseudo.count(type) > 0;
}

std::string RealPath(const std::string& path, int* err) {
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf) == nullptr) {
    *err = errno;
    return {};
  }
  *err = 0;
  return buf;
}

uint32_t NameHash(const std::string& s) {
  uint32_t h = 2166136261u;
  for (unsigned char c : s) h = (h ^ c) * 16777619u;
  return h;
}

struct VolumeRec {
  int16_t vRefNum;
  std::string mountPoint;
  dev_t dev;
};

class FileIdTable {
 public:
  static FileIdTable& Get() {
    static FileIdTable* table = new FileIdTable();
    return *table;
  }

  std::mutex mutex;

  // The volume whose root is `mountPoint`, registered on first sight.
  int16_t VolumeFor(const std::string& mountPoint, dev_t dev) {
    for (const VolumeRec& v : volumes_) {
      if (v.mountPoint == mountPoint) return v.vRefNum;
    }
    const int16_t ref = static_cast<int16_t>(kFirstVolume - static_cast<int>(volumes_.size()));
    volumes_.push_back({ref, mountPoint, dev});
    return ref;
  }
  const VolumeRec* Volume(int16_t vRefNum) const {
    for (const VolumeRec& v : volumes_) {
      if (v.vRefNum == vRefNum) return &v;
    }
    return nullptr;
  }
  const VolumeRec* VolumeAt(const std::string& mountPoint) const {
    for (const VolumeRec& v : volumes_) {
      if (v.mountPoint == mountPoint) return &v;
    }
    return nullptr;
  }

  void RegisterStandIn(int32_t dirID, const std::string& macName, const std::string& diskName) {
    standIns_[{dirID, macName}] = diskName;
  }
  const std::string* StandIn(int32_t dirID, const std::string& macName) const {
    auto it = standIns_.find({dirID, macName});
    return it == standIns_.end() ? nullptr : &it->second;
  }

 private:
  std::vector<VolumeRec> volumes_;
  std::map<std::pair<int32_t, std::string>, std::string> standIns_;
};

// The root of the file system holding the existing, canonical `path`.
std::string MountPointOf(const std::string& path, dev_t dev) {
  std::string cur = path;
  while (cur != "/") {
    const std::string parent = ParentPath(cur);
    struct stat st;
    if (::stat(parent.c_str(), &st) != 0 || st.st_dev != dev) break;
    cur = parent;
  }
  return cur;
}

std::string LabelOf(const std::string& mountPoint) {
  std::string source;
  for (const MountEntry& m : ReadMounts()) {
    if (m.mountPoint == mountPoint) source = m.source;  // later mounts hide earlier ones
  }
  if (!source.empty() && source[0] == '/') {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/dev/disk/by-label", ec)) {
      std::error_code ec2;
      if (std::filesystem::canonical(e.path(), ec2) == std::filesystem::path(source)) {
        return Unescape(e.path().filename().string());
      }
    }
  }
  if (mountPoint == "/") return "/";
  return LastPathName(mountPoint);
}

// Registers the volume of an existing canonical path; caller holds the lock.
OSErr VolumeOfLocked(FileIdTable& t, const std::string& canonical, int16_t* vRefNum,
                     std::string* mountPoint = nullptr) {
  struct stat st;
  if (::stat(canonical.c_str(), &st) != 0) return OSErrFromErrno(errno);
  const std::string mp = MountPointOf(canonical, st.st_dev);
  *vRefNum = t.VolumeFor(mp, st.st_dev);
  if (mountPoint) *mountPoint = mp;
  return noErr;
}

// The id of the existing folder at `path` (see HeldFolders.h: a folder at
// or below a held folder is reached from its descriptor, never through a
// link); a volume's root gets fsRtDirID. Caller holds the lock.
OSErr DirIDOfLocked(FileIdTable& t, const std::string& path, int16_t* vRefNum, int32_t* dirID) {
  int32_t id = 0;
  dev_t device = 0;
  std::string real;
  if (FolderIdOf(path, &id, &device, &real) != 0)
    return errno == ENOENT || errno == ENOTDIR ? OSErr(dirNFErr) : OSErrFromErrno(errno);
  std::string mp;
  OSErr err = VolumeOfLocked(t, real, vRefNum, &mp);
  if (err != noErr) return err;
  *dirID = real == mp ? fsRtDirID : id;
  return noErr;
}

OSErr PathOfDirLocked(FileIdTable& t, int16_t vRefNum, int32_t dirID, std::string* path) {
  if (dirID == fsRtDirID) {
    if (vRefNum == 0) {
      path->assign(1, '/');
      return noErr;
    }
    const VolumeRec* v = t.Volume(vRefNum);
    if (!v) return nsvErr;
    *path = v->mountPoint;
    return noErr;
  }
  if (PathOfFolderId(dirID, path) != 0) return dirNFErr;
  return noErr;
}

// The on-disk name for an FSSpec name inside folder `dirID`.
OSErr DiskNameInLocked(FileIdTable& t, int32_t dirID, std::string_view macName, std::string* disk) {
  if (const std::string* s = t.StandIn(dirID, std::string(macName))) {
    *disk = *s;
    return noErr;
  }
  return MacNameToDiskName(macName, disk);
}

CStr63_AC MacNameLocked(FileIdTable& t, int32_t dirID, const std::string& diskName) {
  std::string swapped = diskName;
  for (char& c : swapped) {
    if (c == ':') c = '/';
  }
  bool lossless = true;
  const std::string mac = UTF8ToMacRoman(swapped, &lossless);
  if (lossless && !mac.empty() && mac.size() <= CStr63_AC::kCapacity) return CStr63_AC::FromMacRoman(mac);

  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "#%X", NameHash(diskName));
  std::string ext;
  const size_t dot = mac.rfind('.');
  if (dot != std::string::npos && dot > 0 && mac.size() - dot <= 6) ext = mac.substr(dot);
  const size_t room = CStr63_AC::kCapacity - std::strlen(suffix) - ext.size();
  std::string base = mac.substr(0, dot != std::string::npos && !ext.empty() ? dot : mac.size());
  if (base.size() > room) base.resize(room);
  const std::string standIn = base + suffix + ext;
  t.RegisterStandIn(dirID, standIn, diskName);
  return CStr63_AC::FromMacRoman(standIn);
}

OSErr AbsolutePath(const std::string& path, std::string* out) {
  if (path.empty()) return paramErr;
  if (path[0] == '/') {
    *out = path;
  } else {
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return OSErrFromErrno(errno);
    *out = JoinPath(cwd, path);
  }
  while (out->size() > 1 && out->back() == '/') out->pop_back();
  return noErr;
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string LastPathName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string ParentPath(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

OSErr MacNameToDiskName(std::string_view macRoman, std::string* diskName) {
  if (macRoman.empty() || macRoman == "." || macRoman == "..") return bdNamErr;
  for (char c : macRoman) {
    if (c == ':' || c == '\0') return bdNamErr;
  }
  std::string utf8 = MacRomanToUTF8(macRoman);
  for (char& c : utf8) {
    if (c == '/') c = ':';
  }
  if (utf8.size() > NAME_MAX) return errFSNameTooLong;
  *diskName = std::move(utf8);
  return noErr;
}

CStr63_AC DiskNameToMacName(int32_t dirID, const std::string& diskName) {
  FileIdTable& t = FileIdTable::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  return MacNameLocked(t, dirID, diskName);
}

OSErr GetVolumeInfo(int16_t vRefNum, VolumeInfo* info) {
  if (!info) return paramErr;
  FileIdTable& t = FileIdTable::Get();
  std::string mp;
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    const VolumeRec* v = vRefNum == 0 ? nullptr : t.Volume(vRefNum);
    if (vRefNum == 0) {
      int16_t ref = 0;
      OSErr err = VolumeOfLocked(t, "/", &ref, &mp);
      if (err != noErr) return err;
      vRefNum = ref;
    } else if (!v) {
      return nsvErr;
    } else {
      mp = v->mountPoint;
    }
  }
  struct statvfs vfs;
  if (::statvfs(mp.c_str(), &vfs) != 0) return errno == ENOENT ? OSErr(nsvErr) : OSErrFromErrno(errno);
  info->vRefNum = vRefNum;
  info->mountPoint = mp;
  info->label = LabelOf(mp);
  info->totalBytes = uint64_t(vfs.f_blocks) * vfs.f_frsize;
  info->freeBytes = uint64_t(vfs.f_bavail) * vfs.f_frsize;
  info->readOnly = (vfs.f_flag & ST_RDONLY) != 0;
  return noErr;
}

OSErr GetIndexedVolume(int index, VolumeInfo* info) {
  if (!info || index < 1) return paramErr;
  std::vector<std::string> points;
  for (const MountEntry& m : ReadMounts()) {
    if (IsPseudoFileSystem(m.fsType)) continue;
    bool seen = false;
    for (const std::string& p : points) seen = seen || p == m.mountPoint;
    if (!seen) points.push_back(m.mountPoint);
  }
  if (static_cast<size_t>(index) > points.size()) return nsvErr;
  const std::string& mp = points[index - 1];
  FileIdTable& t = FileIdTable::Get();
  int16_t ref = 0;
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    struct stat st;
    if (::stat(mp.c_str(), &st) != 0) return OSErrFromErrno(errno);
    ref = t.VolumeFor(mp, st.st_dev);
  }
  return GetVolumeInfo(ref, info);
}

OSErr GetVolumeForPath(const std::string& path, int16_t* vRefNum) {
  if (!vRefNum) return paramErr;
  const std::string canonical = KernelPathAt(path);
  if (canonical.empty()) return OSErrFromErrno(errno);
  FileIdTable& t = FileIdTable::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  return VolumeOfLocked(t, canonical, vRefNum);
}

OSErr GetDirIDForPath(const std::string& path, int16_t* vRefNum, int32_t* dirID) {
  if (!vRefNum || !dirID) return paramErr;
  std::string absolute;
  if (OSErr err = AbsolutePath(path, &absolute); err != noErr) return err;
  FileIdTable& t = FileIdTable::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  return DirIDOfLocked(t, absolute, vRefNum, dirID);
}

OSErr GetPathForDirID(int16_t vRefNum, int32_t dirID, std::string* path) {
  if (!path) return paramErr;
  FileIdTable& t = FileIdTable::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  return PathOfDirLocked(t, vRefNum, dirID, path);
}

OSErr GetPathOfFSSpec(const FSSpec& spec, std::string* path) {
  if (!path) return paramErr;
  if (spec.vRefNum == kNoVolume || spec.parID == kNoDirectory) return nsvErr;
  FileIdTable& t = FileIdTable::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (spec.parID == fsRtParID) return PathOfDirLocked(t, spec.vRefNum, fsRtDirID, path);
  std::string folder;
  OSErr err = PathOfDirLocked(t, spec.vRefNum, spec.parID, &folder);
  if (err != noErr) return err;
  if (spec.name.IsEmpty()) {
    *path = folder;
    return noErr;
  }
  std::string disk;
  err = DiskNameInLocked(t, spec.parID, spec.name.view(), &disk);
  if (err != noErr) return err;
  *path = JoinPath(folder, disk);
  return noErr;
}

OSErr FSpMakeFSRef(const FSSpec& spec, FSRef* ref) {
  if (!ref) return paramErr;
  std::string path;
  OSErr err = GetPathOfFSSpec(spec, &path);
  if (err != noErr) return err;
  struct stat st;
  if (LstatAt(path, &st) != 0) return OSErrFromErrno(errno);
  ref->path = path;
  return noErr;
}

OSErr MakeFSSpecFromPath(const std::string& rawPath, FSSpec* spec) {
  if (!spec) return paramErr;
  std::string path;
  OSErr err = AbsolutePath(rawPath, &path);
  if (err != noErr) return err;
  std::string last = LastPathName(path);
  if (path == "/" || last == "." || last == "..") {
    int e = 0;
    path = RealPath(path, &e);
    if (e) return OSErrFromErrno(e);
    last = LastPathName(path);
  }
  FileIdTable& t = FileIdTable::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (path == "/") {
    int16_t ref = 0;
    err = VolumeOfLocked(t, "/", &ref);
    if (err != noErr) return err;
    spec->vRefNum = ref;
    spec->parID = fsRtParID;
    spec->name.AssignUTF8("/");
    return noErr;
  }
  const std::string parent = ParentPath(path);
  int16_t ref = 0;
  int32_t dirID = 0;
  err = DirIDOfLocked(t, parent, &ref, &dirID);
  if (err != noErr) return err;
  const std::string full = JoinPath(parent, last);
  struct stat st;
  const bool exists = LstatAt(full, &st) == 0;
  const int lstatErr = exists ? 0 : errno;
  if (exists && S_ISDIR(st.st_mode)) {
    // A mount point is the root of its own volume.
    int16_t own = 0;
    std::string mp;
    const std::string real = KernelPathAt(full);
    if (!real.empty() && VolumeOfLocked(t, real, &own, &mp) == noErr && mp == real) {
      spec->vRefNum = own;
      spec->parID = fsRtParID;
      spec->name.AssignUTF8(LabelOf(mp));
      return noErr;
    }
  }
  spec->vRefNum = ref;
  spec->parID = dirID;
  spec->name = MacNameLocked(t, dirID, last);
  if (!exists) return OSErrFromErrno(lstatErr);
  return noErr;
}

OSErr MakeFolderSpecFromPath(const std::string& path, FSSpec* spec) {
  if (!spec) return paramErr;
  int16_t ref = 0;
  int32_t dirID = 0;
  OSErr err = GetDirIDForPath(path, &ref, &dirID);
  if (err != noErr) return err;
  spec->vRefNum = ref;
  spec->parID = dirID;
  spec->name = CStr63_AC();
  return noErr;
}

OSErr FSMakeFSSpec(int16_t vRefNum, int32_t dirID, std::string_view macRomanName, FSSpec* spec) {
  if (!spec) return paramErr;
  if (vRefNum == kNoVolume || dirID == kNoDirectory) return nsvErr;
  std::string folder;
  OSErr err = GetPathForDirID(vRefNum, dirID, &folder);
  if (err != noErr) return err;
  if (macRomanName.empty()) return MakeFSSpecFromPath(folder, spec);

  std::string disk;
  {
    FileIdTable& t = FileIdTable::Get();
    std::lock_guard<std::mutex> lock(t.mutex);
    err = DiskNameInLocked(t, dirID, macRomanName, &disk);
  }
  if (err != noErr) return err;
  const std::string full = JoinPath(folder, disk);
  if (macRomanName.size() > CStr63_AC::kCapacity) {
    // Too long for a specification: only an existing item can be named, by
    // its stand-in name.
    struct stat st;
    if (LstatAt(full, &st) != 0) return bdNamErr;
  }
  return MakeFSSpecFromPath(full, spec);
}

}  // namespace host
