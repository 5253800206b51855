// Creating and finding the spool folder tree.
#include "pipeline/SpoolFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "host/files/PrivateFolder.h"
#include "host/sys/Folders.h"
#include "host/sys/RunningCopyLock.h"
#include "imaging/ImageLoading.h"
#include "imaging/ImageWriters.h"
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
  std::optional<host::RunningCopyLock> lock;
  dev_t device = 0;
  ino_t node = 0;
};
std::unique_ptr<THeldSpoolLock> gSpoolLock;
std::string gSpoolRefusal;

// The path through which the open folder `fd` is reached whatever is
// renamed or planted around it; empty when /proc does not show it.
std::string HeldFolderPath(int fd) {
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  struct stat byPath {}, held {};
  if (::stat(path.c_str(), &byPath) != 0 || ::fstat(fd, &held) != 0) return {};
  return byPath.st_dev == held.st_dev && byPath.st_ino == held.st_ino ? path : std::string();
}

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
  host::Fd top(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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
  if (HeldFolderPath(held->folder.get()).empty()) return cannot("its folder cannot be reached through /proc/self/fd");
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
bool SaysNothing(int folderFd) {
  const std::string path = HeldFolderPath(folderFd) + "/" + kPrintedJobsRecordName;
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
void HoldForRecordNotCarriedOver(int oldFolderFd, const std::string& shown, const std::string& why) {
  const std::string aside = std::string(kPrintedJobsRecordName) + ".not-carried-over-" + host::RandomHexName();
  const std::string oldFolder = HeldFolderPath(oldFolderFd);
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
void CarryOverEarlierRecord(int folderFd) {
  const std::string target = HeldFolderPath(folderFd) + "/" + kPrintedJobsRecordName;
  for (const char* place : {imaging::kPrivateFolderName, imaging::kPreferencesFolderName}) {
    const std::string folder = (host::applicationFolder() / std::filesystem::u8path(place)).string();
    host::Fd old(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {}, oldFolder {}, newFolder {};
    if (old.get() < 0 || ::fstatat(old.get(), kPrintedJobsRecordName, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // A spool root chosen as the application folder itself shares its
    // private folder: the record is where it belongs already.
    if (::fstat(old.get(), &oldFolder) != 0 || ::fstat(folderFd, &newFolder) != 0 ||
        (oldFolder.st_dev == newFolder.st_dev && oldFolder.st_ino == newFolder.st_ino))
      continue;
    const std::string shown = host::JoinPath(folder, kPrintedJobsRecordName);
    if (!OnlyOursCanChange(old.get(), kPrintedJobsRecordName)) {
      HoldForRecordNotCarriedOver(old.get(), shown, "it lies where other users can change it");
      continue;
    }
    const std::string oldFolderPath = HeldFolderPath(old.get());
    if (oldFolderPath.empty()) continue;
    const std::string from = oldFolderPath + "/" + kPrintedJobsRecordName;
    std::vector<uint8_t> bytes, there;
    const bool read = host::ReadWholeFile(from, &bytes, kMaxCarriedRecordBytes) == noErr;
    if (::faccessat(folderFd, kPrintedJobsRecordName, F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
      if (read && host::ReadWholeFile(target, &there, kMaxCarriedRecordBytes) == noErr && there == bytes) {
        ::unlinkat(old.get(), kPrintedJobsRecordName, 0);
        continue;
      }
      if (!SaysNothing(folderFd) || ::unlinkat(folderFd, kPrintedJobsRecordName, 0) != 0) {
        HoldForRecordNotCarriedOver(old.get(), shown, "the spool folder has a record of its own");
        continue;
      }
    }
    OSErr err = host::RenameNoReplace(from, target);
    if (err != noErr && read && host::WriteFileAtomically(target, bytes.data(), bytes.size(), 0600, false) == noErr)
      err = ::unlinkat(old.get(), kPrintedJobsRecordName, 0) == 0 ? noErr : ioErr;
    if (err != noErr && ::faccessat(folderFd, kPrintedJobsRecordName, F_OK, AT_SYMLINK_NOFOLLOW) != 0) {
      HoldForRecordNotCarriedOver(old.get(), shown, "it could not be moved or copied into the spool folder");
      continue;
    }
    platform::LogF("The record [%s] was carried over to the spool folder's [%s]", shown.c_str(),
                   kPrintedJobsRecordName);
    return;
  }
}

// Takes the lock of the spool root at `root` unless it is held already;
// false, with the reason in SpoolFolderRefusal, when it cannot be had.
bool LockSpoolRoot(const std::string& root) {
  gSpoolRefusal.clear();
  struct stat st {};
  if (root.empty() || ::stat(root.c_str(), &st) != 0) return true;  // no root, no tree: set-up fails anyway
  if (gSpoolLock && gSpoolLock->device == st.st_dev && gSpoolLock->node == st.st_ino) return true;
  std::unique_ptr<THeldSpoolLock> held = TakeSpoolLock(root, &gSpoolRefusal);
  if (!held) {
    platform::LogLine(gSpoolRefusal);
    return false;
  }
  held->device = st.st_dev;
  held->node = st.st_ino;
  // The record's lines name it by the path it is reached through.
  platform::LogF("The spool folder's lock and record of printed jobs are in [%s], reached as [%s]",
                 host::JoinPath(root, imaging::kPrivateFolderName).c_str(), HeldFolderPath(held->folder.get()).c_str());
  CarryOverEarlierRecord(held->folder.get());
  // The lock of a root set up before is dropped only now. Its folder stays
  // open: a record path handed out for it never names another folder.
  if (gSpoolLock) (void)gSpoolLock->folder.Release();
  gSpoolLock = std::move(held);
  return true;
}

}  // namespace

std::string SpoolFolderRefusal() { return gSpoolRefusal; }

std::filesystem::path SpoolRecordPath() {
  if (!gSpoolLock) return {};
  return std::filesystem::path(HeldFolderPath(gSpoolLock->folder.get())) / kPrintedJobsRecordName;
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
  struct Kept {
    const char* name;
    int32_t* dirID;
    int16_t* vRefNum;
  };
  const Kept folders[] = {
      {kImagesFolderName, &p.imagesDirID, &p.imagesVRefNum},
      {kPrintJobsFolderName, &p.jobsDirID, &p.jobsVRefNum},
      {kFinishedJobsFolderName, &p.finishedDirID, &p.finishedVRefNum},
      {kUnknownJobsFolderName, &p.unknownDirID, &p.unknownVRefNum},
      {kDatabaseFolderName, &p.databaseDirID, &p.databaseVRefNum},
      {kGraphicsFolderName, nullptr, nullptr},
  };
  OSErr err = noErr;
  for (const Kept& f : folders) {
    int32_t id = -1;
    err = MakeSubfolder(p.rootVRefNum, p.rootDirID, f.name, &id);
    if (err == noErr && f.dirID) *f.dirID = id;
    // The frame and overlay graphics are looked up in this tree's graphics
    // folder.
    if (err == noErr && !f.dirID)
      if (auto graphics = KeptFolderPath(p.rootVRefNum, id)) SetGraphicsFolderPath(graphics->string());
  }
  for (const Kept& f : folders)
    if (f.vRefNum) *f.vRefNum = p.rootVRefNum;
  OpenStationFoldersBeneath();
  return err;
}

void OpenStationFoldersBeneath() {
  const tPrintServerPrefs& p = *getMyPrintServerPrefs();
  // The spool tree first: its folders are open to the stations, so a job's
  // files in it are opened, moved and deleted below the root, with no
  // folder on the way (the images folder, "All Files") taken through a link.
  std::vector<std::string> folders;
  const std::pair<int16_t, int32_t> tree[] = {{p.rootVRefNum, p.rootDirID},
                                              {p.jobsVRefNum, p.jobsDirID},
                                              {p.imagesVRefNum, p.imagesDirID},
                                              {p.finishedVRefNum, p.finishedDirID},
                                              {p.unknownVRefNum, p.unknownDirID}};
  for (const auto& [vRefNum, dirID] : tree)
    if (auto kept = KeptFolderPath(vRefNum, dirID)) folders.push_back(kept->string());
  folders.push_back(GetGraphicsFolderPath());
  folders.push_back(platform::SharedFolder().string());
  host::SetFoldersOpenedBeneath(folders);
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
    createImageAndJobFolders();
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
  createImageAndJobFolders();
  // A tree made again while the program runs has its record read before
  // any job is taken into it (at the start the preferences folder is not
  // known yet: start-up reads it then).
  OpenPrintedJobsRecord();
  return true;
}

std::optional<std::filesystem::path> MakeMissingSpoolFolderTreeAgain() {
  if (!SetUpSpoolFolderTree()) return std::nullopt;
  const tPrintServerPrefs& p = *getMyPrintServerPrefs();
  auto jobs = KeptFolderPath(p.jobsVRefNum, p.jobsDirID);
  if (jobs)
    platform::LogF("The spool folder tree was missing and has been made again; print jobs folder = [%s]",
                   jobs->string().c_str());
  return jobs;
}

std::optional<std::filesystem::path> KeptFolderPath(int16_t vRefNum, int32_t dirID) {
  if (vRefNum == kNoFolderVRefNum || dirID == kNoFolderDirID || dirID == 0) return std::nullopt;
  std::string path;
  if (host::GetPathForDirID(vRefNum, dirID, &path) != noErr) return std::nullopt;
  return std::filesystem::path(path);
}

}  // namespace pipeline
