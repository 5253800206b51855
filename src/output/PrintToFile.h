// The print-to-file routes: the eight print-to-file sets (printer codes 25-28
// and 49-52) with their web copies and further sets, the single print-to-file
// folder (code 17) and its yearbook variant, and the naming they share.
//
// Every route takes over the page and disposes of it on every path. Results:
// 0 when the page is in place, 106 when the folder cannot be found, 107 when
// the main file could not be written. Pages are written by the image writers
// (the set route and its web copy into private working files, given their
// metadata there, then renamed into place never replacing a file unless the
// set overwrites), named by the program's name rules. Each file of the set
// route is recorded by a key through the job's placement hooks before and
// after its rename, and a job tried again after a kill skips the files
// already placed. Extras (web copy, further sets, metadata, video copy,
// colour profile) are only logged when they fail, so a retried job does not
// write its outputs twice.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "host/qd/GWorld.h"
#include "output/OutputJob.h"

namespace output {

// kRouteStopped: the program is ending while the route waits on a helper;
// the job is kept for the next start.
enum : int16_t { kRouteOK = 0, kRouteFolderMissing = 106, kRouteWriteFailed = 107, kRouteStopped = 111 };

inline constexpr char kSaveErrorMessage[] = "An error occured while trying to save the file!";
inline constexpr int32_t kWebSize = 640;

// Keeps the name of the photo drawn last: the extension upper-cased, the
// name cut at its first "_t", else its last " copy" (any case), else its last
// "."; also the ticket number of the upload metadata. "No File" is ignored.
void SetCurrentImageName(TOutputJob& job, const std::string& utf8Name);

// The base name for a naming type 0..8 of the record.
std::string GetNewBaseNameForPrintToFile(const TOutputJob& job, const tSpecialPrintToFilePref& record);

// The set a job goes to: its item's set, unless its web dictionary's
// "ipaddress" is in a set's client list.
int16_t ChooseSet(const TOutputJob& job, int16_t itemSet, TOutputEnv& env);

int16_t DoNewPrintToFile(TOutputJob& job, host::GWorldHandle page, TOutputEnv& env);
// One more copy in set `set`: no web copy and no further sets.
int16_t CreateAnotherCopy(TOutputJob& job, int16_t set, host::GWorldHandle page, TOutputEnv& env);
// The job's video clip copied (or merged) into `folder` when the job and
// the set ask for it. The clip is opened once, below the served folder it
// lies in without following any link, and read from that descriptor only.
// kRouteStopped when a merge was stopped because the program is ending,
// else kRouteOK (a clip that cannot be copied is only logged).
int16_t DoIfVideoCopy(const TOutputJob& job, const tSpecialPrintToFilePref& record,
                      const std::filesystem::path& folder, TOutputEnv& env);
// The program's merge: MergeVideoClip, then the result moved to
// `destination` (see TOutputEnv::mergeVideos).
OSErr MergeClipInto(int clipFd, const std::filesystem::path& destination, bool replace,
                    std::filesystem::path* placed);

int16_t Print2File(TOutputJob& job, host::GWorldHandle page, TOutputEnv& env);
int16_t DoSpecialPrintToFile(TOutputJob& job, host::GWorldHandle page, TOutputEnv& env);
// Adds the file's line (and, to a new list, the header line) to
// "Yearbook.read me" beside the file, once for the job: the list with the
// line is written privately and renamed over the old one as the job's
// output "yearbook read me", so that the record says whether the line is
// there, whenever the program was killed.
void writeLogForYearbookFile(TOutputJob& job, const std::filesystem::path& file,
                             const std::array<uint8_t, 10496>& values, const std::array<uint8_t, 10496>& titles);
// String `index` (0..40) of a yearbook record, UTF-8; empty out of range.
std::string YearbookString(const std::array<uint8_t, 10496>& record, int index);

// Copies of the original photos into the job item's set (its client list
// is not consulted): a byte copy, or for a web-format set (10) and a photo
// with an orientation tag an upright JPEG; then the upload metadata and the
// video copy. True when the copy was stored. An existing file is kept (the
// copy gets a " copy" name) unless the set overwrites; the upright JPEG
// replaces a file of its name.
bool SaveOriginalFile(TOutputJob& job, const std::filesystem::path& photo, TOutputEnv& env);
bool SaveOriginalFileWithRotation(TOutputJob& job, const std::filesystem::path& photo, TOutputEnv& env);
void SaveMetaDataToOriginalFile(const TOutputJob& job, const std::filesystem::path& path, TOutputEnv& env);

// Keyed copies: a JPEG of a chroma-keyed result kept in set 8's folder, in
// its subfolder named by the job's folder name A (the set folder itself when
// that name is empty), under CKCopyFileName of the current image name and
// the job's name suffix. The writer and the reader share that one name, so
// what one stores the other finds.
std::string CKCopyFileName(const std::string& imageName, const std::string& nameSuffix);
// The folder keyed copies go to, created when missing; nothing when set 8's
// folder does not resolve or the subfolder cannot be made.
std::optional<std::filesystem::path> CKCopyFolder(const TOutputJob& job, TOutputEnv& env);
// Writes the page there as a JPEG at 72 dpi and the writer's default
// quality; a name already taken gets a " copy" name, so no earlier copy is
// replaced. Returns 0 in every case (failures are logged); `saved` gets the
// file written, or is cleared.
int16_t SaveCKCopyInPrintToFileEightFolder(const TOutputJob& job, const host::GWorld* page, TOutputEnv& env,
                                           std::filesystem::path* saved = nullptr);
// The keyed copy of the current image, as the full-size image of its file;
// empty when there is none or it is not a readable image.
host::GWorldHandle ReadCKCopy(const TOutputJob& job, TOutputEnv& env);

}  // namespace output
