// Creating and finding the spool folder tree.
#include "pipeline/SpoolFolders.h"

#include <sys/stat.h>

#include <string>

#include "host/base/RegularFile.h"
#include "host/files/FSSpec.h"
#include "host/files/FileManager.h"
#include "host/sys/RunningCopyLock.h"
#include "imaging/ImageLoading.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/ShellCommands.h"
#include "platform/StringLists.h"
#include "prefs/FolderAliases.h"
#include "prefs/PrefRecords.h"

namespace pipeline {

namespace {

// Creates or finds `name` in folder (vRefNum, dirID); its id, or -1.
OSErr MakeSubfolder(int16_t vRefNum, int32_t dirID, const char* name, int32_t* newID) {
  FSSpec spec;
  const OSErr err = createNewFolder(CStr255_AC(name), vRefNum, dirID, &spec);
  if (err == noErr && newID) *newID = spec.parID;
  return err;
}

// The spool-folder lock this program holds, with the device and node of the
// root it is for (renaming the root keeps them).
struct THeldSpoolLock {
  std::optional<host::RunningCopyLock> lock;
  dev_t device = 0;
  ino_t node = 0;
};
THeldSpoolLock gSpoolLock;
std::string gSpoolRefusal;

// Takes the lock of the spool root at `root` unless it is held already;
// false when another processor holds it.
bool LockSpoolRoot(const std::string& root) {
  gSpoolRefusal.clear();
  struct stat st {};
  if (root.empty() || ::stat(root.c_str(), &st) != 0) return true;  // no root, no tree: set-up fails anyway
  if (gSpoolLock.lock && gSpoolLock.device == st.st_dev && gSpoolLock.node == st.st_ino) return true;
  const std::string file = host::JoinPath(root, kSpoolLockName);
  host::RunningCopyLock lock = host::RunningCopyLock::acquire(file);
  if (lock.acquired()) {
    // The lock of a root set up before is dropped only now.
    gSpoolLock = {std::move(lock), st.st_dev, st.st_ino};
    return true;
  }
  if (lock.status() == host::RunningCopyLock::Status::AlreadyRunning) {
    gSpoolRefusal = "Another Kivo-Processor" + (lock.holder().empty() ? std::string() : " (" + lock.holder() + ")") +
                    " is already working on the spool folder \"" + root +
                    "\" (it holds \"" + kSpoolLockName +
                    "\" there): one spool folder is worked by one processor only, since two would print its jobs twice.";
    platform::LogLine(gSpoolRefusal);
    return false;
  }
  platform::LogF("The spool folder could not be locked: %s. A second processor on it would not be refused.",
                 lock.message().c_str());
  return true;
}

}  // namespace

std::string SpoolFolderRefusal() { return gSpoolRefusal; }

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
