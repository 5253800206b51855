// The spool folder tree: the spool root "Kivo-Processor Folder ƒ" with its
// images, print jobs, finished jobs, unknown jobs, database and graphics
// folders. Stations write in the two drop folders ("PRINT JOBS FOLDER ƒ",
// "IMAGES FOLDER ƒ") and nowhere else: those are made with the sticky bit
// (mode 01777 less the umask; the shop gives them its group, mode 3770 or
// 3775), every other folder of the tree is the program's own (0755 less the
// umask). Each is checked as host/files/HeldFolders.h says and held open for
// the whole run. The locations of five of them are kept in the live
// print-server record.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"

struct tPrintServerPrefs;

namespace pipeline {

// Folder names (UTF-8; "ƒ" is the Mac Roman byte 0xC4 in records).
inline constexpr const char kSpoolRootFolderName[] = "Kivo-Processor Folder ƒ";
inline constexpr const char kImagesFolderName[] = "IMAGES FOLDER ƒ";
inline constexpr const char kPrintJobsFolderName[] = "PRINT JOBS FOLDER ƒ";
inline constexpr const char kFinishedJobsFolderName[] = "FINISHED JOBS FOLDER ƒ";
inline constexpr const char kUnknownJobsFolderName[] = "UNKNOWN JOBS FOLDER ƒ";
inline constexpr const char kDatabaseFolderName[] = "DATABASE FOLDER ƒ";
inline constexpr const char kGraphicsFolderName[] = "KIVO GRAPHICS FOLDER ƒ";

// Creates or finds the six subfolders under the spool root of the live
// print-server record (and "All Files" in the print jobs folder), holds each
// (HeldFolders.h) and stores the five kept locations (with the root's
// volume). The result of the last folder; a folder that cannot be made is
// reported to the operator and left unset; one whose modes are loose is
// refused (permErr, the reason in SpoolFolderRefusal). dirNFErr, quietly,
// when the root is not there.
OSErr createImageAndJobFolders();
// The spool root the operator chose in the preferences window (already in
// the live record): checked and held, its lock taken and its record carried
// on as at start-up (SetUpSpoolFolderTree), then its tree made. fBsyErr,
// with an alert saying why, when another processor works on it or its lock
// cannot be had; permErr when a folder of it is refused (alerted too). The
// spool folder worked before is let go then, not before.
OSErr UseChosenSpoolRoot();
// Creates the missing subfolders under the second spool root (when it is
// there); stores nothing.
OSErr createImageAndJobFolders2();
// The directory id of the subfolder `name` of folder (vRefNum, dirID), or -1.
int32_t FindFolderByName(int16_t vRefNum, int32_t dirID, const CStr255_AC& name);

// The start-up resolution of the spool root: through its stored alias
// (4506); when that fails and the record's createRootIfMissing is on, by its
// stored volume name and id, else by creating "Kivo-Processor Folder ƒ" in
// the application folder, storing the alias again. Then the spool root is
// locked (see kSpoolLockName) and the tree is created under it. True when
// the spool root and its tree are there; false, with SpoolFolderRefusal
// saying why, when another processor works on that spool root or its lock
// cannot be had.
bool SetUpSpoolFolderTree();

// One processor per spool folder, whatever its application folder: two
// processors taking jobs from one "All Files" would print them twice. Each
// holds an flock on this file from the set-up of the tree until it ends
// (the kernel drops it however the program ends); a second one is refused.
// The file lies in "KIVO PRIVATE FOLDER" in the spool root, a folder of the
// program's user that no other user may enter (mode 0700, made when
// missing), opened without following a link and held open: station users
// who may write in the root can neither remove nor replace the lock. A lock
// that cannot be had (the folder is a link, another user's or open to
// others; the lock is not a regular file; the file system has no locks)
// refuses the set-up as a held one does, and so does a folder of the
// program's own in the root under another name (its folder renamed, perhaps
// while held) and a record of printed jobs there that cannot be read or
// that a later version wrote (named, with what to do). The file holds the
// holder's process id and machine name.
inline constexpr const char kSpoolLockName[] = "Kivo-Processor.lock";
// The record of what was printed from the spool folder (see PrintedJobs.h),
// beside the lock: whichever processor holds the spool folder carries it
// on. A record an earlier version kept in the application folder's private
// or preferences folder is carried over into it when the spool folder has
// none (or one that says nothing); one that is not (other users could have
// changed it, or the spool folder's own says something) is renamed aside
// and every job waiting in "All Files" is held when the record is opened.
inline constexpr const char kPrintedJobsRecordName[] = "Printed Job Files";
// The record's path in the spool folder's held "KIVO PRIVATE FOLDER" (its
// real path; every use of it is made from the held folder's descriptor, see
// host/files/HeldFolders.h, whatever is renamed in the root); empty while no
// spool folder is held.
std::filesystem::path SpoolRecordPath();
// That held private folder of the spool folder, which also keeps the
// program's working files, the encoder's working folders and the count
// journal; empty while no spool folder is held.
std::filesystem::path SpoolPrivateFolder();
// Why the last set-up of the tree was refused: another processor holds the
// spool folder's lock, or it cannot be had. Empty when it was not refused.
std::string SpoolFolderRefusal();

// The operator's message when a folder the program holds no longer stands
// at its name (moved, removed, or its name given to a link or another
// folder while the program runs); empty while every one does. Nothing is
// ever made again at such a name: printing pauses until the operator puts
// the folder back (or chooses another) and resumes.
std::string MovedFoldersMessage();

// Lets go of the spool folder, its lock and every held folder (tests that
// set up one tree after another in one process).
void ReleaseSpoolFolderForTesting();

// The path of a folder kept in the record (vRefNum, dirID); nothing when
// it is not set or gone.
std::optional<std::filesystem::path> KeptFolderPath(int16_t vRefNum, int32_t dirID);

}  // namespace pipeline
