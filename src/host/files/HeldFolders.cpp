#include "host/files/HeldFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "host/base/UniqueFile.h"

namespace host {
namespace {

// ---- paths

// `path` made absolute, with repeated "/", "." names and trailing "/" gone.
// ".." is kept: a path that climbs out of a held folder through it is
// refused by the kernel's RESOLVE_BENEATH, never followed lexically.
std::string Normalize(const std::string& path) {
  std::string in = path;
  if (in.empty()) return in;
  if (in[0] != '/') {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) in = std::string(cwd) + "/" + in;
  }
  std::string out;
  size_t i = 0;
  while (i < in.size()) {
    while (i < in.size() && in[i] == '/') ++i;
    size_t end = in.find('/', i);
    if (end == std::string::npos) end = in.size();
    const std::string part = in.substr(i, end - i);
    if (!part.empty() && part != ".") out += "/" + part;
    i = end;
  }
  return out.empty() ? "/" : out;
}

std::string Parent(const std::string& norm) {
  const size_t slash = norm.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return norm.substr(0, slash);
}

std::string Last(const std::string& norm) {
  const size_t slash = norm.rfind('/');
  return slash == std::string::npos ? norm : norm.substr(slash + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Where the kernel has the item open as `fd` now, for finding its volume.
std::string KernelPath(int fd) {
  char buf[4096];
  const ssize_t n = ::readlink(DescriptorPath(fd).c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  buf[n] = '\0';
  return buf;
}

std::string Quoted(const std::string& path) {
  std::string out = "'";
  for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Whether the normal path `path` is `top` or lies below it.
bool AtOrBelow(const std::string& path, const std::string& top) {
  if (path == top) return true;
  if (top == "/") return path.size() > 1;
  return path.size() > top.size() && path.compare(0, top.size(), top) == 0 && path[top.size()] == '/';
}

// ---- opening below a folder

// After an open of `name` in the folder `at` that asked for a folder failed
// with ENOTDIR: a link there is told as the link it is (ELOOP); errno is
// left as it was otherwise.
void TellLinkAsLoop(int at, const char* name) {
  const int saved = errno;
  struct stat st {};
  errno = ::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode) ? ELOOP : saved;
}

// Opens `rest` (relative, no leading "/") below the folder open as `dirFd`
// without following any link, the last name included, and without leaving
// the folder; `flags` as for openat. -1 with errno (ELOOP for a link).
int OpenBelow(int dirFd, const std::string& rest, int flags, unsigned mode = 0) {
  const int last = flags | O_CLOEXEC | O_NOFOLLOW;
#ifdef SYS_openat2
  open_how how{};
  how.flags = static_cast<uint64_t>(last);
  how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const int fd = static_cast<int>(::syscall(SYS_openat2, dirFd, rest.c_str(), &how, sizeof how));
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) {
    // A folder asked for that is a link fails as "not a folder": told as
    // the link it is.
    if (fd < 0 && errno == ENOTDIR && (flags & O_DIRECTORY)) TellLinkAsLoop(dirFd, rest.c_str());
    return fd;
  }
#endif
  // Kernels without openat2 (or a sandbox that refuses it): name by name,
  // each opened below the last without following a link.
  Fd at(::openat(dirFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (at.get() < 0) return -1;
  size_t start = 0;
  for (;;) {
    const size_t slash = rest.find('/', start);
    const std::string name = rest.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (name == "..") {
      errno = EXDEV;
      return -1;
    }
    if (slash == std::string::npos) {
      const int fd = ::openat(at.get(), name.empty() ? "." : name.c_str(), last, mode);
      if (fd < 0 && errno == ENOTDIR && (flags & O_DIRECTORY)) TellLinkAsLoop(at.get(), name.c_str());
      return fd;
    }
    if (!name.empty()) {
      Fd next(::openat(at.get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
      if (next.get() < 0) {
        if (errno == ENOTDIR) TellLinkAsLoop(at.get(), name.c_str());
        return -1;
      }
      at.Reset(next.Release());
    }
    start = slash + 1;
  }
}

// ---- the table

struct Entry {
  enum Kind { kHeld, kBelow, kElsewhere };
  Kind kind = kElsewhere;
  int32_t id = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  int64_t birthNs = 0;
  // kHeld: the descriptor, the paths naming it (the first one is shown).
  int fd = -1;
  std::vector<std::string> paths;
  bool watched = false;
  // kBelow: the held folder it lies below and its path there.
  int32_t base = 0;
  std::string rest;
  // kElsewhere: its path, as the kernel had it.
  std::string path;
};

int64_t BirthOf(int fd) {
  struct statx sx {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
    return int64_t(sx.stx_btime.tv_sec) * 1000000000 + sx.stx_btime.tv_nsec;
  return 0;
}

class Table {
 public:
  static Table& Get() {
    static Table* table = new Table();
    return *table;
  }
  std::mutex mutex;
  std::map<int32_t, Entry> byId;
  std::map<std::pair<uint64_t, uint64_t>, int32_t> byNode;
  int32_t nextId = 100;

  // The held folder `norm` is at or below, by the longest of the paths
  // naming one: its entry and the rest of the path below it.
  Entry* FindHeld(const std::string& norm, std::string* rest) {
    Entry* best = nullptr;
    size_t bestLength = 0;
    for (auto& [id, e] : byId) {
      if (e.kind != Entry::kHeld) continue;
      for (const std::string& p : e.paths) {
        if (AtOrBelow(norm, p) && (!best || p.size() > bestLength)) {
          best = &e;
          bestLength = p.size();
          if (rest) *rest = norm == p ? std::string() : norm.substr(p == "/" ? 1 : p.size() + 1);
        }
      }
    }
    return best;
  }

  Entry* ByNode(const struct stat& st) {
    auto it = byNode.find({uint64_t(st.st_dev), uint64_t(st.st_ino)});
    return it == byNode.end() ? nullptr : &byId[it->second];
  }

  Entry& Add(const struct stat& st, int64_t birth) {
    const int32_t id = nextId++;
    Entry& e = byId[id];
    e.id = id;
    e.dev = st.st_dev;
    e.ino = st.st_ino;
    e.birthNs = birth;
    byNode[{uint64_t(st.st_dev), uint64_t(st.st_ino)}] = id;
    return e;
  }

  void Forget(Entry& e) {
    byNode.erase({uint64_t(e.dev), uint64_t(e.ino)});
    if (e.fd >= 0) ::close(e.fd);
    byId.erase(e.id);
  }
};

// ---- the strict check

std::string UserName(uid_t uid) {
  passwd pw {}, *found = nullptr;
  char buf[4096];
  if (::getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found) return pw.pw_name;
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  group gr {}, *found = nullptr;
  char buf[8192];
  if (::getgrgid_r(gid, &gr, buf, sizeof buf, &found) == 0 && found) return gr.gr_name;
  return std::to_string(gid);
}

// Whether group `gid` has a member other than the program's user: a user
// listed in it, or one whose own group it is.
bool GroupHasOtherMembers(gid_t gid) {
  static std::mutex mutex;
  static std::map<gid_t, bool> known;
  std::lock_guard<std::mutex> lock(mutex);
  if (auto it = known.find(gid); it != known.end()) return it->second;
  const uid_t me = ::geteuid();
  bool others = false;
  group gr {}, *found = nullptr;
  std::vector<char> buf(1 << 16);
  if (::getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) == 0 && found)
    for (char** m = gr.gr_mem; m && *m && !others; ++m) {
      passwd pw {}, *user = nullptr;
      char pbuf[4096];
      others = !(::getpwnam_r(*m, &pw, pbuf, sizeof pbuf, &user) == 0 && user && pw.pw_uid == me);
    }
  ::setpwent();
  while (!others)
    if (const passwd* pw = ::getpwent()) others = pw->pw_gid == gid && pw->pw_uid != me;
    else break;
  ::endpwent();
  known[gid] = others;
  return others;
}

bool OwnerIsTrusted(const struct stat& st) { return st.st_uid == 0 || st.st_uid == ::geteuid(); }

// Which of "group" and "others" may write in a folder: "g", "o", "go" or "".
std::string WritersBesidesUs(const struct stat& st) {
  std::string who;
  if ((st.st_mode & S_IWGRP) && GroupHasOtherMembers(st.st_gid)) who += "g";
  if (st.st_mode & S_IWOTH) who += "o";
  return who;
}

std::string ModeText(const struct stat& st) {
  char text[64];
  std::snprintf(text, sizeof text, "mode %04o, owner %s, group %s", unsigned(st.st_mode & 07777),
                UserName(st.st_uid).c_str(), GroupName(st.st_gid).c_str());
  return text;
}

// The check of one folder on the way (`last` false) or of the folder held
// (`last` true, for `use`); false with `refusal`.
bool FolderPasses(const struct stat& st, const std::string& shown, bool last, FolderUse use, FolderRefusal* refusal) {
  if (use == FolderUse::kSource) return true;
  if (last && use == FolderUse::kOutput) return true;
  auto refuse = [&](const std::string& why, const std::string& mend) {
    if (refusal) *refusal = {shown, why + " (" + ModeText(st) + ")", mend};
    return false;
  };
  if (!OwnerIsTrusted(st))
    return refuse("belongs to another user, who can change it", "chown " + UserName(::geteuid()) + " " + Quoted(shown));
  const std::string writers = WritersBesidesUs(st);
  if (writers.empty()) return true;
  const bool sticky = (st.st_mode & S_ISVTX) != 0;
  if (last && use == FolderUse::kDrop) {
    if (sticky) return true;
    return refuse("can be written by other users without the sticky bit, so one station could rename or remove "
                  "another's files",
                  "chmod +t " + Quoted(shown));
  }
  if (!last && sticky) return true;
  return refuse(std::string("can be written by other users") +
                    (writers.find('g') != std::string::npos ? " of its group" : "") +
                    ", who could rename or replace what the program keeps in it",
                "chmod " + writers + "-w " + Quoted(shown));
}

// Walks `rest` one name at a time from the folder open as `startFd` (shown
// as `startShown`; "/" when `startFd` is -1), checking each folder on the
// way and the folder at its end (for `use`), and opens that folder. With
// `linksAllowed` (a walk from "/") a link of root's or the program user's is
// followed; below a held folder no link is (ELOOP), and ".." never leaves
// it. False with `refusal`.
bool WalkChecked(int startFd, const std::string& startShown, const std::string& rest, bool linksAllowed,
                 FolderUse use, Fd* out, FolderRefusal* refusal) {
  auto fail = [&](const std::string& folder, const std::string& why) {
    if (refusal) *refusal = {folder, why, ""};
    return false;
  };
  Fd cur(startFd >= 0 ? ::openat(startFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC)
                      : ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  std::string shown = startFd >= 0 ? startShown : "/";
  if (cur.get() < 0) return fail(shown, std::string("cannot be opened: ") + std::strerror(errno));
  std::deque<std::string> parts;
  auto push = [&](const std::string& path, bool front) {
    std::deque<std::string> split;
    size_t i = 0;
    while (i <= path.size()) {
      size_t end = path.find('/', i);
      if (end == std::string::npos) end = path.size();
      if (end > i) split.push_back(path.substr(i, end - i));
      i = end + 1;
    }
    if (front) parts.insert(parts.begin(), split.begin(), split.end());
    else parts.insert(parts.end(), split.begin(), split.end());
  };
  push(rest, false);
  struct stat st {};
  if (::fstat(cur.get(), &st) != 0) return fail(shown, std::strerror(errno));
  // A held folder the walk starts from was checked when it was held.
  if ((startFd < 0 || parts.empty()) && !FolderPasses(st, shown, parts.empty(), use, refusal)) return false;
  int links = 0;
  while (!parts.empty()) {
    const std::string part = parts.front();
    parts.pop_front();
    if (part == ".") continue;
    if (part == "..") {
      if (!linksAllowed) return fail(shown, "is left through \"..\", which the program never does");
      Fd up(::openat(cur.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (up.get() < 0) return fail(shown, std::strerror(errno));
      cur.Reset(up.Release());
      shown = Parent(shown);
      continue;
    }
    const std::string here = Join(shown, part);
    Fd next(::openat(cur.get(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (next.get() < 0) return fail(here, std::string("cannot be opened: ") + std::strerror(errno));
    if (::fstat(next.get(), &st) != 0) return fail(here, std::strerror(errno));
    if (S_ISLNK(st.st_mode)) {
      if (!linksAllowed)
        return fail(here, "is a symbolic link, which is never followed below the program's folders");
      if (!OwnerIsTrusted(st)) {
        if (refusal)
          *refusal = {here, "is a symbolic link of another user (" + UserName(st.st_uid) +
                                "), who could point it anywhere",
                      "rm " + Quoted(here) + ", then put the folder itself (or a link of your own) there"};
        return false;
      }
      if (++links > 40) return fail(here, "leads through too many symbolic links");
      char target[4096];
      const ssize_t n = ::readlinkat(next.get(), "", target, sizeof target - 1);
      if (n <= 0) return fail(here, std::string("cannot be read: ") + std::strerror(errno));
      target[n] = '\0';
      if (target[0] == '/') {
        cur.Reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        shown = "/";
      }
      push(target, true);
      continue;
    }
    if (!S_ISDIR(st.st_mode)) return fail(here, "is not a folder");
    if (!FolderPasses(st, here, parts.empty(), use, refusal)) return false;
    cur.Reset(next.Release());
    shown = here;
  }
  // The walk opened names as O_PATH; the folder held is opened as a folder.
  out->Reset(::openat(cur.get(), ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (out->get() < 0) return fail(shown, std::strerror(errno));
  return true;
}

// The folder `norm` opened for holding and checked for `use`: below a held
// folder by a walk from it (no link followed), elsewhere by the strict walk
// from "/" (or, for a source, as it stands).
bool OpenForHolding(Table& t, const std::string& norm, FolderUse use, Fd* out, FolderRefusal* refusal) {
  std::string rest;
  if (Entry* held = t.FindHeld(norm, &rest)) {
    const std::string heldPath = rest.empty() ? norm : norm.substr(0, norm.size() - rest.size() - 1);
    return WalkChecked(held->fd, heldPath.empty() ? "/" : heldPath, rest, false, use, out, refusal);
  }
  if (use == FolderUse::kSource) {
    out->Reset(::open(norm.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (out->get() < 0 && refusal) *refusal = {norm, std::string("cannot be opened: ") + std::strerror(errno), ""};
    return out->get() >= 0;
  }
  return WalkChecked(-1, "/", norm, true, use, out, refusal);
}

bool SameNode(const struct stat& a, const Entry& e) { return a.st_dev == e.dev && a.st_ino == e.ino; }

// Gives every held path at or below `from` the new start `to`.
void RenameHeldPaths(Table& t, const std::string& from, const std::string& to) {
  for (auto& [id, e] : t.byId) {
    if (e.kind != Entry::kHeld) continue;
    for (std::string& p : e.paths)
      if (AtOrBelow(p, from)) p = to + p.substr(from.size());
  }
}

}  // namespace

std::string FolderRefusal::Text() const {
  std::string text = "the folder \"" + folder + "\" " + why;
  if (!mend.empty()) text += "; mend it with: " + mend;
  return text;
}

bool HoldFolder(const std::string& path, FolderUse use, FolderRefusal* refusal, bool watch) {
  if (path.empty()) {
    if (refusal) *refusal = {"", "is not named", ""};
    return false;
  }
  const std::string norm = Normalize(path);
  Table& t = Table::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  Fd fd;
  if (!OpenForHolding(t, norm, use, &fd, refusal)) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return false;
  Entry* e = t.ByNode(st);
  if (e && e->kind != Entry::kHeld) {
    e->kind = Entry::kHeld;
    e->rest.clear();
    e->path.clear();
  }
  if (!e) e = &t.Add(st, BirthOf(fd.get()));
  e->kind = Entry::kHeld;
  if (e->fd < 0) e->fd = fd.Release();
  auto addPath = [&](const std::string& p) {
    if (!p.empty() && std::find(e->paths.begin(), e->paths.end(), p) == e->paths.end()) e->paths.push_back(p);
  };
  addPath(norm);
  // The folder as the kernel has it: the same folder named without the
  // operator's links, which another part of the program may have.
  addPath(KernelPath(e->fd));
  // A folder held before at these paths (since removed or moved away) is
  // no longer what they name.
  for (auto& [id, other] : t.byId)
    if (other.kind == Entry::kHeld && &other != e)
      std::erase_if(other.paths, [&](const std::string& p) {
        return std::find(e->paths.begin(), e->paths.end(), p) != e->paths.end();
      });
  e->watched = e->watched || watch;
  return true;
}

bool CheckFolder(const std::string& path, FolderUse use, FolderRefusal* refusal) {
  const std::string norm = Normalize(path);
  Table& t = Table::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  Fd fd;
  return OpenForHolding(t, norm, use, &fd, refusal);
}

bool IsBelowHeldFolder(const std::string& path) {
  if (path.empty()) return false;
  Table& t = Table::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.FindHeld(Normalize(path), nullptr) != nullptr;
}

bool IsHeldFolder(const std::string& path) {
  if (path.empty()) return false;
  Table& t = Table::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  std::string rest;
  return t.FindHeld(Normalize(path), &rest) && rest.empty();
}

void StopWatching(const std::string& path) {
  const std::string top = Normalize(path);
  Table& t = Table::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (auto& [id, e] : t.byId)
    if (e.kind == Entry::kHeld)
      for (const std::string& p : e.paths)
        if (AtOrBelow(p, top)) e.watched = false;
}

std::vector<MovedFolder> MovedHeldFolders() {
  Table& t = Table::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  std::vector<MovedFolder> moved;
  for (auto& [id, e] : t.byId) {
    if (e.kind != Entry::kHeld || !e.watched || e.paths.empty()) continue;
    const std::string& shown = e.paths.front();
    struct stat byName {}, link {};
    if (::stat(shown.c_str(), &byName) == 0 && SameNode(byName, e)) continue;
    std::string now = "nothing";
    if (::lstat(shown.c_str(), &link) == 0)
      now = S_ISLNK(link.st_mode) ? "a symbolic link" : S_ISDIR(link.st_mode) ? "another folder" : "no folder";
    else if (errno != ENOENT)
      now = std::string("nothing it can reach (") + std::strerror(errno) + ")";
    moved.push_back({shown, now});
  }
  return moved;
}

void ForgetMovedHeldFolders() {
  Table& t = Table::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (auto& [id, e] : t.byId) {
    if (e.kind != Entry::kHeld || !e.watched || e.paths.empty()) continue;
    struct stat byName {};
    if (::stat(e.paths.front().c_str(), &byName) == 0 && SameNode(byName, e)) continue;
    e.paths.clear();
    e.watched = false;
  }
}

void ReleaseHeldFoldersForTesting() {
  Table& t = Table::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (auto& [id, e] : t.byId)
    if (e.fd >= 0) ::close(e.fd);
  t.byId.clear();
  t.byNode.clear();
}

FolderAndName::FolderAndName(const std::string& path) : name_(path) {
  if (path.empty()) return;
  const std::string norm = Normalize(path);
  Table& t = Table::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  std::string rest;
  Entry* held = t.FindHeld(norm, &rest);
  if (!held) return;
  held_ = true;
  if (norm == "/") {
    self_ = held->fd;
    return;
  }
  name_ = Last(norm);
  if (!rest.empty()) {
    const std::string restFolder = rest.find('/') == std::string::npos ? std::string() : Parent("/" + rest).substr(1);
    if (restFolder.empty()) at_ = held->fd;
    else owned_.Reset(OpenBelow(held->fd, restFolder, O_PATH | O_DIRECTORY));
    if (!restFolder.empty() && owned_.get() < 0) error_ = errno;
    return;
  }
  // The held folder itself; its name is in its parent, which may be held or
  // below a held folder too.
  self_ = held->fd;
  const std::string parent = Parent(norm);
  std::string parentRest;
  Entry* above = t.FindHeld(parent, &parentRest);
  if (!above) {
    at_ = AT_FDCWD;
    name_ = norm;
    return;
  }
  if (parentRest.empty()) at_ = above->fd;
  else owned_.Reset(OpenBelow(above->fd, parentRest, O_PATH | O_DIRECTORY));
  if (!parentRest.empty() && owned_.get() < 0) error_ = errno;
}

namespace {

// Whether the name of the held folder of `n` still leads to it.
bool NameLeadsToSelf(const FolderAndName& n) {
  struct stat byName {}, held {};
  return ::fstatat(n.at(), n.name(), &byName, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(n.self(), &held) == 0 &&
         byName.st_dev == held.st_dev && byName.st_ino == held.st_ino;
}

}  // namespace

int OpenAt(const std::string& path, int flags, unsigned mode) {
  FolderAndName n(path);
  if (!n.held()) return ::open(path.c_str(), flags | O_CLOEXEC, mode);
  if (n.self() >= 0) {
    if (!(flags & (O_DIRECTORY | O_PATH))) {
      errno = EISDIR;
      return -1;
    }
    return ::openat(n.self(), ".", flags | O_CLOEXEC, mode);
  }
  if (n.error() != 0) {
    errno = n.error();
    return -1;
  }
  const int fd = ::openat(n.at(), n.name(), flags | O_CLOEXEC | O_NOFOLLOW, mode);
  if (fd < 0 && errno == ENOTDIR && (flags & O_DIRECTORY)) TellLinkAsLoop(n.at(), n.name());
  return fd;
}

int OpenFolder(const std::string& path) { return OpenAt(path, O_RDONLY | O_DIRECTORY); }

int StatAt(const std::string& path, struct stat* st) {
  FolderAndName n(path);
  if (!n.held()) return ::stat(path.c_str(), st);
  if (n.self() >= 0) return ::fstat(n.self(), st);
  if (n.error() != 0) {
    errno = n.error();
    return -1;
  }
  return ::fstatat(n.at(), n.name(), st, AT_SYMLINK_NOFOLLOW);
}

int StatxAt(const std::string& path, unsigned mask, struct statx* sx) {
  FolderAndName n(path);
  if (!n.held()) return ::statx(AT_FDCWD, path.c_str(), 0, mask, sx);
  if (n.self() >= 0) return ::statx(n.self(), "", AT_EMPTY_PATH, mask, sx);
  if (n.error() != 0) {
    errno = n.error();
    return -1;
  }
  return ::statx(n.at(), n.name(), AT_SYMLINK_NOFOLLOW, mask, sx);
}

int LstatAt(const std::string& path, struct stat* st) {
  if (!IsBelowHeldFolder(path)) return ::lstat(path.c_str(), st);
  return StatAt(path, st);
}

bool ExistsAt(const std::string& path) {
  struct stat st {};
  return LstatAt(path, &st) == 0;
}

int ChangeModeAt(const std::string& path, unsigned mode) {
  if (!IsBelowHeldFolder(path)) return ::chmod(path.c_str(), mode);
  Fd fd(OpenAt(path, O_PATH));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return -1;
  if (S_ISLNK(st.st_mode)) {
    errno = ELOOP;
    return -1;
  }
  return ::chmod(DescriptorPath(fd.get()).c_str(), mode);
}

int ChangeOwnerAt(const std::string& path, uid_t owner, gid_t group) {
  if (!IsBelowHeldFolder(path)) return ::lchown(path.c_str(), owner, group);
  Fd fd(OpenAt(path, O_PATH));
  if (fd.get() < 0) return -1;
  return ::fchownat(fd.get(), "", owner, group, AT_EMPTY_PATH);
}

int MakeFolderAt(const std::string& path, unsigned mode) {
  FolderAndName n(path);
  if (!n.held()) return ::mkdir(path.c_str(), mode);
  if (n.self() >= 0) {
    errno = EEXIST;
    return -1;
  }
  if (n.error() != 0) {
    errno = n.error();
    return -1;
  }
  return ::mkdirat(n.at(), n.name(), mode);
}

int RemoveAt(const std::string& path, bool folder) {
  FolderAndName n(path);
  if (n.error() != 0) {
    errno = n.error();
    return -1;
  }
  if (n.self() >= 0 && !NameLeadsToSelf(n)) {
    errno = ENOENT;
    return -1;
  }
  return ::unlinkat(n.at(), n.name(), folder ? AT_REMOVEDIR : 0);
}

int RenameAt(const std::string& from, const std::string& to, unsigned flags) {
  FolderAndName source(from), target(to);
  if (source.error() != 0 || target.error() != 0) {
    errno = source.error() != 0 ? source.error() : target.error();
    return -1;
  }
  if (target.self() >= 0) {
    errno = EEXIST;
    return -1;
  }
  if (source.self() >= 0 && !NameLeadsToSelf(source)) {
    errno = ENOENT;
    return -1;
  }
  const int r = flags == 0 ? ::renameat(source.at(), source.name(), target.at(), target.name())
                           : ::renameat2(source.at(), source.name(), target.at(), target.name(), flags);
  if (r == 0 && source.self() >= 0) {
    // A held folder renamed by the program keeps being shown by its name.
    Table& t = Table::Get();
    std::lock_guard<std::mutex> lock(t.mutex);
    RenameHeldPaths(t, Normalize(from), Normalize(to));
  }
  return r;
}

int LinkAt(const std::string& from, const std::string& to) {
  FolderAndName source(from), target(to);
  if (source.error() != 0 || target.error() != 0) {
    errno = source.error() != 0 ? source.error() : target.error();
    return -1;
  }
  return ::linkat(source.at(), source.name(), target.at(), target.name(), 0);
}

int LinkDescriptorAt(int fd, const std::string& to) {
  FolderAndName target(to);
  if (target.error() != 0) {
    errno = target.error();
    return -1;
  }
  if (target.self() >= 0) {
    errno = EEXIST;
    return -1;
  }
  const std::string self = DescriptorPath(fd);
  if (::linkat(AT_FDCWD, self.c_str(), target.at(), target.name(), AT_SYMLINK_FOLLOW) == 0) return 0;
  const int err = errno;
  // Without /proc mounted any more, a process allowed to link by descriptor
  // still can.
  if (err == ENOENT && ::linkat(fd, "", target.at(), target.name(), AT_EMPTY_PATH) == 0) return 0;
  if (err != ENOENT) errno = err;
  return -1;
}

int CreateUniqueFileIn(const std::string& folder, const std::string& stem, const std::string& suffix, int flags,
                       unsigned mode, std::string* made) {
  Fd dir(OpenAt(folder, O_PATH | O_DIRECTORY));
  if (dir.get() < 0) return -1;
  std::string name;
  const int fd = CreateUniqueFile(dir.get(), stem, suffix, flags, mode, &name);
  if (fd >= 0 && made) *made = Join(folder, name);
  return fd;
}

int CreateUniqueFolderIn(const std::string& folder, const std::string& stem, unsigned mode, std::string* made) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *made = Join(folder, stem + RandomHexName().substr(0, 6));
    if (MakeFolderAt(*made, mode) == 0) return 0;
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

int ListNamesAt(const std::string& path, std::vector<std::string>* names) {
  const int fd = OpenFolder(path);
  if (fd < 0) return -1;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  names->clear();
  while (const dirent* e = ::readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names->emplace_back(e->d_name);
  ::closedir(dir);
  return 0;
}

int OpenRegularFile(const char* path, int flags, bool* notRegular) {
  if (notRegular) *notRegular = false;
  FolderAndName n(path);
  if (!n.held()) return OpenRegularFileAt(AT_FDCWD, path, flags, notRegular, false, path);
  if (n.self() >= 0) {
    if (notRegular) *notRegular = true;
    errno = EISDIR;
    return -1;
  }
  int fd = -1;
  if (n.error() != 0) errno = n.error();
  else fd = OpenRegularFileAt(n.at(), n.name(), flags, notRegular, true, path);
  if (fd < 0 && errno == ELOOP) {
    std::fprintf(stderr, "Not opened: \"%s\" is reached through a symbolic link, which is not followed\n", path);
    errno = ELOOP;
  }
  return fd;
}

FileAccess CheckFileAccess(const char* path) {
  bool notRegular = false;
  const int fd = OpenRegularFile(path, O_RDONLY, &notRegular);
  if (fd >= 0) {
    ::close(fd);
    return FileAccess::readable;
  }
  if (notRegular) return FileAccess::notRegular;
  if (errno == ELOOP && IsBelowHeldFolder(path)) return FileAccess::link;
  return errno == ENOENT || errno == ENOTDIR ? FileAccess::missing : FileAccess::unreadable;
}

int OpenBelowFolder(int dirFd, const std::string& rest, int flags, unsigned mode) {
  return OpenBelow(dirFd, rest, flags, mode);
}

std::string PathBelow(const std::string& folder, const std::string& path) {
  const std::filesystem::path rest =
      std::filesystem::path(path).lexically_normal().lexically_relative(std::filesystem::path(folder).lexically_normal());
  if (rest.empty() || rest == "." || *rest.begin() == "..") return {};
  return rest.string();
}

int OpenBeneath(const std::string& folder, const std::string& path, int flags) {
  const std::string rest = PathBelow(folder, path);
  if (rest.empty()) {
    errno = EXDEV;
    return -1;
  }
  Fd base(OpenAt(folder, O_PATH | O_DIRECTORY));
  return base.get() < 0 ? -1 : OpenBelow(base.get(), rest, flags);
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

std::string KernelPathAt(const std::string& path) {
  Fd fd(OpenAt(path, O_PATH));
  return fd.get() < 0 ? std::string() : KernelPath(fd.get());
}

int FolderIdOf(const std::string& path, int32_t* id, dev_t* device, std::string* realPath) {
  const std::string norm = Normalize(path);
  Table& t = Table::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  std::string rest;
  Entry* held = t.FindHeld(norm, &rest);
  Fd fd;
  if (held && rest.empty()) {
    fd.Reset(::dup(held->fd));
  } else if (held) {
    fd.Reset(OpenBelow(held->fd, rest, O_PATH | O_DIRECTORY));
  } else {
    fd.Reset(::open(norm.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  }
  if (fd.get() < 0) return -1;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return -1;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return -1;
  }
  const int64_t birth = BirthOf(fd.get());
  Entry* e = t.ByNode(st);
  // A node number given again to a new folder (another birth time) is a new
  // folder: old specifications never name it.
  if (e && e->kind != Entry::kHeld && e->birthNs != birth) {
    t.Forget(*e);
    e = nullptr;
  }
  if (!e) {
    e = &t.Add(st, birth);
    e->kind = held ? Entry::kBelow : Entry::kElsewhere;
  }
  if (e->kind != Entry::kHeld) {
    if (held) {
      e->kind = Entry::kBelow;
      e->base = held->id;
      e->rest = rest;
      e->path.clear();
    } else {
      e->kind = Entry::kElsewhere;
      e->path = KernelPath(fd.get());
    }
  }
  *id = e->id;
  if (device) *device = st.st_dev;
  if (realPath) *realPath = KernelPath(fd.get());
  return 0;
}

int PathOfFolderId(int32_t id, std::string* path) {
  Table& t = Table::Get();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.byId.find(id);
  if (it == t.byId.end()) {
    errno = ENOENT;
    return -1;
  }
  const Entry& e = it->second;
  struct stat st {};
  switch (e.kind) {
    case Entry::kHeld:
      // A held folder whose names were all let go (moved away, or its name
      // given to another folder that is held now) has no path.
      if (e.paths.empty() || ::fstat(e.fd, &st) != 0 || st.st_nlink == 0) {
        errno = ENOENT;
        return -1;
      }
      *path = e.paths.front();
      return 0;
    case Entry::kBelow: {
      auto base = t.byId.find(e.base);
      if (base == t.byId.end() || base->second.fd < 0 || base->second.paths.empty()) break;
      Fd fd(OpenBelow(base->second.fd, e.rest, O_PATH | O_DIRECTORY));
      if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !SameNode(st, e)) break;
      *path = Join(base->second.paths.front(), e.rest);
      return 0;
    }
    case Entry::kElsewhere:
      if (::stat(e.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !SameNode(st, e)) break;
      *path = e.path;
      return 0;
  }
  errno = ENOENT;
  return -1;
}

}  // namespace host
