// Creating and finding the spool folder tree.
#include "pipeline/SpoolFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/base/Fd.h"
#include "host/base/RegularFile.h"
#include "host/base/UniqueFile.h"
#include "host/files/FSSpec.h"
#include "host/files/FileManager.h"
#include "host/files/FileOps.h"
#include "host/files/HeldFolders.h"
#include "host/files/PrivateFolder.h"
#include "host/sys/Folders.h"
#include "host/sys/RunningCopyLock.h"
#include "imaging/ImageLoading.h"
#include "imaging/ImageWriters.h"
#include "pipeline/JobQueue.h"
#include "pipeline/PrintedJobs.h"
#include "pipeline/RecordLog.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/ShellCommands.h"
#include "platform/StringLists.h"
#include "prefs/FolderAliases.h"
#include "prefs/PrefRecords.h"

namespace pipeline {

namespace {

// The read limit of the record of printed jobs, for its carry-over.
constexpr size_t kMaxCarriedRecordBytes = size_t(256) << 20;

// Creates or finds `name` in folder (vRefNum, dirID); its id, or -1.
OSErr MakeSubfolder(int16_t vRefNum, int32_t dirID, const char* name, int32_t* newID) {
  FSSpec spec;
  const OSErr err = createNewFolder(CStr255_AC(name), vRefNum, dirID, &spec);
  if (err == noErr && newID) *newID = spec.parID;
  return err;
}

// The spool folder this program works: the program's folder in its root,
// held open (the record of printed jobs is reached through it), and the lock
// in it, with the device and node of the root (renaming the root keeps
// them).
struct THeldSpoolLock {
  host::Fd folder;
  std::string path;  // the folder's path (held: see HeldFolders.h)
  std::optional<host::RunningCopyLock> lock;
  dev_t device = 0;
  ino_t node = 0;
};
std::unique_ptr<THeldSpoolLock> gSpoolLock;
std::string gSpoolRefusal;

// Another folder of the program's user, closed to everyone else, holding a
// spool lock in the spool root open as `rootFd`: the program's folder,
// renamed by someone who may write in the root. Its name, or empty.
std::string RenamedProgramFolderIn(int rootFd, const std::string& ownName) {
  DIR* list = ::fdopendir(::dup(rootFd));
  if (!list) return {};
  std::string found;
  while (const dirent* e = ::readdir(list)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || name == ownName || (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN)) continue;
    host::Fd fd(::openat(rootFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {}, lock {};
    if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 &&
        ::fstatat(fd.get(), kSpoolLockName, &lock, AT_SYMLINK_NOFOLLOW) == 0) {
      found = name;
      break;
    }
  }
  ::closedir(list);
  return found;
}

// Whether the record of printed jobs in the program's folder `folderFd` is
// missing or a file of the program's user it can read; the reason when not.
std::optional<std::string> UnreadableRecord(int folderFd, const std::string& shown) {
  host::Fd fd(::openat(folderFd, kPrintedJobsRecordName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0 && errno == ENOENT) return std::nullopt;
  const int failed = errno;
  struct stat st {};
  std::string why;
  if (fd.get() < 0) why = failed == ELOOP ? "it is a symbolic link" : std::strerror(failed);
  else if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) why = "it is not a regular file";
  else if (st.st_uid != ::geteuid()) why = "it belongs to another user (user id " + std::to_string(st.st_uid) + ")";
  if (!why.empty()) return "its record of printed jobs \"" + shown + "\" cannot be read (" + why + ")";
  // A later version's record tells what printed in a form this version
  // cannot read: taking it for none would print its jobs again.
  uint8_t header[recordlog::kHeaderSize] = {};
  if (::pread(fd.get(), header, sizeof header, 0) != ssize_t(sizeof header)) return std::nullopt;
  const std::optional<uint16_t> later = recordlog::LaterVersionOf(header);
  if (!later) return std::nullopt;
  return "its record of printed jobs \"" + shown + "\" was written by a later version of Kivo-Processor (in form " +
         std::to_string(*later) + "), which this version cannot read; run that version on it, or move the record "
         "away, which sets every job waiting in \"All Files\" aside";
}

// Opens the program's folder in the spool root `root`, takes the lock in it
// and checks that nothing stands in the way of its record: the held folder,
// or null with `refusal` set.
std::unique_ptr<THeldSpoolLock> TakeSpoolLock(const std::string& root, std::string* refusal) {
  const std::string folderShown = host::JoinPath(root, imaging::kPrivateFolderName);
  const std::string lockShown = host::JoinPath(folderShown, kSpoolLockName);
  auto cannot = [&](const std::string& why) {
    *refusal = "Kivo-Processor cannot work on the spool folder \"" + root + "\": " + why +
               ". A processor works a spool folder only while it holds \"" + lockShown +
               "\", which no other user can take away: a second processor on it would print its jobs twice.";
    return nullptr;
  };
  // The root is held (checked and opened once, see HeldFolders.h): its
  // folder is reached from its descriptor, whatever its name leads to later.
  host::Fd top(host::OpenFolder(root));
  if (top.get() < 0) return cannot(std::string("it cannot be opened: ") + std::strerror(errno));
  // Renamed away, the folder of a processor working on this root would let
  // this one make a folder and a lock of its own: looked for before the
  // folder is made (so that it can be renamed back) and once the lock is
  // held (in case it was renamed in between).
  auto renamedAway = [&]() -> std::optional<std::string> {
    const std::string renamed = RenamedProgramFolderIn(top.get(), imaging::kPrivateFolderName);
    if (renamed.empty()) return std::nullopt;
    return "the program's folder there stands under another name, \"" + renamed +
           "\", and may be held by a processor working on it; once none is, rename it back to \"" +
           imaging::kPrivateFolderName + "\" (the record of what was printed from the folder is in it)";
  };
  if (auto renamed = renamedAway()) return cannot(*renamed);
  auto held = std::make_unique<THeldSpoolLock>();
  std::string why;
  held->folder.Reset(host::OpenOwnPrivateFolder(top.get(), imaging::kPrivateFolderName, false, folderShown, &why));
  if (held->folder.get() < 0) return cannot(why);
  host::RunningCopyLock lock = host::RunningCopyLock::acquireIn(held->folder.get(), kSpoolLockName, lockShown);
  if (lock.status() == host::RunningCopyLock::Status::AlreadyRunning) {
    *refusal = "Another Kivo-Processor" + (lock.holder().empty() ? std::string() : " (" + lock.holder() + ")") +
               " is already working on the spool folder \"" + root + "\" (it holds \"" + lockShown +
               "\"): one spool folder is worked by one processor only, since two would print its jobs twice.";
    return nullptr;
  }
  if (!lock.acquired()) return cannot(lock.message());
  held->lock.emplace(std::move(lock));
  if (auto renamed = renamedAway()) return cannot(*renamed);
  if (auto unreadable = UnreadableRecord(held->folder.get(), host::JoinPath(folderShown, kPrintedJobsRecordName)))
    return cannot(*unreadable);
  // Held too, so that the record and the lock are reached from it by its
  // path, whatever is renamed in the root.
  host::FolderRefusal loose;
  if (!host::HoldFolder(folderShown, host::FolderUse::kState, &loose)) return cannot(loose.Text());
  return held;
}

// Whether the folder open as `fd` and its entry `name` can be changed by no
// user but the program's own (or root).
bool OnlyOursCanChange(int fd, const char* name) {
  struct stat folder {}, file {};
  if (::fstat(fd, &folder) != 0 || ::fstatat(fd, name, &file, AT_SYMLINK_NOFOLLOW) != 0) return false;
  auto ours = [](const struct stat& st) {
    return (st.st_uid == ::geteuid() || st.st_uid == 0) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
  };
  return S_ISDIR(folder.st_mode) && S_ISREG(file.st_mode) && ours(folder) && ours(file);
}

// Whether the spool folder's record (the program's folder `folderFd`) says
// nothing: a whole log with no entry, as a start with no job makes it.
bool SaysNothing(const std::string& folderPath) {
  const std::string path = host::JoinPath(folderPath, kPrintedJobsRecordName);
  std::vector<uint8_t> bytes;
  if (host::ReadWholeFile(path, &bytes, kMaxCarriedRecordBytes) != noErr) return false;
  const recordlog::Parsed log = recordlog::Parse(bytes);
  return log.form == recordlog::Parsed::Form::kLog && log.ops.empty() && log.damage.empty() &&
         log.whole == bytes.size();
}

// An earlier version's record that was not carried over may have known what
// the jobs waiting in "All Files" printed: they are held when the record is
// opened, and it is renamed aside (when it can be) so that it holds them
// only once.
void HoldForRecordNotCarriedOver(const std::string& oldFolder, const std::string& shown, const std::string& why) {
  const std::string aside = std::string(kPrintedJobsRecordName) + ".not-carried-over-" + host::RandomHexName();
  const bool setAside = !oldFolder.empty() && host::RenameNoReplace(oldFolder + "/" + kPrintedJobsRecordName,
                                                                    oldFolder + "/" + aside) == noErr;
  const std::string kept = setAside ? host::JoinPath(std::filesystem::path(shown).parent_path().string(), aside)
                                    : shown;
  platform::LogF("The record [%s] was not carried over (%s): every job waiting in \"All Files\" is held; the record "
                 "%s [%s]",
                 shown.c_str(), why.c_str(), setAside ? "was kept as" : "stays at", kept.c_str());
  HoldWaitingJobsWhenRecordOpens("a record of printed jobs an earlier version kept was not carried over (" + why +
                                 "), so what this job printed cannot be told (that record is at [" + kept + "])");
}

// Carries a record of printed jobs that earlier versions kept for the
// application folder (in its private folder, before that in its preferences
// folder) over into the spool folder's program folder `folderFd`, when
// that has none or one that says nothing: moved where both are on one file
// system, else copied and then removed. One that other users could have
// changed, one beside a record of the spool folder that says something
// (unless it is the same: a carry-over cut short) and one that cannot be
// carried over are not: it is set aside and the jobs waiting are held
// (logged).
void CarryOverEarlierRecord(int folderFd, const std::string& folderPath) {
  const std::string target = host::JoinPath(folderPath, kPrintedJobsRecordName);
  for (const char* place : {imaging::kPrivateFolderName, imaging::kPreferencesFolderName}) {
    const std::string folder = (host::applicationFolder() / std::filesystem::u8path(place)).string();
    host::Fd old(host::OpenAt(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    struct stat st {}, oldFolder {}, newFolder {};
    if (old.get() < 0 || ::fstatat(old.get(), kPrintedJobsRecordName, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // A spool root chosen as the application folder itself shares its
    // private folder: the record is where it belongs already.
    if (::fstat(old.get(), &oldFolder) != 0 || ::fstat(folderFd, &newFolder) != 0 ||
        (oldFolder.st_dev == newFolder.st_dev && oldFolder.st_ino == newFolder.st_ino))
      continue;
    const std::string shown = host::JoinPath(folder, kPrintedJobsRecordName);
    if (!OnlyOursCanChange(old.get(), kPrintedJobsRecordName)) {
      HoldForRecordNotCarriedOver(folder, shown, "it lies where other users can change it");
      continue;
    }
    const std::string from = shown;
    std::vector<uint8_t> bytes, there;
    const bool read = host::ReadWholeFile(from, &bytes, kMaxCarriedRecordBytes) == noErr;
    if (::faccessat(folderFd, kPrintedJobsRecordName, F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
      if (read && host::ReadWholeFile(target, &there, kMaxCarriedRecordBytes) == noErr && there == bytes) {
        ::unlinkat(old.get(), kPrintedJobsRecordName, 0);
        continue;
      }
      if (!SaysNothing(folderPath) || ::unlinkat(folderFd, kPrintedJobsRecordName, 0) != 0) {
        HoldForRecordNotCarriedOver(folder, shown, "the spool folder has a record of its own");
        continue;
      }
    }
    OSErr err = host::RenameNoReplace(from, target);
    if (err != noErr && read && host::WriteFileAtomically(target, bytes.data(), bytes.size(), 0600, false) == noErr)
      err = ::unlinkat(old.get(), kPrintedJobsRecordName, 0) == 0 ? noErr : ioErr;
    if (err != noErr && ::faccessat(folderFd, kPrintedJobsRecordName, F_OK, AT_SYMLINK_NOFOLLOW) != 0) {
      HoldForRecordNotCarriedOver(folder, shown, "it could not be moved or copied into the spool folder");
      continue;
    }
    platform::LogF("The record [%s] was carried over to the spool folder's [%s]", shown.c_str(),
                   kPrintedJobsRecordName);
    return;
  }
}

// Takes the lock of the spool root at `root` unless it is held already;
// false, with the reason in SpoolFolderRefusal, when it cannot be had or
// the root is not safe to keep state in (HeldFolders.h).
bool LockSpoolRoot(const std::string& root) {
  gSpoolRefusal.clear();
  struct stat st {};
  if (root.empty() || ::stat(root.c_str(), &st) != 0) return true;  // no root, no tree: set-up fails anyway
  host::FolderRefusal loose;
  if (!host::HoldFolder(root, host::FolderUse::kState, &loose)) {
    gSpoolRefusal = "Kivo-Processor cannot start: " + loose.Text() + ".";
    platform::LogLine(gSpoolRefusal);
    return false;
  }
  if (host::StatAt(root, &st) != 0) return true;
  if (gSpoolLock && gSpoolLock->device == st.st_dev && gSpoolLock->node == st.st_ino) return true;
  std::unique_ptr<THeldSpoolLock> held = TakeSpoolLock(root, &gSpoolRefusal);
  if (!held) {
    platform::LogLine(gSpoolRefusal);
    return false;
  }
  held->device = st.st_dev;
  held->node = st.st_ino;
  const std::string privateFolder = host::JoinPath(root, imaging::kPrivateFolderName);
  platform::LogF("The spool folder's lock and record of printed jobs are in [%s], held open", privateFolder.c_str());
  CarryOverEarlierRecord(held->folder.get(), privateFolder);
  held->path = privateFolder;
  // The program's working copies, the encoder's folders and the count
  // journal live here too.
  imaging::SetPrivateFolderPath(privateFolder);
  // The lock of a root set up before is dropped only now. Its folder stays
  // open: a record path handed out for it never names another folder. Its
  // tree stays held, no longer looked after.
  if (gSpoolLock) {
    (void)gSpoolLock->folder.Release();
    host::StopWatching(host::ParentPath(gSpoolLock->path));
  }
  gSpoolLock = std::move(held);
  return true;
}

}  // namespace

std::string SpoolFolderRefusal() { return gSpoolRefusal; }

void ReleaseSpoolFolderForTesting() {
  gSpoolLock.reset();
  gSpoolRefusal.clear();
  imaging::SetPrivateFolderPath("");
  host::ReleaseHeldFoldersForTesting();
}

std::filesystem::path SpoolRecordPath() {
  if (!gSpoolLock) return {};
  return std::filesystem::path(gSpoolLock->path) / kPrintedJobsRecordName;
}

std::filesystem::path SpoolPrivateFolder() {
  if (!gSpoolLock) return {};
  return std::filesystem::path(gSpoolLock->path);
}

int32_t FindFolderByName(int16_t vRefNum, int32_t dirID, const CStr255_AC& name) {
  std::string parent;
  if (host::GetPathForDirID(vRefNum, dirID, &parent) != noErr) return -1;
  std::string diskName;
  if (host::MacNameToDiskName(name.view(), &diskName) != noErr) return -1;
  FSSpec spec;
  if (host::MakeFSSpecFromPath(host::JoinPath(parent, diskName), &spec) != noErr) return -1;
  const int32_t id = GetFolderDirID(spec);
  return id == kNoFolderDirID ? -1 : id;
}

OSErr createImageAndJobFolders() {
  tPrintServerPrefs& p = *getMyPrintServerPrefs();
  if (!IsExistingDirectory(p.rootVRefNum, p.rootDirID)) return dirNFErr;
  const auto root = KeptFolderPath(p.rootVRefNum, p.rootDirID);
  if (!root) return dirNFErr;
  struct Kept {
    const char* name;
    int32_t* dirID;
    int16_t* vRefNum;
    host::FolderUse use;
  };
  const Kept folders[] = {
      {kImagesFolderName, &p.imagesDirID, &p.imagesVRefNum, host::FolderUse::kDrop},
      {kPrintJobsFolderName, &p.jobsDirID, &p.jobsVRefNum, host::FolderUse::kDrop},
      {kFinishedJobsFolderName, &p.finishedDirID, &p.finishedVRefNum, host::FolderUse::kState},
      {kUnknownJobsFolderName, &p.unknownDirID, &p.unknownVRefNum, host::FolderUse::kState},
      {kDatabaseFolderName, &p.databaseDirID, &p.databaseVRefNum, host::FolderUse::kState},
      {kGraphicsFolderName, nullptr, nullptr, host::FolderUse::kState},
  };
  OSErr err = noErr;
  bool refused = false;
  auto hold = [&](const std::string& path, host::FolderUse use) {
    host::FolderRefusal loose;
    if (host::HoldFolder(path, use, &loose)) return true;
    const std::string why = "Kivo-Processor cannot start: " + loose.Text() + ".";
    if (gSpoolRefusal.empty()) gSpoolRefusal = why;
    platform::LogLine(why);
    refused = true;
    return false;
  };
  for (const Kept& f : folders) {
    const std::string path = host::JoinPath(root->string(), f.name);
    // The drop folders are open to stations through the sticky bit: each
    // removes or renames only what it put there.
    if (f.use == host::FolderUse::kDrop) (void)host::CreateFolder(path, 01777);
    int32_t id = -1;
    err = MakeSubfolder(p.rootVRefNum, p.rootDirID, f.name, &id);
    if (err != noErr) continue;
    if (!hold(path, f.use)) continue;
    if (f.dirID) *f.dirID = id;
    // The frame and overlay graphics are looked up in this tree's graphics
    // folder.
    if (!f.dirID) SetGraphicsFolderPath(path);
    // Picked-up jobs wait in "All Files", the program's own.
    if (f.dirID == &p.jobsDirID) {
      FSSpec made;
      if (createNewFolder(CStr255_AC(kJobFolderName), p.rootVRefNum, id, &made) == noErr)
        hold(host::JoinPath(path, kJobFolderName), host::FolderUse::kState);
    }
  }
  for (const Kept& f : folders)
    if (f.vRefNum) *f.vRefNum = p.rootVRefNum;
  // Clips are read from the shared folder too: held, never through a link.
  struct stat st {};
  if (const std::string shared = platform::SharedFolder().string();
      !shared.empty() && ::stat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    host::HoldFolder(shared, host::FolderUse::kSource, nullptr, false);
  return refused ? OSErr(permErr) : err;
}

OSErr UseChosenSpoolRoot() {
  const tPrintServerPrefs& p = *getMyPrintServerPrefs();
  const auto root = KeptFolderPath(p.rootVRefNum, p.rootDirID);
  if (!root) return dirNFErr;
  if (!LockSpoolRoot(root->string())) {
    DisplayNormalMessage(gSpoolRefusal.c_str());
    return fBsyErr;
  }
  const OSErr err = createImageAndJobFolders();
  if (err == permErr) DisplayNormalMessage(gSpoolRefusal.c_str());
  return err;
}

OSErr createImageAndJobFolders2() {
  const tPrintServerPrefs& p = *getMyPrintServerPrefs();
  if (!IsExistingDirectory(p.secondRootVRefNum, p.secondRootDirID)) return dirNFErr;
  OSErr err = noErr;
  for (const char* name : {kImagesFolderName, kPrintJobsFolderName, kFinishedJobsFolderName, kUnknownJobsFolderName,
                           kDatabaseFolderName, kGraphicsFolderName})
    err = MakeSubfolder(p.secondRootVRefNum, p.secondRootDirID, name, nullptr);
  return err;
}

bool SetUpSpoolFolderTree() {
  tPrintServerPrefs& p = *getMyPrintServerPrefs();
  // A set-up starts from what stands now: held folders that went are let go.
  host::ForgetMovedHeldFolders();
  FSSpec root = p.rootSpec.spec;
  if (validateIfAliasHandle(&root, kSpoolRootAliasID)) {
    if (!LockSpoolRoot(imaging::PathOfSpec(root))) return false;
    // The root carries its own name whatever it was renamed to.
    if (!(root.name == kSpoolRootFolderName) && host::FSpRename(root, CStr63_AC(kSpoolRootFolderName).view()) == noErr) {
      root.name = CStr63_AC(kSpoolRootFolderName);
      SaveFSSpecAsAliasHandle(root, kSpoolRootAliasID);
    }
    const int32_t id = GetFolderDirID(root);
    if (id == kNoFolderDirID) return false;
    p.rootSpec.spec = root;
    p.rootVRefNum = root.vRefNum;
    p.rootDirID = id;
    if (createImageAndJobFolders() == permErr) return false;
    OpenPrintedJobsRecord();
    return true;
  }
  if (!p.createRootIfMissing) return false;

  int16_t foundVolume = p.rootVRefNum;
  int32_t dirID = p.rootDirID;
  bool found = AttemptToFindFolder(p.rootVRefNum, dirID, p.rootSpec, foundVolume);
  if (found) {
    p.rootVRefNum = foundVolume;
    p.rootDirID = dirID;
  } else {
    int16_t vRefNum = 0;
    found = AttemptToCreateDefaultFolder(true, vRefNum, dirID, &p.rootSpec, CStr255_AC(kSpoolRootFolderName),
                                         CStr255_AC("SPOOLER FOLDER"));
    if (found) {
      p.rootVRefNum = vRefNum;
      p.rootDirID = dirID;
    }
  }
  if (!found || !IsExistingDirectory(p.rootVRefNum, p.rootDirID)) return false;
  if (auto rootPath = KeptFolderPath(p.rootVRefNum, p.rootDirID); !rootPath || !LockSpoolRoot(rootPath->string()))
    return false;
  FSSpec usual;
  if (GetFolderFSSpec(p.rootVRefNum, p.rootDirID, &usual) == noErr) {
    p.rootSpec.spec = usual;
    SaveFSSpecAsAliasHandle(usual, kSpoolRootAliasID);
  }
  if (createImageAndJobFolders() == permErr) return false;
  // A tree made again while the program runs has its record read before
  // any job is taken into it (at the start the preferences folder is not
  // known yet: start-up reads it then).
  OpenPrintedJobsRecord();
  return true;
}

std::string MovedFoldersMessage() {
  const std::vector<host::MovedFolder> moved = host::MovedHeldFolders();
  if (moved.empty()) return {};
  // A folder inside one that went is not named again.
  std::string text;
  for (const host::MovedFolder& m : moved) {
    const bool inside = std::any_of(moved.begin(), moved.end(), [&](const host::MovedFolder& o) {
      return m.path.size() > o.path.size() && m.path.compare(0, o.path.size(), o.path) == 0 &&
             m.path[o.path.size()] == '/';
    });
    if (!inside)
      text += (text.empty() ? "Printing is paused: the folder \"" : "; the folder \"") + m.path +
              "\" no longer stands at its name (" + m.now + " stands there now)";
  }
  return text + "; nothing is made in its place. Put it back, then resume printing.";
}

std::optional<std::filesystem::path> KeptFolderPath(int16_t vRefNum, int32_t dirID) {
  if (vRefNum == kNoFolderVRefNum || dirID == kNoFolderDirID || dirID == 0) return std::nullopt;
  std::string path;
  if (host::GetPathForDirID(vRefNum, dirID, &path) != noErr) return std::nullopt;
  return std::filesystem::path(path);
}

}  // namespace pipeline
