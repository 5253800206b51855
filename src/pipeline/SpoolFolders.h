// The spool folder tree: the spool root "Kivo-Processor Folder ƒ" with its
// images, print jobs, finished jobs, unknown jobs, database and graphics
// folders. Folders are created with mode 0777 less the umask: stations that
// run as other users reach them through a shared group and umask 002. The
// locations of five of them are kept in the live print-server record.
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
// print-server record and stores the five kept locations (with the root's
// volume). The result of the last folder; a folder that cannot be made is
// reported to the operator and left unset. dirNFErr, quietly, when the root
// is not there.
OSErr createImageAndJobFolders();
// Names the folders stations fill (the spool root and the folders of the
// live record, the graphics folder and the shared clip folder) to the file
// layer, so that every file read, moved or deleted below them is reached
// there without following a link (host::SetFoldersOpenedBeneath).
// createImageAndJobFolders does it.
void OpenStationFoldersBeneath();
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
// saying why, when another processor works on that spool root.
bool SetUpSpoolFolderTree();

// One processor per spool folder, whatever its application folder: two
// processors taking jobs from one "All Files" would print them twice. Each
// holds an flock on this file in the spool root from the set-up of the tree
// until it ends (the kernel drops it however the program ends); a second
// one is refused. The file is made exclusively with the bits the umask
// gives and never used through a link; it holds the holder's process id and
// machine name. When it cannot be locked at all (no rights, a share without
// locks) the program says so in its log and goes on.
inline constexpr const char kSpoolLockName[] = "Kivo-Processor.lock";
// Why the last set-up of the tree was refused: another processor holds the
// spool folder's lock. Empty when it was not refused.
std::string SpoolFolderRefusal();

// Sets the tree up again after it went missing (deleted or moved away while
// the program ran) and logs that it did: the print jobs folder, or nothing
// when the tree cannot be made.
std::optional<std::filesystem::path> MakeMissingSpoolFolderTreeAgain();

// The path of a folder kept in the record (vRefNum, dirID); nothing when
// it is not set or gone.
std::optional<std::filesystem::path> KeptFolderPath(int16_t vRefNum, int32_t dirID);

}  // namespace pipeline
